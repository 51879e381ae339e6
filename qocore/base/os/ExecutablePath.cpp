#include "qocore/base/os/ExecutablePath.h"

#include <unistd.h>

#include <cstring>
#include <memory>

#include "qocore/base/os/AppInfo.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Mutex.h"
#include "qocore/base/plat/Path.h"

namespace os {

namespace {

constexpr const char* kSelfExe = "/proc/self/exe";
// A path longer than this is not a path the program can have been
// started from.
constexpr size_t kMaxPathBytes = size_t(1) << 20;

constinit plat::Mutex pathMutex;
constinit const char* source PLAT_GUARDED_BY(pathMutex) = kSelfExe;
constinit char* cached PLAT_GUARDED_BY(pathMutex) = nullptr;

// The link's text, or null; the buffer doubles until the text fits.
char* readLink(const char* link) {
  for (size_t size = 256; size <= kMaxPathBytes; size *= 2) {
    auto buffer = std::make_unique<char[]>(size);
    ssize_t n = ::readlink(link, buffer.get(), size);
    if (n <= 0) return nullptr;
    if (static_cast<size_t>(n) < size) {
      buffer[n] = '\0';
      return buffer.release();
    }
  }
  return nullptr;
}

}  // namespace

const char* getExecutablePath() {
  plat::MutexLock lock(pathMutex);
  if (!cached) cached = readLink(source);
  return cached;
}

plat::CharArray getExecutableDir() {
  const char* path = getExecutablePath();
  return path ? plat::dirName(path) : plat::CharArray();
}

plat::CharArray getExecutableProductDir() {
  plat::CharArray dir = getExecutableDir();
  if (!dir) return dir;
  const char* component = getPathComponent(true);
  size_t n = std::strlen(dir.get());
  if (n > 0 && dir[n - 1] == '/') return plat::DString::format("%s%s", dir.get(), component);
  return plat::DString::format("%s%c%s", dir.get(), '/', component);
}

void setExecutablePathSource(const char* path) {
  plat::MutexLock lock(pathMutex);
  source = path ? path : kSelfExe;
  delete[] cached;
  cached = nullptr;
}

}  // namespace os
