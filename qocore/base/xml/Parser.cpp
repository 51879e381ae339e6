#include "qocore/base/xml/Parser.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// Bytes that go on a plain text and stand for themselves: below 0x80 and
// none of white space, "<", "=", ">", "/", the quotes and the end.  The
// usual names consist of them alone, which the quick paths below rely on.
struct NameBytes {
  bool of[256];
};
constexpr NameBytes makeNameBytes() {
  NameBytes t{};
  for (int b = 1; b < 0x80; ++b) t.of[b] = !kEndsPlain[b] && b != '"' && b != '\'';
  return t;
}
constexpr NameBytes kNameBytes = makeNameBytes();

// Bytes that go on a quoted text and stand for themselves: below 0x80 and
// none of the end, "<", "&" and the quotes.
struct QuotedBytes {
  bool of[256];
};
constexpr QuotedBytes makeQuotedBytes() {
  QuotedBytes t{};
  for (int b = 1; b < 0x80; ++b) t.of[b] = b != '<' && b != '&' && b != '"' && b != '\'';
  return t;
}
constexpr QuotedBytes kQuotedBytes = makeQuotedBytes();

enum class Tok { End, Quoted, ClearStart, DeclStart, EndTagStart, TagStart, Equals, TagClose, ShortClose, Plain };

struct Token {
  Tok type;
  const char* start;  // first byte of the token
  const char* end;    // one past its last byte
  int clear;          // the clear table entry of a ClearStart
  bool entities;      // a Quoted one holds an "&" that may begin an entity
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
  // The usual spellings first: an exact match can be no other entity.
  if (end - q >= 4 && std::memcmp(q, "amp;", 4) == 0) {
    *code = '&';
    *after = q + 4;
    return kNoError;
  }
  if (end - q >= 3 && (std::memcmp(q, "lt;", 3) == 0 || std::memcmp(q, "gt;", 3) == 0)) {
    *code = *q == 'l' ? '<' : '>';
    *after = q + 3;
    return kNoError;
  }
  const char first = q < end ? foldAscii(*q) : '\0';
  for (const NamedEntity& e : kEntities) {
    if (e.name[0] != first) continue;
    size_t len = std::strlen(e.name);
    if (static_cast<size_t>(end - q) >= len && equalsNoCase(q, e.name, len)) {
      *code = static_cast<unsigned char>(e.value);
      *after = q + len;
      return kNoError;
    }
  }
  return kUnknownEntity;
}

// What a scan of content text does with each byte.
enum TextClass : unsigned char {
  kTextPlain,   // a character of its own, copied as it is
  kTextStop,    // "<" or the end
  kTextEntity,  // "&"
  kTextWide,    // the lead byte of a character of the encoding's table
};
struct TextClasses {
  TextClass of[256];
};
constexpr TextClasses makeTextClasses() {
  TextClasses t{};
  for (int b = 0; b < 256; ++b) t.of[b] = b >= 0x80 ? kTextWide : kTextPlain;
  t.of[0] = kTextStop;
  t.of[static_cast<unsigned char>('<')] = kTextStop;
  t.of[static_cast<unsigned char>('&')] = kTextEntity;
  return t;
}
constexpr TextClasses kTextClasses = makeTextClasses();

// Whether eight bytes read as one word hold only bytes below 0x80 other
// than "&".
constexpr uint64_t kOnes = 0x0101010101010101;
constexpr uint64_t kHighBits = 0x8080808080808080;
inline bool plainBytes(uint64_t w) noexcept {
  const uint64_t amp = w ^ (kOnes * '&');  // a zero byte where "&" was
  return ((w | ((amp - kOnes) & ~amp)) & kHighBits) == 0;
}

// Items of one kind per element: the order array holds index * 4 + kind in
// an int.
constexpr size_t kMaxItems = static_cast<size_t>(INT32_MAX) / 4;

// A stack of plain items that an element's parse pushes and its end takes
// back down in one step.
template <typename T>
class ItemStack {
 public:
  ItemStack() noexcept = default;
  ~ItemStack() { std::free(data_); }
  ItemStack(const ItemStack&) = delete;
  ItemStack& operator=(const ItemStack&) = delete;

  size_t size() const noexcept { return size_; }
  const T* data() const noexcept { return data_; }
  T& operator[](size_t i) noexcept { return data_[i]; }
  T& back() noexcept { return data_[size_ - 1]; }
  void push_back(const T& item) {
    if (size_ == cap_) grow();
    data_[size_++] = item;
  }
  void pop_back() noexcept { --size_; }
  // Only ever shrinks.
  void resize(size_t n) noexcept { size_ = n; }

 private:
  void grow() {
    const size_t cap = cap_ ? cap_ * 2 : 64;
    // A size beyond any block fails as any other allocation.
    data_ = static_cast<T*>(detail::reallocOrDie(data_, cap > SIZE_MAX / sizeof(T) ? SIZE_MAX : cap * sizeof(T)));
    cap_ = cap;
  }

  T* data_ = nullptr;
  size_t size_ = 0;
  size_t cap_ = 0;
};

class Parser {
 public:
  Parser(const char* text, const Options& o, detail::Arena* arena) noexcept
      : pos_(text),
        encoding_(o.encoding),
        dropWhiteSpace_(o.dropWhiteSpace),
        removeComments_(o.removeComments),
        arena_(arena) {}

  // Where each item stack stood when an element began: the element's own
  // items lie above.
  struct Bases {
    size_t children;
    size_t texts;
    size_t clears;
    size_t order;
    size_t attributes;
  };
  Bases bases() const noexcept {
    return {children_.size(), texts_.size(), clears_.size(), order_.size(), attributes_.size()};
  }
  // Parses the content of r up to its end; false when an error ended the
  // whole parse.  Its items stay on the stacks above b.
  bool content(NodeRecord* r, bool isRoot, int depth, const Bases& b);
  // Moves the items above b into r, in one block of the arena.
  void flush(NodeRecord* r, const Bases& b);

  int code() const noexcept { return code_; }
  // Where a warning was recorded.
  const char* codeAt() const noexcept { return codeAt_; }
  // Where the parse stopped: the place of its error, or where it ended.
  const char* stoppedAt() const noexcept { return failAt_ ? failAt_ : pos_; }

 private:
  enum StartTagEnd { kFailed, kComplete, kContentFollows };

  // Inlined: it runs several times per element.
  [[gnu::always_inline]] inline Token next() noexcept;
  // Steps through a quoted text from q, after its opening quote, up to its
  // closing quote, a "<" or the end, and notes an "&" on the way.
  [[gnu::always_inline]] inline const char* scanQuoted(const char* q, char quote, bool* entities) const noexcept {
    for (;;) {
      while (kQuotedBytes.of[static_cast<unsigned char>(*q)]) ++q;
      const auto b = static_cast<unsigned char>(*q);
      if (b >= 0x80) {
        q += charLength(encoding_, q);
      } else if (b == 0 || b == static_cast<unsigned char>(quote) || b == '<') {
        return q;
      } else {
        *entities |= b == '&';
        ++q;
      }
    }
  }
  StartTagEnd startTag(NodeRecord* r, size_t attributeBase);
  // [s, e) is a text of the content (entities tells whether it holds an
  // "&" that begins a character).
  bool storeText(const Bases& b, const char* s, const char* e, bool entities);
  // A name and its value [vs, ve) (no value when vs is null), stored
  // together in one block of the arena.
  [[gnu::always_inline]] inline bool storeAttribute(bool declaration, const Token& name, const char* vs, const char* ve,
                                                    bool entities, size_t attributeBase);
  // Writes the decoded form of [s, e) and a NUL to out, which has room for
  // e - s + 1 bytes; returns the NUL's place, or null after a failure.
  [[gnu::always_inline]] inline char* decodeTo(char* out, const char* s, const char* e, bool entities) {
    if (entities) return decodeEntities(out, s, e);
    // Nothing to decode: every byte is copied, characters cut by the end
    // of the range included.
    const size_t n = static_cast<size_t>(e - s);
    detail::copyBytes(out, s, n);
    out[n] = '\0';
    return out + n;
  }
  char* decodeEntities(char* out, const char* s, const char* e);
  bool tooMany(size_t count, const char* at) noexcept {
    if (count < kMaxItems) return false;
    fail(kUnexpectedToken, at);
    return true;
  }
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
  // Items of the elements being parsed, innermost on top: each element
  // moves its own into a block of its exact size once complete, which
  // costs far fewer allocations than growing arrays per element.
  ItemStack<NodeRecord*> children_;
  ItemStack<char*> texts_;
  ItemStack<detail::ClearItem> clears_;
  ItemStack<int> order_;
  ItemStack<detail::AttributeItem> attributes_;
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
  Token t{Tok::Plain, pos_, pos_, 0, true};
  const char c = *pos_;
  switch (c) {
    case '\0':
      t.type = Tok::End;
      return t;
    case '\'':
    case '"': {
      bool entities = false;
      const char* q = scanQuoted(pos_ + 1, c, &entities);
      if (*q == c) {
        t.type = Tok::Quoted;
        t.entities = entities;
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
    while (kNameBytes.of[static_cast<unsigned char>(*p)]) ++p;
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

template <typename T>
T* placeItems(unsigned char*& block, const ItemStack<T>& v, size_t from) noexcept {
  const size_t n = v.size() - from;
  if (n == 0) return nullptr;
  T* a = reinterpret_cast<T*>(block);
  const T* src = v.data() + from;
  // Most elements hold one or two items of a kind: copied in place, they
  // cost less than a call.
  switch (n) {
    case 3:
      a[2] = src[2];
      [[fallthrough]];
    case 2:
      a[1] = src[1];
      [[fallthrough]];
    case 1:
      a[0] = src[0];
      break;
    default:
      std::memcpy(static_cast<void*>(a), src, sizeof(T) * n);
  }
  block += sizeof(T) * n;
  return a;
}

void Parser::flush(NodeRecord* r, const Bases& b) {
  const size_t children = children_.size() - b.children;
  const size_t texts = texts_.size() - b.texts;
  const size_t clears = clears_.size() - b.clears;
  const size_t attributes = attributes_.size() - b.attributes;
  const size_t order = order_.size() - b.order;
  // Every part keeps the alignment of the next: the ints come last.
  const size_t bytes = (children + texts) * sizeof(void*) + clears * sizeof(detail::ClearItem) +
                       attributes * sizeof(detail::AttributeItem) + order * sizeof(int);
  if (bytes > 0) {
    auto* block = static_cast<unsigned char*>(detail::arenaAlloc(arena_, bytes));
    r->children = placeItems(block, children_, b.children);
    r->texts = placeItems(block, texts_, b.texts);
    r->clears = placeItems(block, clears_, b.clears);
    r->attributes = placeItems(block, attributes_, b.attributes);
    r->order = placeItems(block, order_, b.order);
  }
  r->childCount = r->childCap = static_cast<int>(children);
  r->textCount = r->textCap = static_cast<int>(texts);
  r->clearCount = r->clearCap = static_cast<int>(clears);
  r->attributeCount = r->attributeCap = static_cast<int>(attributes);
  r->orderCap = static_cast<int>(order);
  children_.resize(b.children);
  texts_.resize(b.texts);
  clears_.resize(b.clears);
  attributes_.resize(b.attributes);
  order_.resize(b.order);
}

bool Parser::content(NodeRecord* r, bool isRoot, int depth, const Bases& b) {
  for (;;) {
    // The text up to the next "<" or the end, in one pass: bytes below 0x80
    // are characters of their own in every encoding, and no markup token
    // can reach past a "<" that begins a character.
    const char* p = pos_;
    if (dropWhiteSpace_) {
      while (isSpace(*p)) ++p;
    }
    const char* const textStart = p;
    bool entities = false;
    for (;;) {
      const TextClass k = kTextClasses.of[static_cast<unsigned char>(*p)];
      if (k == kTextPlain) {
        ++p;
      } else if (k == kTextEntity) {
        entities = true;
        ++p;
      } else if (k == kTextWide) {
        p += charLength(encoding_, p);
      } else {
        break;
      }
    }
    pos_ = p;
    const Token t = next();
    if (!storeText(b, textStart, t.start, entities)) return false;
    switch (t.type) {
      case Tok::TagStart:
      case Tok::DeclStart: {
        // The usual name, plain bytes up to white space, "=", ">", "<" or
        // the end, read straight; it comes to the same token.
        Token name;
        const char* q = pos_;
        while (kNameBytes.of[static_cast<unsigned char>(*q)]) ++q;
        const auto stop = static_cast<unsigned char>(*q);
        if (q > pos_ && stop < 0x80 && stop != '/' && kEndsPlain[stop]) {
          name = Token{Tok::Plain, pos_, q, 0, true};
          pos_ = q;
        } else {
          name = next();
        }
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
        if (tooMany(children_.size() - b.children, t.start)) return false;
        NodeRecord* c =
            detail::newArenaRecord(arena_, name.start, static_cast<size_t>(nameEnd - name.start), declaration);
        c->parent = r;
        order_.push_back(static_cast<int>(children_.size() - b.children) * 4 + kElementItem);
        children_.push_back(c);
        // Whichever way the child ends, its items go into its record (which
        // the tree then owns, or frees after a failure).
        const Bases cb = bases();
        const StartTagEnd end = startTag(c, cb.attributes);
        bool ok = end != kFailed;
        if (ok && end == kContentFollows && (!declaration || holdsRest)) ok = content(c, false, childDepth, cb);
        flush(c, cb);
        if (!ok) return false;
        if (pending_) {
          // The child was ended by an end tag that was not its own.
          if (isRoot) return fail(kUnmatchedEndTag, pendingAt_);
          if (detail::nameMatches(r->name, pending_)) pending_ = nullptr;
          return true;
        }
        break;
      }
      case Tok::EndTagStart: {
        // The usual end tag, this element's own name of plain bytes and
        // ">", read straight; it comes to the same tokens.
        if (const char* own = r->name) {
          size_t i = 0;
          while (own[i] && own[i] == pos_[i] && kNameBytes.of[static_cast<unsigned char>(own[i])]) ++i;
          if (!own[i] && i > 0 && pos_[i] == '>') {
            pos_ += i + 1;
            return true;
          }
        }
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
        const detail::ClearMarkers& m = detail::kClearTable[t.clear];
        const char* close = m.close;
        const char* stop = nullptr;
        const char* q = pos_;
        if (t.clear == 1) {
          // DOCTYPE: its first ">" when no "<" comes before, else "]>".
          while (*q && *q != '>' && *q != '<') q += charLength(encoding_, q);
          if (*q == '>')
            stop = q;
          else
            close = detail::kDocTypeLongClose;
        }
        if (!stop) {
          const size_t len = std::strlen(close);
          while (*q && std::strncmp(q, close, len) != 0) q += charLength(encoding_, q);
          if (*q) stop = q;
        }
        if (!stop) return fail(kUnmatchedClearEnd, t.start);
        if (stop > pos_) {
          if (tooMany(clears_.size() - b.clears, t.start)) return false;
          order_.push_back(static_cast<int>(clears_.size() - b.clears) * 4 + kClearItem);
          clears_.push_back({detail::arenaCopy(arena_, pos_, static_cast<size_t>(stop - pos_)), m.open, close});
        }
        pos_ = stop + std::strlen(close);
        break;
      }
      case Tok::End:
        if (!isRoot && !r->declaration) {
          code_ = kUnmatchedEndTagWarning;
          codeAt_ = t.start;
        }
        return true;
      default:
        // Text stops only at "<" or the end, which begin one of the tokens
        // above.
        break;
    }
  }
}

Parser::StartTagEnd Parser::startTag(NodeRecord* r, size_t attributeBase) {
  // States: 0 between attributes, 1 after a name, 2 after "=".
  int state = 0;
  Token pendingName{};
  for (;;) {
    if (state == 0) {
      // The usual attribute, name="value" with a name of plain bytes, read
      // straight; it comes to the same tokens.  Anything else goes the
      // general way from the same place.
      const char* q = pos_;
      while (isSpace(*q)) ++q;
      // So is the end of the start tag.
      if (q[0] == '>') {
        pos_ = q + 1;
        return kContentFollows;
      }
      if (q[0] == '/' && q[1] == '>') {
        pos_ = q + 2;
        return kComplete;
      }
      const char* const nameStart = q;
      while (kNameBytes.of[static_cast<unsigned char>(*q)]) ++q;
      if (q > nameStart && q[0] == '=' && (q[1] == '"' || q[1] == '\'')) {
        bool entities = false;
        const char* close = scanQuoted(q + 2, q[1], &entities);
        if (*close == q[1]) {
          const Token name{Tok::Plain, nameStart, q, 0, true};
          if (!storeAttribute(r->declaration, name, q + 2, close, entities, attributeBase)) return kFailed;
          pos_ = close + 1;
          continue;
        }
      }
    }
    const Token t = next();
    if (state == 1) {
      if (t.type == Tok::Equals) {
        state = 2;
        continue;
      }
      if (t.type == Tok::Plain || t.type == Tok::TagClose || t.type == Tok::ShortClose) {
        if (!storeAttribute(r->declaration, pendingName, nullptr, nullptr, false, attributeBase)) return kFailed;
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
      if (!storeAttribute(r->declaration, pendingName, s, e, t.entities, attributeBase)) return kFailed;
      state = 0;
      continue;
    }
    fail(kUnexpectedToken, t.start);
    return kFailed;
  }
}

inline bool Parser::storeAttribute(bool declaration, const Token& name, const char* vs, const char* ve, bool entities,
                                   size_t attributeBase) {
  const char* ne = name.end;
  if (declaration && ne > name.start && ne[-1] == '?') --ne;
  // A lone "?" before the end of a declaration is no attribute, but its
  // value is still decoded (and may fail).
  const size_t nameBytes = ne == name.start ? 0 : static_cast<size_t>(ne - name.start) + 1;
  const size_t valueRoom = vs ? static_cast<size_t>(ve - vs) + 1 : 0;
  const size_t bytes = nameBytes + valueRoom;
  if (bytes == 0) return true;
  if (nameBytes && tooMany(attributes_.size() - attributeBase, name.start)) return false;
  char* block = detail::arenaAllocText(arena_, bytes);
  size_t used = nameBytes;
  if (nameBytes) {
    detail::copyBytes(block, name.start, nameBytes - 1);
    block[nameBytes - 1] = '\0';
  }
  char* value = nullptr;
  if (vs) {
    value = block + nameBytes;
    const char* end = decodeTo(value, vs, ve, entities);
    if (!end) return false;
    used = static_cast<size_t>(end - block) + 1;
  }
  if (!nameBytes) used = 0;
  if (used != bytes) detail::arenaTrimText(arena_, block, bytes, used);
  if (nameBytes) attributes_.push_back({block, value});
  return true;
}

char* Parser::decodeEntities(char* out, const char* s, const char* e) {
  char* o = out;
  for (const char* p = s; p < e;) {
    // Bytes are copied as they are stepped over, characters whole; eight
    // at a time while none of them is an "&" or part of a wider character
    // (the decoded text is never longer than what was read, so the room
    // holds every write).
    while (e - p >= 8) {
      uint64_t w;
      std::memcpy(&w, p, 8);
      if (!plainBytes(w)) break;
      std::memcpy(o, &w, 8);
      o += 8;
      p += 8;
    }
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
  return o;
}

bool Parser::storeText(const Bases& b, const char* s, const char* e, bool entities) {
  if (dropWhiteSpace_) {
    while (s < e && isSpace(*s)) ++s;
    while (e > s && isSpace(e[-1])) --e;
  }
  if (s == e) return true;
  const size_t room = static_cast<size_t>(e - s) + 1;
  char* text = detail::arenaAllocText(arena_, room);
  const char* end = decodeTo(text, s, e, entities);
  if (!end) return false;
  if (entities) detail::arenaTrimText(arena_, text, room, static_cast<size_t>(end - text) + 1);
  const size_t n = order_.size() - b.order;
  if (removeComments_ && n >= 2 && (order_[order_.size() - 1] & 3) == kClearItem &&
      (order_[order_.size() - 2] & 3) == kTextItem &&
      clears_.back().open == detail::kClearTable[detail::kCommentClear].open) {
    // text, comment, text: the comment goes and the texts join.
    // (The arena keeps the blocks it gave out until the tree goes.)
    char*& earlier = texts_[b.texts + static_cast<size_t>(order_[order_.size() - 2] >> 2)];
    clears_.pop_back();
    order_.pop_back();
    const size_t na = std::strlen(earlier);
    const size_t nb = static_cast<size_t>(end - text);
    char* joined = detail::arenaAllocText(arena_, na + nb + 1);
    std::memcpy(joined, earlier, na);
    std::memcpy(joined + na, text, nb + 1);
    earlier = joined;
    return true;
  }
  if (tooMany(texts_.size() - b.texts, s)) return false;
  order_.push_back(static_cast<int>(texts_.size() - b.texts) * 4 + kTextItem);
  texts_.push_back(text);
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
  const Parser::Bases none = parser.bases();
  parser.content(root, true, 0, none);
  parser.flush(root, none);

  int code = parser.code();
  const char* at = code == kUnmatchedEndTagWarning ? parser.codeAt() : parser.stoppedAt();
  if (root->childCount == 0) {
    code = kNoTagFound;
    at = parser.stoppedAt();
  }

  // The root's reference is held here.
  arena->handles = 1;
  NodeRecord* top = root;
  if (root->childCount == 1 && root->textCount == 0 && root->clearCount == 0 && root->attributeCount == 0) {
    // The single child leaves the root, which nothing else sees, without
    // the root's arrays being copied out first: the child's reference
    // passes from the root to the result.
    top = root->children[0];
    root->childCount = 0;
    top->parent = nullptr;
    ++arena->handles;
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
