#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "platform/runloop/RunLoop.h"
#include "qocore/base/os/AppLoop.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "testing/LogCapture.h"

// The loop keeps the process-wide run-loop manager until exit, so each test
// runs in a fresh process of its own (the threadsafe death-test style
// re-runs the test binary for it) and reports through its exit code.

namespace {

// Runs `action` from inside the loop: a callout of a pipe that is ready at
// once.  The source is removed before the action, so it runs once.
void fromInsideLoop(std::function<void()> action) {
  static int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0 || write(fds[1], "x", 1) != 1) std::abort();
  static std::function<void()> pending;
  pending = std::move(action);
  static runloop::Source* source;
  source = runloop::RunLoop::current().addSource(
      fds[0],
      [](unsigned, int) {
        runloop::RunLoop::current().removeSource(source);
        auto run = std::move(pending);
        run();
      },
      runloop::kReadCallBack);
}

class AppLoopTest : public testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(AppLoopTest, RunAnswersTheLastQuitCode) {
  EXPECT_EXIT(
      {
        os::AppLoop loop;
        fromInsideLoop([] {
          os::AppLoop::quit(3);
          os::AppLoop::quit(7);
        });
        int first = loop.run();
        fromInsideLoop([] { os::AppLoop::quit(11); });
        int second = loop.run();
        _exit(first == 7 && second == 11 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(AppLoopTest, WithNothingWatchedRunWaitsForQuit) {
  // Nothing can quit this loop: an alarm ends the child while it still runs.
  EXPECT_EXIT(
      {
        os::AppLoop loop;
        ualarm(200'000, 0);
        loop.run();
        _exit(0);
      },
      testing::KilledBySignal(SIGALRM), "");
}

TEST_F(AppLoopTest, MisuseIsAnAssertion) {
  EXPECT_EXIT(
      {
        os::AppLoop loop;
        os::AppLoop second;
      },
      testing::KilledBySignal(SIGABRT), "Assertion '!inst' failed at qocore/base/os/AppLoop.cpp");
  EXPECT_EXIT(
      {
        os::AppLoop loop;
        fromInsideLoop([&loop] { loop.run(); });
        loop.run();
      },
      testing::KilledBySignal(SIGABRT), "Assertion '!isRunning' failed");
  EXPECT_EXIT(os::AppLoop::quit(1), testing::KilledBySignal(SIGABRT), "Assertion 'inst && inst->isRunning' failed");
  EXPECT_EXIT(
      {
        os::AppLoop loop;
        os::AppLoop::quit(1);
      },
      testing::KilledBySignal(SIGABRT), "Assertion 'inst && inst->isRunning' failed");
}

// An implementation that fails on its first run and quits at once after.
class FailingOnce : public os::AppLoop::Impl {
 public:
  int run() override {
    if (runs_++ == 0) throw plat::Exception("loop failed");
    os::AppLoop::quit(5);
    return os::AppLoop::exitCode();
  }
  void quit() override {}

 private:
  int runs_ = 0;
};

TEST_F(AppLoopTest, AnExceptionOutOfRunLeavesTheLoopIdle) {
  EXPECT_EXIT(
      {
        os::AppLoop loop(new FailingOnce);
        bool thrown = false;
        try {
          loop.run();
        } catch (const plat::Exception& e) {
          thrown = std::string(e.str()) == "loop failed";
        }
        _exit(thrown && loop.run() == 5 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

// A destination that is not ready until the test says so, as a log file
// that opens late: what its source writes meanwhile is held.
class LateCapture : public yarl_test::LogCapture {
 public:
  LateCapture() : yarl_test::LogCapture("*:capture:110") {}
  bool ready() override { return open; }
  bool open = false;
};

TEST_F(AppLoopTest, StartingTheLoopReplaysHeldMessages) {
  EXPECT_EXIT(
      {
        static plat::LogSrc held("AppLoopTest");
        LateCapture capture;
        held.info("held until the loop starts");
        capture.open = true;
        bool before = !plat::isLogConfigured() && capture.from("AppLoopTest").empty();
        os::AppLoop loop;
        fromInsideLoop([] { os::AppLoop::quit(0); });
        loop.run();
        bool replayed = false;
        for (const yarl_test::LogRecord& r : capture.from("AppLoopTest")) {
          replayed = replayed || r.text == "held until the loop starts";
        }
        _exit(before && replayed && plat::isLogConfigured() ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
