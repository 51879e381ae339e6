#pragma once
// ssl::SslException: a failure of the TLS layer.  The message is the text
// of its code ("X.509 Error: ..." or "SSL Error: ..."), then ": " and the
// detail when one is given.

#include <cstdint>

#include "qocore/base/plat/Exception.h"

namespace ssl {

class SslException : public plat::Exception {
 public:
  // The failure codes; each has its text (codeText).
  enum Code : uint32_t {
    kInvalidCertificate = 0,  // also what the library reports otherwise
    kNotYetValid = 1,
    kExpired = 2,
    kUnknownIssuer = 3,  // or a bad signature
    kSelfSignedUntrusted = 4,
    kRevoked = 5,
    kBadUsage = 6,
    kWeakSignature = 7,
    kClosed = 8,  // the peer's close notification
    kHostMismatch = 9,
    kNoCrlEndpoint = 10,
    kCrlNotFetched = 11,
    kInvalidCrl = 12,
    kCrlNotYetValid = 13,
    kCrlExpired = 14,
    kCrlNotTrusted = 15,
    kTruncated = 16,  // the stream ended without a close notification
    kInvalidKey = 17,
    kInvalidOcspResponse = 18,
    kOcspNotYetValid = 19,
    kOcspExpired = 20,
    kOcspNotTrusted = 21,
    kOcspNotFetched = 22,
    kNotOcspResponder = 23,
    kCodeCount = 24,  // this code and those above have no text
  };

  explicit SslException(uint32_t code, const char* detail = nullptr) noexcept;
  // The detail is the library's text for an mbedtls error code.
  SslException(uint32_t code, int mbedtlsCode) noexcept;

  uint32_t code() const noexcept { return code_; }

  // The text of a code; "" from kCodeCount on.
  static const char* codeText(uint32_t code) noexcept;

 private:
  uint32_t code_;
};

}  // namespace ssl
