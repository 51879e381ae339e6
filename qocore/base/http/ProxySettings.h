#pragma once
// Which proxy an outgoing HTTP connection goes through.
//
// http::ProxySettings holds an optional process-wide source of proxy
// configuration; without one (or with one that says "<system>") the
// system's configuration is asked through createSystemProxyFetcher.  The
// answer of every fetcher is a proxy URL text: "direct://",
// "http://host:port" (reached with HTTP CONNECT) or "socks://host:port"
// (SOCKS5), with credentials.
//
// chooseManualProxy picks among the manual proxies that the system
// discovery reads (HTTP, HTTPS, SOCKS with its version, and the bypass
// list).  Bad entries are logged and skipped, never thrown.  Log source
// "ProxySettings".

#include <cstdint>
#include <map>
#include <memory>

#include "qocore/base/io/ProxyFetcher.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/SecretText.h"

namespace io {
class IoConnector;
}

namespace http {

// A provider of proxy configuration that a program may install.
class ProxySettingsSource {
 public:
  virtual ~ProxySettingsSource();
  // A proxy URL, or "<system>" for the system's configuration.
  virtual plat::CharArray proxyServer() = 0;
  // The user name for a target port; `purpose` names the asker ("http").
  virtual plat::CharArray userName(int port, const char* purpose) = 0;
  // The caller wipes the text.
  virtual plat::CharArray password() = 0;
  // Handed on to the system discovery unchanged.
  virtual uint8_t systemFlag() = 0;
};

class ProxySettings {
 public:
  // Made on first use, never destroyed.
  static ProxySettings& instance();

  // Not owned; null removes it.
  void setSource(ProxySettingsSource* source) noexcept { source_ = source; }
  ProxySettingsSource* source() const noexcept { return source_; }

  // The fetcher that answers for the target.
  std::unique_ptr<io::ProxyFetcher> makeFetcher(const char* host, int port);
  // A connector to the target through the proxy the fetcher chooses.
  std::unique_ptr<io::IoConnector> makeConnector(const char* host, int port);
  // makeFetcher for the host of a URL, with its scheme's default port.
  std::unique_ptr<io::ProxyFetcher> makeFetcherForUrl(const char* url);

 private:
  ProxySettings() = default;
  ProxySettingsSource* source_ = nullptr;
};

// A URL without a scheme gives the direct fetcher; any other is answered
// as it stands.
std::unique_ptr<io::ProxyFetcher> makeFixedProxyFetcher(const char* url, const io::ProxyCredentials& credentials);
// "direct://" without credentials.
std::unique_ptr<io::ProxyFetcher> makeDirectProxyFetcher();
// "socks://host:port" (default port 1080); throws io::EndpointInvalid.
std::unique_ptr<io::ProxyFetcher> makeSocksProxyFetcher(const char* endpoint, const io::ProxyCredentials& credentials);
// "http://host:port" (default port 80); throws io::EndpointInvalid.
std::unique_ptr<io::ProxyFetcher> makeHttpProxyFetcher(const char* endpoint, const io::ProxyCredentials& credentials);

// The system's proxy choice for a target.  For now it answers the direct
// fetcher; the system discovery takes this place.
std::unique_ptr<io::ProxyFetcher> createSystemProxyFetcher(const char* host, int port, uint8_t systemFlag,
                                                           const io::ProxyCredentials& credentials);

// The manual proxy configuration of the system for one target.
enum class ProxyEntryKind : int32_t {
  kHttp = 0,
  kHttps = 1,
  kSocks = 2,
  kSocksVersion = 3,
  kBypassList = 4,
};

struct ProxyEntry {
  ProxyEntry() = default;
  ProxyEntry(const char* value, const char* user, const char* password);
  // A copy clones the password.
  ProxyEntry(const ProxyEntry& other);
  ProxyEntry& operator=(const ProxyEntry& other);
  ProxyEntry(ProxyEntry&& other) noexcept = default;
  ProxyEntry& operator=(ProxyEntry&& other) noexcept = default;
  ~ProxyEntry() = default;

  plat::CharArray value;
  plat::CharArray user;
  plat::SecretText password;
};

struct ProxyDescription {
  plat::CharArray host;
  int32_t port = 0;
  uint8_t flag = 0;
  std::map<ProxyEntryKind, ProxyEntry> entries;
};

// The fetcher for the manual proxy that serves the target, the direct one
// when the bypass list holds it, or null when no proxy is configured.
std::unique_ptr<io::ProxyFetcher> chooseManualProxy(const ProxyDescription& description,
                                                    const io::ProxyCredentials& credentials);

// Whether a target matches a bypass list (patterns separated by blanks,
// commas or tabs).
bool matchesBypassList(const char* host, int port, const char* list);

}  // namespace http
