#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "qocore/base/io/FdSelectManager.h"
#include "qocore/base/os/tests/ChildHelpers.h"
#include "qocore/base/os/unix/ProcessMonitor.h"
#include "qocore/base/plat/Time.h"
#include "testing/LogCapture.h"

namespace {

using os_test::turnUntil;

struct Exits : os::ProcessMonitor::Callback {
  void processExited(os::ProcessMonitor* monitor, int exitCode) override {
    codes.push_back(exitCode);
    if (deleteMonitor) delete monitor;
  }
  std::vector<int> codes;
  bool deleteMonitor = false;
};

class ProcessMonitorTest : public testing::Test {
 protected:
  io::FdSelectManager loop_{false};
  Exits exits_;
};

TEST_F(ProcessMonitorTest, AChildGoneBeforeItsMonitorIsReportedFromTheFirstTurn) {
  pid_t pid = os_test::exitedChild(3);
  os::ProcessMonitor monitor(pid, &exits_, "early");
  loop_.poll(0);
  EXPECT_EQ(exits_.codes, std::vector<int>{3});
  EXPECT_EQ(monitor.pid(), -1);
}

TEST_F(ProcessMonitorTest, SigtermGivesMinus15AndALogLine) {
  yarl_test::LogCapture capture("ProcessMonitor:capture:100");
  os_test::HeldChild child(0);
  os::ProcessMonitor monitor(child.pid, &exits_, "held");
  loop_.poll(0);
  EXPECT_TRUE(exits_.codes.empty());
  monitor.kill(SIGTERM);
  ASSERT_TRUE(turnUntil(loop_, [&] { return !exits_.codes.empty(); }));
  EXPECT_EQ(exits_.codes, std::vector<int>{-SIGTERM});
  std::string line = "child " + std::to_string(child.pid) + " (held) exited with signal SIGTERM";
  EXPECT_EQ(capture.from("ProcessMonitor"),
            (std::vector<yarl_test::LogRecord>{{"ProcessMonitor", plat::LogSrc::kDebug, line}}));
}

TEST_F(ProcessMonitorTest, TheOwnerMayDestroyTheMonitorInsideTheReport) {
  exits_.deleteMonitor = true;
  // From the 0 ms check of a child that is already gone...
  pid_t pid = os_test::exitedChild(0);
  new os::ProcessMonitor(pid, &exits_, "/bin/true");
  loop_.poll(0);
  EXPECT_EQ(exits_.codes, std::vector<int>{0});

  // ... and from SIGCHLD, once the first check has passed.
  os_test::HeldChild child(7);
  new os::ProcessMonitor(child.pid, &exits_, "held");
  loop_.poll(0);
  child.letGo();
  ASSERT_TRUE(turnUntil(loop_, [&] { return exits_.codes.size() == 2; }));
  EXPECT_EQ(exits_.codes, (std::vector<int>{0, 7}));
  loop_.poll(20);
}

TEST_F(ProcessMonitorTest, TheDestructorWaitsForTheChild) {
  os_test::HeldChild child(0);
  pid_t pid = child.pid;
  {
    os::ProcessMonitor monitor(pid, nullptr, "held");
    child.letGo();
  }
  int status;
  EXPECT_EQ(::waitpid(pid, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST_F(ProcessMonitorTest, AReleasedChildGoesToTheReaperAndIsNotWaitedFor) {
  yarl_test::LogCapture capture("ProcessMonitor:capture:100");
  os_test::HeldChild child(5);
  pid_t pid = child.pid;
  {
    os::ProcessMonitor monitor(pid, &exits_, "held");
    loop_.poll(0);
    monitor.release();
    EXPECT_EQ(monitor.pid(), -1);
    // Going now does not wait: the child runs until it is let go below.
  }
  child.letGo();
  std::string line = "child " + std::to_string(pid) + " (<detached>) exited with status 5";
  ASSERT_TRUE(turnUntil(loop_, [&] { return !capture.from("ProcessMonitor").empty(); }));
  EXPECT_EQ(capture.from("ProcessMonitor"),
            (std::vector<yarl_test::LogRecord>{{"ProcessMonitor", plat::LogSrc::kDebug, line}}));
  EXPECT_TRUE(exits_.codes.empty());
  int status;
  EXPECT_EQ(::waitpid(pid, &status, WNOHANG), -1);
}

TEST_F(ProcessMonitorTest, TheReaperCollectsAHandedOverChild) {
  yarl_test::LogCapture capture("ProcessMonitor:capture:100");
  os_test::HeldChild child(4);
  pid_t pid = child.pid;
  os::addChildToReap(pid);
  child.letGo();
  std::string line = "child " + std::to_string(pid) + " (<detached>) exited with status 4";
  ASSERT_TRUE(turnUntil(loop_, [&] { return !capture.from("ProcessMonitor").empty(); }));
  EXPECT_EQ(capture.from("ProcessMonitor"),
            (std::vector<yarl_test::LogRecord>{{"ProcessMonitor", plat::LogSrc::kDebug, line}}));
  int status;
  EXPECT_EQ(::waitpid(pid, &status, WNOHANG), -1);
}

// waitWithTimeout on a child that keeps running, with a clock that moves
// only when the waiter sleeps.
std::atomic<plat::TimeValue> fakeNow{1'000'000};
std::vector<int>* sleeps = nullptr;

plat::TimeValue readFakeClock(plat::TimeValue /*expected*/, bool* jumped) {
  if (jumped) *jumped = false;
  return fakeNow.load();
}
void recordSleep(int ms) {
  sleeps->push_back(ms);
  fakeNow += ms * plat::kTicksPerMs;
}

TEST(PidCleanupTest, WaitWithTimeoutLooksEveryTenthOfTheTimeBetween50And1000Ms) {
  struct Case {
    int timeoutMs;
    std::vector<int> sleeps;
  };
  const Case cases[] = {
      {120, {50, 50, 20}},
      {20000, std::vector<int>(20, 1000)},
      {30, {30}},
      {600, {60, 60, 60, 60, 60, 60, 60, 60, 60, 60}},
      {0, {}},
  };
  os_test::HeldChild child(0);
  os::PidCleanup cleanup(child.pid, "held");
  auto previousClock = plat::setMonotonicClock(&readFakeClock);
  auto previousSleep = os::PidCleanup::setSleepForTest(&recordSleep);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.timeoutMs);
    std::vector<int> seen;
    sleeps = &seen;
    int status = 0;
    EXPECT_FALSE(cleanup.waitWithTimeout(status, c.timeoutMs));
    EXPECT_EQ(seen, c.sleeps);
  }
  os::PidCleanup::setSleepForTest(previousSleep);
  plat::setMonotonicClock(previousClock);

  child.letGo();
  int status = -1;
  EXPECT_TRUE(cleanup.waitWithTimeout(status, -1));
  EXPECT_EQ(os::exitCodeFromStatus(status), 0);
  EXPECT_EQ(cleanup.pid(), -1);
}

TEST(PidCleanupTest, ExitCodes) {
  pid_t pid = os_test::exitedChild(200);
  os::PidCleanup cleanup(pid, "x");
  int status = 0;
  EXPECT_TRUE(cleanup.wait(status, 0));
  EXPECT_EQ(os::exitCodeFromStatus(status), 200);
  EXPECT_FALSE(cleanup.wait(status, 0));

  os_test::HeldChild held(0);
  os::sendSignal(held.pid, SIGKILL);
  cleanup.set(held.pid, "killed");
  EXPECT_TRUE(cleanup.wait(status, 0));
  EXPECT_EQ(os::exitCodeFromStatus(status), -SIGKILL);
}

}  // namespace
