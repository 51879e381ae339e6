#pragma once
// One-shot timers in milliseconds, kept per thread in due-time order.
//
// A plat::Timer belongs to its user (usually a member) and reports to a
// plat::Timer::Callback.  The thread that starts it must have a
// plat::TimerManager; the timer fires on that thread when the manager's
// owner (an event loop) calls processTimers.  The manager tells its owner
// whenever the earliest due time changes, so the loop can sleep exactly
// until then.  No locks: a timer is touched only by the thread that started
// it.
//
// Callbacks may start and cancel any timer, themselves included, while a
// round of firing runs: the due timers of a round wait in a fire queue, and
// a timer cancelled there does not fire.  A callback may also run a nested
// loop that fires timers again (a modal dialog does): the nested round
// shares the fire queue, so every timer due in either round fires once.
//
// Running timers are ordered by due time and then by start order, so
// timers due at the same time fire in the order they were started.  Most
// timers are due after every timer already running (one interval serves a
// whole kind of time-out), so those join the end of a sorted run in O(1);
// the others wait in a binary heap.  Starting, cancelling and firing cost
// O(1) (amortised) in the common case and O(log n) at worst; cancelling a
// timer that waits in the fire queue of a running round is linear in the
// queue.
//
// A manager belongs to the thread that made it; debug builds assert that
// no other thread uses it.

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "qocore/base/plat/CircularVector.h"
#include "qocore/base/plat/Time.h"

namespace plat {

class TimerManager;

class Timer {
 public:
  class Callback {
   public:
    virtual ~Callback();
    // True asks for the timer to run again with the same interval.
    virtual bool timerExpired(Timer* timer) = 0;
  };

  explicit Timer(Callback* callback) noexcept : callback_(callback) {}
  // Owners cancel before their timers go; this cancels as a last resort.
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  // (Re)starts the timer on the calling thread's manager, due ms from now.
  void start(int ms);
  // Stops a running timer; nothing otherwise.  Safe inside any callback.
  void cancel();
  // Due time minus the monotonic now, in ticks; negative when overdue.
  TimeValue remaining() const;

  bool isRunning() const noexcept { return manager_ != nullptr; }
  // The interval of the last start, in milliseconds.
  int interval() const noexcept { return interval_; }
  // Monotonic ticks.
  TimeValue dueTime() const noexcept { return due_; }

 private:
  friend class TimerManager;

  enum Place : uint8_t { kUnlisted, kInRun, kInHeap };

  // Where the timer is listed: unlisted while idle or in the fire queue.
  Place place_ = kUnlisted;
  // Its index in the heap, or its number in the run.
  uint64_t position_ = 0;
  TimeValue due_ = 0;
  int32_t interval_ = 0;
  Callback* callback_;
  // The manager that runs it; null while idle.
  TimerManager* manager_ = nullptr;
};

class TimerManager {
 public:
  // The owner's hook.  Not deleted through this interface.
  class Callback {
   public:
    // Milliseconds until the first due timer (rounded up, 0..INT32_MAX),
    // or -1 when no timer is running.
    virtual void timersChanged(int ms) = 0;

   protected:
    ~Callback() = default;
  };

  // Becomes the calling thread's manager.  A thread that has one already
  // needs `nested`; the previous one returns when this one goes.
  explicit TimerManager(bool nested = false);
  // Stops every timer it runs (without telling the owner) and restores the
  // previous manager.  Must be destroyed on its thread, innermost first.
  virtual ~TimerManager();
  TimerManager(const TimerManager&) = delete;
  TimerManager& operator=(const TimerManager&) = delete;

  // The calling thread's manager; a fatal assertion when there is none.
  static TimerManager& instance();
  // The same, or null.
  static TimerManager* current() noexcept;

  void setCallback(Callback* callback) noexcept { callback_ = callback; }

  // Fires the due timers, and any that an interrupted round (one whose
  // callback runs this again, or throws) left waiting.  Returns -1 when no
  // timer is running, the milliseconds until the first one when none is
  // due, and 0 after a round.
  int processTimers();
  // -1 when no timer is running, else the milliseconds until the first due
  // time (rounded up, 0..INT32_MAX).  *now receives the clock reading used.
  int msUntilNext(TimeValue* now = nullptr);

 private:
  friend class Timer;

  // The monotonic clock, asked to report jumps against the first due time;
  // a jump re-arms every timer from the new reading.
  TimeValue readClock(bool* jumped = nullptr);
  void restartAfterJump(TimeValue now);
  void add(Timer* timer, int ms);
  void remove(Timer* timer);
  // Lists the timer after every timer due no later.
  void insert(Timer* timer);
  void unlink(Timer* timer) noexcept;
  // Tells the owner, if any, how long until the first due time.
  void notifyOwner();
  // The first due timer, or null.
  Timer* first() const noexcept;
  bool empty() const noexcept { return run_.empty() && heap_.empty(); }
  // A fatal assertion, in debug builds, on any thread but the owner's.
  void checkThread() const noexcept;

  // A listed timer with its ordering key beside it, so that ordering
  // compares without visiting the timers.  A cancelled timer leaves a
  // slot without a timer in the run.
  struct Slot {
    TimeValue due = 0;
    uint64_t sequence = 0;
    Timer* timer = nullptr;
  };
  static bool earlier(const Slot& a, const Slot& b) noexcept {
    return a.due < b.due || (a.due == b.due && a.sequence < b.sequence);
  }
  void placeInHeap(const Slot& slot, size_t i) noexcept;
  void siftUp(size_t i) noexcept;
  void siftDown(size_t i) noexcept;
  // Drops empty slots from the front of the run, and squeezes them out
  // once they outnumber the timers.
  void tidyRun() noexcept;

  TimerManager* previous_;
  // Sorted by due time and start order; its front slot always holds a
  // timer.  runBase_ is the number of the front slot.
  CircularVector<Slot> run_;
  uint64_t runBase_ = 0;
  size_t runEmptySlots_ = 0;
  // The timers due before the end of the run when they were started.
  std::vector<Slot> heap_;
  uint64_t nextSequence_ = 0;
  CircularVector<Timer*> fireQueue_;
  Callback* callback_ = nullptr;
  pthread_t owner_;
};

}  // namespace plat
