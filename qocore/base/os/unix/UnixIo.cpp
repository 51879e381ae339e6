#include "qocore/base/os/unix/UnixIo.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "qocore/base/io/EndpointName.h"
#include "qocore/base/os/SocketUtil.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/UniqueFd.h"

namespace os {

namespace {

// Connects (or wraps) before the connection is built on the descriptor.
int connectedFd(const char* path, int fd, bool datagram) {
  if (fd >= 0) return fd;
  return connectUnix(path, datagram, false);
}

}  // namespace

UnixIo::UnixIo(const char* path, int fd, bool datagram)
    : io::FdIo(connectedFd(path, fd, datagram), true, false, -1, -1, true) {
  flags().insert("secureTransport");
  plat::DString name("<unix-%s-%s", fd < 0 ? "client" : "server", path ? path : "anon");
  try {
    name.appendf("-uid-%u", static_cast<unsigned>(getPeerEuid()));
  } catch (const plat::SystemException&) {
    // Not every socket knows its peer (an unconnected datagram socket):
    // the name goes without it.
  }
  name.append(">");
  name_ = name.release();
}

UnixIo::~UnixIo() = default;

plat::CharArray UnixIo::displayName() { return name_; }

plat::CharArray UnixIo::peerEndpoint() {
  if (peer_) return peer_;
  sockaddr_un address{};
  socklen_t length = sizeof address;
  if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return plat::CharArray("");
  size_t pathBytes = length > offsetof(sockaddr_un, sun_path) ? length - offsetof(sockaddr_un, sun_path) : 0;
  plat::CharArray path(address.sun_path, static_cast<int>(std::min(pathBytes, sizeof address.sun_path)));
  if (!path || path[0] != '/') return plat::CharArray("");
  plat::DString text("[unix:");
  char* cursor = path.get();
  bool first = true;
  while (char* component = plat::strNextToken(&cursor, '/')) {
    if (!first) text.append("/");
    first = false;
    text.append(io::escapeEndpoint(component).get());
  }
  text.append("]");
  peer_ = text.release();
  return peer_;
}

uid_t UnixIo::getPeerEuid() {
  // Linux hands the peer's credentials over SO_PEERCRED: the effective
  // ids it had when it connected or listened.
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (::getsockopt(fd_, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
    throw plat::SystemException("getPeerEuid", errno);
  if (length != sizeof credentials || credentials.pid == 0) throw plat::SystemException("getPeerEuid", ENOTCONN);
  return credentials.uid;
}

void UnixIo::credCheck(uid_t expectedUid) {
  if (getPeerEuid() != expectedUid) throw plat::Exception("namedPipeCredCheck: uid mismatch");
}

bool UnixIo::isBound(const char* path, bool datagram) {
  try {
    plat::UniqueFd fd(connectUnix(path, datagram, !datagram));
    return true;
  } catch (const plat::SystemException& e) {
    switch (e.error()) {
      case ENOENT:
      case EDESTADDRREQ:
      case ECONNREFUSED:
        return false;
      case EAGAIN:
        if (!datagram) return true;
        throw;
      default:
        throw;
    }
  }
}

int connectUnix(const char* path, bool datagram, bool nonBlocking) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof address.sun_path) throw plat::SystemException("UnixIo", ENAMETOOLONG);
  std::memcpy(address.sun_path, path, std::strlen(path));
  plat::UniqueFd fd(socketCloexec(AF_UNIX, datagram ? SOCK_DGRAM : SOCK_STREAM, 0));
  if (!fd) throw plat::SystemException("socket", errno);
  if (nonBlocking) setBlocking(fd.get(), false);
  int rv;
  do {
    rv = ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  } while (rv != 0 && errno == EINTR);
  if (rv != 0) throw plat::SystemException("connect", errno);
  return fd.release();
}

uid_t parseUid(const char* text) {
  if (!text) return ::geteuid();
  errno = 0;
  char* end = nullptr;
  long long value = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || value < INT32_MIN || value > UINT32_MAX)
    throw plat::BadNum("uid not a 32-bit number");
  return static_cast<uid_t>(value);
}

}  // namespace os
