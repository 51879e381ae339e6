#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "libs/hosted/HostedEndpoint.h"
#include "libs/hostedremoteaccess/CapsClient.h"
#include "testing/BootstrapFixture.h"

namespace {

using hostedremoteaccess::CapsClient;
using hostedremoteaccess::ConfigParams;

ConfigParams params(std::initializer_list<std::pair<const char*, const char*>> entries) {
  ConfigParams out;
  for (const auto& [name, value] : entries) out[plat::CharArray(name)] = plat::CharArray(value);
  return out;
}

// Records what it is told; may remove a listener (itself too) when told.
struct Listener : CapsClient::Listener {
  void onConfigParams(const ConfigParams& p) override {
    auto it = p.find("k");
    heard.push_back(it == p.end() ? "(none)" : it->second.c_str());
    if (removeOnCall) client->removeListener(removeOnCall);
  }
  CapsClient* client = nullptr;
  CapsClient::Listener* removeOnCall = nullptr;
  std::vector<std::string> heard;
};

// An endpoint whose initial configuration allows a back-off of 77 s.
plat::LinkedPtr<hosted::HostedEndpoint> makeEndpoint() {
  plat::LinkedPtr<hosted::BedMap> data = yarl_test::signedData("");
  data->setInt("btp/max-backoff-secs", 77);
  plat::Buffer package =
      yarl_test::vendorPackage({yarl_test::testPkiFile("root.pem")}, yarl_test::unsignedBootstrap(data));
  return plat::LinkedPtr<hosted::HostedEndpoint>(
      new hosted::HostedEndpoint(nullptr, package.count(), package.data(), nullptr, nullptr, nullptr, nullptr));
}

class CapsClientTest : public ::testing::Test {
 protected:
  CapsClient client_{makeEndpoint(), nullptr};
};

TEST_F(CapsClientTest, ServicesByIndexAndByName) {
  const char* names[] = {"enterprise/auth-uris", "enterprise/directory-uris", "enterprise/graphql-uris",
                         "enterprise/presence-uris"};
  for (int32_t i = 0; i < CapsClient::kServiceCount; ++i) {
    EXPECT_STREQ(CapsClient::serviceName(i), names[i]);
    EXPECT_EQ(CapsClient::serviceIndex(names[i]), i);
  }
  EXPECT_EQ(CapsClient::serviceIndex("Enterprise/GRAPHQL-uris"), 2);
  EXPECT_DEATH((void)CapsClient::serviceName(4), "Assertion 'key' failed");
  EXPECT_DEATH((void)CapsClient::serviceName(-1), "Assertion 'key' failed");
  EXPECT_DEATH((void)CapsClient::serviceIndex("enterprise/other-uris"), "Assertion 'i != -1' failed");
  EXPECT_DEATH((void)CapsClient::serviceIndex(nullptr), "Assertion 'i != -1' failed");
}

TEST_F(CapsClientTest, LearntUrlsStayUntilCleared) {
  EXPECT_EQ(client_.maxBackoffSecs(), 77);
  EXPECT_EQ(client_.serviceUrl(CapsClient::kAuth), nullptr);
  client_.recordServiceUrl(CapsClient::kAuth, "https://a.example/x", 12, params({{"k", "v"}}));
  EXPECT_STREQ(client_.serviceUrl(CapsClient::kAuth), "https://a.example/x");
  EXPECT_EQ(client_.serviceUrl(CapsClient::kDirectory), nullptr);
  EXPECT_EQ(client_.maxBackoffSecs(), 12);
  EXPECT_STREQ(client_.configParams().at(plat::CharArray("k")).c_str(), "v");
  client_.clearServiceUrl(CapsClient::kAuth);
  EXPECT_EQ(client_.serviceUrl(CapsClient::kAuth), nullptr);
  EXPECT_DEATH((void)client_.serviceUrl(7), "Assertion 'key' failed");
}

TEST_F(CapsClientTest, ListenersHearEveryRecordAndMayLeaveWhileTold) {
  Listener first, second;
  first.client = second.client = &client_;
  client_.addListener(&first);
  EXPECT_TRUE(first.heard.empty());  // nothing known yet
  client_.recordServiceUrl(CapsClient::kAuth, "https://a.example", 1, params({{"k", "1"}}));
  // Added once the parameters are known: told at once, and again when
  // added again.
  client_.addListener(&second);
  client_.addListener(&second);
  EXPECT_EQ(second.heard, (std::vector<std::string>{"1", "1"}));
  // A listener that removes the other (or itself) while told.
  first.removeOnCall = &second;
  client_.recordServiceUrl(CapsClient::kDirectory, "https://d.example", 1, params({{"k", "2"}}));
  const bool firstToldFirst = std::less<CapsClient::Listener*>()(&first, &second);
  EXPECT_EQ(second.heard.size(), firstToldFirst ? 2u : 3u);
  first.removeOnCall = &first;
  client_.recordServiceUrl(CapsClient::kDirectory, "https://d.example", 1, params({{"k", "3"}}));
  client_.recordServiceUrl(CapsClient::kDirectory, "https://d.example", 1, params({{"k", "4"}}));
  EXPECT_EQ(first.heard, (std::vector<std::string>{"1", "2", "3"}));
}

TEST_F(CapsClientTest, IntParamsAreWholeDecimal32BitNumbers) {
  struct Case {
    const char* value;
    bool ok;
    int32_t number;
  };
  // clang-format off
  const Case cases[] = {
      {"42", true, 42}, {"-7", true, -7}, {"2147483647", true, 2147483647}, {"2147483648", false, 0},
      {"", false, 0}, {" 4", false, 0}, {"+4", false, 0}, {"4x", false, 0}, {"0x10", false, 0}, {"4 ", false, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    int32_t value = -1;
    EXPECT_EQ(CapsClient::intParam(params({{"n", c.value}}), "n", &value), c.ok) << c.value;
    if (c.ok) {
      EXPECT_EQ(value, c.number) << c.value;
    }
  }
  int32_t value = -1;
  EXPECT_FALSE(CapsClient::intParam(params({{"n", "1"}}), "m", &value));
  EXPECT_EQ(value, -1);
}

}  // namespace
