#include "qocore/base/io/TcpIo.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>

#include "qocore/base/io/EndpointName.h"
#include "qocore/base/plat/LogSrc.h"

namespace io {

namespace {
PLAT_LOG_SOURCE(vlog, "TcpIo");
}  // namespace

TcpIo::TcpIo(int fd, bool owned, bool connecting, int32_t inTimeoutMs, int32_t outTimeoutMs)
    : FdIo(fd, owned, connecting, inTimeoutMs, outTimeoutMs, true) {
  if (!connecting) connectDone();
}

void TcpIo::connectDone() {
  const int on = 1;
  if (::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)) != 0)
    vlog().error("unable to setsockopt TCP_NODELAY: %d", errno);
  try {
    if (localInfo().isLoopback() && peerInfo().isLoopback()) flags_.insert("secureTransport");
  } catch (const plat::Exception& e) {
    vlog().debug("addresses unknown: %s", e.str());
  }
}

void TcpIo::setDisplayHost(const char* host) {
  displayHost_ = plat::CharArray(host && *host ? host : nullptr);
  tcpDisplayName_.reset();
}

const IpInfo& TcpIo::localInfo() {
  if (!local_) local_ = std::make_unique<IpInfo>(fd_, true);
  return *local_;
}

const IpInfo& TcpIo::peerInfo() {
  if (!peer_) peer_ = std::make_unique<IpInfo>(fd_, false);
  return *peer_;
}

plat::CharArray TcpIo::displayName() {
  if (tcpDisplayName_) return tcpDisplayName_;
  try {
    tcpDisplayName_ = peerInfo().displayText(displayHost_.get(), "TCP");
    return tcpDisplayName_;
  } catch (const plat::Exception& e) {
    vlog().error("displayName error: %s", e.str());
    return FdIo::displayName();
  }
}

plat::CharArray TcpIo::peerEndpoint() {
  try {
    if (!displayHost_) return plat::CharArray(peerInfo().endpointText());
    return formatEndpoint(displayHost_.get(), peerInfo().port(), -1, 0);
  } catch (const plat::Exception& e) {
    vlog().error("peerEndpoint error: %s", e.str());
    return plat::CharArray("");
  }
}

plat::CharArray TcpIo::resolvedPeerEndpoint() {
  try {
    return plat::CharArray(peerInfo().endpointText());
  } catch (const plat::Exception& e) {
    vlog().error("resolvedPeerEndpoint error: %s", e.str());
    return plat::CharArray("");
  }
}

plat::CharArray TcpIo::peerAddress() {
  try {
    return plat::CharArray(peerInfo().addressText());
  } catch (const plat::Exception& e) {
    vlog().error("peerAddress error: %s", e.str());
    return plat::CharArray("");
  }
}

plat::CharArray TcpIo::myEndpoint() {
  try {
    return plat::CharArray(localInfo().endpointText());
  } catch (const plat::Exception& e) {
    vlog().error("myEndpoint error: %s", e.str());
    return plat::CharArray("");
  }
}

const char* TcpIo::errorKey(int error) noexcept {
  switch (error) {
    case ENETUNREACH:
    case EHOSTDOWN:
    case EHOSTUNREACH:
      return "io_error_ip_nethostunreach";
    case EPIPE:
    case ECONNRESET:
      return "io_error_tcp_connreset";
    case ETIMEDOUT:
      return "io_error_tcp_timedout";
    default:
      return nullptr;
  }
}

}  // namespace io
