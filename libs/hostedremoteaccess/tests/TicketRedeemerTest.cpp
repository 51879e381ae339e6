// Ticket redemption against the mock cloud: the POST it makes, the answer
// it hands on, and the answers it refuses.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "libs/hostedremoteaccess/TicketRedeemer.h"
#include "libs/hostedremoteaccess/tests/CapsTestSupport.h"
#include "qocore/base/plat/Json.h"

namespace {

using hostedremoteaccess::TicketRedeemer;

// Records each report; may delete the redeemer, or start it again, when
// told.
struct Redeemed : TicketRedeemer::Callback {
  void onTicketRedeemed(TicketRedeemer* r, const plat::JsonRef& answer) override {
    reports++;
    outcome = "redeemed";
    json = answer->toText().c_str();
    after(r);
  }
  void onTicketRedeemError(TicketRedeemer* r, const plat::Exception& e) override {
    reports++;
    outcome = "error";
    message = e.str();
    if (auto* h = dynamic_cast<const hosted::HostedException*>(&e)) {
      reason = h->reason();
      kind = h->kind();
    }
    after(r);
  }
  void after(TicketRedeemer* r) {
    if (deleteRedeemer) redeemer.reset();
    if (!again.empty()) r->start(std::exchange(again, "").c_str());
  }

  std::unique_ptr<TicketRedeemer> redeemer;
  bool deleteRedeemer = false;
  std::string again;
  int reports = 0;
  std::string outcome;
  std::string json;
  std::string message;
  std::string reason;
  uint32_t kind = 0;
};

class TicketRedeemerTest : public caps_test::CloudTest {
 protected:
  void redeem(const std::string& script, const char* ticket, int reports = 1) {
    startPlainCloud(script);
    callback_.redeemer = std::make_unique<TicketRedeemer>(capsClient_.get(), &callback_);
    callback_.redeemer->start(ticket);
    runUntil([&] { return callback_.reports >= reports; });
    settle();
  }
  static std::string answer(const std::string& json) {
    return R"({"routes": {"POST /node1/authentication/1.1/tickets/redeem": [)" + json + "]}}";
  }

  Redeemed callback_;
};

TEST_F(TicketRedeemerTest, PostsTheEscapedTicketWithoutCredentials) {
  redeem("{}", "a\"b\\c/d");
  EXPECT_EQ(callback_.outcome, "redeemed") << callback_.message;
  const std::vector<yarl_test::MockCloudRequest> sent = cloud_->requests();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].method + " " + sent[0].path, "POST /node1/authentication/1.1/tickets/redeem");
  EXPECT_STREQ(sent[0].header("Content-Type"), "application/json");
  EXPECT_EQ(sent[0].header("Authorization"), nullptr);
  plat::JsonReader reader(sent[0].body.data(), static_cast<int32_t>(sent[0].body.size()));
  plat::JsonRef body = plat::Json::parseHttpBody(nullptr, reader);
  EXPECT_EQ(std::string(body->asObject().get("ticket")->asString().get()), "a\"b\\c/d");
  EXPECT_EQ(body->asObject().members().size(), 1u);
  // The mock's own answer for the ticket.
  plat::JsonReader got(callback_.json.data(), static_cast<int32_t>(callback_.json.size()));
  plat::JsonRef token = plat::Json::parseHttpBody(nullptr, got);
  EXPECT_STREQ(token->asObject().get("type")->asString().get(), "server-join");
  EXPECT_STREQ(token->asObject().get("value")->asString().get(), "join-token:a\"b\\c/d");
}

TEST_F(TicketRedeemerTest, TheAnswerIsHandedOnWhateverItsType) {
  redeem(answer(R"({"status": 200, "json": {"type": "other", "value": "v", "extra": [1, 2]}})"), "t");
  plat::JsonReader got(callback_.json.data(), static_cast<int32_t>(callback_.json.size()));
  plat::JsonRef token = plat::Json::parseHttpBody(nullptr, got);
  EXPECT_STREQ(token->asObject().get("type")->asString().get(), "other");
  EXPECT_EQ(token->asObject().get("extra")->asArray().count(), 2);
}

TEST_F(TicketRedeemerTest, RefusedAnswers) {
  struct Case {
    const char* answer;
    const char* reason;
    const char* messageStart;
  };
  // clang-format off
  const Case cases[] = {
      {R"({"status": 201, "json": {"type": "server-join", "value": "v"}})", "HTTPCreated",
       "Hosted Application error: HTTP Created"},
      {R"({"status": 200, "body": "<html>ok</html>", "contentType": "text/html"})", "JSON",
       "Hosted Application error: Invalid JSON: "},
      {R"({"status": 200, "body": "{\"type\": ", "contentType": "application/json"})", "JSON",
       "Hosted Application error: Invalid JSON: "},
      {R"({"status": 200, "json": ["server-join", "v"]})", "JSON", "Hosted Application error: Invalid JSON: "},
      {R"({"status": 400, "json": {"errors": [{"code": "InvalidTicket"}]}})", "HTTPBadRequest",
       "Hosted Application error: HTTP Bad Request"},
  };
  // clang-format on
  // One cloud, one service node per case.
  std::string script = R"({"routes": {)";
  for (size_t i = 0; i < std::size(cases); ++i)
    script += (i ? ", " : "") + std::string("\"POST /c") + std::to_string(i) +
              "/authentication/1.1/tickets/redeem\": [" + cases[i].answer + "]";
  startPlainCloud(script + "}}");
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.answer);
    capsClient_->recordServiceUrl(hostedremoteaccess::CapsClient::kAuth,
                                  (cloud_->base() + "/c" + std::to_string(i)).c_str(), 60, {});
    callback_ = Redeemed();
    TicketRedeemer redeemer(capsClient_.get(), &callback_);
    redeemer.start("t");
    runUntil([&] { return callback_.reports > 0; });
    settle();
    EXPECT_EQ(callback_.reports, 1);
    EXPECT_EQ(callback_.reason, c.reason);
    EXPECT_EQ(callback_.kind, hosted::HostedException::Application);
    EXPECT_EQ(callback_.message.rfind(c.messageStart, 0), 0u) << callback_.message;
  }
  EXPECT_EQ(cloud_->requests().size(), std::size(cases));
}

TEST_F(TicketRedeemerTest, StartingAgainAbandonsTheFirstRedemption) {
  startPlainCloud("{}");
  callback_.redeemer = std::make_unique<TicketRedeemer>(capsClient_.get(), &callback_);
  callback_.redeemer->start("first");
  callback_.redeemer->start("second");
  runUntil([&] { return callback_.reports > 0; });
  settle();
  EXPECT_EQ(callback_.reports, 1);
  EXPECT_NE(callback_.json.find("join-token:second"), std::string::npos) << callback_.json;
}

TEST_F(TicketRedeemerTest, TheCallbackMayStartAgainOrDeleteTheRedeemer) {
  callback_.again = "next";
  redeem(answer(R"({"status": 404}, {"status": 200, "json": {"type": "server-join", "value": "v"}})"), "t", 2);
  EXPECT_EQ(callback_.reports, 2);
  EXPECT_EQ(callback_.outcome, "redeemed");
  TearDown();
  SetUp();
  for (const char* status : {"200", "500"}) {
    callback_ = Redeemed();
    callback_.deleteRedeemer = true;
    redeem(answer(std::string(R"({"status": )") + status + R"(, "json": {}})"), "t");
    EXPECT_EQ(callback_.reports, 1);
    EXPECT_FALSE(callback_.redeemer);
    TearDown();
    SetUp();
  }
}

TEST_F(TicketRedeemerTest, DeletingTheRedeemerCancelsTheRedemption) {
  startPlainCloud("{}");
  callback_.redeemer = std::make_unique<TicketRedeemer>(capsClient_.get(), &callback_);
  callback_.redeemer->start("t");
  callback_.redeemer.reset();
  settle();
  EXPECT_EQ(callback_.reports, 0);
}

TEST_F(TicketRedeemerTest, ABootstrapFailureOutlivesTheRequestItEnded) {
  // No service URL known, and the plain cloud names only "http" nodes:
  // the keeper's failure reaches the callback after the redeemer has
  // deleted the request, and with it the keeper.
  yarl_test::MockCloudLayout layout;
  layout.plain = true;
  startCloud("{}", layout);
  callback_.redeemer = std::make_unique<TicketRedeemer>(capsClient_.get(), &callback_);
  callback_.redeemer->start("t");
  runUntil([&] { return callback_.reports > 0; });
  EXPECT_EQ(callback_.message, "Hosted Bootstrap error: Illegal service scheme 'http'");
  EXPECT_EQ(callback_.reason, "GeneralError");
}

}  // namespace
