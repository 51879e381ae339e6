#pragma once
// io::ProxyFetcherConnector: a TCP connection that honours the proxy
// settings.  It asks an io::ProxyFetcher which proxy serves the target and
// then connects directly, through an HTTP CONNECT proxy or through a SOCKS5
// proxy.
//
// The fetcher may answer inside fetch() or later; either way the answer is
// acted on from the loop, so the fetcher is never destroyed inside its own
// call.  Log source "ProxyFetcherConnector".
//
// The HTTP CONNECT connector belongs to the http library, above io: it is
// made through proxy_hooks::setHttpConnect, which http fills from its
// static initialiser.

#include <memory>

#include "qocore/base/io/Io.h"
#include "qocore/base/io/ProxyFetcher.h"
#include "qocore/base/io/ProxyTcpConnector.h"
#include "qocore/base/plat/CharArray.h"

namespace io {

// Hooks that later layers fill.  Constant-initialised, so valid during
// static initialisation.
namespace proxy_hooks {
// Makes the HTTP CONNECT tunnel connector to host:port through the proxy
// endpoint ("host:port"), asking `prompt` (may be null) for credentials
// (http::HttpConnectConnector).  Until it is filled an "http" proxy fails.
using HttpConnectFn = std::unique_ptr<ProxyTcpConnector> (*)(const char* host, int port, const char* proxy,
                                                             ProxyPasswdPrompt* prompt);
void setHttpConnect(HttpConnectFn fn) noexcept;
}  // namespace proxy_hooks

class ProxyFetcherConnector : public IoConnectorBase, public ProxyFetcherCallback, public IoConnected {
 public:
  // The fetcher is owned and made for this target.
  ProxyFetcherConnector(const char* host, int port, std::unique_ptr<ProxyFetcher> fetcher);
  ~ProxyFetcherConnector() override;

  // After success the chosen connector's; before, "Direct TCP via proxy
  // settings" or its translation.
  plat::CharArray methodName() override { return methodName(false); }
  plat::CharArray methodName(bool localised);

  void run() override;
  void cancel() override;

  void onProxy(ProxyFetcher& fetcher, const char* proxyUrl, const ProxyCredentials& credentials) override;
  void onProxyError(ProxyFetcher& fetcher, const plat::Exception& error) override;

  void connected(IoConnector& connector, Io* io) override;
  void failed(IoConnector& connector, const plat::Exception& error) override;

 protected:
  // The reports to this connector's own receiver.
  using IoConnectorBase::connected;
  using IoConnectorBase::failed;

 public:
 private:
  // Builds the connector the answer asks for; throws plat::Exception.
  std::unique_ptr<IoConnector> choose(const char* proxyUrl, const ProxyCredentials& credentials);

  enum class State { kIdle, kAsking, kAnswered, kConnecting, kDone };

  plat::CharArray host_;
  int port_;
  std::unique_ptr<ProxyFetcher> fetcher_;
  std::unique_ptr<IoConnector> chosen_;
  State state_ = State::kIdle;
  // The fetcher's answer, kept until the loop acts on it.
  plat::CharArray answer_;
  ProxyCredentials credentials_;
  std::unique_ptr<plat::Exception> fetchError_;
  bool connected_ = false;
};

}  // namespace io
