#pragma once
// Capture of the current thread's call stack as symbol texts.

#include "qocore/base/plat/CharArray.h"

namespace plat {

// Appends one line per frame of the current call stack (at most 62 frames),
// innermost first, leaving out the capturing function itself.  The text is
// whatever the C library's symbol lookup gives.
void captureStackTrace(CharArrayList& lines);

}  // namespace plat
