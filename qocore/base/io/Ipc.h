#pragma once
// io::Ipc and io::MsgIpc: the channel over which the program's processes and
// threads exchange named messages.
//
// io::Ipc holds one connection (io::Io) at a time and turns its input into
// calls of an io::Ipc::Callback.  io::MsgIpc runs on top of it: every
// message is one framed message (rdr::OutStreamV4 / rdr::InStreamV4) that
// starts with the message name (an 8-bit length and that many bytes); the
// rest is the body, read by the io::MsgIpc::Reader registered for the name.
// The name "badMsg" is reserved: its body is the name the sender did not
// know (string8).
//
// Input is parsed by a small state machine over the non-blocking framed
// stream: a checkpoint is set after each completed step, so when the data
// runs short the stream rewinds and the same step runs again with more
// data.  A reader whose read blocks is called again from the start of the
// body (the input buffer keeps a body longer than one frame whole); one
// that answers false is called again where it left the stream, keeping its
// own progress.  Whatever a reader leaves unread is skipped, as are
// messages of unknown names; skipped bytes are dropped as they arrive, so a
// long skipped message costs no buffer.
//
// Everything runs on the thread whose event loop drives the connection;
// nothing is locked.  Readers and callbacks may write messages, register
// and remove readers and detach from inside their calls.

#include <cstdint>
#include <map>
#include <memory>

#include "qocore/base/io/Io.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/rdr/FramedInStream.h"
#include "qocore/base/rdr/FramedOutStream.h"
#include "qocore/base/rdr/NullOutStream.h"

namespace io {

class Ipc : public IoAcceptor, public IoHandler {
 public:
  class Callback {
   public:
    // Input has arrived.
    virtual void dataReady(Ipc& ipc) = 0;
    // The connection went away.
    virtual void closed(Ipc& ipc) = 0;
    // An exception escaped the input handling; the connection is closed
    // next.
    virtual void error(Ipc& ipc, const plat::Exception& e) = 0;
    virtual ~Callback();
  };

  // `name` is copied; it starts every log line.  While paused the
  // connection is attached without input events and its input stream is
  // not rewindable (for blocking, synchronous reads).
  Ipc(const char* name, Callback* callback, bool paused);
  ~Ipc() override;

  // Takes ownership of io; a second connection while one is held is a
  // failed assertion.
  void acceptIo(Io* io) override;
  void setPaused(bool paused);
  // Shuts the connection (flushing its output first when flushOnClose is
  // set); the output falls back to the discard stream.
  void close();
  // Hands the connection to the caller without shutting it; null when none.
  [[nodiscard]] Io* takeIo();
  void setFlushOnClose(bool on) noexcept { flushOnClose_ = on; }

  bool attached() const noexcept { return io_ != nullptr; }
  Io* io() const noexcept { return io_.get(); }
  // The connection's input stream; null while detached.
  rdr::InStream* inStream() const noexcept { return in_; }
  // The connection's output stream, or the discard stream.
  rdr::OutStream& outStream() const noexcept { return *out_; }
  const char* name() const noexcept { return name_.c_str(); }

  // The connection's events.
  void readable(Io& io) override;
  void shutdownDone(Io& io) override;

 private:
  // Forgets the connection and its streams.
  void forget() noexcept;

  plat::CharArray name_;
  Callback* callback_;
  std::unique_ptr<Io> io_;
  rdr::InStream* in_ = nullptr;
  rdr::OutStream* out_;
  rdr::NullOutStream discard_;
  bool paused_;
  bool flushOnClose_ = false;
};

class MsgIpc : public IoAcceptor, public Ipc::Callback {
 public:
  // Reads the bodies of the messages it is registered for.  Either side
  // may be destroyed first: a reader removes its registrations from the
  // channel it was last registered with, and a channel tells every reader
  // still registered (forgetIpc).
  class Reader {
   public:
    virtual ~Reader();
    // Reads the body of one message of a registered name: true when it is
    // consumed, false when not all of it is here yet (the reader is called
    // again once more data has arrived).  A read that blocks rewinds the
    // stream to the start of the body before the reader is called again.
    [[nodiscard]] virtual bool readMsg(const char* name, rdr::InStream& in, MsgIpc& ipc) = 0;
    // A connection was attached or lost: per-connection state starts
    // afresh.  Does nothing by default.
    virtual void reset(MsgIpc& ipc);
    // The channel is going away.  By default forgets it when it is the one
    // the reader was last registered with.
    virtual void forgetIpc(MsgIpc* ipc);

   protected:
    Reader() = default;
    // The channel this reader was last registered with, or null.
    MsgIpc* registeredIpc() const noexcept { return registeredIpc_; }

   private:
    friend class MsgIpc;
    MsgIpc* registeredIpc_ = nullptr;
  };

  class Callback {
   public:
    // The connection went away.
    virtual void closed(MsgIpc& ipc) = 0;
    // Whether a message of that name may be sent (outgoing) or received
    // now.  True by default.
    [[nodiscard]] virtual bool allowed(MsgIpc& ipc, const char* name, bool outgoing);
    // An exception escaped the input handling (the connection is then
    // closed).  Does nothing by default.
    virtual void error(MsgIpc& ipc, const plat::Exception& e);
    virtual ~Callback();
  };

  // `name` is copied (the first "%s" of the log lines).  With logDiscards,
  // messages written while detached are logged.
  MsgIpc(Callback* callback, const char* name, bool paused, bool logDiscards);
  ~MsgIpc() override;
  MsgIpc(const MsgIpc&) = delete;
  MsgIpc& operator=(const MsgIpc&) = delete;

  // Registers the reader for the name, replacing an earlier one.
  void setReader(const char* name, Reader* reader);
  // Drops every registration of the reader, or the one of the name.  When
  // the message being read loses its reader, the rest of it is skipped.
  void removeReader(Reader* reader);
  void removeReader(const char* name);

  // Takes ownership of io and starts reading messages from it.
  void attach(Io* io);
  void acceptIo(Io* io) override { attach(io); }
  // Shuts the connection; with notify the callback hears closed.
  void detach(bool notify);
  // Hands the connection to the caller without shutting it (null when
  // none), discarding the rest of an open input message.
  [[nodiscard]] Io* releaseIo();

  // Begins an outgoing message and answers the stream for its body; the
  // caller ends it with out().endMsg(true).  A name the callback
  // refuses throws plat::Exception and writes nothing.  Written while
  // detached, the message goes to the discard stream.
  rdr::OutStream& writeMsg(const char* name);
  rdr::FramedOutStream& out() noexcept { return out_; }

  // Synchronous reads, for channels over blocking streams.  readMessage
  // reads one whole message (which must carry `name` unless that is null)
  // and hands it to its reader; waitForMsg reads until a message of that
  // name has been read; readUntilClosed reads until the end of input.
  // readMessage throws plat::Exception outside a message boundary.  A
  // failure while reading (a read that would block on a non-blocking
  // stream included) is logged, the rest of the message is discarded where
  // possible, so the next call reads the next message, and the failure is
  // rethrown; a bad name that closed the channel ends it as
  // rdr::EndOfStream.
  void readMessage(const char* name);
  void waitForMsg(const char* name);
  void readUntilClosed();
  // Discards the rest of an open input message.
  void finishMsg();
  // Runs the input state machine over the data that has arrived.
  void processInput();

  bool attached() const noexcept { return ipc_.attached(); }
  Ipc& ipc() noexcept { return ipc_; }
  const char* name() const noexcept { return ipc_.name(); }
  // The name of the message read last (or being read).
  const char* currentName() const noexcept { return currentName_.c_str(); }
  void setReplyBadMsg(bool on) noexcept { replyBadMsg_ = on; }
  void setCloseOnBadName(bool on) noexcept { closeOnBadName_ = on; }

  // The connection's events.
  void dataReady(Ipc& ipc) override;
  void closed(Ipc& ipc) override;
  void error(Ipc& ipc, const plat::Exception& e) override;

 private:
  // One step of the input state machine: true when it completed a step,
  // false when it must wait for more data.
  using StateFn = bool (MsgIpc::*)();

  // Compares names byte-wise.
  struct NameLess {
    bool operator()(const plat::CharArray& a, const plat::CharArray& b) const noexcept;
  };
  using ReaderMap = std::map<plat::CharArray, Reader*, NameLess>;

  bool startMsg();
  bool readMsgName();
  bool dispatchMsg();
  bool skipMsg();

  // Points the framed streams at the Ipc's current streams.
  void resetStreams() noexcept;
  // Calls reset on each distinct reader.
  void resetReaders();
  // After the connection went: streams, state and readers start afresh;
  // with notify the callback hears closed.
  void afterClose(bool hadIo, bool notify);

  Ipc ipc_;
  Callback* callback_;
  rdr::InStreamV4 in_;
  rdr::OutStreamV4 out_;
  StateFn state_ = nullptr;
  ReaderMap readers_;
  // The reader of the message being read (state dispatchMsg).
  Reader* current_ = nullptr;
  plat::CharArray expectedName_;
  plat::CharArray currentName_;
  bool logDiscards_;
  bool replyBadMsg_ = false;
  bool closeOnBadName_ = true;
};

}  // namespace io
