#include "libs/hosted/BootstrapRequest.h"

#include <algorithm>
#include <cstring>

#include "libs/hosted/Bed.h"
#include "libs/hosted/BootstrapCache.h"
#include "libs/hosted/BootstrapConfig.h"
#include "libs/hosted/HostedBootstrapException.h"
#include "libs/hosted/HostedClient.h"
#include "libs/hosted/HostedEndpoint.h"
#include "libs/hosted/VendorConfig.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/Time.h"

namespace hosted {

namespace {

PLAT_LOG_SOURCE(vlog, "BootstrapClient");

// How long a fetched configuration counts as fresh: one day.
constexpr plat::TimeValue kRefreshTicks = 864000000000LL;

// Byte comparison where two absent texts are equal.
bool sameText(const char* a, const char* b) { return a == b || (a && b && std::strcmp(a, b) == 0); }

// A failure outside the cloud's own as a bootstrap failure.
HostedException generalFailure(const plat::Exception& e) {
  return HostedException(HostedException::Bootstrap, nullptr, e.str());
}

}  // namespace

BootstrapRequestCallback::~BootstrapRequestCallback() = default;

BootstrapRequest::BootstrapRequest(const HostedEndpoint& endpoint, HostedClient& client,
                                   BootstrapRequestCallback* callback, const char* uri)
    : endpoint_(endpoint), client_(client), callback_(callback), uri_(uri), timer_(this) {}

BootstrapRequest::~BootstrapRequest() {
  client_.bootstrapClient().request(uri_.get(), this, false);
  timer_.cancel();
}

void BootstrapRequest::start(int delayMs) { timer_.start(delayMs); }

bool BootstrapRequest::timerExpired(plat::Timer*) {
  BootstrapCache* cache = endpoint_.bootstrapCache().get();
  if (cache && cache->isUsable() && sameText(cache->sourceUrl(), uri_.get())) {
    vlog().debug("Serving Bootstrap response from cache");
    // Held here: the callback may erase the cache.
    plat::LinkedPtr<BootstrapConfig> config = cache->config();
    callback_->onBootstrapConfig(*this, config);
    return false;
  }
  fromNetwork_ = true;
  client_.bootstrapClient().request(uri_.get(), this, true);
  return false;
}

struct BootstrapClient::Dispatch {
  std::vector<BootstrapRequest*> waiters;
  Dispatch* outer;
  bool clientGone;
};

BootstrapClient::BootstrapClient(HostedClient& client, const plat::LinkedPtr<HostedEndpoint>& endpoint)
    : client_(client), endpoint_(endpoint) {}

BootstrapClient::~BootstrapClient() {
  for (Dispatch* d = dispatching_; d; d = d->outer) d->clientGone = true;
}

void BootstrapClient::request(const char* uri, BootstrapRequest* request, bool attach) {
  if (!attach) {
    for (Entry& entry : requests_) std::erase(entry.waiters, request);
    // A round telling waiters may not have reached this one yet.
    for (Dispatch* d = dispatching_; d; d = d->outer)
      std::replace(d->waiters.begin(), d->waiters.end(), request, static_cast<BootstrapRequest*>(nullptr));
    return;
  }
  auto open = std::find_if(requests_.begin(), requests_.end(),
                           [uri](const Entry& entry) { return std::strcmp(entry.request->url(), uri) == 0; });
  if (open != requests_.end()) {
    vlog().debug("Reusing open Bootstrap request");
    if (std::find(open->waiters.begin(), open->waiters.end(), request) == open->waiters.end())
      open->waiters.push_back(request);
    return;
  }
  const char* colon = std::strchr(uri, ':');
  vlog().debug("Sending Bootstrap request via %.*s", colon ? static_cast<int>(colon - uri) : 0, uri);
  HostedRequest* sent = nullptr;
  try {
    auto hosted =
        std::make_unique<HostedRequest>(client_, uri, this, *endpoint_, false, "GET", plat::Buffer(), kBedContentType);
    hosted->addHeader("Connection", "close");
    sent = hosted.get();
    requests_.push_back(Entry{std::move(hosted), {request}});
    // The last step: a failure may be reported, and this client deleted,
    // before it returns.
    sent->send();
  } catch (const plat::Exception& e) {
    // A URL the HTTP client refuses, or a send that throws, ends the fetch
    // like any other failure, for every waiter of it.
    std::vector<BootstrapRequest*> waiters{request};
    if (sent) {
      auto it = std::find_if(requests_.begin(), requests_.end(),
                             [sent](const Entry& entry) { return entry.request.get() == sent; });
      // Reported already when the entry is gone.
      if (it == requests_.end()) return;
      waiters = std::move(it->waiters);
      requests_.erase(it);
    }
    vlog().error("Bootstrap request to %s not sent: %s", uri, e.str());
    const HostedException failure = generalFailure(e);
    dispatch(std::move(waiters), [&failure](BootstrapRequest& w) { w.callback()->onBootstrapFailure(w, failure); });
  }
}

std::vector<BootstrapRequest*> BootstrapClient::takeEntry(HostedRequest& request, plat::CharArray* url) {
  auto it = std::find_if(requests_.begin(), requests_.end(),
                         [&request](const Entry& entry) { return entry.request.get() == &request; });
  PLAT_ASSERT_TEXT(it != requests_.end(), "it != requests_.end()");
  std::vector<BootstrapRequest*> waiters = std::move(it->waiters);
  *url = plat::CharArray(request.url());
  requests_.erase(it);
  return waiters;
}

template <typename Tell>
void BootstrapClient::dispatch(std::vector<BootstrapRequest*> waiters, Tell tell) {
  Dispatch round{std::move(waiters), dispatching_, false};
  dispatching_ = &round;
  auto restore = [this, &round] {
    if (!round.clientGone) dispatching_ = round.outer;
  };
  plat::ScopeExit leave(restore);
  // The last to attach hears first.
  for (size_t i = round.waiters.size(); i-- > 0;) {
    BootstrapRequest* waiter = round.waiters[i];
    if (!waiter) continue;
    round.waiters[i] = nullptr;
    tell(*waiter);
    if (round.clientGone) return;
  }
}

void BootstrapClient::onHostedResponse(HostedRequest& request, plat::Buffer body, const char*) {
  plat::CharArray url;
  std::vector<BootstrapRequest*> waiters = takeEntry(request, &url);
  plat::LinkedPtr<BootstrapConfig> config;
  try {
    const HostedEndpoint& endpoint = *endpoint_;
    config = plat::LinkedPtr<BootstrapConfig>(new BootstrapConfig(body.count(), body.data(),
                                                                  endpoint.vendorConfig()->trustManager(), url.get(),
                                                                  !plat::startsWith(url.get(), "https://")));
    if (!config->isValidNow()) {
      plat::DString from;
      // "<date error>" when the time has no calendar form.
      (void)plat::formatIsoDateUtc(from, config->validFrom(), false);
      vlog().error("Bootstrap configuration is not yet valid (valid from %s)", from.c_str());
    }
    if (BootstrapCache* cache = endpoint.bootstrapCache().get()) {
      const plat::TimeValue now = plat::getTime();
      cache->update(config, body, url.get(), addTicks(now, config->maxAge()), addTicks(now, kRefreshTicks));
    }
  } catch (const HostedException& e) {
    dispatch(std::move(waiters), [&e](BootstrapRequest& w) { w.callback()->onBootstrapFailure(w, e); });
    return;
  } catch (const plat::Exception& e) {
    const HostedException failure = generalFailure(e);
    dispatch(std::move(waiters), [&failure](BootstrapRequest& w) { w.callback()->onBootstrapFailure(w, failure); });
    return;
  }
  dispatch(std::move(waiters), [&config](BootstrapRequest& w) { w.callback()->onBootstrapConfig(w, config); });
}

void BootstrapClient::onHostedError(HostedRequest& request, const plat::Exception& error) {
  const HostedBootstrapException failure(error);
  plat::CharArray url;
  std::vector<BootstrapRequest*> waiters = takeEntry(request, &url);
  dispatch(std::move(waiters), [&failure](BootstrapRequest& w) { w.callback()->onBootstrapFailure(w, failure); });
}

bool BootstrapClient::acceptStatus(HostedRequest&, int32_t status) { return status == 200; }

}  // namespace hosted
