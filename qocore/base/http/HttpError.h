#pragma once
// The failure for an HTTP status that a caller refused or a proxy answered
// with, and the reason phrases of the status codes.

#include <cstdint>

#include "qocore/base/plat/Exception.h"

namespace http {

// Message "HTTP status <status> (<reason phrase>)", type "HttpStatus<status>".
class HttpError : public plat::Exception {
 public:
  explicit HttpError(int32_t status) noexcept;
  int32_t status() const noexcept { return status_; }

  int32_t status_;
};

// The standard reason phrase of a status code, "Unknown Error" for a code
// without one.  The text is static.
const char* statusReasonPhrase(int32_t status) noexcept;

}  // namespace http
