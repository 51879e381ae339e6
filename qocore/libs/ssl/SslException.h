#pragma once
// ssl::SslException: a failure of the TLS layer.  The message is the text
// of its code ("X.509 Error: ..." or "SSL Error: ..."), then ": " and the
// detail when one is given.

#include <cstdint>

#include "qocore/base/plat/Exception.h"

namespace ssl {

class SslException : public plat::Exception {
 public:
  explicit SslException(uint32_t code, const char* detail = nullptr) noexcept;
  // The detail is the library's text for an mbedtls error code.
  SslException(uint32_t code, int mbedtlsCode) noexcept;

  uint32_t code() const noexcept { return code_; }

  // The text of a code; "" above the table.
  static const char* codeText(uint32_t code) noexcept;

 private:
  uint32_t code_;
};

}  // namespace ssl
