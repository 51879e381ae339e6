#include "libs/hosted/HostedClient.h"

#include "libs/hosted/BootstrapRequest.h"
#include "libs/hosted/HostedEndpoint.h"
#include "libs/hosted/VendorConfig.h"
#include "qocore/base/http/HttpClient.h"
#include "qocore/base/io/Io.h"
#include "qocore/base/plat/SecretText.h"
#include "qocore/libs/ssl/SslConnFactory.h"
#include "qocore/libs/ssl/SslIo.h"
#include "qocore/libs/ssl/SslVerifier.h"
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

std::unique_ptr<io::IoConnector> HostedSslFactory::createConnector(std::unique_ptr<io::IoConnector> inner,
                                                                   const char* peerName) {
  const HostedEndpoint& endpoint = *endpoint_;
  ssl::ClientIdentity identity;
  if (endpoint.clientCert().count() > 0 && endpoint.clientKey().count() > 0) {
    identity.certificate = ssl::MbedTlsCertificate::create(textOf(endpoint.clientCert()).c_str());
    const plat::SecretText key = plat::SecretText::adopt(textOf(endpoint.clientKey()));
    identity.key = ssl::MbedTlsPrivateKey::create(key.c_str(), nullptr);
  }
  return std::make_unique<ssl::SslConnector>(std::move(inner), &ssl::SslPublicHttpsVerifier::instance(),
                                             endpoint.vendorConfig()->trustManager(), peerName, std::move(identity));
}

}  // namespace

HostedClient::HostedClient(const plat::LinkedPtr<HostedEndpoint>& endpoint, HostedFormatCallback* formatCallback)
    : httpClient_(http::createHttpClientWithSslFactory(std::make_unique<HostedSslFactory>(endpoint))),
      bootstrapClient_(std::make_unique<BootstrapClient>(*this, endpoint)),
      formatCallback_(formatCallback) {}

HostedClient::~HostedClient() {
  bootstrapClient_.reset();
  httpClient_.reset();
}

}  // namespace hosted
