#include "qocore/base/rdr/MemOutStream.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace rdr {

MemOutStream::MemOutStream(int32_t initialSize, int32_t limit) : limit_(limit > 0 ? limit : 0) {
  if (initialSize < 0) initialSize = kDefaultSize;
  if (initialSize > 0) buf_.reset(new uint8_t[static_cast<size_t>(initialSize)]);
  capacity_ = initialSize;
  ptr_ = start();
  setLimit(limit_);
}

MemOutStream::~MemOutStream() = default;

void MemOutStream::setLimit(int32_t limit) {
  limit_ = limit > 0 ? limit : 0;
  const int32_t window = limit_ ? std::min(limit_, capacity_) : capacity_;
  // A limit below what is written already leaves no room, but keeps it.
  end_ = std::max(ptr_, start() + window);
}

int32_t MemOutStream::spaceLimit() { return limit_ ? limit_ - length() : kNoLimit; }

int32_t MemOutStream::overrun(int32_t itemSize, int32_t nItems) {
  const int64_t used = length();
  // Room for all the items or double the capacity, whichever is more, but
  // never past the limit (or the largest size a stream can count).
  int64_t capacity = std::max(used + int64_t(itemSize) * nItems, 2 * int64_t(capacity_));
  capacity = std::min<int64_t>(capacity, limit_ ? limit_ : kNoLimit);
  if (used + itemSize > capacity) throw OutStreamFull();
  reallocate(capacity);
  return static_cast<int32_t>(std::min<int64_t>(nItems, (end_ - ptr_) / itemSize));
}

namespace {

// A large block (a downloaded body is sized once from its length) asks for
// huge pages: where first touches of memory are dear, filling it costs
// about half as much.  Only the whole 2 MiB pages inside the block are
// advised; the advice is a hint, and its failure changes nothing.
void adviseHugePages(uint8_t* block, int64_t size) {
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  if (size < int64_t{16} * static_cast<int64_t>(kHuge)) return;
  const uintptr_t first = (reinterpret_cast<uintptr_t>(block) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t last = (reinterpret_cast<uintptr_t>(block) + static_cast<uintptr_t>(size)) & ~(kHuge - 1);
  if (last > first) (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace

void MemOutStream::reallocate(int64_t capacity) {
  const ptrdiff_t used = ptr_ - start();
  std::unique_ptr<uint8_t[]> bigger(new uint8_t[static_cast<size_t>(capacity)]);
  adviseHugePages(bigger.get(), capacity);
  if (used > 0) std::memcpy(bigger.get(), start(), static_cast<size_t>(used));
  buf_ = std::move(bigger);
  capacity_ = static_cast<int32_t>(capacity);
  ptr_ = start() + used;
  end_ = start() + capacity_;
}

void MemOutStream::writeBytesSlow(const void* data, int32_t len) {
  if (len <= 0) return;
  if (end_ - ptr_ < len) overrun(len, 1);
  std::memcpy(ptr_, data, static_cast<size_t>(len));
  ptr_ += len;
}

void MemOutStream::release() noexcept {
  buf_.reset();
  ptr_ = end_ = nullptr;
  capacity_ = 0;
}

plat::Buffer MemOutStream::takeBuffer() {
  plat::Buffer out;
  const int32_t n = length();
  if (n > 0) out = plat::Buffer::adopt(buf_.release(), n);
  release();
  return out;
}

std::unique_ptr<uint8_t[]> MemOutStream::takeData() {
  std::unique_ptr<uint8_t[]> out = std::move(buf_);
  release();
  return out;
}

plat::CharArray MemOutStream::takeString() {
  if (length() == 0 || ptr_[-1] != 0) {
    if (ptr_ == end_) reallocate(int64_t(length()) + 1);
    *ptr_++ = 0;
  }
  plat::CharArray out = plat::CharArray::adopt(reinterpret_cast<char*>(buf_.release()));
  release();
  return out;
}

void MemOutStream::moveToBuffer(plat::Buffer& target) {
  const bool secure = target.secure();
  target = takeBuffer();  // releasing the old block wipes it when secure
  target.setSecure(secure);
}

void MemOutStream::writeNul() {
  if (length() > 0 && ptr_[-1] == 0) return;
  writeU8(0);
}

}  // namespace rdr
