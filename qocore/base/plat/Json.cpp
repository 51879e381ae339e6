#include "qocore/base/plat/Json.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <memory>
#include <new>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/JsonArena.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/Utf8.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/InStream.h"

namespace plat {

namespace {

// Containers nest at most this deep: a value at this depth is refused.
constexpr int kMaxDepth = 33;

// The largest magnitude that may take one more digit without overflowing
// 64 bits when multiplied by ten.
constexpr uint64_t kMaxBeforeDigit = 0x0CCCCCCCCCCCCCCCull;
constexpr uint64_t kPositiveLimit = 0x7FFFFFFFFFFFFFFFull;
constexpr uint64_t kNegativeLimit = 0x8000000000000000ull;

inline bool isDigit(uint8_t b) noexcept { return b >= '0' && b <= '9'; }

// Bytes of a string that need no decoding: none below 0x20, no double
// quote, no backslash.
constexpr auto kPlainStringByte = [] {
  std::array<bool, 256> plain{};
  for (int b = 0x20; b < 256; ++b) plain[static_cast<size_t>(b)] = b != '"' && b != '\\';
  return plain;
}();

// Steps over plain string bytes; sets *nonAscii when it passed a byte from
// 0x80 up, so a string without one is known to be ASCII without a second
// look.  Sixteen bytes are looked at at once where the window holds them.
inline const uint8_t* skipPlainStringBytes(const uint8_t* p, const uint8_t* e, bool* nonAscii) noexcept {
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i control = _mm_set1_epi8(0x1F);
  int high = 0;
  for (; e - p >= 16; p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // A byte up to 0x1F is its own maximum with 0x1F.
    const __m128i stops = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                                       _mm_cmpeq_epi8(_mm_max_epu8(v, control), control));
    const int stopMask = _mm_movemask_epi8(stops);
    const int highMask = _mm_movemask_epi8(v);
    if (stopMask) {
      const int n = __builtin_ctz(static_cast<unsigned>(stopMask));
      high |= highMask & ((1 << n) - 1);
      if (high) *nonAscii = true;
      return p + n;
    }
    high |= highMask;
  }
  if (high) *nonAscii = true;
#endif
  uint8_t all = 0;
  for (; p != e && kPlainStringByte[*p]; ++p) all |= *p;
  if (all & 0x80) *nonAscii = true;
  return p;
}

// Whether [p, e), which holds no NUL, is valid UTF-8 as isValidUtf8 judges
// it: runs of ASCII are passed eight bytes at a time, and every other
// character is decoded.
bool isValidUtf8Text(const uint8_t* p, const uint8_t* e) noexcept {
  for (;;) {
    for (uint64_t word; e - p >= 8; p += 8) {
      std::memcpy(&word, p, sizeof word);
      if (word & 0x8080808080808080ull) break;
    }
    while (p != e && *p < 0x80) ++p;
    if (p == e) return true;
    const char* next = reinterpret_cast<const char*>(p) + 1;
    if (utf8Decode(*p, &next, static_cast<int>(std::min<ptrdiff_t>(e - p, 4))) < 0) return false;
    p = reinterpret_cast<const uint8_t*>(next);
  }
}

// The bytes of the string being read.  Strings may carry secrets, so a
// block is wiped before it is given up.
class Scratch {
 public:
  Scratch() noexcept = default;
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  ~Scratch() {
    secureZero(data_, capacity_);
    delete[] data_;
  }

  // Never null, so an empty string is an empty text.
  const char* data() const noexcept { return data_ ? data_ : ""; }
  size_t size() const noexcept { return size_; }
  void clear() noexcept { size_ = 0; }
  void append(const void* bytes, size_t n) {
    if (n == 0) return;
    if (capacity_ - size_ < n) grow(n);
    std::memcpy(data_ + size_, bytes, n);
    size_ += n;
  }
  void push(char c) {
    if (size_ == capacity_) grow(1);
    data_[size_++] = c;
  }

 private:
  void grow(size_t n) {
    const size_t capacity = std::max({2 * capacity_, size_ + n, size_t(64)});
    char* block = new char[capacity];
    if (size_) std::memcpy(block, data_, size_);
    secureZero(data_, capacity_);
    delete[] data_;
    data_ = block;
    capacity_ = capacity;
  }

  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// The content type may be null (not checked), "application/json" in any
// letter case with blanks around it, or that followed by ";" and
// "charset=utf-8" in the same way.
void checkContentType(const char* contentType) {
  if (!contentType || std::strcmp(contentType, "application/json") == 0) return;
  const char* semicolon = std::strchr(contentType, ';');
  CharArray media(contentType, semicolon ? static_cast<int>(semicolon - contentType) : -1);
  toLowerAscii(media.get());
  trimLeft(media.get());
  trimRight(media.get());
  if (std::strcmp(media.get(), "application/json") == 0) {
    if (!semicolon) return;
    CharArray parameter(semicolon + 1);
    toLowerAscii(parameter.get());
    trimLeft(parameter.get());
    trimRight(parameter.get());
    if (std::strcmp(parameter.get(), "charset=utf-8") == 0) return;
  }
  throw JsonException("Unknown Content-Type '%s'", contentType);
}

}  // namespace

// Reads values straight from the stream's window.  The window is cached
// here and handed back to the stream before every refill and when the
// parser goes, so the stream is left just after the last byte taken.
//
// The values of one parse are placed side by side in the parse's arena.  A
// container's items are gathered in a list of its nesting level, which every
// container at that level reuses, and move into the container at its end,
// so each container's vector is allocated once at its exact size, in the
// arena too.  Until then the lists own what they hold.
class JsonParser {
 public:
  explicit JsonParser(JsonReader& reader) noexcept
      : reader_(reader), in_(*reader.in_), p_(in_.getPtr()), e_(in_.getEnd()) {}
  JsonParser(const JsonParser&) = delete;
  JsonParser& operator=(const JsonParser&) = delete;
  ~JsonParser() {
    in_.setPtr(p_);
    for (Level& l : levels_) {
      for (JsonValue* v : l.values) delete v;
    }
    if (arena_) JsonValue::releaseArena(arena_);
  }

  JsonRef value(int depth) { return JsonRef(parseValue(depth)); }
  // A whole body: the value at depth 0, which the input must not end
  // inside, and from the reader's own bytes nothing but white space after.
  JsonRef body();

 private:
  struct Level {
    std::vector<JsonValue*> values;  // elements, or the members' values
    std::vector<const char*> names;  // the members' names, in the arena
    std::vector<size_t> lengths;     // of the names
  };

  [[noreturn]] void fail(const char* what) const { throw JsonException("%s at line %d", what, reader_.line_); }

  // Makes at least one byte readable.  False at the end of input, or
  // EndOfStream when endIsError; other failures of the stream pass on.
  bool fill(bool endIsError) {
    in_.setPtr(p_);
    {
      // The window is taken back from the stream however the refill ends.
      ScopeExit reloadWindow([this] { reload(); });
      try {
        in_.check(true, 1);
      } catch (const rdr::EndOfStream&) {
        if (endIsError) throw;
        return false;
      }
    }
    return p_ != e_;
  }
  void reload() noexcept {
    p_ = in_.getPtr();
    e_ = in_.getEnd();
  }

  uint8_t peek() {
    if (p_ == e_) fill(true);
    return *p_;
  }
  uint8_t take() {
    if (p_ == e_) fill(true);
    return *p_++;
  }
  // Whether a byte follows; the end of input is no error.
  bool more() { return p_ != e_ || fill(false); }

  // Skips the white space in the window; true when it reached the window's
  // end.
  bool skipSpaceInWindow() noexcept {
    const uint8_t* p = p_;
    const uint8_t* const e = e_;
    int32_t lines = 0;
    for (; p != e; ++p) {
      const uint8_t b = *p;
      if (b == '\n') {
        ++lines;
      } else if (b != ' ' && b != '\t' && b != '\r') {
        break;
      }
    }
    p_ = p;
    reader_.line_ += lines;
    return p == e;
  }
  // Skips white space up to the next byte, which it leaves unread.
  void skipSpace() {
    if (p_ != e_ && *p_ > ' ') return;
    while (skipSpaceInWindow()) fill(true);
  }
  // Skips white space; true when the input ends there.
  bool atEndAfterSpace() {
    for (;;) {
      if (p_ == e_ && !fill(false)) return true;
      if (!skipSpaceInWindow()) return false;
    }
  }

  JsonValue::Arena& arena() {
    if (!arena_) arena_ = JsonValue::newArena();
    return *arena_;
  }
  // A new value in the arena.  The constructors used here do not throw.
  template <typename T, typename... Args>
  T* make(Args... args) {
    return ::new (arena().allocValue(sizeof(T))) T(args...);
  }

  // Each returns a value that the caller owns.
  JsonValue* parseValue(int depth);
  JsonValue* literal(const char* text, int length);
  JsonValue* number();
  JsonValue* array(int depth);
  JsonValue* object(int depth);
  // Reads a string (its opening quote next) into a new text, or into the
  // arena for a member's name.
  String string(size_t* length);
  const char* name(size_t* length);
  // Reads a string up to its closing quote.  The returned bytes are either
  // in the input's window or in scratch_.
  const char* stringBytes(size_t* length);
  // The rest of a string that needs decoding, into scratch_; the plain
  // bytes up to `scanned` were already looked at.
  void decodeString(const uint8_t* scanned);
  uint32_t hexEscape();
  void appendCodePoint(uint32_t cp);
  // The vector's storage, of exactly n items, placed in the arena next to
  // the values; it grows on the heap should it grow later.
  template <typename Vector>
  void reserveInArena(Vector& items, size_t n) {
    JsonValue::placeStorage(arena_);
    ScopeExit heapAgain([] { JsonValue::placeStorage(nullptr); });
    items.reserve(n);
  }
  Level& enterLevel() {
    if (open_ == levels_.size()) levels_.emplace_back();
    return levels_[open_++];
  }

  JsonReader& reader_;
  rdr::InStream& in_;
  const uint8_t* p_;
  const uint8_t* e_;
  Scratch scratch_;
  JsonValue::Arena* arena_ = nullptr;
  // One per open container; a deque, so that a level stays where it is
  // while deeper ones are added.
  std::deque<Level> levels_;
  size_t open_ = 0;
};

JsonValue* JsonParser::parseValue(int depth) {
  if (depth >= kMaxDepth) fail("Unsupported nesting");
  skipSpace();
  switch (*p_) {
    case '"': {
      size_t length = 0;
      String text = string(&length);
      return ::new (arena().allocValue(sizeof(JsonString))) JsonString(std::move(text));
    }
    case '{':
      return object(depth);
    case '[':
      return array(depth);
    case 't':
      return literal("true", 4);
    case 'f':
      return literal("false", 5);
    case 'n':
      return literal("null", 4);
    default:
      return number();
  }
}

// The whole word is read before it is compared, so a word cut short by
// the end of input is a truncation rather than a bad value.
JsonValue* JsonParser::literal(const char* text, int length) {
  char word[5];
  if (e_ - p_ >= length) {
    std::memcpy(word, p_, static_cast<size_t>(length));
    p_ += length;
  } else {
    for (int i = 0; i < length; ++i) word[i] = static_cast<char>(take());
  }
  // Compared at a fixed size, which needs no call.
  const bool same = length == 4 ? std::memcmp(word, text, 4) == 0 : std::memcmp(word, text, 5) == 0;
  if (!same) fail("Bad value");
  if (text[0] == 'n') return make<JsonNull>();
  return make<JsonBool>(text[0] == 't');
}

JsonValue* JsonParser::number() {
  bool negative = false;
  if (*p_ == '-') {
    negative = true;
    ++p_;
    if (!more()) fail("Bad value");
  }
  uint64_t magnitude = 0;
  const uint8_t first = *p_;
  if (first == '0') {
    if (negative) fail("Bad value");
    // A leading 0 is the whole integer part: "01" leaves the 1 unread.
    ++p_;
  } else if (first >= '1' && first <= '9') {
    ++p_;
    magnitude = first - '0';
    // Seventeen more digits make at most 18, which cannot overflow: those
    // in the window are taken without a check.
    {
      const uint8_t* p = p_;
      const uint8_t* const stop = e_ - p > 17 ? p + 17 : e_;
      for (; p != stop && isDigit(*p); ++p) magnitude = magnitude * 10 + (*p - '0');
      p_ = p;
    }
    const uint64_t limit = negative ? kNegativeLimit : kPositiveLimit;
    for (;;) {
      // Digits in the window are taken without asking the stream for more.
      const uint8_t* p = p_;
      const uint8_t* const e = e_;
      for (; p != e && isDigit(*p); ++p) {
        const uint64_t digit = *p - '0';
        if (magnitude > kMaxBeforeDigit || magnitude * 10 > limit - digit) {
          p_ = p;
          fail("Unsupported number");
        }
        magnitude = magnitude * 10 + digit;
      }
      p_ = p;
      if (p != e || !fill(false)) break;
    }
  } else {
    fail("Bad value");
  }
  if (more() && (*p_ == '.' || *p_ == 'e' || *p_ == 'E')) {
    if (reader_.integersOnly_) fail("Unsupported number");
    // Fractions and exponents are skipped and read as 0; a sign inside an
    // exponent ends the number.
    while (more() && (isDigit(*p_) || *p_ == '.' || *p_ == 'e' || *p_ == 'E')) ++p_;
    magnitude = 0;
  }
  // Unsigned negation reaches -2^63 without signed overflow.
  return make<JsonNumber>(static_cast<int64_t>(negative ? 0 - magnitude : magnitude));
}

const char* JsonParser::stringBytes(size_t* length) {
  if (take() != '"') fail("Bad string");
  // Most strings lie whole in the window and need no decoding: their bytes
  // are copied once, straight from the input.
  bool nonAscii = false;
  const uint8_t* p = skipPlainStringBytes(p_, e_, &nonAscii);
  if (p != e_ && *p == '"') {
    const char* bytes = reinterpret_cast<const char*>(p_);
    if (nonAscii && !isValidUtf8Text(p_, p)) {
      p_ = p + 1;
      fail("Bad string");
    }
    p_ = p + 1;
    *length = static_cast<size_t>(p - reinterpret_cast<const uint8_t*>(bytes));
    return bytes;
  }
  decodeString(p);
  *length = scratch_.size();
  return scratch_.data();
}

String JsonParser::string(size_t* length) {
  const char* bytes = stringBytes(length);
  char* text = new char[*length + 1];
  std::memcpy(text, bytes, *length);
  text[*length] = '\0';
  return String::adopt(text);
}

const char* JsonParser::name(size_t* length) {
  const char* bytes = stringBytes(length);
  char* text = arena().allocText(*length + 1);
  std::memcpy(text, bytes, *length);
  text[*length] = '\0';
  return text;
}

void JsonParser::decodeString(const uint8_t* scanned) {
  scratch_.clear();
  scratch_.append(p_, static_cast<size_t>(scanned - p_));
  p_ = scanned;
  for (;;) {
    // Plain bytes are copied a window's run at a time.
    bool nonAscii = false;
    const uint8_t* p = skipPlainStringBytes(p_, e_, &nonAscii);
    const uint8_t* const e = e_;
    scratch_.append(p_, static_cast<size_t>(p - p_));
    p_ = p;
    if (p == e) {
      fill(true);
      continue;
    }
    const uint8_t b = *p_++;
    if (b == '"') break;
    if (b == 0) fail("Unsupported string");
    if (b < 0x20) fail("Bad string");
    switch (take()) {
      case '"':
        scratch_.push('"');
        break;
      case '/':
        scratch_.push('/');
        break;
      case '\\':
        scratch_.push('\\');
        break;
      case 'b':
        scratch_.push('\b');
        break;
      case 'f':
        scratch_.push('\f');
        break;
      case 'n':
        scratch_.push('\n');
        break;
      case 'r':
        scratch_.push('\r');
        break;
      case 't':
        scratch_.push('\t');
        break;
      case 'u': {
        uint32_t cp = hexEscape();
        if (cp == 0) fail("Unsupported string");
        if (cp >= 0xDC00 && cp <= 0xDFFF) fail("Illegal low surrogate");
        if (cp >= 0xD800 && cp <= 0xDBFF) {
          if (take() != '\\' || take() != 'u') fail("Unterminated surrogate pair");
          const uint32_t low = hexEscape();
          if (low < 0xDC00 || low > 0xDFFF) fail("Unterminated surrogate pair");
          cp = 0x10000 + (cp - 0xD800) * 1024 + (low - 0xDC00);
        }
        appendCodePoint(cp);
        break;
      }
      default:
        fail("Bad string");
    }
  }
  const auto* text = reinterpret_cast<const uint8_t*>(scratch_.data());
  if (!isValidUtf8Text(text, text + scratch_.size())) fail("Bad string");
}

uint32_t JsonParser::hexEscape() {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    const int digit = hexNibble(static_cast<char>(take()));
    if (digit < 0) fail("Bad string hex escape");
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  return value;
}

void JsonParser::appendCodePoint(uint32_t cp) {
  if (cp < 0x80) {
    scratch_.push(static_cast<char>(cp));
    return;
  }
  char bytes[4];
  char* end = bytes;
  utf8Encode(static_cast<int32_t>(cp), &end);
  scratch_.append(bytes, static_cast<size_t>(end - bytes));
}

JsonValue* JsonParser::array(int depth) {
  if (take() != '[') fail("Bad array");
  skipSpace();
  if (*p_ == ']') {
    ++p_;
    return make<JsonArray>();
  }
  Level& l = enterLevel();
  for (;;) {
    l.values.push_back(nullptr);
    l.values.back() = parseValue(depth + 1);
    skipSpace();
    const uint8_t b = take();
    if (b == ']') break;
    if (b != ',') fail("Bad array");
    skipSpace();
  }
  std::vector<JsonRef, JsonStorage<JsonRef>> elements;
  reserveInArena(elements, l.values.size());
  for (JsonValue* v : l.values) elements.emplace_back(v);
  l.values.clear();
  --open_;
  JsonArray* array = make<JsonArray>();
  array->elements_ = std::move(elements);
  return array;
}

JsonValue* JsonParser::object(int depth) {
  // Past this many members, names already seen are found through a hash
  // set rather than by scanning, so a huge object costs no more than a
  // long array.
  constexpr size_t kScanLimit = 16;

  if (take() != '{') fail("Bad object");
  skipSpace();
  if (*p_ == '}') {
    ++p_;
    return make<JsonObject>();
  }
  Level& l = enterLevel();
  // Made only for an object that large.
  std::optional<std::unordered_set<std::string_view>> names;
  for (;;) {
    size_t length = 0;
    const char* text = name(&length);
    skipSpace();
    if (take() != ':') fail("Bad object");
    const std::string_view view(text, length);
    bool duplicate = false;
    if (l.names.size() < kScanLimit) {
      for (size_t i = 0; i < l.names.size() && !duplicate; ++i) {
        // Names are NUL-terminated, so even empty ones have a first byte.
        duplicate = l.lengths[i] == length && l.names[i][0] == text[0] && std::memcmp(l.names[i], text, length) == 0;
      }
    } else {
      if (!names) {
        names.emplace();
        for (size_t i = 0; i < l.names.size(); ++i) names->emplace(l.names[i], l.lengths[i]);
      }
      duplicate = !names->emplace(view).second;
    }
    if (duplicate) fail("Unsupported object");
    l.names.push_back(text);
    l.lengths.push_back(length);
    l.values.push_back(nullptr);
    l.values.back() = parseValue(depth + 1);
    skipSpace();
    const uint8_t b = take();
    if (b == '}') break;
    if (b != ',') fail("Bad object");
    skipSpace();
  }
  // The object owns its members from here on; until its vector is made,
  // the level still does.
  std::unique_ptr<JsonObject> object(make<JsonObject>());
  JsonObject::Members& members = object->members_;
  reserveInArena(members, l.values.size());
  for (size_t i = 0; i < l.values.size(); ++i) {
    // Filled in place: a handle moved in would join and leave a ring.
    JsonObject::Member& m = members.emplace_back();
    m.name.reset(const_cast<char*>(l.names[i]));
    m.value.reset(l.values[i]);
  }
  object->arenaNames_ = members.size();
  l.values.clear();
  l.names.clear();
  l.lengths.clear();
  --open_;
  return object.release();
}

JsonRef JsonParser::body() {
  JsonRef result;
  try {
    result = value(0);
  } catch (const rdr::EndOfStream&) {
    fail("Truncated JSON");
  }
  if (reader_.own_ && !atEndAfterSpace()) fail("Trailing bytes after JSON");
  return result;
}

// ---- Entry points ----

JsonRef Json::parse(JsonReader& reader, int depth) {
  JsonParser parser(reader);
  return parser.value(depth);
}

JsonRef Json::parseHttpBody(const char* contentType, JsonReader& reader) {
  checkContentType(contentType);
  JsonParser parser(reader);
  return parser.body();
}

CharArray Json::toLogText(const MBuf<unsigned char>& body, const char* contentType, bool integersOnly) {
  try {
    JsonReader reader(body.data(), body.count(), integersOnly);
    return parseHttpBody(contentType, reader)->toText();
  } catch (const Exception& e) {
    return DString::format("<not JSON-encoded data: %s>", e.str());
  }
}

}  // namespace plat
