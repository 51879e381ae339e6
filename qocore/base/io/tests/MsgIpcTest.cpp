// The named-message channel over a real socket pair: one end on the test
// thread's loop, the other on a peer thread with a loop of its own.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "qocore/base/io/FdIo.h"
#include "qocore/base/io/Ipc.h"
#include "qocore/base/io/tests/Managers.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/rdr/BufferedInStream.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/FdOutStream.h"
#include "qocore/base/rdr/FramedOutStream.h"
#include "testing/FailureOf.h"
#include "testing/LogCapture.h"
#include "testing/RunUntil.h"
#include "testing/SocketPair.h"

namespace {

using testing::Contains;
using testing::ElementsAre;
using testing::HasSubstr;
using yarl_test::failureOf;
using yarl_test::LogCapture;
using yarl_test::LogRecord;

// A thread that runs a loop of its own and runs tasks on it for the test.
class LoopThread {
 public:
  LoopThread() : thread_([this] { main(); }) {}
  ~LoopThread() {
    stop_ = true;
    thread_.join();
  }

  // Runs fn on the loop thread and waits until it has run.
  void run(std::function<void()> fn) {
    std::packaged_task<void()> task(std::move(fn));
    std::future<void> done = task.get_future();
    {
      std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    done.get();
  }

 private:
  void main() {
    auto manager = io_test::makeManager(io_test::Kind::kRunLoop);
    while (!stop_) {
      io_test::turn(*manager, 5);
      for (;;) {
        std::packaged_task<void()> task;
        {
          std::lock_guard lock(mutex_);
          if (tasks_.empty()) break;
          task = std::move(tasks_.front());
          tasks_.pop_front();
        }
        task();
      }
    }
  }

  std::mutex mutex_;
  std::deque<std::packaged_task<void()>> tasks_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

io::Io* connectionOver(plat::UniqueFd& fd) { return new io::FdIo(fd.release(), true, false, -1, -1, true); }

// Records what a channel reports.
struct Events : io::MsgIpc::Callback {
  void closed(io::MsgIpc&) override { ++closes; }
  bool allowed(io::MsgIpc&, const char* name, bool outgoing) override {
    return refused.empty() || refused != name || (outgoing ? !refuseOutgoing : !refuseIncoming);
  }
  void error(io::MsgIpc&, const plat::Exception& e) override { errors.emplace_back(e.str()); }

  std::atomic<int> closes{0};
  std::string refused;
  bool refuseOutgoing = false;
  bool refuseIncoming = false;
  std::vector<std::string> errors;
};

// Reads each message's body as one string32 and records "name:body".
struct Recorder : io::MsgIpc::Reader {
  bool readMsg(const char* name, rdr::InStream& in, io::MsgIpc&) override {
    received.push_back(std::string(name) + ":" + in.readStdString(1 << 20));
    return true;
  }
  void reset(io::MsgIpc&) override { ++resets; }
  std::vector<std::string> received;
  int resets = 0;
};

void send(io::MsgIpc& ipc, const char* name, const std::string& body = "") {
  ipc.writeMsg(name).writeString32(body.c_str());
  ipc.out().endMsg(true);
}

class MsgIpcTest : public testing::Test {
 protected:
  MsgIpcTest() {
    near = std::make_unique<io::MsgIpc>(&nearEvents, "Near", false, true);
    near->attach(connectionOver(pair.near));
    peer.run([this] {
      far = std::make_unique<io::MsgIpc>(&farEvents, "Far", false, true);
      far->attach(connectionOver(pair.far));
    });
  }
  ~MsgIpcTest() override {
    peer.run([this] { far.reset(); });
    near.reset();
  }

  // Turns this thread's loop until `done` holds (at most five seconds).
  bool spinUntil(const std::function<bool()>& done) {
    return yarl_test::runUntil(static_cast<io::IoRunLoopManager&>(*manager).runLoop(), done, std::chrono::seconds(5));
  }
  // A few more rounds, for what should not happen.
  void settle() {
    for (int i = 0; i < 20; ++i) io_test::turn(*manager, 5);
  }

  std::unique_ptr<io::FdManager> manager = io_test::makeManager(io_test::Kind::kRunLoop);
  yarl_test::SocketPair pair;
  LoopThread peer;
  Events nearEvents, farEvents;
  std::unique_ptr<io::MsgIpc> near, far;
};

// Reads a body of `size` bytes with one read; counts its calls.
struct WholeBodyReader : io::MsgIpc::Reader {
  explicit WholeBodyReader(int32_t size) : size(size) {}
  bool readMsg(const char*, rdr::InStream& in, io::MsgIpc&) override {
    ++calls;
    std::string data(static_cast<size_t>(size), '\0');
    in.readBytes(data.data(), size);
    body = std::move(data);
    return true;
  }
  int32_t size;
  std::atomic<int> calls{0};
  std::string body;
};

TEST_F(MsgIpcTest, LargeBodyIsReadInOneGoOnceItHasArrived) {
  constexpr int32_t kSize = 100 * 1024;
  std::string body(kSize, '\0');
  for (int32_t i = 0; i < kSize; ++i) body[static_cast<size_t>(i)] = static_cast<char>(i * 7 + i / 251);
  WholeBodyReader reader(kSize);
  Recorder after;
  near->setReader("big", &reader);
  near->setReader("after", &after);

  // The first half (several frames) arrives alone: the reader blocks in it.
  peer.run([&] {
    rdr::OutStream& out = far->writeMsg("big");
    out.writeBytes(body.data(), kSize / 2);
    far->out().flush();
  });
  ASSERT_TRUE(spinUntil([&] { return reader.calls > 0; }));
  settle();
  EXPECT_TRUE(reader.body.empty());

  peer.run([&] {
    far->out().writeBytes(body.data() + kSize / 2, kSize - kSize / 2);
    far->out().endMsg(true);
    send(*far, "after", "next");
  });
  ASSERT_TRUE(spinUntil([&] { return !after.received.empty(); }));
  EXPECT_GE(reader.calls, 2);
  EXPECT_TRUE(reader.body == body);
  EXPECT_THAT(after.received, ElementsAre("after:next"));
  EXPECT_EQ(nearEvents.closes, 0);
}

TEST_F(MsgIpcTest, WhatAReaderLeavesUnreadIsSkipped) {
  struct ReadsNothing : io::MsgIpc::Reader {
    bool readMsg(const char*, rdr::InStream&, io::MsgIpc&) override {
      ++calls;
      return true;
    }
    int calls = 0;
  } nothing;
  Recorder recorder;
  near->setReader("ignored", &nothing);
  near->setReader("kept", &recorder);

  peer.run([&] {
    send(*far, "ignored", std::string(40000, 'x'));
    send(*far, "kept", "body");
  });
  ASSERT_TRUE(spinUntil([&] { return !recorder.received.empty(); }));
  EXPECT_EQ(nothing.calls, 1);
  EXPECT_THAT(recorder.received, ElementsAre("kept:body"));
}

TEST_F(MsgIpcTest, UnknownNamesAreSkippedOrCloseTheChannel) {
  struct Case {
    const char* name;
    bool closes;
  };
  // clang-format off
  const Case cases[] = {
      {"x1", false},
      {"1x", true},
      {"", true},
      {"\xC3\xA9t", true},  // a non-ASCII first byte counts as below "A"
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "name '" << c.name << "'");
    yarl_test::SocketPair fresh;
    Recorder recorder;
    Events events;
    io::MsgIpc ipc(&events, "Near", false, true);
    ipc.setReader("ping", &recorder);
    ipc.attach(connectionOver(fresh.near));
    LogCapture capture("Ipc:capture:30");
    std::unique_ptr<io::MsgIpc> sender;
    peer.run([&] {
      sender = std::make_unique<io::MsgIpc>(nullptr, "Sender", false, true);
      sender->attach(connectionOver(fresh.far));
      send(*sender, c.name, "body");
      send(*sender, "ping", "after");
    });
    ASSERT_TRUE(spinUntil([&] { return events.closes > 0 || !recorder.received.empty(); }));
    settle();
    EXPECT_THAT(capture.records(), Contains(LogRecord{"Ipc", 30, std::string("Near: Bad msg name '") + c.name + "'"}));
    if (c.closes) {
      EXPECT_EQ(events.closes, 1);
      EXPECT_FALSE(ipc.attached());
      EXPECT_TRUE(recorder.received.empty());
      EXPECT_EQ(recorder.resets, 2);  // attached, then lost
    } else {
      EXPECT_EQ(events.closes, 0);
      EXPECT_TRUE(ipc.attached());
      EXPECT_THAT(recorder.received, ElementsAre("ping:after"));
    }
    peer.run([&] { sender.reset(); });
  }
}

// A skipped message is committed as it goes by: however long it is, the
// receiver's input buffer keeps its first size and the channel goes on.
// The sender writes the bytes as it makes them, from a thread of its own.
TEST_F(MsgIpcTest, SkippingAHugeMessageKeepsTheInputBufferSmall) {
  struct ReadsNothing : io::MsgIpc::Reader {
    bool readMsg(const char*, rdr::InStream&, io::MsgIpc&) override { return true; }
  } nothing;
  struct Case {
    const char* what;
    const char* name;
  };
  const Case cases[] = {
      {"an unknown name", "huge"},
      {"what a reader leaves", "ignored"},
  };
  constexpr int64_t kBodySize = int64_t{200} << 20;
  constexpr int32_t kChunk = 1 << 16;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    yarl_test::SocketPair fresh;
    Recorder recorder;
    Events events;
    io::MsgIpc ipc(&events, "Near", false, true);
    ipc.setReader("ping", &recorder);
    ipc.setReader("ignored", &nothing);
    ipc.attach(connectionOver(fresh.near));
    auto* buffered = dynamic_cast<rdr::BufferedInStream*>(ipc.ipc().inStream());
    ASSERT_NE(buffered, nullptr);
    const int32_t initialSize = buffered->bufferSize();

    std::string sendFailure;
    std::thread writer([&] {
      // A receiver that gives up closes its end: the write fails instead
      // of raising SIGPIPE.
      sigset_t pipe;
      sigemptyset(&pipe);
      sigaddset(&pipe, SIGPIPE);
      pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
      try {
        rdr::FdOutStream lower(fresh.far.get());
        rdr::OutStreamV4 out(&lower);
        std::string chunk(kChunk, '\0');
        for (int32_t i = 0; i < kChunk; ++i) chunk[static_cast<size_t>(i)] = static_cast<char>(i * 13 + 5);
        out.startMsg();
        out.writeString8(c.name);
        for (int64_t sent = 0; sent < kBodySize; sent += kChunk) out.writeBytes(chunk.data(), kChunk);
        out.endMsg(true);
        out.startMsg();
        out.writeString8("ping");
        out.writeString32("after");
        out.endMsg(true);
      } catch (const plat::Exception& e) {
        sendFailure = e.str();
      }
    });
    auto stopWriter = [&] {
      if (!writer.joinable()) return;
      ipc.detach(false);
      writer.join();
    };
    plat::ScopeExit stopOnFailure(stopWriter);

    int32_t largest = initialSize;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (recorder.received.empty() && events.closes == 0 && largest == initialSize &&
           std::chrono::steady_clock::now() < deadline) {
      io_test::turn(*manager, 5);
      if (ipc.attached()) largest = std::max(largest, buffered->bufferSize());
    }
    EXPECT_EQ(largest, initialSize);
    EXPECT_EQ(events.closes, 0);
    EXPECT_THAT(events.errors, ElementsAre());
    EXPECT_THAT(recorder.received, ElementsAre("ping:after"));
    ASSERT_TRUE(ipc.attached());
    EXPECT_GT(buffered->pos(), kBodySize);
    stopWriter();
    EXPECT_EQ(sendFailure, "");
  }
}

TEST_F(MsgIpcTest, RefusedNamesAreNeitherSentNorRead) {
  Recorder nearRecorder, farRecorder;
  near->setReader("secret", &nearRecorder);
  near->setReader("ping", &nearRecorder);
  peer.run([&] {
    far->setReader("secret", &farRecorder);
    far->setReader("ping", &farRecorder);
  });
  nearEvents.refused = "secret";
  nearEvents.refuseOutgoing = nearEvents.refuseIncoming = true;
  LogCapture capture("Ipc:capture:30");

  try {
    near->writeMsg("secret");
    ADD_FAILURE() << "refused message was written";
  } catch (const plat::Exception& e) {
    EXPECT_STREQ(e.str(), "MsgIpc::writeMsg: Message not currently allowed");
  }
  send(*near, "ping", "from near");
  peer.run([&] {
    send(*far, "secret", "hidden");
    send(*far, "ping", "from far");
  });
  ASSERT_TRUE(spinUntil([&] { return !nearRecorder.received.empty(); }));
  peer.run([] {});
  for (int i = 0; i < 100; ++i) {
    bool arrived = false;
    peer.run([&] { arrived = !farRecorder.received.empty(); });
    if (arrived) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  peer.run([&] { EXPECT_THAT(farRecorder.received, ElementsAre("ping:from near")); });
  EXPECT_THAT(nearRecorder.received, ElementsAre("ping:from far"));
  EXPECT_TRUE(near->attached());
  EXPECT_THAT(capture.from("Ipc"), ElementsAre(LogRecord{"Ipc", 30, "Near: Message 'secret' not currently allowed"},
                                               LogRecord{"Ipc", 30, "Near: Message 'secret' not currently allowed"}));
}

TEST_F(MsgIpcTest, ReaderAndChannelMayBeDestroyedInEitherOrder) {
  // The reader goes first: its name is unknown from then on.
  {
    auto reader = std::make_unique<Recorder>();
    near->setReader("gone", reader.get());
    near->setReader("also", reader.get());
    reader.reset();
  }
  Recorder survivor;
  near->setReader("ping", &survivor);
  peer.run([&] {
    send(*far, "gone", "lost");
    send(*far, "ping", "kept");
  });
  ASSERT_TRUE(spinUntil([&] { return !survivor.received.empty(); }));
  EXPECT_THAT(survivor.received, ElementsAre("ping:kept"));

  // The channel goes first: the reader outlives it without a dangling
  // registration (the sanitizer build checks the reader's destructor).
  auto reader = std::make_unique<Recorder>();
  near->setReader("late", reader.get());
  near.reset();
  reader.reset();
}

TEST_F(MsgIpcTest, PeerClosingReportsClosedOnce) {
  Recorder recorder;
  near->setReader("ping", &recorder);
  peer.run([&] {
    send(*far, "ping", "last");
    far->detach(false);
  });
  ASSERT_TRUE(spinUntil([&] { return nearEvents.closes > 0; }));
  settle();
  EXPECT_EQ(nearEvents.closes, 1);
  EXPECT_THAT(recorder.received, ElementsAre("ping:last"));
  EXPECT_EQ(recorder.resets, 1);  // registered after the attach; then lost
  EXPECT_FALSE(near->attached());
  // A message written now is discarded, and says so.
  LogCapture capture("Ipc:capture:100");
  send(*near, "ping", "nobody");
  EXPECT_THAT(capture.from("Ipc"), ElementsAre(LogRecord{"Ipc", 100, "Near: Discarding message 'ping'"}));
}

// Synchronous reads: this end is paused (blocking reads, no events), the
// peer answers from its loop.
class MsgIpcReadMessageTest : public MsgIpcTest {
 protected:
  MsgIpcReadMessageTest() { near->ipc().setPaused(true); }
};

TEST_F(MsgIpcReadMessageTest, ReadsTheExpectedMessageOrNamesBoth) {
  Recorder recorder;
  near->setReader("a", &recorder);
  near->setReader("b", &recorder);
  peer.run([&] {
    send(*far, "b", "wrong");
    send(*far, "a", "right");
  });
  EXPECT_EQ(failureOf<plat::Exception>([&] { near->readMessage("a"); }), "MsgIpc: expected message a, got b");
  // The unexpected message was skipped; the next one is read.
  near->readMessage("a");
  EXPECT_THAT(recorder.received, ElementsAre("a:right"));
}

TEST_F(MsgIpcReadMessageTest, PeerReportingABadNameEndsTheRead) {
  peer.run([&] { far->setReplyBadMsg(true); });
  send(*near, "question");
  EXPECT_EQ(failureOf<plat::Exception>([&] { near->readMessage("answer"); }),
            "MsgIpc: expected message answer, peer reports bad msg name 'question'");
}

TEST_F(MsgIpcReadMessageTest, WaitsForANameAndReadsUntilClosed) {
  Recorder recorder;
  for (const char* name : {"a", "b", "c"}) near->setReader(name, &recorder);
  peer.run([&] {
    send(*far, "a", "1");
    send(*far, "b", "2");
    send(*far, "c", "3");
    far->detach(false);
  });
  near->waitForMsg("b");
  EXPECT_THAT(recorder.received, ElementsAre("a:1", "b:2"));
  near->readUntilClosed();
  EXPECT_THAT(recorder.received, ElementsAre("a:1", "b:2", "c:3"));
}

}  // namespace
