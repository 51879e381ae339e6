#pragma once
// The machine's local host name, as log lines and the cloud client show it.

#include "qocore/base/plat/CharArray.h"

namespace os {

// A new copy of the host name (gethostname); null when the system has
// none.
plat::CharArray getLocalHostName();

// Test seam: the name to answer instead (null restores the system's).  The
// text is not copied and must outlive its use.  Returns the previous
// override.
const char* setLocalHostNameOverride(const char* name) noexcept;

}  // namespace os
