#pragma once
// Certificates and private keys parsed by mbedtls.  The parsed certificate
// stays with the object for the TLS engine and the trust manager.

#include <mbedtls/pk.h>
#include <mbedtls/x509_crt.h>

#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/LinkedPtr.h"
#include "qocore/libs/ssl/SslCertificate.h"

namespace ssl {

class MbedTlsCertificate : public SslCertificate {
 public:
  // The first PEM certificate block of a NUL-terminated text.
  static plat::LinkedPtr<SslCertificate> create(const char* text);
  static plat::LinkedPtr<SslCertificate> fromDer(size_t len, const unsigned char* der);
  ~MbedTlsCertificate() override;

  std::unique_ptr<crypto::RsaPublicKey> rsaPublicKey() const override;
  std::unique_ptr<crypto::EcKey> ecPublicKey() const override;
  void checkValidity() const override;
  std::vector<plat::CharArray> crlDistributionUrls() const override;
  std::vector<plat::CharArray> ocspUrls() const override;
  const mbedtls_x509_crt* crt() const noexcept { return &crt_; }

 private:
  MbedTlsCertificate();
  void fill();

  mbedtls_x509_crt crt_;
};

class MbedTlsPrivateKey : public SslPrivateKey {
 public:
  // Empty when the password is missing or wrong; other failures throw
  // SslException kInvalidKey.
  static plat::LinkedPtr<SslPrivateKey> create(const char* pem, const char* password);
  ~MbedTlsPrivateKey() override;
  std::unique_ptr<crypto::RsaPrivateKey> rsaPrivateKey() const override;
  std::unique_ptr<crypto::EcKey> ecPrivateKey() const override;
  const mbedtls_pk_context* pk() const noexcept { return &pk_; }

 private:
  MbedTlsPrivateKey();
  mbedtls_pk_context pk_;
};

// The text form of a distinguished name ("" for none), last attribute
// first: "O=b,CN=a".
plat::CharArray formatDistinguishedName(const mbedtls_x509_name* name);

// The verification flags that concern the validity period, recomputed
// against the wall clock.
uint32_t validityFlags(const mbedtls_x509_crt* crt);

}  // namespace ssl
