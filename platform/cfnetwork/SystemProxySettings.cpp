#include "platform/cfnetwork/SystemProxySettings.h"

#include <strings.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Strings.h"

namespace cfnetwork {

namespace {

PLAT_LOG_SOURCE(vlog, "SystemProxySettings");

// One proxy URL of the environment, taken apart.
struct ProxyUrl {
  std::string scheme;
  std::string user;
  std::string password;
  std::string host;
  int port = -1;

  ProxyUrl() = default;
  ProxyUrl(const ProxyUrl&) = default;
  ProxyUrl& operator=(const ProxyUrl&) = default;
  ~ProxyUrl() { plat::secureZero(password.data(), password.size()); }
};

const char* variable(const char* lower, const char* upper) {
  const char* value = std::getenv(lower);
  if (!value || !*value) value = std::getenv(upper);
  return value && *value ? value : nullptr;
}

// Decodes %XX in user information.
std::string unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// "[scheme://][user[:password]@]host[:port][/...]"; false without a host or
// with a port that is not a number from 1 to 65535.
bool parse(const char* text, ProxyUrl& url) {
  std::string rest = text;
  size_t schemeEnd = rest.find("://");
  if (schemeEnd != std::string::npos) {
    url.scheme = rest.substr(0, schemeEnd);
    for (char& c : url.scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    rest = rest.substr(schemeEnd + 3);
  }
  rest = rest.substr(0, rest.find('/'));
  size_t at = rest.rfind('@');
  if (at != std::string::npos) {
    std::string info = rest.substr(0, at);
    rest = rest.substr(at + 1);
    size_t colon = info.find(':');
    url.user = unescape(info.substr(0, colon));
    if (colon != std::string::npos) url.password = unescape(info.substr(colon + 1));
  }
  std::string port;
  if (!rest.empty() && rest[0] == '[') {
    size_t close = rest.find(']');
    if (close == std::string::npos) return false;
    url.host = rest.substr(1, close - 1);
    if (close + 1 < rest.size()) {
      if (rest[close + 1] != ':') return false;
      port = rest.substr(close + 2);
    }
  } else {
    size_t colon = rest.find(':');
    url.host = rest.substr(0, colon);
    if (colon != std::string::npos) port = rest.substr(colon + 1);
  }
  if (url.host.empty()) return false;
  if (!port.empty()) {
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
    url.port = std::stoi(port);
    if (url.port < 1 || url.port > 65535) return false;
  }
  return true;
}

bool isSocks(const std::string& scheme) { return scheme == "socks" || scheme == "socks5" || scheme == "socks5h"; }
bool isSocks4(const std::string& scheme) { return scheme == "socks4" || scheme == "socks4a"; }

// The proxies of the three kinds, as the rules in the header choose them.
struct Proxies {
  bool haveHttp = false, haveHttps = false, haveSocks = false;
  ProxyUrl http, https, socks;
};

Proxies readProxies() {
  Proxies p;
  if (const char* text = variable("http_proxy", "HTTP_PROXY")) p.haveHttp = parse(text, p.http);
  if (const char* text = variable("https_proxy", "HTTPS_PROXY")) p.haveHttps = parse(text, p.https);
  if (const char* text = variable("all_proxy", "ALL_PROXY")) {
    ProxyUrl all;
    if (parse(text, all)) {
      if (isSocks(all.scheme)) {
        p.socks = all;
        p.haveSocks = true;
      } else if (isSocks4(all.scheme)) {
        vlog().info("all_proxy: SOCKS version 4 is not supported, ignored");
      } else {
        if (!p.haveHttp) p.http = all, p.haveHttp = true;
        if (!p.haveHttps) p.https = all, p.haveHttps = true;
      }
    }
  }
  return p;
}

void store(cf::Dictionary& settings, const char* prefix, const ProxyUrl& url) {
  std::string name = prefix;
  settings.set((name + "Enable").c_str(), cf::Value::boolean(true));
  settings.set((name + "Proxy").c_str(), cf::Value::string(url.host.c_str()));
  if (url.port > 0) settings.set((name + "Port").c_str(), cf::Value::number(url.port));
}

std::atomic<SystemProxySettingsFn> replacement{nullptr};

}  // namespace

SystemProxySettingsFn setSystemProxySettingsForTest(SystemProxySettingsFn fn) noexcept {
  return replacement.exchange(fn);
}

cf::Dictionary copySystemProxySettings() {
  if (SystemProxySettingsFn fn = replacement.load()) return fn();
  cf::Dictionary settings;
  Proxies proxies = readProxies();
  if (proxies.haveHttp) store(settings, "HTTP", proxies.http);
  if (proxies.haveHttps) store(settings, "HTTPS", proxies.https);
  if (proxies.haveSocks) store(settings, "SOCKS", proxies.socks);
  if (const char* text = variable("no_proxy", "NO_PROXY")) {
    std::vector<cf::Value> exceptions;
    std::string list = text;
    size_t start = 0;
    while (start <= list.size()) {
      size_t end = list.find_first_of(", \t", start);
      if (end == std::string::npos) end = list.size();
      std::string item = list.substr(start, end - start);
      start = end + 1;
      if (item.empty()) continue;
      if (item == "*") {
        exceptions.push_back(cf::Value::string("*"));
        continue;
      }
      if (item[0] == '.') item.erase(0, 1);
      if (item.empty()) continue;
      exceptions.push_back(cf::Value::string(item.c_str()));
      exceptions.push_back(cf::Value::string(("." + item).c_str()));
    }
    settings.set("ExceptionsList", cf::Value::array(std::move(exceptions)));
  }
  return settings;
}

bool findProxyUserInfo(const char* host, uint16_t port, uint32_t protocol, plat::CharArray& user,
                       plat::CharArray& password) {
  user = plat::CharArray();
  password = plat::CharArray();
  Proxies proxies = readProxies();
  const ProxyUrl* url = nullptr;
  if (protocol == kProtocolHttpProxy && proxies.haveHttp) url = &proxies.http;
  if (protocol == kProtocolHttpsProxy && proxies.haveHttps) url = &proxies.https;
  if (protocol == kProtocolSocks && proxies.haveSocks) url = &proxies.socks;
  if (!url || url->user.empty() || strcasecmp(url->host.c_str(), host) != 0) return false;
  if (url->port > 0 && url->port != port) return false;
  user = plat::CharArray(url->user.c_str());
  password = plat::CharArray(url->password.c_str());
  return true;
}

}  // namespace cfnetwork
