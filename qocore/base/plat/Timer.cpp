#include "qocore/base/plat/Timer.h"

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

TimerManager::TimerManager(bool nested) : previous_(thrInst) {
  PLAT_ASSERT(nested || !thrInst);
  thrInst = this;
}

TimerManager::~TimerManager() {
  while (head_) {
    Timer* timer = head_;
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

TimeValue TimerManager::readClock(bool* jumpedOut) {
  TimeValue expected = head_ ? head_->due_ + kJumpSlack : -1;
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
  Timer* timer = tail_;
  head_ = tail_ = nullptr;
  while (timer) {
    Timer* previous = timer->prev_;
    timer->next_ = timer->prev_ = nullptr;
    timer->due_ = afterInterval(now, timer->interval_);
    insert(timer);
    timer = previous;
  }
  for (size_t i = 0; i < fireQueue_.size(); ++i) fireQueue_[i]->due_ = now;
}

void TimerManager::insert(Timer* timer) {
  Timer* after = nullptr;
  for (Timer* t = head_; t && t->due_ <= timer->due_; t = t->next_) after = t;
  timer->prev_ = after;
  timer->next_ = after ? after->next_ : head_;
  if (timer->next_)
    timer->next_->prev_ = timer;
  else
    tail_ = timer;
  if (after)
    after->next_ = timer;
  else
    head_ = timer;
}

void TimerManager::unlink(Timer* timer) noexcept {
  if (timer->prev_)
    timer->prev_->next_ = timer->next_;
  else
    head_ = timer->next_;
  if (timer->next_)
    timer->next_->prev_ = timer->prev_;
  else
    tail_ = timer->prev_;
  timer->next_ = timer->prev_ = nullptr;
}

void TimerManager::add(Timer* timer, int ms) {
  TimeValue now = readClock();
  timer->due_ = afterInterval(now, ms);
  timer->interval_ = ms;
  timer->manager_ = this;
  insert(timer);
  if (head_ == timer) notifyOwner();
}

void TimerManager::remove(Timer* timer) {
  bool wasHead = head_ == timer;
  if (timer->prev_ || wasHead) {
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
  if (wasHead) notifyOwner();
}

int TimerManager::msUntilNext(TimeValue* now) {
  if (!head_) return -1;
  TimeValue reading = readClock();  // may restart the timers: read the head after it
  if (now) *now = reading;
  return clampedMsUntil(head_->due_, reading);
}

void TimerManager::notifyOwner() {
  if (callback_) callback_->timersChanged(msUntilNext());
}

int TimerManager::processTimers() {
  if (!head_) return -1;
  TimeValue now = readClock();
  int64_t ms = msUntil(head_->due_, now);
  if (ms > 0) return static_cast<int>(ms);

  fireQueue_.clear();
  while (head_ && head_->due_ <= now) {
    Timer* timer = head_;
    unlink(timer);
    fireQueue_.push_back(timer);
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
    timer->manager_ = this;
    insert(timer);
  }

  notifyOwner();
  return 0;
}

}  // namespace plat
