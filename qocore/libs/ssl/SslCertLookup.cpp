#include <algorithm>
#include <cstring>
#include <utility>

#include "qocore/base/crypto/Sha.h"
#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/MBuf.h"
#include "qocore/libs/ssl/SslCertificate.h"
#include "qocore/libs/ssl/SslException.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsCertificate.h"

namespace ssl {

namespace {
PLAT_LOG_SOURCE(certLog, "SslCertificate");
constexpr plat::TimeValue kCacheLife = 9'000'000'000;  // 15 minutes
}  // namespace

bool ByteSpan::operator==(const ByteSpan& o) const noexcept {
  return len == o.len && (len == 0 || std::memcmp(data, o.data, len) == 0);
}

SslCertificate::~SslCertificate() = default;
SslPrivateKey::~SslPrivateKey() = default;
SslCertLookup::~SslCertLookup() = default;

std::shared_ptr<const SslCertSet> SslCertLookup::sharedList() { return nullptr; }

SslCertSet::SslCertSet(std::vector<plat::LinkedPtr<SslCertificate>> certs) noexcept : certs_(std::move(certs)) {}

SslCertSet::~SslCertSet() = default;

plat::LinkedPtr<SslCertificate> SslCertSet::copy(size_t i) const {
  const SslCertificate& c = *certs_[i];
  return MbedTlsCertificate::fromDer(c.der.len, c.der.data);
}

std::vector<plat::LinkedPtr<SslCertificate>> SslCertificate::loadPemFile(const char* text, size_t length) {
  static const char kBegin[] = "-----BEGIN CERTIFICATE-----";
  static const char kEnd[] = "-----END CERTIFICATE-----";
  std::string copy(text, length);
  std::vector<plat::LinkedPtr<SslCertificate>> out;
  size_t pos = 0;
  while (true) {
    size_t begin = copy.find(kBegin, pos);
    if (begin == std::string::npos) break;
    size_t end = copy.find(kEnd, begin);
    if (end == std::string::npos) break;
    end += sizeof(kEnd) - 1;
    std::string one = copy.substr(pos, end - pos);
    char buf[plat::Exception::kMsgSize];
    try {
      plat::LinkedPtr<SslCertificate> cert = MbedTlsCertificate::create(one.c_str());
      out.push_back(cert);
      try {
        cert->checkValidity();
      } catch (const plat::Exception& e) {
        e.format(buf);
        certLog().debug("Bad cert in PEM file: %s", buf);
      }
    } catch (const plat::Exception& e) {
      e.format(buf);
      certLog().debug("Bad cert in PEM file: %s", buf);
    }
    if (end >= copy.size()) break;
    pos = end + 1;
  }
  return out;
}

bool SslCertificate::hasExtKeyUsage(const char* oid) const {
  return std::any_of(extKeyUsages.begin(), extKeyUsages.end(),
                     [oid](const plat::CharArray& u) { return std::strcmp(u.c_str(), oid) == 0; });
}

std::vector<const char*> SslCertificate::attributeValues(const std::vector<CertAttribute>& attributes,
                                                         const char* oid) {
  std::vector<const char*> out;
  for (const CertAttribute& a : attributes) {
    if (std::strcmp(a.oid.c_str(), oid) == 0) out.push_back(a.value.c_str());
  }
  return out;
}

const char* SslCertificate::firstAttributeValue(const std::vector<CertAttribute>& attributes, const char* oid) {
  for (const CertAttribute& a : attributes) {
    if (std::strcmp(a.oid.c_str(), oid) == 0) return a.value.c_str();
  }
  return nullptr;
}

const char* SslCertificate::displayName(const std::vector<CertAttribute>& attributes,
                                        const std::vector<AltName>& altNames) {
  for (const char* oid : {"2.5.4.3", "2.5.4.11", "2.5.4.10", "1.2.840.113549.1.9.1"}) {
    if (const char* v = firstAttributeValue(attributes, oid)) return v;
  }
  for (const AltName& n : altNames) {
    if (n.kind == kAltEmail) return n.value.c_str();
  }
  if (!attributes.empty()) return attributes.front().value.c_str();
  return "";
}

plat::CharArray SslCertificate::sha1Fingerprint() const {
  plat::Buffer digest;
  crypto::digestOneShot(160, der.len, der.data, digest, true);
  return plat::binToHex(digest.count(), digest.data());
}

bool SubjectLess::operator()(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) const noexcept {
  size_t n = std::min(a.size(), b.size());
  int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
  if (c != 0) return c < 0;
  return a.size() < b.size();
}

void SslCertLookupCustom::addCertificate(const plat::LinkedPtr<SslCertificate>& certificate) {
  std::vector<unsigned char> key(certificate->rawSubject.data,
                                 certificate->rawSubject.data + certificate->rawSubject.len);
  map_[std::move(key)] = certificate;
}

plat::LinkedPtr<SslCertificate> SslCertLookupCustom::findBySubject(size_t len, const unsigned char* subject) {
  auto it = map_.find(std::vector<unsigned char>(subject, subject + len));
  return it == map_.end() ? plat::LinkedPtr<SslCertificate>() : it->second;
}

std::vector<plat::LinkedPtr<SslCertificate>> SslCertLookupCustom::list() {
  std::vector<plat::LinkedPtr<SslCertificate>> out;
  for (auto& [key, cert] : map_) out.push_back(cert);
  return out;
}

SslCertLookupCache::SslCertLookupCache(std::unique_ptr<SslCertLookup> inner) : inner_(std::move(inner)) {}

plat::LinkedPtr<SslCertificate> SslCertLookupCache::findBySubject(size_t len, const unsigned char* subject) {
  plat::TimeValue now = plat::getMonotonicTime();
  if (now >= expiry_) {
    expiry_ = now + kCacheLife;
    map_.clear();
  }
  std::vector<unsigned char> key(subject, subject + len);
  auto it = map_.find(key);
  if (it != map_.end()) return it->second;
  plat::LinkedPtr<SslCertificate> answer = inner_->findBySubject(len, subject);
  map_.emplace(std::move(key), answer);
  return answer;
}

std::vector<plat::LinkedPtr<SslCertificate>> SslCertLookupCache::list() { return inner_->list(); }

std::shared_ptr<const SslCertSet> SslCertLookupCache::sharedList() { return inner_->sharedList(); }

}  // namespace ssl
