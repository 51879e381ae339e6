#include "qocore/base/http/ProxySettings.h"

namespace http {

std::unique_ptr<io::ProxyFetcher> createSystemProxyFetcher(const char*, int, uint8_t, const io::ProxyCredentials&) {
  // No system discovery yet: every target is reached directly.
  return makeDirectProxyFetcher();
}

}  // namespace http
