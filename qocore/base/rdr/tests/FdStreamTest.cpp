#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/FdInStream.h"
#include "qocore/base/rdr/FdOutStream.h"
#include "testing/FailureOf.h"
#include "testing/LogCapture.h"
#include "testing/SocketPair.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::ElementsAre;

using yarl_test::failureOf;

long msSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

void setNonBlocking(int fd) { ASSERT_EQ(fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK), 0); }

void send(int fd, const std::string& bytes) {
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// What has arrived, without waiting.
std::string drain(int fd) {
  std::string out;
  char buf[65536];
  ssize_t n;
  while ((n = recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0) out.append(buf, static_cast<size_t>(n));
  return out;
}

bool isOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

// A connected pair: the streams use `near()`, the test plays the peer on
// `far()`.  Small buffers make a peer that does not read fill up quickly.
class FdStreamTest : public testing::Test {
 protected:
  void SetUp() override {
    int size = 4096;
    setsockopt(near(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    setsockopt(far(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  int near() const { return pair_.near.get(); }
  int far() const { return pair_.far.get(); }
  void closeFar() { pair_.far.reset(); }
  // Writes on the (non-blocking) near side until it takes no more;
  // answers how many bytes that took.
  size_t fillUp() {
    std::string block(4096, 'f');
    size_t total = 0;
    ssize_t n;
    while ((n = ::write(near(), block.data(), block.size())) > 0) total += static_cast<size_t>(n);
    EXPECT_EQ(errno, EAGAIN);
    return total;
  }

  yarl_test::SocketPair pair_;
};

// Counts the signals it catches; installed without SA_RESTART, so a
// blocked call it interrupts fails with EINTR.
std::atomic<int> caught{0};

class InterruptingSignal {
 public:
  InterruptingSignal() {
    struct sigaction action = {};
    action.sa_handler = [](int) { ++caught; };
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGUSR1, &action, &previous_);
    caught = 0;
  }
  ~InterruptingSignal() { sigaction(SIGUSR1, &previous_, nullptr); }

 private:
  struct sigaction previous_ = {};
};

// Writing to a closed peer raises SIGPIPE; the test ignores it, as the
// program's socket layer does.
class IgnoredSigpipe {
 public:
  IgnoredSigpipe() { previous_ = signal(SIGPIPE, SIG_IGN); }
  ~IgnoredSigpipe() { signal(SIGPIPE, previous_); }

 private:
  sighandler_t previous_;
};

struct Events : rdr::FdOutStream::Callback {
  void written(rdr::FdOutStream&, bool wroteNothing) override { log.push_back(wroteNothing ? "nothing" : "written"); }
  void shutdownDone(rdr::FdOutStream&) override { log.push_back("shutdown"); }
  std::vector<std::string> log;
};

TEST_F(FdStreamTest, PeerCloseEndsTheStream) {
  send(far(), "abc");
  closeFar();
  rdr::FdInStream in(near());
  char bytes[3];
  in.readBytes(bytes, 3);
  EXPECT_EQ(std::string(bytes, 3), "abc");
  EXPECT_EQ(failureOf<rdr::EndOfStream>([&] { in.readU8(); }), "End of IO stream");
}

// A stream read blocking keeps no byte it has handed out, so a reader that
// never sets a checkpoint needs one buffer whatever it reads; an owner that
// asks for rewinding gets every byte from the checkpoint back.
TEST_F(FdStreamTest, BlockingReaderKeepsOneBufferUnlessAskedToRewind) {
  struct Case {
    bool rewindable;
    size_t total;
  };
  for (const Case& c : std::vector<Case>{{false, 4 << 20}, {true, 256 << 10}}) {
    SCOPED_TRACE(testing::Message() << (c.rewindable ? "rewindable" : "not rewindable"));
    std::thread peer([&] {
      const std::string block(65536, 'b');
      for (size_t sent = 0; sent < c.total; sent += block.size()) send(far(), block);
    });
    rdr::FdInStream in(near());
    in.setTimeoutMs(5000);
    if (c.rewindable) in.setRewindable(true);
    std::vector<uint8_t> chunk(4096);
    for (size_t got = 0; got < c.total; got += chunk.size()) {
      in.readBytes(chunk.data(), static_cast<int32_t>(chunk.size()));
    }
    peer.join();
    if (c.rewindable) {
      in.rewind();
      EXPECT_EQ(in.pos(), 0);
      EXPECT_GE(in.bufferSize(), static_cast<int32_t>(c.total));
    } else {
      EXPECT_EQ(in.bufferSize(), rdr::BufferedInStream::kDefaultBufSize);
      EXPECT_EQ(failureOf<plat::Exception>([&] { in.rewind(); }), "Attempt to rewind a non-rewindable stream");
    }
  }
}

TEST_F(FdStreamTest, NonBlockingReadAnswersWouldBlock) {
  setNonBlocking(near());
  rdr::FdInStream in(near());
  in.setNonBlocking(true);
  EXPECT_FALSE(in.check(false, 1));
  EXPECT_EQ(failureOf<rdr::BlockException>([&] { in.readU8(); }), "Reading from InStream would block");
  send(far(), "x");
  EXPECT_EQ(in.readU8(), 'x');
}

TEST_F(FdStreamTest, ReadTimesOutAndStaysTimedOut) {
  setNonBlocking(near());
  rdr::FdInStream in(near());
  in.setTimeoutMs(100);
  auto start = Clock::now();
  EXPECT_EQ(failureOf<plat::TimedOut>([&] { in.readU8(); }), "Timed out");
  EXPECT_GE(msSince(start), 100);
  EXPECT_LT(msSince(start), 1000);

  send(far(), "late");
  start = Clock::now();
  EXPECT_EQ(failureOf<plat::TimedOut>([&] { in.readU8(); }), "Timed out");
  EXPECT_LT(msSince(start), 50) << "a timed-out stream waited again";
}

TEST_F(FdStreamTest, InterruptedReadGoesOn) {
  struct Case {
    const char* name;
    bool nonBlocking;  // the stream waits in poll rather than in read
  };
  for (const Case& c : std::vector<Case>{{"read", false}, {"wait", true}}) {
    InterruptingSignal signal;
    if (c.nonBlocking) setNonBlocking(near());
    rdr::FdInStream in(near());
    in.setTimeoutMs(2000);
    pthread_t reader = pthread_self();
    std::thread peer([&] {
      std::this_thread::sleep_for(30ms);
      pthread_kill(reader, SIGUSR1);
      std::this_thread::sleep_for(30ms);
      send(far(), "z");
    });
    auto start = Clock::now();
    int got = -1;
    std::string failure;
    try {
      got = in.readU8();
    } catch (const plat::Exception& e) {
      failure = e.str();
    }
    peer.join();
    EXPECT_EQ(got, 'z') << c.name << ": " << failure;
    EXPECT_LT(msSince(start), 1000) << c.name;
    EXPECT_EQ(caught, 1) << c.name;
  }
}

TEST_F(FdStreamTest, InterruptedWriteGoesOn) {
  InterruptingSignal signal;
  // Full before the stream writes, so the signal meets a write that has
  // taken nothing yet.
  setNonBlocking(near());
  const size_t filled = fillUp();
  ASSERT_EQ(fcntl(near(), F_SETFL, fcntl(near(), F_GETFL) & ~O_NONBLOCK), 0);
  rdr::FdOutStream out(near(), 16384);
  std::string data(200000, 'w');
  pthread_t writer = pthread_self();
  std::string received;
  std::thread peer([&] {
    std::this_thread::sleep_for(30ms);
    pthread_kill(writer, SIGUSR1);
    std::this_thread::sleep_for(30ms);
    char buf[65536];
    ssize_t n;
    while ((n = ::read(far(), buf, sizeof buf)) > 0) received.append(buf, static_cast<size_t>(n));
  });
  std::string failure;
  try {
    out.writeBytes(data.data(), static_cast<int32_t>(data.size()));
    out.flush();
  } catch (const plat::Exception& e) {
    failure = e.str();
  }
  shutdown(near(), SHUT_WR);
  peer.join();
  EXPECT_EQ(failure, "");
  EXPECT_EQ(caught, 1);
  const std::string expected = std::string(filled, 'f') + data;
  EXPECT_EQ(received.size(), expected.size());
  EXPECT_TRUE(received == expected) << "the bytes arrived changed";
}

TEST_F(FdStreamTest, WriteTimesOutWhenThePeerDoesNotRead) {
  setNonBlocking(near());
  rdr::FdOutStream out(near(), 16384);
  out.setTimeoutMs(100);
  std::string data(1 << 20, 'w');
  auto start = Clock::now();
  EXPECT_EQ(failureOf<plat::TimedOut>([&] { out.writeBytes(data.data(), static_cast<int32_t>(data.size())); }),
            "Timed out");
  EXPECT_GE(msSince(start), 100);
  EXPECT_LT(msSince(start), 1000);
}

TEST_F(FdStreamTest, WriteWithoutWaitingTakesNothingFromAFullDescriptor) {
  setNonBlocking(near());
  fillUp();
  Events events;
  rdr::FdOutStream out(near());
  out.setLazy(true);
  out.setCallback(&events);
  out.writeBytes("hello", 5);
  EXPECT_FALSE(out.flushNoWait(false));
  EXPECT_EQ(out.pendingBytes(), 5);

  std::string arrived = drain(far());
  EXPECT_TRUE(out.flushNoWait(false));
  arrived += drain(far());
  EXPECT_EQ(arrived.substr(arrived.size() - 5), "hello");
  EXPECT_THAT(events.log, ElementsAre("nothing", "written"));
}

TEST_F(FdStreamTest, WriteErrorsThrowUnlessTheStreamIsLazyAndNothingWaits) {
  IgnoredSigpipe sigpipe;
  const std::string brokenPipe = plat::SystemException("write", EPIPE).str();
  struct Case {
    const char* name;
    bool throwErrors;
    bool lazy;
    bool wait;
    bool throws;
  };
  for (const Case& c : std::vector<Case>{
           {"throwing", true, true, false, true},
           {"blocking", false, false, false, true},
           {"lazy", false, true, false, false},
           {"lazy but waiting", false, true, true, true},
       }) {
    yarl_test::SocketPair closed;
    closed.far.reset();
    yarl_test::LogCapture log("FdOutStream:capture:100");
    {
      rdr::FdOutStream out(closed.near.release(), -1, true);
      out.setThrowErrors(c.throwErrors);
      out.setLazy(c.lazy);
      out.writeBytes("data", 4);
      std::string failure = "(nothing thrown)";
      bool all = true;
      try {
        all = out.flushNoWait(c.wait);
      } catch (const plat::SystemException& e) {
        failure = e.str();
        EXPECT_EQ(e.error(), EPIPE) << c.name;
      }
      EXPECT_EQ(failure, c.throws ? brokenPipe : "(nothing thrown)") << c.name;
      if (!c.throws) {
        EXPECT_FALSE(all) << c.name;
        EXPECT_THAT(log.from("FdOutStream"), ElementsAre(yarl_test::LogRecord{"FdOutStream", 100, brokenPipe}))
            << c.name;
      }
    }  // the destructor meets the error again and ignores it
  }
}

TEST_F(FdStreamTest, CloseForWritingWaitsForPendingBytes) {
  Events events;
  rdr::FdOutStream out(near());
  out.setCallback(&events);
  out.writeBytes("abc", 3);
  EXPECT_TRUE(out.closeForWriting());
  EXPECT_EQ(out.pendingBytes(), 3);
  char probe;
  EXPECT_EQ(recv(far(), &probe, 1, MSG_DONTWAIT), -1) << "the stream was shut with bytes pending";
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_TRUE(events.log.empty());

  out.flush();
  EXPECT_TRUE(out.closeForWriting());
  EXPECT_THAT(events.log, ElementsAre("written", "shutdown"));
  char buf[8];
  EXPECT_EQ(::read(far(), buf, sizeof buf), 3);
  EXPECT_EQ(::read(far(), buf, sizeof buf), 0);
}

TEST_F(FdStreamTest, ShutdownFailureThrows) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  ::close(fds[0]);
  rdr::FdOutStream out(fds[1], -1, true);
  try {
    out.closeForWriting();
    ADD_FAILURE() << "shut a pipe";
  } catch (const plat::SystemException& e) {
    EXPECT_EQ(e.error(), ENOTSOCK);
    EXPECT_STREQ(e.str(), plat::SystemException("shutdown(SHUT_WR)", ENOTSOCK).str());
  }
}

TEST_F(FdStreamTest, DestructorPassesPendingBytesOnAndClosesAnOwnedDescriptor) {
  for (bool owned : {false, true}) {
    yarl_test::SocketPair pair;
    const int fd = pair.near.get();
    Events events;
    {
      rdr::FdOutStream out(owned ? pair.near.release() : fd, -1, owned);
      out.setCallback(&events);
      out.writeBytes("bye", 3);
    }
    EXPECT_TRUE(events.log.empty()) << "the callback was told during destruction";
    EXPECT_EQ(drain(pair.far.get()), "bye") << owned;
    EXPECT_EQ(isOpen(fd), !owned) << owned;
  }
}

TEST_F(FdStreamTest, DestructorLogsTheBytesItCannotPassOn) {
  setNonBlocking(near());
  fillUp();
  yarl_test::LogCapture log("FdOutStream:capture:0");
  {
    rdr::FdOutStream out(near());
    out.setLazy(true);
    out.writeBytes("lost", 4);
  }
  EXPECT_THAT(log.from("FdOutStream"),
              ElementsAre(yarl_test::LogRecord{
                  "FdOutStream", 0,
                  "4 bytes not written to fd " + std::to_string(near()) + ": the receiver takes no more now"}));
}

TEST_F(FdStreamTest, MovedStreamTakesOverDescriptorAndUnreadBytes) {
  send(far(), "abcdef");
  const int fd = pair_.near.release();  // the streams own it now
  std::optional<rdr::FdInStreamOwn> first(std::in_place, fd);
  first->setTimeoutMs(2000);
  EXPECT_EQ(first->readU8(), 'a');

  std::optional<rdr::FdInStreamOwn> second(std::in_place, std::move(*first));
  EXPECT_EQ(first->fd(), -1);
  EXPECT_EQ(second->fd(), fd);
  EXPECT_EQ(second->pos(), 1);
  char rest[5];
  second->readBytes(rest, 5);
  EXPECT_EQ(std::string(rest, 5), "bcdef");
  EXPECT_EQ(second->pos(), 6);

  first.reset();
  EXPECT_TRUE(isOpen(fd)) << "the moved-from stream closed the descriptor";
  second.reset();
  EXPECT_FALSE(isOpen(fd));
}

}  // namespace
