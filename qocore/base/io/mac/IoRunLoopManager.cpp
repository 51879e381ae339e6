#include "qocore/base/io/mac/IoRunLoopManager.h"

#include <algorithm>

#include "platform/objc/Object.h"
#include "qocore/base/io/FdHandler.h"
#include "qocore/base/plat/Exception.h"

namespace io {

IoRunLoopManager::IoRunLoopManager(bool nested) : FdManager(nested), runLoop_(runloop::RunLoop::currentShared()) {
  PLAT_ASSERT_TEXT(runLoop_, "runLoop");
  timerManager().setCallback(this);
  outerTimerCallout_ = runLoop_->setTimerCallout([this] { timerCallout(); });
}

IoRunLoopManager::~IoRunLoopManager() {
  timerManager().setCallback(nullptr);
  while (!socks_.empty()) dropEntry(socks_.begin());
  runLoop_->clearTimer();
  // A manager below this one gets the timer back, fired at once so that it
  // re-arms it for its own timers.
  if (outerTimerCallout_) runLoop_->setTimerFireTime(plat::getMonotonicTime());
  runLoop_->setTimerCallout(std::move(outerTimerCallout_));
  // The base tells the handlers; what they ask of it then reaches no loop.
}

void IoRunLoopManager::dropEntry(std::map<FdHandler*, Entry>::iterator it) {
  runLoop_->removeSource(it->second.source);
  socks_.erase(it);
}

bool IoRunLoopManager::updateInterest(FdHandler* handler, Interest interest) {
  auto i = socks_.find(handler);
  const std::vector<FdHandler*>& handlers = this->handlers();
  auto j = std::lower_bound(handlers.begin(), handlers.end(), handler);
  if (j != handlers.end() && *j != handler) j = handlers.end();
  PLAT_ASSERT_TEXT(j != handlers.end() || i != socks_.end(), "j != handlers.end() || i != socks.end()");
  unsigned wanted = 0;
  // kExcept and kPending mean nothing to a run-loop source.
  if (hasAny(interest, Interest::kRead | Interest::kAccept)) wanted |= runloop::kReadCallBack;
  if (hasAny(interest, Interest::kWrite)) {
    wanted |= runloop::kWriteCallBack;
    if (handler->connecting_) wanted |= runloop::kConnectCallBack;
  }
  if (wanted == 0) {
    if (i != socks_.end()) dropEntry(i);
    return false;
  }
  if (i == socks_.end()) {
    // Created with write (and connect) enabled; a handler that is not
    // connecting has write switched off again at once.
    unsigned initial = runloop::kReadCallBack | runloop::kWriteCallBack;
    if (handler->connecting_) initial |= runloop::kConnectCallBack;
    Entry entry;
    entry.source = runLoop_->addSource(
        handler->fd_, [this, handler](unsigned type, int error) { sourceCallout(handler, type, error); }, initial);
    entry.mask = initial;
    if (!handler->connecting_) {
      runLoop_->disableCallBacks(entry.source, runloop::kWriteCallBack);
      entry.mask &= ~runloop::kWriteCallBack;
    }
    i = socks_.emplace(handler, entry).first;
  }
  Entry& entry = i->second;
  // The loop switches write and connect off when it delivers them; what it
  // has switched off counts as off here too.
  entry.mask &= entry.source->enabled() | runloop::kReadCallBack;
  if (wanted != entry.mask) {
    unsigned off = entry.mask & ~wanted;
    if (off) runLoop_->disableCallBacks(entry.source, off);
    runLoop_->enableCallBacks(entry.source, wanted);
    entry.mask = wanted;
  }
  return false;
}

void IoRunLoopManager::sourceCallout(FdHandler* handler, unsigned type, int error) {
  auto i = socks_.find(handler);
  if (i == socks_.end()) return;
  switch (type) {
    case runloop::kReadCallBack:
      noteReadReady(handler);
      break;
    case runloop::kWriteCallBack:
      // Only while write is still wanted: a connect notice of this turn
      // has already stood for it.
      if (!(i->second.mask & runloop::kWriteCallBack)) return;
      i->second.mask &= ~runloop::kWriteCallBack;
      noteWriteReady(handler);
      break;
    case runloop::kConnectCallBack:
      // The connect notice stands for the write notice that follows it in
      // the same turn, so the handler hears writeReady once.
      i->second.mask &= ~(runloop::kConnectCallBack | runloop::kWriteCallBack);
      if (error != 0) handler->connectError(error);
      noteWriteReady(handler);
      break;
  }
  // Objects autoreleased by the handlers go when the pass ends.
  objc::AutoreleasePool pool;
  dispatch();
}

void IoRunLoopManager::timersChanged(int ms) {
  timersRearmed_ = true;
  armTimer(ms);
}

void IoRunLoopManager::armTimer(int ms) {
  if (ms < 0) return;
  runLoop_->setTimerFireTime(plat::getMonotonicTime() + plat::TimeValue(ms) * plat::kTicksPerMs);
}

void IoRunLoopManager::timerCallout() {
  timersRearmed_ = false;
  {
    objc::AutoreleasePool pool;
    dispatch();
  }
  if (!timersRearmed_) armTimer(timerManager().msUntilNext());
}

}  // namespace io
