#pragma once
// One HTTPS call to a path of one capability service, hiding everything
// between the call and its final answer: the service's base URL (learnt
// by the caps client, else drawn from the bootstrap configuration),
// credentials, "Retry-After" waits, retries on another node of the
// service, redirects, and the cloud's error bodies.
//
// A request is made by its owner, started once and ends in exactly one
// onCapsResponse or onCapsError of its callback; the owner may delete it
// inside either.  The request touches nothing of itself after calling
// out.  Deleting it cancels everything it has in flight; no callback
// follows.  Log source "CapsRequest".

#include <cstdint>
#include <map>
#include <memory>

#include "libs/hosted/HostedBootstrapInfo.h"
#include "libs/hosted/HostedException.h"
#include "libs/hosted/HostedRequest.h"
#include "qocore/base/http/HttpRequest.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/JsonValue.h"
#include "qocore/base/plat/MBuf.h"
#include "qocore/base/plat/SecretText.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/Timer.h"

namespace hostedremoteaccess {

class CapsClient;
class CapsRequest;

// "_HostedCapsMaxAttempts": attempts on service nodes, the first included.
extern plat::IntParameter hostedCapsMaxAttempts;
// "_CapsResponseFudgeSecs": how far fudgedServerTime lies behind.
extern plat::IntParameter capsResponseFudgeSecs;

// A refusal of the capability layer: kind Application, the reason word,
// and the reason's text ("CAPSBadRedirect": "Bad redirect"...).
class CapsException : public hosted::HostedException {
 public:
  explicit CapsException(const char* reason) noexcept;
  // The text of a reason word, or null.
  static const char* text(const char* reason) noexcept;
};

class CapsRequestCallback {
 public:
  virtual ~CapsRequestCallback();
  // The final answer, of a status acceptStatus took.  contentType may be
  // null.
  virtual void onCapsResponse(CapsRequest* request, const plat::Buffer& body, const char* contentType) = 0;
  virtual void onCapsError(CapsRequest* request, const plat::Exception& error) = 0;
  // Whether a final status counts as success.
  virtual bool acceptStatus(CapsRequest* request, int32_t status) = 0;
  // The request waits delayMs before it asks again.
  virtual void onCapsRetrying(CapsRequest* request, int32_t delayMs) = 0;
};

// Gives a request its credentials and hears how requests that used them
// ended.
class CapsCredProvider {
 public:
  // What a hook hands the observer about a finished request.
  class FollowUp {
   public:
    virtual ~FollowUp();
  };
  class Observer {
   public:
    virtual ~Observer();
    virtual bool wants(CapsRequest* request) = 0;
    // Given the follow-up of the failure hook (may be null).
    virtual void onFailedWith(FollowUp* followUp) = 0;
    virtual void onCompleted() = 0;
  };

  // Both borrowed; the observer may be null.
  explicit CapsCredProvider(CapsClient* capsClient, Observer* observer = nullptr) noexcept
      : capsClient_(capsClient), observer_(observer) {}
  virtual ~CapsCredProvider();
  CapsCredProvider(const CapsCredProvider&) = delete;
  CapsCredProvider& operator=(const CapsCredProvider&) = delete;

  // True with a bearer token in *token.
  virtual bool bearerToken(plat::CharArray* token) = 0;
  // Whether credentials could be renewed; requests never ask.
  virtual bool canRenew() { return false; }
  // True with both parts in *user and *password.
  virtual bool basicCredentials(plat::CharArray* user, plat::CharArray* password) = 0;
  // A request that used the credentials ended; `result` describes its
  // final status, or its failure.
  virtual std::unique_ptr<FollowUp> onRequestSucceeded(CapsRequest* request, const plat::Exception& result);
  virtual std::unique_ptr<FollowUp> onRequestFailed(CapsRequest* request, const plat::Exception& result);

  CapsClient* capsClient() const noexcept { return capsClient_; }
  Observer* observer() const noexcept { return observer_; }

 private:
  CapsClient* capsClient_;
  Observer* observer_;
};

class CapsRequest : public hosted::HostedBootstrapInfoCallback,
                    public hosted::HostedRequestCallback,
                    public plat::Timer::Callback {
 public:
  static constexpr int32_t kMaxRetryAfters = 10;
  static constexpr int32_t kMaxRedirects = 5;
  static constexpr int32_t kNewNodeDelayMs = 100;

  // Without credentials.  The caps client and the callback are borrowed
  // and must outlive the request.
  CapsRequest(CapsClient* capsClient, int32_t serviceIndex, const char* path, CapsRequestCallback* callback,
              const char* method, const plat::Buffer& body);
  // With the provider's credentials (borrowed, on the provider's caps
  // client); without any, a request that requires them fails with
  // "CAPSNoCreds" instead of going out.
  enum class Creds { kOptional, kRequired };
  CapsRequest(CapsCredProvider* provider, int32_t serviceIndex, const char* path, CapsRequestCallback* callback,
              Creds creds, const char* method, const plat::Buffer& body);
  ~CapsRequest() override;
  CapsRequest(const CapsRequest&) = delete;
  CapsRequest& operator=(const CapsRequest&) = delete;

  // Credentials of the request's own, required from then on.  Only one
  // provider: either call on a request that has one fails the assertion
  // "!credPdr".
  void setBasicCredentials(const char* user, const char* password);
  void setBearerToken(const char* token);

  // Once.
  void start();
  // Sends to the URL (the concatenation of both).  Throws when the HTTP
  // client refuses it.
  void sendTo(const char* url);
  void sendTo(const char* base, const char* path);

  // The value of query parameter `key` of the last response's first
  // "Link", when that link has rel=next; else null.
  plat::CharArray nextLinkParam(const char* key) const;
  // The last response's "Date", else the wall clock.
  plat::TimeValue serverTime() const;
  // The same, _CapsResponseFudgeSecs earlier (when later than that).
  plat::TimeValue fudgedServerTime() const;

  static plat::JsonRef parseJsonBody(const plat::Buffer& body, const char* contentType);

  // The steps of the decision on an answer, also used on their own.
  void retryIn(int32_t delayMs);
  void retryWithNewNode(const hosted::HostedException& error);
  [[nodiscard]] bool followRedirect(const char* location);

  // The delay "Retry-After" asks for in ms: -1 without one (or one that
  // does not read), else 0..INT32_MAX.
  int32_t retryAfterMs() const;

  int32_t serviceIndex() const noexcept { return serviceIndex_; }
  const char* path() const noexcept { return path_.get(); }
  const char* method() const noexcept { return method_.get(); }
  const char* baseUrl() const noexcept { return baseUrl_.get(); }
  const char* currentUrl() const noexcept { return currentUrl_.get(); }
  int32_t attempts() const noexcept { return attempts_; }
  int32_t status() const noexcept { return status_; }
  const plat::CaseMap& responseHeaders() const noexcept { return responseHeaders_; }
  // Local wall clock minus the server's, whole seconds (in ticks).
  plat::TimeValue clockOffset() const noexcept { return clockOffset_; }

  // hosted::HostedBootstrapInfoCallback
  void onBootstrapInfo(const char* url) override;
  void onBootstrapInfoError(const hosted::HostedException& error) override;
  // hosted::HostedRequestCallback
  void onHostedResponse(hosted::HostedRequest& request, plat::Buffer body, const char* contentType) override;
  void onHostedError(hosted::HostedRequest& request, const plat::Exception& error) override;
  bool acceptStatus(hosted::HostedRequest& request, int32_t status) override;
  // plat::Timer::Callback
  bool timerExpired(plat::Timer* timer) override;

 private:
  // The built-in provider of setBasicCredentials and setBearerToken.
  class DummyCapsCredProvider : public CapsCredProvider {
   public:
    explicit DummyCapsCredProvider(CapsClient* capsClient) noexcept : CapsCredProvider(capsClient) {}
    ~DummyCapsCredProvider() override;
    bool bearerToken(plat::CharArray* token) override;
    bool basicCredentials(plat::CharArray* user, plat::CharArray* password) override;

    plat::SecretText token;
    plat::CharArray user;
    plat::SecretText password;
  };

  // How a decision ends the request.
  enum class Outcome { kResponse, kFailure };

  // Tells the owner (response or failure), with the provider's hooks
  // around the call.  Touches nothing of the request after the call.
  void finish(Outcome outcome, const plat::Exception& result, const plat::Buffer* body, const char* contentType);
  void fail(const plat::Exception& error) { finish(Outcome::kFailure, error, nullptr, nullptr); }

  CapsClient* capsClient_;
  int32_t serviceIndex_;
  plat::CharArray path_;
  plat::CharArray method_;
  plat::Buffer body_;
  CapsRequestCallback* callback_;
  std::map<plat::CharArray, plat::CharArray, plat::StrLess> extraHeaders_;
  CapsCredProvider* credProvider_ = nullptr;
  DummyCapsCredProvider dummyProvider_;
  bool credsRequired_ = false;
  std::unique_ptr<hosted::HostedBootstrapInfo> bootstrapInfo_;
  std::unique_ptr<hosted::HostedRequest> currentRequest_;
  plat::CharArray baseUrl_;
  plat::CharArray currentUrl_;
  plat::Timer retryTimer_;
  plat::Timer credsTimer_;
  bool credsUsed_ = false;
  int32_t attempts_ = 0;
  int32_t retryAfterCount_ = 0;
  int32_t redirects_ = 0;
  int32_t maxBodySize_ = 0;
  int32_t timeoutMs_ = -1;
  plat::CaseMap responseHeaders_;
  int32_t status_ = -1;
  http::SharedBody responseBody_;
  plat::TimeValue clockOffset_ = 0;
};

}  // namespace hostedremoteaccess
