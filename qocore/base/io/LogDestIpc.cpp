#include "qocore/base/io/LogDestIpc.h"

#include <utility>

#include "qocore/base/io/FdKicker.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace plat {

namespace {

constexpr char kSetLogLevel[] = "setLogLevel";
constexpr char kLogMsg[] = "logMsg";

// Wakes the kickee on the thread whose loop it was made on, through that
// loop's self-pipe.  Kicks that arrive together make one call.
class LoopKicker : public Kicker, public io::FdKickerCallback {
 public:
  explicit LoopKicker(Kickee* kickee) : kickee_(kickee), kicker_(this) {}

  void kick() override { kicker_.kick(); }
  void kicked(io::FdKicker& kicker, rdr::InStream&) override {
    kicker.drain();
    kickee_->kicked();
  }

 private:
  Kickee* kickee_;
  io::FdKicker kicker_;
};

LogDest& ipcDest() { return LogDestIpc::instance(); }

// plat's lookup of "ipc" makes the destination through this hook.
[[maybe_unused]] const bool ipcHookFilled = (log_dest_hooks::setIpc(&ipcDest), true);

}  // namespace

// ---- The child's side ----

LogDestIpc& LogDestIpc::instance() {
  // Never destroyed: code may log until the process ends.
  static LogDestIpc* dest = new LogDestIpc;
  return *dest;
}

LogDestIpc::LogDestIpc() : LogDest("ipc") { assertion_hooks::setFlush(&LogDestIpc::flushForAssertion); }

LogDestIpc::~LogDestIpc() = default;

void LogDestIpc::write(int level, const char* source, const char* text) {
  MutexLock lock(mutex_);
  if (level > this->level()) return;
  if (queue_.size() >= kMaxQueued) {
    if (queue_.size() > kMaxQueued) return;
    queue_.push_back(
        {LogSrc::kError, CharArray("LogDestIpc"), CharArray("Too many messages, discarding further ones")});
  } else {
    queue_.push_back({level, CharArray(source), CharArray(text)});
  }
  if (channel_ && levelKnown_ && kicker_) kicker_->kick();
}

void LogDestIpc::setChannel(io::MsgIpc* channel) {
  MutexLock lock(mutex_);
  if (channel_) channel_->removeReader(this);
  channel_ = channel;
  levelKnown_ = false;
  loopThread_ = std::this_thread::get_id();
  kicker_.reset();
  if (!channel) return;
  channel->setReader(kSetLogLevel, this);
  kicker_ = std::make_unique<LoopKicker>(this);
}

void LogDestIpc::forgetIpc(io::MsgIpc* ipc) {
  {
    MutexLock lock(mutex_);
    if (channel_ == ipc) {
      channel_ = nullptr;
      levelKnown_ = false;
      kicker_.reset();
    }
  }
  Reader::forgetIpc(ipc);
}

bool LogDestIpc::readMsg(const char*, rdr::InStream& in, io::MsgIpc&) {
  const int32_t level = in.readS32();
  // Stored (and every source's level recomputed) outside the queue's lock:
  // the recomputation takes the registry lock, which a replay holds while
  // it writes here.
  setLevel(level);
  {
    MutexLock lock(mutex_);
    levelKnown_ = true;
  }
  flush();
  return true;
}

void LogDestIpc::flush() {
  io::MsgIpc* channel;
  std::vector<Entry> entries;
  {
    MutexLock lock(mutex_);
    // Without a connection the lines stay queued for the next channel (and
    // a "Discarding message" line cannot feed the queue in a loop).
    if (!levelKnown_ || !channel_ || !channel_->attached()) return;
    channel = channel_;
    entries.swap(queue_);
  }
  const int max = level();
  bool sent = false;
  for (const Entry& entry : entries) {
    if (entry.level > max) continue;
    rdr::OutStream& out = channel->writeMsg(kLogMsg);
    out.writeS32(entry.level);
    out.writeString8(entry.source.c_str());
    out.writeString32(entry.text.c_str(), kMaxMessage);
    channel->out().endMsg(false);
    sent = true;
  }
  if (sent) channel->ipc().outStream().flush();
}

void LogDestIpc::flushForAssertion() {
  LogDestIpc& dest = instance();
  {
    MutexLock lock(dest.mutex_);
    if (dest.loopThread_ != std::this_thread::get_id()) return;
  }
  dest.flush();
}

// ---- The parent's side ----

LogSrcViaIpc::LogSrcViaIpc(const char* name) : LogSrc(name) {}

LogSrcViaIpc::~LogSrcViaIpc() {
  std::set<io::MsgIpc*> channels = std::move(channels_);
  levels_.clear();
  for (io::MsgIpc* channel : channels) channel->removeReader(this);
}

void LogSrcViaIpc::recomputeLevel() {
  LogSrc::recomputeLevel();
  for (io::MsgIpc* channel : channels_) {
    try {
      sendLevel(*channel);
    } catch (const Exception&) {
      // A channel that cannot take the level fails its own next read or
      // write, and its owner hears of it there.
    }
  }
}

void LogSrcViaIpc::setChannel(io::MsgIpc* channel, bool attach, int32_t level) {
  if (!attach) {
    channels_.erase(channel);
    levels_.erase(channel);
    channel->removeReader(this);
    return;
  }
  channels_.insert(channel);
  channel->setReader(kLogMsg, this);
  levels_[channel] = level;
  sendLevel(*channel);
}

void LogSrcViaIpc::sendLevel(io::MsgIpc& channel) {
  auto it = levels_.find(&channel);
  int32_t level = it == levels_.end() ? -1 : it->second;
  if (level == -1) level = boundLevel();
  channel.writeMsg(kSetLogLevel).writeS32(level);
  channel.out().endMsg(true);
}

bool LogSrcViaIpc::readMsg(const char*, rdr::InStream& in, io::MsgIpc&) {
  const int32_t level = in.readS32();
  const CharArray source = in.readString8(true);
  const CharArray text = in.readString(LogDestIpc::kMaxMessage, true);
  write(level, "%s: %s", source.c_str(), text.c_str());
  return true;
}

void LogSrcViaIpc::forgetIpc(io::MsgIpc* ipc) {
  channels_.erase(ipc);
  levels_.erase(ipc);
  Reader::forgetIpc(ipc);
}

}  // namespace plat
