#pragma once
// The run's work folder, where the downloaded installer and the join-token
// file live: "<per-user temporary folder>/installer/<16 hex digits>".  The
// per-user folder is private and refuses a link or another owner
// (os::getUserTempPath); the name of the run's folder is 8 random bytes in
// lower-case hexadecimal, chosen once per process, so two runs never share
// a folder.  The wizard removes the whole "installer" folder when it is
// shown and when the user retries.

#include <sys/types.h>

#include <cstddef>

#include "qocore/base/plat/CharArray.h"

namespace qoSetup {

// "<per-user temporary folder>/installer"; not created here.
plat::CharArray installerDir();

// installerDir() joined with the run's name.  Every call creates the folder
// with its missing parents (private) and returns its path.
plat::CharArray setupWorkDir();

// A path in the run's folder for a file of that name that does not exist
// yet: the name made safe, then with "(1)" to "(99)" before its extension;
// plat::Exception "Too many files with same name" after that.
plat::CharArray uniqueWorkFile(const char* name);

// Writes the bytes into a new file, made with O_EXCL and O_NOFOLLOW and the
// given mode: an existing file or a link there is refused, never replaced
// or followed.  A failed write removes the file again.  Throws
// plat::SystemException ("fileOpenFd(<path>)", "write(<path>)").
void writeNewFile(const char* path, const void* data, size_t length, mode_t mode);

}  // namespace qoSetup
