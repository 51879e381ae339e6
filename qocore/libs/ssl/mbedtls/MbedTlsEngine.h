#pragma once
// ssl::MbedTlsEngine: the TLS 1.2 client of ssl::SslIo over mbedtls.
//
// The library's transport callbacks read from and write to the streams of
// the operation in progress and never block: with no ciphertext buffered
// they answer "want read", and output goes into the output stream's
// buffer.

#include <mbedtls/ssl.h>

#include <memory>
#include <span>

#include "qocore/base/plat/LinkedPtr.h"
#include "qocore/libs/ssl/SslIo.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsTrustManager.h"

namespace ssl {

class MbedTlsEngine : public SslEngine {
 public:
  // trustManager must be an MbedTlsTrustManager (assertion otherwise) and
  // outlive the engine.  host (may be null) is an endpoint text whose host
  // part is sent for SNI and checked by the library against the server's
  // certificate.
  MbedTlsEngine(SslTrustManager* trustManager, std::span<const int> suites, const char* host,
                const ClientIdentity& identity);
  ~MbedTlsEngine() override;
  MbedTlsEngine(const MbedTlsEngine&) = delete;
  MbedTlsEngine& operator=(const MbedTlsEngine&) = delete;

  bool handshake(rdr::InStream& in, rdr::OutStream& out) override;
  void write(const uint8_t* data, int32_t len, rdr::OutStream& out) override;
  int read(rdr::InStream& in, rdr::MemIoStream& pipe) override;
  void closeNotify(rdr::OutStream& out) override;
  const CertChain& peerCertificates() override;

 private:
  // Sets the current streams for one operation and puts the previous ones
  // back when it ends.
  class Streams;

  static int sendCallback(void* self, const unsigned char* buf, size_t len) noexcept;
  static int recvCallback(void* self, unsigned char* buf, size_t len) noexcept;
  static void debugCallback(void* self, int level, const char* file, int line, const char* text) noexcept;

  mbedtls_ssl_context ssl_;
  mbedtls_ssl_config conf_;
  plat::LinkedPtr<SslCertificate> ownCert_;
  plat::LinkedPtr<SslPrivateKey> ownKey_;
  // The configuration points at these two; they are freed after it.
  std::unique_ptr<int[]> suites_;
  size_t suiteCount_ = 0;
  std::unique_ptr<MbedTlsCaList> caList_;
  MbedTlsTrustManager* trustManager_;
  CertChain peerCerts_;
  bool closed_ = false;
  rdr::InStream* is_ = nullptr;
  rdr::OutStream* os_ = nullptr;
};

}  // namespace ssl
