#pragma once
// io::ProxyFetcherSync: a fetcher with a fixed answer, given at once from
// inside fetch().

#include "qocore/base/io/ProxyFetcher.h"
#include "qocore/base/plat/CharArray.h"

namespace io {

class ProxyFetcherSync : public ProxyFetcher {
 public:
  // proxyUrl: "direct://", "http://host:port" or "socks://host:port".
  ProxyFetcherSync(const char* proxyUrl, const ProxyCredentials& credentials);
  ~ProxyFetcherSync() override;

  void fetch(ProxyFetcherCallback* cb) override;

  const char* proxyUrl() const noexcept { return proxyUrl_.c_str(); }
  const ProxyCredentials& credentials() const noexcept { return credentials_; }

 private:
  plat::CharArray proxyUrl_;
  ProxyCredentials credentials_;  // wipes its password when released
};

}  // namespace io
