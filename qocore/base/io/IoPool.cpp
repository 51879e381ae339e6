#include "qocore/base/io/IoPool.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/InStream.h"

namespace io {

namespace {

PLAT_LOG_SOURCE(vlog, "IoPool");

plat::TimeValue now() { return plat::getMonotonicTime(); }

plat::TimeValue later(int32_t ms) { return now() + static_cast<plat::TimeValue>(ms) * plat::kTicksPerMs; }

// The time left to a deadline in whole milliseconds, rounded up.
int delayTo(plat::TimeValue deadline) {
  const plat::TimeValue left = deadline - now();
  if (left <= 0) return 0;
  const plat::TimeValue ms = (left + plat::kTicksPerMs - 1) / plat::kTicksPerMs;
  return static_cast<int>(std::min<plat::TimeValue>(ms, 0x7FFFFFFF));
}

bool sameEndpoint(const plat::CharArray& a, const char* b) { return std::strcmp(a.c_str(), b) == 0; }

}  // namespace

IoPool::Factory::~Factory() = default;

// ---- PoolConnector ----

IoPool::PoolConnector::PoolConnector(IoPool* pool, const char* endpoint, int32_t waitMs)
    : pool_(pool), endpoint_(endpoint), waitMs_(waitMs), waitTimer_(this) {}

IoPool::PoolConnector::~PoolConnector() { cancel(); }

void IoPool::PoolConnector::run() { pool_->connectorRun(this); }

void IoPool::PoolConnector::cancel() { pool_->connectorCancel(this); }

bool IoPool::PoolConnector::timerExpired(plat::Timer* timer) {
  if (timer != &waitTimer_) return IoConnectorBase::timerExpired(timer);
  pool_->connectorWaitExpired(this);
  return false;
}

void IoPool::PoolConnector::connected(IoConnector&, Io* io) { innerConnected(io); }

void IoPool::PoolConnector::failed(IoConnector&, const plat::Exception& error) { innerFailed(error); }

void IoPool::PoolConnector::innerConnected(Io* io) { pool_->connectorInnerConnected(this, io); }

void IoPool::PoolConnector::innerFailed(const plat::Exception& error) {
  // The inner connector is still in its call: it goes after the report,
  // which may destroy this connector.
  std::unique_ptr<IoConnector> inner = std::move(inner_);
  if (inner) {
    auto it = pool_->getActive(nullptr, inner.get());
    if (it != pool_->activeConns_.end()) pool_->removeActive(it);
  }
  cancel();
  IoConnectorBase::failed(error);
}

// ---- IoPool ----

IoPool::IoPool(Factory* factory, int32_t maxIdlePerEndpoint, int32_t idleMs)
    : factory_(factory), maxIdlePerEndpoint_(maxIdlePerEndpoint), idleMs_(idleMs), idleTimer_(this), waitTimer_(this) {}

IoPool::~IoPool() {
  if (!idleConns_.empty()) {
    vlog().debug("Open Ios in pool at shutdown: %d", static_cast<int>(idleConns_.size()));
    for (const IdleEntry& e : idleConns_) vlog().debug("  %s", e.endpoint.c_str());
  }
  closeConnections();
  waitTimer_.cancel();
  PLAT_ASSERT_TEXT(activeConns_.empty() && waitingConns_.empty(), "activeConns.empty() && waitingConns.empty()");
}

std::unique_ptr<IoPool::PoolConnector> IoPool::createConnector(const char* endpoint, int32_t waitMs) {
  return std::unique_ptr<PoolConnector>(new PoolConnector(this, endpoint, waitMs));
}

int64_t IoPool::connectorTag(IoConnector* connector) noexcept {
  auto* pc = dynamic_cast<PoolConnector*>(connector);
  return pc ? pc->startTime_ : -1;
}

IoPool::IdleList::iterator IoPool::getIdle(Io* io) {
  return std::find_if(idleConns_.begin(), idleConns_.end(), [io](const IdleEntry& e) { return e.io.get() == io; });
}

IoPool::IdleList::iterator IoPool::getIdleFor(const char* endpoint) {
  return std::find_if(idleConns_.begin(), idleConns_.end(),
                      [endpoint](const IdleEntry& e) { return sameEndpoint(e.endpoint, endpoint); });
}

IoPool::ActiveList::iterator IoPool::getActive(Io* io, IoConnector* connector) {
  return std::find_if(activeConns_.begin(), activeConns_.end(), [io, connector](const ActiveEntry& e) {
    return connector ? e.connector == connector : e.io == io;
  });
}

IoPool::WaitingList::iterator IoPool::getWaiting(PoolConnector* pc) {
  return std::find(waitingConns_.begin(), waitingConns_.end(), pc);
}

void IoPool::connectorRun(PoolConnector* pc) {
  const char* endpoint = pc->endpoint();
  auto idle = getIdleFor(endpoint);
  if (idle != idleConns_.end()) {
    vlog().debug("Re-using open Io to %s", endpoint);
    Io* io = takeIdle(idle);
    addActive(endpoint, io, nullptr, pc->waitMs_);
    pc->IoConnectorBase::connected(io);
    return;
  }
  const bool inUse = std::any_of(activeConns_.begin(), activeConns_.end(),
                                 [endpoint](const ActiveEntry& e) { return sameEndpoint(e.endpoint, endpoint); });
  if (inUse) {
    vlog().debug("Waiting to re-use open Io to %s", endpoint);
    PLAT_ASSERT_TEXT(getWaiting(pc) == waitingConns_.end(), "getWaiting(pc) == waitingConns.end()");
    waitingConns_.push_back(pc);
    pc->waitTimer_.start(static_cast<int>(std::min<int64_t>(2 * static_cast<int64_t>(pc->waitMs_), 0x7FFFFFFF)));
    return;
  }
  makeNew(pc);
}

void IoPool::makeNew(PoolConnector* pc) {
  const char* endpoint = pc->endpoint();
  vlog().debug("Creating new Io to %s", endpoint);
  try {
    std::unique_ptr<IoConnector> inner = factory_->createConnector(endpoint);
    if (!inner) throw plat::ExceptionFmt("No connector for %s", endpoint);
    if (pc->inner_) {
      auto old = getActive(nullptr, pc->inner_.get());
      if (old != activeConns_.end()) removeActive(old, false);
    }
    pc->inner_ = std::move(inner);
    pc->inner_->start(pc);
    pc->startTime_ = now();
    addActive(endpoint, nullptr, pc->inner_.get(), pc->waitMs_);
  } catch (const plat::Exception& e) {
    pc->cancel();
    pc->IoConnectorBase::failed(e);
  }
}

void IoPool::connectorWaitExpired(PoolConnector* pc) {
  vlog().debug("Timed out waiting to re-use open Io to %s, making new Io", pc->endpoint());
  auto it = getWaiting(pc);
  if (it != waitingConns_.end()) waitingConns_.erase(it);
  makeNew(pc);
}

void IoPool::connectorInnerConnected(PoolConnector* pc, Io* io) {
  // The inner connector is still in its call: it goes after the report.
  std::unique_ptr<IoConnector> inner = std::move(pc->inner_);
  auto it = getActive(nullptr, inner.get());
  // Replaced, not freed: connectors waiting for the endpoint keep waiting.
  if (it != activeConns_.end()) removeActive(it, false);
  addActive(pc->endpoint(), io, nullptr, pc->waitMs_);
  pc->IoConnectorBase::connected(io);
}

void IoPool::connectorCancel(PoolConnector* pc) {
  auto waiting = getWaiting(pc);
  if (waiting != waitingConns_.end()) waitingConns_.erase(waiting);
  pc->waitTimer_.cancel();
  pc->timer_.cancel();
  if (pc->inner_) {
    auto it = getActive(nullptr, pc->inner_.get());
    pc->inner_.reset();
    if (it != activeConns_.end()) removeActive(it);
  }
}

void IoPool::addActive(const char* endpoint, Io* io, IoConnector* connector, int32_t waitMs) {
  if (io) {
    PLAT_ASSERT_TEXT(getActive(io, 0) == activeConns_.end(), "getActive(io, 0) == activeConns.end()");
  } else {
    PLAT_ASSERT_TEXT(getActive(io, connector) == activeConns_.end(), "getActive(io, connector) == activeConns.end()");
  }
  activeConns_.push_back({plat::CharArray(endpoint), io, connector, later(waitMs)});
  armWaitTimer();
}

void IoPool::removeActive(ActiveList::iterator it, bool serve) {
  activeConns_.erase(it);
  armWaitTimer();
  if (serve) serveWaiting();
}

void IoPool::serveWaiting() {
  for (size_t i = 0; i < waitingConns_.size();) {
    PoolConnector* pc = waitingConns_[i];
    const char* endpoint = pc->endpoint();
    const bool inUse = std::any_of(activeConns_.begin(), activeConns_.end(),
                                   [endpoint](const ActiveEntry& e) { return sameEndpoint(e.endpoint, endpoint); });
    if (inUse) {
      i++;
      continue;
    }
    waitingConns_.erase(waitingConns_.begin() + static_cast<std::ptrdiff_t>(i));
    pc->waitTimer_.cancel();
    pc->timer_.start(0);
  }
}

void IoPool::armWaitTimer() {
  if (activeConns_.empty()) {
    waitTimer_.cancel();
    return;
  }
  plat::TimeValue first = activeConns_.front().deadline;
  for (const ActiveEntry& e : activeConns_) first = std::min(first, e.deadline);
  waitTimer_.start(delayTo(first));
}

void IoPool::armIdleTimer() {
  if (idleConns_.empty()) {
    idleTimer_.cancel();
    return;
  }
  idleTimer_.start(delayTo(idleConns_.front().since + static_cast<plat::TimeValue>(idleMs_) * plat::kTicksPerMs));
}

Io* IoPool::takeIdle(IdleList::iterator it) {
  PLAT_ASSERT_TEXT(it != idleConns_.end(), "it != idleConns.end()");
  Io* io = it->io.release();
  idleConns_.erase(it);
  io->setHandler(nullptr, false);
  armIdleTimer();
  return io;
}

void IoPool::shut(Io* io) { io->shutdown(false, false); }

void IoPool::release(const char* endpoint, Io* io) {
  PLAT_ASSERT_TEXT(getIdle(io) == idleConns_.end(), "getIdle(io) == idleConns.end()");
  auto active = getActive(io, nullptr);
  // The pool reads without waiting from here on.
  io->setHandler(this, false);
  const char* why = nullptr;
  plat::CharArray error;
  try {
    if (io->in().nUnread() > 0 || io->in().check(false, 1)) why = "extra data sent";
  } catch (const rdr::EndOfStream&) {
    why = "end of stream";
  } catch (const plat::Exception& e) {
    error = plat::CharArray(e.str());
  }
  if (why || error) {
    if (why)
      vlog().debug("Not storing Io to %s in pool, %s", endpoint, why);
    else
      vlog().debug("Not storing Io to %s in pool, read error: %s", endpoint, error.c_str());
    if (active != activeConns_.end()) removeActive(active);
    shut(io);
    return;
  }
  auto waiting = std::find_if(waitingConns_.begin(), waitingConns_.end(),
                              [endpoint](PoolConnector* pc) { return std::strcmp(pc->endpoint(), endpoint) == 0; });
  if (waiting != waitingConns_.end()) {
    vlog().debug("Immediately re-using open Io to %s", endpoint);
    PoolConnector* pc = *waiting;
    waitingConns_.erase(waiting);
    pc->waitTimer_.cancel();
    if (active != activeConns_.end()) removeActive(active, false);
    addActive(endpoint, io, nullptr, pc->waitMs_);
    io->setHandler(nullptr, false);
    pc->IoConnectorBase::connected(io);
    return;
  }
  if (active != activeConns_.end()) removeActive(active);
  const auto kept = std::count_if(idleConns_.begin(), idleConns_.end(),
                                  [endpoint](const IdleEntry& e) { return sameEndpoint(e.endpoint, endpoint); });
  if (kept >= maxIdlePerEndpoint_) {
    vlog().debug("Not storing Io to %s in pool, connection limit reached", endpoint);
    shut(io);
    return;
  }
  idleConns_.push_back({plat::CharArray(endpoint), std::unique_ptr<Io>(io), now()});
  io->setHandler(this, true);
  if (idleConns_.size() == 1) armIdleTimer();
}

void IoPool::discard(Io* io, const char* reason) {
  auto active = getActive(io, nullptr);
  if (active != activeConns_.end()) {
    vlog().debug("Discarding Io to %s from pool, %s", active->endpoint.c_str(), reason);
    removeActive(active);
    return;
  }
  auto idle = getIdle(io);
  if (idle != idleConns_.end()) {
    vlog().debug("Discarding Io to %s from pool, %s", idle->endpoint.c_str(), reason);
    shut(takeIdle(idle));
  }
}

void IoPool::closeConnections() {
  while (!idleConns_.empty()) shut(takeIdle(idleConns_.begin()));
  idleTimer_.cancel();
}

void IoPool::readable(Io& io) {
  auto it = getIdle(&io);
  if (it == idleConns_.end()) return;
  plat::CharArray reason;
  try {
    if (!io.in().check(false, 1)) return;
    reason = plat::CharArray("unexpected data");
  } catch (const plat::Exception& e) {
    reason = plat::CharArray(e.str());
  }
  vlog().debug("Removing Io to %s from pool", it->endpoint.c_str());
  vlog().debug("  %s", reason.c_str());
  shut(takeIdle(it));
}

void IoPool::shutdownDone(Io& io) {
  auto it = getIdle(&io);
  if (it == idleConns_.end()) return;
  vlog().debug("Removing Io to %s from pool, unexpected shutdown", it->endpoint.c_str());
  // The connection has deleted itself.
  (void)it->io.release();
  idleConns_.erase(it);
  armIdleTimer();
}

bool IoPool::timerExpired(plat::Timer* timer) {
  const plat::TimeValue t = now();
  if (timer == &idleTimer_) {
    const plat::TimeValue idleTicks = static_cast<plat::TimeValue>(idleMs_) * plat::kTicksPerMs;
    for (size_t i = 0; i < idleConns_.size();) {
      if (t - idleConns_[i].since < idleTicks) {
        i++;
        continue;
      }
      vlog().debug("Removing Io to %s from pool, idle time reached", idleConns_[i].endpoint.c_str());
      shut(takeIdle(idleConns_.begin() + static_cast<std::ptrdiff_t>(i)));
    }
    armIdleTimer();
    return false;
  }
  if (timer == &waitTimer_) {
    for (size_t i = 0; i < activeConns_.size();) {
      if (activeConns_[i].deadline > t) {
        i++;
        continue;
      }
      const char* endpoint = activeConns_[i].endpoint.c_str();
      if (std::any_of(waitingConns_.begin(), waitingConns_.end(),
                      [endpoint](PoolConnector* pc) { return std::strcmp(pc->endpoint(), endpoint) == 0; }))
        vlog().debug("Open Io to %s exceeded wait time", endpoint);
      // An entry whose connector is still making its connection keeps the
      // connector's pointer; the connector finds it gone and adds its own.
      activeConns_.erase(activeConns_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    armWaitTimer();
    serveWaiting();
  }
  return false;
}

}  // namespace io
