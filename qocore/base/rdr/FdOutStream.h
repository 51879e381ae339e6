#pragma once
// rdr::FdOutStream: buffered output to a file descriptor (a socket or a
// pipe).
//
// The buffer starts at 16384 bytes and grows for a slow receiver up to the
// maximum given (MaxOutBufferSize when negative).  A write that must wait
// for a full descriptor (set non-blocking) waits for at most the write
// time-out (30000 ms unless set) and then throws plat::TimedOut "Timed
// out".  A write error throws SystemException "write" when errors are
// thrown, the stream is blocking or the write was asked to wait;
// otherwise it is logged and the write takes nothing.

#include <cstdint>

#include "qocore/base/plat/UniqueFd.h"
#include "qocore/base/rdr/BufferedOutStream.h"

namespace rdr {

class FdOutStream : public BufferedLazyOutStream {
 public:
  // Told about the stream's writes, on the thread that drives it.
  class Callback {
   public:
    virtual ~Callback();
    // After every write attempt; wroteNothing when it took no bytes.
    virtual void written(FdOutStream& stream, bool wroteNothing) = 0;
    // After closeForWriting() shut the writing side.
    virtual void shutdownDone(FdOutStream& stream) = 0;
  };

  // Closes fd at the end when ownsFd is set.
  explicit FdOutStream(int fd, int32_t maxBufSize = -1, bool ownsFd = false);
  // Passes pending bytes on without waiting; bytes it cannot pass on are
  // logged at error level and dropped.
  ~FdOutStream() override;

  // With nothing pending: shuts the descriptor for writing (failure:
  // SystemException "shutdown(SHUT_WR)") and tells the callback.  With
  // bytes pending nothing is shut: call again once they are written.
  // Answers true.
  bool closeForWriting() override;

  // Not owned; null for none.
  void setCallback(Callback* callback) noexcept { callback_ = callback; }
  int fd() const noexcept { return fd_; }

 protected:
  int32_t writeData(const uint8_t* buf, int32_t len, bool wait) override;

  int fd_;
  plat::UniqueFd ownedFd_;  // fd_ when the stream owns it
  Callback* callback_ = nullptr;

 private:
  // Waits until the descriptor takes data, for at most the write time-out.
  void waitWritable();
};

}  // namespace rdr
