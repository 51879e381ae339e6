#include "qocore/base/http/UserAgent.h"

#include <cstring>

#include "qocore/base/loc/LocaleSetter.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/OsVersion.h"
#include "qocore/base/plat/DString.h"

namespace http {

namespace {

constexpr size_t kMaxLocaleName = 64;

}  // namespace

plat::CharArray platformText() {
  const os::OsVersion& v = os::osVersionInfo();
  plat::DString text;
  text.append("Macintosh");
#if defined(__x86_64__) || defined(__i386__)
  text.append("; Intel");
#endif
  text.appendf(" Mac OS X %d.%d.%d", v.major, v.minor, v.patch);
  return text.release();
}

plat::CharArray userAgent() {
  plat::DString text;
  text.append(os::getAppName(true));
  const char* version = os::getProductVersion();
  if (version && *version) {
    text.append("/").append(version, static_cast<int>(std::strcspn(version, " d")));
  }
  text.append(" (");
  text.append(platformText().c_str());
  // The first of the current locale list.
  const plat::CharArray locales = loc::currentLocales();
  const size_t len = std::strcspn(locales.c_str(), ":");
  if (len > 0 && len <= kMaxLocaleName)
    text.append("; ").append(locales.c_str(), static_cast<int>(len));
  else
    text.append("; en_US");
  text.append(")");
  return text.release();
}

}  // namespace http
