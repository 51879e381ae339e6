'use strict';
// Answers for the regular-expression differential test, from JavaScript's
// own RegExp.
//
//   node regex_oracle.js <cases.jsonl> <answers.txt>
//
// Each input line is {"p": pattern, "f": flags, "t": [texts], "r": template}.
// For every text, one output line:
//   <find> | <whole> | <replace all> | <replace first>
// where <find> is "none" or the byte offsets "start,end" of the match and of
// each group ("-" for a group that took no part), <whole> is 1 when the
// whole text matches, and the replacement results are UTF-8 in hex.  A
// pattern JavaScript refuses gives "error: <message>" for each text.

const fs = require('fs');

const [input, output] = process.argv.slice(2);
const bytes = (s) => Buffer.byteLength(s, 'utf8');
const hex = (s) => Buffer.from(s, 'utf8').toString('hex');

const answers = [];
for (const line of fs.readFileSync(input, 'utf8').split('\n')) {
  if (!line) continue;
  const c = JSON.parse(line);
  let first, whole, all;
  try {
    first = new RegExp(c.p, c.f + 'd');
    whole = new RegExp('(?:' + c.p + ')(?![^])', c.f + 'y');
    all = new RegExp(c.p, c.f + 'g');
  } catch (e) {
    for (let i = 0; i < c.t.length; ++i) answers.push('error: ' + e.message);
    continue;
  }
  for (const t of c.t) {
    const m = first.exec(t);
    const find = m ? m.indices.map((ix) => (ix ? `${bytes(t.slice(0, ix[0]))},${bytes(t.slice(0, ix[1]))}` : '-')).join(' ') : 'none';
    whole.lastIndex = 0;
    answers.push(`${find} | ${whole.test(t) ? 1 : 0} | ${hex(t.replace(all, c.r))} | ${hex(t.replace(first, c.r))}`);
  }
}
fs.writeFileSync(output, answers.join('\n') + '\n');
