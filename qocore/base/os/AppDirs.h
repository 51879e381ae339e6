#pragma once
// The per-application directories: the configuration directory that holds
// the key store, the data directories searched for resource files, and the
// temporary base of the per-user channel directories.
//
// The configuration base and the configured data directory are set at
// product initialisation; the application name and the path component
// come from the application identity (os/AppInfo.h).  The setters are for
// start-up (and tests), before other threads ask.

#include <vector>

#include "qocore/base/plat/CharArray.h"

namespace os {

// The user configuration directory (copied; null clears it).
void setConfigBase(const char* dir);
// The user configuration directory, or null while unset.
const char* getConfigBase();
// A data directory searched before all others (copied; null clears it).
void setConfiguredDataDir(const char* dir);

// "<base>/<name>.d", name defaulting to the application name; null when
// the base or the name is unset.
plat::CharArray getConfigDir(const char* name);

// The resource search list, in order: the configured data directory when
// set; the base, which is the running program's folder (there are no
// bundles here); "<base>/<pc>" and "<base>/share/<pc>" with pc the path
// component; then the same two under the base's parent and grandparent as
// far as they exist.  Ends after the configured directory when the base is
// unknown, and after the base while the path component is unset.
std::vector<plat::CharArray> getDataDirs();

// "/tmp": the folder under which the per-user channel folders lie.
const char* getTempDir() noexcept;
// Test seam: another folder in its place (null restores "/tmp").  Not
// copied.
void setTempDir(const char* dir) noexcept;

}  // namespace os
