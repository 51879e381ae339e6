#include "qocore/base/rdr/BufferedInStream.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/rdr/BufferedOutStream.h"
#include "qocore/base/rdr/HexTrace.h"
#include "qocore/base/rdr/OutStream.h"

namespace rdr {

namespace {
PLAT_LOG_SOURCE(vlog, "BufferedInStream");
}  // namespace

BufferedInStream::BufferedInStream(int32_t bufSize) : buf_(bufSize < 0 ? kDefaultBufSize : bufSize) {
  ptr_ = end_ = checkpointPtr_ = start();
}

BufferedInStream::~BufferedInStream() {
  if (secure_ && buf_.data()) plat::secureZero(buf_.data(), buf_.count());
}

int32_t BufferedInStream::pos() { return static_cast<int32_t>(offset_ + (ptr_ - start())); }

void BufferedInStream::reset() {
  offset_ += static_cast<uint32_t>(ptr_ - start());
  ptr_ = end_ = checkpointPtr_ = start();
  checkpointPos_ = pos();
}

bool BufferedInStream::overrun(int32_t needed) {
  // Only the bytes before the checkpoint may go: move the rest down.
  if (checkpointPtr_ != start()) {
    size_t drop = static_cast<size_t>(checkpointPtr_ - start());
    std::memmove(start(), checkpointPtr_, static_cast<size_t>(end_ - checkpointPtr_));
    offset_ += static_cast<uint32_t>(drop);
    ptr_ -= drop;
    end_ -= drop;
    checkpointPtr_ = start();
  }

  // Read until the window holds what is asked for.  Bytes between the
  // checkpoint (now the buffer start) and the pointer are pinned: once the
  // buffer is full and the room after them still cannot hold the request,
  // it grows, up to its cap.  Growing only a full buffer keeps it in step
  // with the bytes that have arrived, so a request for much that is never
  // sent costs little.  A buffer that pins nothing serves a long request
  // piecewise, from a window of its own size.
  while (end_ - ptr_ < needed) {
    if (end_ == bufEnd() && (ptr_ == start() || !grow())) break;
    uint8_t* tail = start() + (end_ - start());
    const int32_t room = static_cast<int32_t>(bufEnd() - tail);
    const int32_t n = readData(tail, room);
    PLAT_ASSERT(n >= 0 && n <= room);
    if (n == 0) return false;
    // A secure stream carries secrets, which never reach a log.
    if (trace_ && !secure_) traceBytes(vlog(), " <-- ", tail, n);
    end_ += n;
  }
  // At the cap with every byte consumed the window is empty, which makes
  // check() report the overrun.
  return true;
}

bool BufferedInStream::grow() {
  const int64_t size = buf_.count();
  const int64_t newSize = std::min<int64_t>(2 * size, maxOutBufferSize.getValue());
  if (newSize <= size) return false;

  const ptrdiff_t ptrAt = ptr_ - start();
  const ptrdiff_t endAt = end_ - start();
  const ptrdiff_t checkpointAt = checkpointPtr_ - start();
  plat::Buffer bigger(static_cast<int>(newSize));
  std::memcpy(bigger.data(), start(), static_cast<size_t>(endAt));
  if (secure_) plat::secureZero(buf_.data(), buf_.count());
  buf_ = std::move(bigger);
  ptr_ = start() + ptrAt;
  end_ = start() + endAt;
  checkpointPtr_ = start() + checkpointAt;
  return true;
}

void BufferedInStream::saveUnread(OutStream& os) {
  const int32_t n = nUnread();
  os.writeU32(static_cast<uint32_t>(n));
  os.writeBytes(ptr_, n);
}

void BufferedInStream::restoreUnread(InStream& is) {
  const uint32_t n = is.readU32();
  if (n < 1) return;
  uint8_t* tail = start() + (end_ - start());
  if (n > static_cast<uint32_t>(bufEnd() - tail)) throw plat::Exception("Too much data for InStream buffer");
  is.readBytes(tail, static_cast<int32_t>(n));
  end_ += n;
}

void BufferedNonBlockableInStream::setNonBlocking(bool on) {
  nonBlocking_ = on;
  setCheckpoint();
  rewindable_ = on;
}

}  // namespace rdr
