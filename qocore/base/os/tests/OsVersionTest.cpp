#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

#include "qocore/base/os/OsVersion.h"
#include "testing/FileFixtures.h"

namespace {

TEST(OsVersion, MacDescriptionNamesReleasesTenNineToFourteen) {
  struct Case {
    os::OsVersion version;
    const char* expected;
  };
  const Case cases[] = {
      {{10, 9, 0, false}, "Mac OS X Version 10.9.0 Mavericks"},
      {{10, 8, 5, false}, "Mac OS X Version 10.8.5"},
      {{10, 12, 6, true}, "Mac OS X Server Version 10.12.6 Sierra"},
      {{10, 13, 1, false}, "Mac OS X Version 10.13.1 High Sierra"},
      {{10, 14, 6, false}, "Mac OS X Version 10.14.6 Mojave"},
      {{10, 15, 0, false}, "Mac OS X Version 10.15.0"},
      {{11, 9, 0, false}, "Mac OS X Version 11.9.0"},
  };
  for (const Case& c : cases) EXPECT_STREQ(os::macOsVersionText(c.version).get(), c.expected);
}

TEST(OsVersion, VersionIdPartsDefaultToZero) {
  struct Case {
    const char* id;
    int32_t major, minor, patch;
  };
  const Case cases[] = {
      {"12", 12, 0, 0},     {"22.04", 22, 4, 0}, {"3.18.4", 3, 18, 4}, {"1.2.3.4", 1, 2, 3},
      {"rolling", 0, 0, 0}, {"2.x.7", 2, 0, 7},  {"", 0, 0, 0},        {nullptr, 0, 0, 0},
  };
  for (const Case& c : cases) {
    os::OsVersion v = os::parseVersionId(c.id);
    EXPECT_EQ(v.major, c.major) << (c.id ? c.id : "null");
    EXPECT_EQ(v.minor, c.minor) << (c.id ? c.id : "null");
    EXPECT_EQ(v.patch, c.patch) << (c.id ? c.id : "null");
    EXPECT_FALSE(v.server);
  }
}

TEST(OsVersion, OsReleaseValuesFollowShellQuoting) {
  const char* text =
      "NAME=\"Testix GNU/Linux\"\n"
      "VERSION_ID='12'\n"
      "PRETTY_NAME=\"Testix \\\"GNU\\\" 12 (tester)\"\n"
      "ID=testix\n"
      "  HOME_URL=plain\\ text\n";
  EXPECT_STREQ(os::osReleaseValue(text, "NAME").get(), "Testix GNU/Linux");
  EXPECT_STREQ(os::osReleaseValue(text, "VERSION_ID").get(), "12");
  EXPECT_STREQ(os::osReleaseValue(text, "PRETTY_NAME").get(), "Testix \"GNU\" 12 (tester)");
  EXPECT_STREQ(os::osReleaseValue(text, "ID").get(), "testix");
  EXPECT_STREQ(os::osReleaseValue(text, "HOME_URL").get(), "plain text");
  EXPECT_TRUE(os::osReleaseValue(text, "VERSION").isNull());
  EXPECT_TRUE(os::osReleaseValue(text, "NAM").isNull());
}

int fakeUname(struct utsname* u) {
  memset(u, 0, sizeof *u);
  strcpy(u->sysname, "Linux");
  strcpy(u->release, "6.1.0-test");
  // 40 bytes: longer than the 31 the caller's buffer keeps, and with a
  // two-byte character across the cut.
  strcpy(u->machine, "x86_64-abcdefghijklmnopqrstuvw\xc3\xa9xyz");
  return 0;
}
int failingUname(struct utsname*) {
  errno = EFAULT;
  return -1;
}

class OsReleaseFiles : public testing::Test {
 protected:
  void TearDown() override {
    os::setOsReleasePaths(nullptr, nullptr);
    os::setUnameFn(nullptr);
  }
  std::string write(const char* name, const char* text) {
    std::string path = dir_.path() + "/" + name;
    std::ofstream(path) << text;
    return path;
  }
  yarl_test::TempDir dir_;
};

TEST_F(OsReleaseFiles, ReadsThePrimaryElseTheFallback) {
  std::string etc = write("etc-os-release", "VERSION_ID=\"22.04\"\nPRETTY_NAME=\"Testix 22.04.3 LTS\"\n");
  std::string lib = write("lib-os-release", "VERSION_ID=3.18.4\nNAME=Sampledistro\n");
  std::string missing = dir_.path() + "/missing";
  os::setUnameFn(fakeUname);
  plat::CharArray desc;

  os::setOsReleasePaths(etc.c_str(), lib.c_str());
  os::OsVersion v = os::readOsVersion();
  EXPECT_EQ((std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch)), "22.4.0");
  os::osVersionString(desc);
  EXPECT_STREQ(desc.get(), "Testix 22.04.3 LTS (Linux 6.1.0-test)");

  os::setOsReleasePaths(missing.c_str(), lib.c_str());
  v = os::readOsVersion();
  EXPECT_EQ(v.major, 3);
  EXPECT_EQ(v.patch, 4);
  os::osVersionString(desc);
  EXPECT_STREQ(desc.get(), "Sampledistro (Linux 6.1.0-test)");

  os::setOsReleasePaths(missing.c_str(), nullptr);
  v = os::readOsVersion();
  EXPECT_EQ(v.major, 0);
  os::setUnameFn(failingUname);
  os::osVersionString(desc);
  EXPECT_STREQ(desc.get(), "Linux");
}

TEST_F(OsReleaseFiles, MachineNameIsCutAtAWholeCharacterAndFailureGivesTheErrorText) {
  char out[32];
  os::setUnameFn(fakeUname);
  os::machineArchitecture(out);
  EXPECT_STREQ(out, "x86_64-abcdefghijklmnopqrstuvw");  // 30 bytes: the é would pass 31
  os::setUnameFn(failingUname);
  os::machineArchitecture(out);
  plat::SystemException expected("uname", EFAULT);
  EXPECT_EQ(std::string(out), std::string(expected.str()).substr(0, strlen(out)));
  EXPECT_EQ(strncmp(out, "uname", 5), 0);
  os::setUnameFn(nullptr);
  os::machineArchitecture(out);
  struct utsname u;
  ASSERT_EQ(uname(&u), 0);
  EXPECT_STREQ(out, u.machine);
}

TEST(OsVersion, ProcessRecordIsReadOnce) {
  const os::OsVersion& first = os::osVersionInfo();
  EXPECT_EQ(&first, &os::osVersionInfo());
  EXPECT_FALSE(first.server);
}

}  // namespace
