// Cost of the timer manager's bookkeeping against a std::multimap doing the
// same work in the same run.
//
// BM_Timers_*: start N timers at one interval (all due at once, the common
// shape: every connection arms the same time-out), then move the clock past
// them and fire them all.  The per_timer counter is the time per timer;
// the manager's heap keeps it within a small factor from 10 to 10,000
// timers, where the sorted list it replaced grew linearly.
//
// BM_StartCancel_* and BM_StartFire_*: scattered intervals up to a minute;
// the timers are then cancelled in a shuffled order, or fired.
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

// Time per timer, next to the benchmark's own time per iteration.
void countPerTimer(benchmark::State& state, size_t n) {
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
  state.counters["per_timer"] = benchmark::Counter(static_cast<double>(state.iterations()) * static_cast<double>(n),
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

constexpr int kOneInterval = 30'000;

void BM_Timers_Ours(benchmark::State& state) {
  TimerScope scope;
  plat::TimerManager& manager = plat::TimerManager::instance();
  const size_t n = static_cast<size_t>(state.range(0));
  Counter counter;
  std::deque<plat::Timer> timers;  // timers do not move
  for (size_t i = 0; i < n; ++i) timers.emplace_back(&counter);
  for (auto _ : state) {
    benchNow = 0;
    for (plat::Timer& timer : timers) timer.start(kOneInterval);
    benchNow = (kOneInterval + 1) * plat::kTicksPerMs;
    manager.processTimers();
  }
  if (counter.fired != state.iterations() * static_cast<int64_t>(n)) state.SkipWithError("timers lost");
  countPerTimer(state, n);
}

// The same on a multimap from due time to timer, as a reference.
void BM_Timers_StdMultimap(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  std::multimap<plat::TimeValue, Counter*> queue;
  Counter counter;
  for (auto _ : state) {
    plat::TimeValue now = 0;
    for (size_t i = 0; i < n; ++i) queue.emplace(now + kOneInterval * plat::kTicksPerMs, &counter);
    now = (kOneInterval + 1) * plat::kTicksPerMs;
    while (!queue.empty() && queue.begin()->first <= now) {
      Counter* c = queue.begin()->second;
      queue.erase(queue.begin());
      c->timerExpired(nullptr);
    }
  }
  benchmark::DoNotOptimize(counter.fired);
  countPerTimer(state, n);
}

void BM_StartCancel_Ours(benchmark::State& state) {
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
  countPerTimer(state, n);
}

void BM_StartFire_Ours(benchmark::State& state) {
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
  countPerTimer(state, n);
}

// The same bookkeeping on a multimap: due time to timer, with the handle
// kept for cancelling.
struct MapTimer {
  std::multimap<plat::TimeValue, MapTimer*>::iterator where;
  plat::TimeValue due = 0;
  int interval = 0;
  bool running = false;
};

void BM_StartCancel_StdMultimap(benchmark::State& state) {
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
  countPerTimer(state, n);
}

void BM_StartFire_StdMultimap(benchmark::State& state) {
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
  countPerTimer(state, n);
}

// 10 to 10,000 timers: a few timers per loop is the common case; thousands
// only under load.
#define TIMER_SIZES RangeMultiplier(10)->Range(10, 10'000)

BENCHMARK(BM_Timers_Ours)->TIMER_SIZES;
BENCHMARK(BM_Timers_StdMultimap)->TIMER_SIZES;
BENCHMARK(BM_StartCancel_Ours)->TIMER_SIZES;
BENCHMARK(BM_StartCancel_StdMultimap)->TIMER_SIZES;
BENCHMARK(BM_StartFire_Ours)->TIMER_SIZES;
BENCHMARK(BM_StartFire_StdMultimap)->TIMER_SIZES;

}  // namespace

BENCHMARK_MAIN();
