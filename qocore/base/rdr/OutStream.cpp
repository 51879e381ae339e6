#include "qocore/base/rdr/OutStream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/Utf8.h"

namespace rdr {

OutStream::~OutStream() = default;

void OutStream::writeBytes(const void* data, int32_t len) {
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
  if (ptr_ == end_) overrun(1, 1);
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
  int32_t needed = plat::strLen(format);
  for (;;) {
    if (end_ - ptr_ < needed + 1) overrun(needed + 1, 1);
    int32_t room = static_cast<int32_t>(end_ - ptr_);
    if (room < needed + 1) break;  // the window cannot grow that far
    va_list ap;
    va_copy(ap, args);
    int r = std::vsnprintf(reinterpret_cast<char*>(ptr_), room, format, ap);
    va_end(ap);
    if (r < 0) break;  // more room does not cure a formatting failure
    if (r < room) {
      ptr_ += r;
      return;
    }
    needed = r;
  }
  // Too large for one window (or unformattable): format on the heap and
  // copy through the ordinary path, which splits across windows.
  plat::DString text;
  va_list ap;
  va_copy(ap, args);
  text.vappendf(format, ap);
  va_end(ap);
  writeText(text.c_str(), text.length());
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
