#pragma once
// TCP connections to "host:port".
//
// io::TcpConnector resolves the host (io::IpResolver) and then races one
// io::TcpAddrConnector per resolved address inside an io::IoConnectorMulti,
// starting the attempts 10 ms apart and keeping the first that succeeds; a
// failed address is simply one lost race.  The result is an io::TcpIo.
// Both connectors also connect synchronously where blocking is acceptable.
//
// Everything runs on the thread that called start, driven by its fd
// manager and timers; only the lookup runs elsewhere.  Log sources
// "TcpAddrConnector" and "TcpConnector".

#include <memory>
#include <vector>

#include "qocore/base/io/Io.h"
#include "qocore/base/io/IoConnectorMulti.h"
#include "qocore/base/io/IpInfo.h"
#include "qocore/base/io/IpResolver.h"
#include "qocore/base/plat/CharArray.h"

namespace io {

class TcpIo;

// One connection attempt to one address.  It is the handler of the
// connection it makes until the connect has succeeded.
class TcpAddrConnector : public IoConnectorBase, public IoHandler {
 public:
  // displayHost (may be null) is what the connection shows as its name.
  TcpAddrConnector(const IpInfo& address, const char* displayHost);
  ~TcpAddrConnector() override;

  // Opens a non-blocking socket and waits for its connect; a failure is
  // logged and reported as the plat::Exception it was (a refused connect
  // is a plat::SystemException "connect" with its errno).
  void run() override;
  // A blocking connect.  Throws plat::SystemException.
  Io* connect() override;
  // Drops (and closes) a half-made connection.
  void cancel() override;

  // The connection's events: the first write readiness is the connect's
  // outcome.
  void readable(Io& io) override;
  void writable(Io& io) override;
  void shutdownDone(Io& io) override;

  // The user-facing text for a failed connect's errno, or null.
  static const char* localisedError(const plat::SystemException& e);

 private:
  void connectFinished(Io& io);
  void fail(const plat::Exception& e);

  IpInfo address_;
  plat::CharArray displayHost_;
  std::unique_ptr<TcpIo> io_;
};

class TcpConnector : public IoConnector, public IpResolver::Callback, public IoConnected {
 public:
  TcpConnector(const char* host, int port);
  // From endpoint text ("host", "host:port", "[v6]:port"); throws
  // io::EndpointInvalid.
  static std::unique_ptr<TcpConnector> fromEndpoint(const char* endpoint, int defaultPort);
  // Cancels an outstanding lookup and every attempt still running.
  ~TcpConnector() override;

  void start(IoConnected* cb) override;
  // Resolves and connects while the caller waits; the lookup's failure or
  // the last address's is thrown.
  Io* connect() override;
  plat::CharArray methodName() override { return methodName(false); }
  // "Direct TCP", or its translation when localised.
  virtual plat::CharArray methodName(bool localised);

  void resolved(IpResolver* resolver, const std::vector<IpInfo>& addresses) override;
  void failed(IpResolver* resolver, const plat::Exception& error) override;
  void resolverGone(IpResolver* resolver) override;

  // The multi-connector's result, passed on as this connector's.
  void connected(IoConnector& connector, Io* io) override;
  void failed(IoConnector& connector, const plat::Exception& error) override;
  void notify(IoConnector& connector) override;

  // The resolver start uses on the calling thread instead of
  // IpResolver::get (null: back to it).  A seam for tests.
  static void setThreadResolver(IpResolver* resolver) noexcept;

  const char* host() const noexcept { return host_.c_str(); }
  int port() const noexcept { return port_; }

 private:
  IoConnected* cb_ = nullptr;
  plat::CharArray host_;
  int port_;
  IpResolver* resolver_ = nullptr;
  std::unique_ptr<IoConnectorMulti> multi_;
};

}  // namespace io
