#pragma once
// io::FdManager: the thread's server of descriptor events and timers.
//
// Each thread that waits on descriptors has one current manager
// (FdManager::current()).  Handlers register with it and state their
// interest; the concrete manager collects readiness into ready lists, and
// one dispatch pass then delivers it, in this order: every due plat::Timer
// of the thread fires, then pendingReady, then readReady, then writeReady.
// Readiness noted while a pass runs is delivered in the next pass.  A
// handler removed during a pass (addHandler false) gets no further event in
// it.  Everything runs on the manager's own thread; nothing is locked
// (debug builds assert that the calls come from the thread that made it).
//
// Managers stack: constructing one makes it current and remembers the
// previous one, which becomes current again when it goes.  A manager
// destroyed with handlers still registered removes each one and tells it
// fdManagerGone.

#include <memory>
#include <thread>
#include <vector>

#include "qocore/base/plat/Timer.h"

namespace io {

class FdHandler;

// What a handler asks its manager to watch for: a set of bits.
enum class Interest : unsigned {
  kNone = 0,
  // Readable, hung up or in error.
  kRead = 1u << 0,
  kWrite = 1u << 1,
  // Exceptional conditions (urgent data), reported as read readiness.
  kExcept = 1u << 2,
  // Connections to accept on a listening descriptor, reported as read
  // readiness.
  kAccept = 1u << 3,
  // The listener's pending flag; see FdManager::setInterest.
  kPending = 1u << 4,
};

constexpr Interest operator|(Interest a, Interest b) noexcept {
  return static_cast<Interest>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
constexpr Interest& operator|=(Interest& a, Interest b) noexcept { return a = a | b; }
// Whether `set` holds any of `bits`.
constexpr bool hasAny(Interest set, Interest bits) noexcept {
  return (static_cast<unsigned>(set) & static_cast<unsigned>(bits)) != 0;
}
// `bit` when `on`, else none: for interest kept as separate flags.
constexpr Interest interestIf(bool on, Interest bit) noexcept { return on ? bit : Interest::kNone; }

class FdManager : public plat::Timer::Callback {
 public:
  // The calling thread's manager, or null.
  static FdManager* current() noexcept;

  // Without `nested`, the thread must not have a timer manager yet.
  explicit FdManager(bool nested);
  ~FdManager() override;
  FdManager(const FdManager&) = delete;
  FdManager& operator=(const FdManager&) = delete;

  // Registers (add) or unregisters the handler; each is idempotent.
  void addHandler(FdHandler* handler, bool add);
  // Drops the handler's readiness that the new interest no longer covers
  // (read readiness without kRead, kExcept and kAccept; write readiness
  // without kWrite; pending events without kPending), then lets the
  // concrete manager watch for the rest.  Answers the concrete manager's
  // verdict (true: kPending is served by the caller).
  bool setInterest(FdHandler* handler, Interest interest);
  // One delivery pass.
  void dispatch();

  // Queue the handler for the next pass as though its descriptor had
  // turned readable (writable): for input a connection already holds, or
  // output it can take at once.  wake() then makes that pass come soon.
  void queueReadReady(FdHandler* handler) {
    assertOwner();
    insert(readReady_, handler);
  }
  void queueWriteReady(FdHandler* handler) {
    assertOwner();
    insert(writeReady_, handler);
  }
  void wake() {
    assertOwner();
    wakeTimer_.start(0);
  }

  bool isRegistered(FdHandler* handler) const;
  plat::TimerManager& timerManager() noexcept { return *timers_; }

  // The wake timer: restarts a dispatch pass soon.
  bool timerExpired(plat::Timer* timer) override;

 protected:
  // The concrete manager's part of setInterest; the base answers whether
  // kPending is absent.
  virtual bool updateInterest(FdHandler* handler, Interest interest);
  // Removes every handler and tells it fdManagerGone.  The base destructor
  // calls it; a concrete manager whose handlers should still reach it then
  // calls it first from its own destructor.
  void forgetHandlers();

  void noteReadReady(FdHandler* handler) { insert(readReady_, handler); }
  void noteWriteReady(FdHandler* handler) { insert(writeReady_, handler); }
  void notePendingReady(FdHandler* handler) { insert(pendingReady_, handler); }

  const std::vector<FdHandler*>& handlers() const noexcept { return handlers_; }

  static void insert(std::vector<FdHandler*>& list, FdHandler* handler);
  static void erase(std::vector<FdHandler*>& list, FdHandler* handler);

 private:
  // Swaps `list` with `spare` and delivers to each handler from the back.
  template <typename Fn>
  void deliver(std::vector<FdHandler*>& list, std::vector<FdHandler*>& spare, Fn fn);

#ifndef NDEBUG
  void assertOwner() const;
  std::thread::id owner_ = std::this_thread::get_id();
#else
  void assertOwner() const noexcept {}
#endif

  std::vector<FdHandler*> handlers_;
  std::vector<FdHandler*> readReady_, writeReady_, pendingReady_;
  std::vector<FdHandler*> readSpare_, writeSpare_, pendingSpare_;
  std::unique_ptr<plat::TimerManager> timers_;
  plat::Timer wakeTimer_;
  FdManager* previous_;
};

}  // namespace io
