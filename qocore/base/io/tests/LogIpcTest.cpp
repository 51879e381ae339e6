// Logging over the message channel: a forked child logs through "ipc", the
// test process is its parent and reads the lines through a channel-fed
// source.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qocore/base/io/FdIo.h"
#include "qocore/base/io/FdSelectManager.h"
#include "qocore/base/io/Ipc.h"
#include "qocore/base/io/LogDestIpc.h"
#include "qocore/base/io/mac/IoRunLoopManager.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/LogDestMem.h"
#include "qocore/base/plat/LogSrc.h"
#include "testing/LogCapture.h"
#include "testing/RunUntil.h"
#include "testing/SocketPair.h"

namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::HasSubstr;
using testing::StartsWith;
using yarl_test::LogCapture;
using yarl_test::LogRecord;

PLAT_LOG_SOURCE(workerLog, "Worker");

io::Io* connectionOver(plat::UniqueFd fd, bool nonBlocking = true) {
  return new io::FdIo(fd.release(), true, false, -1, -1, nonBlocking);
}

struct Events : io::MsgIpc::Callback {
  void closed(io::MsgIpc&) override { ++closes; }
  void error(io::MsgIpc&, const plat::Exception& e) override { errors.emplace_back(e.str()); }
  int closes = 0;
  std::vector<std::string> errors;
};

// What a child does: logs before its channel exists, waits for the
// parent's level, logs again and may then fail an assertion on its loop
// thread.  It ends when the parent closes the channel.
struct ChildScript {
  // The child's `Log` value: only the test's sources, so that nothing of
  // the set-up takes a place in the queue.
  const char* log = "Worker:ipc:200,Assertion:ipc:200";
  std::function<void()> beforeChannel = [] {};
  int32_t awaitLevel = 200;
  std::function<void()> afterLevel = [] {};
  bool failAssertion = false;
};

// The child's whole life; never returns.
[[noreturn]] void childMain(plat::UniqueFd fd, const std::function<void(plat::UniqueFd)>& body) {
  int code = 0;
  try {
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    // The assertion's own report on stderr is not the test's output.
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devNull >= 0) dup2(devNull, 2);
    body(std::move(fd));
  } catch (...) {
    // Reported to the parent as the exit status.
    code = 3;
  }
  _exit(code);
}

void runScript(plat::UniqueFd fd, const ChildScript& script) {
  // What the test process logged before the fork is not the child's.
  plat::LogDestMem::instance().clear();
  if (!plat::Configuration::global().setParam("Log", script.log, 2000)) _exit(4);
  script.beforeChannel();
  io::FdSelectManager manager(false);
  Events events;
  io::MsgIpc ipc(&events, "Parent", false, true);
  ipc.attach(connectionOver(std::move(fd)));
  plat::LogDestIpc& dest = plat::LogDestIpc::instance();
  dest.setChannel(&ipc);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ipc.attached() && dest.level() != script.awaitLevel && std::chrono::steady_clock::now() < deadline) {
    manager.poll(20);
  }
  script.afterLevel();
  if (script.failAssertion) {
    const bool childCarriesOn = false;
    PLAT_ASSERT(childCarriesOn);
  }
  while (ipc.attached() && std::chrono::steady_clock::now() < deadline) manager.poll(20);
  dest.setChannel(nullptr);
}

class LogIpcTest : public testing::Test {
 protected:
  ~LogIpcTest() override {
    ipc.reset();
    if (child > 0) {
      kill(child, SIGKILL);
      waitStatus();
    }
  }

  // Forks the child, then sets up the parent's side, asking for `level`.
  void start(const std::function<void(plat::UniqueFd)>& body, int32_t level) {
    yarl_test::SocketPair pair;
    child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      pair.near.reset();
      childMain(std::move(pair.far), body);
    }
    pair.far.reset();
    manager = std::make_unique<io::IoRunLoopManager>();
    source = std::make_unique<plat::LogSrcViaIpc>("Kid");
    capture = std::make_unique<LogCapture>("Kid:capture:200");
    ipc = std::make_unique<io::MsgIpc>(&events, "Child", false, true);
    ipc->attach(connectionOver(std::move(pair.near)));
    source->setChannel(ipc.get(), true, level);
  }
  void start(const ChildScript& script, int32_t level) {
    start([script](plat::UniqueFd fd) { runScript(std::move(fd), script); }, level);
  }

  // Turns the loop until `done` holds (at most ten seconds).
  bool spinUntil(const std::function<bool()>& done) {
    return yarl_test::runUntil(manager->runLoop(), done, std::chrono::seconds(10));
  }

  // The child's wait status (once).
  int waitStatus() {
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    child = -1;
    return status;
  }
  // Closes the channel; the child then ends.
  int finish() {
    ipc->detach(false);
    return waitStatus();
  }

  // The texts the parent wrote through its source that begin with prefix.
  std::vector<std::string> texts(const std::string& prefix) {
    std::vector<std::string> out;
    for (const LogRecord& r : capture->from("Kid")) {
      if (r.text.rfind(prefix, 0) == 0) out.push_back(r.text);
    }
    return out;
  }
  bool received(const std::string& text) {
    for (const LogRecord& r : capture->from("Kid")) {
      if (r.text == text) return true;
    }
    return false;
  }

  pid_t child = -1;
  std::unique_ptr<io::IoRunLoopManager> manager;
  std::unique_ptr<plat::LogSrcViaIpc> source;
  std::unique_ptr<LogCapture> capture;
  Events events;
  std::unique_ptr<io::MsgIpc> ipc;
};

// plat's lookup reaches the destination through the hook this library
// fills; the lookup makes it.
TEST(LogDestIpcLookupTest, FindLogDestGivesTheChannelDestination) {
  plat::LogDest* const found = plat::findLogDest("IPC");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found, &plat::LogDestIpc::instance());
  EXPECT_STREQ(found->name(), "ipc");
}

TEST_F(LogIpcTest, LinesLoggedBeforeTheParentAttachesArriveUpToTheQueueSize) {
  ChildScript script;
  script.beforeChannel = [] {
    for (int i = 0; i < 1500; ++i) workerLog().info("line %d", i);
  };
  start(script, 200);
  const std::string overflow = "LogDestIpc: Too many messages, discarding further ones";
  ASSERT_TRUE(spinUntil([&] { return received(overflow); }));

  std::vector<LogRecord> expected;
  for (int i = 0; i < 1000; ++i) expected.push_back({"Kid", 30, "Worker: line " + std::to_string(i)});
  expected.push_back({"Kid", 0, overflow});
  std::vector<LogRecord> records = capture->from("Kid");
  ASSERT_GE(records.size(), expected.size());
  records.resize(expected.size());
  EXPECT_THAT(records, ElementsAreArray(expected));
  EXPECT_EQ(finish(), 0);
}

TEST_F(LogIpcTest, ParentLevelDropsDebugLinesQueuedAndNew) {
  ChildScript script;
  script.beforeChannel = [] {
    workerLog().debug("early debug");
    workerLog().info("early info");
  };
  script.awaitLevel = 30;
  script.afterLevel = [] {
    workerLog().debug("late debug");
    workerLog().info("late info");
  };
  start(script, 30);
  ASSERT_TRUE(spinUntil([&] { return received("Worker: late info"); }));
  EXPECT_THAT(texts("Worker: "), ElementsAre("Worker: early info", "Worker: late info"));
  EXPECT_EQ(finish(), 0);
}

TEST_F(LogIpcTest, LongSourceNamesAndMessagesAreCut) {
  static char longName[301];
  std::fill(longName, longName + 300, 'S');
  const std::string longText(3000, 'm');
  ChildScript script;
  script.beforeChannel = [&] {
    // Made before the child's `Log` value is applied, so that it binds.
    static plat::LogSrc* longSource = new plat::LogSrc(longName);
    if (!plat::Configuration::global().setParam("Log", "*:ipc:200", 2000)) _exit(4);
    longSource->info("short");
    workerLog().info("%s", longText.c_str());
  };
  start(script, 200);
  const std::string cutText = "Worker: " + longText.substr(0, 1024);
  const std::string cutSource = std::string(255, 'S') + ": short";
  ASSERT_TRUE(spinUntil([&] { return received(cutText) && received(cutSource); }));
  EXPECT_EQ(finish(), 0);
}

TEST_F(LogIpcTest, OverlongMessageFromTheChildClosesTheChannel) {
  start(
      [](plat::UniqueFd fd) {
        Events events;
        io::MsgIpc ipc(&events, "Parent", true, true);
        ipc.attach(connectionOver(std::move(fd), false));
        rdr::OutStream& out = ipc.writeMsg("logMsg");
        out.writeS32(30);
        out.writeString8("Worker");
        out.writeString32(std::string(1025, 'm').c_str());
        ipc.out().endMsg(true);
        ipc.readUntilClosed();
      },
      200);
  ASSERT_TRUE(spinUntil([&] { return events.closes > 0; }));
  EXPECT_THAT(events.errors, ElementsAre("String exceeds maximum length"));
  EXPECT_THAT(capture->from("Kid"), testing::IsEmpty());
  EXPECT_EQ(waitStatus(), 0);
}

// Lines logged while the channel has lost its connection stay queued for
// the next channel; sending them into the lost one would only discard them
// (and the channel's "Discarding message" line would feed the queue again).
TEST_F(LogIpcTest, LinesLoggedWhileTheConnectionIsLostGoToTheNextChannel) {
  yarl_test::SocketPair second;
  start(
      [&second](plat::UniqueFd fd) {
        second.near.reset();
        plat::LogDestMem::instance().clear();
        if (!plat::Configuration::global().setParam("Log", "Worker:ipc:200,Ipc:ipc:200", 2000)) _exit(4);
        io::FdSelectManager manager(false);
        plat::LogDestIpc& dest = plat::LogDestIpc::instance();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        auto spin = [&](const std::function<bool()>& done) {
          while (!done() && std::chrono::steady_clock::now() < deadline) manager.poll(20);
        };
        Events events;
        io::MsgIpc first(&events, "Parent", false, true);
        first.attach(connectionOver(std::move(fd)));
        dest.setChannel(&first);
        spin([&] { return dest.level() == 200; });
        workerLog().info("on first");
        spin([&] { return !first.attached(); });
        for (int i = 0; i < 3; ++i) workerLog().info("while lost %d", i);
        for (int i = 0; i < 5; ++i) manager.poll(20);

        io::MsgIpc next(&events, "Parent", false, true);
        next.attach(connectionOver(std::move(second.far)));
        dest.setChannel(&next);
        spin([&] { return !next.attached(); });
        dest.setChannel(nullptr);
      },
      200);
  second.far.reset();
  ASSERT_TRUE(spinUntil([&] { return received("Worker: on first"); }));
  ipc->detach(false);

  io::MsgIpc next(&events, "Child again", false, true);
  next.attach(connectionOver(std::move(second.near)));
  source->setChannel(&next, true, 30);
  ASSERT_TRUE(spinUntil([&] { return received("Worker: while lost 2"); }));
  EXPECT_THAT(texts("Worker: "),
              ElementsAre("Worker: on first", "Worker: while lost 0", "Worker: while lost 1", "Worker: while lost 2"));
  for (const std::string& text : texts("Ipc: ")) EXPECT_THAT(text, testing::Not(HasSubstr("Discarding message")));
  next.detach(false);
  EXPECT_EQ(waitStatus(), 0);
}

TEST_F(LogIpcTest, FailedAssertionOnTheLoopThreadReachesTheParentFirst) {
  ChildScript script;
  script.afterLevel = [] { workerLog().info("giving up"); };
  script.failAssertion = true;
  start(script, 200);
  // The child's end of the channel closes when it aborts.
  ASSERT_TRUE(spinUntil([&] { return events.closes > 0; }));
  const int status = waitStatus();
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGABRT);

  std::vector<std::string> lines = texts("");
  auto giving = std::find(lines.begin(), lines.end(), "Worker: giving up");
  ASSERT_NE(giving, lines.end());
  ASSERT_NE(giving + 1, lines.end());
  EXPECT_THAT(*(giving + 1), StartsWith("Assertion: Assertion 'childCarriesOn' failed at "));
  EXPECT_THAT(texts("Assertion: stacktrace: "), testing::Not(testing::IsEmpty()));
}

}  // namespace
