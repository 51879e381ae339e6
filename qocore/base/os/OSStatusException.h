#pragma once
// Failures of the platform services that report a 32-bit status code, and
// the text such a code reads as.

#include <cstdint>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Exception.h"

namespace os {

// The message is the caller's text, ": " when that text is not empty, then
// the code's status text; the type name is "OSStatus" (subclasses set
// their own).
class OSStatusException : public plat::Exception {
 public:
  OSStatusException(const char* text, int32_t status) noexcept;
  int32_t status() const noexcept { return status_; }

 protected:
  int32_t status_;
};

// The code's comment (or, without one, the published name of an audio
// error code, else "Unknown error"), then " [<name>]" when the code has a
// constant name, then " (<code>)".
plat::CharArray osStatusText(int32_t status);

// The same text written into a caller's buffer without allocating; cut at
// a whole UTF-8 sequence.
void formatOsStatusText(int32_t status, char (&out)[256]) noexcept;

}  // namespace os
