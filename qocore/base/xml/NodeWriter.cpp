// Writing a tree as text and to a file.
//
// The text is measured first and then written into one block of exactly
// that size, so no partial copy of a document (which may carry secrets) is
// left behind by a growing buffer.

#include <cstdio>
#include <cstring>
#include <vector>

#include "qocore/base/plat/SecretText.h"
#include "qocore/base/xml/CharEncoding.h"
#include "qocore/base/xml/ErrorCode.h"
#include "qocore/base/xml/Node.h"
#include "qocore/base/xml/NodeRecord.h"
#include "qocore/base/xml/TextBuffer.h"

namespace xml {

using detail::NodeRecord;

namespace {

// Counts the bytes that a Writer would write.
struct Counter {
  size_t n = 0;
  void put(char) { ++n; }
  void put(const char* s) { n += std::strlen(s); }
  void escaped(const char* s, int encoding) { n += detail::escapedLength(s, encoding); }
};

struct Writer {
  char* p;
  void put(char c) { *p++ = c; }
  void put(const char* s) {
    size_t len = std::strlen(s);
    std::memcpy(p, s, len);
    p += len;
  }
  void escaped(const char* s, int encoding) { p = detail::writeEscaped(p, s, encoding); }
};

// A negative level writes neither tabs nor line feeds.
template <typename Sink>
void indent(Sink& s, int level) {
  for (int i = 0; i < level; ++i) s.put('\t');
}

template <typename Sink>
void newline(Sink& s, int level) {
  if (level >= 0) s.put('\n');
}

template <typename Sink>
void writeEndTag(Sink& s, const NodeRecord* r, int level) {
  s.put("</");
  s.put(r->name);
  s.put('>');
  newline(s, level);
}

// An element whose content is being written.
struct OpenElement {
  const NodeRecord* r;
  int next;        // its next item in document order
  int level;       // of its content
  int endLevel;    // of its end tag
  bool hasEndTag;  // false for the root of a parse and for declarations
};

// Writes what comes before r's content; pushes r when content follows.
template <typename Sink>
void openRecord(Sink& s, std::vector<OpenElement>& open, const NodeRecord* r, int level, int encoding) {
  if (!r->name) {  // the root of a parse holds only content
    open.push_back({r, 0, level, level, false});
    return;
  }
  indent(s, level);
  s.put('<');
  if (r->declaration) s.put('?');
  s.put(r->name);
  for (int i = 0; i < r->attributeCount; ++i) {
    s.put(' ');
    s.put(r->attributes[i].name);
    if (r->attributes[i].value) {
      s.put("=\"");
      s.escaped(r->attributes[i].value, encoding);
      s.put('"');
    }
  }
  if (r->declaration) {
    // Whatever a declaration holds follows it at the same level, without an
    // end tag, as a top-level declaration holds the rest of its document.
    s.put("?>");
    newline(s, level);
    open.push_back({r, 0, level, level, false});
    return;
  }
  if (r->orderCount() == 0) {
    s.put(" />");
    newline(s, level);
    return;
  }
  s.put('>');
  if (r->orderCount() == 1 && r->textCount == 1) {
    s.escaped(r->texts[0], encoding);
    writeEndTag(s, r, level);
    return;
  }
  newline(s, level);
  open.push_back({r, 0, level >= 0 ? level + 1 : level, level, true});
}

// Writes a tree in document order.  The open elements are kept in a list
// of their own rather than on the call stack, so that a tree built deeper
// than any parse allows cannot exhaust the stack.
template <typename Sink>
void writeTree(Sink& s, const NodeRecord* top, int level, int encoding) {
  std::vector<OpenElement> open;
  openRecord(s, open, top, level, encoding);
  while (!open.empty()) {
    OpenElement& e = open.back();
    const NodeRecord* r = e.r;
    if (e.next == r->orderCount()) {
      if (e.hasEndTag) {
        indent(s, e.endLevel);
        writeEndTag(s, r, e.endLevel);
      }
      open.pop_back();
      continue;
    }
    const int entry = r->order[e.next++];
    const int index = entry >> 2;
    const int at = e.level;
    switch (entry & 3) {
      case kElementItem:
        openRecord(s, open, r->children[index], at, encoding);  // may move e
        break;
      case kTextItem:
        indent(s, at);
        s.escaped(r->texts[index], encoding);
        newline(s, at);
        break;
      case kClearItem: {
        const detail::ClearItem& c = r->clears[index];
        indent(s, at);
        s.put(c.open);
        s.put(c.value);
        s.put(c.close);
        newline(s, at);
        break;
      }
    }
  }
}

bool beginsWithDeclaration(const NodeRecord* r) {
  if (r->declaration) return true;
  if (r->name || r->orderCount() == 0 || (r->order[0] & 3) != kElementItem) return false;
  return r->children[r->order[0] >> 2]->declaration;
}

}  // namespace

plat::CharArray Node::createString(bool formatted) const {
  if (!d_) return plat::CharArray();
  const int level = formatted ? 0 : -1;
  const int encoding = globalOptions().encoding;
  Counter count;
  writeTree(count, d_, level, encoding);
  plat::CharArray out = plat::CharArray::zeroed(count.n + 1);
  Writer w{out.get()};
  writeTree(w, d_, level, encoding);
  *w.p = '\0';
  return out;
}

int Node::writeToFile(const char* path, bool formatted, const char* encodingName) const {
  if (!d_ || !path) return kCannotOpenForWriting;
  FILE* f = std::fopen(path, "wbe");
  if (!f) return kCannotOpenForWriting;
  const int encoding = globalOptions().encoding;
  bool ok = true;
  if (encoding == kUtf8) ok = std::fputs("\xEF\xBB\xBF", f) >= 0;
  if (ok && !beginsWithDeclaration(d_)) {
    const char* name = encoding == kUtf8       ? "utf-8"
                       : encoding == kShiftJis ? "SHIFT-JIS"
                       : encodingName          ? encodingName
                                               : "ISO-8859-1";
    ok = std::fprintf(f, "<?xml version=\"1.0\" encoding=\"%s\"?>\n", name) >= 0;
  }
  const plat::SecretText text = plat::SecretText::adopt(createString(formatted));
  const size_t len = text.length();
  if (ok && len) ok = std::fwrite(text.c_str(), 1, len, f) == len;
  if (std::fclose(f) != 0) ok = false;
  return ok ? kNoError : kCannotWrite;
}

}  // namespace xml
