#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "platform/runloop/RunLoop.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/UniqueFd.h"
#include "testing/Loopback.h"
#include "testing/SocketPair.h"

namespace {

using runloop::kConnectCallBack;
using runloop::kReadCallBack;
using runloop::kWriteCallBack;
using runloop::RunLoop;

// Records the callouts a source receives.
struct Recorder {
  std::vector<std::pair<unsigned, int>> calls;
  runloop::Source::Callout callout() {
    return [this](unsigned type, int error) { calls.emplace_back(type, error); };
  }
};

TEST(RunLoopTest, ReadStaysEnabledWriteIsOneShotAndCallsAreCounted) {
  RunLoop loop;
  yarl_test::SocketPair sp(SOCK_NONBLOCK);
  ASSERT_EQ(1, write(sp.far.get(), "x", 1));
  Recorder rec;
  runloop::Source* src = loop.addSource(sp.near.get(), rec.callout(), kReadCallBack | kWriteCallBack);

  // Read before write in one turn; then read alone, as the byte stays.
  ASSERT_EQ(RunLoop::Result::kHandledSource, loop.runOnce(1000));
  ASSERT_EQ(RunLoop::Result::kHandledSource, loop.runOnce(1000));
  std::vector<std::pair<unsigned, int>> expected = {{kReadCallBack, 0}, {kWriteCallBack, 0}, {kReadCallBack, 0}};
  EXPECT_EQ(expected, rec.calls);
  EXPECT_EQ(unsigned(kReadCallBack), src->enabled());

  // Write comes back only when enabled again.
  char c;
  ASSERT_EQ(1, read(sp.near.get(), &c, 1));
  rec.calls.clear();
  EXPECT_EQ(RunLoop::Result::kTimedOut, loop.runOnce(20));
  loop.enableCallBacks(src, kWriteCallBack);
  EXPECT_EQ(RunLoop::Result::kHandledSource, loop.runOnce(1000));
  expected = {{kWriteCallBack, 0}};
  EXPECT_EQ(expected, rec.calls);

  loop.disableCallBacks(src, kReadCallBack);
  loop.enableCallBacks(src, kReadCallBack);
  EXPECT_EQ(2u, loop.enableCalls());
  EXPECT_EQ(1u, loop.disableCalls());
  loop.removeSource(src);
  EXPECT_EQ(0u, loop.sourceCount());
}

TEST(RunLoopTest, HungUpDescriptorWithEveryCallbackOffDoesNotSpin) {
  RunLoop loop;
  yarl_test::SocketPair sp(SOCK_NONBLOCK);
  sp.far.reset();
  Recorder rec;
  runloop::Source* src = loop.addSource(sp.near.get(), rec.callout(), kReadCallBack);
  ASSERT_EQ(RunLoop::Result::kHandledSource, loop.runOnce(1000));
  loop.disableCallBacks(src, kReadCallBack);
  uint64_t before = loop.turns();
  EXPECT_EQ(RunLoop::Result::kTimedOut, loop.runOnce(50));
  EXPECT_LE(loop.turns() - before, 2u);
  EXPECT_EQ(1u, rec.calls.size());
  loop.removeSource(src);
}

TEST(RunLoopTest, HangUpIsReadAndWriteWhileWriteIsEnabled) {
  RunLoop loop;
  yarl_test::SocketPair sp(SOCK_NONBLOCK);
  sp.far.reset();
  Recorder rec;
  runloop::Source* src = loop.addSource(sp.near.get(), rec.callout(), kReadCallBack | kWriteCallBack);
  ASSERT_EQ(RunLoop::Result::kHandledSource, loop.runOnce(1000));
  std::vector<std::pair<unsigned, int>> expected = {{kReadCallBack, 0}, {kWriteCallBack, 0}};
  EXPECT_EQ(expected, rec.calls);
  loop.removeSource(src);
}

TEST(RunLoopTest, SourceRemovedByEarlierCalloutOfTheBatchGetsNothing) {
  RunLoop loop;
  yarl_test::SocketPair a(SOCK_NONBLOCK), b(SOCK_NONBLOCK), quiet(SOCK_NONBLOCK);
  ASSERT_EQ(1, write(a.far.get(), "x", 1));
  ASSERT_EQ(1, write(b.far.get(), "x", 1));
  runloop::Source* srcA = nullptr;
  runloop::Source* srcB = nullptr;
  runloop::Source* reopened = nullptr;
  int fired = 0;
  int staleCalls = 0;
  // Both are ready in the same batch.  Whichever runs first consumes its
  // byte, removes the other, closes its descriptor and reuses the number
  // for a quiet socket of a fresh source.
  auto makeCallout = [&](int ownFd, runloop::Source** other, int otherFd) {
    return [&, ownFd, other, otherFd](unsigned, int) {
      ++fired;
      char c;
      EXPECT_EQ(1, read(ownFd, &c, 1));
      if (*other == nullptr) return;
      loop.removeSource(*other);
      *other = nullptr;
      ASSERT_EQ(otherFd, dup3(quiet.near.get(), otherFd, O_CLOEXEC));
      reopened = loop.addSource(
          otherFd, [&](unsigned, int) { ++staleCalls; }, kReadCallBack);
    };
  };
  srcA = loop.addSource(a.near.get(), makeCallout(a.near.get(), &srcB, b.near.get()), kReadCallBack);
  srcB = loop.addSource(b.near.get(), makeCallout(b.near.get(), &srcA, a.near.get()), kReadCallBack);
  loop.setTimerCallout([&] { loop.stop(); });
  loop.setTimerFireTime(plat::getMonotonicTime() + 50 * plat::kTicksPerMs);
  loop.run();
  EXPECT_EQ(1, fired);
  EXPECT_EQ(0, staleCalls);
  for (runloop::Source* s : {srcA, srcB, reopened})
    if (s) loop.removeSource(s);
}

TEST(RunLoopTest, DescriptorsEpollRefusesAreAlwaysReady) {
  char path[] = "/tmp/runloop-file-XXXXXX";
  int fileFd = mkostemp(path, O_CLOEXEC);
  ASSERT_GE(fileFd, 0);
  unlink(path);
  int nullFd = open("/dev/null", O_RDWR | O_CLOEXEC);
  ASSERT_GE(nullFd, 0);
  for (int fd : {fileFd, nullFd}) {
    SCOPED_TRACE(fd == nullFd ? "/dev/null" : "regular file");
    RunLoop loop;
    Recorder rec;
    runloop::Source* src = loop.addSource(fd, rec.callout(), kReadCallBack | kWriteCallBack);
    loop.enableCallBacks(src, kWriteCallBack);
    EXPECT_EQ(RunLoop::Result::kHandledSource, loop.runOnce(5000));
    std::vector<std::pair<unsigned, int>> expected = {{kReadCallBack, 0}, {kWriteCallBack, 0}};
    EXPECT_EQ(expected, rec.calls);
    loop.removeSource(src);
  }
  close(fileFd);
  close(nullFd);
}

TEST(RunLoopTest, FailedConnectReportsErrorThenWrite) {
  // A loopback port that nobody listens on.
  sockaddr_in addr = yarl_test::closedLoopbackPort();

  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  int rc = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ASSERT_TRUE(rc == -1 && errno == EINPROGRESS) << "connect answered at once: " << errno;
  RunLoop loop;
  Recorder rec;
  runloop::Source* src = loop.addSource(fd, rec.callout(), kConnectCallBack | kWriteCallBack);
  ASSERT_EQ(RunLoop::Result::kHandledSource, loop.runOnce(5000));
  std::vector<std::pair<unsigned, int>> expected = {{kConnectCallBack, ECONNREFUSED}, {kWriteCallBack, 0}};
  EXPECT_EQ(expected, rec.calls);
  EXPECT_EQ(0u, src->enabled());
  loop.removeSource(src);
  close(fd);
}

plat::TimeValue fakeNow = 0;
plat::TimeValue fakeClock(plat::TimeValue, bool* jumped) {
  if (jumped) *jumped = false;
  return fakeNow;
}

TEST(RunLoopTest, TimerFiresOnceWithoutCountingAsSourceAndNeverBusyWaits) {
  RunLoop loop;
  int fired = 0;
  loop.setTimerCallout([&] { ++fired; });
  // Half a millisecond ahead: the wait rounds up to one, it does not spin.
  loop.setTimerFireTime(plat::getMonotonicTime() + plat::kTicksPerMs / 2);
  EXPECT_EQ(RunLoop::Result::kFinished, loop.runOnce(5000));
  EXPECT_EQ(1, fired);
  EXPECT_LE(loop.turns(), 3u);
  EXPECT_FALSE(loop.timerArmed());

  // The timer reads the replaceable clock: frozen before its due time, it
  // does not fire however long the loop waits.
  auto previous = plat::setMonotonicClock(fakeClock);
  fakeNow = 1000 * plat::kTicksPerMs;
  loop.setTimerFireTime(fakeNow + 1);
  EXPECT_EQ(RunLoop::Result::kTimedOut, loop.runOnce(30));
  EXPECT_EQ(1, fired);
  fakeNow += 1;
  EXPECT_EQ(RunLoop::Result::kFinished, loop.runOnce(30));
  EXPECT_EQ(2, fired);
  plat::setMonotonicClock(previous);
}

TEST(RunLoopTest, RunIsReentrantAndStopEndsTheInnermost) {
  RunLoop loop;
  yarl_test::SocketPair sp(SOCK_NONBLOCK);
  std::string trace;
  runloop::Source* src = nullptr;
  src = loop.addSource(
      sp.near.get(),
      [&](unsigned type, int) {
        if (type != kWriteCallBack) return;
        trace += "w";
        if (trace == "w") {
          // A modal loop inside the callout keeps serving the same source.
          loop.enableCallBacks(src, kWriteCallBack);
          loop.run();
          trace += ")";
          loop.enableCallBacks(src, kWriteCallBack);
        } else {
          loop.stop();
        }
      },
      kWriteCallBack);
  loop.run();
  // Outer write, inner write stops the inner run; the outer one goes on to
  // the next write and stops.
  EXPECT_EQ("ww)w", trace);
  loop.removeSource(src);
  EXPECT_EQ(RunLoop::Result::kFinished, loop.runOnce(-1));
}

TEST(RunLoopTest, ADescriptorEpollRefusesLeavesNoSource) {
  int closedNumber;
  {
    yarl_test::SocketPair sp(SOCK_NONBLOCK);
    closedNumber = sp.near.get();
  }
  for (int fd : {-1, closedNumber}) {
    SCOPED_TRACE(fd);
    RunLoop loop;
    Recorder rec;
    EXPECT_THROW(loop.addSource(fd, rec.callout(), kReadCallBack), plat::StdlibException);
    EXPECT_EQ(0u, loop.sourceCount());
    EXPECT_EQ(RunLoop::Result::kFinished, loop.runOnce(0));
  }
}

// Closing a descriptor before its removeSource is the caller's fault; a new
// source on the reused number must still work, and the late removeSource
// must not touch it.
TEST(RunLoopTest, ASourceOnAReusedNumberReplacesTheStaleRegistration) {
  for (bool keptOpen : {false, true}) {
    SCOPED_TRACE(keptOpen ? "a duplicate keeps the old description open" : "old description closed");
    RunLoop loop;
    yarl_test::SocketPair old(SOCK_NONBLOCK), fresh(SOCK_NONBLOCK);
    const int number = old.near.get();
    Recorder staleRec, rec;
    runloop::Source* stale = loop.addSource(number, staleRec.callout(), kReadCallBack);
    plat::UniqueFd duplicate;
    if (keptOpen) duplicate.reset(fcntl(number, F_DUPFD_CLOEXEC, 0));
    old.near.reset();
    ASSERT_EQ(number, dup3(fresh.near.get(), number, O_CLOEXEC));
    plat::UniqueFd reused(number);
    // Both descriptions are readable: only the new source may hear of it.
    if (keptOpen) {
      ASSERT_EQ(1, write(old.far.get(), "x", 1));
    }
    ASSERT_EQ(1, write(fresh.far.get(), "y", 1));

    runloop::Source* src = loop.addSource(number, rec.callout(), kReadCallBack);
    loop.removeSource(stale);
    ASSERT_EQ(RunLoop::Result::kHandledSource, loop.runOnce(1000));
    std::vector<std::pair<unsigned, int>> expected = {{kReadCallBack, 0}};
    EXPECT_EQ(expected, rec.calls);
    char c;
    ASSERT_EQ(1, read(number, &c, 1));
    EXPECT_EQ('y', c);

    // Nothing is left to serve: the loop sleeps, it does not spin.
    const uint64_t before = loop.turns();
    EXPECT_EQ(RunLoop::Result::kTimedOut, loop.runOnce(50));
    EXPECT_LE(loop.turns() - before, 2u);
    EXPECT_TRUE(staleRec.calls.empty());
    loop.removeSource(src);
  }
}

TEST(RunLoopDeathTest, UseFromAnotherThreadIsAnAssertionInDebugBuilds) {
#ifdef NDEBUG
  GTEST_SKIP() << "the owner-thread check is compiled into debug builds only";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        RunLoop loop;
        std::thread other([&loop] { loop.clearTimer(); });
        other.join();
      },
      testing::KilledBySignal(SIGABRT), "Assertion 'onOwnerThread' failed");
#endif
}

}  // namespace
