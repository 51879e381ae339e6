#include "qocore/base/io/Ipc.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/rdr/Exceptions.h"

namespace io {

namespace {

PLAT_LOG_SOURCE(vlog, "Ipc");

constexpr const char kBadMsg[] = "badMsg";

bool sameText(const char* a, const char* b) noexcept {
  if (!a || !b) return a == b;
  return std::strcmp(a, b) == 0;
}

}  // namespace

// ---- io::Ipc ----

Ipc::Callback::~Callback() = default;

Ipc::Ipc(const char* name, Callback* callback, bool paused)
    : name_(name), callback_(callback), out_(&discard_), paused_(paused) {}

Ipc::~Ipc() {
  try {
    close();
  } catch (const plat::Exception& e) {
    // A destructor cannot report: the connection is gone either way.
    vlog().debug("%s: %s", name(), e.str());
  }
}

void Ipc::acceptIo(Io* newIo) {
  PLAT_ASSERT_TEXT(!io_, "!io");
  io_.reset(newIo);
  in_ = &newIo->in();
  out_ = &newIo->out();
  newIo->setHandler(paused_ ? nullptr : this, true);
  in_->setRewindable(!paused_);
}

void Ipc::setPaused(bool paused) {
  paused_ = paused;
  if (!io_) return;
  io_->setHandler(paused_ ? nullptr : this, true);
  in_->setRewindable(!paused_);
}

void Ipc::forget() noexcept {
  static_cast<void>(io_.release());
  in_ = nullptr;
  out_ = &discard_;
}

void Ipc::close() {
  if (!io_) return;
  Io* io = io_.get();
  rdr::OutStream* out = out_;
  try {
    io->setHandler(nullptr, true);
  } catch (const plat::Exception& e) {
    // Ignored: the connection is shut below all the same.
    vlog().debug("%s: %s", name(), e.str());
  }
  forget();
  if (flushOnClose_) {
    try {
      out->flush();
    } catch (const plat::Exception& e) {
      vlog().debug("%s: %s", name(), e.str());
    }
  }
  io->shutdown(false, false);
}

Io* Ipc::takeIo() {
  if (!io_) return nullptr;
  Io* io = io_.get();
  try {
    io->setHandler(nullptr, true);
  } catch (const plat::Exception& e) {
    // Ignored: the caller gets the connection as it is.
    vlog().debug("%s: %s", name(), e.str());
  }
  forget();
  return io;
}

void Ipc::readable(Io&) {
  try {
    callback_->dataReady(*this);
  } catch (const rdr::BlockException&) {
    // Waiting for more input.
  } catch (const plat::Exception& e) {
    vlog().debug("%s: %s", name(), e.str());
    callback_->error(*this, e);
    if (io_) {
      Io* io = takeIo();
      io->shutdown(false, false);
      callback_->closed(*this);
    }
  }
}

void Ipc::shutdownDone(Io& io) {
  // The connection deletes itself once this returns.
  io.setHandler(nullptr, true);
  forget();
  callback_->closed(*this);
}

// ---- io::MsgIpc::Reader and Callback ----

MsgIpc::Reader::~Reader() {
  if (registeredIpc_) registeredIpc_->removeReader(this);
}

void MsgIpc::Reader::reset(MsgIpc&) {}

void MsgIpc::Reader::forgetIpc(MsgIpc* ipc) {
  if (registeredIpc_ == ipc) registeredIpc_ = nullptr;
}

bool MsgIpc::Callback::allowed(MsgIpc&, const char*, bool) { return true; }
void MsgIpc::Callback::error(MsgIpc&, const plat::Exception&) {}
MsgIpc::Callback::~Callback() = default;

bool MsgIpc::NameLess::operator()(const plat::CharArray& a, const plat::CharArray& b) const noexcept {
  // strcmp compares as unsigned bytes; the null name counts as "".
  return std::strcmp(a.c_str(), b.c_str()) < 0;
}

// ---- io::MsgIpc ----

MsgIpc::MsgIpc(Callback* callback, const char* name, bool paused, bool logDiscards)
    : ipc_(name, this, paused), callback_(callback), in_(nullptr), out_(&ipc_.outStream()), logDiscards_(logDiscards) {}

MsgIpc::~MsgIpc() {
  std::vector<Reader*> registered;
  for (const auto& [name, reader] : readers_) {
    if (std::find(registered.begin(), registered.end(), reader) == registered.end()) registered.push_back(reader);
  }
  readers_.clear();
  current_ = nullptr;
  for (Reader* reader : registered) reader->forgetIpc(this);
  if (ipc_.attached()) {
    try {
      ipc_.close();
    } catch (const plat::Exception& e) {
      vlog().debug("%s: %s", name(), e.str());
    }
    resetStreams();
    state_ = nullptr;
  }
}

void MsgIpc::setReader(const char* name, Reader* reader) {
  auto [it, inserted] = readers_.try_emplace(plat::CharArray(name), reader);
  if (!inserted && it->second != reader) {
    Reader* old = it->second;
    it->second = reader;
    if (old == current_ && state_ == &MsgIpc::dispatchMsg && sameText(name, currentName_.c_str())) {
      current_ = nullptr;
      state_ = &MsgIpc::skipMsg;
    }
    bool stillRegistered = false;
    for (const auto& entry : readers_) stillRegistered = stillRegistered || entry.second == old;
    if (!stillRegistered && old->registeredIpc_ == this) old->registeredIpc_ = nullptr;
  }
  reader->registeredIpc_ = this;
}

void MsgIpc::removeReader(Reader* reader) {
  std::erase_if(readers_, [reader](const auto& entry) { return entry.second == reader; });
  if (reader == current_ && state_ == &MsgIpc::dispatchMsg) {
    current_ = nullptr;
    state_ = &MsgIpc::skipMsg;
  }
  if (reader->registeredIpc_ == this) reader->registeredIpc_ = nullptr;
}

void MsgIpc::removeReader(const char* name) {
  auto it = readers_.find(plat::CharArray(name));
  if (it == readers_.end()) return;
  Reader* reader = it->second;
  readers_.erase(it);
  if (reader == current_ && state_ == &MsgIpc::dispatchMsg && sameText(name, currentName_.c_str())) {
    current_ = nullptr;
    state_ = &MsgIpc::skipMsg;
  }
  for (const auto& entry : readers_) {
    if (entry.second == reader) return;
  }
  if (reader->registeredIpc_ == this) reader->registeredIpc_ = nullptr;
}

void MsgIpc::resetStreams() noexcept {
  in_.setUnderlying(ipc_.inStream());
  out_.setUnderlying(&ipc_.outStream());
}

void MsgIpc::resetReaders() {
  std::vector<Reader*> done;
  // A reader's reset may change the registrations: walk a copy.
  std::vector<Reader*> all;
  for (const auto& entry : readers_) all.push_back(entry.second);
  for (Reader* reader : all) {
    if (std::find(done.begin(), done.end(), reader) != done.end()) continue;
    done.push_back(reader);
    reader->reset(*this);
  }
}

void MsgIpc::afterClose(bool hadIo, bool notify) {
  resetStreams();
  state_ = nullptr;
  current_ = nullptr;
  if (!hadIo) return;
  resetReaders();
  if (notify && callback_) callback_->closed(*this);
}

void MsgIpc::attach(Io* io) {
  ipc_.acceptIo(io);
  resetStreams();
  state_ = &MsgIpc::startMsg;
  current_ = nullptr;
  resetReaders();
}

void MsgIpc::detach(bool notify) {
  const bool hadIo = ipc_.attached();
  ipc_.close();
  afterClose(hadIo, notify);
}

Io* MsgIpc::releaseIo() {
  Io* io = nullptr;
  try {
    finishMsg();
  } catch (const plat::Exception& e) {
    // The rest of the message may not have arrived; the connection is
    // handed over as it is.
    vlog().debug("%s: %s", name(), e.str());
  }
  try {
    io = ipc_.takeIo();
  } catch (const plat::Exception& e) {
    vlog().debug("%s: %s", name(), e.str());
  }
  resetStreams();
  state_ = nullptr;
  current_ = nullptr;
  return io;
}

rdr::OutStream& MsgIpc::writeMsg(const char* name) {
  if (callback_ && !callback_->allowed(*this, name, true)) {
    vlog().info("%s: Message '%s' not currently allowed", this->name(), name);
    throw plat::Exception("MsgIpc::writeMsg: Message not currently allowed");
  }
  if (logDiscards_ && !ipc_.attached()) vlog().debug("%s: Discarding message '%s'", this->name(), name);
  out_.startMsg();
  out_.writeString8(name);
  return out_;
}

void MsgIpc::finishMsg() {
  if (!in_.inMsg()) return;
  in_.skipRestOfMsg();
  in_.endMsg();
}

// ---- The input state machine ----

void MsgIpc::processInput() {
  for (;;) {
    if (!ipc_.attached()) return;
    StateFn stateFn = state_;
    PLAT_ASSERT(stateFn);
    try {
      if (!(this->*stateFn)()) return;
    } catch (const rdr::BlockException&) {
      // The stream is back at the last checkpoint; this step runs again
      // when more data arrives.
      return;
    }
    // A step may have closed the channel (a bad name, a detaching reader).
    if (!ipc_.attached()) return;
    in_.setCheckpoint();
  }
}

bool MsgIpc::startMsg() {
  if (!in_.startMsg(false)) return false;
  state_ = &MsgIpc::readMsgName;
  return true;
}

bool MsgIpc::readMsgName() {
  currentName_ = in_.readString8(true);
  const char* name = currentName_.c_str();
  if (expectedName_ && !sameText(name, expectedName_.c_str()) && !sameText(name, kBadMsg)) {
    throw plat::ExceptionFmt("MsgIpc: expected message %s, got %s", expectedName_.c_str(), name);
  }
  auto it = readers_.find(currentName_);
  if (it != readers_.end()) {
    current_ = it->second;
    state_ = &MsgIpc::dispatchMsg;
    return true;
  }
  if (sameText(name, kBadMsg)) {
    plat::CharArray reported = in_.readString8(true);
    vlog().info("%s: Peer reports bad msg name '%s'", this->name(), reported.c_str());
    throw plat::ExceptionFmt("MsgIpc: expected message %s, peer reports bad msg name '%s'",
                             expectedName_ ? expectedName_.c_str() : "<null>", reported.c_str());
  }
  state_ = &MsgIpc::skipMsg;
  if (replyBadMsg_) {
    rdr::OutStream& out = writeMsg(kBadMsg);
    out.writeString8(name);
    out_.endMsg(true);
    return true;
  }
  vlog().info("%s: Bad msg name '%s'", this->name(), name);
  // A name that no protocol uses (empty, a digit, punctuation, a control or
  // non-ASCII byte) means the stream is out of step.  The byte is taken as
  // signed on every architecture, so non-ASCII counts as below "A".
  if (closeOnBadName_ && static_cast<signed char>(name[0]) < 'A') {
    const bool hadIo = ipc_.attached();
    ipc_.close();
    afterClose(hadIo, true);
  }
  return true;
}

bool MsgIpc::dispatchMsg() {
  const char* name = currentName_.c_str();
  if (callback_ && !callback_->allowed(*this, name, false)) {
    vlog().info("%s: Message '%s' not currently allowed", this->name(), name);
    current_ = nullptr;
    state_ = &MsgIpc::skipMsg;
    return true;
  }
  const bool done = current_->readMsg(name, in_, *this);
  // The reader may have removed itself (the state is then skipMsg) or
  // detached the channel (no state).
  if (state_ != &MsgIpc::dispatchMsg) return true;
  if (!done) return false;
  current_ = nullptr;
  state_ = &MsgIpc::skipMsg;
  return true;
}

bool MsgIpc::skipMsg() {
  finishMsg();
  state_ = &MsgIpc::startMsg;
  return true;
}

// ---- Synchronous reads ----

void MsgIpc::readMessage(const char* name) {
  if (state_ != &MsgIpc::startMsg) throw plat::Exception("MsgIpc::readMessage: not in state startMsg");
  expectedName_ = name ? plat::CharArray(name) : plat::CharArray();
  try {
    do {
      // A bad name closed the channel: nothing more can be read from it.
      if (!ipc_.attached()) throw rdr::EndOfStream();
      StateFn stateFn = state_;
      PLAT_ASSERT(stateFn);
      if ((this->*stateFn)() && ipc_.attached()) in_.setCheckpoint();
    } while (state_ != &MsgIpc::startMsg);
  } catch (const plat::Exception& e) {
    vlog().info("%s: %s", this->name(), e.str());
    try {
      if (ipc_.attached()) {
        finishMsg();
        // The message is behind us: the channel can read the next one.
        if (state_) state_ = &MsgIpc::startMsg;
      }
    } catch (const plat::Exception& skipError) {
      vlog().error("%s: skip error: %s", this->name(), skipError.str());
    }
    current_ = nullptr;
    expectedName_.reset();
    throw;
  }
  expectedName_.reset();
}

void MsgIpc::waitForMsg(const char* name) {
  do {
    readMessage(nullptr);
  } while (!sameText(currentName_.get(), name));
}

void MsgIpc::readUntilClosed() {
  try {
    for (;;) readMessage(nullptr);
  } catch (const rdr::EndOfStream&) {
    // The peer has closed: the end of what there is to read.
  }
}

// ---- The connection's events ----

void MsgIpc::dataReady(Ipc&) { processInput(); }

void MsgIpc::closed(Ipc&) {
  resetStreams();
  current_ = nullptr;
  resetReaders();
  if (callback_) callback_->closed(*this);
}

void MsgIpc::error(Ipc&, const plat::Exception& e) {
  if (callback_) callback_->error(*this, e);
}

}  // namespace io
