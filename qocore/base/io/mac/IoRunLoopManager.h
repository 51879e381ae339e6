#pragma once
// io::IoRunLoopManager: the manager that lives in the thread's run loop
// (runloop::RunLoop).
//
// Construct it on the thread whose loop it serves; that thread then runs
// the loop (runloop::RunLoop::current().run(), or runOnce).  Each watched
// descriptor becomes one run-loop source and all plat::Timers of the thread
// share the loop's one timer.  When the loop reports a source, the handler
// joins the read or write ready list and one dispatch pass runs at once, in
// the loop's callout: due timers first, then readReady, then writeReady.
// Read interest stays armed across passes; write interest is one-shot, so
// a handler that wants to write again sets write interest again.  A
// handler that is connecting also asks for the connect notice: a failed
// connect delivers connectError(errno value) and then writeReady.
//
// Each such pass runs inside an autorelease pool of its own.
//
// Asking for the interest a handler already has calls nothing on the loop;
// write interest asked again after its notice came is a new request and
// re-arms it.  All of it runs on the constructing thread.

#include <map>
#include <memory>

#include "platform/runloop/RunLoop.h"
#include "qocore/base/io/FdManager.h"

namespace io {

class IoRunLoopManager : public FdManager, public plat::TimerManager::Callback {
 public:
  // A nested manager takes the loop's timer over until it goes.
  explicit IoRunLoopManager(bool nested = false);
  ~IoRunLoopManager() override;

  runloop::RunLoop& runLoop() noexcept { return *runLoop_; }

  void timersChanged(int ms) override;

 protected:
  bool updateInterest(FdHandler* handler, Interest interest) override;

 private:
  struct Entry {
    runloop::Source* source = nullptr;
    unsigned mask = 0;
  };

  void dropEntry(std::map<FdHandler*, Entry>::iterator it);
  void sourceCallout(FdHandler* handler, unsigned type, int error);
  void timerCallout();
  void armTimer(int ms);

  std::shared_ptr<runloop::RunLoop> runLoop_;
  // The timer callout of a manager below this one on the same loop.
  std::function<void()> outerTimerCallout_;
  std::map<FdHandler*, Entry> socks_;
  bool timersRearmed_ = false;
};

}  // namespace io
