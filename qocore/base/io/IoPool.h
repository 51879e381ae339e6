#pragma once
// io::IoPool keeps connections open after use so that a later request to
// the same endpoint can take them again.
//
// Connections are obtained through pool connectors (io::IoPool::
// PoolConnector, one per request): a connector takes an idle connection to
// its endpoint when there is one, waits (at most 2 × waitMs) while another
// connection to that endpoint is in use, and otherwise has the pool's
// owner make a new one through the io::IoPool::Factory.  Users give a
// connection back with release, or drop it from the pool's counting with
// discard.  At most maxIdlePerEndpoint idle connections are kept per
// endpoint, each for idleMs; an idle connection that receives data or
// closes is removed.
//
// One thread: the one whose loop drives the connections and timers.  Log
// source "IoPool" (debug level).

#include <cstdint>
#include <memory>
#include <vector>

#include "qocore/base/io/Io.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/Timer.h"

namespace io {

class IoPool : public IoHandler, public plat::Timer::Callback {
 public:
  class Factory {
   public:
    virtual ~Factory();
    // A new connection attempt to the endpoint (not started).  Null or a
    // plat::Exception fails the request.
    virtual std::unique_ptr<IoConnector> createConnector(const char* endpoint) = 0;
  };

  class PoolConnector : public IoConnectorBase, public IoConnected {
   public:
    ~PoolConnector() override;

    void run() override;
    void cancel() override;
    bool timerExpired(plat::Timer* timer) override;

    // The inner connector's result.
    void connected(IoConnector& connector, Io* io) override;
    void failed(IoConnector& connector, const plat::Exception& error) override;

    const char* endpoint() const noexcept { return endpoint_.c_str(); }
    int32_t waitMs() const noexcept { return waitMs_; }

   protected:
    virtual void innerConnected(Io* io);
    virtual void innerFailed(const plat::Exception& error);

   private:
    friend class IoPool;
    PoolConnector(IoPool* pool, const char* endpoint, int32_t waitMs);

    IoPool* pool_;
    plat::CharArray endpoint_;
    int32_t waitMs_;
    plat::Timer waitTimer_;
    std::unique_ptr<IoConnector> inner_;
    // -1 until a new connection attempt starts; then its monotonic time.
    int64_t startTime_ = -1;
  };

  // factory is not owned.
  IoPool(Factory* factory, int32_t maxIdlePerEndpoint, int32_t idleMs);
  // Closes the idle connections.  Every connection taken from the pool
  // must have been released or discarded, and every pool connector
  // destroyed, before: their owners see to it (an assertion checks).
  ~IoPool() override;
  IoPool(const IoPool&) = delete;
  IoPool& operator=(const IoPool&) = delete;

  // A connector for one request (owned by the caller).
  std::unique_ptr<PoolConnector> createConnector(const char* endpoint, int32_t waitMs);
  // Gives a connection back after use (ownership passes to the pool).
  void release(const char* endpoint, Io* io);
  // Stops counting a connection; it stays with its user.
  void discard(Io* io, const char* reason);
  // Closes every idle connection and stops the idle timer.
  void closeConnections();

  // The start time of a pool connector's new connection attempt, -1 for
  // any other connector, for none or before an attempt.
  static int64_t connectorTag(IoConnector* connector) noexcept;

  // An idle connection's events.
  void readable(Io& io) override;
  void shutdownDone(Io& io) override;
  bool timerExpired(plat::Timer* timer) override;

 private:
  struct IdleEntry {
    plat::CharArray endpoint;
    std::unique_ptr<Io> io;
    plat::TimeValue since;
  };
  struct ActiveEntry {
    plat::CharArray endpoint;
    Io* io;
    IoConnector* connector;
    plat::TimeValue deadline;
  };
  using IdleList = std::vector<IdleEntry>;
  using ActiveList = std::vector<ActiveEntry>;
  using WaitingList = std::vector<PoolConnector*>;

  void connectorRun(PoolConnector* pc);
  void makeNew(PoolConnector* pc);
  void connectorWaitExpired(PoolConnector* pc);
  void connectorInnerConnected(PoolConnector* pc, Io* io);
  void connectorCancel(PoolConnector* pc);

  IdleList::iterator getIdle(Io* io);
  IdleList::iterator getIdleFor(const char* endpoint);
  ActiveList::iterator getActive(Io* io, IoConnector* connector);
  WaitingList::iterator getWaiting(PoolConnector* pc);

  void addActive(const char* endpoint, Io* io, IoConnector* connector, int32_t waitMs);
  // Removes the entry, re-arms the wait timer and (with serve) lets the
  // waiting connectors whose endpoint is now free run again.
  void removeActive(ActiveList::iterator it, bool serve = true);
  void serveWaiting();
  // Takes the connection out of the idle list (its handler cleared);
  // the caller owns it.
  Io* takeIdle(IdleList::iterator it);
  // Closes a connection the pool owns.
  static void shut(Io* io);
  void armIdleTimer();
  void armWaitTimer();

  Factory* factory_;
  int32_t maxIdlePerEndpoint_;
  int32_t idleMs_;
  plat::Timer idleTimer_;
  IdleList idleConns_;
  plat::Timer waitTimer_;
  ActiveList activeConns_;
  WaitingList waitingConns_;
};

}  // namespace io
