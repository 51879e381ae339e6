#pragma once
// The program's HTTP/1.1 client.
//
// http::NativeHttpClient parses a request's URL, makes the request
// (http::NativeHttpRequest), keeps a pool of open connections and makes the
// connections the pool asks for: plain TCP or TLS (through an
// http::SslConnectorFactory), each routed through the proxy the proxy
// settings choose.  A request's owner learns the outcome through the
// http::HttpCallback it implements.
//
// Everything runs on the thread of the event loop that owns the client;
// requests must be destroyed before their client.  Log source "HttpClient".

#include <cstdint>
#include <memory>

#include "qocore/base/io/IoPool.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Time.h"

namespace plat {
class Exception;
}

namespace io {
class IoConnector;
}

namespace http {

class HttpRequest;
class NativeHttpRequest;

// The owner of a request; it must outlive the request's start.  Exactly
// one of onSucceeded and onFailed follows each start, after which the
// request no longer refers to the callback.  The owner may delete the
// request inside either.
class HttpCallback {
 public:
  virtual ~HttpCallback();
  // The final status of the response; false fails the request with
  // http::HttpError.
  virtual bool acceptStatus(HttpRequest& request, int32_t status) = 0;
  virtual void onSucceeded(HttpRequest& request) = 0;
  virtual void onFailed(HttpRequest& request, const plat::Exception& error) = 0;
};

// Wraps each new connection of a client in TLS for a host.
class SslConnectorFactory {
 public:
  // inner is handed over; peerName (null for a numeric host) names the
  // server whose certificate is checked.
  virtual std::unique_ptr<io::IoConnector> createConnector(std::unique_ptr<io::IoConnector> inner,
                                                           const char* peerName) = 0;
  virtual ~SslConnectorFactory();
};

class HttpClient {
 public:
  virtual ~HttpClient();
  // A new request owned by the caller; nothing is sent until its start.
  // A malformed or unsuitable URL throws (see NativeHttpClient).
  virtual std::unique_ptr<HttpRequest> createRequest(const char* method, const char* url) = 0;
  // Not handed over; null when the client has none.
  virtual SslConnectorFactory* sslFactory() = 0;
  // Closes the idle pooled connections; those in use are not touched.
  virtual void closeConnections() = 0;
};

class NativeHttpClient : public HttpClient, public io::IoPool::Factory {
 public:
  static constexpr int32_t kMaxIdlePerEndpoint = 2;
  static constexpr int32_t kIdleMs = 60000;

  // The factory (may be null) is owned.  Plain "http" is served exactly
  // when there is no factory, unless setAllowPlainHttp says otherwise.
  explicit NativeHttpClient(std::unique_ptr<SslConnectorFactory> sslFactory);
  ~NativeHttpClient() override;
  NativeHttpClient(const NativeHttpClient&) = delete;
  NativeHttpClient& operator=(const NativeHttpClient&) = delete;

  // A scheme other than "http" or "https", or a scheme this client does
  // not serve, is a plat::AssertionFail thrown to the caller; a URL with a
  // fragment a plat::Exception; other malformed URLs io::EndpointInvalid.
  std::unique_ptr<HttpRequest> createRequest(const char* method, const char* url) override;
  SslConnectorFactory* sslFactory() override { return sslFactory_.get(); }
  void closeConnections() override;

  // A new connection for a pool key ("scheme://host[:port]"), routed
  // through the proxy settings; null for a scheme other than "http" and
  // "https".
  virtual std::unique_ptr<io::IoConnector> makeConnector(const char* poolKey);
  std::unique_ptr<io::IoConnector> createConnector(const char* endpoint) override { return makeConnector(endpoint); }

  void setAllowPlainHttp(bool allow) noexcept { allowPlainHttp_ = allow; }
  bool allowPlainHttp() const noexcept { return allowPlainHttp_; }

  io::IoPool& pool() noexcept { return pool_; }
  // Wall-clock time of construction.
  plat::TimeValue created() const noexcept { return created_; }

  // The request log's step for a request that succeeded, called before
  // its owner hears of it.
  void logRequest(NativeHttpRequest& request);

 private:
  bool allowPlainHttp_;
  std::unique_ptr<SslConnectorFactory> sslFactory_;
  io::IoPool pool_;
  plat::TimeValue created_;
  // This client's page in the request log; empty until the first entry.
  plat::CharArray harPageId_;
};

}  // namespace http
