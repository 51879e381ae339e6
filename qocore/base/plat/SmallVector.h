#pragma once
// plat::SmallVector<T, N>: a growable array of plain elements that keeps its
// first N elements in an inline buffer, so a short-lived vector on the
// stack needs no heap memory until it outgrows that buffer.  Elements are
// copied bytewise, never constructed or destroyed.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "qocore/base/plat/Exception.h"

namespace plat {

template <typename T, int N = 16>
class SmallVector {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_default_constructible_v<T>,
                "SmallVector holds plain elements");
  static_assert(N > 0, "SmallVector needs an inline buffer");

 public:
  // The largest capacity a vector may grow from.
  static constexpr uint32_t kMaxCapacity = 0x3fffffffu;

  SmallVector() noexcept : size_(0), capacity_(N), data_(inline_), isSmall_(true) {}
  ~SmallVector() {
    if (!isSmall_) delete[] data_;
  }
  // The inline buffer moves with the object, so copying would have to
  // re-point it; nothing needs that.
  SmallVector(const SmallVector&) = delete;
  SmallVector& operator=(const SmallVector&) = delete;

  int size() const noexcept { return size_; }
  int capacity() const noexcept { return capacity_; }
  bool empty() const noexcept { return size_ == 0; }
  // Whether the elements are in the inline buffer.
  bool isSmall() const noexcept { return isSmall_; }
  T* data() noexcept { return data_; }
  const T* data() const noexcept { return data_; }
  T& operator[](int i) noexcept { return data_[i]; }
  const T& operator[](int i) const noexcept { return data_[i]; }
  T* begin() noexcept { return data_; }
  T* end() noexcept { return data_ + size_; }
  const T* begin() const noexcept { return data_; }
  const T* end() const noexcept { return data_ + size_; }
  T& back() noexcept { return data_[size_ - 1]; }

  void push_back(const T& value) {
    if (size_ == capacity_) {
      // The value may live in the storage that growing frees.
      T copy = value;
      grow(size_ + 1);
      data_[size_++] = copy;
      return;
    }
    data_[size_++] = value;
  }
  void pop_back() noexcept { --size_; }
  void clear() noexcept { size_ = 0; }
  // Elements past the old size are left uninitialised.
  void resize(int n) {
    if (n > capacity_) grow(n);
    size_ = n;
  }
  void reserve(int n) {
    if (n > capacity_) grow(n);
  }

  // Exchanges the contents.  Both vectors must be inline or both on the
  // heap: heap vectors exchange their storage, inline ones their elements.
  void swap(SmallVector& other) noexcept {
    PLAT_ASSERT_TEXT(isSmall_ == other.isSmall_, "isSmall == other.isSmall");
    if (!isSmall_) {
      std::swap(data_, other.data_);
      std::swap(size_, other.size_);
      std::swap(capacity_, other.capacity_);
    } else if (size_ >= other.size_) {
      takeSmaller(other);
    } else {
      other.takeSmaller(*this);
    }
  }

 private:
  // Exchanges the elements of two inline vectors, `smaller` holding no
  // more elements than this one and having room for all of them.
  void takeSmaller(SmallVector& smaller) noexcept {
    PLAT_ASSERT(smaller.size_ <= size_ && smaller.capacity_ >= size_);
    for (int i = 0; i < smaller.size_; ++i) std::swap(data_[i], smaller.data_[i]);
    std::memcpy(static_cast<void*>(smaller.data_ + smaller.size_), data_ + smaller.size_,
                sizeof(T) * (size_ - smaller.size_));
    std::swap(size_, smaller.size_);
  }

  // Moves the elements to heap storage for at least n of them: twice the
  // old capacity or n, whichever is larger, and at least 16.
  void grow(int n) {
    const uint32_t oldCapacity = static_cast<uint32_t>(capacity_);
    int64_t wanted = std::max<int64_t>({2 * static_cast<int64_t>(oldCapacity), n, 16});
    const int32_t newCapacity = wanted > INT32_MAX ? 0 : static_cast<int32_t>(wanted);
    PLAT_ASSERT(0 < newCapacity && oldCapacity <= 0x3fffffffu);
    T* storage = new T[newCapacity];
    std::memcpy(static_cast<void*>(storage), data_, sizeof(T) * size_);
    if (!isSmall_) delete[] data_;
    data_ = storage;
    capacity_ = newCapacity;
    isSmall_ = false;
  }

  int32_t size_;
  int32_t capacity_;
  T* data_;
  bool isSmall_;
  T inline_[N];
};

}  // namespace plat
