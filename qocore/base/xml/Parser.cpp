#include "qocore/base/xml/Parser.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/MBuf.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/UniqueFd.h"
#include "qocore/base/xml/NodeRecord.h"

namespace xml {

using detail::NodeAccess;
using detail::NodeRecord;

namespace {

bool isSpace(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

char foldAscii(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsNoCase(const char* a, const char* b, size_t n) noexcept {
  for (size_t i = 0; i < n; ++i) {
    if (foldAscii(a[i]) != foldAscii(b[i])) return false;
  }
  return true;
}

// Bytes that end a plain text ("/" only before ">").
constexpr bool kEndsPlain[128] = {
    true,  false, false, false, false, false, false, false, false, true,  true,  false, false, true,  false, false,
    false, false, false, false, false, false, false, false, false, false, false, false, false, false, false, false,
    true,  false, false, false, false, false, false, false, false, false, false, false, false, false, false, true,
    false, false, false, false, false, false, false, false, false, false, false, false, true,  true,  true,  false,
};

enum class Tok { End, Quoted, ClearStart, DeclStart, EndTagStart, TagStart, Equals, TagClose, ShortClose, Plain };

struct Token {
  Tok type;
  const char* start;  // first byte of the token
  const char* end;    // one past its last byte
  int clear;          // the clear table entry of a ClearStart
};

struct NamedEntity {
  const char* name;  // with its ";"
  char value;
};
constexpr NamedEntity kEntities[] = {{"amp;", '&'}, {"lt;", '<'}, {"gt;", '>'}, {"quot;", '"'}, {"apos;", '\''}};

int digitValue(char c, bool hex) noexcept {
  if (hex) return plat::hexNibble(c);
  return c >= '0' && c <= '9' ? c - '0' : -1;
}

// Reads the reference whose "&" is at p, within [p, end).  Sets *code to
// the character and *after past the ";"; returns 0 or the error code.
int readEntity(const char* p, const char* end, unsigned* code, const char** after) noexcept {
  const char* q = p + 1;
  if (q < end && *q == '#') {
    ++q;
    const bool hex = q < end && (*q == 'x' || *q == 'X');
    if (hex) ++q;
    const char* digits = q;
    uint32_t v = 0;
    for (; q < end && *q != ';'; ++q) {
      int d = digitValue(*q, hex);
      if (d < 0) return kUnknownEntity;
      v = v * (hex ? 16 : 10) + static_cast<uint32_t>(d);
      if (v > 0x10FFFF) v = 0x110000;  // large enough for the verdict
    }
    if (q == end || q == digits) return kUnknownEntity;
    // Code 0 would end the NUL-terminated text.
    if (v == 0) return kUnknownEntity;
    if (v >= 256) return kCharCodeTooLarge;
    *code = v;
    *after = q + 1;
    return kNoError;
  }
  for (const NamedEntity& e : kEntities) {
    size_t len = std::strlen(e.name);
    if (static_cast<size_t>(end - q) >= len && equalsNoCase(q, e.name, len)) {
      *code = static_cast<unsigned char>(e.value);
      *after = q + len;
      return kNoError;
    }
  }
  return kUnknownEntity;
}

class Parser {
 public:
  Parser(const char* text, const Options& o, detail::Arena* arena) noexcept
      : pos_(text),
        encoding_(o.encoding),
        dropWhiteSpace_(o.dropWhiteSpace),
        removeComments_(o.removeComments),
        arena_(arena) {}

  // Parses the content of r up to its end; false when an error ended the
  // whole parse.
  bool content(NodeRecord* r, bool isRoot, int depth);

  int code() const noexcept { return code_; }
  // Where a warning was recorded.
  const char* codeAt() const noexcept { return codeAt_; }
  // Where the parse stopped: the place of its error, or where it ended.
  const char* stoppedAt() const noexcept { return failAt_ ? failAt_ : pos_; }

 private:
  enum StartTagEnd { kFailed, kComplete, kContentFollows };

  // Items of the elements being parsed, one level per open element.  They
  // are collected here, in arrays that every element at the same level
  // reuses, and each element gets arrays of its exact size once complete:
  // far fewer allocations than growing each element's own arrays.
  struct Level {
    std::vector<NodeRecord*> children;
    std::vector<char*> texts;
    std::vector<detail::ClearItem> clears;
    std::vector<int> order;
  };
  // Moves the collected items of a level into r.
  void flush(NodeRecord* r, Level& l);
  void flushAttributes(NodeRecord* r);

  // Inlined: it runs several times per element.
  [[gnu::always_inline]] inline Token next() noexcept;
  // Steps through content text up to the next "<" or the end: what the
  // tokens between two markup tokens would cover, as none of them can
  // reach past a "<" that begins a character.
  [[gnu::always_inline]] inline const char* skipText(const char* p) const noexcept;
  StartTagEnd startTag(NodeRecord* r);
  bool storeText(Level& l, const char* s, const char* e);
  void storeAttribute(bool declaration, const Token& name, char* value);
  // A decoded copy of [s, e) in the arena, or null after a failure.
  char* decode(const char* s, const char* e);
  bool fail(int code, const char* at) noexcept {
    code_ = code;
    failAt_ = at;
    return false;
  }

  const char* pos_;
  const int encoding_;
  const bool dropWhiteSpace_;
  const bool removeComments_;
  detail::Arena* const arena_;  // holds the records and all they hold
  std::deque<Level> levels_;
  size_t level_ = 0;  // the next free level
  std::vector<detail::AttributeItem> attributes_;
  int code_ = kNoError;
  const char* codeAt_ = nullptr;
  const char* failAt_ = nullptr;
  // An end tag that closed no element yet: its name in the text, and its
  // "</".
  const char* pending_ = nullptr;
  const char* pendingAt_ = nullptr;
};

inline Token Parser::next() noexcept {
  while (isSpace(*pos_)) ++pos_;
  Token t{Tok::Plain, pos_, pos_, 0};
  const char c = *pos_;
  switch (c) {
    case '\0':
      t.type = Tok::End;
      return t;
    case '\'':
    case '"': {
      const char* q = pos_ + 1;
      for (;;) {
        const auto b = static_cast<unsigned char>(*q);
        if (b >= 0x80)
          q += charLength(encoding_, q);
        else if (b == 0 || b == static_cast<unsigned char>(c) || b == '<')
          break;
        else
          ++q;
      }
      if (*q == c) {
        t.type = Tok::Quoted;
        pos_ = t.end = q + 1;
        return t;
      }
      break;  // an ordinary character of a plain text
    }
    case '<':
      for (int i = 0; i < 4 && (pos_[1] == '!' || pos_[1] == 'P'); ++i) {
        const char* open = detail::kClearTable[i].open;
        size_t len = std::strlen(open);
        if (std::strncmp(pos_, open, len) == 0) {
          t.type = Tok::ClearStart;
          t.clear = i;
          pos_ = t.end = pos_ + len;
          return t;
        }
      }
      if (pos_[1] == '?')
        t.type = Tok::DeclStart;
      else if (pos_[1] == '/')
        t.type = Tok::EndTagStart;
      else
        t.type = Tok::TagStart;
      pos_ += t.type == Tok::TagStart ? 1 : 2;
      t.end = pos_;
      return t;
    case '=':
      t.type = Tok::Equals;
      t.end = ++pos_;
      return t;
    case '>':
      t.type = Tok::TagClose;
      t.end = ++pos_;
      return t;
    case '/':
      if (pos_[1] == '>') {
        t.type = Tok::ShortClose;
        pos_ = t.end = pos_ + 2;
        return t;
      }
      break;
    default:
      break;
  }
  const char* p = pos_;
  for (;;) {
    const auto b = static_cast<unsigned char>(*p);
    if (b >= 0x80) {
      p += charLength(encoding_, p);
    } else if (kEndsPlain[b] && (b != '/' || p[1] == '>')) {
      break;
    } else {
      ++p;
    }
  }
  pos_ = t.end = p;
  return t;
}

inline const char* Parser::skipText(const char* p) const noexcept {
  // Bytes below 0x80 are characters of their own in every encoding.
  for (;;) {
    const auto b = static_cast<unsigned char>(*p);
    if (b >= 0x80)
      p += charLength(encoding_, p);
    else if (b == '<' || b == '\0')
      return p;
    else
      ++p;
  }
}

template <typename T>
T* exactCopy(detail::Arena* arena, const std::vector<T>& v) {
  if (v.empty()) return nullptr;
  T* a = static_cast<T*>(detail::arenaAlloc(arena, sizeof(T) * v.size()));
  std::memcpy(static_cast<void*>(a), v.data(), sizeof(T) * v.size());
  return a;
}

void Parser::flush(NodeRecord* r, Level& l) {
  r->children = exactCopy(arena_, l.children);
  r->childCount = r->childCap = static_cast<int>(l.children.size());
  r->texts = exactCopy(arena_, l.texts);
  r->textCount = r->textCap = static_cast<int>(l.texts.size());
  r->clears = exactCopy(arena_, l.clears);
  r->clearCount = r->clearCap = static_cast<int>(l.clears.size());
  r->order = exactCopy(arena_, l.order);
  r->orderCap = static_cast<int>(l.order.size());
  l.children.clear();
  l.texts.clear();
  l.clears.clear();
  l.order.clear();
}

void Parser::flushAttributes(NodeRecord* r) {
  r->attributes = exactCopy(arena_, attributes_);
  r->attributeCount = r->attributeCap = static_cast<int>(attributes_.size());
  attributes_.clear();
}

bool Parser::content(NodeRecord* r, bool isRoot, int depth) {
  if (level_ == levels_.size()) levels_.emplace_back();
  Level& l = levels_[level_++];
  // Whichever way this element ends, its items go into its record (which
  // the tree then owns, or frees after a failure).
  struct Done {
    Parser* p;
    NodeRecord* r;
    Level& l;
    ~Done() {
      p->flush(r, l);
      --p->level_;
    }
  } done{this, r, l};

  const char* textStart = pos_;
  for (;;) {
    pos_ = skipText(pos_);
    const Token t = next();
    switch (t.type) {
      case Tok::TagStart:
      case Tok::DeclStart: {
        if (!storeText(l, textStart, t.start)) return false;
        const Token name = next();
        if (name.type != Tok::Plain) return fail(kMissingStartTagName, name.start);
        const bool declaration = t.type == Tok::DeclStart;
        // A declaration without data ("<?pi?>") has its name end before "?>".
        const char* nameEnd = name.end;
        if (declaration && *nameEnd == '>' && nameEnd[-1] == '?' && --nameEnd == name.start) {
          return fail(kMissingStartTagName, name.start);
        }
        // A declaration directly under the root holds the rest of the text;
        // any other declaration ends at its "?>".
        const bool holdsRest = declaration && isRoot;
        const int childDepth = holdsRest ? depth : depth + 1;
        if (childDepth > kMaxDepth) return fail(kUnexpectedToken, t.start);
        NodeRecord* c =
            detail::newArenaRecord(arena_, name.start, static_cast<size_t>(nameEnd - name.start), declaration);
        c->parent = r;
        l.order.push_back(static_cast<int>(l.children.size()) * 4 + kElementItem);
        l.children.push_back(c);
        const StartTagEnd end = startTag(c);
        flushAttributes(c);
        if (end == kFailed) return false;
        if (end == kContentFollows && (!declaration || holdsRest) && !content(c, false, childDepth)) return false;
        if (pending_) {
          // The child was ended by an end tag that was not its own.
          if (isRoot) return fail(kUnmatchedEndTag, pendingAt_);
          if (detail::nameMatches(r->name, pending_)) pending_ = nullptr;
          return true;
        }
        textStart = pos_;
        break;
      }
      case Tok::EndTagStart: {
        if (!storeText(l, textStart, t.start)) return false;
        const Token name = next();
        if (name.type != Tok::Plain) return fail(kMissingEndTagName, name.start);
        const Token close = next();
        if (close.type != Tok::TagClose) return fail(kMissingEndTagName, close.start);
        if (detail::nameMatches(r->name, name.start)) return true;
        pending_ = name.start;
        pendingAt_ = t.start;
        code_ = kUnmatchedEndTagWarning;
        codeAt_ = t.start;
        return true;
      }
      case Tok::ClearStart: {
        if (!storeText(l, textStart, t.start)) return false;
        const detail::ClearMarkers& m = detail::kClearTable[t.clear];
        const char* close = m.close;
        const char* stop = nullptr;
        const char* p = pos_;
        if (t.clear == 1) {
          // DOCTYPE: its first ">" when no "<" comes before, else "]>".
          while (*p && *p != '>' && *p != '<') p += charLength(encoding_, p);
          if (*p == '>')
            stop = p;
          else
            close = detail::kDocTypeLongClose;
        }
        if (!stop) {
          const size_t len = std::strlen(close);
          while (*p && std::strncmp(p, close, len) != 0) p += charLength(encoding_, p);
          if (*p) stop = p;
        }
        if (!stop) return fail(kUnmatchedClearEnd, t.start);
        if (stop > pos_) {
          l.order.push_back(static_cast<int>(l.clears.size()) * 4 + kClearItem);
          l.clears.push_back({detail::arenaCopy(arena_, pos_, static_cast<size_t>(stop - pos_)), m.open, close});
        }
        pos_ = stop + std::strlen(close);
        textStart = pos_;
        break;
      }
      case Tok::End:
        if (!storeText(l, textStart, t.start)) return false;
        if (!isRoot && !r->declaration) {
          code_ = kUnmatchedEndTagWarning;
          codeAt_ = t.start;
        }
        return true;
      default:
        break;  // part of the text
    }
  }
}

Parser::StartTagEnd Parser::startTag(NodeRecord* r) {
  // States: 0 between attributes, 1 after a name, 2 after "=".
  int state = 0;
  Token pendingName{};
  for (;;) {
    const Token t = next();
    if (state == 1) {
      if (t.type == Tok::Equals) {
        state = 2;
        continue;
      }
      if (t.type == Tok::Plain || t.type == Tok::TagClose || t.type == Tok::ShortClose) {
        storeAttribute(r->declaration, pendingName, nullptr);
        state = 0;
      }
    }
    if (state == 0) {
      if (t.type == Tok::Plain) {
        pendingName = t;
        state = 1;
        continue;
      }
      if (t.type == Tok::TagClose) return kContentFollows;
      if (t.type == Tok::ShortClose) return kComplete;
    } else if (state == 2 && (t.type == Tok::Plain || t.type == Tok::Quoted)) {
      const char* s = t.start;
      const char* e = t.end;
      if (t.type == Tok::Quoted) {
        ++s;
        --e;
      } else if (r->declaration && e[-1] == '?') {
        --e;
      }
      char* value = decode(s, e);
      if (!value) return kFailed;
      storeAttribute(r->declaration, pendingName, value);
      state = 0;
      continue;
    }
    fail(kUnexpectedToken, t.start);
    return kFailed;
  }
}

void Parser::storeAttribute(bool declaration, const Token& name, char* value) {
  const char* e = name.end;
  if (declaration && e > name.start && e[-1] == '?') --e;
  if (e == name.start) return;  // a lone "?" before the end of a declaration
  attributes_.push_back({detail::arenaCopy(arena_, name.start, static_cast<size_t>(e - name.start)), value});
}

char* Parser::decode(const char* s, const char* e) {
  const size_t size = static_cast<size_t>(e - s) + 1;
  char* out = static_cast<char*>(detail::arenaAlloc(arena_, size));
  char* o = out;
  for (const char* p = s; p < e;) {
    // Bytes are copied as they are stepped over, characters whole.
    while (p < e) {
      const auto b = static_cast<unsigned char>(*p);
      if (b == '&') break;
      if (b < 0x80) {
        *o++ = static_cast<char>(b);
        ++p;
        continue;
      }
      // A character cut by the end of the range ends at the range's end.
      const char* next = p + charLength(encoding_, p);
      if (next > e) next = e;
      while (p < next) *o++ = *p++;
    }
    if (p == e) break;
    unsigned code = 0;
    const char* after = nullptr;
    int err = readEntity(p, e, &code, &after);
    if (err) {
      fail(err, p);
      return nullptr;
    }
    if (code < 0x80 || encoding_ != kUtf8) {
      *o++ = static_cast<char>(code);
    } else {
      *o++ = static_cast<char>(0xC0 | (code >> 6));
      *o++ = static_cast<char>(0x80 | (code & 0x3F));
    }
    p = after;
  }
  *o = '\0';
  detail::arenaTrim(arena_, out, size, static_cast<size_t>(o - out) + 1);
  return out;
}

bool Parser::storeText(Level& l, const char* s, const char* e) {
  if (dropWhiteSpace_) {
    while (s < e && isSpace(*s)) ++s;
    while (e > s && isSpace(e[-1])) --e;
  }
  if (s == e) return true;
  char* text = decode(s, e);
  if (!text) return false;
  const size_t n = l.order.size();
  if (removeComments_ && n >= 2 && (l.order[n - 1] & 3) == kClearItem && (l.order[n - 2] & 3) == kTextItem &&
      l.clears.back().open == detail::kClearTable[detail::kCommentClear].open) {
    // text, comment, text: the comment goes and the texts join.
    // (The arena keeps the blocks it gave out until the tree goes.)
    char*& earlier = l.texts[static_cast<size_t>(l.order[n - 2] >> 2)];
    l.clears.pop_back();
    l.order.pop_back();
    const size_t a = std::strlen(earlier);
    const size_t b = std::strlen(text);
    char* joined = static_cast<char*>(detail::arenaAlloc(arena_, a + b + 1));
    std::memcpy(joined, earlier, a);
    std::memcpy(joined + a, text, b + 1);
    earlier = joined;
    return true;
  }
  l.order.push_back(static_cast<int>(l.texts.size()) * 4 + kTextItem);
  l.texts.push_back(text);
  return true;
}

// Line and column of `at`, both from 1, stepping by characters.
void locate(const char* text, const char* at, int encoding, int* line, int* column) noexcept {
  int l = 1;
  int c = 1;
  for (const char* p = text; p < at && *p;) {
    if (*p == '\n') {
      ++l;
      c = 1;
      ++p;
    } else {
      ++c;
      p += charLength(encoding, p);
    }
  }
  *line = l;
  *column = c;
}

// Reads a whole file into a NUL-terminated buffer that is wiped on release.
// False when the file cannot be opened or read.
[[nodiscard]] bool readFile(const char* path, plat::MBuf<char>& buf, int* length) {
  if (!path) return false;
  const plat::UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  int len = 0;
  buf = plat::MBuf<char>(4096, true);
  for (;;) {
    if (len + 1 >= buf.count()) {
      if (buf.count() > (1 << 29)) break;  // beyond any document we parse
      buf.resize(buf.data(), len, buf.count() * 2);
    }
    ssize_t n = ::read(fd.get(), buf.data() + len, static_cast<size_t>(buf.count() - len - 1));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    len += static_cast<int>(n);
  }
  buf[len] = '\0';
  *length = len;
  return true;
}

const char* skipByteOrderMark(const char* text) noexcept {
  return std::strncmp(text, "\xEF\xBB\xBF", 3) == 0 ? text + 3 : text;
}

int utf8LeadLength(unsigned char b) noexcept {
  if (b >= 0xC0 && b <= 0xDF) return 2;
  if (b >= 0xE0 && b <= 0xEF) return 3;
  if (b >= 0xF0 && b <= 0xF4) return 4;
  return 1;
}

// The encoding named by an "encoding" attribute in the first bytes, or -1
// when there is none.
int encodingAttribute(const char* b, int length, bool utf8) noexcept {
  const int limit = length < 200 ? length : 200;
  const char* end = b + limit;
  static const char kKey[] = "encoding";
  const int keyLen = sizeof(kKey) - 1;
  for (const char* p = b; p + keyLen <= end; ++p) {
    if (!equalsNoCase(p, kKey, keyLen)) continue;
    const char* q = p + keyLen;
    while (q < end && isSpace(*q)) ++q;
    if (q >= end || *q != '=') continue;
    ++q;
    while (q < end && isSpace(*q)) ++q;
    if (q >= end || (*q != '"' && *q != '\'')) continue;
    const char quote = *q++;
    const char* name = q;
    while (q < end && *q != quote) ++q;
    if (q >= end) continue;
    const size_t n = static_cast<size_t>(q - name);
    auto is = [&](const char* s) { return std::strlen(s) == n && equalsNoCase(name, s, n); };
    if (is("utf-8") || is("utf8")) return utf8 ? kUtf8 : kEncodingUnknown;
    if (is("shiftjis") || is("shift-jis") || is("sjis")) return kShiftJis;
    if (is("gb2312")) return kGb2312;
    if (is("big5")) return kBig5;
    if (is("gbk")) return kGbk;
    return kSingleByte;
  }
  return -1;
}

}  // namespace

Node parseText(const char* text, const char* expectedTag, ParseResults* results) {
  ParseResults local;
  ParseResults& res = results ? *results : local;
  res = ParseResults{};
  if (!text) {
    res.error = kNoElements;
    return Node();
  }
  const Options& options = globalOptions();
  detail::Arena* arena = detail::newArena();
  Parser parser(text, options, arena);
  NodeRecord* root = detail::newArenaRecord(arena, nullptr, 0, false);
  parser.content(root, true, 0);

  int code = parser.code();
  const char* at = code == kUnmatchedEndTagWarning ? parser.codeAt() : parser.stoppedAt();
  if (root->childCount == 0) {
    code = kNoTagFound;
    at = parser.stoppedAt();
  }

  NodeRecord* top = root;
  if (root->childCount == 1 && root->textCount == 0 && root->clearCount == 0 && root->attributeCount == 0) {
    top = detail::takeChild(root, 0);
    detail::release(root);
  }
  Node result = NodeAccess::adopt(top);
  if (code > kNoTagFound) {
    result = Node();
  } else if (expectedTag && *expectedTag && !detail::nameMatches(top->name, expectedTag)) {
    result = result.child(expectedTag);
    if (result.isEmpty()) code = kFirstTagNotFound;
  }

  res.error = code;
  if (code != kNoError && code != kFirstTagNotFound) locate(text, at, options.encoding, &res.line, &res.column);
  return result;
}

Node parseFile(const char* path, const char* expectedTag, ParseResults* results) {
  ParseResults local;
  ParseResults& res = results ? *results : local;
  plat::MBuf<char> buf;
  int len = 0;
  if (!readFile(path, buf, &len)) {
    res = ParseResults{kFileNotFound, 0, 0};
    return Node();
  }
  if (len == 0) {
    res = ParseResults{kNoData, 0, 0};
    return Node();
  }
  return parseText(skipByteOrderMark(buf.data()), expectedTag, results);
}

Node openFile(const char* path, const char* expectedTag) {
  ParseResults res;
  Node result;
  plat::MBuf<char> buf;
  int len = 0;
  if (!readFile(path, buf, &len)) {
    res.error = kFileNotFound;
  } else if (len == 0) {
    res.error = kNoData;
  } else {
    const Options saved = globalOptions();
    const int guess = guessCharEncoding(buf.data(), len < 200 ? len : 200, true);
    setGlobalOptions(guess, saved.guessWideChars, saved.dropWhiteSpace, saved.removeComments);
    result = parseText(skipByteOrderMark(buf.data()), expectedTag, &res);
    setGlobalOptions(saved.encoding, saved.guessWideChars, saved.dropWhiteSpace, saved.removeComments);
  }
  if (res.error != kNoError) {
    const bool tagMissing = res.error == kFirstTagNotFound;
    std::fprintf(stderr, "XML Parsing error inside file '%s'.\n%s\nAt line %i, column %i.\n%s%s%s", path ? path : "",
                 errorText(res.error), res.line, res.column, tagMissing ? "First Tag should be '" : "",
                 tagMissing && expectedTag ? expectedTag : "", tagMissing ? "'.\n" : "");
    std::fflush(stderr);
    std::exit(255);
  }
  return result;
}

int guessCharEncoding(const void* buffer, int length, bool useEncodingAttribute) noexcept {
  const auto* b = static_cast<const unsigned char*>(buffer);
  if (!b || length < 25) return kEncodingUnknown;
  if (b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) return kUtf8;
  int guess = kUtf8;
  for (int i = 0; i < length && guess == kUtf8;) {
    const int n = utf8LeadLength(b[i]);
    // A sequence cut by the end of the buffer is given the benefit of the
    // doubt: callers pass the first bytes of a longer file.
    for (int k = 1; k < n && i + k < length; ++k) {
      if (b[i + k] < 0x80 || b[i + k] > 0xBF) {
        guess = kSingleByte;
        break;
      }
    }
    i += n;
  }
  if (useEncodingAttribute) {
    int named = encodingAttribute(reinterpret_cast<const char*>(b), length, guess == kUtf8);
    if (named >= 0) return named;
  }
  return guess;
}

}  // namespace xml
