#include "qocore/base/io/TcpConnector.h"

#include <sys/socket.h>

#include "qocore/base/io/EndpointName.h"
#include "qocore/base/io/TcpConnectError.h"
#include "qocore/base/io/TcpIo.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/os/IpSocket.h"
#include "qocore/base/os/SocketUtil.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"

namespace io {

namespace {

PLAT_LOG_SOURCE(addrLog, "TcpAddrConnector");
PLAT_LOG_SOURCE(vlog, "TcpConnector");

// The head start each address gets before the next one is tried too.
constexpr int32_t kStaggerMs = 10;

thread_local IpResolver* threadResolver = nullptr;

}  // namespace

// ---- io::TcpAddrConnector ----

TcpAddrConnector::TcpAddrConnector(const IpInfo& address, const char* displayHost)
    : address_(address), displayHost_(displayHost) {}

TcpAddrConnector::~TcpAddrConnector() {
  timer_.cancel();
  cancel();
}

void TcpAddrConnector::cancel() {
  // Not yet handed on: still this connector's to close.
  io_.reset();
}

void TcpAddrConnector::run() {
  addrLog().debug("Trying TCP to %s", address_.addressText());
  try {
    const int fd = os::connectSocket(address_, SOCK_STREAM, false);
    io_.reset(new TcpIo(fd, true, true, -1, -1));
    io_->setDisplayHost(displayHost_.get());
    io_->setHandler(this, false);
  } catch (const plat::Exception& e) {
    fail(e);
  }
}

void TcpAddrConnector::writable(Io& ioRef) {
  PLAT_ASSERT_TEXT(io_.get() == &ioRef, "io_ == io");
  connectFinished(ioRef);
}

void TcpAddrConnector::connectFinished(Io&) {
  try {
    const int err = io_->connectResult();
    if (err != 0) throw plat::SystemException("connect", err);
    io_->connectDone();
    os::applyDscp(io_->fd_);
    io_->setHandler(nullptr, false);
  } catch (const plat::Exception& e) {
    fail(e);
    return;
  }
  // The receiver may destroy this connector: nothing of it is touched
  // after handing the connection on.
  connected(io_.release());
}

void TcpAddrConnector::fail(const plat::Exception& e) {
  if (e.typeName()[0]) {
    addrLog().info("TCP to %s failed: [%s] %s", address_.addressText(), e.typeName(), e.str());
  } else {
    addrLog().info("TCP to %s failed: %s", address_.addressText(), e.str());
  }
  io_.reset();
  failed(e);
}

// A connection that is still connecting reports nothing but its outcome.
void TcpAddrConnector::readable(Io&) {}
void TcpAddrConnector::shutdownDone(Io&) {}

Io* TcpAddrConnector::connect() {
  addrLog().debug("Trying TCP to %s", address_.addressText());
  const int fd = os::connectSocket(address_, SOCK_STREAM, true);
  auto io = std::make_unique<TcpIo>(fd, true, false, -1, -1);
  io->setDisplayHost(displayHost_.get());
  return io.release();
}

const char* TcpAddrConnector::localisedError(const plat::SystemException& e) { return tcpConnectErrorText(e.error()); }

// ---- io::TcpConnector ----

TcpConnector::TcpConnector(const char* host, int port) : host_(host), port_(port) {}

std::unique_ptr<TcpConnector> TcpConnector::fromEndpoint(const char* endpoint, int defaultPort) {
  plat::CharArray host;
  int port = 0;
  parseEndpoint(endpoint, host, &port, defaultPort, 0);
  return std::make_unique<TcpConnector>(hostFromBracketed(host.c_str()).c_str(), port);
}

TcpConnector::~TcpConnector() {
  if (resolver_) resolver_->cancel(this);
  multi_.reset();
}

void TcpConnector::setThreadResolver(IpResolver* resolver) noexcept { threadResolver = resolver; }

void TcpConnector::start(IoConnected* cb) {
  cb_ = cb;
  IpResolver* resolver = threadResolver ? threadResolver : IpResolver::get();
  if (resolver_) resolver_->cancel(this);
  resolver_ = resolver;
  resolver_->resolve(this, host_.c_str(), port_, 0);
}

Io* TcpConnector::connect() {
  vlog().info("connect to %s:%d", host_.c_str(), port_);
  const std::vector<IpInfo> addresses = IpResolver::lookup(host_.c_str(), port_, 0);
  std::vector<std::unique_ptr<IoConnector>> attempts;
  for (const IpInfo& a : addresses) attempts.push_back(std::make_unique<TcpAddrConnector>(a, host_.c_str()));
  IoConnectorMulti multi(std::move(attempts), kStaggerMs);
  return multi.connect();
}

plat::CharArray TcpConnector::methodName(bool localised) {
  return plat::CharArray(localised ? loc::translate("io_tcp_connection_type") : "Direct TCP");
}

void TcpConnector::resolved(IpResolver*, const std::vector<IpInfo>& addresses) {
  resolver_ = nullptr;
  std::vector<std::unique_ptr<IoConnector>> attempts;
  for (const IpInfo& a : addresses) attempts.push_back(std::make_unique<TcpAddrConnector>(a, host_.c_str()));
  multi_ = std::make_unique<IoConnectorMulti>(std::move(attempts), kStaggerMs);
  multi_->start(this);
}

void TcpConnector::failed(IpResolver*, const plat::Exception& error) {
  resolver_ = nullptr;
  cb_->failed(*this, error);
}

void TcpConnector::resolverGone(IpResolver*) { resolver_ = nullptr; }

void TcpConnector::connected(IoConnector&, Io* io) { cb_->connected(*this, io); }

void TcpConnector::failed(IoConnector&, const plat::Exception& error) { cb_->failed(*this, error); }

void TcpConnector::notify(IoConnector&) { cb_->notify(*this); }

}  // namespace io
