#include "qocore/base/io/ProxyFetcherConnector.h"

#include <cstring>
#include <utility>

#include "qocore/base/io/EndpointName.h"
#include "qocore/base/io/EndpointUri.h"
#include "qocore/base/io/ProxyError.h"
#include "qocore/base/io/Socks5Connector.h"
#include "qocore/base/io/TcpConnector.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"

namespace io {

namespace {

PLAT_LOG_SOURCE(vlog, "ProxyFetcherConnector");

constexpr int kHttpProxyPort = 80;

constinit proxy_hooks::HttpConnectFn httpConnectHook = nullptr;

// The proxy's host and port as "host:port" (IPv6 bracketed), without any
// user information.
plat::CharArray proxyEndpoint(const char* hostAndPort, int defaultPort) {
  plat::CharArray host;
  int port = 0;
  parseEndpoint(hostAndPort, host, &port, defaultPort, 0);
  return formatEndpoint(host.c_str(), port, -1, 0);
}

}  // namespace

namespace proxy_hooks {
void setHttpConnect(HttpConnectFn fn) noexcept { httpConnectHook = fn; }
}  // namespace proxy_hooks

ProxyFetcherConnector::ProxyFetcherConnector(const char* host, int port, std::unique_ptr<ProxyFetcher> fetcher)
    : host_(host), port_(port), fetcher_(std::move(fetcher)) {}

ProxyFetcherConnector::~ProxyFetcherConnector() { cancel(); }

plat::CharArray ProxyFetcherConnector::methodName(bool localised) {
  if (connected_ && chosen_) {
    if (auto* tcp = dynamic_cast<TcpConnector*>(chosen_.get())) return tcp->methodName(localised);
    if (auto* proxied = dynamic_cast<ProxyTcpConnector*>(chosen_.get())) return proxied->methodName(localised);
    return chosen_->methodName();
  }
  return plat::CharArray(localised ? loc::translate("io_proxy_connection_desc") : "Direct TCP via proxy settings");
}

void ProxyFetcherConnector::run() {
  switch (state_) {
    case State::kIdle:
      state_ = State::kAsking;
      fetcher_->fetch(this);
      return;
    case State::kAnswered:
      break;
    default:
      return;
  }
  fetcher_.reset();
  if (fetchError_) {
    const std::unique_ptr<plat::Exception> error = std::move(fetchError_);
    cancel();
    failed(*error);
    return;
  }
  state_ = State::kConnecting;
  try {
    chosen_ = choose(answer_.c_str(), credentials_);
    credentials_ = ProxyCredentials();
    chosen_->start(this);
  } catch (const plat::Exception& e) {
    char text[plat::Exception::kMsgSize];
    e.format(text);
    vlog().error("Error connecting to proxy: %s", text);
    const std::unique_ptr<plat::Exception> error = ProxyError::copyCause(e);
    cancel();
    failed(*error);
  }
}

void ProxyFetcherConnector::onProxy(ProxyFetcher&, const char* proxyUrl, const ProxyCredentials& credentials) {
  if (state_ != State::kAsking) return;
  answer_ = plat::CharArray(proxyUrl ? proxyUrl : "");
  credentials_ = credentials;
  state_ = State::kAnswered;
  timer_.start(0);
}

void ProxyFetcherConnector::onProxyError(ProxyFetcher&, const plat::Exception& error) {
  if (state_ != State::kAsking) return;
  if (auto* proxyFailure = dynamic_cast<const ProxyError*>(&error))
    fetchError_ = std::make_unique<ProxyError>(*proxyFailure);
  else
    fetchError_ = ProxyError::copyCause(error);
  state_ = State::kAnswered;
  timer_.start(0);
}

std::unique_ptr<IoConnector> ProxyFetcherConnector::choose(const char* proxyUrl, const ProxyCredentials& credentials) {
  const Uri uri = parseUri(proxyUrl);
  const char* type = uri.scheme.c_str();
  if (!*type || std::strcmp(type, "direct") == 0) {
    vlog().info("Using direct connection");
    return std::make_unique<TcpConnector>(host_.c_str(), port_);
  }
  const bool http = std::strcmp(type, "http") == 0;
  const bool socks = std::strcmp(type, "socks") == 0 || std::strcmp(type, "socks5") == 0;
  if (!http && !socks) {
    vlog().info("Unknown proxy type '%s', using direct", type);
    return std::make_unique<TcpConnector>(host_.c_str(), port_);
  }
  // The proxy text's own credentials win over the fetcher's.
  const char* user = uri.user ? uri.user.c_str() : credentials.user.c_str();
  const char* password = uri.password ? uri.password.c_str() : credentials.password.c_str();

  const plat::CharArray endpoint =
      proxyEndpoint(uri.host.c_str(), http ? kHttpProxyPort : Socks5Connector::kDefaultPort);
  std::unique_ptr<ProxyTcpConnector> connector;
  if (http) {
    vlog().info("Using HTTP CONNECT proxy %s", endpoint.c_str());
    if (!httpConnectHook) throw plat::Exception("No HTTP CONNECT connector is available");
    connector = httpConnectHook(host_.c_str(), port_, endpoint.c_str(), credentials.prompt);
  } else {
    vlog().info("Using SOCKS 5 proxy %s", endpoint.c_str());
    connector = std::make_unique<Socks5Connector>(host_.c_str(), port_, endpoint.c_str(), nullptr, credentials.prompt);
  }
  if (*user || *password) connector->setCredentials(user, password);
  return connector;
}

void ProxyFetcherConnector::connected(IoConnector&, Io* io) {
  connected_ = true;
  state_ = State::kDone;
  IoConnectorBase::connected(io);
}

void ProxyFetcherConnector::failed(IoConnector&, const plat::Exception& error) {
  state_ = State::kDone;
  fetcher_.reset();
  // The chosen connector is still in this call and the error may be its
  // own: it is destroyed once the failure has been passed on.
  std::unique_ptr<IoConnector> chosen = std::move(chosen_);
  IoConnectorBase::failed(error);
}

void ProxyFetcherConnector::cancel() {
  timer_.cancel();
  fetcher_.reset();
  chosen_.reset();
  credentials_ = ProxyCredentials();
  fetchError_.reset();
}

}  // namespace io
