#pragma once
// Failures of the system security service (the trust store).

#include <cstdint>

#include "qocore/base/plat/Exception.h"

namespace os {

// Security service status codes the trust store reports.
inline constexpr int32_t kSecItemNotFound = -25300;
inline constexpr int32_t kSecIoError = -36;

// "<call>: <status text> (0x<status>)", the text only for the codes above;
// the status is kept.
class SecException : public plat::Exception {
 public:
  SecException(const char* call, int32_t status) noexcept;
  int32_t status() const noexcept { return status_; }

 private:
  int32_t status_;
};

}  // namespace os
