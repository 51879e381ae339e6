#include "qocore/base/io/FdIo.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "qocore/base/io/FdManager.h"
#include "qocore/base/os/SocketUtil.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/rdr/Exceptions.h"

namespace io {

plat::IntParameter lazyFlushTimeout(
    "LazyFlushTimeout",
    "Maximum number of seconds for which attempts should be made to flush data to an unresponsive client "
    "(maximum 49 days)",
    60, 0, INT_MAX);

namespace {

PLAT_LOG_SOURCE(vlog, "FdIo");

// Seconds to timer milliseconds, saturating where the product leaves int.
int flushTimeoutMs() {
  const int64_t ms = static_cast<int64_t>(lazyFlushTimeout.getValue()) * 1000;
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

const char* boolText(bool b) { return b ? "true" : "false"; }

}  // namespace

FdIo::FdIo(int fd, bool owned, bool connecting, int32_t inTimeoutMs, int32_t outTimeoutMs, bool makeNonBlocking)
    : ownedFd_(owned ? fd : -1), inStream_(fd), outStream_(fd, -1, false), flushTimer_(this), closeTimer_(this) {
  connecting_ = connecting;
  in_ = &inStream_;
  out_ = &outStream_;
  if (fd >= 0) {
    // A connection is bound to one descriptor, once.
    PLAT_ASSERT_TEXT(fd_ < 0, "fd < 0");
    fd_ = fd;
  }
  inStream_.setTimeoutMs(inTimeoutMs);
  outStream_.setTimeoutMs(outTimeoutMs);
  outStream_.setCallback(this);
  if (makeNonBlocking && fd >= 0) os::setBlocking(fd, false);
}

FdIo::~FdIo() {
  handler_ = nullptr;
  unregister();
  flushTimer_.cancel();
  closeTimer_.cancel();
  outStream_.setCallback(nullptr);
  // The output stream passes on what it can as it goes; an owned
  // descriptor closes after both streams.
}

void FdIo::setInterest(Interest interest) {
  readWanted_ = hasAny(interest, Interest::kRead);
  writeWanted_ = hasAny(interest, Interest::kWrite);
  if (manager_) manager_->setInterest(this, interest);
}

void FdIo::unregister() {
  if (!manager_) return;
  manager_->setInterest(this, Interest::kNone);
  manager_->addHandler(this, false);
  manager_ = nullptr;
  readWanted_ = writeWanted_ = false;
}

void FdIo::setHandler(IoHandler* handler, bool wantRead) {
  try {
    if (handler) {
      FdManager* fdMgr = FdManager::current();
      PLAT_ASSERT(fdMgr);
      handler_ = handler;
      manager_ = fdMgr;
      fdMgr->addHandler(this, true);
      setInterest(interestIf(wantRead, Interest::kRead) | interestIf(connecting_, Interest::kWrite));
      if (wantRead && (inStream_.nUnread() > 0 || inStream_.isBroken())) fdMgr->queueReadReady(this);
      // A connected descriptor can take output now: its new handler hears
      // so at once; a connecting one hears it when the connect completes.
      if (!connecting_) fdMgr->queueWriteReady(this);
      fdMgr->wake();
    } else {
      unregister();
      handler_ = nullptr;
      flushTimer_.cancel();
    }
    inStream_.setNonBlocking(handler != nullptr);
    outStream_.setLazy(handler != nullptr);
  } catch (const plat::Exception& e) {
    vlog().error("setHandler: %s", e.str());
  }
}

void FdIo::markReadable() {
  if (state_ == kShuttingDown || !manager_) return;
  manager_->queueReadReady(this);
  manager_->wake();
}

plat::CharArray FdIo::displayName() {
  if (!displayName_) displayName_ = plat::DString::format("<fd%d>", fd_);
  return displayName_;
}

plat::CharArray FdIo::peerEndpoint() { return plat::CharArray(""); }
plat::CharArray FdIo::peerAddress() { return plat::CharArray(""); }
plat::CharArray FdIo::myEndpoint() { return plat::CharArray(""); }

void FdIo::setTimeout(int32_t ms) {
  inStream_.setTimeoutMs(ms);
  outStream_.setTimeoutMs(ms);
}

void FdIo::readReady() {
  IoHandler* handler = handler_;
  PLAT_ASSERT(handler);
  try {
    handler->readable(*this);
  } catch (const rdr::BlockException&) {
    // No more data for now; the next readiness brings it.
  } catch (const plat::Exception& e) {
    vlog().error("Read error: %s", e.str());
    shutdown(false, true);
  }
}

void FdIo::writeReady() {
  // A completed connect reports itself as writability.
  connecting_ = false;
  // The run-loop manager's write notice is one-shot.
  if (writeWanted_) setInterest(interestIf(readWanted_, Interest::kRead));
  try {
    if (outStream_.pendingBytes() > 0) {
      outStream_.flushNoWait(false);
      // Decided only now that the write has returned: inside it the
      // stream still counts the bytes just written as pending.
      outputPending(outStream_.pendingBytes() > 0);
      return;
    }
    flushTimer_.cancel();
    switch (state_) {
      case kOpen: {
        IoHandler* handler = handler_;
        PLAT_ASSERT(handler);
        handler->writable(*this);
        break;
      }
      case kClosingAfterOutput:
        outStream_.closeForWriting();
        setInterest(interestIf(readWanted_, Interest::kRead));
        break;
      case kShuttingDown:
        closeTimer_.start(0);
        break;
    }
  } catch (const plat::Exception& e) {
    vlog().error("Write error: %s", e.str());
    shutdown(false, true);
  }
}

void FdIo::written(rdr::FdOutStream&, bool wroteNothing) {
  // Only "nothing taken" is a reliable sign of a full descriptor here.
  if (wroteNothing) outputPending(true);
}

void FdIo::shutdownDone(rdr::FdOutStream&) {}

void FdIo::outputPending(bool pending) {
  if (pending) {
    if (!writeWanted_) setInterest(interestIf(readWanted_, Interest::kRead) | Interest::kWrite);
    flushTimer_.start(flushTimeoutMs());
  } else {
    flushTimer_.cancel();
    if (manager_) {
      manager_->queueWriteReady(this);
      manager_->wake();
    }
  }
}

void FdIo::closeAfterOutput() {
  if (state_ == kOpen) state_ = kClosingAfterOutput;
}

void FdIo::connectError(int32_t err) { connectError_ = err; }

int32_t FdIo::connectResult() {
  if (connectError_ != 0) return connectError_;
  int err = 0;
  socklen_t len = sizeof(err);
  if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) throw plat::SystemException("getsockopt", errno);
  return err;
}

bool FdIo::timerExpired(plat::Timer* timer) {
  if (timer == &flushTimer_) {
    vlog().debug("flush timer");
    if (state_ != kShuttingDown) {
      // The peer has stopped taking output: fail the handler's next read,
      // which ends the connection through the ordinary error path.
      PLAT_ASSERT_TEXT(handler_, "handler");
      inStream_.markBroken();
      if (readWanted_ && manager_) {
        manager_->queueReadReady(this);
        manager_->wake();
      }
    } else {
      // Shutting down: give up on the output whether or not anyone is
      // still told of the end.
      closeTimer_.start(0);
    }
    return false;
  }
  if (timer == &closeTimer_) {
    vlog().debug("shutdown complete %p (fd=%d)", static_cast<void*>(this), fd_);
    if (handler_) {
      try {
        handler_->shutdownDone(*this);
      } catch (const plat::Exception& e) {
        vlog().error("Shutdown error: %s", e.str());
      }
    }
    unregister();
    handler_ = nullptr;
    delete this;
  }
  return false;
}

void FdIo::shutdown(bool flush, bool tellHandler) {
  vlog().debug("shutdown %p (fd=%d), flush %s (tellHandler %s)", static_cast<void*>(this), fd_, boolText(flush),
               boolText(tellHandler));
  if (manager_) {
    state_ = kShuttingDown;
    setInterest(Interest::kNone);
    if (!tellHandler) handler_ = nullptr;
    if (flush) {
      manager_->queueWriteReady(this);
    } else {
      closeTimer_.start(0);
    }
    manager_->wake();
    return;
  }
  PLAT_ASSERT(!tellHandler);
  vlog().debug("immediate shutdown %p (fd=%d)", static_cast<void*>(this), fd_);
  delete this;
}

void FdIo::fdManagerGone() {
  // The manager has removed this handler already.
  manager_ = nullptr;
  readWanted_ = writeWanted_ = false;
  if (state_ != kShuttingDown) {
    handler_ = nullptr;
    return;
  }
  if (handler_) {
    try {
      handler_->shutdownDone(*this);
    } catch (const plat::Exception& e) {
      vlog().error("Shutdown error: %s", e.str());
    }
    handler_ = nullptr;
  }
  vlog().info("shutdown completed by FdManager dtor %p (fd=%d)", static_cast<void*>(this), fd_);
  delete this;
}

}  // namespace io
