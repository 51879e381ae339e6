#include "platform/security/SystemRoots.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <utility>

#include "qocore/base/plat/Exception.h"

namespace security {

namespace {
std::string& overridePath() {
  static std::string path;
  return path;
}
}  // namespace

std::string bundlePath() {
  if (!overridePath().empty()) return overridePath();
  const char* env = std::getenv("SSL_CERT_FILE");
  if (env && *env) return env;
  return "/etc/ssl/certs/ca-certificates.crt";
}

std::string readBundle() {
  std::string path = bundlePath();
  std::ifstream in(path, std::ios::binary);
  if (!in) throw plat::SystemException(path.c_str(), errno ? errno : ENOENT);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string setBundlePath(const std::string& path) { return std::exchange(overridePath(), path); }

}  // namespace security
