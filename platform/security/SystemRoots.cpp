#include "platform/security/SystemRoots.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "qocore/base/plat/Exception.h"

namespace security {

namespace {
plat::CharArray& overridePath() {
  static plat::CharArray path;
  return path;
}

BundleVersion versionOf(plat::CharArray path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) throw plat::SystemException(path.c_str(), errno);
  BundleVersion v;
  v.path = std::move(path);
  v.device = static_cast<uint64_t>(st.st_dev);
  v.inode = static_cast<uint64_t>(st.st_ino);
  v.size = static_cast<int64_t>(st.st_size);
  v.modifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
  v.changedNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
  return v;
}

plat::CharArray readText(const plat::CharArray& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  if (!in) throw plat::SystemException(path.c_str(), errno ? errno : ENOENT);
  std::ostringstream text;
  text << in.rdbuf();
  return plat::CharArray(text.str().c_str());
}
}  // namespace

bool BundleVersion::operator==(const BundleVersion& other) const noexcept {
  return device == other.device && inode == other.inode && size == other.size && modifiedNs == other.modifiedNs &&
         changedNs == other.changedNs && std::strcmp(path.c_str(), other.path.c_str()) == 0;
}

plat::CharArray bundlePath() {
  if (*overridePath().c_str()) return overridePath();
  const char* env = std::getenv("SSL_CERT_FILE");
  if (env && *env) return plat::CharArray(env);
  return plat::CharArray("/etc/ssl/certs/ca-certificates.crt");
}

BundleVersion bundleVersion() { return versionOf(bundlePath()); }

plat::CharArray readBundle() { return readText(bundlePath()); }

plat::CharArray readBundle(BundleVersion* version) {
  *version = versionOf(bundlePath());
  return readText(version->path);
}

plat::CharArray setBundlePath(const char* path) { return std::exchange(overridePath(), plat::CharArray(path)); }

}  // namespace security
