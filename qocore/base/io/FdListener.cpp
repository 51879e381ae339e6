#include "qocore/base/io/FdListener.h"

#include "qocore/base/io/FdManager.h"
#include "qocore/base/io/Io.h"
#include "qocore/base/os/SocketUtil.h"
#include "qocore/base/plat/Exception.h"

namespace io {

Listener::~Listener() = default;

FdListener::FdListener(int fd) : ownedFd_(fd), retryTimer_(this) { fd_ = fd; }

FdListener::~FdListener() {
  enableAccepting(false);
  retryTimer_.cancel();
  if (manager_) manager_->addHandler(this, false);
  manager_ = nullptr;
  // ownedFd_ closes the descriptor.
}

void FdListener::enableAccepting(bool on) {
  listening_ = on;
  if (!manager_) return;
  manager_->setInterest(
      this, interestIf(on, Interest::kAccept) | interestIf(on && acceptor_ && pending_, Interest::kPending));
  if (on) {
    // Connections that arrived before are taken without waiting for news.
    manager_->queueReadReady(this);
    manager_->wake();
  }
}

void FdListener::setAcceptor(IoAcceptor* acceptor) {
  FdManager* fdMgr = FdManager::current();
  PLAT_ASSERT(fdMgr);
  manager_ = fdMgr;
  fdMgr->addHandler(this, true);
  acceptor_ = acceptor;
  enableAccepting(acceptor != nullptr);
  os::setBlocking(fd_, acceptor == nullptr);
  if (!acceptor) {
    fdMgr->addHandler(this, false);
    manager_ = nullptr;
    retryTimer_.cancel();
  }
}

void FdListener::setPending(bool pending) {
  pending_ = pending;
  if (manager_ && listening_) enableAccepting(true);
}

void FdListener::readReady() {
  if (!acceptor_ || !listening_) return;
  Io* io = acceptOne();
  if (!io) return;
  io->flags().insert("incoming");
  acceptor_->acceptIo(io);
}

void FdListener::pauseAccepting() {
  enableAccepting(false);
  retryTimer_.start(kRetryMs);
}

void FdListener::fdManagerGone() {
  manager_ = nullptr;
  retryTimer_.cancel();
}

bool FdListener::timerExpired(plat::Timer*) {
  if (acceptor_) enableAccepting(true);
  return false;
}

}  // namespace io
