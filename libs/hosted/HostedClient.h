#pragma once
// What every request to one hosted endpoint shares: the HTTP client, whose
// TLS connections trust only the endpoint's vendor certificates and carry
// its client certificate when it has one; the bootstrap network side; and
// the formatter of dumped bodies.  It must outlive every request made
// through it.

#include <memory>

#include "qocore/base/plat/LinkedPtr.h"

namespace http {
class HttpClient;
}

namespace hosted {

class BootstrapClient;
class HostedEndpoint;
class HostedFormatCallback;

class HostedClient {
 public:
  // The format callback is borrowed and may be null (bodies are then not
  // dumped).
  HostedClient(const plat::LinkedPtr<HostedEndpoint>& endpoint, HostedFormatCallback* formatCallback);
  // The bootstrap client goes first (it deletes its open requests), then
  // the HTTP client.
  ~HostedClient();
  HostedClient(const HostedClient&) = delete;
  HostedClient& operator=(const HostedClient&) = delete;

  http::HttpClient& httpClient() noexcept { return *httpClient_; }
  BootstrapClient& bootstrapClient() noexcept { return *bootstrapClient_; }
  HostedFormatCallback* formatCallback() const noexcept { return formatCallback_; }

 private:
  std::unique_ptr<http::HttpClient> httpClient_;
  std::unique_ptr<BootstrapClient> bootstrapClient_;
  HostedFormatCallback* formatCallback_;
};

}  // namespace hosted
