#include "libs/hosted/HostedBootstrapInfo.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "libs/hosted/BootstrapCache.h"
#include "libs/hosted/HostedBootstrapException.h"
#include "libs/hosted/HostedEndpoint.h"
#include "libs/hosted/SeededShuffle.h"
#include "libs/hosted/VendorConfig.h"
#include "qocore/base/os/HostName.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/rdr/PseudoRandomStream.h"

namespace hosted {

plat::StringParameter hostedBootstrapInfoOverride("_HostedBootstrapInfoOverride", "", "", true);

namespace {

PLAT_LOG_SOURCE(vlog, "HostedBootstrapInfo");

bool contains(const std::vector<plat::CharArray>& list, const char* text) {
  return std::any_of(list.begin(), list.end(),
                     [text](const plat::CharArray& s) { return std::strcmp(s.c_str(), text) == 0; });
}

// The non-empty items of a ";"-separated text.
std::vector<std::string> items(const char* text) {
  std::vector<std::string> out;
  std::string all(text ? text : "");
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(';', start);
    if (end == std::string::npos) end = all.size();
    if (end > start) out.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

}  // namespace

HostedBootstrapInfoCallback::~HostedBootstrapInfoCallback() = default;

HostedBootstrapInfo::HostedBootstrapInfo(const HostedEndpoint& endpoint, HostedClient& client,
                                         HostedBootstrapInfoCallback* callback, const char* parameterName)
    : endpoint_(endpoint),
      client_(client),
      callback_(callback),
      name_(parameterName),
      seed_(plat::strHashFnv1a(os::getLocalHostName().c_str())),
      maxBackoffSecs_(endpoint.vendorConfig()->bootstrapConfig().maxBackoffSecs()),
      lastError_(HostedException::NoError, nullptr),
      fetchTimer_(this) {}

HostedBootstrapInfo::~HostedBootstrapInfo() { cancel(); }

void HostedBootstrapInfo::start(const HostedException* error, int delayMs) {
  PLAT_ASSERT_TEXT(!request_ && !fetchTimer_.isRunning(), "!request.get() && !fetchTimer.isStarted()");
  lastError_ = error ? *error : HostedException(HostedException::NoError, nullptr);
  if (!initialised_) initialise();
  fetchTimer_.start(delayMs);
}

void HostedBootstrapInfo::cancel() {
  request_.reset();
  fetchTimer_.cancel();
}

void HostedBootstrapInfo::initialise() {
  initialised_ = true;
  const BootstrapConfig& initial = endpoint_.vendorConfig()->bootstrapConfig();
  maxBackoffSecs_ = initial.maxBackoffSecs();
  plat::CharArray cached;
  BootstrapCache* cache = endpoint_.bootstrapCache().get();
  if (cache && cache->isUsable()) cached = cache->sourceUrl();
  rdr::PseudoRandomStream draw(seed_);
  for (const plat::CharArray& uri : initial.bootstrapUris()) {
    // The cached URL stands for its whole base; "/" keeps one base from
    // matching another that merely starts with it.
    if (cached && plat::startsWith(cached.get(), plat::DString("%s/", uri.c_str()).c_str())) continue;
    const uint32_t index = draw.readU32Below(static_cast<uint32_t>(initial.configCount()));
    bootstrapToTry_.emplace_back(plat::DString("%s/%u", uri.c_str(), index).c_str());
  }
  rdr::PseudoRandomStream order(seed_);
  shuffleTail(bootstrapToTry_, 0, order);
  // The cached URL is fetched first and counts against the limit.
  const size_t limit = static_cast<size_t>(hostedBootstrapMaxAttempts.getValue());
  const size_t drawn = cached ? limit - 1 : limit;
  if (bootstrapToTry_.size() > drawn) bootstrapToTry_.resize(drawn);
  if (cached) bootstrapToTry_.push_back(std::move(cached));
}

bool HostedBootstrapInfo::timerExpired(plat::Timer*) {
  if (pendingValues_.empty() && bootstrapToTry_.empty()) {
    HostedBootstrapInfoCallback* callback = callback_;
    if (hasError()) {
      const HostedException error = lastError_;
      callback->onBootstrapInfoError(error);
    } else {
      callback->onBootstrapInfoError(HostedException(HostedException::Configuration, "ConfigPkg"));
    }
    return false;
  }
  next();
  return false;
}

void HostedBootstrapInfo::next() {
  if (!pendingValues_.empty()) {
    handOut();
    return;
  }
  plat::CharArray uri = std::move(bootstrapToTry_.back());
  bootstrapToTry_.pop_back();
  request_.reset();
  request_ = std::make_unique<BootstrapRequest>(endpoint_, client_, this, uri.get());
  request_->start(0);
  vlog().debug("Trying %s...", uri.c_str());
}

void HostedBootstrapInfo::handOut() {
  const plat::CharArray value = std::move(pendingValues_.back());
  pendingValues_.pop_back();
  reportedValues_.insert(value);
  callback_->onBootstrapInfo(value.get());
}

void HostedBootstrapInfo::onBootstrapConfig(BootstrapRequest& request, const plat::LinkedPtr<BootstrapConfig>& config) {
  if (request.fromNetwork()) bootstrapToTry_.clear();
  // Held here: the request that is deleted next may be what holds it.
  const plat::LinkedPtr<BootstrapConfig> held = config;
  request_.reset();
  maxBackoffSecs_ = held->maxBackoffSecs();
  parameters_ = held->parameters();

  std::vector<plat::CharArray> overrides;
  for (const std::string& item : items(hostedBootstrapInfoOverride.getValue())) {
    const size_t eq = item.find('=');
    // An empty value is no value: it would hand out an empty address.
    if (eq == std::string::npos || eq + 1 == item.size() || item.compare(0, eq, name_.c_str()) != 0) continue;
    const char* value = item.c_str() + eq + 1;
    if (!reportedValues_.count(plat::CharArray(value)) && !contains(overrides, value)) overrides.emplace_back(value);
  }

  auto found = parameters_.find(name_);
  const bool present = found != parameters_.end();
  if (present) {
    const size_t first = pendingValues_.size();
    for (const std::string& item : items(found->second.c_str())) {
      // A value waiting already, from an earlier configuration or earlier
      // in this one, is not queued twice: nothing is handed out twice.
      if (reportedValues_.count(plat::CharArray(item.c_str())) || contains(overrides, item.c_str()) ||
          contains(pendingValues_, item.c_str()))
        continue;
      pendingValues_.emplace_back(item.c_str());
    }
    rdr::PseudoRandomStream order(seed_);
    shuffleTail(pendingValues_, first, order);
  }
  for (plat::CharArray& value : overrides) {
    std::erase_if(pendingValues_,
                  [&value](const plat::CharArray& p) { return std::strcmp(p.c_str(), value.c_str()) == 0; });
    pendingValues_.push_back(std::move(value));
  }

  if (present) {
    if (!pendingValues_.empty()) {
      handOut();
      return;
    }
    vlog().debug("Ignoring config with no new values");
  } else {
    vlog().error("Ignoring config with missing parameter %s", name_.c_str());
  }
  HostedBootstrapInfoCallback* callback = callback_;
  if (hasError()) {
    const HostedException error = lastError_;
    callback->onBootstrapInfoError(error);
  } else {
    callback->onBootstrapInfoError(HostedBootstrapException(
        HostedBootstrapException::kNoBootstrap, present ? nullptr : "Invalid Bootstrap config for product"));
  }
}

void HostedBootstrapInfo::onBootstrapFailure(BootstrapRequest&, const HostedException& error) {
  // Copied: the request deleted next may be what holds it.
  const HostedException failure = error;
  request_.reset();
  if (std::strcmp(failure.reason(), "Network") == 0) {
    vlog().debug("Bootstrap network failure");
  } else {
    vlog().error("Bootstrap failed: %s", failure.str());
  }
  if (bootstrapToTry_.empty()) {
    callback_->onBootstrapInfoError(failure);
  } else {
    next();
  }
}

void HostedBootstrapInfo::addReportedValue(const char* value) { reportedValues_.insert(plat::CharArray(value)); }

}  // namespace hosted
