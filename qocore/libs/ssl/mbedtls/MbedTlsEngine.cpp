#include "qocore/libs/ssl/mbedtls/MbedTlsEngine.h"

#include <mbedtls/debug.h>
#include <mbedtls/net_sockets.h>
#include <mbedtls/ssl_ciphersuites.h>
#include <mbedtls/x509.h>

#include <algorithm>
#include <cstring>

#include "qocore/base/crypto/MbedTlsException.h"
#include "qocore/base/crypto/RandomStream.h"
#include "qocore/base/io/EndpointName.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/libs/ssl/SslException.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsCertificate.h"

namespace ssl {

namespace {

PLAT_LOG_SOURCE(engineLog, "SslEngine");

constexpr int kMaxDebugLevel = 2;

// Runs something that asks the certificate lookup during the handshake.
// Its failure ends the handshake as a failing verification callback
// would: logged by the trust manager, then the library's fatal error.
template <typename Fn>
auto askLookup(Fn fn) -> decltype(fn()) {
  try {
    return fn();
  } catch (const plat::Exception& e) {
    MbedTlsTrustManager::logSslError(e);
    throw crypto::MbedTlsException("ssl_handshake", MBEDTLS_ERR_X509_FATAL_ERROR);
  }
}

}  // namespace

class MbedTlsEngine::Streams {
 public:
  Streams(MbedTlsEngine& engine, rdr::InStream* in, rdr::OutStream* out)
      : engine_(engine), in_(engine.is_), out_(engine.os_) {
    engine.is_ = in;
    engine.os_ = out;
  }
  ~Streams() {
    engine_.is_ = in_;
    engine_.os_ = out_;
  }
  Streams(const Streams&) = delete;
  Streams& operator=(const Streams&) = delete;

 private:
  MbedTlsEngine& engine_;
  rdr::InStream* in_;
  rdr::OutStream* out_;
};

MbedTlsEngine::MbedTlsEngine(SslTrustManager* trustManager, std::span<const int> suites, const char* host,
                             const ClientIdentity& identity)
    : trustManager_(dynamic_cast<MbedTlsTrustManager*>(trustManager)) {
  PLAT_ASSERT_TEXT(trustManager_, "trustManager", "%s is null", "MbedTlsTrustManager");
  mbedtls_ssl_init(&ssl_);
  mbedtls_ssl_config_init(&conf_);
  // The destructor does not run when the constructor throws.
  plat::ScopeExit freeAll([this] {
    mbedtls_ssl_free(&ssl_);
    mbedtls_ssl_config_free(&conf_);
  });

  int ret = mbedtls_ssl_config_defaults(&conf_, MBEDTLS_SSL_IS_CLIENT, MBEDTLS_SSL_TRANSPORT_STREAM,
                                        MBEDTLS_SSL_PRESET_DEFAULT);
  if (ret != 0) throw crypto::MbedTlsException("ssl_config_defaults", ret);
  mbedtls_ssl_conf_authmode(&conf_, MBEDTLS_SSL_VERIFY_REQUIRED);
  mbedtls_ssl_conf_rng(&conf_, crypto::mbedtlsRandom, nullptr);
  mbedtls_ssl_conf_dbg(&conf_, debugCallback, this);
  mbedtls_ssl_conf_cert_profile(&conf_, MbedTlsTrustManager::profile());
  // The parameter's value, but never above 2, whatever the parameter is
  // documented to do: from level 3 on the library prints the premaster and
  // master secrets and the key block, at 4 every record's plaintext, and a
  // support log is made to be sent.  Handshake messages and alerts (levels
  // 1 and 2) stay visible.
  mbedtls_debug_set_threshold(std::min(tlsLogging.getValue(), kMaxDebugLevel));

  suiteCount_ = suites.size();
  suites_.reset(new int[suiteCount_ + 1]());
  std::copy(suites.begin(), suites.end(), suites_.get());
  mbedtls_ssl_conf_ciphersuites(&conf_, suites_.get());
  mbedtls_ssl_conf_min_version(&conf_, MBEDTLS_SSL_MAJOR_VERSION_3, MBEDTLS_SSL_MINOR_VERSION_3);
  mbedtls_ssl_conf_max_version(&conf_, MBEDTLS_SSL_MAJOR_VERSION_3, MBEDTLS_SSL_MINOR_VERSION_3);

  // The trust anchors come as a list made on the first handshake step.
  mbedtls_ssl_conf_verify(&conf_, MbedTlsTrustManager::verifyCallback, trustManager_);

  if (identity.certificate && identity.key) {
    auto* cert = dynamic_cast<const MbedTlsCertificate*>(identity.certificate.get());
    PLAT_ASSERT_TEXT(cert, "cert", "%s is null", "MbedTlsCertificate");
    auto* key = dynamic_cast<const MbedTlsPrivateKey*>(identity.key.get());
    PLAT_ASSERT_TEXT(key, "key", "%s is null", "MbedTlsPrivateKey");
    ownCert_ = identity.certificate;
    ownKey_ = identity.key;
    // The library takes non-const pointers but only reads through them.
    ret = mbedtls_ssl_conf_own_cert(&conf_, const_cast<mbedtls_x509_crt*>(cert->crt()),
                                    const_cast<mbedtls_pk_context*>(key->pk()));
    if (ret != 0) throw crypto::MbedTlsException("ssl_conf_own_cert", ret);
  }

  ret = mbedtls_ssl_setup(&ssl_, &conf_);
  if (ret != 0) throw crypto::MbedTlsException("ssl_setup", ret);
  mbedtls_ssl_set_bio(&ssl_, this, sendCallback, recvCallback, nullptr);

  if (host && *host) {
    plat::CharArray name;
    int port = 0;
    // Only the host part matters; any default port lets a host text
    // without a port through.
    io::parseEndpoint(host, name, &port, 1, 0);
    ret = mbedtls_ssl_set_hostname(&ssl_, io::hostFromBracketed(name.c_str()).c_str());
    if (ret != 0) throw crypto::MbedTlsException("ssl_set_hostname", ret);
  }
  freeAll.dismiss();
}

MbedTlsEngine::~MbedTlsEngine() {
  mbedtls_ssl_free(&ssl_);
  mbedtls_ssl_config_free(&conf_);
  // Only now are the suites and the CA list no longer referred to.
  if (suites_) std::memset(suites_.get(), 0, (suiteCount_ + 1) * sizeof(int));
}

int MbedTlsEngine::sendCallback(void* self, const unsigned char* buf, size_t len) noexcept {
  auto* engine = static_cast<MbedTlsEngine*>(self);
  try {
    if (!engine->os_) {
      // An alert sent while no operation is running (the library's own
      // clean-up) has nowhere to go.
      engineLog().debug("Discarding peer alert");
      return static_cast<int>(len);
    }
    // Records are at most a few tens of KiB, far below 2^31.
    engine->os_->writeBytes(buf, static_cast<int32_t>(len));
    return static_cast<int>(len);
  } catch (const plat::Exception& e) {
    engineLog().debug("Write failed: %s", e.str());
  } catch (...) {
    engineLog().debug("Write failed: %s", "unknown exception");
  }
  return MBEDTLS_ERR_NET_SEND_FAILED;
}

int MbedTlsEngine::recvCallback(void* self, unsigned char* buf, size_t len) noexcept {
  auto* engine = static_cast<MbedTlsEngine*>(self);
  try {
    rdr::InStream* is = engine->is_;
    PLAT_ASSERT_TEXT(is, "this_->is");
    if (is->nUnread() == 0) {
      try {
        if (!is->check(false, 1)) return MBEDTLS_ERR_SSL_WANT_READ;
      } catch (const rdr::EndOfStream&) {
        return 0;
      } catch (const rdr::BlockException&) {
        return MBEDTLS_ERR_SSL_WANT_READ;
      }
    }
    const size_t n = std::min(static_cast<size_t>(is->nUnread()), len);
    std::memcpy(buf, is->getPtr(), n);
    is->skip(static_cast<int32_t>(n));
    is->setCheckpoint();
    return static_cast<int>(n);
  } catch (const plat::Exception& e) {
    engineLog().debug("Read failed: %s", e.str());
  } catch (...) {
    engineLog().debug("Read failed: %s", "unknown exception");
  }
  return MBEDTLS_ERR_NET_RECV_FAILED;
}

void MbedTlsEngine::debugCallback(void*, int level, const char*, int, const char* text) noexcept {
  try {
    size_t len = std::strlen(text);
    if (len > 0 && text[len - 1] == '\n') len--;
    engineLog().debug("DEBUG<%d> %.*s", level, static_cast<int>(len), text);
  } catch (...) {
    // A debug line that cannot be logged is lost; the library must not
    // see an exception.
  }
}

bool MbedTlsEngine::handshake(rdr::InStream& in, rdr::OutStream& out) {
  Streams streams(*this, &in, &out);
  if (!caList_) {
    // The library of this platform cannot ask a lookup for trust anchors
    // during the handshake: they are handed over as a list, made once.
    caList_ = askLookup([this] { return std::make_unique<MbedTlsCaList>(trustManager_->lookup()); });
    mbedtls_ssl_conf_ca_chain(&conf_, caList_->head(), nullptr);
  }
  for (;;) {
    (void)askLookup([this] { return trustManager_->takeChain(); });
    const int ret = mbedtls_ssl_handshake_step(&ssl_);
    CertChain chain = askLookup([this] { return trustManager_->takeChain(); });
    if (!chain.empty() && peerCerts_.empty()) peerCerts_ = std::move(chain);

    if (ret == 0 && ssl_.state != MBEDTLS_SSL_HANDSHAKE_OVER) {
      out.flush();
      continue;
    }
    if (ret == 0) {
      PLAT_ASSERT_TEXT(ssl_.minor_ver == MBEDTLS_SSL_MINOR_VERSION_3, "ssl.tls_version == MBEDTLS_SSL_VERSION_TLS1_2");
      const int suite = ssl_.session->ciphersuite;
      const bool cipherOk = std::find(suites_.get(), suites_.get() + suiteCount_, suite) != suites_.get() + suiteCount_;
      PLAT_ASSERT(cipherOk);
      engineLog().debug("Established TLS 1.2 connection using %s%s", mbedtls_ssl_get_ciphersuite(&ssl_),
                        ssl_.session->encrypt_then_mac ? " (EtM)" : "");
      out.flush();
      return true;
    }
    if (ret == MBEDTLS_ERR_SSL_WANT_READ) {
      out.flush();
      return false;
    }
    if (ret == MBEDTLS_ERR_X509_CERT_VERIFY_FAILED) mapVerifyFlags(mbedtls_ssl_get_verify_result(&ssl_), peerCerts_);
    if (ret == MBEDTLS_ERR_SSL_CONN_EOF) throw SslException(SslException::kClosed);
    throw crypto::MbedTlsException("ssl_handshake", ret);
  }
}

void MbedTlsEngine::write(const uint8_t* data, int32_t len, rdr::OutStream& out) {
  if (closed_) throw SslException(SslException::kClosed);
  Streams streams(*this, nullptr, &out);
  int32_t done = 0;
  while (done < len) {
    const int ret = mbedtls_ssl_write(&ssl_, data + done, static_cast<size_t>(len - done));
    if (ret <= 0) throw crypto::MbedTlsException("ssl_write", ret);
    done += ret;
  }
}

int MbedTlsEngine::read(rdr::InStream& in, rdr::MemIoStream& pipe) {
  PLAT_ASSERT(!closed_);
  Streams streams(*this, &in, nullptr);
  rdr::OutStream& out = pipe;
  for (;;) {
    out.flush();
    const int32_t limit = out.spaceLimit();
    if (limit <= 0) return 0;
    int32_t room = static_cast<int32_t>(out.getEnd() - out.getPtr());
    room = room > 0 ? std::min(room, limit) : std::min(out.check(1, limit), limit);
    const int ret = mbedtls_ssl_read(&ssl_, out.getPtr(), static_cast<size_t>(room));
    if (ret > 0) {
      out.setPtr(out.getPtr() + ret);
      continue;
    }
    out.flush();
    if (ret == MBEDTLS_ERR_SSL_WANT_READ) return ret;
    if (ret == MBEDTLS_ERR_SSL_PEER_CLOSE_NOTIFY) {
      closed_ = true;
      throw SslException(SslException::kClosed);
    }
    if (ret == 0 || ret == MBEDTLS_ERR_SSL_CONN_EOF) {
      closed_ = true;
      throw rdr::EndOfStream("SSL connection truncated");
    }
    throw crypto::MbedTlsException("ssl_read", ret);
  }
}

void MbedTlsEngine::closeNotify(rdr::OutStream& out) {
  closed_ = true;
  Streams streams(*this, is_, &out);
  const int ret = mbedtls_ssl_close_notify(&ssl_);
  if (ret != 0) throw crypto::MbedTlsException("ssl_close_notify", ret);
  out.flush();
}

const CertChain& MbedTlsEngine::peerCertificates() {
  PLAT_ASSERT(peerCerts_.size());
  return peerCerts_;
}

}  // namespace ssl
