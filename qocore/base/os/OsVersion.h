#pragma once
// What the running operating system is: a version record for user-agent
// texts, a readable description and the machine's hardware name.
//
// On Linux the version numbers come from VERSION_ID of the os-release file
// (/etc/os-release, else /usr/lib/os-release) and the description is the
// distribution's PRETTY_NAME with the kernel's uname.  The macOS
// description rules are kept as a pure formatting function.

#include <sys/utsname.h>

#include <cstdint>

#include "qocore/base/plat/CharArray.h"

namespace os {

struct OsVersion {
  int32_t major = 0;
  int32_t minor = 0;
  int32_t patch = 0;
  bool server = false;
};

// The process-wide record, read once on first use (thread-safe) and never
// changed afterwards.
const OsVersion& osVersionInfo();
// Reads the record afresh through the seams below.
OsVersion readOsVersion();

// The description, replacing what `out` held:
// "<PRETTY_NAME> (<sysname> <release>)".  Without a PRETTY_NAME the NAME,
// else "Linux", stands first; without uname the parenthesis is left out.
void osVersionString(plat::CharArray& out);

// "Mac OS X [Server ]Version M.m.p", followed by " <release name>" for
// 10.9 to 10.14.
plat::CharArray macOsVersionText(const OsVersion& version);

// The hardware name (uname's machine field, at most 31 bytes cut at a
// whole UTF-8 sequence); when uname fails, the text of the system error
// for the call "uname".  Never throws.
void machineArchitecture(char (&out)[32]) noexcept;

// One value of an os-release text (KEY=value lines, the value optionally
// quoted with shell quoting); null when the key is absent.
plat::CharArray osReleaseValue(const char* text, const char* key);

// VERSION_ID as major.minor.patch: parts that are missing or not numbers
// are 0.
OsVersion parseVersionId(const char* versionId) noexcept;

// Test seams.  The os-release files, the first that can be read wins
// (a null primary restores the system's two); the texts are not copied.
void setOsReleasePaths(const char* primary, const char* fallback) noexcept;
using UnameFn = int (*)(struct utsname*);
// Null restores uname; returns the previous function.
UnameFn setUnameFn(UnameFn fn) noexcept;

}  // namespace os
