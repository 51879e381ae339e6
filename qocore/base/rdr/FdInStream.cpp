#include "qocore/base/rdr/FdInStream.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Time.h"

namespace rdr {

FdInStream::FdInStream(int fd, int32_t bufSize) : BufferedNonBlockableInStream(bufSize), fd_(fd) {
  rewindable_ = false;
}

FdInStream::FdInStream(FdInStream&& other)
    : BufferedNonBlockableInStream(other.bufferSize()),
      timeoutMs_(other.timeoutMs_),
      fd_(std::exchange(other.fd_, -1)),
      ownedFd_(std::move(other.ownedFd_)),
      timedOut_(other.timedOut_) {
  nonBlocking_ = other.nonBlocking_;
  rewindable_ = other.rewindable_;
  secure_ = other.secure_;
  trace_ = other.trace_;
  // The unread bytes move to the front of the new buffer; the position
  // goes on counting from where the source stood.
  const int32_t unread = other.nUnread();
  std::memcpy(buf_.data(), other.getPtr(), static_cast<size_t>(unread));
  end_ = ptr_ + unread;
  offset_ = static_cast<uint32_t>(other.pos());
  setCheckpoint();
}

FdInStream::~FdInStream() = default;

int32_t FdInStream::readData(uint8_t* buf, int32_t len) {
  if (timedOut_) throw plat::TimedOut("Timed out");
  for (;;) {
    const ssize_t n = ::read(fd_, buf, static_cast<size_t>(len));
    if (n > 0) return static_cast<int32_t>(n);
    if (n == 0) throw EndOfStream();
    const int error = errno;
    if (error == EINTR) continue;
    if (error != EAGAIN && error != EWOULDBLOCK) throw plat::SystemException("read", error);
    if (nonBlocking_) return 0;
    if (!waitReadable()) {
      timedOut_ = true;
      throw plat::TimedOut("Timed out");
    }
  }
}

bool FdInStream::waitReadable() {
  int left = timeoutMs_;
  for (;;) {
    pollfd p = {fd_, POLLIN, 0};
    const int rv = plat::pollMs(&p, 1, &left, true);
    // Readable, closed or failed: the read that follows tells which.
    if (rv > 0) return true;
    // A signal interrupted the wait: go on for the time that is left.
    if (rv < 0 && (timeoutMs_ < 0 || left > 0)) continue;
    return false;
  }
}

}  // namespace rdr
