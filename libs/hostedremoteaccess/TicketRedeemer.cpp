#include "libs/hostedremoteaccess/TicketRedeemer.h"

#include <cstring>
#include <utility>

#include "libs/hosted/HostedException.h"
#include "libs/hostedremoteaccess/CapsClient.h"
#include "qocore/base/plat/LogSrc.h"

namespace hostedremoteaccess {

namespace {

PLAT_LOG_SOURCE(vlog, "TicketRedeemer");

}  // namespace

TicketRedeemer::Callback::~Callback() = default;

TicketRedeemer::TicketRedeemer(CapsClient* capsClient, Callback* callback)
    : callback_(callback), capsClient_(capsClient) {}

TicketRedeemer::~TicketRedeemer() = default;

void TicketRedeemer::start(const char* ticket) {
  auto* object = new plat::JsonObject;
  const plat::JsonRef root(object);
  object->setString("ticket", ticket);
  const plat::CharArray text = root->toText();
  const plat::Buffer body(reinterpret_cast<const unsigned char*>(text.get()),
                          static_cast<int>(std::strlen(text.get())));
  auto request = std::make_unique<CapsRequest>(capsClient_, CapsClient::kAuth, kRedeemPath, this, "POST", body);
  // The request in flight, if any, goes without a word.
  currentRequest_ = std::move(request);
  currentRequest_->start();
}

void TicketRedeemer::onCapsResponse(CapsRequest*, const plat::Buffer& body, const char* contentType) {
  // Taken out first: the callback may start again or delete the redeemer.
  std::unique_ptr<CapsRequest> done = std::move(currentRequest_);
  plat::JsonRef answer;
  try {
    answer = CapsRequest::parseJsonBody(body, contentType);
    (void)answer->asObject();
  } catch (const plat::Exception& e) {
    vlog().error("Unreadable answer: %s", e.str());
    // "Invalid JSON", and what the parser found.
    hosted::HostedException failure(hosted::HostedException::Application, "JSON");
    failure.formatMessage(": %s", e.str());
    callback_->onTicketRedeemError(this, failure);
    return;
  }
  callback_->onTicketRedeemed(this, answer);
}

void TicketRedeemer::onCapsError(CapsRequest*, const plat::Exception& error) {
  std::unique_ptr<CapsRequest> done = std::move(currentRequest_);
  done.reset();
  callback_->onTicketRedeemError(this, error);
}

bool TicketRedeemer::acceptStatus(CapsRequest*, int32_t status) { return status == 200; }

void TicketRedeemer::onCapsRetrying(CapsRequest*, int32_t) {}

}  // namespace hostedremoteaccess
