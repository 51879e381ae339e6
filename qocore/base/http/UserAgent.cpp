#include "qocore/base/http/UserAgent.h"

#include <cstring>

#include "qocore/base/loc/LocaleSetter.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/OsVersion.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Regex.h"

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

namespace http {

UserAgentParts UserAgentParts::parse(const char* text) {
  UserAgentParts parts;
  if (!text) return parts;
  const char* slash = std::strchr(text, '/');
  if (!slash) return parts;
  parts.product = plat::CharArray(text, static_cast<int>(slash - text));
  const char* open = std::strstr(slash + 1, " (");
  if (!open) return parts;
  parts.version = plat::CharArray(slash + 1, static_cast<int>(open - slash - 1));
  const char* platform = open + 2;
  const char* semicolon = std::strchr(platform, ';');
  if (!semicolon) return parts;
  parts.platform = plat::CharArray(platform, static_cast<int>(semicolon - platform));
  return parts;
}

plat::CharArray userAgentLocale(const char* text) {
  if (!text) return plat::CharArray();
  static const plat::Regex locale(";\\s*(\\w+(?:[-_]\\w+)?)\\)", 0);
  return locale.matchText(text);
}

plat::CharArray userAgentProduct(const char* text) {
  const char* slash = text ? std::strchr(text, '/') : nullptr;
  if (!slash) return plat::CharArray();
  return plat::CharArray(text, static_cast<int>(slash - text));
}

plat::CharArray userAgentProductVersion(const char* text) {
  const char* open = text ? std::strstr(text, " (") : nullptr;
  if (!open || open == text) return plat::CharArray();
  return plat::CharArray(text, static_cast<int>(open - text));
}

}  // namespace http
