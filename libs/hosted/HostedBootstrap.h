#pragma once
// Bootstrap server discovery: hosted::HostedBootstrap walks the bootstrap
// servers of the cloud service until one yields a usable configuration,
// then hands that configuration's discovery URIs to its owner one at a
// time.  hosted::BootstrapProgress is its bookkeeping: the bootstrap and
// discovery URIs still to try (taken from the end), those tried, their
// order (fixed per endpoint name), and the blacklisting of a failed server.
//
// Failures move on to the next server; the owner hears one
// onBootstrapFailure when none is left or the attempt limit
// ("_HostedBootstrapMaxAttempts") is reached.  The driver touches nothing
// of itself after calling its owner, which may delete it inside the call.
// Log sources "HostedBootstrap" and "BootstrapProgress".

#include <cstdint>
#include <memory>
#include <vector>

#include "libs/hosted/BootstrapConfig.h"
#include "libs/hosted/BootstrapRequest.h"
#include "libs/hosted/HostedBootstrapException.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/Timer.h"

namespace hosted {

class HostedClient;
class HostedEndpoint;

// "_HostedDiscoveryOverride": one discovery URI used instead of those of
// every configuration.
extern plat::StringParameter hostedDiscoveryOverride;

class BootstrapProgress {
 public:
  struct Entry {
    plat::CharArray uri;
    uint32_t index;
    uint32_t generation;
  };

  // The order is seeded by the endpoint name (null counts as "").
  explicit BootstrapProgress(const char* name);

  // Takes the discovery and bootstrap URIs of a configuration, each new
  // batch shuffled; a new generation.
  void update(const BootstrapConfig& config);
  // Takes the last bootstrap entry, or `preferred` when it is among the
  // trailing entries of the last one's generation.  Not when none is left.
  void nextBootstrap(const char* preferred);
  // Takes the last discovery URI.  Not when none is left.
  const char* nextDiscovery();
  // Drops every entry of the current entry's server (the URI up to and
  // including its last "/").
  void blacklist();
  // Drops every entry of the current index added by the latest
  // configuration.
  void succeeded();
  // Each true when an entry was appended; a known entry is moved to the
  // end instead, a tried one ignored.
  bool addBootstrap(const char* uri, uint32_t index, uint32_t generation);
  bool addDiscovery(const char* uri);

  const char* currentBootstrap() const noexcept { return currentBootstrap_.get(); }
  const char* currentDiscovery() const noexcept { return currentDiscovery_.get(); }
  int32_t currentIndex() const noexcept { return currentIndex_; }
  const std::vector<Entry>& bootstrapToTry() const noexcept { return bootstrapToTry_; }
  const std::vector<plat::CharArray>& discoveryToTry() const noexcept { return discoveryToTry_; }
  uint32_t maxBackoffSecs() const noexcept { return maxBackoffSecs_; }
  uint32_t generation() const noexcept { return generation_; }

 private:
  // Takes out every entry the predicate picks, as tried.
  template <typename Pick>
  void discard(Pick pick, const char* why);

  uint64_t seed_;
  plat::CharArray currentBootstrap_;
  plat::CharArray currentDiscovery_;
  int32_t currentIndex_ = -1;
  std::vector<Entry> bootstrapToTry_;
  std::vector<plat::CharArray> discoveryToTry_;
  plat::StringSet triedBootstrap_;
  plat::StringSet triedDiscovery_;
  uint32_t maxBackoffSecs_ = 4294967295u;
  uint32_t generation_ = 0;
};

class HostedBootstrapCallback {
 public:
  virtual void onDiscoveryUri(const char* uri) = 0;
  virtual void onBootstrapFailure(const HostedException& error) = 0;
  virtual ~HostedBootstrapCallback();
};

class HostedBootstrap : public plat::Timer::Callback, public BootstrapRequestCallback {
 public:
  // Borrows everything; takes the initial configuration's URIs at once.
  HostedBootstrap(const HostedEndpoint& endpoint, HostedClient& client, HostedBootstrapCallback* callback);
  ~HostedBootstrap() override;
  HostedBootstrap(const HostedBootstrap&) = delete;
  HostedBootstrap& operator=(const HostedBootstrap&) = delete;

  // A fresh count of attempts, then as resume.
  void start();
  // The next discovery URI, or else the next bootstrap fetch.
  void resume();
  uint32_t maxBackoffSecs() const noexcept { return progress_.maxBackoffSecs(); }
  const BootstrapProgress& progress() const noexcept { return progress_; }

  // Whether a failed fetch rules out the other URIs of its server: network
  // failures and 500 answers, unless a proxy failed on its own side.
  static bool shouldBlacklist(const HostedException& error);

  bool timerExpired(plat::Timer* timer) override;
  void onBootstrapConfig(BootstrapRequest& request, const plat::LinkedPtr<BootstrapConfig>& config) override;
  void onBootstrapFailure(BootstrapRequest& request, const HostedException& error) override;

 private:
  void tryNext(int delayMs);
  void attempt();
  bool hasError() const noexcept { return lastError_.kind() != HostedException::NoError; }

  const HostedEndpoint& endpoint_;
  BootstrapConfig initial_;
  HostedClient& client_;
  HostedBootstrapCallback* callback_;
  BootstrapProgress progress_;
  int32_t attempts_ = 0;
  HostedException lastError_;
  std::unique_ptr<BootstrapRequest> request_;
  plat::Timer discoveryTimer_;
  plat::Timer failureTimer_;
  plat::Timer attemptTimer_;
};

}  // namespace hosted
