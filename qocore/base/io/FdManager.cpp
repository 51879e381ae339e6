#include "qocore/base/io/FdManager.h"

#include <algorithm>

#include "qocore/base/io/FdHandler.h"
#include "qocore/base/plat/Exception.h"

namespace io {

namespace {
thread_local FdManager* currentManager = nullptr;
}  // namespace

FdHandler::~FdHandler() = default;

FdManager* FdManager::current() noexcept { return currentManager; }

FdManager::FdManager(bool nested)
    : timers_(std::make_unique<plat::TimerManager>(nested)), wakeTimer_(this), previous_(currentManager) {
  currentManager = this;
}

FdManager::~FdManager() {
  forgetHandlers();
  currentManager = previous_;
  wakeTimer_.cancel();
  // The timer manager goes before the remaining members.
  timers_.reset();
}

void FdManager::forgetHandlers() {
  while (!handlers_.empty()) {
    FdHandler* handler = handlers_.back();
    addHandler(handler, false);
    handler->fdManagerGone();
  }
}

void FdManager::insert(std::vector<FdHandler*>& list, FdHandler* handler) {
  auto it = std::lower_bound(list.begin(), list.end(), handler);
  if (it == list.end() || *it != handler) list.insert(it, handler);
}

void FdManager::erase(std::vector<FdHandler*>& list, FdHandler* handler) {
  auto it = std::lower_bound(list.begin(), list.end(), handler);
  if (it != list.end() && *it == handler) list.erase(it);
}

bool FdManager::isRegistered(FdHandler* handler) const {
  return std::binary_search(handlers_.begin(), handlers_.end(), handler);
}

#ifndef NDEBUG
void FdManager::assertOwner() const {
  const bool onOwnerThread = std::this_thread::get_id() == owner_;
  PLAT_ASSERT(onOwnerThread);
}
#endif

void FdManager::addHandler(FdHandler* handler, bool add) {
  assertOwner();
  if (add) {
    insert(handlers_, handler);
    return;
  }
  erase(handlers_, handler);
  for (auto* list : {&readReady_, &writeReady_, &pendingReady_, &readSpare_, &writeSpare_, &pendingSpare_})
    erase(*list, handler);
}

bool FdManager::setInterest(FdHandler* handler, Interest interest) {
  assertOwner();
  if (!hasAny(interest, Interest::kRead | Interest::kExcept | Interest::kAccept)) {
    erase(readReady_, handler);
    erase(readSpare_, handler);
  }
  if (!hasAny(interest, Interest::kWrite)) {
    erase(writeReady_, handler);
    erase(writeSpare_, handler);
  }
  if (!hasAny(interest, Interest::kPending)) {
    erase(pendingReady_, handler);
    erase(pendingSpare_, handler);
  }
  return updateInterest(handler, interest);
}

bool FdManager::updateInterest(FdHandler*, Interest interest) { return !hasAny(interest, Interest::kPending); }

bool FdManager::timerExpired(plat::Timer*) { return false; }

template <typename Fn>
void FdManager::deliver(std::vector<FdHandler*>& list, std::vector<FdHandler*>& spare, Fn fn) {
  // The spare is empty between passes; swapping keeps both allocations, and
  // readiness noted meanwhile lands in the fresh list for the next pass.
  list.swap(spare);
  while (!spare.empty()) {
    FdHandler* handler = spare.back();
    spare.pop_back();
    fn(handler);
  }
}

void FdManager::dispatch() {
  assertOwner();
  timers_->processTimers();
  deliver(pendingReady_, pendingSpare_, [](FdHandler* h) { h->pendingReady(); });
  deliver(readReady_, readSpare_, [](FdHandler* h) { h->readReady(); });
  deliver(writeReady_, writeSpare_, [](FdHandler* h) { h->writeReady(); });
}

}  // namespace io
