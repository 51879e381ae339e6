// Bootstrap server discovery: the bookkeeping of bootstrap and discovery
// URIs, the blacklisting rule, and the driver over plain HTTP.

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "libs/hosted/BootstrapCache.h"
#include "libs/hosted/HostedBootstrap.h"
#include "libs/hosted/VendorConfig.h"
#include "libs/hosted/tests/HostedTestSupport.h"
#include "qocore/base/http/HttpError.h"
#include "qocore/base/io/ProxyError.h"
#include "qocore/base/plat/Time.h"

namespace {

using hosted_test::answer;
using hosted_test::httpResponse;
using hosted_test::ScriptedServer;

constexpr int kPriority = 1000;

// A configuration with bootstrap URIs A and B and the count given.
std::unique_ptr<hosted::BootstrapConfig> config(const std::vector<std::string>& uris, int count,
                                                const char* discovery = "https://127.0.0.1:8443/discovery") {
  plat::LinkedPtr<hosted::BedMap> data = hosted_test::bootstrapData({}, uris, count);
  data->setString("btp/initial-discovery-uri", discovery);
  plat::Buffer body = yarl_test::unsignedBootstrap(data);
  return std::make_unique<hosted::BootstrapConfig>(body.count(), body.data(), nullptr, nullptr, false);
}

std::set<std::string> uris(const hosted::BootstrapProgress& p) {
  std::set<std::string> out;
  for (const auto& e : p.bootstrapToTry()) out.insert(e.uri.c_str());
  return out;
}

const char* kA = "https://a.example/b";
const char* kB = "https://b.example/b";

TEST(BootstrapProgressTest, AFailedServerIsBlacklistedAndASuccessDropsItsIndex) {
  hosted::BootstrapProgress progress("endpoint");
  progress.update(*config({kA, kB}, 2));
  EXPECT_EQ((std::set<std::string>{"https://a.example/b/0", "https://a.example/b/1", "https://b.example/b/0",
                                   "https://b.example/b/1"}),
            uris(progress));
  ASSERT_EQ(1u, progress.discoveryToTry().size());

  // A/1 preferred: taken first though it may not be last.
  progress.nextBootstrap("https://a.example/b/1");
  EXPECT_STREQ("https://a.example/b/1", progress.currentBootstrap());
  EXPECT_EQ(1, progress.currentIndex());
  progress.blacklist();
  EXPECT_EQ((std::set<std::string>{"https://b.example/b/0", "https://b.example/b/1"}), uris(progress));

  hosted::BootstrapProgress other("endpoint");
  other.update(*config({kA, kB}, 2));
  other.nextBootstrap("https://b.example/b/1");
  other.succeeded();
  EXPECT_EQ((std::set<std::string>{"https://a.example/b/0", "https://b.example/b/0"}), uris(other));
  // A tried URI is not added again; a known one moves to the end with the
  // new generation.
  EXPECT_FALSE(other.addBootstrap("https://b.example/b/1", 1, 9));
  EXPECT_FALSE(other.addBootstrap("https://a.example/b/0", 0, 9));
  EXPECT_EQ("https://a.example/b/0", std::string(other.bootstrapToTry().back().uri.c_str()));
  EXPECT_EQ(9u, other.bootstrapToTry().back().generation);
  EXPECT_TRUE(other.addBootstrap("https://c.example/b/0", 0, 9));
}

TEST(BootstrapProgressTest, AServerIsItsUriUpToTheLastSlash) {
  hosted::BootstrapProgress progress(nullptr);
  progress.update(*config({"https://h.example/b", "https://h.example/b2"}, 2));
  progress.nextBootstrap("https://h.example/b/0");
  progress.blacklist();
  EXPECT_EQ((std::set<std::string>{"https://h.example/b2/0", "https://h.example/b2/1"}), uris(progress));
}

TEST(BootstrapProgressTest, TheOrderFollowsTheEndpointName) {
  auto order = [](const char* name) {
    hosted::BootstrapProgress p(name);
    p.update(*config({kA, kB, "https://c.example/b", "https://d.example/b"}, 3));
    std::vector<std::string> out;
    for (const auto& e : p.bootstrapToTry()) out.emplace_back(e.uri.c_str());
    return out;
  };
  EXPECT_EQ(order("one"), order("one"));
  EXPECT_NE(order("one"), order("two"));
  EXPECT_EQ(order(nullptr), order(""));
}

TEST(BootstrapProgressTest, ADiscoveryOverrideReplacesEveryConfigurationsUris) {
  ASSERT_TRUE(hosted::hostedDiscoveryOverride.setParam("https://override.example/d", kPriority));
  hosted::BootstrapProgress progress("endpoint");
  progress.update(*config({kA, kB}, 2));
  hosted::hostedDiscoveryOverride.unsetParam(kPriority);
  EXPECT_TRUE(progress.bootstrapToTry().empty());
  ASSERT_EQ(1u, progress.discoveryToTry().size());
  EXPECT_STREQ("https://override.example/d", progress.nextDiscovery());
  EXPECT_EQ(60u, progress.maxBackoffSecs());
}

TEST(HostedBootstrapStaticTest, NetworkFailuresAnd500sBlacklistUnlessTheProxyFailedItself) {
  struct Case {
    const char* name;
    hosted::HostedException error;
    bool blacklist;
  };
  auto viaProxy = [](io::ProxyError::Reason r) {
    return hosted::HostedBootstrapException(io::ProxyError(r, "proxy.example:3128"));
  };
  const Case cases[] = {
      {"network", hosted::HostedBootstrapException(plat::Exception("connection refused")), true},
      {"connect failed", viaProxy(io::ProxyError::ConnectFailed), true},
      {"connect denied", viaProxy(io::ProxyError::ConnectDenied), true},
      {"proxy auth", viaProxy(io::ProxyError::AuthenticationFailed), false},
      {"500", hosted::HostedBootstrapException(http::HttpError(500)), true},
      {"404", hosted::HostedBootstrapException(http::HttpError(404)), false},
      {"bad document", hosted::HostedException(hosted::HostedException::Bootstrap, "BED"), false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.blacklist, hosted::HostedBootstrap::shouldBlacklist(c.error)) << c.name;
}

// The owner: records what it is told and may delete the driver inside.
struct Owner : hosted::HostedBootstrapCallback {
  void onDiscoveryUri(const char* uri) override {
    told.push_back(uri);
    if (deleteInCall) driver.reset();
  }
  void onBootstrapFailure(const hosted::HostedException& e) override {
    told.push_back(std::string("error: ") + e.reason() + ": " + e.str());
    if (deleteInCall) driver.reset();
  }
  std::unique_ptr<hosted::HostedBootstrap> driver;
  std::vector<std::string> told;
  bool deleteInCall = false;
};

class HostedBootstrapTest : public hosted_test::LoopTest {
 protected:
  void TearDown() override {
    owner_.driver.reset();
    client_.reset();
    hosted::hostedBootstrapMaxAttempts.unsetParam(kPriority);
    LoopTest::TearDown();
  }
  void use(const std::vector<std::string>& bootstrapUris, int count = 1) {
    endpoint_ = hosted_test::makeEndpoint(bootstrapUris, {.name = "endpoint", .configCount = count});
    client_ = hosted_test::plainClient(endpoint_);
    owner_.driver = std::make_unique<hosted::HostedBootstrap>(*endpoint_, *client_, &owner_);
  }
  std::string step(bool start = false) {
    const size_t before = owner_.told.size();
    if (start) {
      owner_.driver->start();
    } else {
      owner_.driver->resume();
    }
    EXPECT_TRUE(runUntil([&] { return owner_.told.size() > before; }));
    return owner_.told.size() > before ? owner_.told.back() : "<nothing>";
  }

  plat::LinkedPtr<hosted::HostedEndpoint> endpoint_;
  std::unique_ptr<hosted::HostedClient> client_;
  Owner owner_;
};

TEST_F(HostedBootstrapTest, DiscoveryUrisOfTheFirstServerThatAnswers) {
  // The initial configuration's discovery URI comes first.
  plat::LinkedPtr<hosted::BedMap> served = hosted_test::bootstrapData({}, {"https://127.0.0.1/x"});
  served->setString("btp/initial-discovery-uri", "https://127.0.0.1:9/served");
  ScriptedServer server({answer(httpResponse(503, "Service Unavailable", "")),
                         answer(hosted_test::bedResponse(yarl_test::signedDocument(served)))});
  const std::string base = "http://" + server.endpoint();
  use({base + "/one", base + "/two"});
  EXPECT_EQ("https://127.0.0.1:8443/discovery", step(true));
  EXPECT_EQ("https://127.0.0.1:9/served", step());
  EXPECT_EQ(60u, owner_.driver->maxBackoffSecs());
  server.wait();
  EXPECT_EQ(2, server.accepted());
  // Signed, so cached under the URL it came from.
  EXPECT_EQ(0, std::string(endpoint_->bootstrapCache()->sourceUrl()).find(base));
}

TEST_F(HostedBootstrapTest, AFreshCachedServerIsAskedFirstAndAnswersFromTheCache) {
  const std::string base = "http://127.0.0.1:1";
  use({base + "/one", base + "/two", base + "/three"});
  plat::LinkedPtr<hosted::BedMap> data = hosted_test::bootstrapData({}, {"https://127.0.0.1/x"});
  data->setString("btp/initial-discovery-uri", "https://127.0.0.1:9/cached");
  plat::Buffer body = yarl_test::signedDocument(data);
  plat::LinkedPtr<hosted::BootstrapConfig> config(new hosted::BootstrapConfig(
      body.count(), body.data(), endpoint_->vendorConfig()->trustManager(), yarl_test::kBootstrapUrl, true));
  const plat::TimeValue later = plat::getTime() + 3600 * plat::kTicksPerSecond;
  endpoint_->bootstrapCache()->update(config, body, (base + "/two/0").c_str(), later, later);
  step(true);
  // Nothing listens on port 1: only the cache can answer.
  EXPECT_EQ("https://127.0.0.1:9/cached", step());
  EXPECT_STREQ("http://127.0.0.1:1/two/0", owner_.driver->progress().currentBootstrap());
}

TEST_F(HostedBootstrapTest, TheWalkEndsAtTheLimitOrWithTheLastServer) {
  ScriptedServer server({answer(httpResponse(404, "Not Found", "")), answer(httpResponse(404, "Not Found", "")),
                         answer(httpResponse(404, "Not Found", ""))});
  const std::string base = "http://" + server.endpoint();
  ASSERT_TRUE(hosted::hostedBootstrapMaxAttempts.setParam("1", kPriority));
  use({base + "/one", base + "/two"});
  step(true);
  EXPECT_EQ("error: BTPBootstrapLimit: Hosted Bootstrap error: Gave up after too many attempts", step(true));
  hosted::hostedBootstrapMaxAttempts.unsetParam(kPriority);

  use({base + "/one", base + "/two"});
  step(true);
  EXPECT_EQ("error: HTTPNotFound: Hosted Bootstrap error: HTTP Not Found", step());
}

TEST_F(HostedBootstrapTest, TheOwnerMayDeleteTheDriverInEachCall) {
  ScriptedServer server({answer(httpResponse(500, "Internal Server Error", ""))});
  const std::string base = "http://" + server.endpoint();
  owner_.deleteInCall = true;
  use({base + "/one"});
  EXPECT_EQ("https://127.0.0.1:8443/discovery", step(true));
  EXPECT_EQ(nullptr, owner_.driver);
  use({base + "/one"});
  owner_.deleteInCall = false;
  step(true);
  owner_.deleteInCall = true;
  EXPECT_EQ("error: HTTPInternalServerError: Hosted Bootstrap error: HTTP Internal Server Error", step());
  EXPECT_EQ(nullptr, owner_.driver);
}

}  // namespace
