#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/runloop/RunLoop.h"
#include "qocore/base/io/mac/IoRunLoopManager.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/Timer.h"
#include "testing/LogCapture.h"

namespace {

using plat::Timer;
using plat::TimerManager;
using plat::TimeValue;
using testing::ElementsAre;
using testing::HasSubstr;
using yarl_test::LogRecord;

constexpr TimeValue kMs = plat::kTicksPerMs;

// The replacement monotonic clock: tests move `now` by hand and may arm a
// jump for the next reading.
struct FakeClock {
  TimeValue now = 1'000'000'000'000;
  bool jumpNext = false;
  TimeValue jumpTo = 0;
  std::vector<TimeValue> expectations;  // `expected` of every reading
};
FakeClock fakeClock;

TimeValue readFakeClock(TimeValue expected, bool* jumped) {
  fakeClock.expectations.push_back(expected);
  bool jump = fakeClock.jumpNext;
  if (jump) {
    fakeClock.now = fakeClock.jumpTo;
    fakeClock.jumpNext = false;
  }
  if (jumped) *jumped = jump;
  return fakeClock.now;
}

// A timer whose callback runs a test's function; firings are logged by
// name into the fixture's list.
class NamedTimer : public Timer::Callback {
 public:
  NamedTimer(std::string name, std::vector<std::string>& fired) : name_(std::move(name)), fired_(fired) {}
  ~NamedTimer() override { timer.cancel(); }

  bool timerExpired(Timer* t) override {
    EXPECT_EQ(t, &timer);
    EXPECT_FALSE(timer.isRunning());
    fired_.push_back(name_);
    return onFire ? onFire() : false;
  }

  Timer timer{this};
  std::function<bool()> onFire;

 private:
  std::string name_;
  std::vector<std::string>& fired_;
};

class RecordingOwner : public TimerManager::Callback {
 public:
  void timersChanged(int ms) override { changes.push_back(ms); }
  std::vector<int> changes;
};

class TimerTest : public testing::Test {
 protected:
  void SetUp() override {
    fakeClock = FakeClock{};
    previousClock_ = plat::setMonotonicClock(&readFakeClock);
    manager_ = std::make_unique<TimerManager>();
  }
  void TearDown() override {
    timers_.clear();
    manager_.reset();
    plat::setMonotonicClock(previousClock_);
  }

  NamedTimer& timer(const std::string& name) {
    timers_.push_back(std::make_unique<NamedTimer>(name, fired_));
    return *timers_.back();
  }
  void advanceMs(TimeValue ms) { fakeClock.now += ms * kMs; }

  RecordingOwner owner_;  // outlives the timers, which tell it when they go
  std::unique_ptr<TimerManager> manager_;
  std::vector<std::string> fired_;
  std::vector<std::unique_ptr<NamedTimer>> timers_;
  plat::MonotonicClockFn previousClock_ = nullptr;
  yarl_test::LogCapture capture_{"TimerManager:capture:110"};
};

TEST_F(TimerTest, ProcessTimersReportsTheWaitOrFires) {
  struct Case {
    int startMs;
    TimeValue advanceTicks;
    int result;
    bool fires;
  } cases[] = {
      {100, 0, 100, false},
      {1, 0, 1, false},
      {100, 99 * kMs + 1, 1, false},  // rounded up
      {100, 100 * kMs - 1, 1, false},
      {100, 100 * kMs, 0, true},
      {100, 5000 * kMs, 0, true},
      {0, 0, 0, true},
      {-5, 0, 0, true},
      {INT32_MAX, 0, INT32_MAX, false},
  };
  EXPECT_EQ(manager_->processTimers(), -1);
  for (const Case& c : cases) {
    NamedTimer& t = timer("t");
    fired_.clear();
    t.timer.start(c.startMs);
    fakeClock.now += c.advanceTicks;
    EXPECT_EQ(manager_->processTimers(), c.result) << c.startMs << " ms after " << c.advanceTicks << " ticks";
    EXPECT_EQ(fired_.size(), c.fires ? 1u : 0u) << c.startMs << " ms after " << c.advanceTicks << " ticks";
    EXPECT_EQ(t.timer.isRunning(), !c.fires);
    t.timer.cancel();
  }
  EXPECT_EQ(manager_->processTimers(), -1);
}

TEST_F(TimerTest, DueOrderAndStartOrderForEqualDueTimes) {
  for (const char* name : {"a", "b", "c"}) timer(name).timer.start(100);
  timer("early").timer.start(50);
  timer("late").timer.start(101);
  advanceMs(100);
  EXPECT_EQ(manager_->processTimers(), 0);
  EXPECT_THAT(fired_, ElementsAre("early", "a", "b", "c"));
  EXPECT_EQ(manager_->msUntilNext(), 1);
}

// Timers due after every running one join a sorted run, earlier ones a
// heap, and cancelling leaves holes that are squeezed out later.  Against
// a plain sorted model, many starts, restarts and cancels with few
// distinct intervals (so many equal due times) fire in the same order.
TEST_F(TimerTest, FiringOrderMatchesASortedModel) {
  std::vector<NamedTimer*> pool;
  for (int i = 0; i < 300; ++i) pool.push_back(&timer(std::to_string(i)));
  std::map<std::pair<TimeValue, uint64_t>, int> model;  // (due, start number) -> timer
  std::map<int, std::pair<TimeValue, uint64_t>> keyOf;
  uint64_t starts = 0;
  std::mt19937 random(14);
  std::vector<std::string> expected;
  auto start = [&](int which, int ms) {
    pool[which]->timer.start(ms);
    if (keyOf.count(which)) model.erase(keyOf[which]);
    keyOf[which] = {fakeClock.now + ms * kMs, starts++};
    model[keyOf[which]] = which;
  };
  for (int step = 0; step < 20'000; ++step) {
    // Now and then a burst of long timers fills the run, for the cancels
    // that follow to leave holes in.
    if (step % 2'500 == 0) {
      for (int i = 0; i < 200; ++i) start(i, 1'000);
    }
    int which = static_cast<int>(random() % pool.size());
    NamedTimer& t = *pool[which];
    switch (random() % 16) {
      case 0:
      case 1:
      case 2:
      case 3:
      case 4:
        t.timer.cancel();
        if (keyOf.count(which)) model.erase(keyOf[which]), keyOf.erase(which);
        break;
      case 5:
        advanceMs(random() % 40);
        for (auto it = model.begin(); it != model.end() && it->first.first <= fakeClock.now;) {
          expected.push_back(std::to_string(it->second));
          keyOf.erase(it->second);
          it = model.erase(it);
        }
        manager_->processTimers();
        ASSERT_EQ(fired_, expected) << "step " << step;
        break;
      default: {
        static constexpr int kIntervals[] = {0, 10, 10, 50, 100, 100, 100, 400};
        start(which, kIntervals[random() % 8]);
        break;
      }
    }
  }
  for (auto& [which, key] : keyOf) EXPECT_TRUE(pool[which]->timer.isRunning()) << which;
  EXPECT_EQ(manager_->processTimers() == -1, model.empty());
}

TEST_F(TimerTest, RepeatingTimerKeepsItsRhythmButNeverCatchesUp) {
  NamedTimer& t = timer("tick");
  t.onFire = [] { return true; };
  t.timer.start(1000);
  TimeValue firstDue = t.timer.dueTime();

  // A little late: the next due time follows the old one, not the firing.
  advanceMs(1003);
  manager_->processTimers();
  EXPECT_EQ(t.timer.dueTime(), firstDue + 1000 * kMs);

  // 2500 ms late: one firing, then a full interval from now.
  fakeClock.now = t.timer.dueTime() + 2500 * kMs;
  manager_->processTimers();
  EXPECT_EQ(fired_.size(), 2u);
  EXPECT_EQ(t.timer.dueTime(), fakeClock.now + 1000 * kMs);
  EXPECT_EQ(manager_->processTimers(), 1000);
  EXPECT_EQ(fired_.size(), 2u);
  EXPECT_EQ(t.timer.remaining(), 1000 * kMs);
}

TEST_F(TimerTest, CancelInsideARound) {
  NamedTimer& first = timer("first");
  NamedTimer& second = timer("second");
  NamedTimer& later = timer("later");
  first.onFire = [&] {
    second.timer.cancel();  // waiting in this round's queue
    later.timer.cancel();   // still in the list
    first.timer.cancel();   // itself, already idle
    return false;
  };
  first.timer.start(10);
  second.timer.start(10);
  later.timer.start(500);
  advanceMs(10);
  EXPECT_EQ(manager_->processTimers(), 0);
  EXPECT_THAT(fired_, ElementsAre("first"));
  EXPECT_FALSE(second.timer.isRunning());
  EXPECT_FALSE(later.timer.isRunning());
  EXPECT_EQ(manager_->processTimers(), -1);
}

TEST_F(TimerTest, RestartInsideTheCallback) {
  NamedTimer& self = timer("self");
  NamedTimer& queued = timer("queued");
  self.onFire = [&] {
    self.timer.start(300);   // its own new interval wins over the re-arm
    queued.timer.start(50);  // taken out of this round and started afresh
    return true;
  };
  self.timer.start(10);
  queued.timer.start(10);
  advanceMs(10);
  manager_->processTimers();
  EXPECT_THAT(fired_, ElementsAre("self"));
  EXPECT_EQ(self.timer.interval(), 300);
  EXPECT_EQ(self.timer.dueTime(), fakeClock.now + 300 * kMs);
  EXPECT_EQ(queued.timer.dueTime(), fakeClock.now + 50 * kMs);

  // A callback that starts a timer due at once does not fire it in the same round.
  self.onFire = [&] {
    queued.timer.start(0);
    return false;
  };
  queued.timer.cancel();
  advanceMs(300);
  manager_->processTimers();
  EXPECT_THAT(fired_, ElementsAre("self", "self"));
  EXPECT_EQ(manager_->processTimers(), 0);
  EXPECT_THAT(fired_, ElementsAre("self", "self", "queued"));
}

TEST_F(TimerTest, OwnerHearsOnlyWhenTheFirstDueTimeChanges) {
  RecordingOwner& owner = owner_;
  manager_->setCallback(&owner);
  NamedTimer& a = timer("a");
  NamedTimer& b = timer("b");
  NamedTimer& c = timer("c");
  a.timer.start(100);  // first: 100
  b.timer.start(200);  // not first: nothing
  c.timer.start(50);   // first: 50
  b.timer.cancel();    // not first: nothing
  c.timer.cancel();    // the first goes: 100 until a
  advanceMs(40);
  EXPECT_EQ(manager_->processTimers(), 60);  // nothing due: nothing told
  advanceMs(60);
  EXPECT_EQ(manager_->processTimers(), 0);  // round ends with an empty list: -1
  a.timer.start(30);                        // 30
  a.timer.cancel();                         // the only timer goes: -1
  EXPECT_THAT(owner.changes, ElementsAre(100, 50, 100, -1, 30, -1));

  owner.changes.clear();
  a.onFire = [] { return true; };
  a.timer.start(30);
  advanceMs(75);  // late past the next due time too: re-armed from now
  manager_->processTimers();
  EXPECT_THAT(owner.changes, ElementsAre(30, 30));
}

TEST_F(TimerTest, ClockIsAskedToReportJumpsAgainstTheFirstDueTime) {
  NamedTimer& t = timer("t");
  t.timer.start(100);  // read with an empty list
  TimeValue due = t.timer.dueTime();
  manager_->msUntilNext();
  EXPECT_THAT(fakeClock.expectations, ElementsAre(-1, due + 2'400'000'000));
}

TEST_F(TimerTest, JumpRestartsListedTimersFromTheNewReading) {
  const char* forwards = "Time has jumped forwards - restarting timers";
  const char* backwards = "Time has moved backwards - restarting timers";
  // The reading after the jump, against the bound the clock was given (the
  // first due time + 240 s), picks the words: below it, "forwards".
  struct Case {
    TimeValue fromBound;
    const char* message;
  } cases[] = {
      {-4000 * plat::kTicksPerSecond, forwards},
      {-1, forwards},
      {0, backwards},
      {3600 * plat::kTicksPerSecond, backwards},
  };
  for (const Case& c : cases) {
    capture_.clear();
    fired_.clear();
    NamedTimer& slow = timer("slow");
    NamedTimer& fast = timer("fast");
    NamedTimer& middle = timer("middle");
    slow.timer.start(300);
    fast.timer.start(100);
    advanceMs(50);
    middle.timer.start(200);  // due at 250: between the two before the jump

    fakeClock.jumpNext = true;
    fakeClock.jumpTo = fast.timer.dueTime() + 2'400'000'000 + c.fromBound;
    int ms = manager_->processTimers();
    TimeValue now = fakeClock.now;
    EXPECT_EQ(ms, 100) << c.fromBound;
    EXPECT_TRUE(fired_.empty()) << c.fromBound;
    EXPECT_EQ(fast.timer.dueTime(), now + 100 * kMs) << c.fromBound;
    EXPECT_EQ(middle.timer.dueTime(), now + 200 * kMs) << c.fromBound;
    EXPECT_EQ(slow.timer.dueTime(), now + 300 * kMs) << c.fromBound;
    EXPECT_THAT(capture_.records(), ElementsAre(LogRecord{"TimerManager", plat::LogSrc::kInfo, c.message}))
        << c.fromBound;

    advanceMs(100);
    manager_->processTimers();
    EXPECT_THAT(fired_, ElementsAre("fast")) << c.fromBound;
    slow.timer.cancel();
    middle.timer.cancel();
  }
}

TEST_F(TimerTest, JumpDuringARoundMakesQueuedTimersDueNow) {
  NamedTimer& first = timer("first");
  NamedTimer& second = timer("second");
  NamedTimer& listed = timer("listed");
  TimeValue secondDueWhenFired = 0;
  first.onFire = [&] {
    fakeClock.jumpNext = true;
    fakeClock.jumpTo = fakeClock.now + 3600 * plat::kTicksPerSecond;
    return true;  // the re-arm reads the jumping clock
  };
  second.onFire = [&] {
    secondDueWhenFired = second.timer.dueTime();
    return false;
  };
  first.timer.start(10);
  second.timer.start(20);
  listed.timer.start(400);
  advanceMs(20);
  manager_->processTimers();
  TimeValue now = fakeClock.now;
  EXPECT_THAT(fired_, ElementsAre("first", "second"));
  EXPECT_EQ(secondDueWhenFired, now);
  EXPECT_EQ(first.timer.dueTime(), now + 10 * kMs);  // after a jump: from the new reading
  EXPECT_EQ(listed.timer.dueTime(), now + 400 * kMs);
  EXPECT_THAT(capture_.records(), ElementsAre(LogRecord{"TimerManager", plat::LogSrc::kInfo,
                                                        "Time has moved backwards - restarting timers"}));
}

TEST_F(TimerTest, NestedManagerOwnsItsTimersUntilItGoes) {
  NamedTimer& outerTimer = timer("outer");
  outerTimer.timer.start(100);
  NamedTimer& innerTimer = timer("inner");
  NamedTimer& queued = timer("queued");
  {
    TimerManager inner(true);
    EXPECT_EQ(TimerManager::current(), &inner);
    EXPECT_EQ(&TimerManager::instance(), &inner);
    innerTimer.timer.start(100);
    queued.timer.start(100);
    innerTimer.onFire = [&] {
      // Leave `queued` in the fire queue when the manager goes.
      throw 1;
      return false;
    };
    advanceMs(100);
    EXPECT_THROW(inner.processTimers(), int);
    EXPECT_TRUE(queued.timer.isRunning());
  }
  EXPECT_EQ(TimerManager::current(), manager_.get());
  EXPECT_FALSE(innerTimer.timer.isRunning());
  EXPECT_FALSE(queued.timer.isRunning());
  EXPECT_TRUE(outerTimer.timer.isRunning());
  EXPECT_EQ(manager_->processTimers(), 0);
  EXPECT_THAT(fired_, ElementsAre("inner", "outer"));
}

TEST_F(TimerTest, TimersLeftByAThrowingCallbackFireInTheNextRound) {
  NamedTimer& thrower = timer("thrower");
  NamedTimer& queued = timer("queued");
  thrower.onFire = []() -> bool { throw 1; };
  thrower.timer.start(10);
  queued.timer.start(10);
  advanceMs(10);
  EXPECT_THROW(manager_->processTimers(), int);
  EXPECT_TRUE(queued.timer.isRunning());
  EXPECT_EQ(manager_->processTimers(), 0);
  EXPECT_THAT(fired_, ElementsAre("thrower", "queued"));
  EXPECT_FALSE(queued.timer.isRunning());
  EXPECT_EQ(manager_->processTimers(), -1);
}

// The loop the program runs drives the timers: a callback that runs a
// nested turn of it (as a modal dialog does) starts a second round inside
// the first.  Every timer due in either round fires once.
TEST_F(TimerTest, NestedLoopInACallbackKeepsTheOuterRound) {
  manager_.reset();  // the loop's manager brings its own
  io::IoRunLoopManager loopManager;
  runloop::RunLoop& loop = loopManager.runLoop();
  NamedTimer& modal = timer("modal");
  NamedTimer& waiting = timer("waiting");
  NamedTimer& inner = timer("inner");
  NamedTimer& repeating = timer("repeating");
  int repeats = 0;
  repeating.onFire = [&] { return ++repeats < 3; };
  modal.onFire = [&] {
    inner.timer.start(0);
    loop.runOnce(0);
    return false;
  };
  modal.timer.start(10);
  waiting.timer.start(10);
  repeating.timer.start(10);
  advanceMs(10);
  loop.runOnce(0);
  EXPECT_THAT(fired_, ElementsAre("modal", "waiting", "repeating", "inner"));
  EXPECT_FALSE(waiting.timer.isRunning());
  EXPECT_TRUE(repeating.timer.isRunning());
  EXPECT_EQ(repeating.timer.dueTime(), fakeClock.now + 10 * kMs);

  fired_.clear();
  advanceMs(10);
  loop.runOnce(0);
  advanceMs(10);
  loop.runOnce(0);
  EXPECT_THAT(fired_, ElementsAre("repeating", "repeating"));
  EXPECT_EQ(loopManager.timerManager().processTimers(), -1);
  timers_.clear();
}

TEST_F(TimerTest, EachThreadHasItsOwnManager) {
  std::thread other([] {
    EXPECT_EQ(TimerManager::current(), nullptr);
    TimerManager manager;
    EXPECT_EQ(TimerManager::current(), &manager);
  });
  other.join();
  EXPECT_EQ(TimerManager::current(), manager_.get());
}

using TimerDeathTest = TimerTest;

TEST_F(TimerDeathTest, ManagerMisuseIsFatal) {
  EXPECT_EXIT(TimerManager second, testing::KilledBySignal(SIGABRT),
              HasSubstr("Assertion 'nested || !thrInst' failed"));
  EXPECT_EXIT(
      {
        std::thread([] {
          Timer orphan(nullptr);
          orphan.start(10);
        }).join();
      },
      testing::KilledBySignal(SIGABRT), HasSubstr("Assertion 'thrInst' failed"));
  EXPECT_EXIT(
      {
        auto inner = std::make_unique<TimerManager>(true);
        manager_.reset();
      },
      testing::KilledBySignal(SIGABRT), HasSubstr("Assertion 'thrInst == this' failed"));
}

#ifndef NDEBUG
// Debug builds catch a manager used from a thread other than its owner's.
TEST_F(TimerDeathTest, AnotherThreadMayNotUseTheManager) {
  NamedTimer& t = timer("t");
  t.timer.start(10);
  EXPECT_EXIT(std::thread([&] { t.timer.cancel(); }).join(), testing::KilledBySignal(SIGABRT),
              HasSubstr("Assertion 'pthread_equal(owner_, pthread_self())' failed at qocore/base/plat/Timer.cpp"));
  EXPECT_EXIT(std::thread([&] { manager_->processTimers(); }).join(), testing::KilledBySignal(SIGABRT),
              HasSubstr("TimerManager used off the thread that made it"));
}
#endif

// The real clock end to end: wait as the manager says until the timer fires.
TEST(TimerRealClockTest, FiresAfterItsInterval) {
  TimerManager manager;
  std::vector<std::string> fired;
  NamedTimer t("real", fired);
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  t.timer.start(20);
  int ms;
  while ((ms = manager.processTimers()) > 0) plat::sleepMs(ms);
  timespec end;
  clock_gettime(CLOCK_MONOTONIC, &end);
  EXPECT_THAT(fired, ElementsAre("real"));
  EXPECT_GE(plat::timespecToTime(end.tv_sec, end.tv_nsec) - plat::timespecToTime(start.tv_sec, start.tv_nsec),
            20 * kMs);
}

}  // namespace
