#pragma once
// Hands out, one per request, the values of one bootstrap parameter (a
// ";"-separated list, such as the base URIs of a service) that the user
// has not been given yet.  The configuration comes from the bootstrap
// servers in an order fixed per machine (seeded by the local host name),
// the cached server first; values from "_HostedBootstrapInfoOverride" go
// first.  When a configuration brings nothing new the user is told so and
// may start again, which moves on to the next server.
//
// Runs on the loop's thread; the object touches nothing of itself after
// calling its callback, which may delete it.  Log source
// "HostedBootstrapInfo".

#include <cstdint>
#include <memory>
#include <vector>

#include "libs/hosted/BootstrapConfig.h"
#include "libs/hosted/BootstrapRequest.h"
#include "libs/hosted/HostedException.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/Timer.h"

namespace hosted {

class HostedClient;
class HostedEndpoint;

// "_HostedBootstrapInfoOverride": name=value items separated by ";".
extern plat::StringParameter hostedBootstrapInfoOverride;

class HostedBootstrapInfoCallback {
 public:
  virtual void onBootstrapInfo(const char* value) = 0;
  virtual void onBootstrapInfoError(const HostedException& error) = 0;
  virtual ~HostedBootstrapInfoCallback();
};

class HostedBootstrapInfo : public plat::Timer::Callback, public BootstrapRequestCallback {
 public:
  // Borrows the endpoint, the client and the callback; no network work.
  HostedBootstrapInfo(const HostedEndpoint& endpoint, HostedClient& client, HostedBootstrapInfoCallback* callback,
                      const char* parameterName);
  ~HostedBootstrapInfo() override;
  HostedBootstrapInfo(const HostedBootstrapInfo&) = delete;
  HostedBootstrapInfo& operator=(const HostedBootstrapInfo&) = delete;

  // Asks for the next value after delayMs.  error (may be null) is why the
  // last value did not serve; it is reported when nothing is left.  Not
  // while a fetch or the timer runs (a failed assertion).
  void start(const HostedException* error, int delayMs);
  // Stops the fetch and the timer; nothing is reported.
  void cancel();
  // Counts a value the user had from elsewhere as handed out, so that only
  // another value is new.
  void addReportedValue(const char* value);

  int32_t maxBackoffSecs() const noexcept { return maxBackoffSecs_; }
  // The last accepted configuration's parameters.
  const BootstrapConfig::Parameters& parameters() const noexcept { return parameters_; }
  // The bootstrap URLs still to fetch, the next one last (for tests).
  const std::vector<plat::CharArray>& bootstrapToTry() const noexcept { return bootstrapToTry_; }

  bool timerExpired(plat::Timer* timer) override;
  void onBootstrapConfig(BootstrapRequest& request, const plat::LinkedPtr<BootstrapConfig>& config) override;
  void onBootstrapFailure(BootstrapRequest& request, const HostedException& error) override;

 private:
  void initialise();
  void next();
  void handOut();
  bool hasError() const noexcept { return lastError_.kind() != HostedException::NoError; }

  const HostedEndpoint& endpoint_;
  HostedClient& client_;
  HostedBootstrapInfoCallback* callback_;
  plat::CharArray name_;
  uint64_t seed_;
  bool initialised_ = false;
  int32_t maxBackoffSecs_;
  BootstrapConfig::Parameters parameters_;
  std::vector<plat::CharArray> pendingValues_;
  plat::StringSet reportedValues_;
  std::vector<plat::CharArray> bootstrapToTry_;
  HostedException lastError_;
  std::unique_ptr<BootstrapRequest> request_;
  plat::Timer fetchTimer_;
};

}  // namespace hosted
