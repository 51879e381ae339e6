// Writing a tree as text and to a file.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/SecretText.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/xml/CharEncoding.h"
#include "qocore/base/xml/ErrorCode.h"
#include "qocore/base/xml/Node.h"
#include "qocore/base/xml/NodeRecord.h"
#include "qocore/base/xml/TextBuffer.h"

namespace xml {

using detail::NodeRecord;

namespace {

// Writes into one block that doubles as it fills, in a single walk of the
// tree.  A document may carry secrets, so each block left behind is wiped
// before it is freed, and so is the whole block when the writer gives up
// without handing it over.
class Writer {
 public:
  explicit Writer(int encoding) noexcept : kinds_(detail::escapeKinds(encoding)) {}
  ~Writer() { drop(); }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  void put(char c) {
    room(1);
    *p_++ = c;
  }
  void put(const char* s) {
    const size_t len = std::strlen(s);
    room(len);
    detail::copyBytes(p_, s, len);
    p_ += len;
  }
  void repeat(char c, int count) {
    if (count <= 0) return;
    room(static_cast<size_t>(count));
    std::memset(p_, c, static_cast<size_t>(count));
    p_ += count;
  }
  // Copies the runs between characters with an entity whole.
  void escaped(const char* s) {
    for (;;) {
      const char* e = detail::plainRunEnd(s, kinds_);
      const size_t len = static_cast<size_t>(e - s);
      room(len + detail::kEntityRoom);
      detail::copyBytes(p_, s, len);
      p_ += len;
      if (!*e) return;
      p_ = detail::putEntity(p_, *e);
      s = e + 1;
    }
  }

  // The text written, NUL-terminated; the writer is left empty.
  plat::CharArray take() {
    room(1);
    *p_ = '\0';
    char* block = begin_;
    begin_ = p_ = end_ = nullptr;
    return plat::CharArray::adopt(block);
  }

 private:
  void room(size_t n) {
    if (static_cast<size_t>(end_ - p_) < n) grow(n);
  }

  void grow(size_t n) {
    const size_t used = static_cast<size_t>(p_ - begin_);
    const size_t cap = static_cast<size_t>(end_ - begin_);
    PLAT_ASSERT_TEXT(n <= SIZE_MAX / 2 - used, "text too long to write");
    size_t newCap = cap ? cap * 2 : kFirstBlock;
    if (newCap < used + n) newCap = used + n;
    char* block = new char[newCap];
    if (used) std::memcpy(block, begin_, used);
    drop();
    begin_ = block;
    p_ = block + used;
    end_ = block + newCap;
  }

  void drop() noexcept {
    if (!begin_) return;
    plat::secureZero(begin_, static_cast<size_t>(p_ - begin_));
    delete[] begin_;
    begin_ = p_ = end_ = nullptr;
  }

  static constexpr size_t kFirstBlock = 4096;

  const unsigned char* kinds_;
  char* begin_ = nullptr;
  char* p_ = nullptr;
  char* end_ = nullptr;
};

// A negative level writes neither tabs nor line feeds.
void indent(Writer& s, int level) { s.repeat('\t', level); }

void newline(Writer& s, int level) {
  if (level >= 0) s.put('\n');
}

void writeEndTag(Writer& s, const NodeRecord* r, int level) {
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
void openRecord(Writer& s, std::vector<OpenElement>& open, const NodeRecord* r, int level) {
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
      s.escaped(r->attributes[i].value);
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
    s.escaped(r->texts[0]);
    writeEndTag(s, r, level);
    return;
  }
  newline(s, level);
  open.push_back({r, 0, level >= 0 ? level + 1 : level, level, true});
}

// Writes a tree in document order.  The open elements are kept in a list
// of their own rather than on the call stack, so that a tree built deeper
// than any parse allows cannot exhaust the stack.
void writeTree(Writer& s, const NodeRecord* top, int level) {
  std::vector<OpenElement> open;
  openRecord(s, open, top, level);
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
        openRecord(s, open, r->children[index], at);  // may move e
        break;
      case kTextItem:
        indent(s, at);
        s.escaped(r->texts[index]);
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
  Writer w(globalOptions().encoding);
  writeTree(w, d_, formatted ? 0 : -1);
  return w.take();
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
