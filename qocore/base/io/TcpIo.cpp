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
  if (connecting) return;
  const int on = 1;
  if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)) != 0)
    vlog().error("unable to setsockopt TCP_NODELAY: %d", errno);
  try {
    if (localInfo().isLoopback() && peerInfo().isLoopback()) flags_.insert("secureTransport");
  } catch (const plat::Exception& e) {
    vlog().debug("addresses unknown: %s", e.str());
  }
}

void TcpIo::setDisplayHost(const char* host) {
  displayHost_ = host ? host : "";
  tcpDisplayName_.clear();
}

const IpInfo& TcpIo::localInfo() {
  if (!local_) local_ = std::make_unique<IpInfo>(fd_, true);
  return *local_;
}

const IpInfo& TcpIo::peerInfo() {
  if (!peer_) peer_ = std::make_unique<IpInfo>(fd_, false);
  return *peer_;
}

std::string TcpIo::displayName() {
  if (!tcpDisplayName_.empty()) return tcpDisplayName_;
  try {
    plat::CharArray text = peerInfo().displayText(displayHost_.empty() ? nullptr : displayHost_.c_str(), "TCP");
    tcpDisplayName_ = text.c_str();
    return tcpDisplayName_;
  } catch (const plat::Exception& e) {
    vlog().error("displayName error: %s", e.str());
    return FdIo::displayName();
  }
}

std::string TcpIo::peerEndpoint() {
  try {
    if (displayHost_.empty()) return peerInfo().endpointText();
    return formatEndpoint(displayHost_.c_str(), peerInfo().port(), -1, 0).c_str();
  } catch (const plat::Exception& e) {
    vlog().error("peerEndpoint error: %s", e.str());
    return {};
  }
}

std::string TcpIo::resolvedPeerEndpoint() {
  try {
    return peerInfo().endpointText();
  } catch (const plat::Exception& e) {
    vlog().error("resolvedPeerEndpoint error: %s", e.str());
    return {};
  }
}

std::string TcpIo::peerAddress() {
  try {
    return peerInfo().addressText();
  } catch (const plat::Exception& e) {
    vlog().error("peerAddress error: %s", e.str());
    return {};
  }
}

std::string TcpIo::myEndpoint() {
  try {
    return localInfo().endpointText();
  } catch (const plat::Exception& e) {
    vlog().error("myEndpoint error: %s", e.str());
    return {};
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
