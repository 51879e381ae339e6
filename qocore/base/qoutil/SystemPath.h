#pragma once
// The fixed system folders of the product ("/etc/yarl", "/Library/Logs"),
// read through one place so that tests can move them under a temporary
// folder: no test touches the machine's real system folders.

#include "qocore/base/plat/CharArray.h"

namespace qoutil {

// The system-wide configuration folder of the product family.
inline constexpr const char* kSystemConfigDir = "/etc/yarl";

// The absolute path as it stands, or under the root that tests set.
plat::CharArray systemPath(const char* path);

// Test seam: a folder in place of "/" for systemPath (copied; null
// restores "/").  Set before the paths are asked for.
void setSystemRoot(const char* root);

}  // namespace qoutil
