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
// it.  Everything runs on the manager's own thread; nothing is locked.
//
// Managers stack: constructing one makes it current and remembers the
// previous one, which becomes current again when it goes.  A manager
// destroyed with handlers still registered removes each one and tells it
// fdManagerGone.

#include <vector>

#include "qocore/base/plat/Timer.h"

namespace io {

class FdHandler;

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
  // Drops the handler's readiness that the new interest no longer covers,
  // then lets the concrete manager watch for the rest.  Answers the
  // concrete manager's verdict (true: `pending` is served by the caller).
  bool setInterest(FdHandler* handler, bool read, bool write, bool except, bool accept, bool pending);
  // One delivery pass.
  void dispatch();

  // Queue the handler for the next pass as though its descriptor had
  // turned readable (writable): for input a connection already holds, or
  // output it can take at once.  wake() then makes that pass come soon.
  void queueReadReady(FdHandler* handler) { insert(readReady_, handler); }
  void queueWriteReady(FdHandler* handler) { insert(writeReady_, handler); }
  void wake() { wakeTimer_.start(0); }

  bool isRegistered(FdHandler* handler) const;
  plat::TimerManager& timerManager() noexcept { return *timers_; }

  // The wake timer: restarts a dispatch pass soon.
  bool timerExpired(plat::Timer* timer) override;

 protected:
  // The concrete manager's part of setInterest; the base answers !pending.
  virtual bool updateInterest(FdHandler* handler, bool read, bool write, bool except, bool accept, bool pending);
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

  std::vector<FdHandler*> handlers_;
  std::vector<FdHandler*> readReady_, writeReady_, pendingReady_;
  std::vector<FdHandler*> readSpare_, writeSpare_, pendingSpare_;
  plat::TimerManager* timers_;
  plat::Timer wakeTimer_;
  FdManager* previous_;
};

}  // namespace io
