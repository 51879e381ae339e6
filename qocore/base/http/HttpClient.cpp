#include "qocore/base/http/HttpClient.h"

#include <arpa/inet.h>

#include <cstring>
#include <string>

#include "qocore/base/http/HttpRequest.h"
#include "qocore/base/http/ProxySettings.h"
#include "qocore/base/io/EndpointName.h"
#include "qocore/base/io/EndpointUri.h"
#include "qocore/base/io/TcpConnector.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/ScopeExit.h"

namespace http {

namespace {

PLAT_LOG_SOURCE(vlog, "HttpClient");

constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;

bool isNumericAddress(const char* host) {
  unsigned char address[16];
  return inet_pton(AF_INET, host, address) == 1 || inet_pton(AF_INET6, host, address) == 1;
}

// A TCP connector to the target through the proxy the settings choose; a
// direct one when the settings cannot be read.
std::unique_ptr<io::IoConnector> proxyRoutedConnector(const char* host, int port) {
  try {
    return ProxySettings::instance().makeConnector(host, port);
  } catch (const plat::Exception& e) {
    vlog().error("Unable to read proxy settings: %s", e.str());
    return std::make_unique<io::TcpConnector>(host, port);
  }
}

}  // namespace

HttpCallback::~HttpCallback() = default;
SslConnectorFactory::~SslConnectorFactory() = default;
HttpClient::~HttpClient() = default;

NativeHttpClient::NativeHttpClient(std::unique_ptr<SslConnectorFactory> sslFactory)
    : allowPlainHttp_(!sslFactory),
      sslFactory_(std::move(sslFactory)),
      pool_(this, kMaxIdlePerEndpoint, kIdleMs),
      created_(plat::getTime()) {}

NativeHttpClient::~NativeHttpClient() = default;

std::unique_ptr<HttpRequest> NativeHttpClient::createRequest(const char* method, const char* url) {
  const io::Uri s = io::parseUri(url);
  const bool http = std::strcmp(s.scheme.c_str(), "http") == 0;
  const bool https = std::strcmp(s.scheme.c_str(), "https") == 0;
  // Misuse by the caller, but thrown: nothing is created and nothing sent.
  PLAT_REQUIRE_TEXT(http || https, "s.scheme == \"http\" || s.scheme == \"https\"");
  if (s.fragment) throw plat::Exception("should not send request with fragment");
  const bool allowed = http ? allowPlainHttp_ : sslFactory_ != nullptr;
  PLAT_REQUIRE_TEXT(allowed, "allowed");

  const plat::CharArray hostHeader = io::normaliseEndpoint(s.host.c_str(), http ? kHttpPort : kHttpsPort);
  const std::string poolKey = std::string(s.scheme.c_str()) + "://" + hostHeader.c_str();
  const plat::CharArray target = io::composePathAndQuery(s.path.c_str(), s.query.c_str());
  const std::string fullUrl = poolKey + target.c_str();
  auto request = std::make_unique<NativeHttpRequest>(this, fullUrl.c_str(), hostHeader.c_str(), poolKey.c_str(),
                                                     s.path.c_str(), s.query.c_str(), method);
  if (s.user && s.password) request->setBasicAuth(s.user.c_str(), s.password.c_str());
  return request;
}

void NativeHttpClient::closeConnections() { pool_.closeConnections(); }

std::unique_ptr<io::IoConnector> NativeHttpClient::makeConnector(const char* poolKey) {
  const io::Uri key = io::parseUri(poolKey);
  const bool http = std::strcmp(key.scheme.c_str(), "http") == 0;
  const bool https = std::strcmp(key.scheme.c_str(), "https") == 0;
  if (!http && !https) return nullptr;
  plat::CharArray host;
  int port = 0;
  io::parseEndpoint(key.host.c_str(), host, &port, http ? kHttpPort : kHttpsPort, 0);
  const plat::CharArray bareHost = io::hostFromBracketed(host.c_str());
  if (http) return proxyRoutedConnector(bareHost.c_str(), port);
  PLAT_ASSERT_TEXT(sslFactory_, "sslFactory.get()");
  // A numeric host has no name to check; a named one is "host::port" (the
  // port after two colons is always the literal port).
  plat::CharArray peerName;
  if (!isNumericAddress(bareHost.c_str())) peerName = io::formatEndpoint(bareHost.c_str(), port, -1, 1);
  std::unique_ptr<io::IoConnector> inner = proxyRoutedConnector(bareHost.c_str(), port);
  return sslFactory_->createConnector(std::move(inner), peerName.get());
}

}  // namespace http
