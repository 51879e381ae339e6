// The bootstrap information keeper: the per-machine order of bootstrap
// servers, the cached server first, override values, values handed out
// once, and the walk to the next server over plain HTTP.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "libs/hosted/BootstrapCache.h"
#include "libs/hosted/HostedBootstrapException.h"
#include "libs/hosted/HostedBootstrapInfo.h"
#include "libs/hosted/VendorConfig.h"
#include "libs/hosted/tests/HostedTestSupport.h"
#include "qocore/base/os/HostName.h"
#include "qocore/base/plat/Time.h"

namespace {

using hosted_test::answer;
using hosted_test::httpResponse;
using hosted_test::ScriptedServer;

constexpr int kPriority = 1000;

// The user: records each value or error, and may delete the keeper inside
// the call.
struct User : hosted::HostedBootstrapInfoCallback {
  void onBootstrapInfo(const char* value) override {
    told.push_back(value);
    if (deleteInCall) keeper.reset();
  }
  void onBootstrapInfoError(const hosted::HostedException& e) override {
    told.push_back(std::string("error: ") + e.reason() + ": " + e.str());
    if (deleteInCall) keeper.reset();
  }
  std::unique_ptr<hosted::HostedBootstrapInfo> keeper;
  std::vector<std::string> told;
  bool deleteInCall = false;
};

class HostedBootstrapInfoTest : public hosted_test::LoopTest {
 protected:
  void SetUp() override { previousHost_ = os::setLocalHostNameOverride(host_.c_str()); }
  void TearDown() override {
    user_.keeper.reset();
    client_.reset();
    os::setLocalHostNameOverride(previousHost_);
    hosted::hostedBootstrapInfoOverride.unsetParam(kPriority);
    hosted::hostedBootstrapMaxAttempts.unsetParam(kPriority);
    LoopTest::TearDown();
  }
  void use(const std::vector<std::string>& bootstrapUris, int configCount = 1) {
    user_.keeper.reset();
    client_.reset();
    endpoint_ = hosted_test::makeEndpoint(bootstrapUris, {.configCount = configCount});
    client_ = hosted_test::plainClient(endpoint_);
  }
  hosted::HostedBootstrapInfo& keeper(const char* parameter = "P") {
    user_.keeper = std::make_unique<hosted::HostedBootstrapInfo>(*endpoint_, *client_, &user_, parameter);
    return *user_.keeper;
  }
  // The list the keeper would walk, fetched last first.
  std::vector<std::string> walk() {
    hosted::HostedBootstrapInfo& k = keeper();
    k.start(nullptr, 0);
    k.cancel();
    std::vector<std::string> out;
    for (const plat::CharArray& u : k.bootstrapToTry()) out.emplace_back(u.c_str());
    return out;
  }
  // Puts a signed document with the parameters into the cache as if it
  // had been fetched from `url`.
  void cache(const std::string& url, const std::vector<std::pair<std::string, std::string>>& params) {
    plat::Buffer body = hosted_test::signedDoc(params);
    plat::LinkedPtr<hosted::BootstrapConfig> config(new hosted::BootstrapConfig(
        body.count(), body.data(), endpoint_->vendorConfig()->trustManager(), yarl_test::kBootstrapUrl, true));
    const plat::TimeValue now = plat::getTime();
    endpoint_->bootstrapCache()->update(config, body, url.c_str(), now + 3600 * plat::kTicksPerSecond,
                                        now + 3600 * plat::kTicksPerSecond);
  }
  // Asks for one more value and waits for the answer.
  std::string next(const hosted::HostedException* error = nullptr) {
    const size_t before = user_.told.size();
    user_.keeper->start(error, 0);
    EXPECT_TRUE(runUntil([&] { return user_.told.size() > before; }));
    return user_.told.size() > before ? user_.told.back() : "<nothing>";
  }

  std::string host_ = "builder-7";
  const char* previousHost_ = nullptr;
  plat::LinkedPtr<hosted::HostedEndpoint> endpoint_;
  std::unique_ptr<hosted::HostedClient> client_;
  User user_;
};

const std::vector<std::string> kFive = {"https://h1.example/b", "https://h2.example/b", "https://h3.example/b",
                                        "https://h4.example/b", "https://h5.example/b"};

TEST_F(HostedBootstrapInfoTest, TheOrderDependsOnlyOnTheHostName) {
  use(kFive, 4);
  const std::vector<std::string> mine = walk();
  ASSERT_EQ(5u, mine.size());
  std::set<std::string> bases;
  for (const std::string& u : mine) {
    const size_t slash = u.rfind('/');
    bases.insert(u.substr(0, slash));
    EXPECT_LT(std::stoi(u.substr(slash + 1)), 4) << u;
  }
  EXPECT_EQ(std::set<std::string>(kFive.begin(), kFive.end()), bases);
  EXPECT_EQ(mine, walk());

  os::setLocalHostNameOverride("another-machine");
  use(kFive, 4);
  EXPECT_NE(mine, walk());
}

TEST_F(HostedBootstrapInfoTest, TheCachedServerComesFirstWithinTheAttemptLimit) {
  struct Case {
    std::vector<std::string> bases;
    std::string cached;
    int maxAttempts;
    size_t size;
    std::string notDrawn;
  };
  const Case cases[] = {
      {kFive, "https://h2.example/b/3", 6, 5, "https://h2.example/b/"},
      // The cached URL is kept and the drawn ones make room for it.
      {kFive, "https://h2.example/b/3", 3, 3, "https://h2.example/b/"},
      {kFive, "https://h2.example/b/3", 1, 1, "https://h2.example/b/"},
      // A base is matched with its "/": "b" is not "b2".
      {{"https://h.example/b", "https://h.example/b2"}, "https://h.example/b2/0", 6, 2, "https://h.example/b2/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cached + " " + std::to_string(c.maxAttempts));
    ASSERT_TRUE(hosted::hostedBootstrapMaxAttempts.setParam(std::to_string(c.maxAttempts).c_str(), kPriority));
    use(c.bases, 4);
    cache(c.cached, {});
    const std::vector<std::string> list = walk();
    ASSERT_EQ(c.size, list.size());
    EXPECT_EQ(c.cached, list.back());
    for (size_t i = 0; i + 1 < list.size(); i++) EXPECT_NE(0u, list[i].find(c.notDrawn)) << list[i];
  }
  // Without a cache the limit cuts the drawn list.
  ASSERT_TRUE(hosted::hostedBootstrapMaxAttempts.setParam("2", kPriority));
  use(kFive, 4);
  EXPECT_EQ(2u, walk().size());
}

TEST_F(HostedBootstrapInfoTest, OverridesFirstThenConfigurationValuesEachOnce) {
  use({"https://h1.example/b"});
  cache("https://h1.example/b/0", {{"P", "u1;;c1"}, {"Q", "q1"}});
  ASSERT_TRUE(hosted::hostedBootstrapInfoOverride.setParam("P=u1;Q=u2;;P=u3;P;P=;P=u3;PP=u4", kPriority));
  keeper();
  EXPECT_EQ("u3", next());
  EXPECT_EQ("u1", next());
  EXPECT_EQ("c1", next());
  // Served from the cache, which leaves the walk as it was: nothing more to
  // fetch, so the failure the user gives is what comes back.
  const hosted::HostedException failure(hosted::HostedException::Application, "CAPSNoCreds");
  EXPECT_EQ("error: CAPSNoCreds: Hosted Application error", next(&failure));
  EXPECT_EQ("error: ConfigPkg: Hosted Configuration error: Invalid Bootstrap package", next());
  EXPECT_EQ(5u, user_.told.size());
}

TEST_F(HostedBootstrapInfoTest, AConfigurationWithoutTheParameterIsReported) {
  use({"https://h1.example/b"});
  cache("https://h1.example/b/0", {{"Q", "q1"}});
  keeper();
  EXPECT_EQ("error: BTPNoBootstrap: Hosted Bootstrap error: Invalid Bootstrap config for product", next());
  // The same configuration under a parameter it has, once used up.
  keeper("Q");
  EXPECT_EQ("q1", next());
}

TEST_F(HostedBootstrapInfoTest, FetchesWalkTheServersUntilOneAnswers) {
  ScriptedServer server({answer(httpResponse(503, "Service Unavailable", "")),
                         answer(hosted_test::bedResponse(hosted_test::signedDoc({{"P", "x;y"}})))});
  const std::string base = "http://" + server.endpoint();
  use({base + "/one", base + "/two", base + "/three"});
  keeper();
  const std::string first = next();
  const std::string second = next();
  EXPECT_EQ((std::set<std::string>{"x", "y"}), (std::set<std::string>{first, second}));
  // A configuration from the network ends the walk: the third server is
  // never asked, and with nothing left the user's failure comes back.
  const hosted::HostedException failure(hosted::HostedException::Application, "CAPSNoCreds");
  EXPECT_EQ("error: CAPSNoCreds: Hosted Application error", next(&failure));
  server.wait();
  EXPECT_EQ(2, server.accepted());
}

TEST_F(HostedBootstrapInfoTest, AServerWithNothingNewEndsTheWalk) {
  ScriptedServer server({answer(hosted_test::bedResponse(hosted_test::signedDoc({{"P", "x"}})))});
  const std::string base = "http://" + server.endpoint();
  use({base + "/one", base + "/two"});
  cache(base + "/one/0", {{"P", "x"}});
  keeper();
  EXPECT_EQ("x", next());
  EXPECT_EQ("error: BTPNoBootstrap: Hosted Bootstrap error: No more Bootstrap servers", next());
  server.wait();
  EXPECT_EQ(1, server.accepted());
}

TEST_F(HostedBootstrapInfoTest, TheLastFetchFailureIsReported) {
  ScriptedServer server({answer(httpResponse(404, "Not Found", "")), answer(httpResponse(404, "Not Found", ""))});
  const std::string base = "http://" + server.endpoint();
  use({base + "/one", base + "/two"});
  keeper();
  EXPECT_EQ("error: HTTPNotFound: Hosted Bootstrap error: HTTP Not Found", next());
}

TEST_F(HostedBootstrapInfoTest, TheUserMayDeleteTheKeeperInEachCall) {
  ScriptedServer server({answer(hosted_test::bedResponse(hosted_test::signedDoc({{"P", "x"}}))),
                         answer(httpResponse(404, "Not Found", ""))});
  const std::string base = "http://" + server.endpoint();
  user_.deleteInCall = true;
  // A value from the network, then a fetch failure.
  use({base + "/one"});
  keeper();
  EXPECT_EQ("x", next());
  EXPECT_EQ(nullptr, user_.keeper);
  use({base + "/two"});
  keeper();
  EXPECT_EQ("error: HTTPNotFound: Hosted Bootstrap error: HTTP Not Found", next());
  EXPECT_EQ(nullptr, user_.keeper);
  // A value from the cache, then the error from the timer.
  use({"https://h1.example/b"});
  cache("https://h1.example/b/0", {{"P", "c"}});
  keeper();
  user_.deleteInCall = false;
  EXPECT_EQ("c", next());
  user_.deleteInCall = true;
  EXPECT_EQ("error: ConfigPkg: Hosted Configuration error: Invalid Bootstrap package", next());
  EXPECT_EQ(nullptr, user_.keeper);
}

}  // namespace
