#include "qocore/base/os/SocketUtil.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/UniqueFd.h"

namespace os {

namespace {

PLAT_LOG_SOURCE(vlog, "SocketUtil");

constexpr rlim_t kSocketFdLimit = 1024;

constinit std::atomic<bool> dupCloexecUnsupported{false};
constinit std::atomic<int> dscpValue{0};
constinit std::atomic<SetSockOptFn> setSockOptFn{::setsockopt};

// Written once by the first socket, read by forked children.
constinit std::once_flag socketSetupOnce;
constinit bool haveSavedLimit = false;
constinit rlimit savedLimit{};

void logSystemError(const char* call, int error) {
  plat::SystemException e(call, error);
  vlog().error("%s", e.str());
}

void setupFirstSocket() noexcept {
  struct sigaction current {};
  if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) ::signal(SIGPIPE, SIG_IGN);
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
    logSystemError("getrlimit(RLIMIT_NOFILE)", errno);
    return;
  }
  savedLimit = limit;
  haveSavedLimit = true;
  // Children that still wait with select() cannot watch numbers past 1023.
  if (limit.rlim_cur > kSocketFdLimit) {
    limit.rlim_cur = kSocketFdLimit;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) logSystemError("setrlimit(RLIMIT_NOFILE)", errno);
  }
}

bool isTransientAcceptError(int error) noexcept {
  switch (error) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case ECONNABORTED:
    case ENETDOWN:
    case EPROTO:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
      return true;
    default:
      return false;
  }
}

int getIntOption(int fd, int option, const char* optionName) {
  int value = 0;
  socklen_t length = sizeof value;
  if (::getsockopt(fd, SOL_SOCKET, option, &value, &length) != 0)
    throw plat::SystemExceptionFmt("getsockopt(%s)", errno, optionName);
  return value;
}

}  // namespace

bool setInheritable(int fd, bool inheritable, bool closeOnFailure, std::nothrow_t) noexcept {
  int flags = ::fcntl(fd, F_GETFD);
  if (flags >= 0) {
    int wanted = inheritable ? (flags & ~FD_CLOEXEC) : (flags | FD_CLOEXEC);
    if (wanted == flags || ::fcntl(fd, F_SETFD, wanted) == 0) return true;
  }
  if (closeOnFailure) {
    int saved = errno;
    ::close(fd);
    errno = saved;
  }
  return false;
}

void setInheritable(int fd, bool inheritable, bool closeOnFailure) {
  if (!setInheritable(fd, inheritable, closeOnFailure, std::nothrow))
    throw plat::SystemException("setInheritable", errno);
}

bool getInheritable(int fd) {
  int flags = ::fcntl(fd, F_GETFD);
  if (flags < 0) throw plat::SystemException("getInheritable", errno);
  return (flags & FD_CLOEXEC) == 0;
}

void setBlocking(int fd, bool blocking) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) throw plat::SystemException("setBlocking", errno);
  int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  if (wanted != flags && ::fcntl(fd, F_SETFL, wanted) != 0) throw plat::SystemException("setBlocking", errno);
}

int dupCloexec(int fd) {
  if (!dupCloexecUnsupported.load(std::memory_order_relaxed)) {
    int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy >= 0) return copy;
    int error = errno;
    if (error == EBADF) {
      // A kernel without the command may answer EBADF; a working dup
      // tells that apart from a bad descriptor.
      plat::UniqueFd plain(::dup(fd));
      if (!plain) throw plat::SystemException("fcntl(F_DUPFD_CLOEXEC)", error);
      dupCloexecUnsupported.store(true, std::memory_order_relaxed);
      setInheritable(plain.get(), false);
      return plain.release();
    }
    if (error != EINVAL) throw plat::SystemException("fcntl(F_DUPFD_CLOEXEC)", error);
    dupCloexecUnsupported.store(true, std::memory_order_relaxed);
  }
  plat::UniqueFd plain(::dup(fd));
  if (!plain) throw plat::SystemException("dup", errno);
  setInheritable(plain.get(), false);
  return plain.release();
}

int socketCloexec(int domain, int type, int protocol) noexcept {
  std::call_once(socketSetupOnce, setupFirstSocket);
  return ::socket(domain, type | SOCK_CLOEXEC, protocol);
}

void resetChildProcessState(bool restoreLimit) noexcept {
  ::signal(SIGPIPE, SIG_DFL);
  if (restoreLimit && haveSavedLimit) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
      limit.rlim_cur = savedLimit.rlim_cur;
      ::setrlimit(RLIMIT_NOFILE, &limit);
    }
  }
}

int acceptCloexec(int listenFd) {
  int fd;
  do {
    fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (isTransientAcceptError(errno)) return -1;
    throw plat::SystemException("accept", errno);
  }
  applyDscp(fd);
  return fd;
}

void socketPairCloexec(int sv[2]) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) throw plat::SystemException("socketpair", errno);
}

void pipeCloexec(int fds[2]) {
  if (::pipe2(fds, O_CLOEXEC) != 0) throw plat::SystemException("pipe", errno);
}

bool dup2Checked(int from, int to, std::nothrow_t) noexcept {
  if (from == to) {
    errno = EINVAL;
    return false;
  }
  int result;
  do {
    result = ::dup3(from, to, O_CLOEXEC);
  } while (result < 0 && errno == EINTR);
  return result >= 0;
}

void dup2Checked(int from, int to) {
  if (!dup2Checked(from, to, std::nothrow)) throw plat::SystemException("dup2", errno);
}

void setDscp(int value) noexcept { dscpValue.store(value, std::memory_order_relaxed); }

void applyDscp(int fd) noexcept {
  int value = dscpValue.load(std::memory_order_relaxed);
  if (fd < 0 || value <= 0) return;
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return;
  int mark = value * 4;
  int result;
  if (address.ss_family == AF_INET)
    result = ::setsockopt(fd, IPPROTO_IP, IP_TOS, &mark, sizeof mark);
  else if (address.ss_family == AF_INET6)
    result = ::setsockopt(fd, IPPROTO_IPV6, IPV6_TCLASS, &mark, sizeof mark);
  else
    return;
  if (result != 0) {
    int error = errno;
    char text[256];
    vlog().debug("setsockopt(DSCP, %d): %s", value, ::strerror_r(error, text, sizeof text));
  }
}

int growSocketBuffer(int fd, int wanted, int option, const char* optionName) {
  int current = getIntOption(fd, option, optionName);
  if (current >= wanted || current <= 0) return current;
  for (;;) {
    if (setSockOptFn.load(std::memory_order_relaxed)(fd, SOL_SOCKET, option, &wanted, sizeof wanted) == 0)
      return getIntOption(fd, option, optionName);
    int error = errno;
    if (error != ENOMEM && error != ENOBUFS) throw plat::SystemExceptionFmt("setsockopt(%s)", error, optionName);
    wanted = 4 * (wanted / 5);
    if (wanted <= current) return current;
  }
}

int setRecvBufferSize(int fd, int bytes) {
  int size = growSocketBuffer(fd, bytes, SO_RCVBUF, "SO_RCVBUF");
  vlog().debug("Using receive buffer size of %d KiB", size / 1024);
  return size;
}

int setSendBufferSize(int fd, int bytes) {
  int size = growSocketBuffer(fd, bytes, SO_SNDBUF, "SO_SNDBUF");
  vlog().debug("Using send buffer size of %d KiB", size / 1024);
  return size;
}

bool isIpv6Family(int /*fd*/, int family) noexcept { return family == AF_INET6; }

bool isSocketFd(int fd) noexcept {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && S_ISSOCK(info.st_mode);
}

int getSocketType(int fd) noexcept {
  int type = 0;
  socklen_t length = sizeof type;
  if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || length != sizeof type) return -1;
  return type;
}

int getSocketFamily(int fd) noexcept {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
  if (length < sizeof address.ss_family) return AF_UNIX;
  return address.ss_family;
}

bool isSetuidRoot(const char* path) noexcept {
  if (!path) return false;
  struct stat info {};
  if (::lstat(path, &info) != 0) return false;
  return info.st_uid == 0 && (info.st_mode & S_ISUID) && (info.st_mode & S_IXUSR);
}

SetSockOptFn setSetSockOptForTest(SetSockOptFn fn) noexcept {
  return setSockOptFn.exchange(fn ? fn : ::setsockopt, std::memory_order_relaxed);
}

}  // namespace os
