#pragma once
// The call-stack text that assertion reports carry.

#include "qocore/base/plat/CharArray.h"

namespace os {

// Appends one line per frame of the current call stack (at most 62),
// leaving out the innermost frame.
void getBacktrace(plat::CharArrayList& lines);

}  // namespace os
