#pragma once
// Exchanges the one-time ticket of a browser sign-in for a typed token at
// the cloud's authentication service: one POST of {"ticket": ...} to
// "/authentication/1.1/tickets/redeem" of the service
// "enterprise/auth-uris", without credentials.  The answer's JSON object
// (its "type" and "value") goes to the callback as it is.

#include <memory>

#include "libs/hostedremoteaccess/CapsRequest.h"
#include "qocore/base/plat/JsonValue.h"

namespace hostedremoteaccess {

class CapsClient;

class TicketRedeemer : public CapsRequestCallback {
 public:
  static constexpr const char* kRedeemPath = "/authentication/1.1/tickets/redeem";

  // Exactly one of these follows each start that is not abandoned.  The
  // callback may start again or delete the redeemer inside either.
  class Callback {
   public:
    virtual void onTicketRedeemed(TicketRedeemer* redeemer, const plat::JsonRef& answer) = 0;
    virtual void onTicketRedeemError(TicketRedeemer* redeemer, const plat::Exception& error) = 0;
    virtual ~Callback();
  };

  // Both borrowed; they must outlive the redeemer.  Sends nothing.
  TicketRedeemer(CapsClient* capsClient, Callback* callback);
  // A redemption in flight is cancelled; no callback follows.
  ~TicketRedeemer() override;
  TicketRedeemer(const TicketRedeemer&) = delete;
  TicketRedeemer& operator=(const TicketRedeemer&) = delete;

  // Starts redeeming the ticket, abandoning any redemption in flight.
  void start(const char* ticket);

  // CapsRequestCallback
  void onCapsResponse(CapsRequest* request, const plat::Buffer& body, const char* contentType) override;
  void onCapsError(CapsRequest* request, const plat::Exception& error) override;
  // 200 only.
  bool acceptStatus(CapsRequest* request, int32_t status) override;
  void onCapsRetrying(CapsRequest* request, int32_t delayMs) override;

 private:
  Callback* callback_;
  CapsClient* capsClient_;
  std::unique_ptr<CapsRequest> currentRequest_;
};

}  // namespace hostedremoteaccess
