#pragma once
// crypto::MbedTlsException: a failing cryptographic library operation.
// The message is the operation's text, then ": " and the library's own
// text for its error code (the code is kept); the type name is "MbedTls".

#include "qocore/base/plat/Exception.h"

namespace crypto {

class MbedTlsException : public plat::Exception {
 public:
  // A nonzero code appends the library's text for it (after ": " when
  // the operation text is not empty).
  MbedTlsException(const char* operation, int code) noexcept;
  // A failure of ours rather than the library's: code 0.
  explicit MbedTlsException(const char* message) noexcept : MbedTlsException(message, 0) {}
  // A printf-style message; code 0.
  static MbedTlsException formatted(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));

  int code() const noexcept { return code_; }

 private:
  int code_;
};

}  // namespace crypto
