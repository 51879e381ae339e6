#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qocore/base/io/Io.h"
#include "qocore/base/plat/Timer.h"
#include "qocore/base/plat/Utf8.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/MemOutStream.h"

namespace {

using Trace = std::vector<std::string>;

// A connection that records what it is asked and, like a real one,
// completes a shutdown from the loop and then deletes itself.
class InnerIo : public io::Io, public plat::Timer::Callback {
 public:
  InnerIo(Trace* trace, io::Io** wrapper) : trace_(trace), wrapper_(wrapper) {
    in_ = &input_;
    out_ = &output_;
    flags_ = {"secure", "loopback"};
  }
  ~InnerIo() override {
    timer_.cancel();
    trace_->push_back("inner.gone");
  }

  void setHandler(io::IoHandler* handler, bool watchInput) override {
    handler_ = handler;
    trace_->push_back(std::string("inner.setHandler(") +
                      (!handler                                ? "none"
                       : dynamic_cast<io::IoWrapper*>(handler) ? "wrapper"
                                                               : "other") +
                      "," + std::to_string(watchInput) + ")");
  }
  void shutdown(bool flush, bool tellHandler) override {
    trace_->push_back("inner.shutdown(" + std::to_string(flush) + "," + std::to_string(tellHandler) + ")");
    tell_ = tellHandler;
    timer_.start(0);
  }
  // Like a real connection, it deletes itself once the shutdown is done.
  bool timerExpired(plat::Timer*) override {
    if (tell_ && handler_) handler_->shutdownDone(*this);
    delete this;
    return false;
  }
  plat::CharArray displayName() override { return plat::CharArray("inner"); }
  plat::CharArray peerEndpoint() override { return plat::CharArray("inner-peer:1"); }
  plat::CharArray resolvedPeerEndpoint() override { return plat::CharArray("inner-resolved:1"); }
  plat::CharArray peerAddress() override { return plat::CharArray("10.0.0.1"); }
  plat::CharArray myEndpoint() override { return plat::CharArray("inner-me:2"); }
  void setTimeout(int32_t ms) override { trace_->push_back("inner.setTimeout(" + std::to_string(ms) + ")"); }

  std::string who(io::Io* io) const { return !io ? "none" : io == *wrapper_ ? "wrapper" : "other"; }

  io::IoHandler* handler_ = nullptr;
  rdr::MemInStream input_{"", 0};
  rdr::MemOutStream output_;

 private:
  Trace* trace_;
  io::Io** wrapper_;
  bool tell_ = false;
  plat::Timer timer_{this};
};

class RecordingHandler : public io::IoHandler {
 public:
  RecordingHandler(Trace* trace, io::Io** wrapper, InnerIo** inner) : trace_(trace), wrapper_(wrapper), inner_(inner) {}
  void readable(io::Io& io) override { trace_->push_back("readable(" + (*inner_)->who(&io) + ")"); }
  void writable(io::Io& io) override { trace_->push_back("writable(" + (*inner_)->who(&io) + ")"); }
  void shutdownDone(io::Io& io) override {
    trace_->push_back("shutdownDone(" + (*inner_)->who(&io) + ")");
    EXPECT_EQ(&io, *wrapper_);
  }

 private:
  Trace* trace_;
  io::Io** wrapper_;
  InnerIo** inner_;
};

class IoWrapperTest : public testing::Test {
 protected:
  // Runs the loop's due timers.
  void runLoop() {
    while (timers_.processTimers() == 0) {
    }
  }
  InnerIo* newInner() { return inner_ = new InnerIo(&trace_, &wrapper_); }

  plat::TimerManager timers_;
  Trace trace_;
  io::Io* wrapper_ = nullptr;
  InnerIo* inner_ = nullptr;
  RecordingHandler handler_{&trace_, &wrapper_, &inner_};
};

TEST_F(IoWrapperTest, DeletesItselfOnceTheWrappedShutdownCompletes) {
  struct Case {
    const char* name;
    bool handlerFirst;
    bool flush;
    bool tellHandler;
    Trace expected;
  };
  const Case cases[] = {
      {"handler told, then the wrapper goes",
       true,
       true,
       true,
       {"inner.setHandler(wrapper,1)", "inner.shutdown(1,1)", "shutdownDone(wrapper)", "inner.gone"}},
      {"handler forgotten without tellHandler",
       true,
       false,
       false,
       {"inner.setHandler(wrapper,1)", "inner.shutdown(0,1)", "inner.gone"}},
      {"without a handler the wrapper still learns of completion",
       false,
       true,
       true,
       {"inner.setHandler(wrapper,0)", "inner.shutdown(1,1)", "inner.gone"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    trace_.clear();
    wrapper_ = new io::IoWrapper(newInner(), c.handlerFirst ? &handler_ : nullptr);
    wrapper_->shutdown(c.flush, c.tellHandler);
    runLoop();
    EXPECT_EQ(trace_, c.expected);
  }
}

TEST_F(IoWrapperTest, ForwardsEventsAsItselfAndSharesStreamsAndFlags) {
  auto* wrapper = new io::IoWrapper(newInner(), &handler_);
  wrapper_ = wrapper;
  EXPECT_EQ(&wrapper->in(), &inner_->in());
  EXPECT_EQ(&wrapper->out(), &inner_->out());
  EXPECT_EQ(wrapper->flags(), (io::IoFlags{"loopback", "secure"}));

  inner_->handler_->readable(*inner_);
  inner_->handler_->writable(*inner_);
  wrapper->setHandler(nullptr, false);
  wrapper->setHandler(&handler_, false);
  inner_->handler_->readable(*inner_);
  wrapper->setTimeout(1500);
  EXPECT_STREQ(wrapper->resolvedPeerEndpoint().c_str(), "inner-resolved:1");
  EXPECT_STREQ(wrapper->myEndpoint().c_str(), "inner-me:2");
  EXPECT_EQ(wrapper->query(), 0);
  delete wrapper;
  EXPECT_EQ(trace_, (Trace{"inner.setHandler(wrapper,1)", "readable(wrapper)", "writable(wrapper)",
                           "inner.setHandler(none,0)", "inner.setHandler(none,0)", "inner.setHandler(wrapper,0)",
                           "readable(wrapper)", "inner.setTimeout(1500)", "inner.gone"}));
}

TEST_F(IoWrapperTest, NamedIoFallsBackToTheWrappedNames) {
  struct Case {
    const char* peer;
    const char* address;
    const char* display;
    const char* resolved;
    // Answers: peerEndpoint, peerAddress, displayName, resolvedPeerEndpoint.
    const char* expected[4];
  };
  const Case cases[] = {
      // The resolved name falls back to the wrapper's own peer, not the
      // wrapped connection's resolved one.
      {"", "", "", "", {"inner-peer:1", "10.0.0.1", "inner", "inner-peer:1"}},
      {"target:443", "", "", "", {"target:443", "10.0.0.1", "inner", "target:443"}},
      {"target:443",
       "192.0.2.7",
       "via proxy",
       "192.0.2.7:443",
       {"target:443", "192.0.2.7", "via proxy", "192.0.2.7:443"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.peer);
    io::NamedIo named(newInner(), nullptr, c.peer, c.address, c.display, c.resolved);
    EXPECT_STREQ(named.peerEndpoint().c_str(), c.expected[0]);
    EXPECT_STREQ(named.peerAddress().c_str(), c.expected[1]);
    EXPECT_STREQ(named.displayName().c_str(), c.expected[2]);
    EXPECT_STREQ(named.resolvedPeerEndpoint().c_str(), c.expected[3]);
    EXPECT_STREQ(named.myEndpoint().c_str(), "inner-me:2");
  }
}

TEST(IoFlagsTest, RoundTripAndWireForm) {
  rdr::MemOutStream out;
  io::writeFlags(out, {"bc", "a"});
  const uint8_t expected[] = {2, 1, 'a', 2, 'b', 'c'};
  ASSERT_EQ(out.length(), static_cast<int32_t>(sizeof expected));
  EXPECT_EQ(0, memcmp(out.data(), expected, sizeof expected));

  // Texts from the other side are made valid UTF-8.
  const uint8_t received[] = {3, 1, 'a', 2, 0xff, 'x', 0};
  rdr::MemInStream in(received, sizeof received);
  io::IoFlags flags{"kept"};
  io::readFlags(in, flags);
  ASSERT_EQ(flags.size(), 4u);
  EXPECT_TRUE(flags.count("a"));
  EXPECT_TRUE(flags.count(""));
  EXPECT_TRUE(flags.count("kept"));
  for (const std::string& f : flags) EXPECT_TRUE(plat::isValidUtf8(f.c_str())) << f;
}

TEST(IoDeathTest, MisuseIsAnAssertion) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  io::IoFlags many;
  for (int i = 0; i < 256; i++) many.insert(std::to_string(i));
  rdr::MemOutStream out;
  EXPECT_EXIT(io::writeFlags(out, many), testing::KilledBySignal(SIGABRT), "Assertion 'flags.size\\(\\) < 256' failed");

  struct Plain : io::Io {
    void setHandler(io::IoHandler*, bool) override {}
    void shutdown(bool, bool) override {}
    plat::CharArray displayName() override { return plat::CharArray(""); }
    plat::CharArray peerEndpoint() override { return plat::CharArray("p"); }
    plat::CharArray peerAddress() override { return plat::CharArray(""); }
    plat::CharArray myEndpoint() override { return plat::CharArray(""); }
    void setTimeout(int32_t) override {}
  } plain;
  EXPECT_STREQ(plain.resolvedPeerEndpoint().c_str(), "p");
  EXPECT_EXIT(plain.markReadable(), testing::KilledBySignal(SIGABRT),
              "Assertion 'Io::markReadable\\(\\) not implemented for this Io' failed");
}

}  // namespace
