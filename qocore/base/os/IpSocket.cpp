#include "qocore/base/os/IpSocket.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "qocore/base/io/IpInfo.h"
#include "qocore/base/os/SocketUtil.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/UniqueFd.h"

namespace os {

namespace {

PLAT_LOG_SOURCE(vlog, "IpSocket");

void setIntOption(int fd, int level, int option) {
  int one = 1;
  if (setsockopt(fd, level, option, &one, sizeof(one)) != 0) throw plat::SystemException("setsockopt", errno);
}

}  // namespace

int connectSocket(const io::IpInfo& endpoint, int type, bool blocking) {
  plat::UniqueFd owned(socketCloexec(endpoint.family(), type, 0));
  if (!owned) throw plat::SystemException("socket", errno);
  const int fd = owned.get();
  if (!blocking) setBlocking(fd, false);
  int rc;
  do {
    rc = connect(fd, endpoint.sockAddr(), endpoint.length());
  } while (rc != 0 && errno == EINTR);
  if (rc != 0 && errno != EINPROGRESS) throw plat::SystemException("connect", errno);
  if (getSocketType(fd) != SOCK_STREAM) applyDscp(fd);
  return owned.release();
}

int bindSocket(const io::IpInfo& endpoint, int type, bool reusePort) {
  // The type may carry creation flags; the options depend on the kind alone.
  int kind = type & ~(SOCK_NONBLOCK | SOCK_CLOEXEC);
  plat::UniqueFd owned(socketCloexec(endpoint.family(), type, 0));
  if (!owned) throw plat::SystemException("socket", errno);
  const int fd = owned.get();
  if (kind == SOCK_STREAM) setIntOption(fd, SOL_SOCKET, SO_REUSEADDR);
  if (reusePort) setIntOption(fd, SOL_SOCKET, SO_REUSEPORT);
  if (endpoint.family() == AF_INET6) {
    int one = 1;
    if (setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof(one)) != 0) {
      plat::SystemException e("setsockopt(IPV6_V6ONLY)", errno);
      vlog().debug("%s", e.str());
    }
  }
  if (bind(fd, endpoint.sockAddr(), endpoint.length()) != 0) throw plat::SystemException("bind", errno);
  if (kind == SOCK_DGRAM) applyDscp(fd);
  return owned.release();
}

}  // namespace os
