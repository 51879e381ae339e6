#pragma once
// The TLS wrapping of the HTTP client's connections, and the two functions
// that build an HTTP client with it.

#include <memory>

#include "qocore/base/http/HttpClient.h"
#include "qocore/libs/ssl/SslCertificate.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsTrustManager.h"

namespace ssl {

class SslVerifier;

// Wraps each connection of an HTTP client in TLS.  The factory must
// outlive every connector and connection it made: they refer to its trust
// manager and verifier.
class SslConnFactory : public http::SslConnectorFactory {
 public:
  // The trust manager is made over the lookup; a null verifier means the
  // shared SslPublicHttpsVerifier.  The verifier is not owned.
  SslConnFactory(std::unique_ptr<SslCertLookup> lookup, const SslVerifier* verifier);
  ~SslConnFactory() override;

  // An SslConnector over inner for host, without a client identity.
  std::unique_ptr<io::IoConnector> createConnector(std::unique_ptr<io::IoConnector> inner, const char* host) override;

  MbedTlsTrustManager& trustManager() noexcept { return *trustManager_; }
  const SslVerifier& verifier() const noexcept { return *verifier_; }

 private:
  std::unique_ptr<MbedTlsTrustManager> trustManager_;
  const SslVerifier* verifier_;
};

}  // namespace ssl

namespace http {

// A new client, owned by the caller, whose HTTPS connections trust the
// lookup's certificates (null: the system's root store) and pass the
// public HTTPS verifier.
NativeHttpClient* createHttpClient(std::unique_ptr<ssl::SslCertLookup> lookup);
// A new client, owned by the caller, that owns the given factory.
NativeHttpClient* createHttpClientWithSslFactory(std::unique_ptr<SslConnectorFactory> factory);

}  // namespace http
