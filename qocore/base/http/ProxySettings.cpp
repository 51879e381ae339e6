#include "qocore/base/http/ProxySettings.h"

#include <arpa/inet.h>
#include <strings.h>

#include <cstring>
#include <string>

#include "qocore/base/io/EndpointName.h"
#include "qocore/base/io/EndpointUri.h"
#include "qocore/base/io/IpInfo.h"
#include "qocore/base/io/ProxyFetcherConnector.h"
#include "qocore/base/io/ProxyFetcherSync.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/NumberParse.h"

namespace http {

namespace {

PLAT_LOG_SOURCE(vlog, "ProxySettings");

constexpr int kSocksPort = 1080;

int defaultPortFor(const char* scheme) {
  if (std::strcmp(scheme, "http") == 0) return 80;
  if (std::strcmp(scheme, "https") == 0) return 443;
  if (std::strcmp(scheme, "socks") == 0 || std::strcmp(scheme, "socks5") == 0) return kSocksPort;
  return -1;
}

// "host:port" with the port always written and an IPv6 host bracketed.
plat::CharArray endpointText(const char* text, int defaultPort) {
  plat::CharArray host;
  int port = 0;
  io::parseEndpoint(text, host, &port, defaultPort, 0);
  return io::formatEndpoint(host.c_str(), port, -1, 0);
}

std::unique_ptr<io::ProxyFetcher> fixedFetcher(const char* scheme, const char* endpoint,
                                               const io::ProxyCredentials& credentials) {
  const std::string url = std::string(scheme) + "://" + endpoint;
  return std::make_unique<io::ProxyFetcherSync>(url.c_str(), credentials);
}

bool isNumericHost(const char* host) {
  const plat::CharArray bare = io::hostFromBracketed(host);
  unsigned char address[16];
  return inet_pton(AF_INET, bare.c_str(), address) == 1 || inet_pton(AF_INET6, bare.c_str(), address) == 1;
}

const char* labelOf(ProxyEntryKind kind) {
  switch (kind) {
    case ProxyEntryKind::kHttp:
      return "HTTP proxy";
    case ProxyEntryKind::kHttps:
      return "HTTPS proxy";
    case ProxyEntryKind::kSocks:
      return "SOCKS proxy";
    case ProxyEntryKind::kSocksVersion:
      return "SOCKS version";
    case ProxyEntryKind::kBypassList:
      break;
  }
  return "Bypass list";
}

// The endpoint ("host:port") of a proxy entry, or null.  The entry's user
// name and password (those of its URI when it carries a user name) replace
// the caller's where the entry gives them.
plat::CharArray readEntry(const ProxyDescription& description, ProxyEntryKind kind, const char* scheme1,
                          const char* scheme2, io::ProxyCredentials& credentials) {
  const char* label = labelOf(kind);
  const auto found = description.entries.find(kind);
  if (found == description.entries.end() || !found->second.value) {
    vlog().write(110, "%s is not set", label);
    return {};
  }
  const ProxyEntry& entry = found->second;
  try {
    const io::Uri uri = io::parseUri(entry.value.c_str());
    const bool fromUri = uri.user && *uri.user.c_str();
    const char* user = fromUri ? uri.user.c_str() : entry.user.get();
    const char* password = fromUri ? uri.password.get() : entry.password ? entry.password.c_str() : nullptr;
    const char* scheme = uri.scheme ? uri.scheme.c_str() : scheme1;
    vlog().debug("%s is %s://%s%s", label, scheme, (user && *user) || (password && *password) ? "***:***@" : "",
                 uri.host.c_str());
    if (std::strcmp(scheme, scheme1) != 0 && std::strcmp(scheme, scheme2) != 0) return {};
    if (!uri.host || !*uri.host.c_str()) return {};
    const int defaultPort = std::strcmp(scheme, "http") == 0    ? 80
                            : std::strcmp(scheme, "https") == 0 ? 443
                                                                : kSocksPort;
    plat::CharArray endpoint = endpointText(uri.host.c_str(), defaultPort);
    if (user && *user) credentials.user.assign(user);
    if (password) credentials.password.assign(password);
    return endpoint;
  } catch (const plat::Exception&) {
    vlog().debug("%s is invalid", label);
    return {};
  }
}

bool isNetwork(const char* text) {
  try {
    (void)io::NetMask::parse(text);
    return true;
  } catch (const plat::Exception&) {
    return false;
  }
}

bool matchesPattern(const char* item, const char* host, int port, bool numeric) {
  plat::CharArray pattern(item);
  if (std::strchr(item, ':') && !isNetwork(item)) {
    // "host:port" (or "[v6]:port") applies to that port only; a bare IPv6
    // address or network is used whole.
    try {
      plat::CharArray patternHost;
      int patternPort = -1;
      io::parseEndpoint(item, patternHost, &patternPort, -1, 0);
      if (patternPort != port) return false;
      pattern = io::hostFromBracketed(patternHost.c_str());
    } catch (const plat::Exception&) {
    }
  }
  const char* p = pattern.c_str();
  if (std::strcmp(p, "*") == 0) return true;
  try {
    const io::NetMask mask = io::NetMask::parse(p);
    return numeric && mask.matches(io::hostFromBracketed(host).c_str());
  } catch (const plat::Exception&) {
    // Not a network: a name pattern.
  }
  if (numeric) return false;
  std::string name(p);
  if (!name.empty() && name.back() == '.') name.pop_back();
  if (name.rfind("*.", 0) == 0) name.erase(0, 1);
  if (name == "<local>") return std::strchr(host, '.') == nullptr;
  const size_t hostLen = std::strlen(host);
  if (!name.empty() && name[0] == '.')
    return hostLen > name.size() && strcasecmp(host + hostLen - name.size(), name.c_str()) == 0;
  return strcasecmp(name.c_str(), host) == 0;
}

}  // namespace

ProxySettingsSource::~ProxySettingsSource() = default;

ProxyEntry::ProxyEntry(const char* v, const char* u, const char* p) : value(v), user(u), password(p) {}
ProxyEntry::ProxyEntry(const ProxyEntry& other)
    : value(other.value), user(other.user), password(other.password.clone()) {}
ProxyEntry& ProxyEntry::operator=(const ProxyEntry& other) {
  if (this != &other) {
    value = other.value;
    user = other.user;
    password = other.password.clone();
  }
  return *this;
}

ProxySettings& ProxySettings::instance() {
  // Never destroyed: connections made during exit may still ask.
  static ProxySettings* settings = new ProxySettings();
  return *settings;
}

std::unique_ptr<io::ProxyFetcher> ProxySettings::makeFetcher(const char* host, int port) {
  io::ProxyCredentials credentials;
  uint8_t flag = 0;
  if (source_) {
    credentials.user = plat::SecretText::adopt(source_->userName(port, "http"));
    credentials.password = plat::SecretText::adopt(source_->password());
    const plat::CharArray server = source_->proxyServer();
    if (std::strcmp(server.c_str(), "<system>") != 0) return makeFixedProxyFetcher(server.c_str(), credentials);
    flag = source_->systemFlag();
  }
  return createSystemProxyFetcher(host, port, flag, credentials);
}

std::unique_ptr<io::IoConnector> ProxySettings::makeConnector(const char* host, int port) {
  return std::make_unique<io::ProxyFetcherConnector>(host, port, makeFetcher(host, port));
}

std::unique_ptr<io::ProxyFetcher> ProxySettings::makeFetcherForUrl(const char* url) {
  const io::Uri uri = io::parseUri(url);
  plat::CharArray host;
  int port = 0;
  io::parseEndpoint(uri.host.c_str(), host, &port, defaultPortFor(uri.scheme.c_str()), 0);
  return makeFetcher(io::hostFromBracketed(host.c_str()).c_str(), port);
}

std::unique_ptr<io::ProxyFetcher> makeFixedProxyFetcher(const char* url, const io::ProxyCredentials& credentials) {
  const io::Uri uri = io::parseUri(url);
  if (!uri.scheme || !*uri.scheme.c_str()) return makeDirectProxyFetcher();
  return std::make_unique<io::ProxyFetcherSync>(url, credentials);
}

std::unique_ptr<io::ProxyFetcher> makeDirectProxyFetcher() {
  return std::make_unique<io::ProxyFetcherSync>("direct://", io::ProxyCredentials());
}

std::unique_ptr<io::ProxyFetcher> makeSocksProxyFetcher(const char* endpoint, const io::ProxyCredentials& credentials) {
  return fixedFetcher("socks", endpointText(endpoint, kSocksPort).c_str(), credentials);
}

std::unique_ptr<io::ProxyFetcher> makeHttpProxyFetcher(const char* endpoint, const io::ProxyCredentials& credentials) {
  return fixedFetcher("http", endpointText(endpoint, 80).c_str(), credentials);
}

bool matchesBypassList(const char* host, int port, const char* list) {
  const bool numeric = isNumericHost(host);
  std::string target(host ? host : "");
  if (!target.empty() && target.back() == '.') target.pop_back();
  std::string items(list ? list : "");
  size_t at = 0;
  while (at < items.size()) {
    const size_t end = items.find_first_of(" ,\t", at);
    const std::string item = items.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? items.size() : end + 1;
    if (item.empty()) continue;
    if (matchesPattern(item.c_str(), target.c_str(), port, numeric)) return true;
  }
  return false;
}

std::unique_ptr<io::ProxyFetcher> chooseManualProxy(const ProxyDescription& description,
                                                    const io::ProxyCredentials& credentials) {
  const auto bypass = description.entries.find(ProxyEntryKind::kBypassList);
  if (bypass != description.entries.end() && bypass->second.value) {
    vlog().debug("Bypass list is %s", bypass->second.value.c_str());
    if (matchesBypassList(description.host.c_str(), description.port, bypass->second.value.c_str())) {
      vlog().debug("Host appears in proxy bypass list");
      return makeDirectProxyFetcher();
    }
  }

  io::ProxyCredentials socksCredentials(credentials);
  const plat::CharArray socks = readEntry(description, ProxyEntryKind::kSocks, "socks", "socks5", socksCredentials);
  if (socks) {
    const auto version = description.entries.find(ProxyEntryKind::kSocksVersion);
    bool supported = true;
    if (version != description.entries.end() && version->second.value) {
      const char* cursor = version->second.value.c_str();
      int32_t number = 0;
      if (plat::parseInt(number, cursor) && *cursor == '\0' && number != 5) {
        vlog().info("Socks version %s is not supported", version->second.value.c_str());
        supported = false;
      }
    }
    if (supported) return fixedFetcher("socks", socks.c_str(), socksCredentials);
  }

  io::ProxyCredentials httpCredentials(credentials);
  plat::CharArray http = readEntry(description, ProxyEntryKind::kHttps, "http", "https", httpCredentials);
  if (!http) {
    httpCredentials = credentials;
    http = readEntry(description, ProxyEntryKind::kHttp, "http", "https", httpCredentials);
  }
  if (!http) return nullptr;
  return fixedFetcher("http", http.c_str(), httpCredentials);
}

}  // namespace http
