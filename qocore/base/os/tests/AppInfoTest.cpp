#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include "qocore/base/os/AppInfo.h"

namespace {

const char* shout(const char* key) { return strcmp(key, "title.key") == 0 ? "Translated Title" : key; }

class AppInfoTest : public testing::Test {
 protected:
  void SetUp() override { previous_ = os::setTitleTranslator(shout); }
  void TearDown() override { os::setTitleTranslator(previous_); }
  os::TranslateFn previous_ = nullptr;
};

TEST_F(AppInfoTest, TitleChoiceFollowsKeyThenPlainTitleThenName) {
  struct Case {
    const char* key;
    const char* title;
    const char* expected;
  };
  const Case cases[] = {
      {"title.key", "Plain Title", "Translated Title"},
      {nullptr, "Plain Title", "Plain Title"},
      {nullptr, nullptr, "wizard"},
  };
  for (const Case& c : cases) {
    os::init("wizard", "Corvane", "yarl", c.key, c.title);
    EXPECT_STREQ(os::getAppTitle(), c.expected);
    EXPECT_STREQ(os::getDisplayName(), c.expected);
  }
  EXPECT_STREQ(os::getAppName(), "wizard");
  EXPECT_STREQ(os::getCompany(), "Corvane");
  EXPECT_STREQ(os::getPathComponent(), "yarl");
  EXPECT_TRUE(os::isIdentitySet());
}

TEST_F(AppInfoTest, SetAppTitleForgetsTheTitleKey) {
  os::init("wizard", "Corvane", "yarl", "title.key", nullptr);
  os::setAppTitle("Other Title");
  EXPECT_STREQ(os::getAppTitle(), "Other Title");
  os::setAppTitle(nullptr);
  EXPECT_STREQ(os::getAppTitle(), "wizard");
}

TEST_F(AppInfoTest, DisplayNameDropsEveryRegisteredMark) {
  struct Case {
    const char* title;
    const char* expected;
  };
  const Case cases[] = {
      {"Yarl\xc2\xae Connect", "Yarl Connect"},
      {"\xc2\xae"
       "A\xc2\xae\xc2\xae"
       "B\xc2\xae",
       "AB"},
      {"No mark \xc2\xa9", "No mark \xc2\xa9"},
  };
  for (const Case& c : cases) {
    os::init("wizard", "Corvane", "yarl", nullptr, c.title);
    EXPECT_STREQ(os::getDisplayName(), c.expected);
    EXPECT_STREQ(os::getAppTitle(), c.title);
  }
}

TEST_F(AppInfoTest, NullCompanyAndPathClearThem) {
  os::init("helper", nullptr, nullptr, nullptr, nullptr);
  EXPECT_TRUE(os::isAppNameSet());
  EXPECT_FALSE(os::isIdentitySet());
  EXPECT_STREQ(os::getCompany(true), "");
  EXPECT_STREQ(os::getPathComponent(true), "");
  EXPECT_EXIT(os::getCompany(), testing::KilledBySignal(SIGABRT),
              "Assertion 'emptyIfUnset \\|\\| company' failed at qocore/base/os/AppInfo.cpp");
  EXPECT_EXIT(os::getPathComponent(), testing::KilledBySignal(SIGABRT),
              "Assertion 'emptyIfUnset \\|\\| pathComp' failed");
  EXPECT_EXIT(os::setAppName(nullptr), testing::KilledBySignal(SIGABRT), "Assertion 'name' failed");
  EXPECT_EXIT(os::setGroup(nullptr), testing::KilledBySignal(SIGABRT), "Assertion 'g' failed");
}

TEST_F(AppInfoTest, GroupIsSetAndRead) {
  os::setGroup("staff");
  EXPECT_STREQ(os::getGroup(), "staff");
  os::setGroup("admin");
  EXPECT_STREQ(os::getGroup(), "admin");
}

TEST_F(AppInfoTest, ProductVersionIsEmptyUntilSetAndNullClearsIt) {
  os::setProductVersion(nullptr);
  EXPECT_STREQ(os::getProductVersion(), "");
  os::setProductVersion("7.1.0 d123");
  EXPECT_STREQ(os::getProductVersion(), "7.1.0 d123");
  os::setProductVersion(nullptr);
  EXPECT_STREQ(os::getProductVersion(), "");
}

TEST_F(AppInfoTest, BuildVersionIsTheProductVersionUntilSet) {
  os::setProductVersion("2.4.0 (r2)");
  os::setBuildVersion(nullptr);
  EXPECT_STREQ(os::getBuildVersion(), "2.4.0 (r2)");
  os::setBuildVersion("2.4.0.2");
  EXPECT_STREQ(os::getBuildVersion(), "2.4.0.2");
  EXPECT_STREQ(os::getProductVersion(), "2.4.0 (r2)");
  os::setBuildVersion(nullptr);
  os::setProductVersion(nullptr);
  EXPECT_STREQ(os::getBuildVersion(), "");
}

// A fresh process, where nothing was ever set (the threadsafe style
// re-runs this test alone).
TEST(AppInfoUnset, ReadingUnsetStringsAsserts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(os::getAppName(), testing::KilledBySignal(SIGABRT), "Assertion 'emptyIfUnset \\|\\| app' failed");
  EXPECT_EXIT(os::getAppTitle(), testing::KilledBySignal(SIGABRT), "Assertion 'emptyIfUnset \\|\\| app' failed");
  EXPECT_EXIT(os::getGroup(), testing::KilledBySignal(SIGABRT), "Assertion 'emptyIfUnset \\|\\| group' failed");
  EXPECT_EXIT(
      {
        bool ok = !os::isAppNameSet() && *os::getAppName(true) == '\0' && *os::getDisplayName(true) == '\0';
        _exit(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
