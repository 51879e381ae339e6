#pragma once
// The running program's own path and the places derived from it.
//
// getExecutablePath is the one reader of /proc/self/exe in the program:
// it reads the link once, into a buffer that grows until the whole path
// fits, and keeps the answer for the life of the process.

#include "qocore/base/plat/CharArray.h"

namespace os {

// The running program's absolute path, or null when the link cannot be
// read.  Computed on first use; the text stays valid until the process
// ends (or a test changes the source below).
const char* getExecutablePath();
// Its folder, or null.
plat::CharArray getExecutableDir();
// The folder joined with the application's path component ("/" between
// them only when the folder does not end in one).
plat::CharArray getExecutableProductDir();

// Test seam: the link read instead of /proc/self/exe (null restores it);
// not copied.  Forgets the cached path, so earlier answers become invalid.
void setExecutablePathSource(const char* path);

}  // namespace os
