#include "libs/hostedremoteaccess/CapsClient.h"

#include <strings.h>

#include <cstring>
#include <vector>

#include "libs/hosted/HostedEndpoint.h"
#include "libs/hosted/VendorConfig.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/NumberParse.h"

namespace hostedremoteaccess {

namespace {

PLAT_LOG_SOURCE(vlog, "CapsClient");

// clang-format off
constexpr const char* kServiceNames[CapsClient::kServiceCount] = {
    "enterprise/auth-uris",
    "enterprise/directory-uris",
    "enterprise/graphql-uris",
    "enterprise/presence-uris",
};
// clang-format on

}  // namespace

CapsClient::CapsClient(const plat::LinkedPtr<hosted::HostedEndpoint>& endpoint, hosted::HostedClient* hostedClient)
    : endpoint_(endpoint),
      hostedClient_(hostedClient),
      maxBackoffSecs_(endpoint->vendorConfig()->bootstrapConfig().maxBackoffSecs()) {}

CapsClient::~CapsClient() = default;

const char* CapsClient::serviceName(int32_t index) {
  const char* key = index >= 0 && index < kServiceCount ? kServiceNames[index] : nullptr;
  PLAT_ASSERT(key);
  return key;
}

int32_t CapsClient::serviceIndex(const char* name) {
  int32_t i = -1;
  for (int32_t k = 0; name && k < kServiceCount && i == -1; ++k)
    if (::strcasecmp(kServiceNames[k], name) == 0) i = k;
  PLAT_ASSERT(i != -1);
  return i;
}

const char* CapsClient::serviceUrl(int32_t index) const {
  (void)serviceName(index);
  return serviceUrls_[index].get();
}

void CapsClient::clearServiceUrl(int32_t index) {
  (void)serviceName(index);
  serviceUrls_[index] = plat::CharArray();
}

void CapsClient::recordServiceUrl(int32_t index, const char* url, int32_t maxBackoffSecs, const ConfigParams& params) {
  const char* name = serviceName(index);
  vlog().debug("Recording new URL for %s: %s", name, url ? url : "(null)");
  if (!url || !serviceUrls_[index] || std::strcmp(serviceUrls_[index].get(), url) != 0)
    serviceUrls_[index] = plat::CharArray(url);
  maxBackoffSecs_ = maxBackoffSecs;
  configParams_ = params;
  // A listener may remove itself, or others, when told.
  const std::vector<Listener*> told(listeners_.begin(), listeners_.end());
  for (Listener* listener : told)
    if (listeners_.count(listener)) listener->onConfigParams(configParams_);
}

void CapsClient::addListener(Listener* listener) {
  listeners_.insert(listener);
  if (!configParams_.empty()) listener->onConfigParams(configParams_);
}

void CapsClient::removeListener(Listener* listener) { listeners_.erase(listener); }

bool CapsClient::intParam(const ConfigParams& params, const char* key, int32_t* value) {
  auto it = params.find(plat::CharArray(key));
  if (it == params.end() || !it->second) return false;
  const char* cursor = it->second.get();
  int32_t parsed;
  // The C parser would take leading blanks and a "+".
  if (!(*cursor == '-' || (*cursor >= '0' && *cursor <= '9'))) return false;
  if (!plat::parseInt(parsed, cursor, 10) || *cursor) return false;
  *value = parsed;
  return true;
}

}  // namespace hostedremoteaccess
