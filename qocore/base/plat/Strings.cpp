#include "qocore/base/plat/Strings.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Utf8.h"

namespace plat {

namespace {

bool isSpaceChar(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The number of bytes a sequence starting with lead byte b claims; 1 for
// ASCII and for bytes that cannot start a sequence.
int utf8SeqLen(unsigned char b) noexcept {
  if (b >= 0xC0 && b < 0xE0) return 2;
  if (b >= 0xE0 && b < 0xF0) return 3;
  if (b >= 0xF0 && b < 0xF8) return 4;
  return 1;
}

// dst[0, end) holds text whose tail may be a sequence cut short.  Looking
// back at most four bytes, but not before `limit` (the start of what was
// just added), cut before the nearest lead byte whose sequence runs past
// end.  Terminates the text and returns its length.
int cutBackUtf8(char* dst, int limit, int end) noexcept {
  int stop = end - 4 > limit ? end - 4 : limit;
  for (int i = end - 1; i >= stop; --i) {
    unsigned char b = static_cast<unsigned char>(dst[i]);
    if ((b & 0xC0) == 0x80) continue;  // continuation byte: keep looking
    if (b >= 0xC0 && i + utf8SeqLen(b) > end) end = i;
    break;
  }
  dst[end] = '\0';
  return end;
}

// Length of the text already in a buffer of `size` bytes; a buffer found
// without a NUL is terminated at its last byte.
int heldLength(char* dst, int size) noexcept {
  int cur = strNLen(dst, size);
  if (cur >= size) {
    cur = size - 1;
    dst[cur] = '\0';
  }
  return cur;
}

}  // namespace

int strLen(const char* s) noexcept { return s ? static_cast<int>(std::strlen(s)) : 0; }

int strNLen(const char* s, int n) noexcept {
  if (!s) return 0;
  if (n < 0) return static_cast<int>(std::strlen(s));
  return static_cast<int>(strnlen(s, static_cast<size_t>(n)));
}

CharArray strDup(const char* s, int n) { return CharArray(s, n); }

char* strDupMalloc(const char* s) {
  if (!s) return nullptr;
  size_t n = std::strlen(s) + 1;
  char* p = static_cast<char*>(std::malloc(n));
  if (!p) throw std::bad_alloc();
  std::memcpy(p, s, n);
  return p;
}

int strCompare(const char* a, const char* b) noexcept {
  if (!a || !b) return (a ? 1 : 0) - (b ? 1 : 0);
  return std::strcmp(a, b);
}

// ---- Fixed-buffer helpers ----

int safeStrCopy(char* dst, const char* src, int size) noexcept {
  int n = strLen(src);
  if (size <= 0) return n;
  if (n < size) {
    if (n) std::memcpy(dst, src, n);
    dst[n] = '\0';
  } else {
    std::memcpy(dst, src, size - 1);
    cutBackUtf8(dst, 0, size - 1);
  }
  return n;
}

int safeStrAppend(char* dst, int size, const char* src, int len) noexcept {
  if (size <= 0) return 0;
  int cur = heldLength(dst, size);
  int n = strNLen(src, len);
  int room = size - 1 - cur;
  if (n <= room) {
    if (n) std::memcpy(dst + cur, src, n);
    dst[cur + n] = '\0';
    return cur + n;
  }
  std::memcpy(dst + cur, src, room);
  return cutBackUtf8(dst, cur, size - 1);
}

int safeVsnprintfAppend(char* dst, int size, const char* format, va_list args) noexcept {
  if (size <= 0) return 0;
  int cur = heldLength(dst, size);
  int room = size - cur;
  va_list ap;
  va_copy(ap, args);
  int r = std::vsnprintf(dst + cur, room, format, ap);
  va_end(ap);
  if (r < 0) {
    dst[cur] = '\0';
    return cur;
  }
  if (r < room) return cur + r;
  return cutBackUtf8(dst, cur, size - 1);
}

int safeSnprintfAppend(char* dst, int size, const char* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  int r = safeVsnprintfAppend(dst, size, format, args);
  va_end(args);
  return r;
}

int safeCharsAppend(char* dst, int size, int32_t codepoint, int n) noexcept {
  if (size <= 0) return 0;
  int cur = heldLength(dst, size);
  if (n < 1 || codepoint == 0) return cur;
  char seq[4];
  int seqLen = 1;
  if (codepoint > 0 && codepoint < 0x80) {
    seq[0] = static_cast<char>(codepoint);
  } else {
    try {
      char* p = seq;
      utf8Encode(codepoint, &p);
      seqLen = static_cast<int>(p - seq);
    } catch (const Exception&) {
      return cur;  // not a character: nothing to append
    }
  }
  int copies = (size - 1 - cur) / seqLen;
  if (copies > n) copies = n;
  for (int i = 0; i < copies; ++i, cur += seqLen) std::memcpy(dst + cur, seq, seqLen);
  dst[cur] = '\0';
  return cur;
}

int snprintfBuf(char (&buf)[256], const char* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  int r = safeVsnprintfAppend(buf, sizeof buf, format, args);
  va_end(args);
  return r;
}

int snprintfBuf64(char (&buf)[64], const char* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  int r = safeVsnprintfAppend(buf, sizeof buf, format, args);
  va_end(args);
  return r;
}

int formatInto16(char (&buf)[16], const char* format, ...) noexcept {
  std::memset(buf, 0, sizeof buf);
  va_list args;
  va_start(args, format);
  int r = safeVsnprintfAppend(buf, sizeof buf, format, args);
  va_end(args);
  return r;
}

// ---- Comparisons and searches ----

bool startsWith(const char* s, const char* prefix) noexcept {
  if (!prefix) return true;
  if (!s) return !*prefix;
  return std::strncmp(s, prefix, std::strlen(prefix)) == 0;
}

bool startsWithNoCase(const char* s, const char* prefix) noexcept {
  if (!prefix) return true;
  if (!s) return !*prefix;
  return strncasecmp(s, prefix, std::strlen(prefix)) == 0;
}

bool endsWith(const char* s, const char* suffix) noexcept {
  if (!suffix) return true;
  if (!s) return !*suffix;
  size_t ls = std::strlen(s), lx = std::strlen(suffix);
  return ls >= lx && std::strcmp(s + ls - lx, suffix) == 0;
}

bool endsWithNoCase(const char* s, const char* suffix) noexcept {
  if (!suffix) return true;
  if (!s) return !*suffix;
  size_t ls = std::strlen(s), lx = std::strlen(suffix);
  return ls >= lx && strcasecmp(s + ls - lx, suffix) == 0;
}

const char* strCaseFind(const char* hay, const char* needle) noexcept {
  if (!needle || !*needle) return hay;
  if (!hay) return nullptr;
  size_t n = std::strlen(needle);
  for (const char* p = hay; *p; ++p) {
    if (strncasecmp(p, needle, n) == 0) return p;
  }
  return nullptr;
}

bool containsCharBefore(const char* s, const char* end, char c) noexcept {
  if (!s) return false;
  for (const char* p = s; (!end || p < end) && *p; ++p) {
    if (*p == c) return true;
  }
  return false;
}

uint64_t strHashFnv1a(const char* s) noexcept {
  uint64_t h = 0xcbf29ce484222325ULL;
  if (!s) return h;
  for (const char* p = s; *p; ++p) {
    // Sign-extend explicitly: plain char is unsigned on some targets, and
    // stored hashes must not depend on that.
    h ^= static_cast<uint64_t>(static_cast<int64_t>(static_cast<signed char>(*p)));
    h *= 0x100000001b3ULL;
  }
  return h;
}

// ---- In-place edits ----

bool hasNonSpace(const char* s) noexcept {
  if (!s) return false;
  for (; *s; ++s) {
    if (!isSpaceChar(*s)) return true;
  }
  return false;
}

void trimLeft(char* s) noexcept {
  if (!s) return;
  char* p = s;
  while (isSpaceChar(*p)) ++p;
  if (p != s) std::memmove(s, p, std::strlen(p) + 1);
}

void trimRight(char* s) noexcept {
  if (!s) return;
  size_t n = std::strlen(s);
  while (n > 0 && isSpaceChar(s[n - 1])) --n;
  s[n] = '\0';
}

void strRemoveChars(char* s, const char* set) noexcept {
  if (!s || !set || !*set) return;
  char* out = s;
  for (const char* p = s; *p; ++p) {
    if (!std::strchr(set, *p)) *out++ = *p;
  }
  *out = '\0';
}

void insertEvery(CharArray& s, char sep, int n) {
  if (n <= 0 || !s) return;
  int len = strLen(s.get());
  int extra = len > 0 ? (len - 1) / n : 0;
  if (extra == 0) return;
  CharArray out = CharArray::zeroed(len + extra + 1);
  char* o = out.get();
  for (int i = 0; i < len; ++i) {
    if (i > 0 && i % n == 0) *o++ = sep;
    *o++ = s[i];
  }
  s = std::move(out);
}

void toUpperAscii(char* s) noexcept {
  if (!s) return;
  for (; *s; ++s) {
    if (*s >= 'a' && *s <= 'z') *s = static_cast<char>(*s - 'a' + 'A');
  }
}

void toLowerAscii(char* s) noexcept {
  if (!s) return;
  for (; *s; ++s) {
    if (*s >= 'A' && *s <= 'Z') *s = static_cast<char>(*s - 'A' + 'a');
  }
}

void toUpperInPlace(char* s) noexcept {
  if (!s) return;
  for (; *s; ++s) *s = static_cast<char>(std::toupper(static_cast<unsigned char>(*s)));
}

void toLowerInPlace(char* s) noexcept {
  if (!s) return;
  for (; *s; ++s) *s = static_cast<char>(std::tolower(static_cast<unsigned char>(*s)));
}

// ---- Tokenisers ----
//
// All three share one shape: skip leading separators (with skipRuns), find
// the end of the token, cut there, and leave the cursor after the
// separator (and after the run that follows, with skipRuns).  `sepAt`
// returns the length of the separator at p, or 0.

namespace {

template <typename SepAt>
char* nextToken(char** cursor, bool skipRuns, char* which, SepAt sepAt) noexcept {
  if (which) *which = '\0';
  if (!cursor || !*cursor) return nullptr;
  char* p = *cursor;
  if (skipRuns) {
    for (int k; *p && (k = sepAt(p)) > 0;) p += k;
    if (!*p) {
      *cursor = nullptr;
      return nullptr;
    }
  }
  char* token = p;
  int k = 0;
  while (*p && (k = sepAt(p)) == 0) ++p;
  if (!*p) {
    *cursor = nullptr;
    return token;
  }
  if (which) *which = *p;
  *p = '\0';
  p += k;
  if (skipRuns) {
    while (*p && (k = sepAt(p)) > 0) p += k;
    if (!*p) p = nullptr;
  }
  *cursor = p;
  return token;
}

}  // namespace

char* strNextToken(char** cursor, char sep, bool skipRuns) noexcept {
  return nextToken(cursor, skipRuns, nullptr, [sep](const char* p) { return *p == sep ? 1 : 0; });
}

char* strNextTokenAny(char** cursor, const char* seps, char* which, bool skipRuns) noexcept {
  return nextToken(cursor, skipRuns, which, [seps](const char* p) { return seps && std::strchr(seps, *p) ? 1 : 0; });
}

char* strNextTokenStr(char** cursor, const char* sepText, bool skipRuns) noexcept {
  size_t n = strLen(sepText);
  return nextToken(cursor, skipRuns, nullptr, [sepText, n](const char* p) {
    return n && std::strncmp(p, sepText, n) == 0 ? static_cast<int>(n) : 0;
  });
}

char* strSplitLast(char** cursor, char c) noexcept {
  if (!cursor || !*cursor) return nullptr;
  char* text = *cursor;
  char* last = std::strrchr(text, c);
  if (!last) {
    *cursor = nullptr;
    return text;
  }
  *last = '\0';
  return last + 1;
}

// ---- Lists, sets and maps ----

bool CaseLess::operator()(const char* a, const char* b) const noexcept {
  return strcasecmp(a ? a : "", b ? b : "") < 0;
}

namespace {

template <typename Add>
void splitFields(const char* text, char c, Add add) {
  if (!text) return;
  for (;;) {
    const char* end = std::strchr(text, c);
    if (!end || c == '\0') {
      add(CharArray(text));
      return;
    }
    add(CharArray(text, static_cast<int>(end - text)));
    text = end + 1;
  }
}

}  // namespace

void strSplitList(const char* text, char c, CharArrayList& list) {
  splitFields(text, c, [&list](CharArray field) { list.push_back(std::move(field)); });
}

StringSet splitToSet(const char* text, char c) {
  StringSet set;
  splitFields(text, c, [&set](CharArray field) { set.insert(std::move(field)); });
  return set;
}

void joinStrings(DString& out, StringSet::const_iterator first, StringSet::const_iterator last, const char* sep) {
  for (auto it = first; it != last; ++it) {
    if (it != first) out.append(sep);
    out.append(it->c_str());
  }
}

void addUniqueStr(CharArrayList& list, const char* s) {
  for (const CharArray& item : list) {
    if (strCompare(item.get(), s) == 0) return;
  }
  list.emplace_back(s);
}

CaseMap::iterator CaseMap::findOrInsert(const char* key) {
  iterator it = find(key);
  if (it == end()) it = emplace(CharArray(key), CharArray()).first;
  return it;
}

// ---- Secure helpers ----

void secureZero(void* p, size_t n) noexcept {
  if (p && n) explicit_bzero(p, n);
}

void secureCopy(void* dst, const void* src, size_t n) noexcept {
  // Volatile accesses keep the compiler from turning the loop into memcpy.
  volatile unsigned char* d = static_cast<volatile unsigned char*>(dst);
  const volatile unsigned char* s = static_cast<const volatile unsigned char*>(src);
  for (size_t i = 0; i < n; ++i) d[i] = s[i];
}

bool constTimeEquals(const void* a, const void* b, size_t n) noexcept {
  const volatile unsigned char* pa = static_cast<const volatile unsigned char*>(a);
  const volatile unsigned char* pb = static_cast<const volatile unsigned char*>(b);
  unsigned char diff = 0;
  for (size_t i = 0; i < n; ++i) diff = static_cast<unsigned char>(diff | (pa[i] ^ pb[i]));
  return diff == 0;
}

void secureFreeStr(CharArray& s, CharArray replacement) noexcept {
  if (s) secureZero(s.get(), std::strlen(s.get()));
  s = std::move(replacement);
}

void secureAssignStr(CharArray& s, const char* text, int len) {
  // Copy first: text may be the held string itself.
  CharArray copy(text, len);
  secureFreeStr(s, std::move(copy));
}

}  // namespace plat
