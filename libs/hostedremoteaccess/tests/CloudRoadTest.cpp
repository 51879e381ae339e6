// The capability layer over HTTPS against the mock cloud, the way the
// program meets the cloud: node changes, credentials, redirects the
// hosted client will not follow, and the whole road of a ticket from the
// cloud configuration package to the redeemed token.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "libs/hosted/BootstrapCache.h"
#include "libs/hosted/HostedRequest.h"
#include "libs/hostedremoteaccess/CloudConfig.h"
#include "libs/hostedremoteaccess/TicketRedeemer.h"
#include "libs/hostedremoteaccess/tests/CapsTestSupport.h"
#include "qocore/base/os/AppDirs.h"
#include "qocore/base/plat/Json.h"

namespace {

using caps_test::Owner;
using hostedremoteaccess::CapsClient;
using hostedremoteaccess::CapsRequest;

class CloudRoadTest : public caps_test::CloudTest {
 protected:
  // The caps client knows "<base>/node1" already.
  void startWithNode1(const std::string& script) {
    startCloud(script);
    capsClient_->recordServiceUrl(CapsClient::kAuth, (cloud_->base() + "/node1").c_str(), 60, {});
  }
  Owner& run(std::unique_ptr<CapsRequest> request) {
    owner_.request = std::move(request);
    owner_.request->start();
    runUntil([&] { return owner_.ends > 0; });
    settle();
    return owner_;
  }
  std::unique_ptr<CapsRequest> get(const char* path = "/x") {
    return std::make_unique<CapsRequest>(capsClient_.get(), CapsClient::kAuth, path, &owner_, "GET", plat::Buffer());
  }

  Owner owner_;
};

TEST_F(CloudRoadTest, AFailingNodeGivesWayToTheOtherOne) {
  startWithNode1(R"({"routes": {"GET /node1/x": [{"status": 500}], "GET /node2/x": [{"status": 200, "body": "ok"}]}})");
  Owner& o = run(get());
  EXPECT_EQ(o.outcome, "response") << o.message;
  EXPECT_EQ(o.body, "ok");
  const std::vector<std::string> sent = paths();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0], "GET /node1/x");
  EXPECT_EQ(sent[1].rfind("GET /bootstrap/", 0), 0u);
  EXPECT_EQ(sent[2], "GET /node2/x");
  EXPECT_EQ(capsClient_->serviceUrl(CapsClient::kAuth), cloud_->base() + "/node2");
  EXPECT_EQ(owner_.request->attempts(), 2);
}

TEST_F(CloudRoadTest, WhenEveryNodeFailsTheLastFailureIsReported) {
  startCloud(R"({"routes": {"GET /node1/x": [{"status": 500}], "GET /node2/x": [{"status": 500}]}})");
  Owner& o = run(get());
  EXPECT_EQ(o.reason, "HTTPInternalServerError") << o.message;
  const std::vector<std::string> sent = paths();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].rfind("GET /bootstrap/", 0), 0u);
  // Both nodes, each once, in the machine's order.
  EXPECT_NE(sent[1], sent[2]);
  EXPECT_EQ(capsClient_->serviceUrl(CapsClient::kAuth), nullptr);
}

TEST_F(CloudRoadTest, TheTwelfthBusyAnswerMovesToAnotherNode) {
  startWithNode1(R"({"routes": {"GET /node1/x": [{"status": 503, "headers": {"Retry-After": "1"}}],
                                "GET /node2/x": [{"status": 200}]}})");
  Owner& o = run(get());
  EXPECT_EQ(o.outcome, "response") << o.message;
  EXPECT_EQ(o.delays, std::vector<int32_t>(11, 1000));
  const std::vector<std::string> sent = paths();
  ASSERT_EQ(sent.size(), 14u);
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "GET /node1/x"), 12);
  EXPECT_EQ(sent.back(), "GET /node2/x");
}

TEST_F(CloudRoadTest, CredentialsOfTheRequestTravelOnlyOverHttps) {
  startWithNode1(R"({"routes": {"GET /node1/x": [{"status": 200}],
                                "GET /node1/r": [{"status": 307, "headers": {"Location": "http://127.0.0.1/x"}}]}})");
  std::unique_ptr<CapsRequest> bearer = get();
  bearer->setBearerToken("tok");
  EXPECT_EQ(run(std::move(bearer)).outcome, "response");
  owner_ = Owner();
  std::unique_ptr<CapsRequest> basic = get();
  basic->setBasicCredentials("user", "pw");
  EXPECT_EQ(run(std::move(basic)).outcome, "response");
  // A redirect away from https is not followed with credentials.
  owner_ = Owner();
  std::unique_ptr<CapsRequest> redirected = get("/r");
  redirected->setBearerToken("tok");
  EXPECT_EQ(run(std::move(redirected)).reason, "CAPSBadRedirect");
  const std::vector<yarl_test::MockCloudRequest> sent = cloud_->requests();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_STREQ(sent[0].header("Authorization"), "Bearer tok");
  EXPECT_STREQ(sent[1].header("Authorization"), "Basic dXNlcjpwdw==");
  EXPECT_STREQ(sent[2].header("Authorization"), "Bearer tok");
}

TEST_F(CloudRoadTest, TheHostedClientFollowsNoRedirectAwayFromHttps) {
  startWithNode1(R"({"routes": {"GET /node1/x": [{"status": 308, "headers": {"Location": "http://127.0.0.1:1/x"}}]}})");
  Owner& o = run(get());
  EXPECT_EQ(o.ends, 1);
  EXPECT_EQ(o.reason, "CAPSBadRedirect");
  EXPECT_EQ(paths().size(), 1u);
}

TEST_F(CloudRoadTest, RequestsStartedTogetherShareOneBootstrapDocument) {
  startCloud(R"({"routes": {"GET /node1/x": [{"status": 200}], "GET /node2/x": [{"status": 200}]}})");
  Owner other;
  owner_.request = get();
  other.request =
      std::make_unique<CapsRequest>(capsClient_.get(), CapsClient::kAuth, "/x", &other, "GET", plat::Buffer());
  owner_.request->start();
  other.request->start();
  runUntil([&] { return owner_.ends + other.ends == 2; });
  settle();
  EXPECT_EQ(owner_.outcome, "response") << owner_.message;
  EXPECT_EQ(other.outcome, "response") << other.message;
  const std::vector<std::string> sent = paths();
  EXPECT_EQ(std::count_if(sent.begin(), sent.end(),
                          [](const std::string& p) { return p.find("/bootstrap/") != std::string::npos; }),
            1);
  EXPECT_EQ(sent.size(), 3u);
}

// A provider with an observer: records the order of the hooks and hands
// a follow-up to the observer of a failure.
struct Provider : hostedremoteaccess::CapsCredProvider, hostedremoteaccess::CapsCredProvider::Observer {
  struct Note : FollowUp {
    explicit Note(std::vector<std::string>* log) : log(log) {}
    ~Note() override { log->push_back("follow-up deleted"); }
    std::vector<std::string>* log;
  };
  explicit Provider(CapsClient* client) : CapsCredProvider(client, this) {}
  bool bearerToken(plat::CharArray* token) override {
    *token = plat::CharArray("tok");
    return true;
  }
  bool basicCredentials(plat::CharArray*, plat::CharArray*) override { return false; }
  std::unique_ptr<FollowUp> onRequestSucceeded(CapsRequest*, const plat::Exception&) override {
    log.push_back("succeeded");
    return nullptr;
  }
  std::unique_ptr<FollowUp> onRequestFailed(CapsRequest*, const plat::Exception& e) override {
    log.push_back(std::string("failed ") + e.str());
    return std::make_unique<Note>(&log);
  }
  bool wants(CapsRequest*) override {
    log.push_back("wants");
    return true;
  }
  void onFailedWith(FollowUp* followUp) override { log.push_back(followUp ? "told follow-up" : "told nothing"); }
  void onCompleted() override { log.push_back("completed"); }
  std::vector<std::string> log;
};

TEST_F(CloudRoadTest, TheProviderHearsHowRequestsEndedEvenWhenTheOwnerDeletedThem) {
  startWithNode1(R"({"routes": {"GET /node1/x": [{"status": 200}], "GET /node1/y": [{"status": 402}]}})");
  Provider provider(capsClient_.get());
  owner_.deleteIn = "response";
  run(std::make_unique<CapsRequest>(&provider, CapsClient::kAuth, "/x", &owner_, CapsRequest::Creds::kRequired, "GET",
                                    plat::Buffer()));
  EXPECT_EQ(owner_.outcome, "response");
  EXPECT_EQ(provider.log, (std::vector<std::string>{"succeeded", "wants", "completed"}));
  provider.log.clear();
  owner_ = Owner();
  owner_.deleteIn = "error";
  run(std::make_unique<CapsRequest>(&provider, CapsClient::kAuth, "/y", &owner_, CapsRequest::Creds::kOptional, "GET",
                                    plat::Buffer()));
  EXPECT_EQ(owner_.reason, "CAPSObsolete");
  EXPECT_EQ(provider.log, (std::vector<std::string>{"failed Hosted Application error: Software update required",
                                                    "wants", "told follow-up", "follow-up deleted"}));
  EXPECT_STREQ(cloud_->requests()[1].header("Authorization"), "Bearer tok");
}

// The data folder holds the mock's CloudConfig.pkg.
class RoadTest : public caps_test::LoopTest {
 protected:
  void TearDown() override {
    os::setConfiguredDataDir(nullptr);
    LoopTest::TearDown();
  }
};

struct Redeemed : hostedremoteaccess::TicketRedeemer::Callback {
  void onTicketRedeemed(hostedremoteaccess::TicketRedeemer*, const plat::JsonRef& answer) override {
    reports++;
    type = answer->asObject().get("type")->asString().get();
    value = answer->asObject().get("value")->asString().get();
  }
  void onTicketRedeemError(hostedremoteaccess::TicketRedeemer*, const plat::Exception& e) override {
    reports++;
    error = e.str();
  }
  int reports = 0;
  std::string type, value, error;
};

TEST_F(RoadTest, FromTheCloudConfigurationToTheJoinToken) {
  yarl_test::MockCloud cloud;
  os::setConfiguredDataDir(cloud.folder().c_str());
  plat::LinkedPtr<hosted::HostedEndpoint> endpoint = hostedremoteaccess::loadCloudConfig();
  hosted::HostedClient hostedClient(endpoint, hosted::JsonFormatCallback::instance());
  hostedremoteaccess::CapsClient capsClient(endpoint, &hostedClient);
  Redeemed callback;
  hostedremoteaccess::TicketRedeemer redeemer(&capsClient, &callback);
  redeemer.start("ticket \"1\"");
  runUntil([&] { return callback.reports > 0; });
  settle();

  EXPECT_EQ(callback.reports, 1);
  EXPECT_EQ(callback.error, "");
  EXPECT_EQ(callback.type, "server-join");
  EXPECT_EQ(callback.value, "join-token:ticket \"1\"");
  const std::vector<yarl_test::MockCloudRequest> sent = cloud.requests();
  ASSERT_EQ(sent.size(), 2u);
  // One signed document, kept in memory.
  EXPECT_EQ(sent[0].method, "GET");
  EXPECT_EQ(sent[0].path.rfind("/bootstrap/", 0), 0u);
  const hosted::BootstrapCache& cache = *endpoint->bootstrapCache();
  EXPECT_TRUE(cache.isUsable());
  EXPECT_EQ(cache.sourceUrl(), cloud.base() + sent[0].path);
  EXPECT_EQ(endpoint->store(), nullptr);
  // One POST with the ticket escaped in its JSON body.
  EXPECT_EQ(sent[1].method, "POST");
  EXPECT_NE(sent[1].path.find("/authentication/1.1/tickets/redeem"), std::string::npos);
  plat::JsonReader reader(sent[1].body.data(), static_cast<int32_t>(sent[1].body.size()));
  plat::JsonRef body = plat::Json::parseHttpBody(nullptr, reader);
  EXPECT_STREQ(body->asObject().get("ticket")->asString().get(), "ticket \"1\"");
  EXPECT_EQ(sent[1].header("Authorization"), nullptr);
  EXPECT_NE(sent[1].header("Corvane-API-Action-ID"), nullptr);
}

}  // namespace
