// The admin helper client against the real helper: this executable started
// again as "-helper" through a fake elevation command.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "libs/qoSetup/AdminHelperClient.h"
#include "libs/qoSetup/tests/SetupTestSupport.h"
#include "qocore/base/os/ExecutablePath.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/Exception.h"
#include "testing/LogCapture.h"

namespace {

using qoSetup::AdminHelperClient;
using testing::ElementsAre;
using testing::StartsWith;

// "[type] message" when a type is set, else the message.
std::string formatted(const plat::Exception& e) {
  char text[plat::Exception::kMsgSize];
  e.format(text);
  return text;
}

// The wizard's part: what the client reports, in order.  The test may act
// inside a report.
struct Wizard : AdminHelperClient::Callback {
  void helperLaunched() override {
    log.push_back("launched");
    if (onReport) onReport();
  }
  void helperLaunchFailed(const plat::Exception& error) override {
    log.push_back("failed " + formatted(error));
    if (onReport) onReport();
  }
  std::vector<std::string> log;
  std::function<void()> onReport;
};

// A command's reports: its output pieces and its result, in order.
struct Command : AdminHelperClient::RunCmdCallback {
  void cmdResult(int exitStatus, const plat::Exception& error) override {
    events.push_back(*error.str() ? "error " + std::string(error.str()) + "|" + error.typeName()
                                  : "exit " + std::to_string(exitStatus));
    ended = true;
  }
  void cmdOutput(int length, const uint8_t* data) override {
    events.push_back("output " + std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length)));
  }
  // The output pieces joined, then the result.
  std::vector<std::string> joined() const {
    std::string output;
    std::vector<std::string> out;
    for (const std::string& e : events) {
      if (e.rfind("output ", 0) == 0) {
        output += e.substr(7);
      } else {
        out.push_back("output " + output);
        out.push_back(e);
      }
    }
    return out;
  }
  std::vector<std::string> events;
  bool ended = false;
};

struct Features : AdminHelperClient::GetCapsFeaturesCallback {
  void capsFeaturesResult(const plat::Exception& error, const plat::StringSet& features) override {
    text = std::string(error.str()) + "|" + error.typeName() + " [";
    for (const plat::CharArray& f : features) text += std::string(text.back() == '[' ? "" : ",") + f.c_str();
    text += "]";
  }
  std::string text;
};

struct Settings : AdminHelperClient::SvrSettingsCallback {
  void svrSettingsResult(const plat::Exception& error) override {
    text = std::string(error.str()) + "|" + error.typeName();
    answered = true;
  }
  std::string text;
  bool answered = false;
};

plat::CharArrayList argsOf(const std::vector<std::string>& words) {
  plat::CharArrayList out;
  for (const std::string& w : words) out.emplace_back(w.c_str());
  return out;
}

class AdminHelperClientTest : public setup_test::HelperTest {
 protected:
  void SetUp() override {
    HelperTest::SetUp();
    client_ = std::make_unique<AdminHelperClient>(&wizard_);
  }
  void TearDown() override {
    client_.reset();
    HelperTest::TearDown();
  }

  // Launches and waits for the report.
  void launch() {
    const size_t before = wizard_.log.size();
    client_->launch();
    ASSERT_TRUE(runUntil([&] { return wizard_.log.size() > before; }));
    ASSERT_EQ(wizard_.log.back(), "launched");
  }
  // Runs a command and waits for its result.
  void run(Command& command, const std::vector<std::string>& args) {
    client_->runCmd(argsOf(args), &command);
    ASSERT_TRUE(runUntil([&] { return command.ended; }));
  }
  // The process id of the last helper launched.
  pid_t lastHelper() const { return static_cast<pid_t>(elevation_->launches().back().pid); }
  // The launch's arguments after the program's path and "-helper".
  std::vector<std::string> lastArguments() const {
    std::vector<std::string> args = elevation_->launches().back().args;
    EXPECT_GE(args.size(), 2u);
    EXPECT_EQ(args[0], os::getExecutablePath());
    EXPECT_EQ(args[1], "-helper");
    return std::vector<std::string>(args.begin() + 2, args.end());
  }

  Wizard wizard_;
  std::unique_ptr<AdminHelperClient> client_;
};

TEST_F(AdminHelperClientTest, ASecondLaunchWhileTheFirstWaitsStartsNoSecondHelper) {
  yarl_test::LogCapture capture("AdminHelperClient:capture:30");
  client_->launch();
  // The prompt has been answered; the hand-over comes from the loop.
  EXPECT_TRUE(wizard_.log.empty());
  EXPECT_TRUE(client_->isLaunching());
  client_->launch();
  ASSERT_TRUE(runUntil([&] { return !wizard_.log.empty(); }));
  settle();
  EXPECT_THAT(wizard_.log, ElementsAre("launched"));
  EXPECT_TRUE(client_->isLaunched());
  EXPECT_EQ(elevation_->launches().size(), 1u);
  EXPECT_FALSE(client_->haveCloudCredsSvr());

  // Once it runs, a launch reports at once, without a prompt.
  client_->launch();
  EXPECT_THAT(wizard_.log, ElementsAre("launched", "launched"));
  EXPECT_EQ(elevation_->launches().size(), 1u);
  std::vector<std::string> lines;
  for (const yarl_test::LogRecord& r : capture.from("AdminHelperClient")) lines.push_back(r.text);
  EXPECT_THAT(lines, ElementsAre("Starting helper", "already launching", "already launched"));
}

TEST_F(AdminHelperClientTest, TheLocaleComesLastAfterTheWordsOfAdminArgs) {
  const std::string locale = plat::Configuration::global().findParam("Locale")->getValueStr().c_str();
  struct Case {
    const char* adminArgs;
    std::vector<std::string> words;
  };
  const Case cases[] = {
      {"", {}},
      {"-LogKeepDays=7 \"-_NoInstall=1\"", {"-LogKeepDays=7", "-_NoInstall=1"}},
  };
  std::vector<std::string> launchArgs;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.adminArgs);
    ASSERT_TRUE(plat::Configuration::global().setParam("_AdminArgs", c.adminArgs, plat::ConfigParameter::kPolicy));
    client_ = std::make_unique<AdminHelperClient>(&wizard_);
    launch();
    std::vector<std::string> args = lastArguments();
    ASSERT_GE(args.size(), c.words.size() + 1);
    EXPECT_EQ(args.back(), "-Locale=" + locale);
    // The launch's own arguments, then the words, then the locale.
    const std::vector<std::string> words(args.end() - 1 - static_cast<ptrdiff_t>(c.words.size()), args.end() - 1);
    EXPECT_EQ(words, c.words);
    args.resize(args.size() - 1 - c.words.size());
    if (launchArgs.empty()) {
      launchArgs = args;
    } else {
      EXPECT_EQ(args.size(), launchArgs.size());
    }
  }
  plat::Configuration::global().findParam("_AdminArgs")->unsetParam(plat::ConfigParameter::kPolicy);
}

TEST_F(AdminHelperClientTest, CancelBeforeTheHandOverAbandonsThatHelper) {
  client_->launch();
  const pid_t abandoned = lastHelper();
  client_->cancel();
  EXPECT_FALSE(client_->isLaunching());
  // Its pipe closed, the helper ends, and nothing is reported.
  EXPECT_TRUE(runUntil([&] { return !exists(abandoned); }));
  settle();
  EXPECT_TRUE(wizard_.log.empty());
  EXPECT_FALSE(client_->isLaunched());
  // A later launch starts afresh.
  launch();
  EXPECT_EQ(elevation_->launches().size(), 2u);
  EXPECT_NE(lastHelper(), abandoned);
}

TEST_F(AdminHelperClientTest, ALaunchThatFailsIsReportedFromTheLaunch) {
  struct Case {
    int status;
    const char* report;
  };
  const std::string failed = std::string("failed [LaunchFailed] Elevation failed: ") + os::getExecutablePath() + ": ";
  const Case cases[] = {
      // The prompt dismissed.
      {126, "failed [ElevateCancelled] Elevation cancelled or not supported."},
      {127, failed.c_str()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    elevation_->exitWith(c.status);
    wizard_.log.clear();
    yarl_test::LogCapture capture("AdminHelperClient:capture:30");
    client_->launch();
    ASSERT_EQ(wizard_.log.size(), 1u);
    EXPECT_THAT(wizard_.log[0], StartsWith(c.report));
    EXPECT_EQ("failed " + capture.from("AdminHelperClient").back().text.substr(std::string("launch error: ").size()),
              wizard_.log[0]);
    EXPECT_FALSE(client_->isLaunching());
    settle();
    EXPECT_EQ(wizard_.log.size(), 1u);
  }
}

// The helper's end reaches the wizard as a failed launch without a
// message; the wizard then cancels, as its error page does.
TEST_F(AdminHelperClientTest, TheHelpersDeathIsReportedAndCancelAfterItIsQuiet) {
  launch();
  Command command;
  client_->runCmd(argsOf({"/bin/sh", "-c", "exec sleep 60"}), &command);
  yarl_test::LogCapture capture("AdminHelperClient:capture:30");
  bool cancelled = false;
  wizard_.onReport = [&] {
    client_->cancel();
    cancelled = true;
  };
  ASSERT_EQ(::kill(lastHelper(), SIGKILL), 0);
  ASSERT_TRUE(runUntil([&] { return wizard_.log.size() > 1; }));
  EXPECT_THAT(wizard_.log, ElementsAre("launched", "failed "));
  EXPECT_TRUE(cancelled);
  EXPECT_FALSE(client_->isLaunched());
  ASSERT_FALSE(capture.from("AdminHelperClient").empty());
  EXPECT_EQ(capture.from("AdminHelperClient").back(),
            (yarl_test::LogRecord{"AdminHelperClient", 0, "Helper process died"}));
  wizard_.onReport = nullptr;
  client_->cancel();
  settle();
  EXPECT_TRUE(command.events.empty());
  EXPECT_EQ(wizard_.log.size(), 2u);
}

TEST_F(AdminHelperClientTest, EachReplyReachesTheCallbackThatAsked) {
  yarl_test::LogCapture capture("Admin:capture:100");
  launch();
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> reports;
  };
  const Case cases[] = {
      {{"/bin/sh", "-c", "echo one; echo two >&2; exit 3"}, {"output one\ntwo\n", "exit 3"}},
      {{"/bin/sh", "-c", "kill -TERM $$"}, {"output ", "exit -15"}},
      {{"/nonexistent/program"},
       {"output ", "error execve(/nonexistent/program): No such file or directory (2)|System-2"}},
  };
  for (const Case& c : cases) {
    Command command;
    run(command, c.args);
    EXPECT_EQ(command.joined(), c.reports);
  }

  Features features;
  client_->getCapsFeatures(&features);
  ASSERT_TRUE(runUntil([&] { return !features.text.empty(); }));
  EXPECT_EQ(features.text, "Server is not cloud joined| []");

  Settings settings;
  AdminHelperClient::Settings values;
  values[plat::CharArray("EnableAnalytics")] = plat::SecretText("1");
  values[plat::CharArray("Password")] = plat::SecretText("0123abcd");
  client_->svrSettings(values, &settings);
  ASSERT_TRUE(runUntil([&] { return settings.answered; }));
  EXPECT_EQ(settings.text, "|");
  const std::string written = yarl_test::readFile(serverDir_ + "/yarlserver");
  EXPECT_NE(written.find("EnableAnalytics=1"), std::string::npos) << written;
  EXPECT_NE(written.find("Password=0123abcd"), std::string::npos) << written;
  // The helper's log lines are written here under "Admin".
  EXPECT_TRUE(runUntil([&] {
    for (const yarl_test::LogRecord& r : capture.from("Admin"))
      if (r.text == "AdminHelper: read message SvrSettings") return true;
    return false;
  }));
}

// A command leaves a process behind that writes once the command's result
// is in: that output belongs to no command and is dropped.
TEST_F(AdminHelperClientTest, OutputAfterTheResultIsDropped) {
  const std::string fifo = tmp_ / "late";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  launch();
  Command command;
  run(command, {"/bin/sh", "-c", "cat " + fifo + " & exit 0"});
  EXPECT_THAT(command.joined(), ElementsAre("output ", "exit 0"));

  yarl_test::LogCapture capture("AdminHelperClient:capture:100");
  // Opens once the left-behind reader has.
  plat::UniqueFd writer;
  ASSERT_TRUE(runUntil([&] {
    writer.reset(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    return static_cast<bool>(writer);
  }));
  ASSERT_EQ(::write(writer.get(), "late\n", 5), 5);
  writer.reset();
  ASSERT_TRUE(runUntil([&] {
    for (const yarl_test::LogRecord& r : capture.from("AdminHelperClient"))
      if (r.text == "Dropped 5 bytes of output: no command outstanding") return true;
    return false;
  }));
  EXPECT_THAT(command.joined(), ElementsAre("output ", "exit 0"));
}

TEST_F(AdminHelperClientTest, TheHelperSaysWhetherTheServerHoldsCredentials) {
  const std::string token = tmp_.write("token", "join-token:abc");
  for (bool joined : {false, true}) {
    SCOPED_TRACE(joined);
    client_ = std::make_unique<AdminHelperClient>(&wizard_);
    launch();
    // The report comes first on the channel: answered before a command.
    Command command;
    run(command, {YARL_FAKE_INSTALLED_SERVER, "-service", "-joincloud", token});
    EXPECT_EQ(client_->haveCloudCredsSvr(), joined);
  }
}

// One request of each kind at a time.
TEST(AdminHelperClientDeathTest, ASecondRequestBeforeTheReplyIsAFailedAssertion) {
  struct Case {
    std::function<void(AdminHelperClient&)> ask;
    const char* assertion;
  };
  Command command;
  Features features;
  Settings settings;
  const Case cases[] = {
      {[&](AdminHelperClient& c) { c.runCmd(argsOf({"/bin/true"}), &command); }, "Assertion '!runCmdCb' failed"},
      {[&](AdminHelperClient& c) { c.getCapsFeatures(&features); }, "Assertion '!getCapsFeaturesCb' failed"},
      {[&](AdminHelperClient& c) { c.svrSettings({}, &settings); }, "Assertion '!svrSettingsCb' failed"},
  };
  for (const Case& c : cases) {
    Wizard wizard;
    AdminHelperClient client(&wizard);
    // Not launched: the request goes nowhere, but it is outstanding.
    c.ask(client);
    EXPECT_DEATH(c.ask(client), c.assertion);
    // Cancel forgets it.
    client.cancel();
    c.ask(client);
  }
}

}  // namespace
