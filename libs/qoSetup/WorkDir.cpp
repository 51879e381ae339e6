#include "libs/qoSetup/WorkDir.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "libs/qoSetup/SetupTexts.h"
#include "qocore/base/crypto/RandomStream.h"
#include "qocore/base/os/unix/NamedPipeListener.h"
#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/File.h"
#include "qocore/base/plat/Mutex.h"
#include "qocore/base/plat/Path.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/plat/UniqueFd.h"

namespace qoSetup {

namespace {

[[maybe_unused]] const bool textsRegistered = (registerSetupTexts(), true);

constexpr int kNameBytes = 8;
constexpr int kNameDigits = 2 * kNameBytes;

// The run's folder name; empty until the first call.  Plain storage, so
// nothing is torn down while exit-time code may still ask.
constinit plat::Mutex nameMutex;
constinit char runName[kNameDigits + 1] PLAT_GUARDED_BY(nameMutex) = {};

}  // namespace

plat::CharArray installerDir() {
  plat::CharArray base = os::getUserTempPath(nullptr);
  plat::CharArray dir;
  plat::joinPath(dir, base.c_str(), "installer");
  return dir;
}

plat::CharArray setupWorkDir() {
  plat::CharArray name;
  {
    plat::MutexLock lock(nameMutex);
    if (runName[0] == '\0') {
      unsigned char bytes[kNameBytes];
      {
        crypto::RandomStream random;
        random.readBytes(bytes, kNameBytes);
      }
      plat::CharArray hex = plat::binToHex(kNameBytes, bytes);
      for (int i = 0; i < kNameDigits; ++i) runName[i] = hex.c_str()[i];
      runName[kNameDigits] = '\0';
    }
    name = plat::CharArray(runName);
  }
  plat::CharArray dir;
  plat::joinPath(dir, installerDir().c_str(), name.c_str());
  plat::mkDirs(dir.c_str(), true);
  return dir;
}

plat::CharArray uniqueWorkFile(const char* name) {
  return plat::makeUniqueName(setupWorkDir().c_str(), name, "(", ")", 99);
}

void writeNewFile(const char* path, const void* data, size_t length, mode_t mode) {
  plat::UniqueFd fd(plat::fileOpenFd(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, mode));
  plat::ScopeExit removeFile([&] { (void)plat::removeFile(path); });
  const auto* cursor = static_cast<const unsigned char*>(data);
  size_t left = length;
  while (left > 0) {
    const ssize_t n = ::write(fd.get(), cursor, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw plat::SystemExceptionFmt("write(%s)", n < 0 ? errno : EIO, path);
    cursor += n;
    left -= static_cast<size_t>(n);
  }
  if (::close(fd.release()) != 0) throw plat::SystemExceptionFmt("close(%s)", errno, path);
  removeFile.dismiss();
}

}  // namespace qoSetup
