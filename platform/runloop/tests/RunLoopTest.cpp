#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/runloop/RunLoop.h"
#include "testing/Loopback.h"

namespace {

using runloop::kConnectCallBack;
using runloop::kReadCallBack;
using runloop::kWriteCallBack;
using runloop::RunLoop;

struct SocketPair {
  int fd[2];
  SocketPair() { EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fd)); }
  ~SocketPair() {
    for (int f : fd)
      if (f >= 0) close(f);
  }
};

// Records the callouts a source receives.
struct Recorder {
  std::vector<std::pair<unsigned, int>> calls;
  runloop::Source::Callout callout() {
    return [this](unsigned type, int error) { calls.emplace_back(type, error); };
  }
};

TEST(RunLoopTest, ReadStaysEnabledWriteIsOneShotAndCallsAreCounted) {
  RunLoop loop;
  SocketPair sp;
  ASSERT_EQ(1, write(sp.fd[1], "x", 1));
  Recorder rec;
  runloop::Source* src = loop.addSource(sp.fd[0], rec.callout(), kReadCallBack | kWriteCallBack);

  // Read before write in one turn; then read alone, as the byte stays.
  ASSERT_EQ(RunLoop::Result::kHandledSource, loop.runOnce(1000));
  ASSERT_EQ(RunLoop::Result::kHandledSource, loop.runOnce(1000));
  std::vector<std::pair<unsigned, int>> expected = {{kReadCallBack, 0}, {kWriteCallBack, 0}, {kReadCallBack, 0}};
  EXPECT_EQ(expected, rec.calls);
  EXPECT_EQ(unsigned(kReadCallBack), src->enabled());

  // Write comes back only when enabled again.
  char c;
  ASSERT_EQ(1, read(sp.fd[0], &c, 1));
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
  SocketPair sp;
  close(sp.fd[1]);
  sp.fd[1] = -1;
  Recorder rec;
  runloop::Source* src = loop.addSource(sp.fd[0], rec.callout(), kReadCallBack);
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
  SocketPair sp;
  close(sp.fd[1]);
  sp.fd[1] = -1;
  Recorder rec;
  runloop::Source* src = loop.addSource(sp.fd[0], rec.callout(), kReadCallBack | kWriteCallBack);
  ASSERT_EQ(RunLoop::Result::kHandledSource, loop.runOnce(1000));
  std::vector<std::pair<unsigned, int>> expected = {{kReadCallBack, 0}, {kWriteCallBack, 0}};
  EXPECT_EQ(expected, rec.calls);
  loop.removeSource(src);
}

TEST(RunLoopTest, SourceRemovedByEarlierCalloutOfTheBatchGetsNothing) {
  RunLoop loop;
  SocketPair a, b, quiet;
  ASSERT_EQ(1, write(a.fd[1], "x", 1));
  ASSERT_EQ(1, write(b.fd[1], "x", 1));
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
      ASSERT_EQ(otherFd, dup3(quiet.fd[0], otherFd, O_CLOEXEC));
      reopened = loop.addSource(
          otherFd, [&](unsigned, int) { ++staleCalls; }, kReadCallBack);
    };
  };
  srcA = loop.addSource(a.fd[0], makeCallout(a.fd[0], &srcB, b.fd[0]), kReadCallBack);
  srcB = loop.addSource(b.fd[0], makeCallout(b.fd[0], &srcA, a.fd[0]), kReadCallBack);
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
  SocketPair sp;
  std::string trace;
  runloop::Source* src = nullptr;
  src = loop.addSource(
      sp.fd[0],
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

}  // namespace
