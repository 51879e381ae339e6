#pragma once
// The TLS layer's view of X.509 certificates and private keys, and the
// lookups that find a certificate by the DER bytes of its subject name.
// Certificates and keys are immutable once built and shared through
// plat::LinkedPtr; the last holder deletes them.

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/LinkedPtr.h"
#include "qocore/base/plat/Time.h"

namespace crypto {
class EcKey;
class RsaPrivateKey;
class RsaPublicKey;
}  // namespace crypto

namespace ssl {

enum KeyType : int { kKeyRsa = 0, kKeyEc = 1, kKeyOther = 2 };

struct CertAttribute {
  plat::CharArray oid;  // dotted text
  plat::CharArray value;
};

enum AltNameKind : int { kAltDns = 0, kAltIp = 1, kAltEmail = 2, kAltOther = 3 };

struct AltName {
  int kind;
  plat::CharArray value;
  plat::CharArray second;  // the type OID of an other name
};

struct ByteSpan {
  size_t len = 0;
  const unsigned char* data = nullptr;
  bool operator==(const ByteSpan& o) const noexcept;
};

class SslCertificate {
 public:
  SslCertificate() = default;
  SslCertificate(const SslCertificate&) = delete;
  SslCertificate& operator=(const SslCertificate&) = delete;
  virtual ~SslCertificate();

  // The public key as a key object; plat::Exception for another key kind
  // or an unsupported curve.
  virtual std::unique_ptr<crypto::RsaPublicKey> rsaPublicKey() const = 0;
  virtual std::unique_ptr<crypto::EcKey> ecPublicKey() const = 0;
  // Throws SslException kExpired or kNotYetValid against the wall clock.
  virtual void checkValidity() const = 0;
  // The http(s) and ldap(s) URLs of the CRL distribution points; none
  // without the extension, SslException kNoCrlEndpoint when no point is
  // usable.
  virtual std::vector<plat::CharArray> crlDistributionUrls() const = 0;
  // The http(s) URLs of the OCSP responders.
  virtual std::vector<plat::CharArray> ocspUrls() const = 0;

  // Every certificate of a PEM text, in order; damaged ones are logged and
  // skipped, ones outside their validity logged and kept.
  static std::vector<plat::LinkedPtr<SslCertificate>> loadPemFile(const char* text, size_t length);

  bool hasExtKeyUsage(const char* oid) const;
  static std::vector<const char*> attributeValues(const std::vector<CertAttribute>& attributes, const char* oid);
  static const char* firstAttributeValue(const std::vector<CertAttribute>& attributes, const char* oid);
  static const char* displayName(const std::vector<CertAttribute>& attributes, const std::vector<AltName>& altNames);
  plat::CharArray sha1Fingerprint() const;

  int keyType = kKeyOther;
  ByteSpan der;
  plat::CharArray issuerText;
  plat::CharArray subjectText;
  ByteSpan rawIssuer;
  ByteSpan rawSubject;
  ByteSpan rawSerial;
  ByteSpan publicKey;
  std::vector<CertAttribute> issuerAttributes;
  std::vector<CertAttribute> subjectAttributes;
  std::vector<AltName> altNames;
  plat::TimeValue notBefore = -1;
  plat::TimeValue notAfter = -1;
  uint16_t keyUsage = 0;
  bool keyUsagePresent = false;
  bool extKeyUsagePresent = false;
  std::vector<plat::CharArray> extKeyUsages;

  bool selfIssued() const noexcept { return rawIssuer == rawSubject; }
};

class SslPrivateKey {
 public:
  SslPrivateKey() = default;
  SslPrivateKey(const SslPrivateKey&) = delete;
  SslPrivateKey& operator=(const SslPrivateKey&) = delete;
  virtual ~SslPrivateKey();

  virtual std::unique_ptr<crypto::RsaPrivateKey> rsaPrivateKey() const = 0;
  virtual std::unique_ptr<crypto::EcKey> ecPrivateKey() const = 0;

  int keyType = kKeyOther;
};

// Certificates parsed once and shared read-only by every lookup, engine
// and thread that holds the set (through std::shared_ptr): nothing changes
// it once it is made, and the last holder frees it.  Its certificates are
// lent as references, never handed out as plat::LinkedPtr copies, whose
// ring is not safe across threads; copy() makes a caller one of its own.
class SslCertSet {
 public:
  SslCertSet() = default;
  explicit SslCertSet(std::vector<plat::LinkedPtr<SslCertificate>> certs) noexcept;
  SslCertSet(const SslCertSet&) = delete;
  SslCertSet& operator=(const SslCertSet&) = delete;
  virtual ~SslCertSet();

  size_t size() const noexcept { return certs_.size(); }
  const SslCertificate& operator[](size_t i) const noexcept { return *certs_[i]; }
  // The i-th certificate as a new object, parsed again from its DER.
  plat::LinkedPtr<SslCertificate> copy(size_t i) const;

 private:
  std::vector<plat::LinkedPtr<SslCertificate>> certs_;
};

class SslCertLookup {
 public:
  // The certificate whose subject name has these DER bytes, or empty.
  virtual plat::LinkedPtr<SslCertificate> findBySubject(size_t len, const unsigned char* subject) = 0;
  // Every certificate this lookup can answer (trust anchors for a TLS
  // library that cannot ask a lookup during its verification).
  virtual std::vector<plat::LinkedPtr<SslCertificate>> list() = 0;
  // The certificates of list() as a set this lookup keeps and shares, for
  // a TLS engine to take its trust anchors from without parsing them
  // again; null (the base's answer) when it keeps none, and then list()
  // is asked.
  virtual std::shared_ptr<const SslCertSet> sharedList();
  virtual ~SslCertLookup();
};

// Orders subject names bytewise over the shorter length, then shorter first.
struct SubjectLess {
  bool operator()(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) const noexcept;
};

class SslCertLookupCustom : public SslCertLookup {
 public:
  // Replaces an entry with the same subject.
  void addCertificate(const plat::LinkedPtr<SslCertificate>& certificate);
  plat::LinkedPtr<SslCertificate> findBySubject(size_t len, const unsigned char* subject) override;
  std::vector<plat::LinkedPtr<SslCertificate>> list() override;

 private:
  std::map<std::vector<unsigned char>, plat::LinkedPtr<SslCertificate>, SubjectLess> map_;
};

// Remembers the inner lookup's answers, absent ones included, for 15
// minutes from the first lookup after the previous expiry.
class SslCertLookupCache : public SslCertLookup {
 public:
  explicit SslCertLookupCache(std::unique_ptr<SslCertLookup> inner);
  plat::LinkedPtr<SslCertificate> findBySubject(size_t len, const unsigned char* subject) override;
  std::vector<plat::LinkedPtr<SslCertificate>> list() override;
  // The inner lookup's.
  std::shared_ptr<const SslCertSet> sharedList() override;

 private:
  std::unique_ptr<SslCertLookup> inner_;
  plat::TimeValue expiry_ = 0;
  std::map<std::vector<unsigned char>, plat::LinkedPtr<SslCertificate>, SubjectLess> map_;
};

}  // namespace ssl
