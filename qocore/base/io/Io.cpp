#include "qocore/base/io/Io.h"

#include <utility>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace io {

IoHandler::~IoHandler() = default;
void IoHandler::writable(Io&) {}

Io::~Io() = default;

void Io::markReadable() { PLAT_ASSERT_TEXT(false, "Io::markReadable() not implemented for this Io"); }

int32_t Io::query() { return 0; }

plat::CharArray Io::resolvedPeerEndpoint() { return peerEndpoint(); }

void writeFlags(rdr::OutStream& out, const IoFlags& flags) {
  PLAT_ASSERT(flags.size() < 256);
  out.writeU8(static_cast<uint8_t>(flags.size()));
  for (const std::string& flag : flags) out.writeString8(flag.c_str());
}

void readFlags(rdr::InStream& in, IoFlags& flags) {
  int count = in.readU8();
  for (int i = 0; i < count; i++) flags.insert(in.readString8(true).c_str());
}

IoAcceptor::~IoAcceptor() = default;

IoConnected::~IoConnected() = default;
void IoConnected::notify(IoConnector&) {}

IoConnector::~IoConnector() = default;

Io* IoConnector::connect() { throw plat::Exception("IoConnector::connect() not implemented"); }

plat::CharArray IoConnector::methodName() { return plat::CharArray("<unknown method>"); }

IoConnectorBase::~IoConnectorBase() { timer_.cancel(); }

void IoConnectorBase::start(IoConnected* cb) {
  cb_ = cb;
  timer_.start(0);
}

void IoConnectorBase::run() {}

bool IoConnectorBase::timerExpired(plat::Timer* timer) {
  // run may report, and the receiver may destroy this connector: nothing
  // of it is touched afterwards.
  if (timer == &timer_) run();
  return false;
}

void IoConnectorBase::connected(Io* io) {
  if (cb_)
    cb_->connected(*this, io);
  else
    io->shutdown(false, false);
}

void IoConnectorBase::failed(const plat::Exception& error) {
  if (cb_) cb_->failed(*this, error);
}

IoWrapper::IoWrapper(Io* io, IoHandler* handler) : io_(io), handler_(handler) {
  in_ = io->in_;
  out_ = io->out_;
  flags_ = io->flags_;
  if (handler_) io_->setHandler(this, true);
}

IoWrapper::~IoWrapper() = default;

void IoWrapper::setHandler(IoHandler* handler, bool watchInput) {
  handler_ = handler;
  io_->setHandler(nullptr, false);
  if (handler_) io_->setHandler(this, watchInput);
}

void IoWrapper::shutdown(bool flush, bool tellHandler) {
  if (!handler_) {
    // The wrapper must hear of completion to delete itself.
    try {
      io_->setHandler(this, false);
    } catch (const plat::Exception&) {
      // Ignored: the shutdown goes on, and a connection that cannot take
      // the wrapper as handler still completes it.
    }
  }
  if (!tellHandler) handler_ = nullptr;
  io_->shutdown(flush, true);
}

void IoWrapper::markReadable() { io_->markReadable(); }
int32_t IoWrapper::query() { return io_->query(); }
plat::CharArray IoWrapper::displayName() { return io_->displayName(); }
plat::CharArray IoWrapper::peerEndpoint() { return io_->peerEndpoint(); }
plat::CharArray IoWrapper::resolvedPeerEndpoint() { return io_->resolvedPeerEndpoint(); }
plat::CharArray IoWrapper::peerAddress() { return io_->peerAddress(); }
plat::CharArray IoWrapper::myEndpoint() { return io_->myEndpoint(); }
void IoWrapper::setTimeout(int32_t ms) { io_->setTimeout(ms); }

void IoWrapper::readable(Io&) {
  if (handler_) handler_->readable(*this);
}

void IoWrapper::writable(Io&) {
  if (handler_) handler_->writable(*this);
}

void IoWrapper::shutdownDone(Io&) {
  // The wrapped connection deletes itself once this returns: the wrapper
  // forgets it and deletes only itself, also when its handler throws.  The
  // handler may still ask the wrapper (and so the wrapped one) for names.
  plat::ScopeExit done([this] {
    static_cast<void>(io_.release());
    delete this;
  });
  if (handler_) handler_->shutdownDone(*this);
}

namespace {
bool isEmpty(const plat::CharArray& text) noexcept { return *text.c_str() == '\0'; }
}  // namespace

NamedIo::NamedIo(Io* io, IoHandler* handler, const char* peerEndpoint, const char* peerAddress, const char* displayName,
                 const char* resolvedPeerEndpoint)
    : IoWrapper(io, handler),
      peerEndpoint_(peerEndpoint),
      peerAddress_(peerAddress),
      displayName_(displayName),
      resolvedPeerEndpoint_(resolvedPeerEndpoint) {}

plat::CharArray NamedIo::displayName() { return isEmpty(displayName_) ? IoWrapper::displayName() : displayName_; }
plat::CharArray NamedIo::peerEndpoint() { return isEmpty(peerEndpoint_) ? IoWrapper::peerEndpoint() : peerEndpoint_; }
plat::CharArray NamedIo::peerAddress() { return isEmpty(peerAddress_) ? IoWrapper::peerAddress() : peerAddress_; }
plat::CharArray NamedIo::resolvedPeerEndpoint() {
  return isEmpty(resolvedPeerEndpoint_) ? peerEndpoint() : resolvedPeerEndpoint_;
}

}  // namespace io
