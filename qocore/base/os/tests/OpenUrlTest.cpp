#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/launchsvc/LaunchServices.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/OSStatusException.h"
#include "qocore/base/os/mac/OpenUrl.h"
#include "qocore/base/plat/Markup.h"
#include "testing/DesktopFixtures.h"
#include "testing/LogCapture.h"

namespace {

using yarl_test::LogRecord;

class OsOpenUrlTest : public testing::Test {
 protected:
  OsOpenUrlTest() { launchsvc::setOpener(opener_.path()); }
  ~OsOpenUrlTest() override { launchsvc::setOpener(nullptr); }
  yarl_test::RecordingOpener opener_;
  yarl_test::LogCapture log_{"openUrl:capture:100"};
};

TEST_F(OsOpenUrlTest, RefusedTextsGiveFalseAndTheirLine) {
  EXPECT_FALSE(os::openUrl(nullptr));
  EXPECT_FALSE(os::openUrl("-rf"));
  EXPECT_FALSE(os::openUrl("not a url"));
  EXPECT_EQ(log_.from("openUrl"), (std::vector<LogRecord>{{"openUrl", 100, "Failed to open url: (null)"},
                                                          {"openUrl", 100, "Failed to open url: -rf"},
                                                          {"openUrl", 100, "Failed to open url: not a url"}}));
  EXPECT_FALSE(opener_.ran());
}

TEST_F(OsOpenUrlTest, UrlGoesToTheOpener) {
  EXPECT_TRUE(os::openUrl("https://example.com/sign-in?x=1"));
  EXPECT_EQ(opener_.wait(), "1\nhttps://example.com/sign-in?x=1\n");
  EXPECT_EQ(log_.from("openUrl"),
            (std::vector<LogRecord>{{"openUrl", 100, "Opened url: https://example.com/sign-in?x=1"}}));
}

TEST_F(OsOpenUrlTest, MissingOpenerGivesFalse) {
  launchsvc::setOpener("/nonexistent/yarl-opener");
  EXPECT_FALSE(os::openUrl("https://example.com/"));
  EXPECT_EQ(log_.from("openUrl"),
            (std::vector<LogRecord>{{"openUrl", 100, "Failed to open url: https://example.com/"}}));
}

TEST_F(OsOpenUrlTest, MarkupLinkOpensInTheDefaultApplication) {
  plat::LinkCbOpenUrl callback;
  plat::Markup::LinkCallback& link = callback;
  link.openLink("http://h/doc");
  EXPECT_EQ(opener_.wait(), "1\nhttp://h/doc\n");
}

class RegistrationTest : public testing::Test {
 protected:
  RegistrationTest() { os::setAppName("Yarl"); }
  // How often the scheme's default was cleared.
  size_t clears() {
    size_t n = 0;
    for (const LogRecord& r : log_.from("LaunchServices")) n += r.text == "Default handler of yarl.cb cleared";
    return n;
  }
  std::string defaults() { return yarl_test::readFile(home_.mimeappsList()); }

  yarl_test::XdgHome home_;
  yarl_test::LogCapture log_{"LaunchServices:capture:100"};
  const std::string registered_ = "[Default Applications]\nx-scheme-handler/yarl.cb=Yarl-yarl.cb.desktop\n";
  const std::string cleared_ = "[Default Applications]\n";
};

TEST_F(RegistrationTest, WithoutTheFlagTheRegistrationOutlivesTheObject) {
  { os::UrlSchemeRegistration registration("yarl.cb", 0); }
  EXPECT_EQ(defaults(), registered_);
  EXPECT_EQ(clears(), 0u);
}

TEST_F(RegistrationTest, WithTheFlagDestructionClearsOnce) {
  {
    os::UrlSchemeRegistration registration("yarl.cb", 1);
    EXPECT_EQ(defaults(), registered_);
  }
  EXPECT_EQ(defaults(), cleared_);
  EXPECT_EQ(clears(), 1u);
}

TEST_F(RegistrationTest, ExplicitClearThenDestructionClearsTwice) {
  {
    os::UrlSchemeRegistration registration("yarl.cb", 1);
    registration.clear();
    EXPECT_EQ(defaults(), cleared_);
  }
  EXPECT_EQ(clears(), 2u);
  {
    os::UrlSchemeRegistration registration("yarl.cb", 0);
    registration.clear();
  }
  EXPECT_EQ(clears(), 3u);
}

TEST_F(RegistrationTest, RefusalThrowsTheStatus) {
  struct Case {
    const char* scheme;
    const char* message;
    int32_t status;
  };
  // A configuration folder below a plain file cannot be made.
  yarl_test::XdgHome::set("XDG_CONFIG_HOME", home_.dir().write("file", "") + "/config");
  const std::vector<Case> cases = {
      {"Yarl-CB", "LSSetDefaultHandlerForURLScheme: Error in user parameter list [paramErr] (-50)", -50},
      {"yarl.cb", "LSSetDefaultHandlerForURLScheme: Unexpected internal error [kLSUnknownErr] (-10810)", -10810},
  };
  for (const Case& c : cases) {
    try {
      os::UrlSchemeRegistration registration(c.scheme, 1);
      ADD_FAILURE() << c.scheme << " registered";
    } catch (const os::OSStatusException& e) {
      EXPECT_STREQ(e.str(), c.message);
      EXPECT_STREQ(e.typeName(), "OSStatus");
      EXPECT_EQ(e.status(), c.status);
    }
  }
  EXPECT_EQ(clears(), 0u);
}

}  // namespace
