#include "qocore/base/rdr/OutStream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/Utf8.h"

namespace rdr {

OutStream::~OutStream() = default;

void OutStream::writeBytesSlow(const void* data, int32_t len) {
  const uint8_t* in = static_cast<const uint8_t*>(data);
  while (len > 0) {
    if (ptr_ == end_) overrun(1, len);
    int32_t take = std::min<int32_t>(len, static_cast<int32_t>(end_ - ptr_));
    std::memcpy(ptr_, in, take);
    ptr_ += take;
    in += take;
    len -= take;
  }
}

void OutStream::flush() {}

OutStream* OutStream::lowerStream() { return this; }

int32_t OutStream::pendingBytes() {
  OutStream* lower = lowerStream();
  return lower == this ? 0 : lower->pendingBytes();
}

bool OutStream::closeForWriting() { return false; }

void OutStream::setThrowErrors(bool) {}

void OutStream::writeString32(const char* text, int32_t maxLen) {
  int32_t n = plat::strLen(text);
  if (maxLen >= 0 && n > maxLen) n = maxLen;
  writeU32(static_cast<uint32_t>(n));
  writeBytes(text, n);
}

void OutStream::writeString8(const char* text) {
  int32_t n = std::min(plat::strLen(text), 255);
  writeU8(static_cast<uint8_t>(n));
  writeBytes(text, n);
}

void OutStream::skipBytes(int32_t n) {
  while (n > 0) {
    if (ptr_ == end_) overrun(1, n);
    int32_t take = std::min<int32_t>(n, static_cast<int32_t>(end_ - ptr_));
    ptr_ += take;
    n -= take;
  }
}

void OutStream::terminate() {
  // The NUL is not part of the text: it goes where there is room, and a
  // stream that the text has just filled is not pushed past its limit for
  // it (a caller retrying after OutStreamFull would write the text twice).
  if (ptr_ == end_) {
    if (spaceLimit() <= 0) return;
    try {
      overrun(1, 1);
    } catch (const OutStreamFull&) {
      return;  // full exactly at the end of the text, which is complete
    }
  }
  *ptr_ = 0;
}

void OutStream::writeText(const char* text, int32_t len) {
  writeBytes(text, plat::strNLen(text, len));
  terminate();
}

void OutStream::printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
}

void OutStream::vprintf(const char* format, va_list args) {
  // Straight into the window when the text and its NUL fit there.
  const int32_t room = static_cast<int32_t>(end_ - ptr_);
  va_list ap;
  va_copy(ap, args);
  int r = std::vsnprintf(room > 0 ? reinterpret_cast<char*>(ptr_) : nullptr, room, format, ap);
  va_end(ap);
  if (r >= 0 && r < room) {
    ptr_ += r;
    return;
  }
  // Longer than the window: formatted on the heap and written in pieces
  // through the window, as every stream can take it.  A text that cannot
  // be formatted writes nothing.
  std::vector<char> text;
  if (r > 0) {
    text.resize(static_cast<size_t>(r) + 1);
    va_copy(ap, args);
    r = std::vsnprintf(text.data(), text.size(), format, ap);
    va_end(ap);
  }
  if (r > 0) writeBytes(text.data(), r);
  terminate();
}

void OutStream::pad(int32_t codepoint, int32_t count) {
  if (codepoint >= 0 && codepoint < 0x80) {
    for (int32_t i = 0; i < count; ++i) writeU8(static_cast<uint8_t>(codepoint));
  } else {
    char seq[4];
    char* end = seq;
    plat::utf8Encode(codepoint, &end);
    for (int32_t i = 0; i < count; ++i) writeBytes(seq, static_cast<int32_t>(end - seq));
  }
  terminate();
}

}  // namespace rdr
