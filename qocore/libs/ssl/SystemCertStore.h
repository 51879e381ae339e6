#pragma once
// The system's trusted roots as a certificate lookup.

#include <cstdint>
#include <memory>

#include "qocore/base/os/SecException.h"
#include "qocore/libs/ssl/SslCertificate.h"

namespace ssl {

// Finds roots by subject, matched after upper-casing every PrintableString
// value of both names.  Failures are logged and answer empty.
class MacCertificateStore : public SslCertLookup {
 public:
  // The store behind a cache.
  static std::unique_ptr<SslCertLookup> create();

  plat::LinkedPtr<SslCertificate> findBySubject(size_t len, const unsigned char* subject) override;
  std::vector<plat::LinkedPtr<SslCertificate>> list() override;
};

// The subject name with every PrintableString value upper-cased; throws
// plat::Exception "invalid ASN.1".
std::vector<unsigned char> normaliseSubject(size_t len, const unsigned char* subject);

}  // namespace ssl
