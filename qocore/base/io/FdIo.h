#pragma once
// io::FdIo: a connection over one non-blocking descriptor.
//
// It owns an input and an output stream over the descriptor, registers with
// the calling thread's io::FdManager when it gets a handler (so it may be
// made on one thread and used on another) and turns readiness into calls of
// its io::IoHandler.  shutdown(true, ...) first passes on pending output;
// an output that stays blocked for LazyFlushTimeout seconds makes the next
// read fail, so a peer that stops reading cannot hold a connection open.
//
// A connection ends through shutdown and destroys itself once the shutdown
// is complete; nobody may use it after the handler's shutdownDone.  One
// that never got a handler is deleted by its owner directly.

#include <cstdint>

#include "qocore/base/io/FdHandler.h"
#include "qocore/base/io/FdManager.h"
#include "qocore/base/io/Io.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Timer.h"
#include "qocore/base/plat/UniqueFd.h"
#include "qocore/base/rdr/FdInStream.h"
#include "qocore/base/rdr/FdOutStream.h"

namespace io {

// "LazyFlushTimeout": seconds for which pending output may stay blocked.
extern plat::IntParameter lazyFlushTimeout;

class FdIo : public Io, public plat::Timer::Callback, public rdr::FdOutStream::Callback, public FdHandler {
 public:
  // `connecting`: a non-blocking connect on fd is still in progress; the
  // first write readiness completes it.  Time-outs in ms, negative: none.
  FdIo(int fd, bool owned, bool connecting, int32_t inTimeoutMs, int32_t outTimeoutMs, bool makeNonBlocking);
  ~FdIo() override;

  void setHandler(IoHandler* handler, bool wantRead) override;
  void shutdown(bool flush, bool tellHandler) override;
  void markReadable() override;
  // "<fd%d>".
  plat::CharArray displayName() override;
  // A plain descriptor knows no endpoints: empty.
  plat::CharArray peerEndpoint() override;
  plat::CharArray peerAddress() override;
  plat::CharArray myEndpoint() override;
  void setTimeout(int32_t ms) override;

  bool timerExpired(plat::Timer* timer) override;
  // Called with true when output stays pending (sets write interest and
  // starts the flush timer), with false once everything has been passed on.
  virtual void outputPending(bool pending);
  // Closes the output side once everything pending has been written.
  virtual void closeAfterOutput();

  void readReady() override;
  void writeReady() override;
  void connectError(int32_t err) override;
  void fdManagerGone() override;

  // The result of an asynchronous connect: the error the manager stored,
  // else the socket's SO_ERROR (0: connected).  Throws SystemException
  // "getsockopt".
  int32_t connectResult();

  rdr::FdInStream& fdIn() noexcept { return inStream_; }
  rdr::FdOutStream& fdOut() noexcept { return outStream_; }

 protected:
  // The output stream's notices.
  void written(rdr::FdOutStream& stream, bool wroteNothing) override;
  void shutdownDone(rdr::FdOutStream& stream) override;

  enum State { kOpen = 0, kClosingAfterOutput = 1, kShuttingDown = 2 };

  // An input stream that can be failed on purpose: the next read then
  // fails as a timed-out read would.
  class BreakableInStream : public rdr::FdInStream {
   public:
    using rdr::FdInStream::FdInStream;
    void markBroken() noexcept { timedOut_ = true; }
    bool isBroken() const noexcept { return timedOut_; }
  };

  // Read and write interest only; remembered in readWanted_, writeWanted_.
  void setInterest(Interest interest);
  // Removes the connection from its manager and forgets it.
  void unregister();

  // The descriptor when owned (closed after the streams are gone).
  plat::UniqueFd ownedFd_;
  BreakableInStream inStream_;
  rdr::FdOutStream outStream_;
  FdManager* manager_ = nullptr;
  IoHandler* handler_ = nullptr;
  int32_t connectError_ = 0;
  plat::CharArray displayName_;
  plat::Timer flushTimer_;
  plat::Timer closeTimer_;
  bool readWanted_ = false;
  bool writeWanted_ = false;
  State state_ = kOpen;
};

}  // namespace io
