#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/launchsvc/LaunchServices.h"
#include "qocore/base/os/ExecutablePath.h"
#include "qocore/base/os/LaunchConfig.h"
#include "qocore/base/os/unix/LaunchProcess.h"
#include "testing/DesktopFixtures.h"
#include "testing/LogCapture.h"

namespace {

using testing::HasSubstr;

TEST(UrlTextTest, OnlyAbsoluteUrlsAreOpened) {
  struct Case {
    const char* text;
    bool absolute;
  };
  const std::vector<Case> cases = {
      {"http://example.com/a?b=c&d=%2F#frag", true},
      {"x-yarl.cb+1:callback?code=abc", true},
      {"mailto:someone@example.com", true},
      {"file:///tmp/a%20b", true},
      {"-rf", false},
      {"--help", false},
      {"-x:y", false},
      {"1http://a", false},
      {"noscheme", false},
      {":/path", false},
      {"http://a b", false},
      {"http://a\tb", false},
      {"http://a\nb", false},
      {"http://a\"b", false},
      {"http://a<b>", false},
      {"http://a%2", false},
      {"http://a%zz", false},
      {"http://\xc3\xa9", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(launchsvc::isAbsoluteUrl(c.text), c.absolute) << c.text;
  EXPECT_FALSE(launchsvc::isAbsoluteUrl(nullptr));
}

class OpenUrlTest : public testing::Test {
 protected:
  ~OpenUrlTest() override { launchsvc::setOpener(nullptr); }
  yarl_test::RecordingOpener opener_;
};

TEST_F(OpenUrlTest, OpenerReceivesTheUrlAsItsOneArgument) {
  launchsvc::setOpener(opener_.path());
  EXPECT_EQ(launchsvc::openUrl("http://h/?a=1&b=$(x)'"), launchsvc::kNoErr);
  EXPECT_EQ(opener_.wait(), "1\nhttp://h/?a=1&b=$(x)'\n");
}

TEST_F(OpenUrlTest, TextsThatAreNoUrlNeverReachTheOpener) {
  launchsvc::setOpener(opener_.path());
  for (const char* text : {"-rf", "--version", "two words", ""}) {
    EXPECT_EQ(launchsvc::openUrl(text), launchsvc::kParamErr) << text;
  }
  EXPECT_EQ(launchsvc::openUrl(nullptr), launchsvc::kParamErr);
  // A later URL is the first thing the opener sees.
  EXPECT_EQ(launchsvc::openUrl("about:blank"), launchsvc::kNoErr);
  EXPECT_EQ(opener_.wait(), "1\nabout:blank\n");
}

TEST_F(OpenUrlTest, MissingOpenerIsReported) {
  yarl_test::LogCapture log("LaunchServices:capture:0");
  yarl_test::TempDir dir;
  std::string notExecutable = dir.write("opener", "#!/bin/sh\n", 0644);
  for (const std::string& opener : {dir / "missing", notExecutable, std::string("yarl-no-such-opener")}) {
    SCOPED_TRACE(opener);
    launchsvc::setOpener(opener.c_str());
    EXPECT_EQ(launchsvc::openUrl("http://h/"), launchsvc::kApplicationNotFoundErr);
  }
  EXPECT_EQ(log.from("LaunchServices").size(), 3u);
}

TEST(DesktopEntryTest, ExecQuotesTheProgramOnlyWhenItMust) {
  struct Case {
    const char* program;
    const char* command;
  };
  const std::vector<Case> cases = {
      {"/usr/bin/yarl", "/usr/bin/yarl -uri %u"},
      {"/opt/My App/yarl", "\"/opt/My App/yarl\" -uri %u"},
      {"/opt/a$b\"c`d", "\"/opt/a\\$b\\\"c\\`d\" -uri %u"},
      {"/opt/back\\slash", "\"/opt/back\\\\slash\" -uri %u"},
      {"/opt/50%/yarl", "/opt/50%%/yarl -uri %u"},
      {"/opt/50% off/yarl", "\"/opt/50%% off/yarl\" -uri %u"},
      {"/opt/it's", "\"/opt/it's\" -uri %u"},
  };
  for (const Case& c : cases) EXPECT_STREQ(launchsvc::execCommand(c.program).get(), c.command) << c.program;
}

TEST(DesktopEntryTest, SchemesAndEntryNames) {
  for (const char* scheme : {"yarl", "com.example.cb"}) EXPECT_TRUE(launchsvc::isValidScheme(scheme)) << scheme;
  for (const char* scheme : {"", "Yarl", "yarl-cb", "yarl2", "ya rl", "yarl/x"}) {
    EXPECT_FALSE(launchsvc::isValidScheme(scheme)) << scheme;
  }
  EXPECT_FALSE(launchsvc::isValidScheme(nullptr));
  EXPECT_STREQ(launchsvc::desktopEntryName("My App/2", "com.cb").get(), "My_App_2-com.cb.desktop");
  EXPECT_STREQ(launchsvc::desktopEntryName("yarl-setup_x", "cb").get(), "yarl-setup_x-cb.desktop");
}

class SchemeHandlerTest : public testing::Test {
 protected:
  int32_t set(const char* scheme, const char* name, const char* program) {
    launchsvc::HandlerApp app{name, program};
    return launchsvc::setDefaultHandler(scheme, &app);
  }
  yarl_test::XdgHome home_;
};

TEST_F(SchemeHandlerTest, EntryRunsTheProgramWithTheUrl) {
  ASSERT_EQ(set("com.example.cb", "Yarl Setup", "/opt/My Apps/back\\slash/yarl"), launchsvc::kNoErr);
  EXPECT_EQ(yarl_test::readFile(home_.dataHome() + "/applications/Yarl_Setup-com.example.cb.desktop"),
            "[Desktop Entry]\n"
            "Type=Application\n"
            "Name=Yarl Setup\n"
            "Exec=\"/opt/My Apps/back\\\\\\\\slash/yarl\" -uri %u\n"
            "MimeType=x-scheme-handler/com.example.cb;\n"
            "NoDisplay=true\n"
            "Terminal=false\n");
  EXPECT_EQ(yarl_test::readFile(home_.mimeappsList()),
            "[Default Applications]\nx-scheme-handler/com.example.cb=Yarl_Setup-com.example.cb.desktop\n");
  // Clearing takes the line out again.
  ASSERT_EQ(launchsvc::setDefaultHandler("com.example.cb", nullptr), launchsvc::kNoErr);
  EXPECT_EQ(yarl_test::readFile(home_.mimeappsList()), "[Default Applications]\n");
}

TEST_F(SchemeHandlerTest, OnlyTheSchemesLineChanges) {
  struct Case {
    const char* name;
    const char* before;  // null: no file
    const char* afterSet;
    const char* afterClear;
  };
  const std::vector<Case> cases = {
      {"no file", nullptr, "[Default Applications]\nx-scheme-handler/cb=yarl-cb.desktop\n", "[Default Applications]\n"},
      {"line replaced in place",
       "# mine\n[Added Associations]\nx-scheme-handler/cb=other.desktop;\n\n[Default Applications]\n"
       "text/html=web.desktop\nx-scheme-handler/cb = old.desktop\nx-scheme-handler/cbx=keep.desktop\n\n"
       "[Other]\nx-scheme-handler/cb=kept\n",
       "# mine\n[Added Associations]\nx-scheme-handler/cb=other.desktop;\n\n[Default Applications]\n"
       "text/html=web.desktop\nx-scheme-handler/cb=yarl-cb.desktop\nx-scheme-handler/cbx=keep.desktop\n\n"
       "[Other]\nx-scheme-handler/cb=kept\n",
       "# mine\n[Added Associations]\nx-scheme-handler/cb=other.desktop;\n\n[Default Applications]\n"
       "text/html=web.desktop\nx-scheme-handler/cbx=keep.desktop\n\n[Other]\nx-scheme-handler/cb=kept\n"},
      {"line added at the end of the section", "[Default Applications]\ntext/html=web.desktop\n\n[Other]\na=b",
       "[Default Applications]\ntext/html=web.desktop\nx-scheme-handler/cb=yarl-cb.desktop\n\n[Other]\na=b\n",
       "[Default Applications]\ntext/html=web.desktop\n\n[Other]\na=b\n"},
      {"section added", "[Added Associations]\ntext/html=web.desktop\n",
       "[Added Associations]\ntext/html=web.desktop\n\n[Default Applications]\nx-scheme-handler/cb=yarl-cb.desktop\n",
       "[Added Associations]\ntext/html=web.desktop\n\n[Default Applications]\n"},
      {"repeated line dropped",
       "[Default Applications]\nx-scheme-handler/cb=a.desktop\nx-scheme-handler/cb=b.desktop\n",
       "[Default Applications]\nx-scheme-handler/cb=yarl-cb.desktop\n", "[Default Applications]\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ::unlink(home_.mimeappsList().c_str());
    if (c.before) {
      ::mkdir(home_.configHome().c_str(), 0700);
      home_.dir().write("config/mimeapps.list", c.before);
    }
    ASSERT_EQ(set("cb", "yarl", "/usr/bin/yarl"), launchsvc::kNoErr);
    EXPECT_EQ(yarl_test::readFile(home_.mimeappsList()), c.afterSet);
    ASSERT_EQ(launchsvc::setDefaultHandler("cb", nullptr), launchsvc::kNoErr);
    EXPECT_EQ(yarl_test::readFile(home_.mimeappsList()), c.afterClear);
  }
}

TEST_F(SchemeHandlerTest, ClearingWithoutAListWritesNothing) {
  ASSERT_EQ(launchsvc::setDefaultHandler("cb", nullptr), launchsvc::kNoErr);
  EXPECT_EQ(yarl_test::readFile(home_.mimeappsList()), "<missing>");
}

TEST_F(SchemeHandlerTest, RefusedArgumentsAndUnwritableFolders) {
  EXPECT_EQ(set("Bad-Scheme", "yarl", "/usr/bin/yarl"), launchsvc::kParamErr);
  EXPECT_EQ(set("cb", "", "/usr/bin/yarl"), launchsvc::kParamErr);
  EXPECT_EQ(set("cb", "yarl", "relative/yarl"), launchsvc::kParamErr);
  EXPECT_EQ(set("cb", "yarl", nullptr), launchsvc::kParamErr);
  EXPECT_EQ(launchsvc::setDefaultHandler(nullptr, nullptr), launchsvc::kParamErr);

  // A data folder below a plain file cannot be made, even by root.
  yarl_test::LogCapture log("LaunchServices:capture:0");
  yarl_test::XdgHome::set("XDG_DATA_HOME", home_.dir().write("file", "") + "/data");
  EXPECT_EQ(set("cb", "yarl", "/usr/bin/yarl"), launchsvc::kUnknownErr);
  yarl_test::XdgHome::set("XDG_DATA_HOME", home_.dataHome());
  yarl_test::XdgHome::set("XDG_CONFIG_HOME", home_.dir() / "file/config");
  EXPECT_EQ(set("cb", "yarl", "/usr/bin/yarl"), launchsvc::kUnknownErr);
  auto records = log.from("LaunchServices");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_THAT(records[0].text, HasSubstr("Setting the handler of cb: mkDir("));
}

// The desktop's own query finds the registered entry.
TEST_F(SchemeHandlerTest, XdgMimeAnswersTheRegisteredEntry) {
  const char* program = os::getExecutablePath();
  ASSERT_NE(program, nullptr);
  ASSERT_EQ(std::string(program).find(' '), std::string::npos);
  auto query = [] {
    os::LaunchConfig config;
    for (const char* arg : {"xdg-mime", "query", "default", "x-scheme-handler/yarl.test.cb"}) {
      config.args.emplace_back(arg);
    }
    config.searchPath = true;
    os::LaunchProcess process(config);
    int exitCode = -1;
    plat::CharArray out = process.runAndCapture(exitCode, 20000);
    EXPECT_EQ(exitCode, 0);
    return std::string(out.c_str());
  };
  // Two entries claim the scheme: the default line decides.
  ASSERT_EQ(set("yarl.test.cb", "first", program), launchsvc::kNoErr);
  ASSERT_EQ(set("yarl.test.cb", "second", program), launchsvc::kNoErr);
  EXPECT_EQ(query(), "second-yarl.test.cb.desktop\n");
  ASSERT_EQ(set("yarl.test.cb", "first", program), launchsvc::kNoErr);
  EXPECT_EQ(query(), "first-yarl.test.cb.desktop\n");
}

}  // namespace
