#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "libs/hostedremoteaccess/CredentialsFile.h"
#include "libs/qoSetup/AdminHelper.h"
#include "libs/qoSetup/AdminHelperProtocol.h"
#include "qocore/base/io/Ipc.h"
#include "qocore/base/io/LogDestIpc.h"
#include "qocore/base/io/mac/IoRunLoopManager.h"
#include "qocore/base/os/AppDirs.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/IoFromFd.h"
#include "qocore/base/os/LaunchConfig.h"
#include "qocore/base/os/unix/LaunchProcess.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/UniqueFd.h"
#include "qocore/base/qoutil/SystemPath.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"
#include "testing/FileFixtures.h"
#include "testing/LogCapture.h"
#include "testing/RunUntil.h"
#include "testing/SocketPair.h"

namespace {

using namespace qoSetup::admin_protocol;

// The wizard's log source for the helper's lines, as the wizard has it.
PLAT_LOG_SOURCE_OF(plat::LogSrcViaIpc, adminLog, "Admin");

// One message from the helper, its fields written out: "1" for a flag,
// "exit <status>" or "error <message>|<type>" for a result, the bytes of
// an output piece, "<message>|<type> [feature,...]" for the features.
struct Reply {
  std::string name;
  std::string text;
  bool operator==(const Reply&) const = default;
};

void PrintTo(const Reply& r, std::ostream* os) { *os << "{" << r.name << ", \"" << r.text << "\"}"; }

std::string readErrorPair(rdr::InStream& in) {
  std::string message = in.readString8().c_str();
  return message + "|" + in.readString8().c_str();
}

// The wizard's end of the channel: sends requests, records every reply.
class Wizard : public io::MsgIpc::Callback, public io::MsgIpc::Reader {
 public:
  Wizard() : ipc_(this, "AdminHelperClient", false, false) {
    for (const char* name : {kHaveCloudCredsSvr, kRunCmdOutput, kRunCmdResult, kGetCapsFeaturesResult,
                             kSvrSettingsResult, kCopyAppResponse})
      ipc_.setReader(name, this);
  }
  ~Wizard() override { detach(); }

  void attach(io::Io* io) { ipc_.attach(io); }
  void detach() {
    adminLog().setChannel(&ipc_, false, 0);
    if (ipc_.attached()) ipc_.detach(false);
  }
  io::MsgIpc& ipc() noexcept { return ipc_; }

  void runCmd(const std::vector<std::string>& args) {
    rdr::OutStream& out = ipc_.writeMsg(kRunCmd);
    out.writeU8(static_cast<uint8_t>(args.size()));
    for (const std::string& arg : args) out.writeString32(arg.c_str());
    ipc_.out().endMsg(true);
  }
  void send(const char* name) {
    ipc_.writeMsg(name);
    ipc_.out().endMsg(true);
  }
  void svrSettings(const std::vector<std::pair<std::string, std::string>>& settings) {
    rdr::OutStream& out = ipc_.writeMsg(kSvrSettings);
    out.writeU16(static_cast<uint16_t>(settings.size()));
    for (const auto& [name, value] : settings) {
      out.writeString32(name.c_str());
      out.writeString32(value.c_str());
    }
    ipc_.out().endMsg(true);
  }
  void copyApp(const std::string& dir, const std::string& name) {
    rdr::OutStream& out = ipc_.writeMsg(kCopyApp);
    out.writeString32(dir.c_str());
    out.writeString32(name.c_str());
    ipc_.out().endMsg(true);
  }

  // The replies of one name.
  std::vector<Reply> named(const char* name) const {
    std::vector<Reply> out;
    for (const Reply& r : replies)
      if (r.name == name) out.push_back(r);
    return out;
  }

  [[nodiscard]] bool readMsg(const char* name, rdr::InStream& in, io::MsgIpc&) override {
    const std::string which = name;
    std::string text;
    if (which == kHaveCloudCredsSvr) {
      text = std::to_string(in.readU8());
    } else if (which == kRunCmdOutput) {
      const uint16_t length = in.readU16();
      text.resize(length);
      in.readBytes(text.data(), length);
    } else if (which == kRunCmdResult) {
      if (in.readU8()) {
        text = "exit " + std::to_string(static_cast<int32_t>(in.readU32()));
      } else {
        text = "error " + readErrorPair(in);
      }
    } else if (which == kGetCapsFeaturesResult) {
      text = readErrorPair(in) + " [";
      const uint16_t count = in.readU16();
      for (unsigned i = 0; i < count; ++i) text += std::string(i ? "," : "") + in.readString8().c_str();
      text += "]";
    } else if (which == kSvrSettingsResult) {
      text = readErrorPair(in);
    } else if (which == kCopyAppResponse) {
      text = in.readStdString(1 << 20);
    }
    replies.push_back({which, text});
    return true;
  }
  void closed(io::MsgIpc&) override { closedSeen = true; }

  std::vector<Reply> replies;
  bool closedSeen = false;

 private:
  io::MsgIpc ipc_;
};

// Waits until some child of this process has exited, leaving it to be
// collected by whoever waits for it.
void waitForAChildToExit() {
  siginfo_t info{};
  while (::waitid(P_ALL, 0, &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
  }
}

// The numbers 1 to n, one a line, as seq writes them.
std::string numberLines(int n) {
  std::string text;
  for (int i = 1; i <= n; ++i) text += std::to_string(i) + "\n";
  return text;
}

// A process id from the first line of text.
pid_t pidIn(const std::string& text) { return static_cast<pid_t>(std::atol(text.c_str())); }

// Whether a process of that id is still there (a zombie counts).
bool exists(pid_t pid) { return pid > 0 && ::kill(pid, 0) == 0; }

void makeDir(const std::string& path) { ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path; }

class AdminHelperTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::geteuid(), 0u) << "the helper runs as root";
    os::init("vuzovuvivovevada_helper", "Corvane", "yarl", nullptr, nullptr);
    makeDir(config_);
    makeDir(channels_);
    makeDir(root_);
    makeDir(root_ + "/Applications");
    os::setConfigBase(config_.c_str());
    os::setTempDir(channels_.c_str());
    qoutil::setSystemRoot(root_.c_str());
    // The fake server's store is the helper's server store; its channel
    // folder is the helper's.
    ::setenv("YARL_FAKE_SERVER_DIR", config_.c_str(), 1);
    ::setenv("YARL_FAKE_SERVER_TMP", channels_.c_str(), 1);
  }
  void TearDown() override {
    stopHelper();
    ::unsetenv("YARL_FAKE_SERVER_DIR");
    ::unsetenv("YARL_FAKE_SERVER_TMP");
    ::unsetenv("YARL_FAKE_SERVER_FEATURES");
    qoutil::setSystemRoot(nullptr);
    os::setTempDir(nullptr);
    os::setConfigBase(nullptr);
  }

  // Builds the helper on one end of a socket pair and the wizard on the
  // other, and waits for the helper's first report.
  void startHelper() {
    yarl_test::SocketPair pair;
    helper_ = std::make_unique<qoSetup::AdminHelper>(os::ioFromFd(pair.far.release()));
    wizard_ = std::make_unique<Wizard>();
    wizard_->attach(os::ioFromFd(pair.near.release()));
    ASSERT_TRUE(runUntil([&] { return !wizard_->replies.empty(); }));
  }
  void stopHelper() {
    helper_.reset();
    wizard_.reset();
  }

  template <typename Pred>
  bool runUntil(Pred done) {
    return yarl_test::runUntil(manager_.runLoop(), done, std::chrono::seconds(20));
  }
  // Waits for the next reply of that name and answers it.
  Reply next(const char* name) {
    const size_t before = wizard_->named(name).size();
    if (!runUntil([&] { return wizard_->named(name).size() > before; })) return {name, "(no reply)"};
    return wizard_->named(name).back();
  }
  // The replies from index `from` on.
  std::vector<Reply> since(size_t from) const {
    return std::vector<Reply>(wizard_->replies.begin() + static_cast<std::ptrdiff_t>(from), wizard_->replies.end());
  }
  // "GetCapsFeatures" and its answer: every reply before it has arrived.
  void sync() {
    wizard_->send(kGetCapsFeatures);
    (void)next(kGetCapsFeaturesResult);
  }

  yarl_test::TempDir tmp_;
  const std::string config_ = tmp_ / "config.d";
  const std::string channels_ = tmp_ / "tmp";
  const std::string root_ = tmp_ / "root";
  const std::string settingsFile_ = config_ + "/yarlserver";
  // Before the helper and the wizard: they go first.
  io::IoRunLoopManager manager_;
  std::unique_ptr<qoSetup::AdminHelper> helper_;
  std::unique_ptr<Wizard> wizard_;
};

// ---- Commands ----

TEST_F(AdminHelperTest, ACommandsOutputIsStreamedAndItsLastLinesGoBeforeTheResult) {
  // Each command has ended before the helper turns again, so the helper
  // learns of the exit while the pipe still holds the output.
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string output;
    const char* result;
  };
  const Case cases[] = {
      {"nothing printed", {"/bin/true"}, "", "exit 0"},
      {"an error's last words",
       {"/bin/sh", "-c", "echo working; echo 'error: disk full' >&2; exit 3"},
       "working\nerror: disk full\n",
       "exit 3"},
      {"killed by SIGTERM", {"/bin/sh", "-c", "kill -TERM $$"}, "", "exit -15"},
      {"more than 4096 bytes", {"/usr/bin/seq", "1", "3000"}, numberLines(3000), "exit 0"},
  };
  yarl_test::LogCapture capture("AdminHelper:capture:100");
  startHelper();
  EXPECT_EQ(wizard_->replies, (std::vector<Reply>{{kHaveCloudCredsSvr, "0"}}));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t from = wizard_->replies.size();
    capture.clear();
    wizard_->runCmd(c.args);
    // The command has been started once the request has been read.
    ASSERT_TRUE(runUntil([&] { return !capture.from("AdminHelper").empty(); }));
    waitForAChildToExit();
    ASSERT_EQ(next(kRunCmdResult).text, c.result);
    sync();
    std::vector<Reply> replies = since(from);
    ASSERT_GE(replies.size(), 2u);
    EXPECT_EQ(replies[replies.size() - 2], (Reply{kRunCmdResult, c.result}));
    EXPECT_EQ(replies.back().name, kGetCapsFeaturesResult);
    std::string output;
    replies.resize(replies.size() - 2);
    for (const Reply& r : replies) {
      EXPECT_EQ(r.name, kRunCmdOutput);
      EXPECT_GE(r.text.size(), 1u);
      EXPECT_LE(r.text.size(), 4096u);
      output += r.text;
    }
    EXPECT_EQ(output, c.output);
    EXPECT_GE(replies.size(), (c.output.size() + 4095) / 4096);
  }
}

TEST_F(AdminHelperTest, ACommandThatCannotStartGetsAnErrorPair) {
  startHelper();
  struct Case {
    std::vector<std::string> args;
    const char* result;
  };
  const Case cases[] = {
      {{"/nonexistent/program"}, "error execve(/nonexistent/program): No such file or directory (2)|System-2"},
      {{}, "error No command to run|"},
  };
  for (const Case& c : cases) {
    wizard_->runCmd(c.args);
    EXPECT_EQ(next(kRunCmdResult).text, c.result);
  }
}

TEST_F(AdminHelperTest, CancelEndsTheCommandWithoutAResultAndNeverWaitsForIt) {
  struct Case {
    const char* what;
    const char* script;
    bool ignoresTerm;
  };
  // The script prints its process id, which sleep keeps.
  const Case cases[] = {
      {"a command that ends on SIGTERM", "echo $$; exec sleep 60", false},
      {"a command that ignores SIGTERM", "trap '' TERM; echo $$; exec sleep 60", true},
  };
  startHelper();
  // Nothing runs: nothing happens.
  wizard_->send(kRunCmdCancel);
  sync();
  EXPECT_EQ(wizard_->replies.size(), 2u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t from = wizard_->replies.size();
    wizard_->runCmd({"/bin/sh", "-c", c.script});
    const pid_t pid = pidIn(next(kRunCmdOutput).text);
    ASSERT_TRUE(exists(pid));
    wizard_->send(kRunCmdCancel);
    // The next request is answered at once, whatever the command does.
    sync();
    EXPECT_EQ(since(from).size(), 2u);
    // The helper did not wait for it.
    if (c.ignoresTerm) {
      EXPECT_TRUE(exists(pid));
    }
    ::kill(pid, SIGKILL);
    // The reaper collects it.
    EXPECT_TRUE(runUntil([&] { return !exists(pid); }));
    sync();
    EXPECT_TRUE(wizard_->named(kRunCmdResult).empty());
  }
}

TEST_F(AdminHelperTest, ASecondCommandIsRefusedWhileTheFirstRunsAndTakenOnceItHasExited) {
  startHelper();
  wizard_->runCmd({"/bin/sh", "-c", "echo $$; exec sleep 60"});
  const pid_t first = pidIn(next(kRunCmdOutput).text);
  wizard_->runCmd({"/bin/echo", "second"});
  EXPECT_EQ(next(kRunCmdResult).text, "error A command is already running|");
  wizard_->send(kRunCmdCancel);
  ASSERT_TRUE(runUntil([&] { return !exists(first); }));

  // The command exits, but what it started holds its output open.
  wizard_->runCmd({"/bin/sh", "-c", "sleep 60 & echo $!"});
  EXPECT_EQ(next(kRunCmdResult).text, "exit 0");
  const pid_t left = pidIn(wizard_->named(kRunCmdOutput).back().text);
  ASSERT_TRUE(exists(left));
  const size_t from = wizard_->replies.size();
  wizard_->runCmd({"/bin/echo", "third"});
  EXPECT_EQ(next(kRunCmdResult).text, "exit 0");
  EXPECT_EQ(since(from), (std::vector<Reply>{{kRunCmdOutput, "third\n"}, {kRunCmdResult, "exit 0"}}));
  ::kill(left, SIGKILL);
}

TEST_F(AdminHelperTest, ARequestThatDoesNotFitIsAnsweredWithItsRepliesErrorPair) {
  const std::string fits(1024, 'a');
  const std::string tooLong(1025, 'a');
  const std::string longSetting(8193, 's');
  struct Case {
    const char* what;
    std::function<void(Wizard&)> send;
    Reply reply;
  };
  const Case cases[] = {
      {"1024-byte argument",
       [&](Wizard& w) {
         w.runCmd({"/bin/echo", fits});
       },
       {kRunCmdResult, "exit 0"}},
      {"1025-byte argument",
       [&](Wizard& w) {
         w.runCmd({"/bin/echo", tooLong});
       },
       {kRunCmdResult, "error String exceeds maximum length|StringTooLongException"}},
      {"long setting name",
       [&](Wizard& w) {
         w.svrSettings({{"Authentication", "x"}, {longSetting, "x"}});
       },
       {kSvrSettingsResult, "String exceeds maximum length|StringTooLongException"}},
      {"long setting value",
       [&](Wizard& w) {
         w.svrSettings({{"Authentication", longSetting}});
       },
       {kSvrSettingsResult, "String exceeds maximum length|StringTooLongException"}},
      {"long source folder",
       [&](Wizard& w) { w.copyApp(tooLong, "My.app"); },
       {kCopyAppResponse, "String exceeds maximum length"}},
      {"long bundle name",
       [&](Wizard& w) { w.copyApp("/src", tooLong); },
       {kCopyAppResponse, "String exceeds maximum length"}},
  };
  startHelper();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.send(*wizard_);
    EXPECT_EQ(next(c.reply.name.c_str()), c.reply);
  }
  EXPECT_EQ(wizard_->named(kRunCmdOutput), (std::vector<Reply>{{kRunCmdOutput, fits + "\n"}}));
  // Nothing was written, and the channel still serves.
  EXPECT_EQ(yarl_test::readFile(settingsFile_), "<missing>");
  sync();
}

// ---- The installed server ----

TEST_F(AdminHelperTest, CapabilityFeaturesComeFromTheCredentialsTheServerWroteOnJoining) {
  startHelper();
  wizard_->send(kGetCapsFeatures);
  EXPECT_EQ(next(kGetCapsFeaturesResult).text, "Server is not cloud joined| []");

  ::setenv("YARL_FAKE_SERVER_FEATURES", "SYSTEM_AUTH,alpha,ZETA", 1);
  const std::string token("join-token\x01\xff", 12);
  const std::string tokenFile = tmp_.write("svrToken", token, 0600);
  wizard_->runCmd({YARL_FAKE_INSTALLED_SERVER, "-service", "-joincloud", tokenFile});
  EXPECT_EQ(next(kRunCmdResult).text, "exit 0");
  EXPECT_EQ(yarl_test::readFile(config_ + "/joincloud.token"), token);
  wizard_->send(kGetCapsFeatures);
  // In byte order.
  EXPECT_EQ(next(kGetCapsFeaturesResult).text, "| [SYSTEM_AUTH,ZETA,alpha]");

  // A helper started now finds the server joined.
  stopHelper();
  startHelper();
  EXPECT_EQ(wizard_->replies, (std::vector<Reply>{{kHaveCloudCredsSvr, "1"}}));
}

TEST_F(AdminHelperTest, ARecordWithoutItsRequiredFieldsIsAFailureToReadIt) {
  yarl_test::LogCapture capture("AdminHelper:capture:100");
  hostedremoteaccess::SCredentialsData partial;
  partial.team.capsFeatures.insert(plat::CharArray("SYSTEM_AUTH"));
  hostedremoteaccess::CredentialsFile(&hostedremoteaccess::getProgramStore("yarlserver"), false).save(*partial.toBed());
  startHelper();
  EXPECT_EQ(wizard_->replies, (std::vector<Reply>{{kHaveCloudCredsSvr, "1"}}));
  wizard_->send(kGetCapsFeatures);
  const std::string text = next(kGetCapsFeaturesResult).text;
  EXPECT_EQ(text.rfind("Assertion 'serverId && serverName && ", 0), 0u) << text;
  EXPECT_EQ(text.substr(text.size() - 17), "|AssertionFail []");
  ASSERT_FALSE(capture.from("AdminHelper").empty());
  const std::string line = capture.from("AdminHelper").back().text;
  EXPECT_EQ(line.rfind("Unable to read credentials: [AssertionFail] Assertion 'serverId && ", 0), 0u) << line;
}

TEST_F(AdminHelperTest, MoreFeaturesThanTheCountHoldsSendsTheFirst65535) {
  yarl_test::LogCapture capture("AdminHelper:capture:0");
  hostedremoteaccess::SCredentialsData creds;
  creds.serverId = plat::CharArray("id");
  creds.serverName = plat::CharArray("name");
  creds.serverSecret = plat::CharArray("secret");
  creds.team.id = plat::CharArray("team");
  creds.team.name = plat::CharArray("Team");
  creds.principal = plat::CharArray("principal");
  creds.principalPassword = plat::CharArray("password");
  creds.renewFrom = 0;
  for (int i = 0; i < 65536; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%05d", i);
    creds.team.capsFeatures.insert(plat::CharArray(name));
  }
  hostedremoteaccess::CredentialsFile(&hostedremoteaccess::getProgramStore("yarlserver"), false).save(*creds.toBed());
  startHelper();
  wizard_->send(kGetCapsFeatures);
  const std::string text = next(kGetCapsFeaturesResult).text;
  EXPECT_EQ(text.substr(0, 11), "| [f00000,f");
  EXPECT_EQ(text.substr(text.size() - 8), ",f65534]");
  EXPECT_EQ(text.size(), 3 + 65535 * 7u);
  EXPECT_EQ(capture.from("AdminHelper"),
            (std::vector<yarl_test::LogRecord>{
                {"AdminHelper", plat::LogSrc::kError, "65536 capability features, sending the first 65535"}}));
}

// The fake installed server listening on its control channel, for one
// test: it ends when its standard input closes.
class FakeServerListener {
 public:
  FakeServerListener() {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
    const char* program = YARL_FAKE_INSTALLED_SERVER;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::execl(program, program, "-service", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    input_.reset(in[1]);
    output_.reset(out[0]);
    // "ready\n" once it listens.
    char line[6] = {};
    size_t got = 0;
    while (got < sizeof line) {
      ssize_t n = ::read(output_.get(), line + got, sizeof line - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    ready_ = std::string(line, got) == "ready\n";
  }
  ~FakeServerListener() { (void)stop(); }

  bool ready() const { return ready_; }
  // The next `count` lines it prints, waiting up to ten seconds for each.
  std::string lines(int count) {
    std::string text;
    while (count > 0) {
      pollfd entry{output_.get(), POLLIN, 0};
      int n = ::poll(&entry, 1, 10000);
      if (n < 0 && errno == EINTR) continue;
      char c;
      if (n <= 0 || ::read(output_.get(), &c, 1) != 1) return text + "(nothing more)";
      text += c;
      if (c == '\n') --count;
    }
    return text;
  }
  // Ends the server and answers the names of the messages it read, a line
  // each.
  std::string stop() {
    input_.reset();
    std::string seen;
    char buf[4096];
    for (;;) {
      ssize_t n = output_ ? ::read(output_.get(), buf, sizeof buf) : 0;
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      seen.append(buf, static_cast<size_t>(n));
    }
    output_.reset();
    if (pid_ > 0) {
      int status;
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      pid_ = -1;
    }
    return seen;
  }

 private:
  pid_t pid_ = -1;
  plat::UniqueFd input_;
  plat::UniqueFd output_;
  bool ready_ = false;
};

TEST_F(AdminHelperTest, SettingsAreWrittenToTheServersFileAndTheServerIsToldToReload) {
  yarl_test::LogCapture capture("AdminHelper:capture:100");
  const std::string password(174, 'c');
  startHelper();
  // No server listening: the settings are written all the same.
  wizard_->svrSettings({{"EnableAnalytics", "1"}});
  EXPECT_EQ(next(kSvrSettingsResult).text, "|");
  EXPECT_EQ(yarl_test::readFile(settingsFile_), "EnableAnalytics=1\n");

  FakeServerListener server;
  ASSERT_TRUE(server.ready());
  // One setting per name in any case, with the later value.
  wizard_->svrSettings({{"Authentication", "YarlAuth"},
                        {"Password", password},
                        {"authentication", "SystemAuth"},
                        {"EnableAutoUpdateChecks", "0"}});
  EXPECT_EQ(next(kSvrSettingsResult).text, "|");
  const std::string written =
      "Authentication=SystemAuth\nEnableAnalytics=1\nEnableAutoUpdateChecks=0\nPassword=" + password + "\n";
  EXPECT_EQ(yarl_test::readFile(settingsFile_), written);
  EXPECT_EQ(server.lines(2), "verifyChannel\nreload\n");
  // None at all: nothing written, the server still told.
  wizard_->svrSettings({});
  EXPECT_EQ(next(kSvrSettingsResult).text, "|");
  EXPECT_EQ(server.lines(2), "verifyChannel\nreload\n");
  // A name the file cannot hold: nothing written, the server not told.
  for (const char* bad : {"Bad=Name", "Bad\nName", "Bad\rName"}) {
    wizard_->svrSettings({{"EnableAnalytics", "0"}, {bad, "1"}});
    EXPECT_EQ(next(kSvrSettingsResult).text, "Bad setting name|") << bad;
  }
  EXPECT_EQ(yarl_test::readFile(settingsFile_), written);
  // A file that cannot be written fails the request; the server is told.
  const std::string missing = tmp_ / "missing";
  os::setConfigBase(missing.c_str());
  wizard_->svrSettings({{"EnableAnalytics", "0"}});
  const std::string failure = next(kSvrSettingsResult).text;
  EXPECT_NE(failure.find("|System-"), std::string::npos) << failure;
  os::setConfigBase(config_.c_str());
  EXPECT_EQ(server.lines(2), "verifyChannel\nreload\n");
  // Nothing more reached the server.
  EXPECT_EQ(server.stop(), "");
  EXPECT_EQ(yarl_test::readFile(config_ + "/ctrlcomms"),
            "verifyChannel\nreload\nverifyChannel\nreload\nverifyChannel\nreload\n");
  // The password reaches no log line.
  bool redacted = false;
  for (const yarl_test::LogRecord& record : capture.records()) {
    EXPECT_EQ(record.text.find(password), std::string::npos) << record.text;
    redacted = redacted || record.text == "Set 'Password'='<redacted>'";
  }
  EXPECT_TRUE(redacted);
}

// ---- Application bundles ----

TEST_F(AdminHelperTest, CopyAppReplacesTheBundleInApplicationsAndRefusesNamesThatAreNotOne) {
  const std::string src = tmp_ / "src";
  const std::string apps = root_ + "/Applications";
  const std::string victim = tmp_ / "victim";
  for (const std::string& dir : {src, src + "/My.app", src + "/My.app/Contents", src + "/Link.app", apps + "/My.app",
                                 apps + "/Keep.app", victim})
    makeDir(dir);
  tmp_.write("src/My.app/Contents/Info", "new");
  tmp_.write("src/Link.app/Info", "linked");
  tmp_.write("root/Applications/My.app/stale", "old");
  tmp_.write("root/Applications/Keep.app/Info", "kept");
  tmp_.write("victim/precious", "precious");
  ASSERT_EQ(::symlink(victim.c_str(), (apps + "/Link.app").c_str()), 0);

  struct Case {
    std::string dir;
    std::string name;
    std::string response;
  };
  const Case cases[] = {
      {src, "My.app", ""},
      // A link in the way goes, not what it points at.
      {src + "/", "Link.app", ""},
      {src, "", "Bad application name"},
      {src, ".", "Bad application name"},
      {src, "..", "Bad application name"},
      {src, "Keep.app/Info", "Bad application name"},
      {src, "../Applications", "Bad application name"},
      {src, "Missing.app", "Copying app failed: exit code 1"},
  };
  startHelper();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dir + " " + c.name);
    wizard_->copyApp(c.dir, c.name);
    EXPECT_EQ(next(kCopyAppResponse).text, c.response);
  }
  EXPECT_EQ(yarl_test::readFile(apps + "/My.app/Contents/Info"), "new");
  EXPECT_EQ(yarl_test::readFile(apps + "/My.app/stale"), "<missing>");
  EXPECT_EQ(yarl_test::readFile(apps + "/Link.app/Info"), "linked");
  EXPECT_EQ(yarl_test::readFile(victim + "/precious"), "precious");
  EXPECT_EQ(yarl_test::readFile(apps + "/Keep.app/Info"), "kept");
}

// ---- The helper program ----

std::string selfPath() {
  char path[4096];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

// This executable started as "-helper" with a socket pair as its pipe.
os::LaunchConfig helperLaunch(const std::string& home, const std::string& root, const std::string& tmp) {
  os::LaunchConfig cfg;
  cfg.args.emplace_back(selfPath().c_str());
  cfg.args.emplace_back("-helper");
  cfg.args.emplace_back("3");
  cfg.childDescriptors = {3};
  cfg.env[plat::CharArray("YARL_TEST_HELPER_HOME")] = plat::CharArray(home.c_str());
  cfg.env[plat::CharArray("YARL_TEST_HELPER_ROOT")] = plat::CharArray(root.c_str());
  cfg.env[plat::CharArray("YARL_TEST_HELPER_TMP")] = plat::CharArray(tmp.c_str());
  for (const char* name : {"YARL_PROFILE", "YARL_CONFIG_PROFILE", "YARL_PROFILE_DIR"}) cfg.unset.emplace_back(name);
  return cfg;
}

TEST_F(AdminHelperTest, TheHelperProgramServesItsPipeHandlesItsLastRequestAndEndsWith0WhenThePipeCloses) {
  yarl_test::LogCapture capture("Admin:capture:100");
  const std::string home = tmp_ / "home";
  makeDir(home);
  // Root's server, as the helper sees it after product initialisation.
  const std::string serverDir = home + "/.yarl/config.d";
  ::setenv("YARL_FAKE_SERVER_DIR", serverDir.c_str(), 1);

  os::LaunchProcess process(helperLaunch(home, root_, channels_));
  os::LaunchedIo pipe = process.launchWithSocketPair();
  wizard_ = std::make_unique<Wizard>();
  wizard_->attach(pipe.release());
  adminLog().setChannel(&wizard_->ipc(), true, -1);
  ASSERT_TRUE(runUntil([&] { return !wizard_->replies.empty(); }));
  EXPECT_EQ(wizard_->replies[0], (Reply{kHaveCloudCredsSvr, "0"}));
  wizard_->send(kGetCapsFeatures);
  EXPECT_EQ(next(kGetCapsFeaturesResult).text, "Server is not cloud joined| []");
  // The helper's log lines reach the wizard's log.
  EXPECT_TRUE(runUntil([&] {
    for (const yarl_test::LogRecord& r : capture.from("Admin"))
      if (r.text == "AdminHelper: read message GetCapsFeatures") return true;
    return false;
  }));

  // The last request goes just before the wizard closes the pipe.
  wizard_->runCmd({YARL_FAKE_INSTALLED_SERVER, "-service", "-showexistingstatus"});
  wizard_->detach();
  int code = -1;
  ASSERT_TRUE(process.waitForExit(code, 10000));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(yarl_test::readFile(serverDir + "/showexistingstatus"), "showexistingstatus\n");
}

TEST_F(AdminHelperTest, StartedWithoutRootTheHelperEndsBeforeTouchingThePipe) {
  // Folders the unprivileged user can reach.
  ASSERT_EQ(::chmod(tmp_.c_str(), 0711), 0);
  const std::string home = tmp_ / "nobody";
  makeDir(home);
  const yarl_test::User nobody = yarl_test::nobody();
  ASSERT_EQ(::chown(home.c_str(), nobody.uid, nobody.gid), 0);

  os::LaunchConfig cfg = helperLaunch(home, root_, channels_);
  cfg.runAsUid = nobody.uid;
  cfg.env[plat::CharArray("HOME")] = plat::CharArray(home.c_str());
  os::LaunchProcess process(cfg);
  int stderrFd = 2;
  plat::UniqueFd errors(process.pipeForChild(false, stderrFd));
  plat::UniqueFd pipe = process.socketPairForChildren(cfg.childDescriptors);
  (void)process.launch();
  int code = -1;
  ASSERT_TRUE(process.waitForExit(code, 10000));
  EXPECT_EQ(code, 1);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = ::read(errors.get(), buf, sizeof buf)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  // The assertion's text, its place (the source path as the build names
  // it) and nothing more.
  EXPECT_EQ(text.rfind("Assertion 'geteuid() == 0' failed at ", 0), 0u) << text;
  EXPECT_NE(text.find("libs/qoSetup/AdminHelper.cpp:"), std::string::npos) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  EXPECT_EQ(text.back(), '\n');
  // Nothing was ever written to the pipe.
  EXPECT_EQ(::read(pipe.get(), buf, sizeof buf), 0);
}

}  // namespace
