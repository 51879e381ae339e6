#include "qocore/base/os/mac/CFException.h"

namespace os {

CFException::CFException(const char* text, const char* description, long code) noexcept : code_(code) {
  if (text && *text) formatMessage("%s: ", text);
  formatMessage("%s (%ld)", description ? description : "", code);
  setType("CFError");
}

}  // namespace os
