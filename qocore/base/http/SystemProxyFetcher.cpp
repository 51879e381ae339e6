#include "qocore/base/http/SystemProxyFetcher.h"

#include <cstring>
#include <string>

#include "platform/cfnetwork/SystemProxySettings.h"
#include "qocore/base/http/MacPacFetcher.h"
#include "qocore/base/http/PacHelper.h"
#include "qocore/base/http/ProxySettings.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/mac/CFUtil.h"

namespace http {

plat::StringParameter pacUrlParam("_PacUrl", "", "", true);

namespace {

struct ManualRow {
  const char* prefix;
  ProxyEntryKind kind;
  uint32_t protocol;
};

// clang-format off
constexpr ManualRow kRows[] = {
  {"HTTP", ProxyEntryKind::kHttp, cfnetwork::kProtocolHttpProxy},
  {"HTTPS", ProxyEntryKind::kHttps, cfnetwork::kProtocolHttpsProxy},
  {"SOCKS", ProxyEntryKind::kSocks, cfnetwork::kProtocolSocks},
};
// clang-format on

// A switch of the settings: a number is on above 0, a boolean is itself;
// absent or of another type gives `otherwise`.  (Numbers are accepted for
// the manual proxies' switches too, 0 being off, as for the PAC switch.)
bool isOn(const cf::Value* value, bool otherwise) {
  if (!value) return otherwise;
  if (value->type() == cf::Value::Type::kNumber) return value->numberValue() > 0;
  if (value->type() == cf::Value::Type::kBoolean) return value->booleanValue();
  return otherwise;
}

}  // namespace

plat::CharArray findProxyPassword(const char* host, uint16_t port, uint32_t protocol, plat::CharArray& user) {
  plat::CharArray password;
  if (!cfnetwork::findProxyUserInfo(host, port, protocol, user, password)) return plat::CharArray("");
  return password;
}

std::unique_ptr<io::ProxyFetcher> createSystemProxyFetcher(const char* host, int port, uint8_t systemFlag,
                                                           const io::ProxyCredentials& credentials) {
  cf::Dictionary settings = cfnetwork::copySystemProxySettings();
  bool pacOn = isOn(settings.get("ProxyAutoConfigEnable"), false);
  plat::CharArray systemPacUrl = plat::cfDictGetString(settings, "ProxyAutoConfigURLString");
  plat::CharArray pacUrl = pacUrlParam.getValueStr();
  if (!*pacUrl.c_str() && pacOn && *systemPacUrl.c_str()) pacUrl = systemPacUrl;
  if (*pacUrl.c_str()) {
    uint32_t target = static_cast<uint32_t>(port);
    if (pacChildModeAvailable()) return std::make_unique<PacHelperClient>(host, target, credentials, pacUrl.c_str());
    return std::make_unique<MacPacFetcher>(host, target, credentials, pacUrl.c_str());
  }

  ProxyDescription description;
  description.host = plat::CharArray(host);
  description.port = port;
  description.flag = systemFlag;
  plat::DString exceptions;
  const cf::Value* simple = settings.get("ExcludeSimpleHostnames");
  if (simple && simple->type() == cf::Value::Type::kBoolean && simple->booleanValue()) exceptions.append("<local>");
  if (const cf::Value* list = settings.get("ExceptionsList")) {
    for (const cf::Value& item : list->arrayValue()) {
      if (!item.stringValue()) continue;
      if (exceptions.length() > 0) exceptions.append(" ");
      exceptions.append(item.stringValue());
    }
  }
  description.entries[ProxyEntryKind::kBypassList] = ProxyEntry(exceptions.c_str(), nullptr, nullptr);

  for (const ManualRow& row : kRows) {
    std::string prefix = row.prefix;
    if (!isOn(settings.get((prefix + "Enable").c_str()), true)) continue;
    const cf::Value* portValue = settings.get((prefix + "Port").c_str());
    int64_t proxyPort = portValue && portValue->type() == cf::Value::Type::kNumber ? portValue->numberValue() : -1;
    const cf::Value* proxyHost = settings.get((prefix + "Proxy").c_str());
    if (!proxyHost || !proxyHost->stringValue()) continue;
    const char* name = proxyHost->stringValue();
    // An IPv6 address is bracketed, so that the port stays apart.
    const char* format = std::strchr(name, ':') ? "[%s]:%lld" : "%s:%lld";
    plat::CharArray endpoint =
        proxyPort >= 1 ? plat::DString::format(format, name, static_cast<long long>(proxyPort)) : plat::CharArray(name);
    plat::CharArray user;
    const plat::SecretText password =
        plat::SecretText::adopt(findProxyPassword(name, static_cast<uint16_t>(proxyPort & 0xffff), row.protocol, user));
    description.entries[row.kind] = ProxyEntry(endpoint.c_str(), user.get(), password.c_str());
  }

  std::unique_ptr<io::ProxyFetcher> chosen = chooseManualProxy(description, credentials);
  return chosen ? std::move(chosen) : makeDirectProxyFetcher();
}

}  // namespace http
