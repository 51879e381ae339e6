#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "qocore/base/io/FdHandler.h"
#include "qocore/base/io/FdKicker.h"
#include "qocore/base/io/FdManager.h"
#include "qocore/base/io/FdSelectManager.h"
#include "qocore/base/io/mac/IoRunLoopManager.h"
#include "qocore/base/io/tests/Managers.h"
#include "testing/Loopback.h"
#include "testing/SocketPair.h"

namespace {

using io::FdManager;

// A handler that writes each event into a shared trace and can run an
// action on it.
struct Handler : io::FdHandler {
  Handler(std::string name, int fd, std::string* trace) : name(std::move(name)), trace(trace) { fd_ = fd; }
  void readReady() override {
    *trace += name + ".r ";
    if (onRead) onRead();
  }
  // Write interest is one-shot here, as a connection with nothing more to
  // send would have it.
  void writeReady() override {
    *trace += name + ".w ";
    if (manager) manager->setInterest(this, io::interestIf(wantRead, io::Interest::kRead));
  }
  void connectError(int32_t err) override { *trace += name + ".e" + std::to_string(err) + " "; }
  // Finishes its shutdown as a connection does: drops its interest.
  void fdManagerGone() override {
    *trace += name + ".gone ";
    if (manager) manager->setInterest(this, io::Interest::kNone);
    manager = nullptr;
  }
  void watch(FdManager& m, bool read, bool write) {
    manager = &m;
    wantRead = read;
    m.addHandler(this, true);
    m.setInterest(this, io::interestIf(read, io::Interest::kRead) | io::interestIf(write, io::Interest::kWrite));
  }
  void unwatch(FdManager& m) {
    m.setInterest(this, io::Interest::kNone);
    m.addHandler(this, false);
    manager = nullptr;
  }
  std::string name;
  std::string* trace;
  std::function<void()> onRead;
  FdManager* manager = nullptr;
  bool wantRead = false;
};

struct TraceTimer : plat::Timer::Callback {
  explicit TraceTimer(std::string* trace) : trace(trace) {}
  bool timerExpired(plat::Timer*) override {
    *trace += "timer ";
    return false;
  }
  std::string* trace;
  plat::Timer timer{this};
};

using io_test::Kind;
using io_test::makeManager;
using io_test::settle;

class BothManagers : public ::testing::TestWithParam<Kind> {};

TEST_P(BothManagers, DueTimerThenReadThenWrite) {
  auto m = makeManager(GetParam());
  std::string trace;
  yarl_test::SocketPair sp(SOCK_NONBLOCK);
  ASSERT_EQ(1, write(sp.far.get(), "x", 1));
  Handler h("h", sp.near.get(), &trace);
  h.onRead = [&] {
    char c;
    while (read(sp.near.get(), &c, 1) == 1) {
    }
  };
  TraceTimer t(&trace);
  t.timer.start(0);
  h.watch(*m, true, true);
  settle(*m);
  EXPECT_EQ("timer h.r h.w ", trace);
  h.unwatch(*m);
}

TEST_P(BothManagers, HandlerRemovedDuringThePassGetsNothingMore) {
  auto m = makeManager(GetParam());
  std::string trace;
  yarl_test::SocketPair a(SOCK_NONBLOCK), b(SOCK_NONBLOCK);
  ASSERT_EQ(1, write(a.far.get(), "x", 1));
  ASSERT_EQ(1, write(b.far.get(), "x", 1));
  Handler ha("a", a.near.get(), &trace), hb("b", b.near.get(), &trace);
  // Whichever reads first unregisters both; its own write is dropped too.
  auto removeBoth = [&] {
    ha.unwatch(*m);
    hb.unwatch(*m);
  };
  ha.onRead = removeBoth;
  hb.onRead = removeBoth;
  ha.watch(*m, true, true);
  hb.watch(*m, true, true);
  settle(*m);
  EXPECT_TRUE(trace == "a.r " || trace == "b.r ") << trace;
}

TEST_P(BothManagers, DestroyedManagerTellsHandlersAndRestoresPrevious) {
  io::IoRunLoopManager outer;
  std::string trace;
  yarl_test::SocketPair sp(SOCK_NONBLOCK);
  Handler h1("h1", sp.near.get(), &trace), h2("h2", sp.far.get(), &trace);
  {
    std::unique_ptr<FdManager> inner;
    if (GetParam() == Kind::kRunLoop)
      inner = std::make_unique<io::IoRunLoopManager>(true);
    else
      inner = std::make_unique<io::FdSelectManager>(true);
    EXPECT_EQ(inner.get(), FdManager::current());
    h1.watch(*inner, true, false);
    h2.watch(*inner, true, true);
  }
  EXPECT_EQ(&outer, FdManager::current());
  // The outer manager serves timers again.
  TraceTimer t(&trace);
  t.timer.start(1);
  settle(outer);
  EXPECT_NE(std::string::npos, trace.find("timer"));
  EXPECT_NE(std::string::npos, trace.find("h1.gone"));
  EXPECT_NE(std::string::npos, trace.find("h2.gone"));
  EXPECT_EQ(std::string::npos, trace.find(".r")) << trace;
}

TEST_P(BothManagers, DescriptorsAbove1023AreServed) {
  rlimit lim;
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &lim));
  rlimit saved = lim;
  if (lim.rlim_cur < 2048) lim.rlim_cur = lim.rlim_max < 2048 ? lim.rlim_max : 2048;
  ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &lim));
  ASSERT_GE(lim.rlim_cur, 1600u) << "the hard descriptor limit is too low for this test";
  yarl_test::SocketPair sp(SOCK_NONBLOCK);
  int high = fcntl(sp.near.get(), F_DUPFD_CLOEXEC, 1500);
  ASSERT_GE(high, 1500);
  auto m = makeManager(GetParam());
  std::string trace;
  Handler h("h", high, &trace);
  h.onRead = [&] {
    char c;
    while (read(high, &c, 1) == 1) {
    }
  };
  h.watch(*m, true, true);
  ASSERT_EQ(1, write(sp.far.get(), "x", 1));
  settle(*m);
  EXPECT_EQ("h.r h.w ", trace);
  h.unwatch(*m);
  m.reset();
  close(high);
  setrlimit(RLIMIT_NOFILE, &saved);
}

INSTANTIATE_TEST_SUITE_P(Managers, BothManagers, ::testing::Values(Kind::kRunLoop, Kind::kSelect),
                         [](const auto& info) { return info.param == Kind::kRunLoop ? "RunLoop" : "Select"; });

TEST_P(BothManagers, UseFromAnotherThreadIsAnAssertionInDebugBuilds) {
#ifdef NDEBUG
  GTEST_SKIP() << "the owner-thread check is compiled into debug builds only";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const Kind kind = GetParam();
  EXPECT_EXIT(
      {
        auto m = makeManager(kind);
        std::string trace;
        Handler h("h", 0, &trace);
        std::thread other([&] { m->addHandler(&h, true); });
        other.join();
      },
      testing::KilledBySignal(SIGABRT), "Assertion 'onOwnerThread' failed");
#endif
}

TEST(IoRunLoopManagerTest, SameInterestTwiceCallsNothingAndWriteIsOneShot) {
  io::IoRunLoopManager m;
  runloop::RunLoop& loop = m.runLoop();
  std::string trace;
  yarl_test::SocketPair sp(SOCK_NONBLOCK);
  Handler h("h", sp.near.get(), &trace);
  m.addHandler(&h, true);
  h.manager = &m;
  h.wantRead = true;

  struct Step {
    bool read, write;
    uint64_t enables, disables;  // loop calls made by this step
  };
  // The first interest creates the source (write switched off at once for a
  // handler that is not connecting); repeats call nothing.
  const Step steps[] = {
      {true, false, 0, 1}, {true, false, 0, 0}, {true, true, 1, 0},
      {true, true, 0, 0},  {true, false, 1, 1}, {true, false, 0, 0},
  };
  for (const Step& s : steps) {
    uint64_t e = loop.enableCalls(), d = loop.disableCalls();
    m.setInterest(&h, io::interestIf(s.read, io::Interest::kRead) | io::interestIf(s.write, io::Interest::kWrite));
    EXPECT_EQ(s.enables, loop.enableCalls() - e) << s.read << s.write;
    EXPECT_EQ(s.disables, loop.disableCalls() - d) << s.read << s.write;
  }

  // A write notice is delivered once; asking again re-arms it.
  m.setInterest(&h, io::Interest::kRead | io::Interest::kWrite);
  settle(m);
  EXPECT_EQ("h.w ", trace);
  m.setInterest(&h, io::Interest::kRead | io::Interest::kWrite);
  settle(m);
  EXPECT_EQ("h.w h.w ", trace);
  h.unwatch(m);
  EXPECT_EQ(0u, loop.sourceCount());
}

TEST(IoRunLoopManagerDeathTest, InterestOfAnUnknownHandlerIsAnAssertion) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        io::IoRunLoopManager m;
        std::string trace;
        Handler stranger("s", 0, &trace);
        m.setInterest(&stranger, io::Interest::kRead);
      },
      testing::KilledBySignal(SIGABRT), "Assertion 'j != handlers.end\\(\\) \\|\\| i != socks.end\\(\\)' failed");
}

TEST(IoRunLoopManagerTest, FailedConnectDeliversConnectErrorThenWriteReady) {
  // A loopback port that nobody listens on.
  sockaddr_in addr = yarl_test::closedLoopbackPort();

  io::IoRunLoopManager m;
  std::string trace;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  Handler h("h", fd, &trace);
  ASSERT_EQ(-1, connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
  ASSERT_EQ(EINPROGRESS, errno);
  h.connecting_ = true;
  h.watch(m, false, true);
  settle(m);
  EXPECT_EQ("h.e" + std::to_string(ECONNREFUSED) + " h.w ", trace);
  h.unwatch(m);
  close(fd);
}

TEST(FdSelectManagerTest, PollReportsAsSelectDid) {
  struct Case {
    const char* name;
    bool read, write, except;
    bool hangUp;  // the peer closes
    bool urgent;  // the peer sends out-of-band data
    const char* trace;
  };
  const Case cases[] = {
      {"idle", true, false, false, false, false, ""},
      {"hang-up watched for read", true, false, false, true, false, "h.r "},
      {"hang-up watched for write only", false, true, false, true, false, "h.w "},
      {"urgent data watched for exceptions", false, false, true, false, true, "h.r "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    io::FdSelectManager m(false);
    int fds[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds));
    if (c.urgent) {
      // Unix sockets carry no urgent data: use a loopback TCP pair.
      close(fds[0]);
      close(fds[1]);
      int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
      socklen_t len = sizeof addr;
      ASSERT_EQ(0, getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len));
      ASSERT_EQ(0, listen(listener, 1));
      fds[1] = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      ASSERT_EQ(0, connect(fds[1], reinterpret_cast<sockaddr*>(&addr), sizeof addr));
      fds[0] = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      close(listener);
      ASSERT_EQ(1, send(fds[1], "!", 1, MSG_OOB));
    }
    if (c.hangUp) {
      close(fds[1]);
      fds[1] = -1;
    }
    std::string trace;
    Handler h("h", fds[0], &trace);
    m.addHandler(&h, true);
    m.setInterest(&h, io::interestIf(c.read, io::Interest::kRead) | io::interestIf(c.write, io::Interest::kWrite) |
                          io::interestIf(c.except, io::Interest::kExcept));
    bool any = m.poll(c.trace[0] ? 1000 : 20);
    EXPECT_EQ(c.trace[0] != '\0', any);
    EXPECT_EQ(c.trace, trace);
    h.unwatch(m);
    close(fds[0]);
    if (fds[1] >= 0) close(fds[1]);
  }
}

TEST(FdSelectManagerTest, DueTimerEndsTheWaitAndCounts) {
  io::FdSelectManager m(false);
  std::string trace;
  TraceTimer t(&trace);
  t.timer.start(5);
  EXPECT_TRUE(m.poll(-1));
  EXPECT_EQ("timer ", trace);
  EXPECT_FALSE(m.poll(0));
}

struct Collector : io::FdKickerCallback {
  void kicked(io::FdKicker&, rdr::InStream& in) override {
    // A short check rewinds to the checkpoint: mark each byte consumed.
    while (in.check(false, 1)) {
      bytes.push_back(in.readU8());
      in.setCheckpoint();
    }
    if (bytes.size() >= 256) runloop::RunLoop::current().stop();
  }
  std::vector<uint8_t> bytes;
};

TEST(FdKickerTest, AllByteValuesArriveInOrderFromAnotherThread) {
  io::IoRunLoopManager m;
  Collector c;
  io::FdKicker kicker(&c);
  std::thread kicking([&] {
    for (int i = 0; i < 256; ++i) kicker.kick(static_cast<uint8_t>(i));
  });
  m.runLoop().run();
  kicking.join();
  ASSERT_EQ(256u, c.bytes.size());
  for (int i = 0; i < 256; ++i) EXPECT_EQ(i, c.bytes[i]);
  EXPECT_FALSE(kicker.hasPending());
}

TEST(FdKickerTest, DrainDiscardsAndHasPendingSees) {
  io::FdSelectManager m(false);
  Collector c;
  io::FdKicker kicker(&c);
  EXPECT_FALSE(kicker.hasPending());
  kicker.kick(7);
  EXPECT_TRUE(kicker.hasPending());
  for (int i = 0; i < 5000; ++i) kicker.kick(1);
  kicker.drain();
  EXPECT_FALSE(kicker.hasPending());
  EXPECT_FALSE(m.poll(10));
  EXPECT_TRUE(c.bytes.empty());
}

TEST(FdKickerTest, OutlivesItsManager) {
  Collector c;
  std::unique_ptr<io::FdKicker> kicker;
  {
    io::FdSelectManager m(false);
    kicker = std::make_unique<io::FdKicker>(&c);
  }
  kicker->kick(1);  // still usable; its destruction does not touch the manager
  kicker.reset();
}

}  // namespace
