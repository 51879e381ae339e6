#include "libs/hosted/HostedClient.h"

#include <cstring>

#include "libs/hosted/BootstrapRequest.h"
#include "libs/hosted/HostedEndpoint.h"
#include "qocore/base/http/HttpClient.h"
#include "qocore/base/io/Io.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/libs/ssl/SslCertificate.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsCertificate.h"

namespace hosted {

namespace {

// Wraps each connection of a hosted client in TLS that trusts only the
// endpoint's vendor certificates and presents its client certificate.
class HostedSslFactory : public http::SslConnectorFactory {
 public:
  explicit HostedSslFactory(const plat::LinkedPtr<HostedEndpoint>& endpoint) : endpoint_(endpoint) {}

  std::unique_ptr<io::IoConnector> createConnector(std::unique_ptr<io::IoConnector> inner,
                                                   const char* peerName) override;

 private:
  plat::LinkedPtr<HostedEndpoint> endpoint_;
};

// The stored bytes as a NUL-terminated text for the parsers.
plat::CharArray textOf(const plat::Buffer& data) {
  return plat::CharArray(reinterpret_cast<const char*>(data.data()), static_cast<int>(data.count()));
}

std::unique_ptr<io::IoConnector> HostedSslFactory::createConnector(std::unique_ptr<io::IoConnector>, const char*) {
  const HostedEndpoint& endpoint = *endpoint_;
  plat::LinkedPtr<ssl::SslCertificate> certificate;
  plat::LinkedPtr<ssl::SslPrivateKey> key;
  if (endpoint.clientCert().count() > 0 && endpoint.clientKey().count() > 0) {
    certificate = ssl::MbedTlsCertificate::create(textOf(endpoint.clientCert()).c_str());
    key = ssl::MbedTlsPrivateKey::create(textOf(endpoint.clientKey()).c_str(), nullptr);
  }
  // The TLS connector joins here once the TLS layer offers one.
  throw plat::Exception("TLS connections are not available");
}

}  // namespace

HostedClient::HostedClient(const plat::LinkedPtr<HostedEndpoint>& endpoint, HostedFormatCallback* formatCallback)
    : httpClient_(std::make_unique<http::NativeHttpClient>(std::make_unique<HostedSslFactory>(endpoint))),
      bootstrapClient_(std::make_unique<BootstrapClient>(*this, endpoint)),
      formatCallback_(formatCallback) {}

HostedClient::~HostedClient() {
  bootstrapClient_.reset();
  httpClient_.reset();
}

}  // namespace hosted
