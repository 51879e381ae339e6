#pragma once
// Logging over the named-message channel.
//
// A child process sends its log lines to its parent instead of writing
// them itself.  The child's side is the destination "ipc"
// (plat::LogDestIpc): any thread queues lines under its mutex and kicks the
// channel's loop thread, which sends them as "logMsg" messages.  Nothing is
// sent before the parent has told the level it wants ("setLogLevel"), so
// what was logged before the channel existed reaches the parent too, up to
// the queue's size.  The parent's side (plat::LogSrcViaIpc) is a log source
// that writes what its channels deliver as "<child source>: <message>" at
// the child's level, and tells each channel the level it wants.
//
// Message bodies (integers big-endian):
//   "setLogLevel"  parent to child: level (s32)
//   "logMsg"       child to parent: level (s32), source name (string8, cut
//                  to 255 bytes), message (string32 of at most 1024 bytes)
//
// Both classes keep their plat names but live with the channel they read:
// plat's logging never includes io.  plat::findLogDest reaches the "ipc"
// destination through plat::log_dest_hooks::setIpc, which this unit's
// static initialiser fills, so a `Log` value naming "ipc" still makes it on
// first lookup.

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "qocore/base/io/Ipc.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Kicker.h"
#include "qocore/base/plat/LogDest.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Mutex.h"

namespace plat {

class LogDestIpc : public LogDest, public Kickee, public io::MsgIpc::Reader {
 public:
  // Lines queued before further ones are dropped (one overflow line
  // follows them).
  static constexpr int kMaxQueued = 1000;
  // The longest message text sent; longer ones are cut.
  static constexpr int32_t kMaxMessage = 1024;

  // The process's "ipc" destination, made on the first call and never
  // destroyed.
  static LogDestIpc& instance();

  // Any thread.  Drops lines above the level the parent asked for.
  void write(int level, const char* source, const char* text) override;
  // On the channel's loop thread: sends the queue.
  void kicked() override { flush(); }
  // "setLogLevel".
  [[nodiscard]] bool readMsg(const char* name, rdr::InStream& in, io::MsgIpc& ipc) override;
  void forgetIpc(io::MsgIpc* ipc) override;

  // On the channel's loop thread: sends through `channel` from now on (null
  // detaches).  Nothing is sent until the parent's level arrives on it.
  void setChannel(io::MsgIpc* channel);
  // Sends the queued lines whose level is at most the parent's; nothing
  // while the parent's level is unknown or the channel holds no
  // connection (the lines then stay queued).  On the channel's loop thread
  // only.
  void flush();
  // The fatal assertion handler's flush: acts only on the channel's loop
  // thread (on another the queued lines are lost, rather than two threads
  // writing one stream).
  static void flushForAssertion();

 private:
  struct Entry {
    int32_t level;
    CharArray source;
    CharArray text;
  };

  LogDestIpc();
  ~LogDestIpc() override;

  Mutex mutex_;
  std::vector<Entry> queue_ PLAT_GUARDED_BY(mutex_);
  io::MsgIpc* channel_ PLAT_GUARDED_BY(mutex_) = nullptr;
  bool levelKnown_ PLAT_GUARDED_BY(mutex_) = false;
  std::unique_ptr<Kicker> kicker_ PLAT_GUARDED_BY(mutex_);
  // The thread whose loop drives the channel.
  std::thread::id loopThread_ PLAT_GUARDED_BY(mutex_);
};

class LogSrcViaIpc : public LogSrc, public io::MsgIpc::Reader {
 public:
  // `name` is static text, as for every log source.
  explicit LogSrcViaIpc(const char* name);
  ~LogSrcViaIpc() override;

  // The base computation, then the level is sent to every channel.
  void recomputeLevel() override;
  // "logMsg".
  [[nodiscard]] bool readMsg(const char* name, rdr::InStream& in, io::MsgIpc& ipc) override;
  void forgetIpc(io::MsgIpc* ipc) override;

  // attach: reads "logMsg" from the channel and sends it the level (-1:
  // follow this source's own level); detach: stops reading.
  void setChannel(io::MsgIpc* channel, bool attach, int32_t level);

 private:
  void sendLevel(io::MsgIpc& channel);

  std::set<io::MsgIpc*> channels_;
  std::map<io::MsgIpc*, int32_t> levels_;
};

}  // namespace plat
