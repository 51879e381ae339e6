#include "qocore/base/rdr/FdOutStream.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Time.h"

namespace rdr {

namespace {
PLAT_LOG_SOURCE(vlog, "FdOutStream");
}  // namespace

FdOutStream::Callback::~Callback() = default;

FdOutStream::FdOutStream(int fd, int32_t maxBufSize, bool ownsFd)
    : BufferedLazyOutStream(kDefaultBufSize, maxBufSize), fd_(fd), ownedFd_(ownsFd ? fd : -1) {}

FdOutStream::~FdOutStream() {
  callback_ = nullptr;
  // Bytes the receiver does not take now are lost; nobody is left to tell
  // but the log.
  try {
    if (flushNoWait(false)) return;
  } catch (const plat::Exception& e) {
    vlog().error("%d bytes not written to fd %d: %s", pendingBytes(), fd_, e.str());
    return;
  }
  vlog().error("%d bytes not written to fd %d: the receiver takes no more now", pendingBytes(), fd_);
}

bool FdOutStream::closeForWriting() {
  if (pendingBytes() == 0) {
    if (::shutdown(fd_, SHUT_WR) != 0) throw plat::SystemException("shutdown(SHUT_WR)", errno);
    if (callback_) callback_->shutdownDone(*this);
  }
  return true;
}

int32_t FdOutStream::writeData(const uint8_t* buf, int32_t len, bool wait) {
  int32_t count = 0;
  for (;;) {
    const ssize_t n = ::write(fd_, buf, static_cast<size_t>(len));
    if (n >= 0) {
      count = static_cast<int32_t>(n);
      break;
    }
    const int error = errno;
    if (error == EINTR) continue;
    if (error == EAGAIN || error == EWOULDBLOCK) {
      if (!wait) break;
      waitWritable();
      continue;
    }
    plat::SystemException failure("write", error);
    // A caller that waits needs the bytes gone; answering "nothing taken"
    // would only make it wait again.
    if (throwErrors_ || blocking_ || wait) throw failure;
    vlog().debug("%s", failure.str());
    break;
  }
  if (callback_) callback_->written(*this, count == 0);
  return count;
}

void FdOutStream::waitWritable() {
  int left = timeoutMs_;
  for (;;) {
    pollfd p = {fd_, POLLOUT, 0};
    const int rv = plat::pollMs(&p, 1, &left, true);
    // Writable, closed or failed: the write that follows tells which.
    if (rv > 0) return;
    // A signal interrupted the wait: go on for the time that is left.
    if (rv < 0 && (timeoutMs_ < 0 || left > 0)) continue;
    throw plat::TimedOut("Timed out");
  }
}

}  // namespace rdr
