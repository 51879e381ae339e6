#include <gtest/gtest.h>

#include <string>

#include "qocore/base/http/ProductUrl.h"
#include "qocore/base/http/UserAgent.h"
#include "qocore/base/loc/LocaleSetter.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/OsVersion.h"

namespace {

std::string expectedPlatform() {
  const os::OsVersion& v = os::osVersionInfo();
  std::string text = "Macintosh";
#if defined(__x86_64__) || defined(__i386__)
  text += "; Intel";
#endif
  return text + " Mac OS X " + std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch);
}

class UserAgentTest : public testing::Test {
 protected:
  void SetUp() override {
    wasSet_ = os::isAppNameSet();
    if (wasSet_) previousName_ = os::getAppName();
    os::setAppName("Setup");
  }
  void TearDown() override {
    os::setProductVersion(nullptr);
    if (wasSet_) os::setAppName(previousName_.c_str());
  }
  bool wasSet_ = false;
  std::string previousName_;
};

TEST_F(UserAgentTest, ProductVersionAndPlatform) {
  EXPECT_EQ(expectedPlatform(), http::platformText().c_str());
  struct Case {
    const char* version;
    const char* token;
  };
  const Case cases[] = {
      {nullptr, "Setup"},       {"", "Setup"}, {"7.2.1 (r1234)", "Setup/7.2.1"}, {"7.2.1d3", "Setup/7.2.1"},
      {"7.2.1", "Setup/7.2.1"},
  };
  for (const Case& c : cases) {
    os::setProductVersion(c.version);
    const std::string agent = http::userAgent().c_str();
    EXPECT_EQ(0u, agent.find(std::string(c.token) + " (" + expectedPlatform() + "; ")) << agent;
    EXPECT_EQ(')', agent.back());
  }
}

TEST_F(UserAgentTest, LocaleNameAndItsLimit) {
  {
    loc::LocaleSetter german("de_DE");
    EXPECT_EQ("de_DE", std::string(http::userAgentLocale(http::userAgent().c_str()).c_str()));
  }
  const std::string tooLong(65, 'x');
  loc::LocaleSetter strange(tooLong.c_str());
  const std::string agent = http::userAgent().c_str();
  EXPECT_NE(std::string::npos, agent.find("; en_US)")) << agent;
}

TEST_F(UserAgentTest, Readers) {
  const char* agent = "Setup/7.2.1 (Macintosh; Intel Mac OS X 14.1.0; fr_CA)";
  const http::UserAgentParts parts = http::UserAgentParts::parse(agent);
  EXPECT_STREQ("Setup", parts.product.c_str());
  EXPECT_STREQ("7.2.1", parts.version.c_str());
  EXPECT_STREQ("Macintosh", parts.platform.c_str());
  EXPECT_STREQ("fr_CA", http::userAgentLocale(agent).c_str());
  EXPECT_STREQ("Setup", http::userAgentProduct(agent).c_str());
  EXPECT_STREQ("Setup/7.2.1", http::userAgentProductVersion(agent).c_str());
  EXPECT_TRUE(http::userAgentProduct("NoSlash").isNull());
  EXPECT_TRUE(http::userAgentProductVersion(" (x)").isNull());
  EXPECT_TRUE(http::userAgentProductVersion("none").isNull());
  EXPECT_TRUE(http::userAgentLocale("Setup/1 (Macintosh)").isNull());
}

TEST(ProductUrlTest, LinksAndQueries) {
  EXPECT_STREQ("/legal/#eulas", http::makeProductUrl("/legal/#eulas").c_str());
  ASSERT_TRUE(http::productUri.setParam("https://www.example.com", 10));
  EXPECT_STREQ("https://www.example.com/legal/#privacy", http::makeProductUrl("/legal/#privacy").c_str());
  EXPECT_STREQ("https://www.example.com/page/3", http::makeProductUrlF("/page/%d", 3).c_str());
  http::productUri.unsetParam(10);

  http::UrlBuilder signIn("https://example.com/signin", true);
  signIn.addQueryParameter("skipped", nullptr);
  signIn.addQueryParameter("state", "a b&c");
  signIn.addQueryParameter("version", "7.2");
  EXPECT_STREQ("https://example.com/signin?state=a%20b%26c&version=7.2", signIn.c_str());

  http::UrlBuilder form("", false);
  form.addQueryParameter("a", "1");
  form.addQueryParameter("b", "\xc3\xa9");
  EXPECT_STREQ("a=1&b=%C3%A9", form.c_str());
}

}  // namespace
