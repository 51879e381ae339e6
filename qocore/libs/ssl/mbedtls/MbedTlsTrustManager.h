#pragma once
// Certificate chain verification through mbedtls.  Trust anchors and the
// certificates that complete a chain come from a certificate lookup.

#include <mbedtls/x509_crt.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LinkedPtr.h"
#include "qocore/base/plat/Time.h"
#include "qocore/libs/ssl/SslCertificate.h"

namespace ssl {

using CertChain = std::vector<plat::LinkedPtr<SslCertificate>>;

class SslTrustManager {
 public:
  virtual ~SslTrustManager();
  // The verified chain, leaf first; throws SslException.
  virtual CertChain verifyChain(const plat::LinkedPtr<SslCertificate>& peer, const CertChain& others,
                                plat::TimeValue time) = 0;
};

// Certificates as an mbedtls CA list: shallow copies of their parsed
// structures linked through `next`, never freed themselves (the
// certificates, which must outlive the list, own what they point to).
class MbedTlsCaSlots {
 public:
  explicit MbedTlsCaSlots(const std::vector<const SslCertificate*>& certs);
  MbedTlsCaSlots(const MbedTlsCaSlots&) = delete;
  MbedTlsCaSlots& operator=(const MbedTlsCaSlots&) = delete;
  ~MbedTlsCaSlots();
  // Null for no certificate.  The library takes the list as non-const but
  // only reads it.
  mbedtls_x509_crt* head() const noexcept {
    return slots_.empty() ? nullptr : const_cast<mbedtls_x509_crt*>(slots_.data());
  }

 private:
  std::vector<mbedtls_x509_crt> slots_;
};

// A shared set of certificates (SslCertSet) with its CA list made once,
// with the set: every engine over the set hands the library that one
// list.
class MbedTlsCertSet : public SslCertSet {
 public:
  explicit MbedTlsCertSet(std::vector<plat::LinkedPtr<SslCertificate>> certs);
  mbedtls_x509_crt* caList() const noexcept { return slots_.head(); }

 private:
  MbedTlsCaSlots slots_;
};

// The lookup's certificates as an mbedtls CA list: the list of its shared
// set when that is an MbedTlsCertSet, else one made here from the shared
// set or, when the lookup keeps none, from its list().  Holds what it
// points into.
class MbedTlsCaList {
 public:
  explicit MbedTlsCaList(SslCertLookup& lookup);
  MbedTlsCaList(const MbedTlsCaList&) = delete;
  MbedTlsCaList& operator=(const MbedTlsCaList&) = delete;
  ~MbedTlsCaList();
  // Null when the lookup has no certificate.
  mbedtls_x509_crt* head() noexcept { return head_; }

 private:
  std::shared_ptr<const SslCertSet> shared_;
  CertChain originals_;
  std::unique_ptr<MbedTlsCaSlots> slots_;
  mbedtls_x509_crt* head_ = nullptr;
};

class MbedTlsTrustManager : public SslTrustManager {
 public:
  static std::unique_ptr<MbedTlsTrustManager> create(std::unique_ptr<SslCertLookup> lookup);

  CertChain verifyChain(const plat::LinkedPtr<SslCertificate>& peer, const CertChain& others,
                        plat::TimeValue time) override;

  static const mbedtls_x509_crt_profile* profile() noexcept;
  // mbedtls's verification callback; the context is the trust manager.
  static int verifyCallback(void* self, mbedtls_x509_crt* crt, int depth, uint32_t* flags) noexcept;

  // The collected chain completed by lookups; resets the per-handshake
  // state.  Throws what the lookup throws.
  CertChain takeChain();

  // Logs a failure that ends a verification as "ssl error: %s" with the
  // exception's text form, on this class's log source.
  static void logSslError(const plat::Exception& e) noexcept;

  SslCertLookup& lookup() noexcept { return *lookup_; }

  // Verifies an already linked mbedtls chain against a CA list at `time`
  // (-1: the wall clock when each certificate is checked): the mbedtls
  // result; the flags land in *flags.
  [[nodiscard]] int verifyLinked(mbedtls_x509_crt* chain, mbedtls_x509_crt* caList, plat::TimeValue time,
                                 uint32_t* flags);

 private:
  explicit MbedTlsTrustManager(std::unique_ptr<SslCertLookup> lookup);
  int onVerify(mbedtls_x509_crt* crt, int depth, uint32_t* flags);

  static constexpr uint32_t kNoDepth = 0xFFFFFFFF;
  std::unique_ptr<SslCertLookup> lookup_;
  CertChain collected_;
  uint32_t depth_ = kNoDepth;
  plat::TimeValue checkTime_ = -1;
};

// Throws the SslException the verification flags mean.
[[noreturn]] void mapVerifyFlags(uint32_t flags, const CertChain& chain);

}  // namespace ssl
