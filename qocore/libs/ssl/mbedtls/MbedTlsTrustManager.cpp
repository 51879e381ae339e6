#include "qocore/libs/ssl/mbedtls/MbedTlsTrustManager.h"

#include <mbedtls/ecp.h>
#include <mbedtls/error.h>
#include <mbedtls/md.h>

#include <cstring>
#include <string>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/libs/ssl/SslException.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsCertificate.h"

namespace ssl {

namespace {

PLAT_LOG_SOURCE(trustLog, "MbedTlsTrustManager");

constexpr size_t kMaxChain = 8;

const MbedTlsCertificate& asMbedTls(const SslCertificate& cert) {
  auto* m = dynamic_cast<const MbedTlsCertificate*>(&cert);
  PLAT_REQUIRE_TEXT(m, "cert", "%s is null", "MbedTlsCertificate");
  return *m;
}

const MbedTlsCertificate& asMbedTls(const plat::LinkedPtr<SslCertificate>& cert) {
  auto* m = dynamic_cast<const MbedTlsCertificate*>(cert.get());
  PLAT_REQUIRE_TEXT(m, "cert", "%s is null", "MbedTlsCertificate");
  return *m;
}

bool sameSpan(const mbedtls_x509_buf& a, const mbedtls_x509_buf& b) {
  return a.len == b.len && std::memcmp(a.p, b.p, a.len) == 0;
}

// Validity flags against a given time (ticks), or the wall clock for -1.
uint32_t validityAt(const mbedtls_x509_crt* crt, plat::TimeValue time) {
  if (time < 0) return validityFlags(crt);
  auto ticks = [](const mbedtls_x509_time& t) -> plat::TimeValue {
    if (!plat::isValidDate(t.year, t.mon, t.day, t.hour, t.min, t.sec)) return -1;
    return plat::dateToTimeChecked(t.year, t.mon, t.day, t.hour, t.min, t.sec);
  };
  uint32_t flags = 0;
  plat::TimeValue to = ticks(crt->valid_to), from = ticks(crt->valid_from);
  if (to >= 0 && time > to) flags |= MBEDTLS_X509_BADCERT_EXPIRED;
  if (from >= 0 && time < from) flags |= MBEDTLS_X509_BADCERT_FUTURE;
  return flags;
}

}  // namespace

SslTrustManager::~SslTrustManager() = default;

void MbedTlsTrustManager::logSslError(const plat::Exception& e) noexcept {
  char text[plat::Exception::kMsgSize];
  e.format(text);
  trustLog().info("ssl error: %s", text);
}

MbedTlsCaSlots::MbedTlsCaSlots(const std::vector<const SslCertificate*>& certs) {
  if (certs.empty()) return;
  slots_.resize(certs.size());
  std::memset(static_cast<void*>(slots_.data()), 0, slots_.size() * sizeof(mbedtls_x509_crt));
  for (size_t i = 0; i < certs.size(); i++) {
    std::memcpy(static_cast<void*>(&slots_[i]), asMbedTls(*certs[i]).crt(), sizeof(mbedtls_x509_crt));
    slots_[i].next = i + 1 < slots_.size() ? &slots_[i + 1] : nullptr;
  }
}

MbedTlsCaSlots::~MbedTlsCaSlots() {
  // The copies point into the originals' memory: zero them, never free.
  if (!slots_.empty()) std::memset(static_cast<void*>(slots_.data()), 0, slots_.size() * sizeof(mbedtls_x509_crt));
}

namespace {

std::vector<const SslCertificate*> pointers(const SslCertSet& set) {
  std::vector<const SslCertificate*> out;
  out.reserve(set.size());
  for (size_t i = 0; i < set.size(); i++) out.push_back(&set[i]);
  return out;
}

}  // namespace

MbedTlsCertSet::MbedTlsCertSet(std::vector<plat::LinkedPtr<SslCertificate>> certs)
    : SslCertSet(std::move(certs)), slots_(pointers(*this)) {}

MbedTlsCaList::MbedTlsCaList(SslCertLookup& lookup) : shared_(lookup.sharedList()) {
  if (auto* ready = dynamic_cast<const MbedTlsCertSet*>(shared_.get())) {
    head_ = ready->caList();
    return;
  }
  std::vector<const SslCertificate*> certs;
  if (shared_) {
    certs = pointers(*shared_);
  } else {
    originals_ = lookup.list();
    for (const plat::LinkedPtr<SslCertificate>& cert : originals_) certs.push_back(&asMbedTls(cert));
  }
  slots_ = std::make_unique<MbedTlsCaSlots>(certs);
  head_ = slots_->head();
}

MbedTlsCaList::~MbedTlsCaList() = default;

MbedTlsTrustManager::MbedTlsTrustManager(std::unique_ptr<SslCertLookup> lookup) : lookup_(std::move(lookup)) {}

std::unique_ptr<MbedTlsTrustManager> MbedTlsTrustManager::create(std::unique_ptr<SslCertLookup> lookup) {
  return std::unique_ptr<MbedTlsTrustManager>(new MbedTlsTrustManager(std::move(lookup)));
}

const mbedtls_x509_crt_profile* MbedTlsTrustManager::profile() noexcept {
  // clang-format off
  static const mbedtls_x509_crt_profile kProfile = {
      MBEDTLS_X509_ID_FLAG(MBEDTLS_MD_SHA256) | MBEDTLS_X509_ID_FLAG(MBEDTLS_MD_SHA384) |
          MBEDTLS_X509_ID_FLAG(MBEDTLS_MD_SHA512),
      0xFFFFFFF,
      MBEDTLS_X509_ID_FLAG(MBEDTLS_ECP_DP_SECP256R1) | MBEDTLS_X509_ID_FLAG(MBEDTLS_ECP_DP_SECP384R1) |
          MBEDTLS_X509_ID_FLAG(MBEDTLS_ECP_DP_SECP521R1) | MBEDTLS_X509_ID_FLAG(MBEDTLS_ECP_DP_BP256R1) |
          MBEDTLS_X509_ID_FLAG(MBEDTLS_ECP_DP_BP384R1) | MBEDTLS_X509_ID_FLAG(MBEDTLS_ECP_DP_BP512R1) |
          MBEDTLS_X509_ID_FLAG(MBEDTLS_ECP_DP_SECP256K1),
      2048,
  };
  // clang-format on
  return &kProfile;
}

int MbedTlsTrustManager::verifyCallback(void* self, mbedtls_x509_crt* crt, int depth, uint32_t* flags) noexcept {
  try {
    return static_cast<MbedTlsTrustManager*>(self)->onVerify(crt, depth, flags);
  } catch (const plat::Exception& e) {
    logSslError(e);
  } catch (...) {
    trustLog().info("ssl error: %s", "unknown exception");
  }
  return MBEDTLS_ERR_X509_FATAL_ERROR;
}

int MbedTlsTrustManager::onVerify(mbedtls_x509_crt* crt, int depth, uint32_t* flags) {
  // The library's own clock cannot be replaced: the validity period is
  // judged again against ours.
  *flags &= ~static_cast<uint32_t>(MBEDTLS_X509_BADCERT_EXPIRED | MBEDTLS_X509_BADCERT_FUTURE);
  *flags |= validityAt(crt, checkTime_);

  if (!collected_.empty() && collected_.back()->der.len == crt->raw.len &&
      std::memcmp(collected_.back()->der.data, crt->raw.p, crt->raw.len) == 0) {
    return 0;
  }
  if (depth_ == kNoDepth || depth_ == static_cast<uint32_t>(depth) + 1) {
    try {
      collected_.insert(collected_.begin(), MbedTlsCertificate::fromDer(crt->raw.len, crt->raw.p));
    } catch (const plat::Exception& e) {
      logSslError(e);
      return MBEDTLS_ERR_X509_FATAL_ERROR;
    }
  }
  depth_ = static_cast<uint32_t>(depth);
  if (*flags != 0) {
    try {
      trustLog().debug("Certificate validation failed for certificate:");
      trustLog().debug("   Subject = %s", formatDistinguishedName(&crt->subject).c_str());
      trustLog().debug("   Issuer  = %s", formatDistinguishedName(&crt->issuer).c_str());
      char info[256];
      int n = mbedtls_x509_crt_verify_info(info, sizeof(info), "", *flags);
      if (n < 0) info[0] = 0;
      std::string all(info);
      size_t pos = 0;
      while (pos <= all.size()) {
        size_t nl = all.find('\n', pos);
        if (nl == std::string::npos) nl = all.size();
        if (nl > pos) trustLog().debug("   %s", all.substr(pos, nl - pos).c_str());
        pos = nl + 1;
      }
    } catch (const plat::Exception& e) {
      // The failure is still reported through the flags; only its log
      // lines are lost.
      logSslError(e);
    }
  }
  return 0;
}

CertChain MbedTlsTrustManager::takeChain() {
  CertChain chain = std::move(collected_);
  collected_.clear();
  depth_ = kNoDepth;
  while (!chain.empty() && chain.size() < kMaxChain && !chain.back()->selfIssued()) {
    plat::LinkedPtr<SslCertificate> next =
        lookup_->findBySubject(chain.back()->rawIssuer.len, chain.back()->rawIssuer.data);
    if (!next) break;
    chain.push_back(next);
  }
  return chain;
}

int MbedTlsTrustManager::verifyLinked(mbedtls_x509_crt* chain, mbedtls_x509_crt* caList, plat::TimeValue time,
                                      uint32_t* flags) {
  collected_.clear();
  depth_ = kNoDepth;
  checkTime_ = time;
  plat::ScopeExit restore([this] { checkTime_ = -1; });
  *flags = 0;
  return mbedtls_x509_crt_verify_with_profile(chain, caList, nullptr, profile(), nullptr, flags, verifyCallback, this);
}

CertChain MbedTlsTrustManager::verifyChain(const plat::LinkedPtr<SslCertificate>& peer, const CertChain& others,
                                           plat::TimeValue time) {
  mbedtls_x509_crt slots[kMaxChain];
  std::memset(static_cast<void*>(slots), 0, sizeof(slots));
  plat::ScopeExit wipe([&slots] { std::memset(static_cast<void*>(slots), 0, sizeof(slots)); });

  std::memcpy(static_cast<void*>(&slots[0]), asMbedTls(peer).crt(), sizeof(mbedtls_x509_crt));
  slots[0].next = nullptr;
  size_t count = 1;
  while (count < kMaxChain) {
    mbedtls_x509_crt& last = slots[count - 1];
    if (sameSpan(last.issuer_raw, last.subject_raw)) break;
    const MbedTlsCertificate* found = nullptr;
    for (const plat::LinkedPtr<SslCertificate>& other : others) {
      const MbedTlsCertificate& m = asMbedTls(other);
      if (sameSpan(m.crt()->subject_raw, last.issuer_raw)) {
        found = &m;
        break;
      }
    }
    if (!found) break;
    std::memcpy(static_cast<void*>(&slots[count]), found->crt(), sizeof(mbedtls_x509_crt));
    slots[count].next = nullptr;
    last.next = &slots[count];
    count++;
  }

  std::unique_ptr<MbedTlsCaList> caList;
  try {
    caList = std::make_unique<MbedTlsCaList>(*lookup_);
  } catch (const plat::Exception& e) {
    logSslError(e);
    throw SslException(SslException::kInvalidCertificate, MBEDTLS_ERR_X509_FATAL_ERROR);
  }
  uint32_t flags = 0;
  int ret = verifyLinked(slots, caList->head(), time, &flags);
  if (ret == MBEDTLS_ERR_X509_CERT_VERIFY_FAILED) mapVerifyFlags(flags, collected_);
  if (ret != 0) throw SslException(SslException::kInvalidCertificate, ret);
  return takeChain();
}

void mapVerifyFlags(uint32_t flags, const CertChain& chain) {
  if (flags & MBEDTLS_X509_BADCERT_FUTURE) throw SslException(SslException::kNotYetValid);
  if (flags & MBEDTLS_X509_BADCERT_EXPIRED) throw SslException(SslException::kExpired);
  if (flags & MBEDTLS_X509_BADCERT_NOT_TRUSTED) {
    throw SslException(!chain.empty() && chain.back()->selfIssued() ? SslException::kSelfSignedUntrusted
                                                                    : SslException::kUnknownIssuer);
  }
  constexpr uint32_t kUsage =
      MBEDTLS_X509_BADCERT_KEY_USAGE | MBEDTLS_X509_BADCERT_EXT_KEY_USAGE | MBEDTLS_X509_BADCERT_NS_CERT_TYPE;
  constexpr uint32_t kWeak = MBEDTLS_X509_BADCERT_BAD_MD | MBEDTLS_X509_BADCERT_BAD_PK | MBEDTLS_X509_BADCERT_BAD_KEY;
  if (flags & kUsage) throw SslException(SslException::kBadUsage);
  if (flags & kWeak) throw SslException(SslException::kWeakSignature);
  throw SslException(SslException::kInvalidCertificate);
}

}  // namespace ssl
