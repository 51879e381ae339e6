// The launch with a pipe against real children: this test executable run
// again in child mode (PipeChild.h), over a socket pair, through fake
// elevation commands (shell scripts standing where pkexec would) and over
// a named local channel.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/authorization/Authorization.h"
#include "qocore/base/crypto/Sha.h"
#include "qocore/base/io/FdSelectManager.h"
#include "qocore/base/io/Ipc.h"
#include "qocore/base/os/AppDirs.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/ExecutablePath.h"
#include "qocore/base/os/LaunchWithNamedPipe.h"
#include "qocore/base/os/LaunchWithPipe.h"
#include "qocore/base/os/LaunchedProcessPipe.h"
#include "qocore/base/os/mac/LaunchViaAewp.h"
#include "qocore/base/os/tests/ChannelFixture.h"
#include "qocore/base/os/tests/ChildHelpers.h"
#include "qocore/base/os/unix/LaunchProcess.h"
#include "qocore/base/os/unix/NamedPipeListener.h"
#include "qocore/base/os/unix/UnixIo.h"
#include "qocore/base/plat/Encodings.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "testing/FailureOf.h"
#include "testing/FileFixtures.h"

namespace {

using testing::HasSubstr;
using testing::StartsWith;
using yarl_test::failureOf;

constexpr const char* kCancelledText = "Elevation cancelled or not supported.";

// Fake elevation commands.  pkexec runs the program in its own place, so
// the program's parent is the launcher; a command that stays the program's
// parent is the re-parented case; 126 is a dismissed prompt, 127 a command
// that could not run the program.
constexpr const char* kExecScript = "#!/bin/sh\nexec \"$@\"\n";
constexpr const char* kStayScript = "#!/bin/sh\n\"$@\"\n";
constexpr const char* kCancelScript = "#!/bin/sh\nexit 126\n";
constexpr const char* kFailScript = "#!/bin/sh\nexit 127\n";

// A parameter set for one scope.
class Setting {
 public:
  Setting(plat::ConfigParameter& param, const std::string& value) : param_(param) {
    EXPECT_TRUE(param_.setParam(value.c_str(), plat::ConfigParameter::kPolicy));
  }
  ~Setting() { param_.unsetParam(plat::ConfigParameter::kPolicy); }

 private:
  plat::ConfigParameter& param_;
};

// What a launch hands over; may destroy the launcher from inside the call.
struct Receiver : os::LaunchWithPipeCallback {
  void launched(os::LaunchedIo& handed) override {
    io = std::move(handed);
    called = true;
    if (owner) owner->reset();
  }
  os::LaunchedIo io;
  bool called = false;
  std::unique_ptr<os::LaunchWithPipe>* owner = nullptr;
};

// The child's answer to a ping.
struct Pong : io::MsgIpc::Callback, io::MsgIpc::Reader {
  void closed(io::MsgIpc&) override {}
  bool readMsg(const char*, rdr::InStream& in, io::MsgIpc&) override {
    text = in.readStdString(1 << 16);
    pid = static_cast<pid_t>(in.readS64());
    ppid = static_cast<pid_t>(in.readS64());
    got = true;
    return true;
  }
  std::string text;
  pid_t pid = -1;
  pid_t ppid = -1;
  bool got = false;
};

bool isOwnChild(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0;
}

bool gone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

std::string sha256Hex(const void* data, size_t length) {
  plat::Buffer digest;
  crypto::digestOneShot(256, length, data, digest);
  return plat::binToHex(digest.count(), digest.data()).get();
}

class LaunchWithPipeTest : public os_test::ChannelTest {
 protected:
  // This executable as the child program in the given mode, its end of the
  // socket pair on descriptor 3.
  static os::LaunchConfig childConfig(const char* mode) {
    os::LaunchConfig cfg;
    cfg.args.emplace_back(os::getExecutablePath());
    cfg.args.emplace_back("-pipeChild");
    cfg.args.emplace_back(mode);
    cfg.childDescriptors = {3};
    return cfg;
  }

  // Elevated launches go through a fake command made of `text` (null: a
  // command that does not exist), even as root.
  void elevateThrough(const char* text) {
    command_.reset();
    force_.reset();
    command_.emplace(authorization::elevateCommand, text ? tmp_.write("elevate", text, 0755) : tmp_ / "missing");
    force_.emplace(authorization::forceElevation, "1");
  }

  // Sends a ping over io, waits for the pong, then closes the channel (the
  // child ends).  With childUid, the user the child runs as is read while
  // it still runs.
  Pong ping(os::LaunchedIo& io, uid_t* childUid = nullptr) {
    Pong pong;
    io::MsgIpc ipc(&pong, "parent", false, false);
    ipc.setReader("pong", &pong);
    ipc.attach(io.release());
    ipc.writeMsg("ping").writeString32("hello");
    ipc.out().endMsg(true);
    EXPECT_TRUE(os_test::turnUntil(loop_, [&] { return pong.got; }));
    if (childUid) {
      struct stat info {};
      EXPECT_EQ(::stat(("/proc/" + std::to_string(pong.pid)).c_str(), &info), 0);
      *childUid = info.st_uid;
    }
    ipc.detach(false);
    EXPECT_EQ(pong.text, "hello");
    return pong;
  }

  // Turns the loop until pid has been collected.
  bool collected(pid_t pid) {
    return os_test::turnUntil(loop_, [&] { return gone(pid); });
  }

  std::optional<Setting> command_;
  std::optional<Setting> force_;
};

// Over the inherited socket pair and over a named channel.
TEST_F(LaunchWithPipeTest, TheChildTalksOverItsChannelAndEndsWithIt) {
  for (bool named : {false, true}) {
    SCOPED_TRACE(named);
    os::LaunchWithPipe launcher(childConfig("echo"));
    Receiver receiver;
    if (named) {
      launcher.named().start(&receiver);
    } else {
      launcher.start(&receiver);
    }
    // Never from inside start.
    EXPECT_FALSE(receiver.called);
    ASSERT_TRUE(os_test::turnUntil(loop_, [&] { return receiver.called; }));
    ASSERT_TRUE(receiver.io);
    Pong pong = ping(receiver.io);
    EXPECT_EQ(pong.ppid, ::getpid());
    // The launch handed the child to the reaper.
    EXPECT_TRUE(collected(pong.pid));
  }
}

TEST_F(LaunchWithPipeTest, OutputAndInputOfAShortChild) {
  EXPECT_STREQ(os::LaunchWithPipe(childConfig("lines")).readOutputText(true).get(), "one\ntwo");
  EXPECT_STREQ(os::LaunchWithPipe(childConfig("lines")).readOutputText(false).get(), "one\ntwo\n");

  os::LaunchConfig cfg = childConfig("save");
  std::string file = tmp_ / "saved";
  cfg.extraArgs.emplace_back(file.c_str());
  os::LaunchWithPipe(cfg).runWithInput(5, "hello");
  EXPECT_EQ(yarl_test::readFile(file), "hello");
}

// Each fake command, with the owner destroying the launcher inside its
// callback (run under ASan).
TEST_F(LaunchWithPipeTest, ElevatedLaunchThroughTheElevationCommand) {
  enum Outcome { kParentIsUs, kParentIsTheCommand, kCancelled, kFailed };
  struct Case {
    const char* name;
    const char* script;
    Outcome outcome;
  };
  const Case cases[] = {
      {"exec", kExecScript, kParentIsUs},    {"stay", kStayScript, kParentIsTheCommand},
      {"cancel", kCancelScript, kCancelled}, {"fail", kFailScript, kFailed},
      {"missing", nullptr, kFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    elevateThrough(c.script);
    os::LaunchConfig cfg = childConfig("echo");
    cfg.elevate = true;
    cfg.prompt = plat::CharArray("Setup wants to make changes.");
    auto launcher = std::make_unique<os::LaunchWithPipe>(cfg);
    Receiver receiver;
    receiver.owner = &launcher;
    if (c.outcome == kCancelled) {
      EXPECT_EQ(failureOf<os::ElevateCancelled>([&] { launcher->start(&receiver); }), kCancelledText);
      continue;
    }
    if (c.outcome == kFailed) {
      EXPECT_THAT(failureOf<os::LaunchFailed>([&] { launcher->start(&receiver); }),
                  StartsWith(std::string("Elevation failed: ") + os::getExecutablePath() + ": "));
      continue;
    }
    launcher->start(&receiver);
    ASSERT_TRUE(os_test::turnUntil(loop_, [&] { return receiver.called; }));
    EXPECT_FALSE(launcher);
    ASSERT_TRUE(receiver.io);
    authorization::RecordedEnvironment env = authorization::lastRightsEnvironment();
    ASSERT_EQ(env.items.size(), 1u);
    EXPECT_STREQ(env.items[0].name.get(), "prompt");
    EXPECT_STREQ(env.items[0].value.get(), "Setup wants to make changes.");

    Pong pong = ping(receiver.io);
    if (c.outcome == kParentIsUs) {
      EXPECT_EQ(pong.ppid, ::getpid());
      EXPECT_TRUE(collected(pong.pid));
    } else {
      // Not ours, so not registered; the command that stayed its parent
      // is ours and is collected when it ends with the child.
      EXPECT_NE(pong.ppid, ::getpid());
      EXPECT_FALSE(isOwnChild(pong.pid));
      EXPECT_TRUE(collected(pong.ppid));
    }
  }
}

TEST_F(LaunchWithPipeTest, WithoutThePipeArgumentNoIdsAreReadAndNothingRegistered) {
  elevateThrough(kExecScript);
  os::LaunchConfig cfg = childConfig("args");
  cfg.elevate = true;
  cfg.noPipeArgument = true;
  cfg.extraArgs.emplace_back("-dummy");
  cfg.extraArgs.emplace_back("last");
  os::LaunchedIo io = os::launchViaAewp(cfg);
  ASSERT_TRUE(io);
  rdr::MemOutStream out;
  EXPECT_TRUE(os::LaunchWithPipe::writeAll(io->in(), out, true));
  std::string text(reinterpret_cast<const char*>(out.data()), out.length());
  // "-dummy" gave the child its standard input; neither "-nozombie" nor
  // "0" came before it.
  ASSERT_THAT(text, StartsWith("last\n"));
  pid_t pid = std::stoi(text.substr(5));
  ASSERT_TRUE(isOwnChild(pid));
  os_test::reap(pid);
}

TEST_F(LaunchWithPipeTest, AShortIdReportFailsAsTheStreamDoes) {
  std::string pidFile = tmp_ / "command.pid";
  std::string script = "#!/bin/sh\necho $$ > " + pidFile + "\nprintf x\n";
  elevateThrough(script.c_str());
  os::LaunchConfig cfg = childConfig("echo");
  cfg.elevate = true;
  os::LaunchWithPipe launcher(cfg);
  EXPECT_EQ(failureOf<rdr::EndOfStream>([&] { (void)launcher.launchChild(); }), "End of IO stream");
  // Nothing went to the reaper: the command is collected here.
  pid_t pid = std::stoi(yarl_test::readFile(pidFile));
  EXPECT_TRUE(isOwnChild(pid));
  os_test::reap(pid);
}

TEST_F(LaunchWithPipeTest, TheRightsRequestCarriesThePromptAndIcon) {
  struct Case {
    const char* prompt;
    const char* icon;
    bool given;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {"Allow?", "/icons/setup.png", true, {"prompt=Allow?", "icon=/icons/setup.png"}},
      {"Allow?", nullptr, true, {"prompt=Allow?"}},
      {nullptr, "/icons/setup.png", true, {"icon=/icons/setup.png"}},
      {nullptr, nullptr, false, {}},
  };
  for (const Case& c : cases) {
    os::Authorization auth(c.prompt, c.icon);
    EXPECT_EQ(auth.flags(), 19u);
    auth.copyRights();
    authorization::RecordedEnvironment env = authorization::lastRightsEnvironment();
    EXPECT_EQ(env.given, c.given);
    std::vector<std::string> items;
    for (const auto& item : env.items) items.push_back(std::string(item.name.get()) + "=" + item.value.get());
    EXPECT_EQ(items, c.items);
  }
  os::Authorization none(nullptr, nullptr);
  char* noArgs[] = {nullptr};
  EXPECT_EQ(failureOf<plat::Exception>([&] { none.executeWithPrivileges("/bin/true", noArgs, nullptr); }),
            "Cannot perform command without authorization reference");
}

TEST_F(LaunchWithPipeTest, OnlyAnOrdinaryUserNeedsTheElevationCommand) {
  std::string asNobody = yarl_test::inChild([] {
    yarl_test::becomeUser(yarl_test::nobody());
    return std::string(authorization::elevationNeeded() ? "needed" : "not needed");
  });
  EXPECT_EQ(asNobody, "needed");
  if (::geteuid() == 0) {
    EXPECT_FALSE(authorization::elevationNeeded());
    Setting force(authorization::forceElevation, "1");
    EXPECT_TRUE(authorization::elevationNeeded());
  }
}

TEST_F(LaunchWithPipeTest, TheChildRefusesBadLaunchArguments) {
  struct Case {
    std::vector<const char*> args;
    int required;
    const char* failure;
  };
  const Case cases[] = {
      {{"-hash"}, 0, "-hash argument bad or missing"},
      {{"-hash", "not-hex", "/tmp/x"}, 0, "-hash argument bad or missing"},
      {{"-hash", "abc", "/tmp/x"}, 0, "-hash argument bad or missing"},
      {{}, 0, "Bad command-line: got <null> instead of pipe name"},
      {{"-lppDebug", "-other"}, 0, "Bad command-line: got -other instead of pipe name"},
      {{"7"}, 1, "This program is not intended to be run directly."},
  };
  for (const Case& c : cases) {
    std::vector<char*> argv;
    for (const char* a : c.args) argv.push_back(const_cast<char*>(a));
    argv.push_back(nullptr);
    char** cursor = argv.data();
    os::LaunchPipeArgs args;
    os::LaunchedIo io;
    EXPECT_EQ(failureOf<plat::Exception>([&] { os::connectLaunchPipe(io, args, cursor, c.required); }), c.failure);
    EXPECT_FALSE(io);
  }
}

TEST_F(LaunchWithPipeTest, TheNamedChannelCarriesTheSecretFirst) {
  os::LaunchConfig cfg = childConfig("echo");
  Receiver receiver;
  os::LaunchPipeListener listener(cfg, &receiver);
  const plat::CharArrayList& args = listener.childConfig().args;
  ASSERT_EQ(args.size(), cfg.args.size() + 3);
  EXPECT_STREQ(args[3].get(), "-hash");
  EXPECT_STREQ(args[5].get(), listener.listener().path());
  EXPECT_EQ(cfg.args.size(), 3u);

  plat::UniqueFd client(os::connectUnix(listener.listener().path(), false, false));
  ASSERT_TRUE(os_test::turnUntil(loop_, [&] { return receiver.called; }));
  ASSERT_TRUE(receiver.io);
  unsigned char secret[32];
  ASSERT_EQ(::read(client.get(), secret, sizeof secret), 32);
  EXPECT_EQ(sha256Hex(secret, sizeof secret), args[4].get());
  struct stat info {};
  ASSERT_EQ(::stat(listener.listener().path(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(LaunchWithPipeTest, NamedChannelElevatedThroughTheCommand) {
  os::LaunchConfig cfg = childConfig("echo");
  cfg.elevate = true;
  struct Case {
    const char* name;
    const char* script;
    const char* syncFailure;
  };
  const std::string failed =
      std::string("Launch failed: elevate prog failed with status 127 for ") + os::getExecutablePath();
  const Case cases[] = {
      {"exec", kExecScript, nullptr},
      {"cancel", kCancelScript, kCancelledText},
      {"fail", kFailScript, failed.c_str()},
      // No elevation to be had.
      {"missing", nullptr, kCancelledText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    elevateThrough(c.script);
    // Synchronously.
    {
      os::LaunchWithPipe launcher(cfg);
      if (c.syncFailure) {
        EXPECT_EQ(failureOf<plat::Exception>([&] { (void)launcher.named().launchSync(); }), c.syncFailure);
      } else {
        os::LaunchedIo io = launcher.named().launchSync();
        ASSERT_TRUE(io);
        // The child detached ("-fork"): the command ended, the child goes
        // on elsewhere and ends with the channel.
        EXPECT_NE(ping(io).ppid, ::getpid());
      }
    }
    // From the loop, the owner destroying the launcher in its callback.
    auto launcher = std::make_unique<os::LaunchWithPipe>(cfg);
    Receiver receiver;
    receiver.owner = &launcher;
    launcher->named().start(&receiver);
    ASSERT_TRUE(os_test::turnUntil(loop_, [&] { return receiver.called; }));
    EXPECT_FALSE(launcher);
    EXPECT_EQ(static_cast<bool>(receiver.io), c.syncFailure == nullptr);
    if (receiver.io) (void)ping(receiver.io);
  }
}

// Run as another user (as root), the named channel sits in that user's
// folder and belongs to that user, whether the launch makes the folder or
// finds it, so the child reaches it.
TEST_F(LaunchWithPipeTest, NamedChannelRunAsAnotherUser) {
  ASSERT_EQ(::geteuid(), 0u) << "run-as needs root";
  const yarl_test::User nobody = yarl_test::nobody();
  const std::string folder = os::getUserTempPath(std::to_string(nobody.uid).c_str()).c_str();
  os::LaunchConfig cfg = childConfig("echo");
  cfg.runAsUid = nobody.uid;
  for (bool existing : {false, true}) {
    SCOPED_TRACE(existing ? "the user's existing folder" : "a folder made for the user");
    std::filesystem::remove_all(folder);
    if (existing) {
      ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
      ASSERT_EQ(::chown(folder.c_str(), nobody.uid, nobody.gid), 0);
    }
    os::LaunchWithPipe launcher(cfg);
    Receiver receiver;
    launcher.named().start(&receiver);
    ASSERT_TRUE(os_test::turnUntil(loop_, [&] { return receiver.called; }));
    ASSERT_TRUE(receiver.io);
    uid_t childUid = 0;
    (void)ping(receiver.io, &childUid);
    EXPECT_EQ(childUid, nobody.uid);
    struct stat info {};
    ASSERT_EQ(::lstat(folder.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_uid, nobody.uid);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
  }
}

TEST_F(LaunchWithPipeTest, AChildGivenTheWrongHashLogsBesideTheChannel) {
  Setting debug(os::lppDebug, "1");
  os::LaunchConfig cfg = childConfig("echo");
  Receiver receiver;
  os::LaunchPipeListener listener(cfg, &receiver);
  std::string path = listener.listener().path();
  std::string log = path.substr(0, path.rfind('/')) + "/lppDebug.log";
  std::string target = tmp_ / "target";

  // A child whose expected hash is not the secret's; the second finds a
  // link planted where its log goes.
  for (bool planted : {false, true}) {
    SCOPED_TRACE(planted);
    if (planted) {
      ASSERT_EQ(::unlink(log.c_str()), 0);
      ASSERT_EQ(::symlink(target.c_str(), log.c_str()), 0);
    }
    os::LaunchConfig child = childConfig("echo");
    std::string wrong(64, '0');
    for (const char* a : {"-lppDebug", "-hash", wrong.c_str(), path.c_str()}) child.args.emplace_back(a);
    os::LaunchProcess process(child);
    process.launch();
    ASSERT_TRUE(os_test::turnUntil(loop_, [&] { return receiver.called; }));
    receiver.called = false;
    receiver.io.reset();
    int exitCode = -1;
    ASSERT_TRUE(process.waitForExit(exitCode, 20000));
    EXPECT_EQ(exitCode, 3);
    if (!planted) {
      std::string text = yarl_test::readFile(log);
      EXPECT_THAT(text, HasSubstr("Z: connecting to '" + path + "'\n"));
      EXPECT_THAT(text, HasSubstr("Bad hash\n"));
      struct stat info {};
      ASSERT_EQ(::lstat(log.c_str(), &info), 0);
      EXPECT_EQ(info.st_mode & 0777, 0600u);
    }
  }
  EXPECT_EQ(yarl_test::readFile(target), "<missing>");
  ASSERT_EQ(::unlink(log.c_str()), 0);
}

}  // namespace
