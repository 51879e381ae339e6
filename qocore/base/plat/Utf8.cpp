#include "qocore/base/plat/Utf8.h"

#include <wchar.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <memory>

#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/DString.h"

namespace plat {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD
constexpr int kReplacementLen = 3;

inline bool isContinuation(unsigned char b) noexcept { return (b & 0xC0) == 0x80; }

inline bool atEnd(const char* p, const char* end) noexcept { return (end && p >= end) || *p == '\0'; }

// The bytes the decoder may look at from `lead` on: the rest of the range,
// or 4 when only the NUL marks the end (the decoder never reads past a
// NUL, which is no continuation byte).
inline int availableFrom(const char* lead, const char* end) noexcept {
  return end ? static_cast<int>(std::min<ptrdiff_t>(end - lead, 4)) : 4;
}

// Reads the character at *p (which must not be at the end), advances *p past
// it and returns its code point, or -1 for a malformed sequence, in which
// case *p is past the bytes the decoder consumed.
inline int32_t nextChar(const char** p, const char* end) noexcept {
  const char* lead = *p;
  unsigned char b = static_cast<unsigned char>(*lead);
  ++*p;
  if (b < 0x80) return b;
  return utf8Decode(b, p, availableFrom(lead, end));
}

}  // namespace

int32_t utf8Decode(unsigned char lead, const char** cursor, int available) noexcept {
  static constexpr int32_t kShortest[5] = {0, 0, 0x80, 0x800, 0x10000};
  int n = std::countl_one(lead);
  if (n < 2 || n > 4 || n > available) return -1;

  int32_t cp = lead & (0x7F >> n);
  const char* p = *cursor;
  for (int i = 1; i < n; ++i, ++p) {
    unsigned char b = static_cast<unsigned char>(*p);
    if (!isContinuation(b)) {
      *cursor = p;
      return -1;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  *cursor = p;

  if (cp < kShortest[n] || cp > 0x10FFFF) return -1;
  if (cp >= 0xD800 && cp <= 0xDFFF) return -1;
  if ((cp >= 0xFDD0 && cp <= 0xFDEF) || (cp & 0xFFFE) == 0xFFFE) return -1;
  return cp;
}

void utf8Encode(int32_t codepoint, char** cursor) {
  // Negative values wrap to huge ones and are refused with the rest.
  uint32_t cp = static_cast<uint32_t>(codepoint);
  char* p = *cursor;
  if (cp < 0x80) {
    *p++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *p++ = static_cast<char>(0xC0 | (cp >> 6));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *p++ = static_cast<char>(0xE0 | (cp >> 12));
    *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp <= 0x10FFFF) {
    *p++ = static_cast<char>(0xF0 | (cp >> 18));
    *p++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    throw Exception("Unicode out of range");
  }
  *cursor = p;
}

void utf8Prev(const char** cursor, const char* limit) noexcept {
  // Counted rather than compared with *cursor - 4, so a null limit never
  // forms a pointer before the start of the caller's buffer.
  const char* p = *cursor;
  if (p == limit) return;
  --p;
  for (int back = 1; back < 4 && p != limit && isContinuation(static_cast<unsigned char>(*p)); ++back) --p;
  *cursor = p;
}

bool isValidUtf8(const char* start, const char* end) noexcept {
  if (!start) return true;
  for (const char* p = start; !atEnd(p, end);) {
    if (nextChar(&p, end) < 0) return false;
  }
  return true;
}

void utf8Sanitise(DString& out, const char* start, const char* end, int maxBytes) {
  if (!start) return;
  // Valid stretches are appended whole; `run` is where the current one
  // began.
  const char* run = start;
  const char* p = start;
  int64_t written = 0;
  while (!atEnd(p, end)) {
    const char* next = p;
    bool bad = nextChar(&next, end) < 0;
    int64_t size = bad ? kReplacementLen : next - p;
    if (maxBytes >= 0 && written + size > maxBytes) break;
    written += size;
    if (bad) {
      if (p > run) out.append(run, static_cast<int>(p - run));
      out.append(kReplacement, kReplacementLen);
      run = next;
    }
    p = next;
  }
  if (p > run) out.append(run, static_cast<int>(p - run));
}

void utf8AdjustRange(const char* text, int* start, int* length) noexcept {
  if (!text) text = "";
  const int textLen = static_cast<int>(std::strlen(text));
  auto continuationAt = [text](int i) { return isContinuation(static_cast<unsigned char>(text[i])); };

  int s = std::clamp(*start, 0, textLen);
  int len = length ? *length : -1;
  // Moving the start forward keeps the end where it was, so the range
  // shrinks with it (but never turns into "to the end").
  while (continuationAt(s)) {
    ++s;
    if (len > 0) --len;
  }
  if (len < 0 || len > textLen - s) len = textLen - s;
  while (continuationAt(s + len)) ++len;

  *start = s;
  if (length) *length = len;
}

int utf8CharCount(const char* start, const char* end) noexcept {
  if (!start) return 0;
  int n = 0;
  for (const char* p = start; !atEnd(p, end); ++p) {
    if (!isContinuation(static_cast<unsigned char>(*p))) ++n;
  }
  return n;
}

int utf8DisplayWidth(const char* start, const char* end) noexcept {
  if (!start) return 0;
  int width = 0;
  for (const char* p = start; !atEnd(p, end);) {
    int32_t cp = nextChar(&p, end);
    if (cp < 0) break;
    int w = wcwidth(static_cast<wchar_t>(cp));
    width += w < 0 ? 1 : w;
  }
  return width;
}

MBuf<unsigned char> utf8ToLatin1(const char* text, int length) {
  if (!text) return {};
  const int textLen = static_cast<int>(length < 0 ? std::strlen(text) : strnlen(text, length));
  const char* end = text + textLen;
  // Every character takes at least one byte, so the text's length bounds
  // the result.
  std::unique_ptr<unsigned char[]> data(new unsigned char[textLen + 1]);
  int n = 0;
  for (const char* p = text; p < end;) {
    int32_t cp = nextChar(&p, end);
    if (cp == 0x20AC) {
      data[n++] = 0x80;
    } else if (cp >= 0 && cp < 256) {
      data[n++] = static_cast<unsigned char>(cp);
    } else {
      data[n++] = '?';
    }
  }
  data[n] = '\0';
  return MBuf<unsigned char>::adopt(data.release(), n);
}

MBuf<unsigned char> latin1ToUtf8(const unsigned char* bytes, int length) {
  if (!bytes) return {};
  const char* text = reinterpret_cast<const char*>(bytes);
  const size_t textLen = length < 0 ? std::strlen(text) : strnlen(text, length);
  std::unique_ptr<unsigned char[]> data(new unsigned char[3 * textLen + 1]);
  char* out = reinterpret_cast<char*>(data.get());
  for (size_t i = 0; i < textLen; ++i) {
    unsigned char b = bytes[i];
    if (b < 0x80) {
      *out++ = static_cast<char>(b);
    } else {
      utf8Encode(b == 0x80 ? 0x20AC : b, &out);
    }
  }
  *out = '\0';
  int n = static_cast<int>(out - reinterpret_cast<char*>(data.get()));
  return MBuf<unsigned char>::adopt(data.release(), n);
}

CharArray utf8Visible(const char* text, char escape) {
  if (!text) return CharArray();
  const unsigned char esc = static_cast<unsigned char>(escape);
  const size_t textLen = std::strlen(text);
  DString out;
  out.reserve(static_cast<int>(textLen + 1));

  // Stretches that stay as they are are appended whole; `run` is where the
  // current one began.
  const char* run = text;
  const char* p = text;
  while (*p) {
    unsigned char b = static_cast<unsigned char>(*p);
    const char* next = p + 1;
    char rep[16];  // at most four malformed bytes of four characters each
    int n = 0;
    if (b < 0x80) {
      if (b == esc) {
        rep[n++] = escape;
        rep[n++] = escape;
      } else if (b < 32 || b == 127) {
        rep[n++] = escape;
        rep[n++] = '^';
        rep[n++] = static_cast<char>(b ^ 64);
      } else {
        p = next;
        continue;
      }
    } else {
      if (utf8Decode(b, &next, 4) >= 0) {
        p = next;
        continue;
      }
      for (const char* m = p; m < next; ++m) {
        unsigned char c = static_cast<unsigned char>(*m);
        rep[n++] = escape;
        if (c & 0x80) {
          rep[n++] = 'M';
          c &= 0x7F;
        }
        if (c < 33 || c == 127) {
          rep[n++] = '^';
          rep[n++] = static_cast<char>(c ^ 64);
        } else {
          rep[n++] = '-';
          rep[n++] = static_cast<char>(c);
        }
      }
    }
    if (p > run) out.append(run, static_cast<int>(p - run));
    out.append(rep, n);
    p = next;
    run = next;
  }
  if (p > run) out.append(run, static_cast<int>(p - run));

  // An empty text leaves the string without a buffer; the result is still
  // a text, not null.
  CharArray result = out.release();
  if (!result) result = "";
  return result;
}

bool wildcardMatch(const char* pattern, const char* text, bool caseSensitive) noexcept {
  if (!pattern || !text) return false;
  auto same = [caseSensitive](char a, char b) {
    if (caseSensitive) return a == b;
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  };

  // On a mismatch, retry from the last star with it swallowing one more
  // character of the text.  Earlier stars never need revisiting, so this
  // is linear in pattern length times text length.
  const char* p = pattern;
  const char* t = text;
  const char* afterStar = nullptr;
  const char* starText = nullptr;
  while (*t) {
    if (*p == '*') {
      afterStar = ++p;
      starText = t;
    } else if (*p && same(*p, *t)) {
      ++p;
      ++t;
    } else if (afterStar) {
      p = afterStar;
      t = ++starText;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  return *p == '\0';
}

BadUtf8::BadUtf8(const char* message) noexcept : Exception(message) { checkAssert(); }

void BadUtf8::checkAssert() const noexcept { PLAT_ASSERT_TEXT(!badUtf8AssertEnabled(), "0", "%s", msg_); }

namespace {

// BadUtf8 may be thrown from another library's static initialiser before
// this file's run, so the parameter is made on first use.  It is never
// destroyed, as bad text may still turn up while the process ends.
BoolParameter& badUtf8AssertParam() {
  static BoolParameter* const param =
      new BoolParameter("_BadUtf8Assert", "Make bad UTF-8 cause an assertion failure for debugging", false, true);
  return *param;
}

// Registered at start-up, so the command line and configuration files can
// set it before any bad text is seen.
[[maybe_unused]] BoolParameter& registeredBadUtf8Assert = badUtf8AssertParam();

}  // namespace

bool badUtf8AssertEnabled() noexcept { return badUtf8AssertParam().getValue(); }

}  // namespace plat
