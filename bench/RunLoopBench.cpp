// The descriptor loop against libevent, on the same work in the same run.
//
// Wake-up: the benchmark thread wakes a loop running on another thread
// (through an io::FdKicker for ours, a pipe event for libevent); the
// callback answers on a plain pipe the benchmark thread blocks on.  One
// iteration is one wake-up and its answer.
//
// Ping-pong: one-byte messages over a socket pair between a loop on the
// benchmark thread and an echoing loop on another thread.  One iteration is
// one round trip.
//
// Bulk: 64 KiB bodies over a socket pair from a sender thread, as named
// messages into a channel on the benchmark thread's loop, next to the same
// bytes as plain socket writes and reads.  One iteration is one body
// received; items/s are messages/s and bytes/s the body throughput.

#include <benchmark/benchmark.h>
#include <event2/event.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/runloop/RunLoop.h"
#include "qocore/base/io/FdHandler.h"
#include "qocore/base/io/FdIo.h"
#include "qocore/base/io/FdKicker.h"
#include "qocore/base/io/FdSelectManager.h"
#include "qocore/base/io/Ipc.h"
#include "qocore/base/io/mac/IoRunLoopManager.h"

namespace {

void makePipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) abort();
}

void makeSocketPair(int fds[2]) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0) abort();
}

// Reads one byte and writes it back; stops its loop at the end of the data.
class Echo : public io::FdHandler {
 public:
  explicit Echo(int fd) { fd_ = fd; }
  void readReady() override {
    char c;
    ssize_t n = read(fd_, &c, 1);
    if (n == 1) {
      if (write(fd_, &c, 1) != 1) abort();
    } else if (n == 0) {
      runloop::RunLoop::current().stop();
    }
  }
};

// Counts the answers that come back.
class Receiver : public io::FdHandler {
 public:
  explicit Receiver(int fd) { fd_ = fd; }
  void readReady() override {
    char c;
    while (read(fd_, &c, 1) == 1) ++received;
  }
  int64_t received = 0;
};

void watchRead(io::FdManager& m, io::FdHandler* h) {
  m.addHandler(h, true);
  m.setInterest(h, io::Interest::kRead);
}

void unwatch(io::FdManager& m, io::FdHandler* h) {
  m.setInterest(h, io::Interest::kNone);
  m.addHandler(h, false);
}

// ---- Wake-up ----

struct Answerer : io::FdKickerCallback {
  int answerFd;
  void kicked(io::FdKicker&, rdr::InStream& in) override {
    while (in.check(false, 1)) {
      uint8_t b = in.readU8();
      in.setCheckpoint();
      if (b == 1) {
        runloop::RunLoop::current().stop();
        return;
      }
      if (write(answerFd, &b, 1) != 1) abort();
    }
  }
};

void BM_WakeUp_RunLoop(benchmark::State& state) {
  int answer[2];
  makePipe(answer);
  io::FdKicker* kicker = nullptr;
  std::atomic<bool> ready{false};
  std::thread loopThread([&] {
    io::IoRunLoopManager m;
    Answerer a;
    a.answerFd = answer[1];
    io::FdKicker k(&a);
    kicker = &k;
    ready = true;
    m.runLoop().run();
  });
  while (!ready) std::this_thread::yield();
  char c;
  for (auto _ : state) {
    kicker->kick(0);
    if (read(answer[0], &c, 1) != 1) abort();
  }
  kicker->kick(1);
  loopThread.join();
  close(answer[0]);
  close(answer[1]);
}
BENCHMARK(BM_WakeUp_RunLoop)->UseRealTime();

struct Answer {
  int answerFd;
  event_base* base;
};

void answerEvent(evutil_socket_t fd, short, void* arg) {
  auto* a = static_cast<Answer*>(arg);
  char c;
  if (read(fd, &c, 1) != 1) return;
  if (c == 1) {
    event_base_loopbreak(a->base);
    return;
  }
  if (write(a->answerFd, &c, 1) != 1) abort();
}

void BM_WakeUp_Libevent(benchmark::State& state) {
  int answer[2], wake[2];
  makePipe(answer);
  makePipe(wake);
  Answer a{answer[1], event_base_new()};
  event* ev = event_new(a.base, wake[0], EV_READ | EV_PERSIST, answerEvent, &a);
  event_add(ev, nullptr);
  std::thread loopThread([&] { event_base_dispatch(a.base); });
  char c = 0;
  for (auto _ : state) {
    if (write(wake[1], &c, 1) != 1) abort();
    if (read(answer[0], &c, 1) != 1) abort();
  }
  c = 1;
  if (write(wake[1], &c, 1) != 1) abort();
  loopThread.join();
  event_free(ev);
  event_base_free(a.base);
  for (int fd : {answer[0], answer[1], wake[0], wake[1]}) close(fd);
}
BENCHMARK(BM_WakeUp_Libevent)->UseRealTime();

// ---- Ping-pong ----

void BM_PingPong_RunLoop(benchmark::State& state) {
  int sp[2];
  makeSocketPair(sp);
  std::thread echoThread([&] {
    io::IoRunLoopManager m;
    Echo echo(sp[1]);
    watchRead(m, &echo);
    m.runLoop().run();
    unwatch(m, &echo);
  });
  {
    io::IoRunLoopManager m;
    Receiver r(sp[0]);
    watchRead(m, &r);
    char c = 'x';
    for (auto _ : state) {
      int64_t want = r.received + 1;
      if (write(sp[0], &c, 1) != 1) abort();
      while (r.received < want) m.runLoop().runOnce(-1);
    }
    unwatch(m, &r);
  }
  shutdown(sp[0], SHUT_WR);
  echoThread.join();
  close(sp[0]);
  close(sp[1]);
}
BENCHMARK(BM_PingPong_RunLoop)->UseRealTime();

void echoEvent(evutil_socket_t fd, short, void* arg) {
  char c;
  ssize_t n = read(fd, &c, 1);
  if (n == 1) {
    if (write(fd, &c, 1) != 1) abort();
  } else if (n == 0) {
    event_base_loopbreak(static_cast<event_base*>(arg));
  }
}

void receiveEvent(evutil_socket_t fd, short, void* arg) {
  char c;
  while (read(fd, &c, 1) == 1) ++*static_cast<int64_t*>(arg);
}

void BM_PingPong_Libevent(benchmark::State& state) {
  int sp[2];
  makeSocketPair(sp);
  event_base* echoBase = event_base_new();
  event* echoEv = event_new(echoBase, sp[1], EV_READ | EV_PERSIST, echoEvent, echoBase);
  event_add(echoEv, nullptr);
  std::thread echoThread([&] { event_base_dispatch(echoBase); });
  event_base* base = event_base_new();
  int64_t received = 0;
  event* ev = event_new(base, sp[0], EV_READ | EV_PERSIST, receiveEvent, &received);
  event_add(ev, nullptr);
  char c = 'x';
  for (auto _ : state) {
    int64_t want = received + 1;
    if (write(sp[0], &c, 1) != 1) abort();
    while (received < want) event_base_loop(base, EVLOOP_ONCE);
  }
  shutdown(sp[0], SHUT_WR);
  echoThread.join();
  event_free(ev);
  event_base_free(base);
  event_free(echoEv);
  event_base_free(echoBase);
  close(sp[0]);
  close(sp[1]);
}
BENCHMARK(BM_PingPong_Libevent)->UseRealTime();

// ---- Bulk ----

constexpr int32_t kBodySize = 64 * 1024;

void makeBlockingSocketPair(int fds[2]) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) abort();
}

// Reads each body in one go and counts the messages.
struct BodyReader : io::MsgIpc::Reader, io::MsgIpc::Callback {
  bool readMsg(const char*, rdr::InStream& in, io::MsgIpc&) override {
    in.readBytes(body.data(), kBodySize);
    ++received;
    return true;
  }
  void closed(io::MsgIpc&) override { done = true; }
  std::vector<uint8_t> body = std::vector<uint8_t>(kBodySize);
  int64_t received = 0;
  bool done = false;
};

void BM_Bulk64K_MsgIpc(benchmark::State& state) {
  int sp[2];
  makeBlockingSocketPair(sp);
  std::atomic<bool> stop{false};
  // Blocking writes from a paused channel, as fast as the receiver reads.
  std::thread sender([&] {
    io::FdSelectManager m(false);
    io::MsgIpc ipc(nullptr, "BulkSender", true, true);
    ipc.attach(new io::FdIo(sp[1], true, false, -1, -1, false));
    std::vector<uint8_t> body(kBodySize, 'b');
    while (!stop) {
      ipc.writeMsg("bulk").writeBytes(body.data(), kBodySize);
      ipc.out().endMsg(true);
    }
    ipc.detach(false);
  });
  {
    io::IoRunLoopManager m;
    BodyReader reader;
    io::MsgIpc ipc(&reader, "BulkReceiver", false, true);
    ipc.setReader("bulk", &reader);
    ipc.attach(new io::FdIo(sp[0], true, false, -1, -1, true));
    int64_t target = 0;
    for (auto _ : state) {
      ++target;
      while (reader.received < target) m.runLoop().runOnce(-1);
    }
    stop = true;
    while (!reader.done) m.runLoop().runOnce(-1);
  }
  sender.join();
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * kBodySize);
}
BENCHMARK(BM_Bulk64K_MsgIpc)->UseRealTime();

void BM_Bulk64K_RawSocket(benchmark::State& state) {
  int sp[2];
  makeBlockingSocketPair(sp);
  std::atomic<bool> stop{false};
  std::thread sender([&] {
    std::vector<uint8_t> body(kBodySize, 'b');
    while (!stop) {
      for (int32_t done = 0; done < kBodySize;) {
        ssize_t n = write(sp[1], body.data() + done, static_cast<size_t>(kBodySize - done));
        if (n <= 0) abort();
        done += static_cast<int32_t>(n);
      }
    }
    shutdown(sp[1], SHUT_WR);
  });
  std::vector<uint8_t> body(kBodySize);
  auto readBody = [&] {
    for (int32_t done = 0; done < kBodySize;) {
      ssize_t n = read(sp[0], body.data() + done, static_cast<size_t>(kBodySize - done));
      if (n <= 0) return false;
      done += static_cast<int32_t>(n);
    }
    return true;
  };
  for (auto _ : state) {
    if (!readBody()) abort();
  }
  stop = true;
  while (readBody()) {
  }
  sender.join();
  close(sp[0]);
  close(sp[1]);
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * kBodySize);
}
BENCHMARK(BM_Bulk64K_RawSocket)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
