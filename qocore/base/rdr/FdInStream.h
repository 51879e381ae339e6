#pragma once
// rdr::FdInStream: buffered input from a file descriptor (a socket or a
// pipe).
//
// On a descriptor set non-blocking, a read that finds no data either
// answers "would block" (setNonBlocking(true): the parser rewinds and runs
// again when data arrives) or waits for data for at most the time-out.  A
// read that timed out leaves the stream timed out: every later read fails
// at once.  The end of the data is an EndOfStream "End of IO stream".
//
// A stream read blocking is not rewindable unless its owner asks for it
// (setRewindable), so a reader that never sets a checkpoint keeps no more
// than one buffer of bytes; setNonBlocking(true) makes it rewindable.

#include <cstdint>

#include "qocore/base/plat/UniqueFd.h"
#include "qocore/base/rdr/BufferedInStream.h"

namespace rdr {

class FdInStream : public BufferedNonBlockableInStream {
 public:
  // Does not own fd.  bufSize negative: the default buffer.
  explicit FdInStream(int fd, int32_t bufSize = -1);
  // Takes over the descriptor (the source's becomes -1), the settings and
  // the unread bytes.
  FdInStream(FdInStream&& other);
  ~FdInStream() override;

  int fd() const noexcept { return fd_; }
  // How long a read waits for data (negative: without limit, the default).
  void setTimeoutMs(int32_t ms) noexcept { timeoutMs_ = ms; }

 protected:
  // Throws plat::TimedOut "Timed out", EndOfStream, or SystemException
  // "read" (or "poll" when waiting fails).
  int32_t readData(uint8_t* buf, int32_t len) override;

  int32_t timeoutMs_ = -1;
  int fd_;
  plat::UniqueFd ownedFd_;  // fd_ when the stream owns it
  bool timedOut_ = false;

 private:
  // Waits for the descriptor to become readable; false when the time-out
  // passed first.
  bool waitReadable();
};

// An FdInStream that owns its descriptor and closes it at the end.
class FdInStreamOwn : public FdInStream {
 public:
  explicit FdInStreamOwn(int fd, int32_t bufSize = -1) : FdInStream(fd, bufSize) { ownedFd_.reset(fd); }
  FdInStreamOwn(FdInStreamOwn&& other) = default;
};

}  // namespace rdr
