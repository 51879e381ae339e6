// Bootstrap requests against scripted plain-HTTP servers on 127.0.0.1:
// one fetch shared by every waiter, the cache, failures, and callbacks
// that delete requests (and the client) while the waiters are told.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "libs/hosted/BootstrapCache.h"
#include "libs/hosted/BootstrapConfig.h"
#include "libs/hosted/BootstrapRequest.h"
#include "libs/hosted/HostedException.h"
#include "libs/hosted/tests/HostedTestSupport.h"
#include "qocore/base/plat/Time.h"
#include "testing/LogCapture.h"

namespace {

using hosted_test::answer;
using hosted_test::httpResponse;
using hosted_test::ScriptedServer;

// The wall clock, moved on by the test.
plat::TimeValue wallOffset = 0;
plat::TimeValue shiftedWallClock() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return plat::timespecToTime(ts.tv_sec, ts.tv_nsec) + wallOffset;
}

// One waiting caller: records what it was told, in the shared order, and
// runs the test's step inside the call.
struct Waiter : hosted::BootstrapRequestCallback {
  Waiter(std::string n, std::vector<std::string>* o) : name(std::move(n)), order(o) {}
  void onBootstrapConfig(hosted::BootstrapRequest& r, const plat::LinkedPtr<hosted::BootstrapConfig>& c) override {
    told(r, "config");
    config = c;
  }
  void onBootstrapFailure(hosted::BootstrapRequest& r, const hosted::HostedException& e) override {
    told(r, e.str());
    reason = e.reason();
    kind = e.kind();
  }
  void told(hosted::BootstrapRequest& r, const std::string& what) {
    EXPECT_EQ(&r, request.get());
    fromNetwork = r.fromNetwork();
    outcome = what;
    order->push_back(name);
    if (step) step();
    request.reset();
  }
  void ask(const plat::LinkedPtr<hosted::HostedEndpoint>& endpoint, hosted::HostedClient& client,
           const std::string& uri) {
    outcome.clear();
    request = std::make_unique<hosted::BootstrapRequest>(*endpoint, client, this, uri.c_str());
    request->start();
  }

  std::string name;
  std::vector<std::string>* order;
  std::unique_ptr<hosted::BootstrapRequest> request;
  std::function<void()> step;
  plat::LinkedPtr<hosted::BootstrapConfig> config;
  std::string outcome, reason;
  uint32_t kind = 0;
  bool fromNetwork = false;
};

class BootstrapRequestTest : public hosted_test::LoopTest {
 protected:
  void TearDown() override {
    plat::setWallClock(previousWall_);
    LoopTest::TearDown();
  }
  std::string uri(const ScriptedServer& server, const char* path = "/bootstrap/0") {
    return "http://" + server.endpoint() + path;
  }

  plat::LinkedPtr<hosted::HostedEndpoint> endpoint_ = hosted_test::makeEndpoint();
  std::unique_ptr<hosted::HostedClient> client_ = hosted_test::plainClient(endpoint_);
  std::vector<std::string> order_;
  Waiter a_{"a", &order_}, b_{"b", &order_}, c_{"c", &order_};
  plat::WallClockFn previousWall_ = plat::setWallClock(&shiftedWallClock);
};

TEST_F(BootstrapRequestTest, OneFetchServesEveryWaiterAndFillsTheCache) {
  yarl_test::LogCapture log("BootstrapClient:capture:100");
  std::string head;
  ScriptedServer server({answer(hosted_test::bedResponse(hosted_test::signedDoc({{"p", "v"}})), &head),
                         answer(hosted_test::bedResponse(hosted_test::signedDoc({{"p", "w"}})))});
  const std::string u = uri(server);
  a_.ask(endpoint_, *client_, u);
  b_.ask(endpoint_, *client_, u);
  ASSERT_TRUE(runUntil([&] { return order_.size() == 2; }));
  EXPECT_EQ((std::vector<std::string>{"b", "a"}), order_);
  EXPECT_EQ("config", a_.outcome);
  EXPECT_EQ(a_.config.get(), b_.config.get());
  EXPECT_STREQ("v", a_.config->parameter("p"));
  EXPECT_TRUE(a_.fromNetwork && b_.fromNetwork);
  EXPECT_EQ(0u, client_->bootstrapClient().openRequests());
  int reused = 0;
  for (const auto& r : log.from("BootstrapClient")) reused += r.text == "Reusing open Bootstrap request";
  EXPECT_EQ(1, reused);
  EXPECT_EQ(0u, head.find("GET /bootstrap/0 HTTP/1.1\r\n"));
  EXPECT_EQ("close", hosted_test::headerOf(head, "Connection"));

  // Signed, so kept: the same URI is now answered without the network.
  hosted::BootstrapCache& cache = *endpoint_->bootstrapCache();
  ASSERT_TRUE(cache.isUsable());
  EXPECT_STREQ(u.c_str(), cache.sourceUrl());
  c_.ask(endpoint_, *client_, u);
  ASSERT_TRUE(runUntil([&] { return !c_.outcome.empty(); }));
  EXPECT_FALSE(c_.fromNetwork);
  EXPECT_EQ(a_.config.get(), c_.config.get());

  // Once the cache has expired the network answers again and the cache
  // takes the new document.
  const plat::TimeValue expiry = cache.expiryTime();
  wallOffset = 2 * 3600 * plat::kTicksPerSecond;
  c_.ask(endpoint_, *client_, u);
  ASSERT_TRUE(runUntil([&] { return !c_.outcome.empty(); }));
  wallOffset = 0;
  EXPECT_TRUE(c_.fromNetwork);
  EXPECT_STREQ("w", c_.config->parameter("p"));
  EXPECT_GT(cache.expiryTime(), expiry);
  EXPECT_EQ(cache.config().get(), c_.config.get());
  server.wait();
  EXPECT_EQ(2, server.accepted());
}

TEST_F(BootstrapRequestTest, FailuresReachEveryWaiterAsBootstrapFailures) {
  plat::Buffer unsignedDoc = yarl_test::unsignedBootstrap(hosted_test::bootstrapData({}));
  ScriptedServer server({answer(httpResponse(404, "Not Found", "")), answer(hosted_test::bedResponse(unsignedDoc)),
                         answer(httpResponse(200, "OK", "not bed", hosted::kBedContentType))});
  struct Case {
    std::string uri;
    const char* reason;
    const char* message;
  };
  const Case cases[] = {
      {uri(server), "HTTPNotFound", "Hosted Bootstrap error: HTTP Not Found"},
      // Over plain HTTP only a signed document is taken.
      {uri(server), "GeneralError", "Hosted Bootstrap error: Unable to find signature for Bootstrap"},
      {uri(server), "BED", nullptr},
      // Sends the HTTP client refuses end the same way.
      {uri(server) + "#part", "GeneralError", "Hosted Bootstrap error: should not send request with fragment"},
      {"ftp://127.0.0.1/b", "GeneralError", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.uri);
    order_.clear();
    a_.ask(endpoint_, *client_, c.uri);
    b_.ask(endpoint_, *client_, c.uri);
    ASSERT_TRUE(runUntil([&] { return order_.size() == 2; }));
    for (Waiter* w : {&a_, &b_}) {
      EXPECT_EQ(c.reason, w->reason);
      EXPECT_EQ(hosted::HostedException::Bootstrap, w->kind);
      if (c.message) {
        EXPECT_EQ(c.message, w->outcome);
      }
    }
    EXPECT_EQ(0u, client_->bootstrapClient().openRequests());
  }
  EXPECT_FALSE(endpoint_->bootstrapCache()->isUsable());
}

TEST_F(BootstrapRequestTest, OverHttpsAnUnsignedDocumentIsTakenButNotCached) {
  ssl_test::TlsServerRecord record;
  plat::Buffer unsignedDoc = yarl_test::unsignedBootstrap(hosted_test::bootstrapData({{"p", "v"}}));
  ScriptedServer server({hosted_test::tlsAnswer(hosted_test::bedResponse(unsignedDoc), record)});
  auto secure = std::make_unique<hosted::HostedClient>(endpoint_, nullptr);
  a_.ask(endpoint_, *secure, "https://" + server.endpoint() + "/bootstrap/0");
  ASSERT_TRUE(runUntil([&] { return !a_.outcome.empty(); }));
  EXPECT_EQ("config", a_.outcome);
  EXPECT_FALSE(a_.config->isSigned());
  EXPECT_STREQ("v", a_.config->parameter("p"));
  EXPECT_FALSE(endpoint_->bootstrapCache()->isUsable());
}

TEST_F(BootstrapRequestTest, UnreadableClientCredentialsFailTheFetch) {
  auto endpoint =
      hosted_test::makeEndpoint({}, {}, "root.pem", {{"client.certificate", "not PEM"}, {"client.key", "no key"}});
  auto secure = std::make_unique<hosted::HostedClient>(endpoint, nullptr);
  a_.ask(endpoint, *secure, "https://127.0.0.1:1/bootstrap/0");
  b_.ask(endpoint, *secure, "https://127.0.0.1:1/bootstrap/0");
  ASSERT_TRUE(runUntil([&] { return order_.size() == 2; }));
  // The HTTP layer reports the factory's failure as a failed connection,
  // shared by both waiters.
  EXPECT_EQ((std::vector<std::string>{"b", "a"}), order_);
  EXPECT_EQ("Network", a_.reason);
  EXPECT_NE(std::string::npos, a_.outcome.find("X.509 Error")) << a_.outcome;
  EXPECT_EQ(0u, secure->bootstrapClient().openRequests());
}

TEST_F(BootstrapRequestTest, ADocumentValidLaterIsUsedWithAnErrorLine) {
  yarl_test::LogCapture log("BootstrapClient:capture:100");
  plat::LinkedPtr<hosted::BedMap> data = hosted_test::bootstrapData({});
  data->setTime("any/valid-from",
                plat::getTime() / plat::kTicksPerSecond * plat::kTicksPerSecond + 2 * 3600 * plat::kTicksPerSecond);
  ScriptedServer server({answer(hosted_test::bedResponse(yarl_test::signedDocument(data)))});
  a_.ask(endpoint_, *client_, uri(server));
  ASSERT_TRUE(runUntil([&] { return !a_.outcome.empty(); }));
  EXPECT_EQ("config", a_.outcome);
  bool said = false;
  for (const auto& r : log.from("BootstrapClient")) {
    said |= r.level == 0 && r.text.find("Bootstrap configuration is not yet valid (valid from ") == 0 &&
            r.text.find("Z)") != std::string::npos;
  }
  EXPECT_TRUE(said);
}

TEST_F(BootstrapRequestTest, TheHostedClientServesOnlyHttps) {
  auto secureOnly = std::make_unique<hosted::HostedClient>(endpoint_, nullptr);
  a_.ask(endpoint_, *secureOnly, "http://127.0.0.1:1/bootstrap/0");
  ASSERT_TRUE(runUntil([&] { return !a_.outcome.empty(); }));
  EXPECT_EQ("GeneralError", a_.reason);
  EXPECT_NE(std::string::npos, a_.outcome.find("Assertion")) << a_.outcome;
}

TEST_F(BootstrapRequestTest, DeletedWaitersAreNotTold) {
  ScriptedServer server({answer(hosted_test::bedResponse(hosted_test::signedDoc()))});
  const std::string u = uri(server);
  a_.ask(endpoint_, *client_, u);
  b_.ask(endpoint_, *client_, u);
  c_.ask(endpoint_, *client_, u);
  // b leaves before the answer; c, told first, deletes a, which waits too.
  ASSERT_TRUE(runUntil([&] { return client_->bootstrapClient().openRequests() == 1; }));
  b_.request.reset();
  c_.step = [&] { a_.request.reset(); };
  ASSERT_TRUE(runUntil([&] { return !order_.empty(); }));
  settle();
  EXPECT_EQ((std::vector<std::string>{"c"}), order_);
  EXPECT_EQ(0u, client_->bootstrapClient().openRequests());
}

TEST_F(BootstrapRequestTest, AWaiterMayDeleteEveryRequestAndTheClient) {
  ScriptedServer server({answer(httpResponse(500, "Internal Server Error", ""))});
  const std::string u = uri(server);
  a_.ask(endpoint_, *client_, u);
  b_.ask(endpoint_, *client_, u);
  b_.step = [&] {
    a_.request.reset();
    b_.request.reset();
    client_.reset();
  };
  ASSERT_TRUE(runUntil([&] { return !order_.empty(); }));
  settle();
  EXPECT_EQ((std::vector<std::string>{"b"}), order_);
  EXPECT_EQ("HTTPInternalServerError", b_.reason);
}

}  // namespace
