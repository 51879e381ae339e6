#include "qocore/base/crypto/MbedTlsException.h"

#include <mbedtls/error.h>

#include <cstdarg>

namespace crypto {

MbedTlsException::MbedTlsException(const char* operation, int code) noexcept : code_(code) {
  setType("MbedTls");
  setMessage(operation ? operation : "");
  if (code == 0) return;
  char text[160];
  mbedtls_strerror(code, text, sizeof text);
  if (operation && *operation) appendMessage(": ");
  appendMessage(text);
}

MbedTlsException MbedTlsException::formatted(const char* format, ...) noexcept {
  MbedTlsException e("", 0);
  va_list args;
  va_start(args, format);
  e.vformatMessage(format, args);
  va_end(args);
  return e;
}

}  // namespace crypto
