#pragma once
// io::FdListener: watches a listening descriptor and hands each accepted
// connection to an io::IoAcceptor.  A subclass says how one connection is
// accepted (acceptOne).  Runs on the thread whose manager it registered
// with in setAcceptor.

#include "qocore/base/io/FdHandler.h"
#include "qocore/base/io/Listener.h"
#include "qocore/base/plat/Timer.h"
#include "qocore/base/plat/UniqueFd.h"

namespace io {

class FdManager;
class Io;

class FdListener : public Listener, public plat::Timer::Callback, public FdHandler {
 public:
  // Takes ownership of the listening descriptor.
  explicit FdListener(int fd);
  // Stops accepting and closes the descriptor.
  ~FdListener() override;

  // With an acceptor: registers with the calling thread's manager, accepts
  // (non-blocking descriptor).  Null: stops, unregisters, blocking again.
  void setAcceptor(IoAcceptor* acceptor) override;
  // Passes the pending flag on to the manager with the accept interest.
  void setPending(bool pending);

  void readReady() override;
  bool timerExpired(plat::Timer* timer) override;
  // Accepting stops until the next setAcceptor.
  void fdManagerGone() override;

  // The pause after running out of descriptors, before accepting again.
  static constexpr int kRetryMs = 100;

 protected:
  // Accepts one connection: its Io, or null when there was none to take
  // (or accepting was paused).  Other failures throw.
  virtual Io* acceptOne() = 0;
  // For a subclass whose accept failed with ENFILE or EMFILE: stops
  // accepting and tries again after kRetryMs.
  void pauseAccepting();

 private:
  void enableAccepting(bool on);

  plat::UniqueFd ownedFd_;
  FdManager* manager_ = nullptr;
  IoAcceptor* acceptor_ = nullptr;
  bool listening_ = true;
  bool pending_ = false;
  plat::Timer retryTimer_;
};

}  // namespace io
