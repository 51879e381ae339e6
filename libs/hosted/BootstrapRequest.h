#pragma once
// Fetching the signed bootstrap configuration from one bootstrap URI.
//
// A hosted::BootstrapRequest is one caller's wish for the configuration of
// one URI: from its timer it first asks the endpoint's bootstrap cache and
// goes to the network only when the cache cannot answer.  The
// hosted::BootstrapClient of a hosted client is the network side shared by
// all such requests: at most one open HTTP request per URI, later requests
// for the same URI wait on it, the answer is checked once, a signed answer
// is kept in the cache, and every waiter gets the same configuration.
//
// Callbacks may delete any bootstrap request, the one they are told about
// or another waiting one; neither side touches itself after calling out.

#include <cstdint>
#include <memory>
#include <vector>

#include "libs/hosted/HostedRequest.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/LinkedPtr.h"
#include "qocore/base/plat/Timer.h"

namespace hosted {

class BootstrapConfig;
class BootstrapRequest;
class HostedClient;
class HostedEndpoint;
class HostedException;

// The receiver of a bootstrap request's outcome; it may delete the request
// (or any other) inside either call.
class BootstrapRequestCallback {
 public:
  virtual void onBootstrapConfig(BootstrapRequest& request, const plat::LinkedPtr<BootstrapConfig>& config) = 0;
  virtual void onBootstrapFailure(BootstrapRequest& request, const HostedException& error) = 0;
  virtual ~BootstrapRequestCallback();
};

class BootstrapRequest : public plat::Timer::Callback {
 public:
  // Everything is borrowed; the hosted client must outlive the request.
  BootstrapRequest(const HostedEndpoint& endpoint, HostedClient& client, BootstrapRequestCallback* callback,
                   const char* uri);
  // Detaches from the client (a later answer is not delivered) and cancels
  // the timer.
  ~BootstrapRequest() override;
  BootstrapRequest(const BootstrapRequest&) = delete;
  BootstrapRequest& operator=(const BootstrapRequest&) = delete;

  // Arms the timer; the work runs from it, never in the caller's stack.
  void start(int delayMs = 0);

  const char* uri() const noexcept { return uri_.get(); }
  // Whether the request went to the network (false: served from cache).
  bool fromNetwork() const noexcept { return fromNetwork_; }
  BootstrapRequestCallback* callback() const noexcept { return callback_; }

  bool timerExpired(plat::Timer* timer) override;

 private:
  const HostedEndpoint& endpoint_;
  HostedClient& client_;
  BootstrapRequestCallback* callback_;
  plat::CharArray uri_;
  plat::Timer timer_;
  bool fromNetwork_ = false;
};

class BootstrapClient : public HostedRequestCallback {
 public:
  // The endpoint is kept alive by the client.
  BootstrapClient(HostedClient& client, const plat::LinkedPtr<HostedEndpoint>& endpoint);
  // Deletes every open HTTP request without telling its waiters.
  ~BootstrapClient() override;
  BootstrapClient(const BootstrapClient&) = delete;
  BootstrapClient& operator=(const BootstrapClient&) = delete;

  // attach: makes the request wait on the open fetch of the URI, opening
  // one when there is none (a send that fails is reported to the request
  // at once).  Detach: forgets the request everywhere.
  void request(const char* uri, BootstrapRequest* request, bool attach);

  // Open fetches, for tests.
  size_t openRequests() const noexcept { return requests_.size(); }

  void onHostedResponse(HostedRequest& request, plat::Buffer body, const char* contentType) override;
  void onHostedError(HostedRequest& request, const plat::Exception& error) override;
  // Only 200.
  bool acceptStatus(HostedRequest& request, int32_t status) override;

 private:
  struct Entry {
    std::unique_ptr<HostedRequest> request;
    // In the order they attached.
    std::vector<BootstrapRequest*> waiters;
  };
  // One round of telling waiters, on the stack of the call that runs it,
  // so that a waiter deleted meanwhile, or the client itself, is noticed.
  struct Dispatch;

  // Takes the entry of the hosted request out: its waiters, and its URL.
  std::vector<BootstrapRequest*> takeEntry(HostedRequest& request, plat::CharArray* url);
  // Tells the waiters, last attached first.
  template <typename Tell>
  void dispatch(std::vector<BootstrapRequest*> waiters, Tell tell);

  HostedClient& client_;
  plat::LinkedPtr<HostedEndpoint> endpoint_;
  std::vector<Entry> requests_;
  Dispatch* dispatching_ = nullptr;
};

}  // namespace hosted
