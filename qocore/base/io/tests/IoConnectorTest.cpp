// Connectors driven through a fake monotonic clock: every timer fires from
// processTimers at an exact fake time, so staggered races are deterministic
// under sanitizers and parallel test runs.

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "qocore/base/io/Io.h"
#include "qocore/base/io/IoConnectorMulti.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/Timer.h"

namespace {

plat::TimeValue fakeNow = 0;

plat::TimeValue readFakeClock(plat::TimeValue, bool* jumped) {
  if (jumped) *jumped = false;
  return fakeNow;
}

using Trace = std::vector<std::string>;

int nowMs() { return static_cast<int>(fakeNow / plat::kTicksPerMs); }

// A connection that only records its shutdown; shut without telling
// anyone, it ends itself from the loop as real connections do.
class TestIo : public io::Io, public plat::Timer::Callback {
 public:
  TestIo(std::string name, Trace* trace) : name_(std::move(name)), trace_(trace) {}
  ~TestIo() override {
    timer_.cancel();
    trace_->push_back(name_ + ".gone");
  }
  void setHandler(io::IoHandler*, bool) override {}
  void shutdown(bool flush, bool tellHandler) override {
    trace_->push_back(name_ + ".shutdown(" + std::to_string(flush) + "," + std::to_string(tellHandler) + ")");
    if (!tellHandler) timer_.start(0);
  }
  bool timerExpired(plat::Timer*) override {
    delete this;
    return false;
  }
  plat::CharArray displayName() override { return plat::CharArray(name_.c_str()); }
  plat::CharArray peerEndpoint() override { return plat::CharArray(name_.c_str()); }
  plat::CharArray peerAddress() override { return plat::CharArray(name_.c_str()); }
  plat::CharArray myEndpoint() override { return plat::CharArray(name_.c_str()); }
  void setTimeout(int32_t) override {}

  std::string name_;

 private:
  Trace* trace_;
  plat::Timer timer_{this};
};

// What a test connector does once run: report after `delayMs` (0: inside
// run), or never (kHang).
constexpr int kHang = -1;
struct Outcome {
  bool succeeds;
  int delayMs;
};
constexpr Outcome connectAfter(int ms) { return {true, ms}; }
constexpr Outcome failAfter(int ms) { return {false, ms}; }
constexpr Outcome hang() { return {false, kHang}; }

class TestConnector : public io::IoConnectorBase {
 public:
  TestConnector(std::string name, Outcome outcome, Trace* trace)
      : name_(std::move(name)), outcome_(outcome), trace_(trace) {}
  ~TestConnector() override {
    report_.cancel();
    trace_->push_back(name_ + ".gone");
  }

  void run() override {
    trace_->push_back(name_ + ".run@" + std::to_string(nowMs()));
    if (outcome_.delayMs == 0)
      report();
    else if (outcome_.delayMs > 0)
      report_.start(outcome_.delayMs);
  }
  void cancel() override { report_.cancel(); }
  bool timerExpired(plat::Timer* timer) override {
    if (timer != &report_) return IoConnectorBase::timerExpired(timer);
    report();
    return false;
  }
  // A blocking attempt answers by the same outcome, at once.
  io::Io* connect() override {
    if (!outcome_.succeeds) throw plat::Exception("%s refused", name_.c_str());
    return new TestIo(name_ + ".io", trace_);
  }
  void sendNotice() { cb_->notify(*this); }

 private:
  // The receiver may destroy this connector: reporting is the last act.
  void report() {
    if (outcome_.succeeds)
      connected(new TestIo(name_ + ".io", trace_));
    else
      failed(plat::Exception("%s refused", name_.c_str()));
  }

  std::string name_;
  Outcome outcome_;
  Trace* trace_;
  plat::Timer report_{this};
};

// Records the result and then destroys the connector that reported it,
// as owners usually do.
class Receiver : public io::IoConnected {
 public:
  explicit Receiver(Trace* trace) : trace_(trace) {}
  void connected(io::IoConnector& c, io::Io* io) override {
    EXPECT_EQ(&c, expected);
    trace_->push_back("connected:" + std::string(io->displayName().c_str()) + "@" + std::to_string(nowMs()));
    ios.emplace_back(io);
    owner.reset();
  }
  void failed(io::IoConnector& c, const plat::Exception& e) override {
    EXPECT_EQ(&c, expected);
    trace_->push_back(std::string("failed:") + e.str() + "@" + std::to_string(nowMs()));
    owner.reset();
  }
  void notify(io::IoConnector& c) override {
    EXPECT_EQ(&c, expected);
    trace_->push_back("notify@" + std::to_string(nowMs()));
  }

  std::unique_ptr<io::IoConnector> owner;
  io::IoConnector* expected = nullptr;
  std::vector<std::unique_ptr<io::Io>> ios;

 private:
  Trace* trace_;
};

class IoConnectorTest : public testing::Test {
 protected:
  void SetUp() override {
    fakeNow = 0;
    previousClock_ = plat::setMonotonicClock(&readFakeClock);
    timers_ = std::make_unique<plat::TimerManager>();
  }
  void TearDown() override {
    receiver_.owner.reset();
    timers_.reset();
    plat::setMonotonicClock(previousClock_);
  }

  // Runs the loop's timers one fake millisecond at a time up to `ms`.
  void runUntil(int ms) {
    for (;;) {
      while (timers_->processTimers() == 0) {
      }
      if (nowMs() >= ms) break;
      fakeNow += plat::kTicksPerMs;
    }
  }

  io::IoConnector* own(io::IoConnector* c) {
    receiver_.owner.reset(c);
    receiver_.expected = c;
    return c;
  }

  Trace trace_;
  Receiver receiver_{&trace_};
  std::unique_ptr<plat::TimerManager> timers_;
  plat::MonotonicClockFn previousClock_ = nullptr;
};

TEST_F(IoConnectorTest, StartsFromTheLoopAndReportsOnce) {
  struct Case {
    Outcome outcome;
    bool withCallback;
    Trace expected;
  };
  const Case cases[] = {
      {connectAfter(0), true, {"a.run@0", "connected:a.io@0", "a.gone"}},
      {failAfter(0), true, {"a.run@0", "failed:a refused@0", "a.gone"}},
      {connectAfter(5), true, {"a.run@0", "connected:a.io@5", "a.gone"}},
      {failAfter(5), true, {"a.run@0", "failed:a refused@5", "a.gone"}},
      // Nobody wants the connection: it is shut at once and ends itself.
      {connectAfter(0), false, {"a.run@0", "a.io.shutdown(0,0)", "a.io.gone"}},
      {failAfter(0), false, {"a.run@0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "succeeds=" << c.outcome.succeeds << " delay=" << c.outcome.delayMs
                                    << " callback=" << c.withCallback);
    trace_.clear();
    fakeNow = 0;
    io::IoConnector* connector = own(new TestConnector("a", c.outcome, &trace_));
    connector->start(c.withCallback ? &receiver_ : nullptr);
    EXPECT_TRUE(trace_.empty()) << "start must not run the attempt";
    runUntil(100);
    EXPECT_EQ(trace_, c.expected);
    receiver_.owner.reset();
  }
}

TEST_F(IoConnectorTest, BaseConnectorHasNoBlockingConnect) {
  struct Bare : io::IoConnectorBase {
    void cancel() override {}
  } bare;
  EXPECT_STREQ(bare.methodName().c_str(), "<unknown method>");
  try {
    bare.connect();
    ADD_FAILURE() << "connect returned";
  } catch (const plat::Exception& e) {
    EXPECT_STREQ(e.str(), "IoConnector::connect() not implemented");
  }
}

TEST_F(IoConnectorTest, MultiRacesOrRunsInTurn) {
  struct Case {
    const char* name;
    int staggerMs;
    std::vector<Outcome> outcomes;
    Trace expected;
  };
  const Case cases[] = {
      {"stagger: first success wins, the rest are destroyed last first",
       10,
       {hang(), hang(), connectAfter(5)},
       {"a.run@0", "b.run@10", "c.run@20", "c.gone", "b.gone", "a.gone", "connected:c.io@25"}},
      {"stagger: a failure starts the next at once",
       10,
       {failAfter(5), connectAfter(20), hang()},
       {"a.run@0", "b.run@5", "c.run@15", "c.gone", "b.gone", "a.gone", "connected:b.io@25"}},
      {"stagger: failure reported only after the last running one fails",
       10,
       {failAfter(30), failAfter(5), failAfter(50)},
       {"a.run@0", "b.run@10", "c.run@15", "failed:c refused@65", "c.gone", "b.gone", "a.gone"}},
      {"stagger: success at once starts no other",
       10,
       {connectAfter(0), hang()},
       {"a.run@0", "b.gone", "a.gone", "connected:a.io@0"}},
      {"in turn: each starts when the previous fails; the last error is reported",
       -1,
       {failAfter(5), failAfter(5), failAfter(5)},
       {"a.run@0", "b.run@5", "c.run@10", "failed:c refused@15", "c.gone", "b.gone", "a.gone"}},
      {"in turn: a hanging attempt holds back the next", -1, {hang(), connectAfter(0)}, {"a.run@0"}},
      {"in turn: success stops the sequence",
       -1,
       {failAfter(5), connectAfter(5), hang()},
       {"a.run@0", "b.run@5", "c.gone", "b.gone", "a.gone", "connected:b.io@10"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    trace_.clear();
    fakeNow = 0;
    std::vector<std::unique_ptr<io::IoConnector>> connectors;
    std::string name = "a";
    for (const Outcome& o : c.outcomes) {
      connectors.push_back(std::make_unique<TestConnector>(name, o, &trace_));
      name[0]++;
    }
    io::IoConnector* multi = own(new io::IoConnectorMulti(std::move(connectors), c.staggerMs));
    multi->start(&receiver_);
    EXPECT_TRUE(trace_.empty());
    runUntil(200);
    EXPECT_EQ(trace_, c.expected);
    receiver_.owner.reset();
  }
}

TEST_F(IoConnectorTest, MultiForwardsTheFirstNoticeOnly) {
  std::vector<std::unique_ptr<io::IoConnector>> connectors;
  auto* a = new TestConnector("a", hang(), &trace_);
  auto* b = new TestConnector("b", hang(), &trace_);
  connectors.emplace_back(a);
  connectors.emplace_back(b);
  io::IoConnector* multi = own(new io::IoConnectorMulti(std::move(connectors), 0));
  multi->start(&receiver_);
  runUntil(3);
  b->sendNotice();
  a->sendNotice();
  b->sendNotice();
  EXPECT_EQ(trace_, (Trace{"a.run@0", "b.run@0", "notify@3"}));
}

TEST_F(IoConnectorTest, MultiBlockingConnectTriesInOrder) {
  struct Case {
    std::vector<Outcome> outcomes;
    const char* result;  // the connection's name, or the error text
  };
  const Case cases[] = {
      {{failAfter(0), connectAfter(0), connectAfter(0)}, "b.io"},
      {{connectAfter(0), failAfter(0)}, "a.io"},
      {{failAfter(0), failAfter(0)}, "b refused"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    std::vector<std::unique_ptr<io::IoConnector>> connectors;
    std::string name = "a";
    for (const Outcome& o : c.outcomes) {
      connectors.push_back(std::make_unique<TestConnector>(name, o, &trace_));
      name[0]++;
    }
    io::IoConnectorMulti multi(std::move(connectors), 10);
    try {
      std::unique_ptr<io::Io> io(multi.connect());
      EXPECT_STREQ(io->displayName().c_str(), c.result);
    } catch (const plat::Exception& e) {
      EXPECT_STREQ(e.str(), c.result);
    }
  }
}

TEST_F(IoConnectorTest, MultiMisuseIsAnAssertion) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto multiOf = [this](int n) {
    std::vector<std::unique_ptr<io::IoConnector>> connectors;
    for (int i = 0; i < n; i++) connectors.push_back(std::make_unique<TestConnector>("x", hang(), &trace_));
    return std::make_unique<io::IoConnectorMulti>(std::move(connectors), 10);
  };
  EXPECT_EXIT(multiOf(0)->start(&receiver_), testing::KilledBySignal(SIGABRT), "Assertion '!ics.empty\\(\\)' failed");
  // The blocking form refuses an empty list alike (it used to read outside
  // the list).
  EXPECT_EXIT(static_cast<void>(multiOf(0)->connect()), testing::KilledBySignal(SIGABRT),
              "Assertion '!ics.empty\\(\\)' failed");
  EXPECT_EXIT(multiOf(1)->start(nullptr), testing::KilledBySignal(SIGABRT), "Assertion 'cb_' failed");
  EXPECT_EXIT(
      {
        auto multi = multiOf(1);
        multi->start(&receiver_);
        multi->start(&receiver_);
      },
      testing::KilledBySignal(SIGABRT), "Assertion '!cb' failed");
}

}  // namespace
