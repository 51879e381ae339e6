#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "qocore/base/http/ProductUrl.h"
#include "qocore/base/os/AppDirs.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/ExecutablePath.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/qoutil/SystemPath.h"
#include "qocore/libs/product/Init.h"
#include "testing/FileFixtures.h"

namespace {

using yarl_test::TempDir;

// Product initialisation sets process-wide state once (the identity, the
// environment, the version updater, the configuration store): every
// scenario runs in its own forked child, over a program laid out in a
// temporary folder:
//   bin/prog         the executable (exe, a link, stands in for /proc/self/exe)
//   sys/             in place of "/" for the system folders
//   account/         the home folder the account database answers
std::string accountHome;
// The executable-path seam does not copy its link's path.
std::string exeLink;

plat::CharArray homeOfAccount(uid_t) { return plat::CharArray(accountHome.c_str()); }

void layOut(const TempDir& tmp) {
  std::filesystem::create_directories(tmp / "bin");
  std::filesystem::create_directories(tmp / "sys");
  if (!std::filesystem::exists(tmp / "bin/prog")) {
    tmp.write("bin/prog", "", 0755);
    std::filesystem::create_symlink(tmp / "bin/prog", tmp / "exe");
  }
}

// In the child: the seams point into the temporary folder.
void redirect(const TempDir& tmp) {
  exeLink = tmp / "exe";
  os::setExecutablePathSource(exeLink.c_str());
  qoutil::setSystemRoot((tmp / "sys").c_str());
  accountHome = tmp / "account";
  product::setHomeLookup(homeOfAccount);
  for (const char* name : {"YARL_PROFILE", "YARL_CONFIG_PROFILE", "YARL_PROFILE_DIR"}) (void)unsetenv(name);
}

std::string env(const char* name) {
  const char* value = getenv(name);
  return value ? value : "<unset>";
}

std::string valueAt(const char* name, int priority) {
  plat::CharArray text = plat::Configuration::global().getParamChecked(name).getValueStrAt(priority);
  return text ? text.get() : "<none>";
}

// "<path> <mode>" for a folder, "<path> missing" otherwise.
std::string folder(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return path + " missing";
  std::ostringstream out;
  out << path << " " << std::oct << (st.st_mode & 07777);
  return out.str();
}

std::string stdoutOf(const TempDir& tmp, void (*print)()) {
  std::string file = tmp / "stdout";
  fflush(stdout);
  int saved = dup(1);
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  dup2(fd, 1);
  ::close(fd);
  print();
  fflush(stdout);
  dup2(saved, 1);
  ::close(saved);
  return yarl_test::readFile(file);
}

#if defined(__x86_64__)
constexpr const char* kProcessor = "x64";
#elif defined(__aarch64__)
constexpr const char* kProcessor = "arm64";
#else
constexpr const char* kProcessor = "unknown";
#endif

TEST(ProductInitTest, IdentityAsRootTakesTheAccountsHome) {
  TempDir tmp;
  layOut(tmp);
  ASSERT_EQ(geteuid(), 0u) << "CI runs as root";
  std::string result = yarl_test::inChild([&] {
    redirect(tmp);
    setenv("HOME", "/home/someone-else", 1);
    product::initIdentity("/opt/prog", "app", nullptr);
    std::vector<plat::CharArray> dataDirs = os::getDataDirs();
    return env("HOME") + " " + os::getAppName() + " " + os::getCompany() + " " + os::getPathComponent() + " " +
           product::getSystemConfigDir() + " " + dataDirs.at(0).get();
  });
  std::string sys = tmp / "sys/etc/yarl";
  EXPECT_EQ(result, tmp / "account" + " app Corvane yarl " + sys + " " + sys);
  // The lookup made no folder.
  EXPECT_FALSE(std::filesystem::exists(tmp / "account"));
}

TEST(ProductInitTest, ApplicationNameFromArgv0) {
  TempDir tmp;
  layOut(tmp);
  const std::pair<const char*, const char*> cases[] = {
      {"setup.exe", "setup"}, {"/opt/x/Setup.EXE", "Setup"}, {"./tool", "tool"}, {"prog.exe.exe", "prog.exe"}};
  for (const auto& [argv0, expected] : cases) {
    EXPECT_EQ(yarl_test::inChild([&] {
                redirect(tmp);
                product::initIdentity(argv0, nullptr, nullptr);
                return std::string(os::getAppName());
              }),
              expected)
        << argv0;
  }
}

TEST(ProductInitTest, NoExecutablePathStopsInitialisation) {
  TempDir tmp;
  layOut(tmp);
  EXPECT_EQ(yarl_test::inChild([&] {
              redirect(tmp);
              exeLink = tmp / "no-such-link";
              os::setExecutablePathSource(exeLink.c_str());
              product::initIdentity("prog", nullptr, nullptr);
              return std::string("initialised");
            }),
            "threw: Error: could not find program executable");
}

TEST(ProductInitTest, ProfileFolders) {
  struct Case {
    const char* profile;        // YARL_PROFILE, null for unset
    const char* configProfile;  // YARL_CONFIG_PROFILE
    const char* profileDir;     // under the base folder
    const char* configDir;
  };
  const Case cases[] = {
      {nullptr, nullptr, "", "/config.d"},
      {"a/b", nullptr, "/profiles/a-b", "/profiles/a-b/config.d"},
      {"", nullptr, "", "/config.d"},
      {nullptr, "c", "", "/profiles/c/config.d"},
      {"p", "c", "/profiles/p", "/profiles/c/config.d"},
      {"p", "", "/profiles/p", "/profiles/p/config.d"},
  };
  for (const Case& c : cases) {
    TempDir tmp;
    layOut(tmp);
    std::filesystem::create_directories(tmp / "account");
    std::string result = yarl_test::inChild([&] {
      redirect(tmp);
      if (c.profile) setenv("YARL_PROFILE", c.profile, 1);
      if (c.configProfile) setenv("YARL_CONFIG_PROFILE", c.configProfile, 1);
      product::initIdentity("prog", "app", nullptr);
      product::initProfileDirs();
      return std::string(product::getProfileDir()) + "|" + product::getConfigDir() + "|" + product::getAppConfigFile() +
             "|" + os::getConfigBase() + "|" + env("YARL_PROFILE_DIR");
    });
    std::string base = tmp / "account/.yarl";
    std::string profile = base + c.profileDir, config = base + c.configDir;
    EXPECT_EQ(result, profile + "|" + config + "|" + config + "/app|" + config + "|" + profile)
        << (c.profile ? c.profile : "-") << " " << (c.configProfile ? c.configProfile : "-");
    for (const std::string& dir : {base, profile, config}) EXPECT_EQ(folder(dir), dir + " 700");
  }
}

TEST(ProductInitTest, VersionTexts) {
  TempDir tmp;
  layOut(tmp);
  std::string result = yarl_test::inChild([&] {
    redirect(tmp);
    product::setBuildTime("Dec  1 2026", "10:11:12");
    product::initIdentity("prog", "app", nullptr);
    product::initVersionInfo(nullptr);
    return std::string(product::getVersionLine()) + "|" + os::getProductVersion() + "|" +
           product::getDocumentationVersion() + "|" + product::getNoticesAddress();
  });
  EXPECT_EQ(result, std::string("app 0.1 ") + kProcessor +
                        " (Dec 1 2026 10:11:12)|0.1|0.1|https://www.corvane.example/legal/notices/yarl/0/");

  // A version set before initialisation stays; the updater's own
  // documentation version names the notices.
  result = yarl_test::inChild([&] {
    redirect(tmp);
    os::setProductVersion("2.5.1");
    product::initIdentity("prog", "app", nullptr);
    product::initVersionInfo("7");
    return std::string(os::getProductVersion()) + "|" + product::getDocumentationVersion() + "|" +
           product::getNoticesAddress();
  });
  EXPECT_EQ(result, "2.5.1|2.5.1|https://www.corvane.example/legal/notices/yarl/7/");
}

TEST(ProductInitTest, ProductInformationFollowsTheLanguage) {
  TempDir tmp;
  layOut(tmp);
  std::string result = yarl_test::inChild([&] {
    redirect(tmp);
    EXPECT_TRUE(plat::Configuration::global().setParam("Locale", "en_US", 10));
    product::initIdentity("prog", "app", nullptr);
    product::initVersionInfo(nullptr);
    std::string english = product::getProductInfo();
    std::string markup = product::getMarkedUpProductInfo();
    std::string printed = stdoutOf(tmp, product::printProductInfo);
    EXPECT_TRUE(plat::Configuration::global().setParam("Locale", "de_DE", 10));
    return english + "\x1f" + markup + "\x1f" + printed + "\x1f" + product::getProductInfo();
  });
  std::vector<std::string> parts;
  std::stringstream split(result);
  for (std::string part; std::getline(split, part, '\x1f');) parts.push_back(part);
  ASSERT_EQ(parts.size(), 4u) << result;
  const std::string& english = parts[0];
  EXPECT_EQ(english.find("app 0.1 "), 0u) << english;
  EXPECT_NE(english.find("Copyright (C) 2026 Corvane."), std::string::npos) << english;
  EXPECT_NE(english.find("Corvane(R) and yarl(TM) are trademarks"), std::string::npos) << english;
  EXPECT_NE(english.find("\nFor third party acknowledgements see:\nhttps://www.corvane.example/legal/notices/yarl/0/\n"
                         "OS: "),
            std::string::npos)
      << english;
  std::stringstream lines(english);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 79u) << line;
  EXPECT_EQ(parts[1].find("<div style=\"text-align:left\">Copyright \u00a9 2026 Corvane. All rights "
                          "reserved.</div><div style=\"text-align:left\">Corvane\u00ae"),
            0u)
      << parts[1];
  EXPECT_NE(parts[1].find("<a href=\"https://www.corvane.example/legal/notices/yarl/0/\">"), std::string::npos);
  EXPECT_EQ(parts[2], english + "\n\n");
  EXPECT_NE(parts[3].find("Weitere Informationen finden Sie unter"), std::string::npos) << parts[3];
}

TEST(ProductInitTest, LoggingDefaults) {
  TempDir tmp;
  layOut(tmp);
  // As root the log folder is the system's.
  std::string result = yarl_test::inChild([&] {
    redirect(tmp);
    product::initIdentity("prog", "app", nullptr);
    product::initLogging(nullptr, nullptr, nullptr, false);
    // The configuration as XML shows the new default.
    std::string xml = stdoutOf(tmp, product::printConfigXml);
    std::string shown = xml.find("<value data=\"app.log\" priority=\"0\"/>") != std::string::npos ? "shown" : xml;
    return valueAt("LogDir", 0) + "|" + valueAt("LogFile", 0) + "|" + valueAt("Log", 0) + "|" +
           valueAt("CompactLog", 0) + "|" + env("YARL_PROFILE_DIR") + "|" + shown;
  });
  EXPECT_EQ(result, tmp / "sys/Library/Logs" + "|app.log|*:stderr:10|0|" + tmp / "account/.yarl|shown");

  result = yarl_test::inChild([&] {
    redirect(tmp);
    setenv("YARL_PROFILE_DIR", "/kept", 1);
    product::initIdentity("prog", "app", nullptr);
    product::initLogging("*:file:100", "/logs", "given.log", true);
    return valueAt("LogDir", 0) + "|" + valueAt("LogFile", 0) + "|" + valueAt("Log", 0) + "|" +
           valueAt("CompactLog", 0) + "|" + env("YARL_PROFILE_DIR");
  });
  EXPECT_EQ(result, "/logs|given.log|*:file:100|1|/kept");
}

// The whole initialisation as an ordinary user in a temporary HOME, with
// a system configuration file and a system policy file.
TEST(ProductInitTest, FullInitialisationAsAnOrdinaryUser) {
  TempDir tmp;
  layOut(tmp);
  const yarl_test::User user = yarl_test::nobody();
  std::string home = tmp / "home";
  std::filesystem::create_directories(home);
  ASSERT_EQ(::chown(home.c_str(), user.uid, user.gid), 0);
  std::filesystem::create_directories(tmp / "sys/etc/yarl/config.d");
  std::filesystem::create_directories(tmp / "sys/etc/yarl/policy.d");
  tmp.write("sys/etc/yarl/config.d/setup", "LogFile=mine.log\nLogKeepDays=3\n");
  tmp.write("sys/etc/yarl/policy.d/common", "LogKeepDays=9\n");
  // Reachable for the user.
  ASSERT_EQ(::chmod(tmp.c_str(), 0755), 0);

  std::string result = yarl_test::inChild([&] {
    yarl_test::becomeUser(user);
    redirect(tmp);
    setenv("HOME", home.c_str(), 1);
    product::init("/opt/x/setup.exe", nullptr, nullptr, nullptr, {.logToFile = false, .loadConfig = true});
    return std::string(os::getAppName()) + "|" + env("HOME") + "|" + env("YARL_PROFILE_DIR") + "|" +
           valueAt("LogDir", 0) + "|" + valueAt("LogFile", 0) + "|" + valueAt("LogFile", 10) + "|" +
           valueAt("LogKeepDays", 10) + "|" + valueAt("LogKeepDays", 30) + "|" + valueAt("Log", 0) + "|" +
           os::getProductVersion() + "|" + os::getConfigDir(nullptr).get() + "|" +
           http::makeProductUrl("notices").get();
  });
  EXPECT_EQ(result, "setup|" + home + "|" + home + "/.yarl|$HOME/Library/Logs/yarl|setup.log|mine.log|3|9|" +
                        "*:stderr:10|0.1|" + home + "/.yarl/config.d/setup.d|https://www.corvane.example/notices");
  for (const std::string& dir : {home + "/.yarl", home + "/.yarl/config.d"}) {
    EXPECT_EQ(folder(dir), dir + " 700");
    struct stat st;
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, user.uid);
  }
  // Nothing was logged to a file.
  EXPECT_FALSE(std::filesystem::exists(home + "/Library"));
}

}  // namespace
