#include "qocore/base/os/IoFromFd.h"

#include <sys/socket.h>

#include "qocore/base/io/FdIo.h"
#include "qocore/base/io/TcpIo.h"
#include "qocore/base/os/SocketUtil.h"
#include "qocore/base/os/unix/UnixIo.h"

namespace os {

io::Io* ioFromFd(int fd) {
  setInheritable(fd, false);
  if (getSocketType(fd) == SOCK_STREAM) {
    int family = getSocketFamily(fd);
    if (family == AF_INET || family == AF_INET6) return new io::TcpIo(fd, true, false, -1, -1);
    if (family == AF_UNIX) return new UnixIo(nullptr, fd);
  }
  return new io::FdIo(fd, true, false, -1, -1, true);
}

}  // namespace os
