#include "qocore/base/os/AppDirs.h"

#include <atomic>
#include <cstring>

#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/ExecutablePath.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Path.h"

namespace os {

namespace {

constexpr const char* kTempDir = "/tmp";
constinit std::atomic<const char*> tempDir{kTempDir};

// Process-wide and set at start-up, before other threads read them.
plat::CharArray& configBase() {
  static plat::CharArray* base = new plat::CharArray;
  return *base;
}
plat::CharArray& configuredDataDir() {
  static plat::CharArray* dir = new plat::CharArray;
  return *dir;
}

// "%s%s" when left ends in "/", else "%s%c%s".
plat::CharArray join(const char* left, const char* right) {
  size_t n = std::strlen(left);
  if (n > 0 && left[n - 1] == '/') return plat::DString::format("%s%s", left, right);
  return plat::DString::format("%s%c%s", left, '/', right);
}

}  // namespace

void setConfigBase(const char* dir) { configBase() = plat::CharArray(dir); }

const char* getConfigBase() { return configBase().get(); }

void setConfiguredDataDir(const char* dir) { configuredDataDir() = plat::CharArray(dir); }

plat::CharArray getConfigDir(const char* name) {
  if (!name) name = getAppName(true);
  const plat::CharArray& base = configBase();
  if (!*name || base.isNull()) return plat::CharArray();
  return plat::DString::format("%s/%s.d", base.get(), name);
}

std::vector<plat::CharArray> getDataDirs() {
  std::vector<plat::CharArray> dirs;
  if (configuredDataDir()) dirs.push_back(configuredDataDir());
  plat::CharArray base = getExecutableDir();
  if (base.isNull()) return dirs;
  dirs.push_back(base);
  // Without a path component there is no product folder to look for.
  const char* component = getPathComponent(true);
  if (!*component) return dirs;
  plat::CharArray share = join("share", component);
  plat::CharArray dir = base;
  for (int level = 0; level < 3; ++level) {
    if (level > 0) {
      plat::CharArray parent = plat::dirName(dir.get());
      if (std::strcmp(parent.get(), dir.get()) == 0) break;
      dir = std::move(parent);
    }
    dirs.push_back(join(dir.get(), component));
    dirs.push_back(join(dir.get(), share.get()));
  }
  return dirs;
}

const char* getTempDir() noexcept { return tempDir.load(std::memory_order_acquire); }

void setTempDir(const char* dir) noexcept { tempDir.store(dir ? dir : kTempDir, std::memory_order_release); }

}  // namespace os
