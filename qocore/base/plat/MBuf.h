#pragma once
// plat::MBuf<T>: a counted buffer of elements.  With `secure` set, every
// block it gives up (on release, on shrinking, on reallocation) is zeroed
// first, so keys and passwords never linger in freed memory.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "qocore/base/plat/Strings.h"

namespace rdr {
class InStream;
// Reads exactly n bytes from the stream into dest; lives with the streams so
// that buffers need not know the stream classes.
void readIntoBuffer(InStream& in, void* dest, int32_t n);
}  // namespace rdr

namespace plat {

template <typename T>
class MBuf {
  static_assert(std::is_trivially_copyable_v<T>, "MBuf holds plain elements");

 public:
  MBuf() noexcept = default;
  // n zeroed elements.
  explicit MBuf(int n, bool secure = false) : secure_(secure) {
    if (n > 0) {
      data_ = new T[n]();
      count_ = n;
    }
  }
  MBuf(const T* src, int n, bool secure = false) : MBuf(n, secure) {
    if (n > 0) std::memcpy(data_, src, sizeof(T) * n);
  }
  // n elements read from the stream (n * sizeof(T) bytes, as they come);
  // the stream's failures (EndOfStream, BlockException) pass through.
  MBuf(rdr::InStream& in, int n, bool secure = false) : MBuf(n, secure) {
    if (n > 0) rdr::readIntoBuffer(in, data_, static_cast<int32_t>(sizeof(T) * n));
  }
  MBuf(const MBuf& other) : MBuf(other.data_, other.count_, other.secure_) {}
  MBuf(MBuf&& other) noexcept
      : count_(std::exchange(other.count_, 0)), data_(std::exchange(other.data_, nullptr)), secure_(other.secure_) {}
  MBuf& operator=(const MBuf& other) {
    if (this != &other) {
      MBuf copy(other);
      swap(copy);
    }
    return *this;
  }
  MBuf& operator=(MBuf&& other) noexcept {
    if (this != &other) {
      release();
      count_ = std::exchange(other.count_, 0);
      data_ = std::exchange(other.data_, nullptr);
      secure_ = other.secure_;
    }
    return *this;
  }
  ~MBuf() { release(); }

  // Takes ownership of an array from new[] holding at least `count`
  // elements (one more for a NUL-terminated byte string).
  static MBuf adopt(T* data, int count, bool secure = false) noexcept {
    MBuf b;
    b.data_ = data;
    b.count_ = data ? count : 0;
    b.secure_ = secure;
    return b;
  }

  int count() const noexcept { return count_; }
  T* data() noexcept { return data_; }
  const T* data() const noexcept { return data_; }
  bool secure() const noexcept { return secure_; }
  void setSecure(bool on) noexcept { secure_ = on; }
  bool empty() const noexcept { return count_ == 0; }
  T& operator[](int i) noexcept { return data_[i]; }
  const T& operator[](int i) const noexcept { return data_[i]; }
  T* begin() noexcept { return data_; }
  T* end() noexcept { return data_ + count_; }
  const T* begin() const noexcept { return data_; }
  const T* end() const noexcept { return data_ + count_; }

  // The buffer becomes max(n, srcCount) elements long with the source's
  // elements at its start.  The block is kept when the new count does not
  // exceed the current one and either the current count is below 128 or
  // the new one is at least half of it; otherwise a new zeroed block is
  // taken.  Pass the buffer's own data (with the count to keep) to resize
  // in place.
  void resize(const T* src, int srcCount, int n) {
    if (srcCount < 0) srcCount = 0;
    int newCount = std::max(std::max(n, srcCount), 0);
    if (newCount <= count_ && (count_ < 128 || 2 * int64_t(newCount) >= count_)) {
      if (src != data_ && srcCount > 0) std::memmove(data_, src, sizeof(T) * srcCount);
      if (secure_) secureZero(data_ + newCount, sizeof(T) * (count_ - newCount));
      count_ = newCount;
      if (count_ == 0) release();
      return;
    }
    if (newCount == 0) {
      release();
      return;
    }
    T* block = new T[newCount]();
    if (srcCount > 0) std::memcpy(block, src, sizeof(T) * srcCount);
    release();
    data_ = block;
    count_ = newCount;
  }
  void resize(const MBuf& src, int n) { resize(src.data_, src.count_, n); }
  // Keeps the first min(n, count) elements.
  void resize(int n) { resize(data_, std::min(n, count_), n); }

  // Zeroes when secure, frees, and leaves the buffer empty.
  void release() noexcept {
    if (data_ && secure_) secureZero(data_, sizeof(T) * count_);
    delete[] data_;
    data_ = nullptr;
    count_ = 0;
  }
  void swap(MBuf& other) noexcept {
    std::swap(count_, other.count_);
    std::swap(data_, other.data_);
    std::swap(secure_, other.secure_);
  }

 private:
  int32_t count_ = 0;
  T* data_ = nullptr;
  bool secure_ = false;
};

using Buffer = MBuf<unsigned char>;

}  // namespace plat
