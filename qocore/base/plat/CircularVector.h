#pragma once
// plat::CircularVector<T>: a ring buffer of elements, cheap to append to at
// the back and to take from the front.
//
// The capacity is a power of two, so an element's slot is its counter AND
// the mask.  The begin and end counters are 64-bit and never wrap; the size
// is their difference.  Appending to a full vector grows it to the smallest
// power of two above the size (at least 8) and copies the elements to the
// first slots in order.  Elements are moved, never copied, and a vacated
// slot is reset to T{} so that it lets go of whatever it held.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "qocore/base/plat/Exception.h"

namespace plat {

template <typename T>
class CircularVector {
 public:
  CircularVector() noexcept = default;
  CircularVector(const CircularVector&) = delete;
  CircularVector& operator=(const CircularVector&) = delete;
  CircularVector(CircularVector&& other) noexcept { swap(other); }
  CircularVector& operator=(CircularVector&& other) noexcept {
    CircularVector old(std::move(other));
    swap(old);
    return *this;
  }

  size_t size() const noexcept { return static_cast<size_t>(end_ - begin_); }
  bool empty() const noexcept { return end_ == begin_; }
  uint32_t capacity() const noexcept { return capacity_; }

  // The i-th element from the front.
  T& operator[](size_t i) noexcept {
    PLAT_ASSERT(i < size());
    return slots_[(begin_ + i) & mask_];
  }
  const T& operator[](size_t i) const noexcept {
    PLAT_ASSERT(i < size());
    return slots_[(begin_ + i) & mask_];
  }
  T& front() noexcept { return (*this)[0]; }
  T& back() noexcept { return (*this)[size() - 1]; }

  void push_back(T value) {
    if (size() == capacity_) grow();
    slots_[end_ & mask_] = std::move(value);
    ++end_;
  }

  void pop_front() noexcept {
    PLAT_ASSERT(!empty());
    slots_[begin_ & mask_] = T{};
    ++begin_;
  }

  // Removes the i-th element; the later ones move down by one.
  void erase(size_t i) noexcept {
    PLAT_ASSERT(i < size());
    if (i == 0) {
      pop_front();
      return;
    }
    for (uint64_t c = begin_ + i; c + 1 < end_; ++c) slots_[c & mask_] = std::move(slots_[(c + 1) & mask_]);
    --end_;
    slots_[end_ & mask_] = T{};
  }

  void clear() noexcept {
    while (!empty()) pop_front();
  }

  // The capacity an append to a full vector of `size` elements grows to.
  static uint32_t grownCapacity(uint64_t size) noexcept {
    uint64_t newCapacity = size < 8 ? 8 : std::bit_ceil(size + 1);
    PLAT_ASSERT(0 < newCapacity && newCapacity <= 0x3fffffffu);
    return static_cast<uint32_t>(newCapacity);
  }

 private:
  void grow() {
    uint32_t newCapacity = grownCapacity(size());
    std::unique_ptr<T[]> slots(new T[newCapacity]());
    size_t n = size();
    for (size_t i = 0; i < n; ++i) slots[i] = std::move(slots_[(begin_ + i) & mask_]);
    slots_ = std::move(slots);
    capacity_ = newCapacity;
    mask_ = newCapacity - 1;
    begin_ = 0;
    end_ = n;
  }

  void swap(CircularVector& other) noexcept {
    std::swap(capacity_, other.capacity_);
    std::swap(mask_, other.mask_);
    std::swap(begin_, other.begin_);
    std::swap(end_, other.end_);
    std::swap(slots_, other.slots_);
  }

  uint32_t capacity_ = 0;
  uint32_t mask_ = 0;
  uint64_t begin_ = 0;
  uint64_t end_ = 0;
  std::unique_ptr<T[]> slots_;
};

}  // namespace plat
