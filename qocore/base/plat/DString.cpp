#include "qocore/base/plat/DString.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <utility>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/Utf8.h"

namespace plat {

namespace {

constexpr int kMinCapacity = 8;
// vsnprintf failing outright (an encoding error) is not cured by more
// room; stop doubling the guess once it passes this.
constexpr int kMaxFailedGuess = 1 << 16;

// Whether p points into the buffer [buf, buf + capacity).
bool inBuffer(const char* buf, int capacity, const char* p) noexcept {
  std::less_equal<const char*> le;
  return buf && p && le(buf, p) && !le(buf + capacity, p);
}

// The smallest power of two >= needed, at least kMinCapacity.
int32_t capacityFor(int64_t needed) {
  int64_t cap = kMinCapacity;
  while (cap < needed) cap *= 2;
  if (cap > INT32_MAX) throw std::bad_alloc();
  return static_cast<int32_t>(cap);
}

}  // namespace

DString::DString(int capacity) {
  if (capacity > 0) reserve(capacity);
}

DString::DString(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vappendf(format, args);
  va_end(args);
}

DString::DString(const DString& other) { append(other.buf_); }

DString::DString(DString&& other) noexcept
    : buf_(std::exchange(other.buf_, nullptr)),
      capacity_(std::exchange(other.capacity_, 0)),
      len_(std::exchange(other.len_, 0)) {}

DString& DString::operator=(const DString& other) {
  assign(other);
  return *this;
}

DString& DString::operator=(DString&& other) noexcept {
  if (this != &other) {
    delete[] buf_;
    buf_ = std::exchange(other.buf_, nullptr);
    capacity_ = std::exchange(other.capacity_, 0);
    len_ = std::exchange(other.len_, 0);
  }
  return *this;
}

CharArray DString::format(const char* format, ...) {
  DString s;
  va_list args;
  va_start(args, format);
  s.vappendf(format, args);
  va_end(args);
  return s.release();
}

void DString::measure() const noexcept { len_ = buf_ ? static_cast<int32_t>(std::strlen(buf_)) : 0; }

void DString::reserve(int n) {
  if (n > capacity_) grow(n - 1);
}

void DString::grow(int newLen) {
  if (buf_ && capacity_ > newLen) return;
  int32_t cap = capacityFor(int64_t(newLen) + 1);
  char* nb = new char[cap];
  if (buf_) {
    std::memcpy(nb, buf_, capacity_);
    delete[] buf_;
  } else {
    nb[0] = '\0';
  }
  buf_ = nb;
  capacity_ = cap;
}

DString& DString::append(const char* text, int len) {
  if (!text) return *this;
  int n = strNLen(text, len);
  int cur = length();
  // text may lie in our own buffer, which growing frees.
  if (inBuffer(buf_, capacity_, text)) {
    ptrdiff_t offset = text - buf_;
    grow(cur + n);
    text = buf_ + offset;
  } else {
    grow(cur + n);
  }
  std::memmove(buf_ + cur, text, n);
  buf_[cur + n] = '\0';
  len_ = cur + n;
  return *this;
}

DString& DString::appendf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vappendf(format, args);
  va_end(args);
  return *this;
}

DString& DString::vappendf(const char* format, va_list args) {
  int cur = length();
  int guess = strLen(format);
  for (;;) {
    grow(cur + guess);
    int room = capacity_ - cur;
    va_list ap;
    va_copy(ap, args);
    int r = std::vsnprintf(buf_ + cur, room, format, ap);
    va_end(ap);
    if (r >= 0 && r < room) {
      len_ = cur + r;
      return *this;
    }
    buf_[cur] = '\0';
    if (r >= 0) {
      guess = r;
    } else {
      if (guess >= kMaxFailedGuess) return *this;
      guess = guess > 0 ? guess * 2 : kMinCapacity;
    }
  }
}

DString& DString::appendChars(int32_t codepoint, int n) {
  if (n < 1 || codepoint == 0) return *this;
  char seq[4];
  int seqLen = 1;
  if (codepoint > 0 && codepoint < 0x80) {
    seq[0] = static_cast<char>(codepoint);
  } else {
    char* p = seq;
    utf8Encode(codepoint, &p);
    seqLen = static_cast<int>(p - seq);
  }
  int cur = length();
  int64_t newLen = cur + int64_t(seqLen) * n;
  if (newLen >= INT32_MAX) throw std::bad_alloc();
  grow(static_cast<int>(newLen));
  char* out = buf_ + cur;
  for (int i = 0; i < n; ++i, out += seqLen) std::memcpy(out, seq, seqLen);
  *out = '\0';
  len_ = static_cast<int32_t>(newLen);
  return *this;
}

void DString::splice(int from, int to, const char* text, int length) {
  int len = this->length();
  if (from < 0 || from > to || to > len) return;
  int n = strNLen(text, length);
  if (n == 0 && from == to) return;
  // Copy text that lies in our own buffer: the move below overwrites it.
  CharArray copy;
  if (inBuffer(buf_, capacity_, text)) {
    copy = CharArray(text, n);
    text = copy.get();
  }
  int newLen = len - (to - from) + n;
  grow(newLen);
  std::memmove(buf_ + from + n, buf_ + to, len - to + 1);
  if (n) std::memcpy(buf_ + from, text, n);
  len_ = newLen;
}

void DString::replaceAll(DString& out, const char* text, const char* needle, const char* replacement) {
  int findLen = strLen(needle);
  PLAT_ASSERT(findLen);
  if (!text) return;
  // Appending to out may move its buffer; read from a copy if text is in it.
  CharArray copy;
  if (inBuffer(out.buf_, out.capacity_, text)) {
    copy = CharArray(text);
    text = copy.get();
  }
  for (const char* hit; (hit = std::strstr(text, needle)) != nullptr; text = hit + findLen) {
    out.append(text, static_cast<int>(hit - text));
    out.append(replacement);
  }
  out.append(text);
}

void DString::replaceAll(const char* needle, const char* replacement) {
  DString out;
  replaceAll(out, buf_, needle, replacement);
  if (buf_) *this = std::move(out);
}

bool DString::makeValidUtf8() {
  if (!buf_ || isValidUtf8(buf_)) return false;
  DString out;
  utf8Sanitise(out, buf_);
  int len = out.length();
  delete[] buf_;
  buf_ = std::exchange(out.buf_, nullptr);
  // The repaired text fills its buffer exactly, as far as later growth
  // is concerned.
  capacity_ = len + 1;
  len_ = len;
  out.capacity_ = 0;
  out.len_ = 0;
  return true;
}

void DString::wordWrap(int width, int indent) {
  if (!buf_) return;
  auto isBreak = [](char c) { return c == ' ' || c == '\n' || c == '\0'; };
  DString out;
  const char* p = buf_;
  int lineLen = 0;
  int gap = 0;
  while (*p == ' ') ++gap, ++p;
  while (*p) {
    if (*p == '\n') {
      out.append("\n");
      lineLen = 0;
      gap = 0;
      ++p;
    } else {
      const char* word = p;
      while (!isBreak(*p)) ++p;
      const int wordWidth = utf8CharCount(word, p);
      if (lineLen + gap + wordWidth <= width || lineLen == 0) {
        out.appendChars(' ', gap);
        lineLen += gap;
      } else {
        out.append("\n");
        out.appendChars(' ', indent);
        lineLen = indent;
      }
      out.append(word, static_cast<int>(p - word));
      lineLen += wordWidth;
      gap = 0;
    }
    while (*p == ' ') ++gap, ++p;
  }
  *this = std::move(out);
}

void DString::assign(const DString& other) {
  if (this != &other) assign(other.buf_);
}

void DString::assign(const char* text, int len) {
  CharArray copy;
  if (inBuffer(buf_, capacity_, text)) {
    copy = CharArray(text, len);
    text = copy.get();
  }
  if (buf_) buf_[0] = '\0';
  len_ = 0;
  append(text, len);
}

void DString::clear() noexcept {
  delete[] buf_;
  buf_ = nullptr;
  capacity_ = 0;
  len_ = 0;
}

CharArray DString::release() noexcept {
  capacity_ = 0;
  len_ = 0;
  return CharArray::adopt(std::exchange(buf_, nullptr));
}

}  // namespace plat
