#include "qocore/base/plat/Timer.h"

#include <algorithm>
#include <climits>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"

namespace plat {

namespace {

// Never destroyed: timers may still be cancelled, and log, while the
// process exits.
PLAT_LOG_SOURCE(timerLog, "TimerManager");

// The calling thread's manager.
constinit thread_local TimerManager* thrInst = nullptr;

// The clock is asked to report a jump when it reads beyond the first due
// time by more than this.
constexpr TimeValue kJumpSlack = 2'400'000'000;  // 240 s

// Milliseconds from now until due, rounded up, at most INT32_MAX.
int64_t msUntil(TimeValue due, TimeValue now) noexcept {
  __int128 ms = (static_cast<__int128>(due) - now + 9'999) / kTicksPerMs;
  return ms > INT32_MAX ? INT32_MAX : static_cast<int64_t>(ms);
}

int clampedMsUntil(TimeValue due, TimeValue now) noexcept {
  int64_t ms = msUntil(due, now);
  return ms < 0 ? 0 : static_cast<int>(ms);
}

TimeValue afterInterval(TimeValue from, int intervalMs) noexcept {
  TimeValue due;
  if (__builtin_add_overflow(from, static_cast<TimeValue>(intervalMs) * kTicksPerMs, &due))
    due = intervalMs < 0 ? INT64_MIN : INT64_MAX;
  return due;
}

}  // namespace

Timer::Callback::~Callback() = default;

Timer::~Timer() { cancel(); }

void Timer::start(int ms) {
  if (manager_) manager_->remove(this);
  TimerManager::instance().add(this, ms);
}

void Timer::cancel() {
  if (manager_) manager_->remove(this);
}

TimeValue Timer::remaining() const { return due_ - getMonotonicTime(); }

TimerManager::TimerManager(bool nested) : previous_(thrInst), owner_(pthread_self()) {
  PLAT_ASSERT(nested || !thrInst);
  thrInst = this;
}

TimerManager::~TimerManager() {
  checkThread();
  while (Timer* timer = first()) {
    unlink(timer);
    timer->manager_ = nullptr;
  }
  while (!fireQueue_.empty()) {
    fireQueue_.front()->manager_ = nullptr;
    fireQueue_.pop_front();
  }
  PLAT_ASSERT(thrInst == this);
  thrInst = previous_;
}

TimerManager& TimerManager::instance() {
  PLAT_ASSERT(thrInst);
  return *thrInst;
}

TimerManager* TimerManager::current() noexcept { return thrInst; }

void TimerManager::checkThread() const noexcept {
#ifndef NDEBUG
  PLAT_ASSERT_MSG(pthread_equal(owner_, pthread_self()), "TimerManager used off the thread that made it");
#endif
}

TimeValue TimerManager::readClock(bool* jumpedOut) {
  Timer* head = first();
  TimeValue expected = head ? head->due_ + kJumpSlack : -1;
  bool jumped = false;
  TimeValue now = getMonotonicTime(expected, &jumped);
  if (jumpedOut) *jumpedOut = jumped;
  if (jumped) {
    // Which case a replacement clock calls a jump is up to it; the reading
    // against the bound picks the words.
    timerLog().info(now < expected ? "Time has jumped forwards - restarting timers"
                                   : "Time has moved backwards - restarting timers");
    restartAfterJump(now);
  }
  return now;
}

void TimerManager::restartAfterJump(TimeValue now) {
  // Every listed timer is due its interval after the new reading.  They are
  // placed from the last due to the first, each after every timer due no
  // later, so new start numbers are handed out in that order.  A sorted
  // array is a heap.
  for (size_t i = 0; i < run_.size(); ++i) {
    if (run_[i].timer) heap_.push_back(run_[i]);
  }
  run_.clear();
  runEmptySlots_ = 0;
  std::sort(heap_.begin(), heap_.end(), [](const Slot& a, const Slot& b) { return earlier(b, a); });
  for (Slot& slot : heap_) {
    slot.due = slot.timer->due_ = afterInterval(now, slot.timer->interval_);
    slot.sequence = nextSequence_++;
  }
  std::sort(heap_.begin(), heap_.end(), earlier);
  for (size_t i = 0; i < heap_.size(); ++i) {
    heap_[i].timer->place_ = Timer::kInHeap;
    heap_[i].timer->position_ = i;
  }
  for (size_t i = 0; i < fireQueue_.size(); ++i) fireQueue_[i]->due_ = now;
}

Timer* TimerManager::first() const noexcept {
  const Slot* run = run_.empty() ? nullptr : &run_[0];
  const Slot* heap = heap_.empty() ? nullptr : &heap_.front();
  if (run && heap) return earlier(*heap, *run) ? heap->timer : run->timer;
  if (run) return run->timer;
  return heap ? heap->timer : nullptr;
}

void TimerManager::placeInHeap(const Slot& slot, size_t i) noexcept {
  slot.timer->place_ = Timer::kInHeap;
  slot.timer->position_ = i;
  heap_[i] = slot;
}

void TimerManager::siftUp(size_t i) noexcept {
  Slot slot = heap_[i];
  while (i > 0) {
    size_t parent = (i - 1) / 2;
    if (!earlier(slot, heap_[parent])) break;
    placeInHeap(heap_[parent], i);
    i = parent;
  }
  placeInHeap(slot, i);
}

void TimerManager::siftDown(size_t i) noexcept {
  Slot slot = heap_[i];
  const size_t n = heap_.size();
  for (;;) {
    size_t child = 2 * i + 1;
    if (child >= n) break;
    if (child + 1 < n && earlier(heap_[child + 1], heap_[child])) ++child;
    if (!earlier(heap_[child], slot)) break;
    placeInHeap(heap_[child], i);
    i = child;
  }
  placeInHeap(slot, i);
}

void TimerManager::tidyRun() noexcept {
  while (!run_.empty() && !run_[0].timer) {
    run_.pop_front();
    ++runBase_;
    --runEmptySlots_;
  }
  if (runEmptySlots_ < 32 || runEmptySlots_ * 2 < run_.size()) return;
  size_t kept = 0;
  for (size_t i = 0; i < run_.size(); ++i) {
    if (!run_[i].timer) continue;
    run_[kept] = run_[i];
    run_[kept].timer->position_ = runBase_ + kept;
    ++kept;
  }
  while (run_.size() > kept) run_.erase(run_.size() - 1);
  runEmptySlots_ = 0;
}

void TimerManager::insert(Timer* timer) {
  Slot slot{timer->due_, nextSequence_++, timer};
  if (run_.empty() || !earlier(slot, run_.back())) {
    run_.push_back(slot);
    timer->place_ = Timer::kInRun;
    timer->position_ = runBase_ + run_.size() - 1;
    return;
  }
  heap_.push_back(slot);
  siftUp(heap_.size() - 1);
}

void TimerManager::unlink(Timer* timer) noexcept {
  Timer::Place place = timer->place_;
  timer->place_ = Timer::kUnlisted;
  if (place == Timer::kInRun) {
    run_[timer->position_ - runBase_].timer = nullptr;
    ++runEmptySlots_;
    tidyRun();
    return;
  }
  size_t i = timer->position_;
  Slot last = heap_.back();
  heap_.pop_back();
  if (i == heap_.size()) return;
  placeInHeap(last, i);
  if (i > 0 && earlier(last, heap_[(i - 1) / 2]))
    siftUp(i);
  else
    siftDown(i);
}

void TimerManager::add(Timer* timer, int ms) {
  checkThread();
  TimeValue now = readClock();
  timer->due_ = afterInterval(now, ms);
  timer->interval_ = ms;
  insert(timer);
  timer->manager_ = this;
  if (first() == timer) notifyOwner();
}

void TimerManager::remove(Timer* timer) {
  checkThread();
  bool wasFirst = first() == timer;
  if (timer->place_ != Timer::kUnlisted) {
    unlink(timer);
  } else {
    for (size_t i = 0; i < fireQueue_.size(); ++i) {
      if (fireQueue_[i] == timer) {
        fireQueue_.erase(i);
        break;
      }
    }
  }
  timer->manager_ = nullptr;
  if (wasFirst) notifyOwner();
}

int TimerManager::msUntilNext(TimeValue* now) {
  checkThread();
  if (empty()) return -1;
  TimeValue reading = readClock();  // may restart the timers: read the first after it
  if (now) *now = reading;
  return clampedMsUntil(first()->due_, reading);
}

void TimerManager::notifyOwner() {
  if (callback_) callback_->timersChanged(msUntilNext());
}

int TimerManager::processTimers() {
  checkThread();
  if (empty() && fireQueue_.empty()) return -1;
  TimeValue now = readClock();
  if (fireQueue_.empty()) {
    int64_t ms = msUntil(first()->due_, now);
    if (ms > 0) return static_cast<int>(ms);
  }

  // The queue may still hold timers of a round that is running further out
  // (this call comes from one of its callbacks) or that a throwing callback
  // cut short: they are due, so they join this round ahead of the new ones.
  while (Timer* timer = first()) {
    if (timer->due_ > now) break;
    fireQueue_.push_back(timer);
    unlink(timer);
  }

  while (!fireQueue_.empty()) {
    Timer* timer = fireQueue_.front();
    fireQueue_.pop_front();
    timer->manager_ = nullptr;
    if (!timer->callback_->timerExpired(timer) || timer->manager_) continue;
    // Re-arm from the old due time, so a steady timer keeps its rhythm,
    // but never into the past: a late timer does not fire twice to catch up.
    bool jumped;
    TimeValue rearmNow = readClock(&jumped);
    TimeValue due = afterInterval(timer->due_, timer->interval_);
    if (jumped || due <= rearmNow) due = afterInterval(rearmNow, timer->interval_);
    timer->due_ = due;
    insert(timer);
    timer->manager_ = this;
  }

  notifyOwner();
  return 0;
}

}  // namespace plat
