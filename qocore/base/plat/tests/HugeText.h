#pragma once
// A NUL-terminated text of gigabytes of one repeated character that costs
// one megabyte: one shared block mapped again and again over a reserved
// address range, with a zero page after it for the NUL.  For testing how
// code handles lengths beyond 2^31 without a real buffer that size.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

#include "qocore/base/plat/UniqueFd.h"

namespace plat_test {

class HugeText {
 public:
  static constexpr size_t kBlock = size_t(1) << 20;
  static constexpr size_t kPage = 4096;

  // `length` must be a multiple of the page size.  check ok() before use.
  HugeText(char c, size_t length) : size_((length + kBlock - 1) / kBlock * kBlock + kPage) {
    plat::UniqueFd fd(memfd_create("huge-text", MFD_CLOEXEC));
    if (!fd || length % kPage != 0 || ftruncate(fd.get(), kBlock) != 0) return;
    void* block = mmap(nullptr, kBlock, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (block == MAP_FAILED) return;
    std::memset(block, c, kBlock);
    munmap(block, kBlock);
    void* base = mmap(nullptr, size_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (base == MAP_FAILED) return;
    base_ = static_cast<char*>(base);
    for (size_t at = 0; at < length; at += kBlock) {
      if (mmap(base_ + at, kBlock, PROT_READ, MAP_SHARED | MAP_FIXED | MAP_POPULATE, fd.get(), 0) == MAP_FAILED) return;
    }
    // The page after the text reads as zeros: the terminating NUL.
    if (mmap(base_ + length, kPage, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED) return;
    ok_ = true;
  }
  ~HugeText() {
    if (base_) munmap(base_, size_);
  }
  HugeText(const HugeText&) = delete;
  HugeText& operator=(const HugeText&) = delete;

  bool ok() const noexcept { return ok_; }
  const char* get() const noexcept { return base_; }

 private:
  size_t size_;
  char* base_ = nullptr;
  bool ok_ = false;
};

}  // namespace plat_test
