#include "libs/hosted/HostedBootstrap.h"

#include <algorithm>
#include <cstring>

#include "libs/hosted/BootstrapCache.h"
#include "libs/hosted/HostedEndpoint.h"
#include "libs/hosted/SeededShuffle.h"
#include "libs/hosted/VendorConfig.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/rdr/PseudoRandomStream.h"

namespace hosted {

plat::StringParameter hostedDiscoveryOverride(
    "_HostedDiscoveryOverride",
    "An initial Discovery address to override the Bootstrap and Discovery addresses provided by the HostedConfig.", "",
    true);

namespace {

PLAT_LOG_SOURCE(progressLog, "BootstrapProgress");
PLAT_LOG_SOURCE(vlog, "HostedBootstrap");

bool same(const plat::CharArray& a, const char* b) { return std::strcmp(a.c_str(), b) == 0; }

// What a failed fetch means for the other URIs of its server, and the line
// that says so (null: nothing to say).
struct Verdict {
  bool blacklist;
  const char* format;
  const char* detail;
};

Verdict judge(const HostedException& e) {
  const char* proxy = e.proxyReason();
  const bool viaProxy = proxy[0] != '\0';
  if (std::strcmp(e.reason(), "Network") == 0) {
    if (!viaProxy) return {true, "Network error (%s); blacklisting server", e.reason()};
    if (std::strcmp(proxy, "ConnectFailed") == 0 || std::strcmp(proxy, "ConnectDenied") == 0)
      return {true, "Upstream failure via proxy (%s); blacklisting server", proxy};
    return {false, "Proxy error (%s); not blacklisting server", proxy};
  }
  if (std::strcmp(e.reason(), "HTTPInternalServerError") == 0) {
    if (!viaProxy) return {true, "Network error (%s); blacklisting server", e.reason()};
    return {true, "Upstream failure via proxy (%s); blacklisting server", proxy};
  }
  if (viaProxy) return {false, "Proxy error (%s); not blacklisting server", proxy};
  return {false, nullptr, nullptr};
}

}  // namespace

// ---- BootstrapProgress ----

BootstrapProgress::BootstrapProgress(const char* name) : seed_(plat::strHashFnv1a(name ? name : "")) {}

void BootstrapProgress::update(const BootstrapConfig& config) {
  generation_++;
  maxBackoffSecs_ = static_cast<uint32_t>(config.maxBackoffSecs());
  const char* override = hostedDiscoveryOverride.getValue();
  if (override && *override) {
    addDiscovery(override);
    return;
  }
  rdr::PseudoRandomStream random(seed_);
  size_t added = 0;
  for (const plat::CharArray& uri : config.discoveryUris()) added += addDiscovery(uri.c_str());
  shuffleTail(discoveryToTry_, discoveryToTry_.size() - added, random);
  added = 0;
  for (const plat::CharArray& uri : config.bootstrapUris()) {
    for (int32_t i = 0; i < config.configCount(); i++) {
      added += addBootstrap(plat::DString("%s/%d", uri.c_str(), i).c_str(), static_cast<uint32_t>(i), generation_);
    }
  }
  shuffleTail(bootstrapToTry_, bootstrapToTry_.size() - added, random);
}

bool BootstrapProgress::addDiscovery(const char* uri) {
  auto known = std::find_if(discoveryToTry_.begin(), discoveryToTry_.end(),
                            [uri](const plat::CharArray& u) { return same(u, uri); });
  if (known != discoveryToTry_.end()) {
    std::rotate(known, known + 1, discoveryToTry_.end());
    return false;
  }
  if (triedDiscovery_.count(plat::CharArray(uri))) return false;
  progressLog().debug("Adding Discovery URI: %s", uri);
  discoveryToTry_.emplace_back(uri);
  return true;
}

bool BootstrapProgress::addBootstrap(const char* uri, uint32_t index, uint32_t generation) {
  auto known =
      std::find_if(bootstrapToTry_.begin(), bootstrapToTry_.end(), [uri](const Entry& e) { return same(e.uri, uri); });
  if (known != bootstrapToTry_.end()) {
    known->generation = generation;
    std::rotate(known, known + 1, bootstrapToTry_.end());
    return false;
  }
  if (triedBootstrap_.count(plat::CharArray(uri))) return false;
  progressLog().debug("Adding Bootstrap URI: %s", uri);
  bootstrapToTry_.push_back(Entry{plat::CharArray(uri), index, generation});
  return true;
}

void BootstrapProgress::nextBootstrap(const char* preferred) {
  PLAT_ASSERT_TEXT(!bootstrapToTry_.empty(), "!bootstrapToTry.empty()");
  if (preferred && !same(bootstrapToTry_.back().uri, preferred)) {
    const uint32_t generation = bootstrapToTry_.back().generation;
    for (size_t i = bootstrapToTry_.size() - 1; i-- > 0 && bootstrapToTry_[i].generation == generation;) {
      if (same(bootstrapToTry_[i].uri, preferred)) {
        std::swap(bootstrapToTry_[i], bootstrapToTry_.back());
        break;
      }
    }
  }
  Entry taken = std::move(bootstrapToTry_.back());
  bootstrapToTry_.pop_back();
  currentIndex_ = static_cast<int32_t>(taken.index);
  triedBootstrap_.insert(taken.uri);
  currentBootstrap_ = std::move(taken.uri);
}

const char* BootstrapProgress::nextDiscovery() {
  PLAT_ASSERT_TEXT(!discoveryToTry_.empty(), "!discoveryToTry.empty()");
  currentDiscovery_ = std::move(discoveryToTry_.back());
  discoveryToTry_.pop_back();
  triedDiscovery_.insert(currentDiscovery_);
  return currentDiscovery_.get();
}

template <typename Pick>
void BootstrapProgress::discard(Pick pick, const char* why) {
  std::erase_if(bootstrapToTry_, [&](const Entry& e) {
    if (!pick(e)) return false;
    progressLog().debug(why, e.uri.c_str());
    triedBootstrap_.insert(e.uri);
    return true;
  });
}

void BootstrapProgress::blacklist() {
  const char* current = currentBootstrap_.get();
  const char* slash = current ? std::strrchr(current, '/') : nullptr;
  if (!slash) return;
  // With its "/": a server "…/b" is not the server "…/b2".
  const plat::CharArray server(current, static_cast<int>(slash - current + 1));
  discard([&server](const Entry& e) { return plat::startsWith(e.uri.c_str(), server.c_str()); },
          "Request failed, blacklisting %s");
}

void BootstrapProgress::succeeded() {
  discard(
      [this](const Entry& e) { return static_cast<int64_t>(e.index) == currentIndex_ && e.generation == generation_; },
      "Request succeeded, discarding %s");
}

// ---- HostedBootstrap ----

HostedBootstrapCallback::~HostedBootstrapCallback() = default;

HostedBootstrap::HostedBootstrap(const HostedEndpoint& endpoint, HostedClient& client,
                                 HostedBootstrapCallback* callback)
    : endpoint_(endpoint),
      initial_(endpoint.vendorConfig()->bootstrapConfig()),
      client_(client),
      callback_(callback),
      progress_(endpoint.name()),
      lastError_(HostedException::NoError, nullptr),
      discoveryTimer_(this),
      failureTimer_(this),
      attemptTimer_(this) {
  progress_.update(initial_);
}

HostedBootstrap::~HostedBootstrap() {
  request_.reset();
  discoveryTimer_.cancel();
  failureTimer_.cancel();
  attemptTimer_.cancel();
}

void HostedBootstrap::start() {
  attempts_ = 0;
  resume();
}

void HostedBootstrap::resume() {
  if (progress_.discoveryToTry().empty()) {
    tryNext(0);
  } else {
    discoveryTimer_.start(0);
  }
}

bool HostedBootstrap::shouldBlacklist(const HostedException& error) { return judge(error).blacklist; }

void HostedBootstrap::tryNext(int delayMs) {
  if (request_) return;
  if (attempts_ >= hostedBootstrapMaxAttempts.getValue()) {
    lastError_ = HostedBootstrapException(HostedBootstrapException::kBootstrapLimit);
    failureTimer_.start(0);
    return;
  }
  attempts_++;
  attemptTimer_.start(delayMs);
}

bool HostedBootstrap::timerExpired(plat::Timer* timer) {
  if (timer == &discoveryTimer_) {
    const plat::CharArray uri(progress_.nextDiscovery());
    callback_->onDiscoveryUri(uri.get());
  } else if (timer == &failureTimer_) {
    callback_->onBootstrapFailure(HostedException(HostedException::Bootstrap, lastError_));
  } else {
    attempt();
  }
  return false;
}

void HostedBootstrap::attempt() {
  plat::CharArray preferred;
  BootstrapCache* cache = endpoint_.bootstrapCache().get();
  if (cache && cache->isFresh()) preferred = cache->sourceUrl();
  if (progress_.bootstrapToTry().empty()) {
    vlog().info("Bootstrap failed");
    if (!hasError()) lastError_ = HostedBootstrapException(HostedBootstrapException::kNoBootstrap);
    failureTimer_.start(0);
    return;
  }
  progress_.nextBootstrap(preferred.get());
  request_ = std::make_unique<BootstrapRequest>(endpoint_, client_, this, progress_.currentBootstrap());
  request_->start(0);
  vlog().debug("Trying %s...", progress_.currentBootstrap());
}

void HostedBootstrap::onBootstrapConfig(BootstrapRequest&, const plat::LinkedPtr<BootstrapConfig>& config) {
  progress_.succeeded();
  // Held here: the request deleted next may be what holds it.
  const plat::LinkedPtr<BootstrapConfig> held = config;
  request_.reset();
  lastError_ = HostedException(HostedException::NoError, nullptr);
  try {
    progress_.update(*held);
    resume();
  } catch (const plat::Exception& e) {
    const HostedException* hosted = dynamic_cast<const HostedException*>(&e);
    lastError_ = hosted ? HostedException(HostedException::Bootstrap, *hosted)
                        : HostedException(HostedException::Bootstrap, nullptr, e.str());
    vlog().debug("%s", e.str());
    if (BootstrapCache* cache = endpoint_.bootstrapCache().get()) cache->erase();
    tryNext(0);
  }
}

void HostedBootstrap::onBootstrapFailure(BootstrapRequest&, const HostedException& error) {
  lastError_ = error;
  vlog().info("%s", lastError_.str());
  request_.reset();
  if (BootstrapCache* cache = endpoint_.bootstrapCache().get()) cache->erase();
  const Verdict verdict = judge(lastError_);
  if (verdict.format) vlog().debug(verdict.format, verdict.detail);
  if (verdict.blacklist) progress_.blacklist();
  tryNext(100);
}

}  // namespace hosted
