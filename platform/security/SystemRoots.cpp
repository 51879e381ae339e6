#include "platform/security/SystemRoots.h"

#include <cerrno>
#include <cstdlib>
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
}  // namespace

plat::CharArray bundlePath() {
  if (*overridePath().c_str()) return overridePath();
  const char* env = std::getenv("SSL_CERT_FILE");
  if (env && *env) return plat::CharArray(env);
  return plat::CharArray("/etc/ssl/certs/ca-certificates.crt");
}

plat::CharArray readBundle() {
  plat::CharArray path = bundlePath();
  std::ifstream in(path.c_str(), std::ios::binary);
  if (!in) throw plat::SystemException(path.c_str(), errno ? errno : ENOENT);
  std::ostringstream text;
  text << in.rdbuf();
  return plat::CharArray(text.str().c_str());
}

plat::CharArray setBundlePath(const char* path) { return std::exchange(overridePath(), plat::CharArray(path)); }

}  // namespace security
