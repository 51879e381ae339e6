#pragma once
// os::CFException: a failure that a CoreFoundation call reported as a
// CFError.

#include "qocore/base/plat/Exception.h"

namespace os {

// The message is `text` and ": " when `text` is not empty, then the
// error's description and " (<code>)"; the type name is "CFError".
class CFException : public plat::Exception {
 public:
  CFException(const char* text, const char* description, long code) noexcept;
  long code() const noexcept { return code_; }

 private:
  long code_;
};

}  // namespace os
