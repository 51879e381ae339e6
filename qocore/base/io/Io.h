#pragma once
// io::Io: an open connection on the thread's event loop, and the interfaces
// around it.
//
// A connection exposes an input and an output stream; users read and write
// through them and learn of events through an io::IoHandler.  Outgoing
// attempts are io::IoConnectors that report to an io::IoConnected; accepted
// connections are handed to an io::IoAcceptor.  Wrappers (io::IoWrapper,
// io::NamedIo) forward a connection while changing some of its answers.
//
// Everything here runs on the thread of the connection's event loop; no
// call is locked.  A connector reports exactly one of connected or failed,
// always from the loop, never from inside start.

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Timer.h"

namespace plat {
class Exception;
}

namespace rdr {
class InStream;
class OutStream;
}  // namespace rdr

namespace io {

class Io;

// The receiver of a connection's events.
class IoHandler {
 public:
  virtual ~IoHandler();
  // Input has arrived.
  virtual void readable(Io& io) = 0;
  // All pending output has been passed on, so more may be written.
  virtual void writable(Io& io);
  // The connection has completed a shutdown that asked to tell the handler.
  virtual void shutdownDone(Io& io) = 0;
};

// Descriptive flags of a connection (for example whether its transport is
// secure); wrappers copy them, hand-overs pass them on in a stream.
using IoFlags = std::set<std::string>;

class Io {
 public:
  virtual ~Io();
  Io(const Io&) = delete;
  Io& operator=(const Io&) = delete;

  // Sets or clears (null) the receiver of events.  With a handler and
  // watchInput the connection watches for input and reports input it
  // already holds at once; without watchInput it does not watch.
  virtual void setHandler(IoHandler* handler, bool watchInput) = 0;
  // Closes the connection, first passing on pending output when flush is
  // set.  With tellHandler the handler learns of completion (shutdownDone).
  virtual void shutdown(bool flush, bool tellHandler) = 0;
  // Makes the loop report the connection readable again.  The base cannot,
  // and fails an assertion.
  virtual void markReadable();
  // Every connection kind answers 0.
  virtual int32_t query();
  // A short description for log lines.
  virtual plat::CharArray displayName() = 0;
  // The remote endpoint text.
  virtual plat::CharArray peerEndpoint() = 0;
  // The remote endpoint after name resolution; peerEndpoint by default.
  virtual plat::CharArray resolvedPeerEndpoint();
  virtual plat::CharArray peerAddress() = 0;
  virtual plat::CharArray myEndpoint() = 0;
  // The blocking time-out of both streams, in milliseconds.
  virtual void setTimeout(int32_t ms) = 0;

  // The streams are owned by the concrete connection (a wrapper shares the
  // wrapped one's); null until the concrete connection sets them.
  rdr::InStream& in() { return *in_; }
  rdr::OutStream& out() { return *out_; }
  const IoFlags& flags() const noexcept { return flags_; }
  IoFlags& flags() noexcept { return flags_; }

 protected:
  Io() = default;

  // A wrapper takes over the wrapped connection's streams and flags.
  friend class IoWrapper;

  rdr::InStream* in_ = nullptr;
  rdr::OutStream* out_ = nullptr;
  IoFlags flags_;
};

// A u8 count (a set of 256 or more fails an assertion), then each flag as
// string8.
void writeFlags(rdr::OutStream& out, const IoFlags& flags);
// Reads what writeFlags wrote, each text made valid UTF-8, into `flags`
// (added to what it holds).
void readFlags(rdr::InStream& in, IoFlags& flags);

// The listener side: receives each newly accepted connection.
class IoAcceptor {
 public:
  virtual ~IoAcceptor();
  // Takes ownership of io.
  virtual void acceptIo(Io* io) = 0;
};

class IoConnector;

// The receiver of a connection attempt's result.
class IoConnected {
 public:
  virtual ~IoConnected();
  // Ownership of io passes to the receiver.  The receiver may destroy the
  // connector from here.
  virtual void connected(IoConnector& connector, Io* io) = 0;
  virtual void failed(IoConnector& connector, const plat::Exception& error) = 0;
  // A progress notice some connectors give; ignored by default.
  virtual void notify(IoConnector& connector);
};

// One outgoing connection attempt.
class IoConnector {
 public:
  virtual ~IoConnector();
  // Starts the attempt; the result reaches cb from the event loop.
  virtual void start(IoConnected* cb) = 0;
  // A blocking attempt; the base throws plat::Exception.
  virtual Io* connect();
  // Names the way of connecting, for log lines.
  virtual plat::CharArray methodName();

 protected:
  IoConnector() = default;
};

// The usual base of connectors: start arms a 0 ms timer, so the attempt
// (run) always begins from the event loop.
class IoConnectorBase : public IoConnector, public plat::Timer::Callback {
 public:
  ~IoConnectorBase() override;

  void start(IoConnected* cb) override;
  // The attempt itself; the base does nothing.
  virtual void run();
  // Aborts an attempt in progress and releases what it holds, such as a
  // half-made connection.
  virtual void cancel() = 0;

  bool timerExpired(plat::Timer* timer) override;

 protected:
  IoConnectorBase() : timer_(this) {}

  // Report the result to the callback.  The callback may destroy this
  // connector: callers touch nothing of themselves afterwards.  Without a
  // callback, a connection is shut at once.
  void connected(Io* io);
  void failed(const plat::Exception& error);

  IoConnected* cb_ = nullptr;
  plat::Timer timer_;
};

// Forwards a connection while letting a subclass change some answers.  The
// wrapper owns the wrapped connection until the wrapped one reports its
// shutdown complete: a connection that reports so deletes itself, so the
// wrapper then forgets it, tells its own handler and deletes only itself.
// A wrapper destroyed before that report deletes the wrapped connection.
class IoWrapper : public Io, public IoHandler {
 public:
  // Shares io's streams and flags; with a handler, becomes io's handler.
  IoWrapper(Io* io, IoHandler* handler);
  ~IoWrapper() override;

  void setHandler(IoHandler* handler, bool watchInput) override;
  void shutdown(bool flush, bool tellHandler) override;
  void markReadable() override;
  int32_t query() override;
  plat::CharArray displayName() override;
  plat::CharArray peerEndpoint() override;
  plat::CharArray resolvedPeerEndpoint() override;
  plat::CharArray peerAddress() override;
  plat::CharArray myEndpoint() override;
  void setTimeout(int32_t ms) override;

  // Events of the wrapped connection.
  void readable(Io& io) override;
  void writable(Io& io) override;
  void shutdownDone(Io& io) override;

  Io& wrapped() noexcept { return *io_; }

 protected:
  std::unique_ptr<Io> io_;
  IoHandler* handler_;
};

// Presents a connection under other names (a connection made through a
// proxy under the target's).  Each empty name falls back to the wrapped
// connection's answer.
class NamedIo : public IoWrapper {
 public:
  // Null and "" alike mean no name of its own.
  NamedIo(Io* io, IoHandler* handler, const char* peerEndpoint, const char* peerAddress, const char* displayName,
          const char* resolvedPeerEndpoint = nullptr);

  plat::CharArray displayName() override;
  plat::CharArray peerEndpoint() override;
  // The stored text, else this wrapper's own peerEndpoint.
  plat::CharArray resolvedPeerEndpoint() override;
  plat::CharArray peerAddress() override;

 private:
  plat::CharArray peerEndpoint_;
  plat::CharArray peerAddress_;
  plat::CharArray displayName_;
  plat::CharArray resolvedPeerEndpoint_;
};

}  // namespace io
