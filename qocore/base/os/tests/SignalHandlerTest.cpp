#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "qocore/base/io/FdSelectManager.h"
#include "qocore/base/os/tests/ChildHelpers.h"
#include "qocore/base/os/unix/SignalHandler.h"
#include "qocore/base/plat/Exception.h"
#include "testing/FailureOf.h"

namespace {

// Records each call as "<name>:<signal>" into a shared log; optionally
// removes another callback when called.
struct Recorder : os::SignalHandler::Callback {
  Recorder(std::vector<std::string>& log, const char* name) : log(log), name(name) {}
  void handleSignal(int sig) override {
    log.push_back(std::string(name) + ":" + std::to_string(sig));
    if (removes) os::SignalHandler::instance().addCallback(sig, removes, false);
  }
  std::vector<std::string>& log;
  const char* name;
  Recorder* removes = nullptr;
};

bool hasDefaultAction(int sig) {
  struct sigaction current {};
  ::sigaction(sig, nullptr, &current);
  return current.sa_handler == SIG_DFL;
}

class SignalHandlerTest : public testing::Test {
 protected:
  // Raises sig and turns the loop until the dispatcher has read it.
  void deliver(int sig, size_t expectedCalls) {
    ASSERT_EQ(::raise(sig), 0);
    os_test::turnUntil(loop_, [&] { return log_.size() >= expectedCalls; });
    loop_.poll(0);
  }

  io::FdSelectManager loop_{false};
  std::vector<std::string> log_;
  os::SignalHandler& handler_ = os::SignalHandler::instance();
};

TEST_F(SignalHandlerTest, EveryCallbackOfTheSignalRunsLastRegisteredFirst) {
  Recorder a(log_, "a"), b(log_, "b"), other(log_, "other");
  handler_.addCallback(SIGUSR1, &a, true);
  handler_.addCallback(SIGUSR2, &other, true);
  handler_.addCallback(SIGUSR1, &b, true);
  const std::string usr1 = std::to_string(SIGUSR1);
  deliver(SIGUSR1, 2);
  EXPECT_EQ(log_, (std::vector<std::string>{"b:" + usr1, "a:" + usr1}));

  // One left: the handler stays; none left: the default action is back.
  handler_.addCallback(SIGUSR1, &a, false);
  EXPECT_FALSE(hasDefaultAction(SIGUSR1));
  log_.clear();
  deliver(SIGUSR1, 1);
  EXPECT_EQ(log_, (std::vector<std::string>{"b:" + usr1}));
  handler_.addCallback(SIGUSR1, &b, false);
  EXPECT_TRUE(hasDefaultAction(SIGUSR1));
  handler_.addCallback(SIGUSR2, &other, false);
  EXPECT_TRUE(hasDefaultAction(SIGUSR2));
}

TEST_F(SignalHandlerTest, ACallbackRemovedDuringDispatchDoesNotRun) {
  Recorder first(log_, "first"), second(log_, "second");
  handler_.addCallback(SIGUSR1, &first, true);
  handler_.addCallback(SIGUSR1, &second, true);
  second.removes = &first;
  deliver(SIGUSR1, 1);
  // Give a wrongly kept callback its chance.
  loop_.poll(20);
  EXPECT_EQ(log_, (std::vector<std::string>{"second:" + std::to_string(SIGUSR1)}));
  handler_.addCallback(SIGUSR1, &second, false);
  EXPECT_TRUE(hasDefaultAction(SIGUSR1));
}

TEST_F(SignalHandlerTest, SignalsReachALoopMadeAfterTheFirstOneWent) {
  Recorder a(log_, "a");
  {
    // A nested loop of its own, gone before the signal comes.
    io::FdSelectManager inner(true);
    handler_.addCallback(SIGUSR2, &a, true);
    handler_.addCallback(SIGUSR2, &a, false);
  }
  handler_.addCallback(SIGUSR2, &a, true);
  deliver(SIGUSR2, 1);
  EXPECT_EQ(log_, (std::vector<std::string>{"a:" + std::to_string(SIGUSR2)}));
  handler_.addCallback(SIGUSR2, &a, false);
}

TEST(SignalNameTest, NamesBySymbol) {
  // clang-format off
  struct Case { int sig; const char* name; };
  const Case cases[] = {
      {SIGHUP, "SIGHUP"}, {SIGINT, "SIGINT"}, {SIGKILL, "SIGKILL"}, {SIGTERM, "SIGTERM"},
      {SIGCHLD, "SIGCHLD"}, {SIGUSR1, "SIGUSR1"}, {SIGUSR2, "SIGUSR2"}, {SIGSYS, "SIGSYS"},
      {SIGWINCH, "SIGWINCH"}, {SIGIO, "SIGIO"}, {SIGSTKFLT, nullptr}, {SIGPWR, nullptr},
      {0, nullptr}, {32, nullptr}, {-1, nullptr},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sig);
    const char* name = os::signalName(c.sig);
    if (c.name)
      EXPECT_STREQ(name, c.name);
    else
      EXPECT_EQ(name, nullptr);
  }
  int named = 0;
  for (int sig = 1; sig <= 31; ++sig) named += os::signalName(sig) != nullptr;
  EXPECT_EQ(named, 29);
}

TEST(SendSignalTest, AFailureNamesThePidAndTheSignal) {
  // A pid that no process can have (above the kernel's limit).
  const pid_t none = 0x3fffffff;
  EXPECT_EQ(yarl_test::failureOf<plat::SystemException>([&] { os::sendSignal(none, SIGTERM); }),
            "kill(1073741823,SIGTERM): No such process (3)");
  EXPECT_EQ(yarl_test::failureOf<plat::SystemException>([&] { os::sendSignal(none, 40); }),
            "kill(1073741823,40): No such process (3)");
}

}  // namespace
