#pragma once
// runloop::RunLoop: the per-thread event loop that stands in for the host
// platform's run loop, its socket sources and its timer.  Backed by epoll.
//
// Each thread gets its own loop on first use of current(); a loop is only
// ever touched by the thread that made it (debug builds assert so).  A loop
// serves:
//  - descriptor sources, each with read, write and connect callbacks that
//    are enabled and disabled separately.  Read stays enabled after each
//    callout; write and connect are one-shot: delivering one disables it
//    until the owner enables it again (a level-triggered write would spin).
//    A connect callout carries the socket's pending error (0 on success);
//    when write is enabled too, a write callout follows it.
//  - one timer, whose next fire time (monotonic ticks, the same replaceable
//    clock as plat::TimerManager) is set and cleared by its owner.  Waits are
//    rounded up to whole milliseconds, so a due time is never busy-waited.
//    The timer fires once per setting.
// run() serves everything until stop(), also while nothing is watched; it
// may be called from inside a callout (a modal loop), and stop() ends the
// innermost run only.
// runOnce(T) serves at most one source and returns after T at the latest;
// a due timer fires in it without counting as a source.
//
// Hang-up and error conditions count as read readiness, and as write
// readiness while write is enabled.  A descriptor epoll refuses (a regular
// file, /dev/null) is always ready.  Callouts of a source removed by an
// earlier callout of the same batch are dropped, also when its descriptor
// number was reused meanwhile.
//
// Closing a descriptor before removing its source is the caller's fault:
// that source goes silent, and a later source on the reused number replaces
// its registration (the old one gets nothing more but still wants its
// removeSource, which then touches nothing else).

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <unordered_map>
#include <vector>

#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/UniqueFd.h"

namespace runloop {

class RunLoop;

// Callback bits of a source.
enum : unsigned {
  kReadCallBack = 1,
  kConnectCallBack = 4,
  kWriteCallBack = 8,
};

// One descriptor watched by a loop; created and destroyed through the loop.
class Source {
 public:
  // type is one callback bit; error is the connect result (0: connected).
  using Callout = std::function<void(unsigned type, int error)>;

  int fd() const noexcept { return fd_; }
  unsigned enabled() const noexcept { return enabled_; }

 private:
  friend class RunLoop;
  Source(RunLoop* loop, int fd, Callout callout, uint64_t id)
      : loop_(loop), fd_(fd), callout_(std::move(callout)), id_(id) {}

  RunLoop* loop_;
  int fd_;
  Callout callout_;
  uint64_t id_;
  unsigned enabled_ = 0;
  // The events currently registered with epoll (0: not in the set).
  uint32_t registered_ = 0;
  bool alwaysReady_ = false;
  bool valid_ = true;
  // Replaced by a later source on the same number (see above).
  bool stale_ = false;
};

class RunLoop {
 public:
  enum class Result { kStopped, kTimedOut, kHandledSource, kFinished };

  RunLoop();
  ~RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // The calling thread's loop, created on first use and destroyed when the
  // thread ends and no one else holds it.
  static RunLoop& current();
  static const std::shared_ptr<RunLoop>& currentShared();

  // A source for fd with the given callbacks enabled; one source per
  // descriptor.  The descriptor stays the caller's: removing the source
  // does not close it.  A descriptor epoll refuses for another reason than
  // being always ready (a closed number) throws plat::StdlibException and
  // leaves no source.
  Source* addSource(int fd, Source::Callout callout, unsigned enabled);
  // Forgets the source; it gets no further callout, even one already
  // collected in the running batch.  Call it before closing the descriptor.
  void removeSource(Source* source);
  void enableCallBacks(Source* source, unsigned bits);
  void disableCallBacks(Source* source, unsigned bits);

  // The loop's one timer.  Answers the callout it replaces, so that a
  // nested owner can hand the timer back.
  std::function<void()> setTimerCallout(std::function<void()> callout);
  // Fires once, at the first loop turn at or after `due` (monotonic ticks).
  void setTimerFireTime(plat::TimeValue due);
  void clearTimer();
  bool timerArmed() const noexcept { return timerArmed_; }

  // Serves until stop(), even with nothing to wait for.  Re-entrant.
  void run();
  // Ends the innermost run() or runOnce() of this loop.
  void stop();
  // Serves at most one source, waiting at most timeoutMs (negative: no
  // limit).  kFinished when there is nothing to wait for: no source enabled
  // and no timer armed.
  Result runOnce(int timeoutMs);

  // Calls of enableCallBacks and disableCallBacks since the loop began.
  uint64_t enableCalls() const noexcept { return enableCalls_; }
  uint64_t disableCalls() const noexcept { return disableCalls_; }
  size_t sourceCount() const noexcept { return sources_.size(); }
  // Waits done so far (each one epoll_wait), so that tests can tell a loop
  // that sleeps from one that spins.
  uint64_t turns() const noexcept { return turns_; }

 private:
  // One turn: waits at most timeoutMs, fires a due timer, then serves up to
  // maxSources ready sources.  Answers the number of sources served, or -1
  // when the wait timed out with nothing done.
  int turn(int timeoutMs, int maxSources, bool* timerFired);
  bool fireTimerIfDue();
  // Milliseconds until the timer is due, rounded up; -1 when not armed.
  int msUntilTimer();
  void updateEpoll(Source* source);
  // A fresh epoll set holding the registrations of the live sources.
  void rebuildEpoll();
#ifndef NDEBUG
  void assertOwner() const;
#else
  void assertOwner() const noexcept {}
#endif
  // Delivers what the events (EPOLLIN/OUT/ERR/HUP) mean for the source now.
  bool serve(const std::shared_ptr<Source>& source, uint32_t events);

  plat::UniqueFd epfd_;
#ifndef NDEBUG
  std::thread::id owner_ = std::this_thread::get_id();
#endif
  uint64_t nextId_ = 1;
  std::unordered_map<uint64_t, std::shared_ptr<Source>> sources_;
  std::vector<uint64_t> alwaysReady_;
  std::function<void()> timerCallout_;
  plat::TimeValue timerDue_ = 0;
  bool timerArmed_ = false;
  // The stop flag of the innermost run.
  bool* stopFlag_ = nullptr;
  uint64_t enableCalls_ = 0;
  uint64_t disableCalls_ = 0;
  uint64_t turns_ = 0;
};

}  // namespace runloop
