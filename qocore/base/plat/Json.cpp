#include "qocore/base/plat/Json.h"

#include <algorithm>
#include <array>
#include <bit>
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
#include <utility>

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

// Steps over plain string bytes, checking each character beyond ASCII on
// the way: a malformed one (as utf8Decode judges it) sets *bad and the scan
// goes on, so that the string is refused at its end, after any other fault
// in it.  Stops at a double quote, a backslash, a control byte, the end of
// the window, or a character the end of the window cuts short (its first
// byte, 0x80 or above).  Sixteen bytes are looked at at once where the
// window holds them.
inline const uint8_t* scanPlainStringBytes(const uint8_t* p, const uint8_t* e, bool* bad) noexcept {
  for (;;) {
    bool found = false;
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i control = _mm_set1_epi8(0x1F);
    for (; e - p >= 16; p += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      // A byte up to 0x1F is its own maximum with 0x1F.
      const __m128i stops = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                                         _mm_cmpeq_epi8(_mm_max_epu8(v, control), control));
      const int mask = _mm_movemask_epi8(stops) | _mm_movemask_epi8(v);
      if (mask) {
        p += __builtin_ctz(static_cast<unsigned>(mask));
        found = true;
        break;
      }
    }
#endif
    if (!found) {
      while (p != e && *p < 0x80 && kPlainStringByte[*p]) ++p;
    }
    if (p == e || *p < 0x80) return p;
    const int length = std::countl_one(*p);
    if (length >= 2 && length <= 4 && e - p < length) return p;
    const char* next = reinterpret_cast<const char*>(p) + 1;
    if (utf8Decode(*p, &next, static_cast<int>(std::min<ptrdiff_t>(e - p, 4))) < 0) {
      *bad = true;
      ++p;
    } else {
      p = reinterpret_cast<const uint8_t*>(next);
    }
  }
}

// Code points that are valid in an escape but that utf8Decode refuses as
// text: the noncharacters.
inline bool isNoncharacter(uint32_t cp) noexcept { return (cp >= 0xFDD0 && cp <= 0xFDEF) || (cp & 0xFFFE) == 0xFFFE; }

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
// container at that level reuses, and move into the container at its end:
// an object's members and an array's slots follow the container in its own
// block, at their exact number.  Until then the lists own what they hold.
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
      for (uintptr_t slot : l.slots) {
        if (JsonValue::Arena::slotHoldsValue(slot)) delete reinterpret_cast<JsonValue*>(slot);
      }
    }
    if (arena_) JsonValue::releaseArena(arena_);
  }

  JsonRef value(int depth) { return root(parseValue(depth)); }
  // A whole body: the value at depth 0, which the input must not end
  // inside, and from the reader's own bytes nothing but white space after.
  JsonRef body();

 private:
  struct Level {
    std::vector<uintptr_t> slots;    // an array's elements
    std::vector<JsonValue*> values;  // the members' values
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

  // The handle of the document's top value, once the parse has succeeded:
  // the parse lets go of the arena here, so that from now on only the
  // values hold it and the root may take it whole.
  JsonRef root(JsonValue* top) noexcept {
    JsonRef handle(top);
    if (arena_) {
      arena_->root = top;
      JsonValue::releaseArena(std::exchange(arena_, nullptr));
    }
    return handle;
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
  // An array's element as a slot (JsonValue::Arena): a value of its own, or
  // a small integer or literal in the slot itself.
  uintptr_t parseSlot(int depth);
  JsonValue* literal(const char* text, int length);
  JsonValue::Arena::Literal literalKind(const char* text, int length);
  JsonValue* number() { return make<JsonNumber>(integer()); }
  int64_t integer();
  JsonValue* array(int depth);
  JsonValue* object(int depth);
  // Reads a string (its opening quote next) into a new value, or into the
  // arena for a member's name.
  JsonString* string();
  const char* name(size_t* length);
  // Reads a string up to its closing quote.  The returned bytes are either
  // in the input's window or in scratch_.
  const char* stringBytes(size_t* length);
  // The rest of a string that needs decoding, into scratch_; the plain
  // bytes up to `scanned` were already looked at, and found malformed
  // when `bad`.
  void decodeString(const uint8_t* scanned, bool bad);
  // A character beyond ASCII that the end of the window cut short, into
  // scratch_; sets *bad when it is malformed.
  void takeCutCharacter(bool* bad);
  uint32_t hexEscape();
  void appendCodePoint(uint32_t cp);
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
  // Names placed in the arena lately, by a hash of their bytes.
  struct RecentName {
    const char* text;
    size_t length;
  };
  std::array<RecentName, 256> recentNames_{};
};

JsonValue* JsonParser::parseValue(int depth) {
  if (depth >= kMaxDepth) fail("Unsupported nesting");
  skipSpace();
  switch (*p_) {
    case '"':
      return string();
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

uintptr_t JsonParser::parseSlot(int depth) {
  using Arena = JsonValue::Arena;
  if (depth >= kMaxDepth) fail("Unsupported nesting");
  skipSpace();
  switch (*p_) {
    case '"':
      return reinterpret_cast<uintptr_t>(static_cast<JsonValue*>(string()));
    case '{':
      return reinterpret_cast<uintptr_t>(object(depth));
    case '[':
      return reinterpret_cast<uintptr_t>(array(depth));
    case 't':
      return Arena::literalSlot(literalKind("true", 4));
    case 'f':
      return Arena::literalSlot(literalKind("false", 5));
    case 'n':
      return Arena::literalSlot(literalKind("null", 4));
    default: {
      const int64_t v = integer();
      if (v >= Arena::kSlotIntMin && v <= Arena::kSlotIntMax) return Arena::intSlot(v);
      return reinterpret_cast<uintptr_t>(static_cast<JsonValue*>(make<JsonNumber>(v)));
    }
  }
}

JsonValue* JsonParser::literal(const char* text, int length) {
  const JsonValue::Arena::Literal kind = literalKind(text, length);
  if (kind == JsonValue::Arena::kNull) return make<JsonNull>();
  return make<JsonBool>(kind == JsonValue::Arena::kTrue);
}

// The whole word is read before it is compared, so a word cut short by
// the end of input is a truncation rather than a bad value.
JsonValue::Arena::Literal JsonParser::literalKind(const char* text, int length) {
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
  if (text[0] == 'n') return JsonValue::Arena::kNull;
  return text[0] == 't' ? JsonValue::Arena::kTrue : JsonValue::Arena::kFalse;
}

int64_t JsonParser::integer() {
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
  return static_cast<int64_t>(negative ? 0 - magnitude : magnitude);
}

const char* JsonParser::stringBytes(size_t* length) {
  if (take() != '"') fail("Bad string");
  // Most strings lie whole in the window and need no decoding: their bytes
  // are copied once, straight from the input.
  bool bad = false;
  const uint8_t* p = scanPlainStringBytes(p_, e_, &bad);
  if (p != e_ && *p == '"') {
    const char* bytes = reinterpret_cast<const char*>(p_);
    p_ = p + 1;
    if (bad) fail("Bad string");
    *length = static_cast<size_t>(p - reinterpret_cast<const uint8_t*>(bytes));
    return bytes;
  }
  decodeString(p, bad);
  *length = scratch_.size();
  return scratch_.data();
}

JsonString* JsonParser::string() {
  size_t length = 0;
  const char* bytes = stringBytes(&length);
  if (length > SIZE_MAX / 2) throw std::bad_alloc();
  // The text follows the value in one block, which is how the value knows
  // not to free it.
  void* block = arena().allocString(sizeof(JsonString) + length + 1);
  char* text = static_cast<char*>(block) + sizeof(JsonString);
  std::memcpy(text, bytes, length);
  text[length] = '\0';
  return ::new (block) JsonString(String::adopt(text));
}

const char* JsonParser::name(size_t* length) {
  const char* bytes = stringBytes(length);
  const size_t n = *length;
  // Documents repeat their names from object to object: a name met lately
  // is shared rather than placed again (names never change and are never
  // freed one by one).
  const auto* b = reinterpret_cast<const uint8_t*>(bytes);
  const size_t hash =
      n == 0 ? 0 : (n * 131 + b[0] * 31 + b[n - 1] * 7 + b[n / 2]) % std::tuple_size_v<decltype(recentNames_)>;
  RecentName& recent = recentNames_[hash];
  if (recent.text && recent.length == n && std::memcmp(recent.text, bytes, n) == 0) return recent.text;
  char* text = arena().allocText(n + 1);
  std::memcpy(text, bytes, n);
  text[n] = '\0';
  recent = RecentName{text, n};
  return text;
}

void JsonParser::decodeString(const uint8_t* scanned, bool bad) {
  scratch_.clear();
  scratch_.append(p_, static_cast<size_t>(scanned - p_));
  p_ = scanned;
  for (;;) {
    // Plain bytes are copied a window's run at a time.
    const uint8_t* p = scanPlainStringBytes(p_, e_, &bad);
    const uint8_t* const e = e_;
    scratch_.append(p_, static_cast<size_t>(p - p_));
    p_ = p;
    if (p == e) {
      fill(true);
      continue;
    }
    if (*p >= 0x80) {
      takeCutCharacter(&bad);
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
        if (isNoncharacter(cp)) bad = true;
        appendCodePoint(cp);
        break;
      }
      default:
        fail("Bad string");
    }
  }
  if (bad) fail("Bad string");
}

void JsonParser::takeCutCharacter(bool* bad) {
  const uint8_t lead = take();
  const int length = std::countl_one(lead);
  char bytes[4] = {static_cast<char>(lead)};
  int have = 1;
  // Only continuation bytes belong to it; any other byte is left for the
  // string's own scan.
  while (have < length && have < 4 && (peek() & 0xC0) == 0x80) bytes[have++] = static_cast<char>(take());
  scratch_.append(bytes, static_cast<size_t>(have));
  const char* next = bytes + 1;
  if (have < length || utf8Decode(lead, &next, have) < 0) *bad = true;
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
    // Kept apart from the push, so that a slot the push fails to take is
    // not lost: the level holds it only once it is there.
    const uintptr_t slot = parseSlot(depth + 1);
    try {
      l.slots.push_back(slot);
    } catch (...) {
      if (JsonValue::Arena::slotHoldsValue(slot)) delete reinterpret_cast<JsonValue*>(slot);
      throw;
    }
    skipSpace();
    const uint8_t b = take();
    if (b == ']') break;
    if (b != ',') fail("Bad array");
    skipSpace();
  }
  // The slots follow the array in its block.
  const size_t n = l.slots.size();
  if (n > (SIZE_MAX / 2 - sizeof(JsonArray)) / sizeof(uintptr_t)) throw std::bad_alloc();
  void* block = arena().allocValue(sizeof(JsonArray) + n * sizeof(uintptr_t));
  JsonArray* array = ::new (block) JsonArray();
  std::memcpy(array->slots(), l.slots.data(), n * sizeof(uintptr_t));
  array->slotCount_ = n;
  l.slots.clear();
  --open_;
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
  // The members follow the object in its block, at their exact number.
  const size_t n = l.values.size();
  if (n > (SIZE_MAX / 2 - sizeof(JsonObject)) / sizeof(JsonObject::Member)) throw std::bad_alloc();
  void* block = arena().allocValue(sizeof(JsonObject) + n * sizeof(JsonObject::Member));
  auto* object = ::new (block) JsonObject();
  JsonObject::Members& members = object->members_;
  JsonValue::placeStorageAt(static_cast<unsigned char*>(block) + sizeof(JsonObject));
  members.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    // Filled in place: a handle moved in would join and leave a ring.
    JsonObject::Member& m = members.emplace_back();
    m.name.reset(const_cast<char*>(l.names[i]));
    m.value.reset(l.values[i]);
  }
  l.values.clear();
  l.names.clear();
  l.lengths.clear();
  --open_;
  return object;
}

JsonRef JsonParser::body() {
  JsonRef result;
  try {
    result = root(parseValue(0));
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
