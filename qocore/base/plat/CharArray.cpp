#include "qocore/base/plat/CharArray.h"

#include <cstring>

#include "qocore/base/plat/Strings.h"

namespace plat {

CharArray::CharArray(const char* text, int len) {
  if (!text) return;
  int n = strNLen(text, len);
  buf_ = new char[n + 1];
  std::memcpy(buf_, text, n);
  buf_[n] = '\0';
}

CharArray CharArray::adopt(char* owned) noexcept {
  CharArray a;
  a.buf_ = owned;
  return a;
}

CharArray CharArray::zeroed(size_t size) {
  CharArray a;
  // Even a zero-sized request yields a readable empty string.
  a.buf_ = new char[size ? size : 1]();
  return a;
}

CharArray::CharArray(const CharArray& other) : CharArray(other.buf_) {}

CharArray& CharArray::operator=(const CharArray& other) {
  if (this != &other) *this = other.buf_;
  return *this;
}

CharArray& CharArray::operator=(CharArray&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

CharArray& CharArray::operator=(const char* text) {
  // Copy before freeing: text may point into the held buffer.
  CharArray copy(text);
  reset(copy.release());
  return *this;
}

void CharArray::reset(char* owned) noexcept {
  if (owned != buf_) delete[] buf_;
  buf_ = owned;
}

}  // namespace plat
