#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "qocore/base/io/FdIo.h"
#include "qocore/base/io/tests/Managers.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/UniqueFd.h"
#include "qocore/base/rdr/Exceptions.h"
#include "testing/LogCapture.h"
#include "testing/SocketPair.h"

namespace {

plat::TimeValue fakeNow = 0;
plat::TimeValue readFakeClock(plat::TimeValue, bool* jumped) {
  if (jumped) *jumped = false;
  return fakeNow;
}

// Installs a clock that moves only when the test says so; it must outlive
// the manager whose timers read it.
struct FakeClock {
  FakeClock() {
    fakeNow = 1'000'000 * plat::kTicksPerSecond;
    previous = plat::setMonotonicClock(&readFakeClock);
  }
  ~FakeClock() { plat::setMonotonicClock(previous); }
  void advanceMs(int ms) { fakeNow += ms * plat::kTicksPerMs; }
  plat::MonotonicClockFn previous;
};

struct LazyFlushTimeout {
  static constexpr int kPriority = 1000;
  explicit LazyFlushTimeout(const char* seconds) { EXPECT_TRUE(io::lazyFlushTimeout.setParam(seconds, kPriority)); }
  ~LazyFlushTimeout() { io::lazyFlushTimeout.unsetParam(kPriority); }
};

// Records the events of one connection and reads whatever arrives.
struct Recorder : io::IoHandler {
  void readable(io::Io& io) override {
    ++readables;
    rdr::InStream& in = io.in();
    for (;;) {
      in.setCheckpoint();
      received += static_cast<char>(in.readU8());
    }
  }
  void writable(io::Io&) override { ++writables; }
  void shutdownDone(io::Io& io) override {
    ++dones;
    doneIo = &io;
  }
  int readables = 0;
  int writables = 0;
  int dones = 0;
  io::Io* doneIo = nullptr;
  std::string received;
};

// Two connected loopback TCP sockets whose kernel buffers are small, so a
// peer that stops reading blocks the writer after a few kilobytes.
struct TcpPair {
  TcpPair() {
    const plat::UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    shrink(listener.get());
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    EXPECT_EQ(0, ::bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), len));
    EXPECT_EQ(0, ::listen(listener.get(), 1));
    EXPECT_EQ(0, ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&addr), &len));
    ours = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    shrink(ours);
    EXPECT_EQ(0, ::connect(ours, reinterpret_cast<sockaddr*>(&addr), len));
    peer.reset(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    shrink(peer.get());
  }
  static void shrink(int fd) {
    const int size = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof(size));
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
  }
  // Reads what the peer has now (non-blocking); false at the end of data.
  bool drain(std::string& into) {
    char buf[65536];
    for (;;) {
      const ssize_t n = ::recv(peer.get(), buf, sizeof(buf), MSG_DONTWAIT);
      if (n > 0) {
        into.append(buf, static_cast<size_t>(n));
        continue;
      }
      return n < 0;
    }
  }
  int ours = -1;  // handed to the connection, which owns it
  plat::UniqueFd peer;
};

// Every case runs on both managers.
class FdIoTest : public testing::TestWithParam<io_test::Kind> {
 protected:
  // Loop rounds without waiting for the descriptors.
  void passes(int n) {
    for (int i = 0; i < n; ++i) io_test::turn(*manager, 0);
  }
  // One loop round that waits at most `ms`.
  void wait(int ms) { io_test::turn(*manager, ms); }

  FakeClock clock;
  std::unique_ptr<io::FdManager> manager = io_test::makeManager(GetParam());
  Recorder handler;
};

TEST_P(FdIoTest, NewHandlerHearsOfBufferedInputAndOfWritability) {
  yarl_test::SocketPair sp;
  ASSERT_EQ(5, ::write(sp.far.get(), "hello", 5));
  const int fd = sp.near.get();
  auto* io = new io::FdIo(sp.near.release(), true, false, -1, -1, true);
  EXPECT_EQ("<fd" + std::to_string(fd) + ">", io->displayName().c_str());
  // One byte read without a handler pulls all five into the buffer.
  EXPECT_EQ('h', io->in().readU8());

  io->setHandler(&handler, true);
  passes(1);
  EXPECT_EQ(1, handler.readables);
  EXPECT_EQ("ello", handler.received);
  EXPECT_EQ(1, handler.writables);

  io->shutdown(false, true);
  passes(2);
  EXPECT_EQ(1, handler.dones);
  char c;
  EXPECT_EQ(0, ::read(sp.far.get(), &c, 1)) << "the owned descriptor is closed";
}

TEST_P(FdIoTest, CloseAfterOutputShutsTheWritingSideOnceDrainedAndKeepsReading) {
  yarl_test::SocketPair sp;
  auto* io = new io::FdIo(sp.near.release(), true, false, -1, -1, true);
  io->out().writeBytes(reinterpret_cast<const uint8_t*>("bye"), 3);
  io->closeAfterOutput();
  io->setHandler(&handler, true);
  passes(3);
  EXPECT_EQ(0, handler.writables) << "a closing connection asks for no more output";
  char buf[8];
  EXPECT_EQ(3, ::read(sp.far.get(), buf, sizeof(buf)));
  EXPECT_EQ(0, ::read(sp.far.get(), buf, sizeof(buf))) << "then the end of the data";

  ASSERT_EQ(1, ::write(sp.far.get(), "x", 1));
  for (int i = 0; i < 10 && handler.received.empty(); ++i) wait(20);
  EXPECT_EQ("x", handler.received);
  io->shutdown(false, false);
  passes(1);
}

TEST_P(FdIoTest, FlushingShutdownWritesEverythingThenTellsOnce) {
  TcpPair tcp;
  auto* io = new io::FdIo(tcp.ours, true, false, -1, -1, true);
  io->setHandler(&handler, true);
  const std::string sent(1 << 20, 'x');
  io->out().writeBytes(reinterpret_cast<const uint8_t*>(sent.data()), static_cast<int32_t>(sent.size()));
  io->out().flush();
  io->shutdown(true, true);

  std::string got;
  bool open = true;
  for (int i = 0; i < 100000 && open; ++i) {
    wait(5);
    open = tcp.drain(got);
  }
  EXPECT_FALSE(open) << "the peer sees the end of the data";
  EXPECT_EQ(sent.size(), got.size());
  EXPECT_EQ(1, handler.dones);
  EXPECT_EQ(0, handler.readables);
}

// A peer that never reads: the output stays pending.
void fillUntilBlocked(io::FdIo& io) {
  const std::string chunk(1 << 20, 'y');
  io.out().writeBytes(reinterpret_cast<const uint8_t*>(chunk.data()), static_cast<int32_t>(chunk.size()));
  io.out().flush();
  ASSERT_GT(io.out().pendingBytes(), 0);
}

TEST_P(FdIoTest, BlockedOutputFailsTheNextReadAfterLazyFlushTimeout) {
  LazyFlushTimeout timeout("30");
  TcpPair tcp;
  auto* io = new io::FdIo(tcp.ours, true, false, -1, -1, true);
  io->setHandler(&handler, true);
  passes(1);
  fillUntilBlocked(*io);
  passes(3);
  clock.advanceMs(29'999);
  passes(3);
  EXPECT_EQ(0, handler.dones) << "still within the time-out";

  clock.advanceMs(1);
  passes(3);
  EXPECT_EQ(1, handler.readables) << "the broken input is reported as readable";
  EXPECT_EQ(1, handler.dones) << "the failed read ended the connection";
}

TEST_P(FdIoTest, ShutdownWithoutTellingAgainstAStuckPeerClosesAtOnceWithZeroTimeout) {
  LazyFlushTimeout timeout("0");
  TcpPair tcp;
  auto* io = new io::FdIo(tcp.ours, true, false, -1, -1, true);
  io->setHandler(&handler, true);
  passes(1);
  fillUntilBlocked(*io);
  io->shutdown(true, false);
  std::string got;
  bool open = true;
  for (int i = 0; i < 50 && open; ++i) {
    passes(1);
    if (i > 5) open = tcp.drain(got);
  }
  EXPECT_FALSE(open) << "the connection gave up its output and closed";
  EXPECT_EQ(0, handler.dones);
}

TEST_P(FdIoTest, WithZeroTimeoutAConnectionThatWroteEverythingStaysOpen) {
  LazyFlushTimeout timeout("0");
  TcpPair tcp;
  auto* io = new io::FdIo(tcp.ours, true, false, -1, -1, true);
  io->setHandler(&handler, true);
  passes(1);
  io->out().writeBytes(reinterpret_cast<const uint8_t*>("ping"), 4);
  io->out().flush();
  passes(5);
  std::string got;
  EXPECT_TRUE(tcp.drain(got));
  EXPECT_EQ("ping", got);

  ASSERT_EQ(4, ::send(tcp.peer.get(), "pong", 4, 0));
  for (int i = 0; i < 20 && handler.received.size() < 4; ++i) wait(20);
  EXPECT_EQ("pong", handler.received);
  EXPECT_EQ(0, handler.dones);
  io->shutdown(false, true);
  passes(2);
  EXPECT_EQ(1, handler.dones);
}

TEST_P(FdIoTest, DestroyingTheManagerCompletesAShutdownInProgress) {
  yarl_test::LogCapture capture("FdIo:capture:110");
  TcpPair tcp;
  auto* io = new io::FdIo(tcp.ours, true, false, -1, -1, true);
  io->setHandler(&handler, true);
  passes(1);
  fillUntilBlocked(*io);
  io->shutdown(true, true);
  passes(2);
  ASSERT_EQ(0, handler.dones);

  manager.reset();
  EXPECT_EQ(1, handler.dones);
  bool logged = false;
  for (const auto& r : capture.from("FdIo"))
    logged |= r.text.find("shutdown completed by FdManager dtor") != std::string::npos;
  EXPECT_TRUE(logged);
}

TEST_P(FdIoTest, ReadErrorShutsDownAndTellsTheHandler) {
  yarl_test::SocketPair sp;
  auto* io = new io::FdIo(sp.near.release(), true, false, -1, -1, true);
  io->setHandler(&handler, true);
  passes(1);
  sp.far.reset();
  for (int i = 0; i < 10 && handler.dones == 0; ++i) wait(20);
  EXPECT_EQ(1, handler.dones) << "the end of the stream ends the connection";
}

// A wrapper over a real connection: the connection deletes itself once it
// has reported its shutdown done, and the wrapper then goes alone.  Run
// under ASan, a second delete of either would be reported.
TEST_P(FdIoTest, WrapperOverAConnectionGoesOnceTheShutdownCompletes) {
  struct Case {
    const char* name;
    bool named;
    // The shutdown ends by the manager's destruction, with output stuck;
    // otherwise by the connection's close timer.
    bool byManager;
  };
  // clang-format off
  const Case cases[] = {
      {"wrapper, close timer",        false, false},
      {"named, close timer",          true,  false},
      {"wrapper, manager destroyed",  false, true},
      {"named, manager destroyed",    true,  true},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!manager) manager = io_test::makeManager(GetParam());
    handler = Recorder();
    TcpPair tcp;
    auto* fdIo = new io::FdIo(tcp.ours, true, false, -1, -1, true);
    io::IoWrapper* wrapper = c.named ? new io::NamedIo(fdIo, &handler, "target:443", "192.0.2.7", "via proxy")
                                     : new io::IoWrapper(fdIo, &handler);
    passes(1);
    EXPECT_EQ(1, handler.writables);
    if (c.byManager) {
      fillUntilBlocked(*fdIo);
      wrapper->shutdown(true, true);
      passes(2);
      ASSERT_EQ(0, handler.dones);
      manager.reset();
    } else {
      wrapper->shutdown(false, true);
      passes(2);
    }
    EXPECT_EQ(1, handler.dones);
    EXPECT_EQ(wrapper, handler.doneIo) << "the handler hears of the wrapper";
    std::string got;
    EXPECT_FALSE(tcp.drain(got)) << "the connection closed its descriptor";
  }
}

TEST_P(FdIoTest, WrapperDestroyedBeforeTheShutdownReportDeletesTheConnection) {
  yarl_test::SocketPair sp;
  auto* wrapper = new io::IoWrapper(new io::FdIo(sp.near.release(), true, false, -1, -1, true), &handler);
  passes(1);
  delete wrapper;
  passes(2);
  char c;
  EXPECT_EQ(0, ::read(sp.far.get(), &c, 1)) << "the wrapped connection went with the wrapper";
  EXPECT_EQ(0, handler.dones);
}

INSTANTIATE_TEST_SUITE_P(Managers, FdIoTest, testing::Values(io_test::Kind::kRunLoop, io_test::Kind::kSelect),
                         io_test::kindName);

}  // namespace
