#include "qocore/base/io/ProxyFetcherSync.h"

namespace io {

ProxyFetcherSync::ProxyFetcherSync(const char* proxyUrl, const ProxyCredentials& credentials)
    : proxyUrl_(proxyUrl ? proxyUrl : ""), credentials_(credentials) {}

ProxyFetcherSync::~ProxyFetcherSync() = default;

void ProxyFetcherSync::fetch(ProxyFetcherCallback* cb) {
  // The callback gets copies: it may destroy this fetcher while it runs.
  const plat::CharArray url(proxyUrl_);
  const ProxyCredentials credentials(credentials_);
  cb->onProxy(*this, url.c_str(), credentials);
}

}  // namespace io
