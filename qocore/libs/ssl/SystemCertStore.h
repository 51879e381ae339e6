#pragma once
// The system's trusted roots as a certificate lookup.

#include <cstdint>
#include <memory>

#include "qocore/base/os/SecException.h"
#include "qocore/libs/ssl/SslCertificate.h"

namespace ssl {

// Finds roots by subject, matched after upper-casing every PrintableString
// value of both names.  Failures are logged and answer empty.
//
// The bundle is read and parsed once per process and its certificates
// shared by every store, read-only; each use compares the file's version
// (security::bundleVersion, one stat) with the one parsed and reads it
// again when they differ.  A set already handed out stays whole for its
// holders while a newer one replaces it.  Thread-safe.
class MacCertificateStore : public SslCertLookup {
 public:
  // The store behind a cache.
  static std::unique_ptr<SslCertLookup> create();

  // A copy of its own of the first root with that subject.
  plat::LinkedPtr<SslCertificate> findBySubject(size_t len, const unsigned char* subject) override;
  // Copies of their own of every root.
  std::vector<plat::LinkedPtr<SslCertificate>> list() override;
  // The shared roots themselves (an empty set after a failure).
  std::shared_ptr<const SslCertSet> sharedList() override;

  // How many times this process has read and parsed the bundle.
  static uint64_t bundleParses() noexcept;
};

// The subject name with every PrintableString value upper-cased; throws
// plat::Exception "invalid ASN.1".
std::vector<unsigned char> normaliseSubject(size_t len, const unsigned char* subject);

}  // namespace ssl
