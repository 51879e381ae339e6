#include "qocore/base/rdr/BufferedOutStream.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/rdr/HexTrace.h"

namespace rdr {

namespace {
PLAT_LOG_SOURCE(vlog, "BufferedOutStream");
}  // namespace

plat::IntParameter maxOutBufferSize(
    "MaxOutBufferSize",
    "The maximum number of bytes to buffer internally when writing to slow connections.  Larger values "
    "improve concurrency, smaller values reduce memory usage.  Changes to this setting affect new "
    "connections only.",
    134217728, 16384, 2147483647);

BufferedOutStream::BufferedOutStream(int32_t bufSize, int32_t maxBufSize) {
  if (bufSize < 0) bufSize = kDefaultBufSize;
  if (maxBufSize < 0) maxBufSize = maxOutBufferSize.getValue();
  bufSize_ = bufSize;
  maxBufSize_ = std::max(bufSize, maxBufSize);
  if (bufSize > 0) buf_.reset(new uint8_t[static_cast<size_t>(bufSize)]);
  ptr_ = flushed_ = start();
  end_ = start() + std::min(bufSize, kWindowStep);
}

BufferedOutStream::~BufferedOutStream() = default;

int32_t BufferedOutStream::length() { return static_cast<int32_t>(offset_ + (ptr_ - start())); }

int32_t BufferedOutStream::pendingBytes() { return unpassed(); }

int32_t BufferedOutStream::spaceLimit() { return maxBufSize_ - pendingBytes(); }

// Inlined into passOn too, where mostly everything has been passed on.
inline void BufferedOutStream::compact() noexcept {
  const ptrdiff_t done = flushed_ - start();
  if (done == 0) return;
  if (ptr_ > flushed_) std::memmove(start(), flushed_, static_cast<size_t>(ptr_ - flushed_));
  offset_ += static_cast<uint32_t>(done);
  ptr_ -= done;
  flushed_ = start();
}

// Inlined into its four callers: passing a chunk on is most of what a
// flush does, and a flush often follows each write.
[[gnu::always_inline]] inline bool BufferedOutStream::passOn(bool wait, bool once) {
  while (flushed_ < ptr_) {
    const int32_t len = unpassed();
    const int32_t n = writeData(flushed_, len, wait);
    if (n <= 0 || n > len) [[unlikely]] {
      PLAT_ASSERT(n >= 0 && n <= len);
      break;
    }
    if (trace_) [[unlikely]]
      traceBytes(vlog(), " --> ", flushed_, n);
    flushed_ += n;
    if (once) break;
  }
  if (flushed_ < ptr_) return false;
  compact();
  return true;
}

void BufferedOutStream::flush() { passOn(blocking_); }

bool BufferedOutStream::flushNoWait(bool wait) { return passOn(wait); }

bool BufferedOutStream::tryWrite(bool wait) { return passOn(wait); }

bool BufferedOutStream::writeOnce(bool wait) { return passOn(wait, true); }

int32_t BufferedOutStream::overrun(int32_t itemSize, int32_t nItems) {
  if (bufSize_ == 0) throw OutStreamFull();
  if (itemSize > maxBufSize_) throw plat::Exception("BufferedOutStream overrun: buffer size exceeded");

  passOn(false);

  while (bufSize_ - unpassed() < itemSize) {
    if (bufSize_ < maxBufSize_) {
      // Double, keeping only the bytes not yet passed on.
      const int32_t newSize = static_cast<int32_t>(std::min<int64_t>(maxBufSize_, 2 * int64_t(bufSize_)));
      const int32_t pending = unpassed();
      std::unique_ptr<uint8_t[]> bigger(new uint8_t[static_cast<size_t>(newSize)]);
      std::memcpy(bigger.get(), flushed_, static_cast<size_t>(pending));
      offset_ += static_cast<uint32_t>(flushed_ - start());
      buf_ = std::move(bigger);
      flushed_ = start();
      ptr_ = end_ = start() + pending;
      bufSize_ = newSize;
    } else {
      const int32_t len = unpassed();
      const int32_t n = writeData(flushed_, len, true);
      PLAT_ASSERT(n >= 0 && n <= len);
      if (n == 0) throw plat::Exception("BufferedOutStream overrun: unable to write");
      if (trace_) traceBytes(vlog(), " --> ", flushed_, n);
      flushed_ += n;
    }
  }
  compact();

  // The window reaches at most one step past the used part, but always far
  // enough for the item asked for.
  const int64_t used = ptr_ - start();
  end_ = start() + std::min<int64_t>(bufSize_, used + std::max(itemSize, kWindowStep));
  return static_cast<int32_t>(std::min<int64_t>(nItems, (end_ - ptr_) / itemSize));
}

void BufferedLazyOutStream::setLazy(bool lazy) {
  blocking_ = !lazy;
  // What a lazy stream cannot pass on now waits for the next write.
  (void)tryWrite(blocking_);
}

}  // namespace rdr
