#include "qocore/libs/ssl/SslConnFactory.h"

#include "qocore/libs/ssl/SslIo.h"
#include "qocore/libs/ssl/SslVerifier.h"
#include "qocore/libs/ssl/SystemCertStore.h"

namespace ssl {

SslConnFactory::SslConnFactory(std::unique_ptr<SslCertLookup> lookup, const SslVerifier* verifier)
    : trustManager_(MbedTlsTrustManager::create(std::move(lookup))),
      verifier_(verifier ? verifier : &SslPublicHttpsVerifier::instance()) {}

SslConnFactory::~SslConnFactory() = default;

std::unique_ptr<io::IoConnector> SslConnFactory::createConnector(std::unique_ptr<io::IoConnector> inner,
                                                                 const char* host) {
  return std::make_unique<SslConnector>(std::move(inner), verifier_, trustManager_.get(), host);
}

}  // namespace ssl

namespace http {

NativeHttpClient* createHttpClient(std::unique_ptr<ssl::SslCertLookup> lookup) {
  if (!lookup) lookup = ssl::MacCertificateStore::create();
  return createHttpClientWithSslFactory(std::make_unique<ssl::SslConnFactory>(std::move(lookup), nullptr));
}

NativeHttpClient* createHttpClientWithSslFactory(std::unique_ptr<SslConnectorFactory> factory) {
  return new NativeHttpClient(std::move(factory));
}

}  // namespace http
