// Cost of the timer manager's sorted list against a std::multimap.
//
// Each round starts N timers with scattered intervals, then either cancels
// them all (in a shuffled order) or moves the clock past the last due time
// and fires them all.  The multimap rows do the same bookkeeping with a
// map from due time to timer.  Starting is a walk of the list, so the
// manager costs O(n) per start against the map's O(log n): the rows show
// the size from which that walk dominates.  Cancelling unlinks in O(1) and
// firing takes timers from the front, so those stay flat.
//
// A replacement clock keeps the readings fixed, so only the bookkeeping is
// measured.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <random>
#include <vector>

#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/Timer.h"

namespace {

plat::TimeValue benchNow = 0;
plat::TimeValue readBenchClock(plat::TimeValue, bool* jumped) {
  if (jumped) *jumped = false;
  return benchNow;
}

class Counter : public plat::Timer::Callback {
 public:
  bool timerExpired(plat::Timer*) override {
    ++fired;
    return false;
  }
  int64_t fired = 0;
};

// Intervals up to a minute, and a cancelling order, fixed per size.
struct Workload {
  explicit Workload(size_t n) : intervals(n), order(n) {
    std::mt19937 random(static_cast<uint32_t>(n));
    std::uniform_int_distribution<int> ms(0, 60'000);
    for (size_t i = 0; i < n; ++i) {
      intervals[i] = ms(random);
      order[i] = i;
    }
    std::shuffle(order.begin(), order.end(), random);
  }
  std::vector<int> intervals;
  std::vector<size_t> order;
};

// Installs the fixed clock and a manager for the benchmark's thread.
class TimerScope {
 public:
  TimerScope() : previous_(plat::setMonotonicClock(&readBenchClock)) { benchNow = 0; }
  ~TimerScope() { plat::setMonotonicClock(previous_); }

 private:
  plat::MonotonicClockFn previous_;
  plat::TimerManager manager_;
};

void BM_ManagerStartCancel(benchmark::State& state) {
  TimerScope scope;
  const size_t n = static_cast<size_t>(state.range(0));
  Workload work(n);
  Counter counter;
  std::deque<plat::Timer> timers;  // timers do not move
  for (size_t i = 0; i < n; ++i) timers.emplace_back(&counter);
  for (auto _ : state) {
    for (size_t i = 0; i < n; ++i) timers[i].start(work.intervals[i]);
    for (size_t i : work.order) timers[i].cancel();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
}

void BM_ManagerStartFire(benchmark::State& state) {
  TimerScope scope;
  plat::TimerManager& manager = plat::TimerManager::instance();
  const size_t n = static_cast<size_t>(state.range(0));
  Workload work(n);
  Counter counter;
  std::deque<plat::Timer> timers;  // timers do not move
  for (size_t i = 0; i < n; ++i) timers.emplace_back(&counter);
  for (auto _ : state) {
    benchNow = 0;
    for (size_t i = 0; i < n; ++i) timers[i].start(work.intervals[i]);
    benchNow = 60'001 * plat::kTicksPerMs;
    manager.processTimers();
  }
  benchmark::DoNotOptimize(counter.fired);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
}

// The same bookkeeping on a multimap: due time to timer, with the handle
// kept for cancelling.
struct MapTimer {
  std::multimap<plat::TimeValue, MapTimer*>::iterator where;
  plat::TimeValue due = 0;
  int interval = 0;
  bool running = false;
};

void BM_MultimapStartCancel(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  Workload work(n);
  std::multimap<plat::TimeValue, MapTimer*> queue;
  std::vector<MapTimer> timers(n);
  for (auto _ : state) {
    for (size_t i = 0; i < n; ++i) {
      MapTimer& t = timers[i];
      t.interval = work.intervals[i];
      t.due = benchNow + t.interval * plat::kTicksPerMs;
      t.where = queue.emplace(t.due, &t);  // after equal keys, as the list does
      t.running = true;
    }
    for (size_t i : work.order) {
      MapTimer& t = timers[i];
      if (t.running) queue.erase(t.where);
      t.running = false;
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
}

void BM_MultimapStartFire(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  Workload work(n);
  std::multimap<plat::TimeValue, MapTimer*> queue;
  std::vector<MapTimer> timers(n);
  int64_t fired = 0;
  for (auto _ : state) {
    plat::TimeValue now = 0;
    for (size_t i = 0; i < n; ++i) {
      MapTimer& t = timers[i];
      t.interval = work.intervals[i];
      t.due = now + t.interval * plat::kTicksPerMs;
      t.where = queue.emplace(t.due, &t);
      t.running = true;
    }
    now = 60'001 * plat::kTicksPerMs;
    while (!queue.empty() && queue.begin()->first <= now) {
      MapTimer* t = queue.begin()->second;
      queue.erase(queue.begin());
      t->running = false;
      ++fired;
    }
  }
  benchmark::DoNotOptimize(fired);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
}

// 10 to 10,000 timers: a few timers per loop is the common case; thousands
// only under load.
#define TIMER_SIZES RangeMultiplier(10)->Range(10, 10'000)

BENCHMARK(BM_ManagerStartCancel)->TIMER_SIZES;
BENCHMARK(BM_MultimapStartCancel)->TIMER_SIZES;
BENCHMARK(BM_ManagerStartFire)->TIMER_SIZES;
BENCHMARK(BM_MultimapStartFire)->TIMER_SIZES;

}  // namespace

BENCHMARK_MAIN();
