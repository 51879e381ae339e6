#include "qocore/base/os/SecException.h"

#include <cstdio>

namespace os {

SecException::SecException(const char* call, int32_t status) noexcept : status_(status) {
  setMessage(call);
  if (status == kSecItemNotFound) appendMessage(": The specified item could not be found in the keychain.");
  if (status == kSecIoError) appendMessage(": I/O error.");
  char code[32];
  std::snprintf(code, sizeof(code), " (0x%x)", static_cast<unsigned>(status));
  appendMessage(code);
}

}  // namespace os
