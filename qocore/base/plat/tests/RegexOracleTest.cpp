// Differential test: random patterns of the supported syntax, run here and
// by JavaScript's RegExp (regex_oracle.js under node), must find the same
// matches, groups, whole-text matches and replacements.
//
// The pattern JavaScript runs is written for its "u" mode, so that both
// engines step through code points.  The known differences are modelled in
// what JavaScript is given, never skipped:
// - case folding here covers ASCII letters only: with flag i, cases whose
//   texts or pattern hold anything but ASCII run in JavaScript without "i",
//   each ASCII letter spelt out in both cases; the others use its "i";
// - \s here includes U+180E: JavaScript gets it added to \s and removed
//   from \S;
// - "$" followed by digits here reads all of them as one group number:
//   JavaScript gets the two-digit form of an existing group and "$$"
//   before digits that name none;
// - an optional atom here is the alternation of the atom and nothing, so
//   one that matches empty keeps its captures, where JavaScript rejects an
//   empty pass of "?": JavaScript gets that alternation.
// Two cases are kept away rather than modelled:
// - "*" and "+" on an atom that can match empty: the machine keeps one
//   thread per instruction and position, so a pass that comes back to an
//   instruction at the position where an earlier pass saw it ends there,
//   while JavaScript's backtracking checks only that a pass is not empty;
//   the two then prefer different passes, which no JavaScript pattern
//   spells, so loops are only put on atoms that cannot match empty;
// - a quirk of the oracle: when scanning in "u" mode, V8 tries the position
//   between the two halves of a surrogate pair, where \B holds, so texts
//   for patterns with \B stay in the BMP.

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Regex.h"

extern char** environ;

namespace plat {
namespace {

constexpr int kCases = 1500;
constexpr uint32_t kS = Regex::kDotAll;
constexpr uint32_t kM = Regex::kMultiLine;
constexpr uint32_t kI = Regex::kIgnoreCase;
constexpr int kTextsPerCase = 4;

class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint32_t next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return static_cast<uint32_t>((state_ * 0x2545F4914F6CDD1Dull) >> 32);
  }
  int below(int n) { return static_cast<int>(next() % static_cast<uint32_t>(n)); }
  bool percent(int p) { return below(100) < p; }
  template <typename T>
  const T& pick(const std::vector<T>& v) {
    return v[below(static_cast<int>(v.size()))];
  }

 private:
  uint64_t state_;
};

void appendUtf8(std::string& s, int32_t c) {
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (c >> 18));
    s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string hex4(int32_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(v));
  return buf;
}

bool isAsciiLetter(int32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Characters texts and patterns are made of: mostly a few ASCII letters so
// that patterns find something, then the ones each rule is about.
const std::vector<int32_t> kAsciiChars = {'a', 'a', 'a', 'b', 'b',  'c', 'A', 'B', 'x',
                                          '1', '_', ' ', '-', '\n', '.', '/', '$'};
const std::vector<int32_t> kOtherChars = {0xE9, 0xC9, 0x17F, 0x212A, 0x2028, 0x180E, 0xA0, 0x1F600, '\r', 0x3000};

// One generated case: the pattern in both spellings, and what goes with it.
struct Case {
  std::string pattern;  // for this engine
  uint32_t flags = 0;
  std::string jsPattern;  // for JavaScript
  std::string jsFlags;
  std::vector<std::string> texts;
  std::string replacement;
  std::string jsReplacement;
};

class Generator {
 public:
  explicit Generator(Rng& rng) : rng_(rng) {}

  Case make() {
    Case c;
    groups_ = 0;
    notBoundary_ = false;
    c.flags = (rng_.percent(30) ? kI : 0) | (rng_.percent(25) ? kM : 0) | (rng_.percent(25) ? kS : 0);
    // With i, either everything is ASCII and JavaScript folds by itself, or
    // its pattern spells out the ASCII folding.
    ascii_ = (c.flags & Regex::kIgnoreCase) && rng_.percent(50);
    foldHere_ = (c.flags & Regex::kIgnoreCase) && !ascii_;
    Piece p = alternation(0);
    c.pattern = p.engine;
    c.jsPattern = p.js;
    c.jsFlags = std::string(c.flags & Regex::kIgnoreCase && ascii_ ? "i" : "") +
                (c.flags & Regex::kMultiLine ? "m" : "") + (c.flags & Regex::kDotAll ? "s" : "") + "u";
    for (int i = 0; i < kTextsPerCase; ++i) c.texts.push_back(text());
    replacement(c);
    return c;
  }

 private:
  struct Piece {
    std::string engine, js;
    bool nullable = false;  // can match the empty text
    void add(const Piece& o) {
      engine += o.engine;
      js += o.js;
    }
  };

  int32_t character() {
    if (ascii_ || rng_.percent(80)) return rng_.pick(kAsciiChars);
    return rng_.pick(kOtherChars);
  }

  int32_t textCharacter() {
    for (;;) {
      int32_t c = character();
      if (!(notBoundary_ && c > 0xFFFF)) return c;
    }
  }

  std::string text() {
    std::string s;
    for (int n = rng_.below(10); n > 0; --n) appendUtf8(s, textCharacter());
    return s;
  }

  // A character as it may be written in a pattern; `inClass` escapes what
  // a class treats specially.
  std::string spell(int32_t c, bool inClass) {
    const std::string special = inClass ? "\\]^-[" : "^$\\.*+?()[]{}|/";
    if (c < 0x80 && special.find(static_cast<char>(c)) != std::string::npos)
      return std::string("\\") + static_cast<char>(c);
    switch (rng_.below(6)) {
      case 0:
        if (c < 0x100) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(c));
          return buf;
        }
        break;
      case 1:
        if (c < 0x10000) return "\\u" + hex4(c);
        return "\\u" + hex4(0xD800 + ((c - 0x10000) >> 10)) + "\\u" + hex4(0xDC00 + ((c - 0x10000) & 0x3FF));
      case 2:
        if (c == '\n') return rng_.percent(50) ? "\\n" : "\\cJ";
        if (c == '\r') return "\\r";
        break;
      default:
        break;
    }
    std::string s;
    appendUtf8(s, c);
    return s;
  }

  Piece literal() {
    const int32_t c = character();
    Piece p;
    p.engine = spell(c, false);
    p.js = foldHere_ && isAsciiLetter(c) ? std::string("[") + static_cast<char>(c) + static_cast<char>(c ^ 0x20) + "]"
                                         : p.engine;
    return p;
  }

  // The ranges this engine's \S covers, for JavaScript classes.
  static std::string jsNotSpaceRanges() {
    return "\\u{0}-\\u{8}\\u{E}-\\u{1F}\\u{21}-\\u{9F}\\u{A1}-\\u{167F}\\u{1681}-\\u{180D}\\u{180F}-\\u{1FFF}"
           "\\u{200B}-\\u{2027}\\u{202A}-\\u{202E}\\u{2030}-\\u{205E}\\u{2060}-\\u{2FFF}\\u{3001}-\\u{FEFE}"
           "\\u{FF00}-\\u{10FFFF}";
  }

  Piece classEscape(bool inClass) {
    const char e = "dDwWsS"[rng_.below(6)];
    Piece p;
    p.engine = std::string("\\") + e;
    if (e == 's')
      p.js = inClass ? "\\s\\u180E" : "[\\s\\u180E]";
    else if (e == 'S')
      p.js = inClass ? jsNotSpaceRanges() : "[^\\s\\u180E]";
    else
      p.js = p.engine;
    return p;
  }

  // The other-case letters of [lo, hi] as JavaScript class ranges.
  static std::string foldedRanges(int32_t lo, int32_t hi) {
    std::string s;
    auto add = [&](int32_t from, int32_t to, int32_t shift) {
      int32_t a = std::max(lo, from), b = std::min(hi, to);
      if (a <= b) s += "\\u{" + hex4(a + shift) + "}-\\u{" + hex4(b + shift) + "}";
    };
    add('A', 'Z', 32);
    add('a', 'z', -32);
    return s;
  }

  Piece characterClass() {
    Piece p;
    const bool negated = rng_.percent(30);
    p.engine = negated ? "[^" : "[";
    p.js = p.engine;
    for (int n = rng_.below(4); n > 0; --n) {
      switch (rng_.below(3)) {
        case 0: {
          p.add(classEscape(true));
          break;
        }
        case 1: {
          static const std::vector<std::pair<int32_t, int32_t>> ranges = {
              {'a', 'c'}, {'A', 'Z'}, {'0', '9'}, {'X', 'c'}, {0xE0, 0x17F}, {0x2000, 0x3000}, {'a', 'z'}, {' ', '/'}};
          auto [lo, hi] = rng_.pick(ranges);
          if (ascii_ && hi >= 0x80) break;
          std::string range = spell(lo, true) + "-" + spell(hi, true);
          p.engine += range;
          p.js += range + (foldHere_ ? foldedRanges(lo, hi) : "");
          break;
        }
        default: {
          int32_t c = character();
          std::string one = spell(c, true);
          p.engine += one;
          p.js += one + (foldHere_ ? foldedRanges(c, c) : "");
          break;
        }
      }
    }
    p.engine += "]";
    p.js += "]";
    return p;
  }

  Piece atom(int depth) {
    int kind = rng_.below(10);
    if (kind < 5) return literal();
    if (kind == 5) return Piece{".", "."};
    if (kind == 6) return characterClass();
    if (kind == 7) return classEscape(false);
    if (depth >= 3 || groups_ >= 9) return literal();
    const bool capturing = rng_.percent(70);
    if (capturing) ++groups_;
    Piece p{capturing ? "(" : "(?:", capturing ? "(" : "(?:"};
    Piece body = alternation(depth + 1);
    p.add(body);
    p.add(Piece{")", ")"});
    p.nullable = body.nullable;
    return p;
  }

  Piece sequence(int depth) {
    Piece p;
    p.nullable = true;
    for (int n = rng_.below(depth == 0 ? 5 : 4); n > 0; --n) {
      if (rng_.percent(12)) {
        static const std::vector<std::string> anchors = {"^", "$", "\\b", "\\B"};
        const std::string& a = rng_.pick(anchors);
        if (a == "\\B") notBoundary_ = true;
        p.add(Piece{a, a});
        continue;
      }
      Piece a = atom(depth);
      if (rng_.percent(35)) {
        // Loops go on atoms that cannot match empty only (see above).
        const char q = a.nullable ? '?' : "*+?"[rng_.below(3)];
        const bool lazy = rng_.percent(30);
        a.engine += q;
        if (lazy) a.engine += '?';
        if (q == '?')
          a.js = lazy ? "(?:|" + a.js + ")" : "(?:" + a.js + "|)";
        else
          a.js += std::string(1, q) + (lazy ? "?" : "");
        if (q != '+') a.nullable = true;
      }
      p.add(a);
      p.nullable = p.nullable && a.nullable;
    }
    return p;
  }

  Piece alternation(int depth) {
    Piece p = sequence(depth);
    while (rng_.percent(25)) {
      p.add(Piece{"|", "|"});
      Piece next = sequence(depth);
      p.add(next);
      p.nullable = p.nullable || next.nullable;
    }
    return p;
  }

  void replacement(Case& c) {
    for (int n = rng_.below(5); n > 0; --n) {
      switch (rng_.below(8)) {
        case 0:
          c.replacement += "-";
          c.jsReplacement += "-";
          break;
        case 1: {
          static const std::vector<std::string> refs = {"$$", "$&", "$`", "$'"};
          const std::string& r = rng_.pick(refs);
          c.replacement += r;
          c.jsReplacement += r;
          break;
        }
        case 2:
          c.replacement += "$x";
          c.jsReplacement += "$$x";
          break;
        default: {
          int n = rng_.below(groups_ + 2);
          std::string digits = (rng_.percent(15) ? "0" : "") + std::to_string(n) + (rng_.percent(15) ? "0" : "");
          const int value = std::stoi(digits);
          c.replacement += "$" + digits;
          if (value > 0 && value <= groups_)
            c.jsReplacement += (value < 10 ? "$0" : "$") + std::to_string(value);
          else
            c.jsReplacement += "$$" + digits;
          break;
        }
      }
    }
    if (rng_.percent(10)) {
      c.replacement += "$";
      c.jsReplacement += "$$";
    }
  }

  Rng& rng_;
  int groups_ = 0;
  bool ascii_ = false;
  bool foldHere_ = false;
  bool notBoundary_ = false;
};

std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char b : s) {
    if (b == '"' || b == '\\') {
      out += '\\';
      out += static_cast<char>(b);
    } else if (b < 0x20) {
      out += "\\u00" + hex4(b).substr(2);
    } else {
      out += static_cast<char>(b);
    }
  }
  return out + "\"";
}

std::string toHex(const std::string& s) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : s) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

// This engine's answer for one text, in the oracle's line format.
std::string answer(const Case& c, const std::string& text) {
  try {
    Regex re(c.pattern.c_str(), c.flags);
    const int n = re.groupCount();
    std::vector<const char*> starts(n), ends(n);
    const char* end = nullptr;
    const char* start = re.find(text.c_str(), &end, starts.data(), ends.data(), n);
    std::string find = "none";
    auto span = [&](const char* a, const char* b) {
      return a ? std::to_string(a - text.c_str()) + "," + std::to_string(b - text.c_str()) : std::string("-");
    };
    if (start) {
      find = span(start, end);
      for (int i = 0; i < n; ++i) find += " " + span(starts[i], ends[i]);
    }
    DString all, first;
    re.replaceAll(text.c_str(), c.replacement.c_str(), all);
    re.replaceFirst(text.c_str(), c.replacement.c_str(), first);
    return find + " | " + (re.matches(text.c_str()) ? "1" : "0") + " | " + toHex(all.c_str()) + " | " +
           toHex(first.c_str());
  } catch (const Exception& e) {
    return std::string("error: ") + e.str();
  }
}

std::string oracleScript() {
  // CTest runs the tests in their source folder and names the data folder
  // beside the script.
  std::string candidates[2] = {"regex_oracle.js", ""};
  if (const char* data = std::getenv("YARL_TEST_DATA")) {
    std::string dir = data;
    candidates[1] = dir.substr(0, dir.find_last_of('/') + 1) + "regex_oracle.js";
  }
  for (const std::string& path : candidates)
    if (!path.empty() && access(path.c_str(), R_OK) == 0) return path;
  return "";
}

// Runs node on the script; its exit status, or -1 when it could not start.
int runNode(const std::string& script, const std::string& in, const std::string& out) {
  std::vector<std::string> args = {"node", script, in, out};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, "node", nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(RegexOracle, AgreesWithJavaScript) {
  const std::string script = oracleScript();
  ASSERT_FALSE(script.empty()) << "regex_oracle.js not found (run from the tests folder or set YARL_TEST_DATA)";

  Rng rng(0x5eed1234abcdULL);
  Generator gen(rng);
  std::vector<Case> cases;
  for (int i = 0; i < kCases; ++i) cases.push_back(gen.make());

  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/regex-oracle-XXXXXX";
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  const std::string in = dir + "/cases.jsonl", out = dir + "/answers.txt";
  {
    std::ofstream f(in);
    for (const Case& c : cases) {
      f << "{\"p\":" << jsonString(c.jsPattern) << ",\"f\":" << jsonString(c.jsFlags) << ",\"t\":[";
      for (size_t i = 0; i < c.texts.size(); ++i) f << (i ? "," : "") << jsonString(c.texts[i]);
      f << "],\"r\":" << jsonString(c.jsReplacement) << "}\n";
    }
  }
  const int status = runNode(script, in, out);
  std::vector<std::string> expected;
  {
    std::ifstream f(out);
    for (std::string line; std::getline(f, line);) expected.push_back(line);
  }
  std::remove(in.c_str());
  std::remove(out.c_str());
  rmdir(dir.c_str());
  ASSERT_EQ(status, 0) << "node failed or is missing (scripts/deps.sh installs it)";
  ASSERT_EQ(expected.size(), cases.size() * kTextsPerCase);

  int mismatches = 0;
  size_t line = 0;
  for (const Case& c : cases) {
    for (const std::string& text : c.texts) {
      const std::string mine = answer(c, text);
      if (mine != expected[line] && ++mismatches <= 20) {
        ADD_FAILURE() << "pattern " << jsonString(c.pattern) << " flags " << c.flags << " (JavaScript "
                      << jsonString(c.jsPattern) << " /" << c.jsFlags << ")\n  text " << jsonString(text)
                      << " replacement " << jsonString(c.replacement) << "\n  here:       " << mine
                      << "\n  JavaScript: " << expected[line];
      }
      ++line;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace plat
