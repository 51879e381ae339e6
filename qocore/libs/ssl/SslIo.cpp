#include "qocore/libs/ssl/SslIo.h"

#include <algorithm>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/libs/ssl/SslException.h"
#include "qocore/libs/ssl/SslVerifier.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsEngine.h"

namespace ssl {

namespace {

PLAT_LOG_SOURCE(ioLog, "SslIo");

const char* const kProfileNames[] = {"Normal", "High", nullptr};

constexpr int32_t kPipeBufSize = 10240;
// The pipes use at most 2048 buffers; a full input pipe stops decryption
// until its reader has taken some, so a fast peer cannot make the
// plaintext pile up in memory.
constexpr int32_t kPipeMaxBytes = (2048 - 1) * kPipeBufSize;
// One TLS record's worth of plaintext.
constexpr int32_t kMaxRecord = 16384;
// Room the output pipe leaves in the inner stream for record overhead.
constexpr int32_t kHeadroom = 2048;

// clang-format off
constexpr int kNormalSuites[] = {
    0xC02B, 0xC02F, 0xCCA9, 0xCCA8, 0xC02C, 0xC030, 0xC02D, 0xC031, 0xC02E, 0xC032, 0x009C, 0x009D, 0xC0AC, 0xC09C,
    0xC0AD, 0xC09D, 0xC023, 0xC027, 0xC024, 0xC028, 0xC025, 0xC029, 0xC026, 0xC02A, 0x003C, 0x003D, 0xC009, 0xC004,
    0x002F, 0xC008, 0xC003, 0x000A,
};
constexpr int kHighSuites[] = {0xC0AD, 0xC02C, 0xC030, 0xC02E, 0xC032, 0xC09D, 0x009D};
// clang-format on

}  // namespace

plat::EnumParameter tlsProfile("TlsProfile", plat::LocDesc{"ssl_param_tlsprofile"}, "Normal", kProfileNames);
plat::IntParameter tlsLogging("_TlsLogging", "", 0, 0, 2147483647, true);

std::span<const int> profileSuites(int profile) noexcept {
  if (profile == kTlsHigh) return kHighSuites;
  return kNormalSuites;
}

SslEngine::~SslEngine() = default;

// ---- SslIo::SslOutStream ----

SslIo::SslOutStream::SslOutStream(Callback* callback, rdr::OutStream& innerOut)
    : rdr::MemIoStream(callback, kPipeMaxBytes, kPipeBufSize), innerOut_(innerOut) {}

int32_t SslIo::SslOutStream::spaceLimit() {
  const int32_t inner = innerOut_.spaceLimit();
  if (inner <= kHeadroom) return 0;
  return 8 * ((inner - kHeadroom) / 10);
}

rdr::OutStream* SslIo::SslOutStream::lowerStream() { return innerOut_.lowerStream(); }

bool SslIo::SslOutStream::closeForWriting() { return false; }

// ---- SslIo ----

SslIo::SslIo(io::Io* inner, const SslVerifier* verifier, SslTrustManager* trustManager, const char* host,
             ClientIdentity identity)
    : inner_(inner), inPipe_(this, kPipeMaxBytes, kPipeBufSize), outPipe_(this, inner->out()), verifier_(verifier) {
  PLAT_ASSERT(verifier);
  engine_ = std::make_unique<MbedTlsEngine>(trustManager, profileSuites(tlsProfile.getValue()), host, identity);
  flags_.insert("secureTransport");
}

SslIo::~SslIo() {
  if (inner_) {
    // Released as an owned connection is: it finishes on its own.
    io::Io* inner = inner_.release();
    inner->shutdown(true, false);
  }
}

void SslIo::keepError(const plat::Exception& e) {
  // Only the base part: the code of an SslException is not kept.
  error_.reset(new plat::Exception(e));
}

plat::LinkedPtr<plat::Exception> SslIo::getError() {
  if (!error_) error_.reset(new plat::Exception("SSL handshake failed"));
  return error_;
}

void SslIo::setHandler(io::IoHandler* handler, bool watchInput) {
  handler_ = handler;
  handlerFlag_ = watchInput;
  if (closed_ || !inner_) return;
  inner_->setHandler(handler ? this : nullptr, watchInput && !inputEnded_);
  // The client speaks first: the hello goes out at once.  A new handler of
  // an input that has ended hears of it once.
  if (handler && (handshaking_ || (inputEnded_ && watchInput))) inner_->markReadable();
}

void SslIo::shutdown(bool flush, bool tellHandler) {
  if (!tellHandler) handler_ = nullptr;
  if (!closed_ && inner_) {
    try {
      // Encrypts what is pending while the connection is still open.
      if (flush && !handshaking_) outPipe_.flush();
      closed_ = true;
      engine_->closeNotify(inner_->out());
      inner_->out().flush();
    } catch (const plat::Exception& e) {
      ioLog().debug("error flushing on close: %s", e.str());
    }
  }
  closed_ = true;
  if (inner_ && !shuttingDown_) {
    shuttingDown_ = true;
    inner_->setHandler(this, false);
    inner_->shutdown(true, true);
  }
}

plat::CharArray SslIo::displayName() { return inner_ ? inner_->displayName() : plat::CharArray(""); }
plat::CharArray SslIo::peerEndpoint() { return inner_ ? inner_->peerEndpoint() : plat::CharArray(""); }
plat::CharArray SslIo::resolvedPeerEndpoint() { return peerEndpoint(); }
plat::CharArray SslIo::peerAddress() { return inner_ ? inner_->peerAddress() : plat::CharArray(""); }
plat::CharArray SslIo::myEndpoint() { return inner_ ? inner_->myEndpoint() : plat::CharArray(""); }

void SslIo::setTimeout(int32_t ms) {
  if (inner_) inner_->setTimeout(ms);
}

void SslIo::innerReadable() {
  if (handshaking_) {
    handshakeStep();
  } else if (!closed_) {
    readStep();
  }
}

void SslIo::handshakeStep() {
  try {
    if (!engine_->handshake(inner_->in(), inner_->out())) return;
    verifier_->verify(engine_->peerCertificates(), peerEndpoint().c_str());
    handshaking_ = false;
    in_ = &inPipe_;
    out_ = &outPipe_;
  } catch (const plat::Exception& e) {
    ioLog().info("Handshaking error: %s", e.str());
    keepError(e);
    shutdown(false, true);
    return;
  }
  // Outside the handshake's failure path: the handler may hand this
  // connection on, after which it is no longer ours to shut down.
  if (handler_) handler_->writable(*this);
}

int SslIo::decrypt() {
  inRead_ = true;
  plat::ScopeExit clear([this] { inRead_ = false; });
  try {
    return engine_->read(inner_->in(), inPipe_);
  } catch (const SslException& e) {
    if (e.code() == SslException::kClosed) {
      // The peer's close notification: a plain end after the data.
      inPipe_.closeForWriting();
    } else {
      failInput(e);
    }
  } catch (const rdr::EndOfStream&) {
    // The connection ended without a close notification.
    failInput(SslException(SslException::kTruncated));
  } catch (const plat::Exception& e) {
    failInput(e);
  }
  inputEnded_ = true;
  // An inner connection at its end stays readable: stop watching it.
  if (handler_) inner_->setHandler(this, false);
  return 0;
}

void SslIo::failInput(const plat::Exception& e) {
  if (const auto* ssl = dynamic_cast<const SslException*>(&e); ssl && ssl->code() == SslException::kTruncated) {
    error_.reset(new SslException(*ssl));
  } else {
    keepError(e);
  }
  inPipe_.setError(error_);
  inPipe_.flush();
}

void SslIo::readStep() {
  PLAT_ASSERT_TEXT(!closed_, "!closed_");
  if (!inputEnded_) (void)decrypt();
  if (!handler_) return;
  try {
    handler_->readable(*this);
  } catch (const rdr::BlockException&) {
    // The handler waits for more data.
  } catch (const plat::Exception& e) {
    ioLog().info("Read error: %s", e.str());
    shutdown(false, true);
  }
}

void SslIo::innerWritable() {
  if (!handshaking_ && !closed_ && handler_) handler_->writable(*this);
}

void SslIo::innerShutdownDone() {
  // The inner connection deletes itself once this returns.
  (void)inner_.release();
  plat::ScopeExit done([this] { delete this; });
  if (!handler_) return;
  try {
    handler_->shutdownDone(*this);
  } catch (const plat::Exception& e) {
    ioLog().error("Shutdown error: %s", e.str());
  }
}

void SslIo::outputPending() {
  PLAT_ASSERT_TEXT(!closed_, "!closed_");
  rdr::InStream& plain = outPipe_;
  for (;;) {
    if (!plain.check(false, 1)) {
      inner_->out().flush();
      return;
    }
    const int32_t n = std::min(plain.nUnread(), kMaxRecord);
    engine_->write(plain.getPtr(), n, inner_->out());
    plain.skip(n);
    plain.setCheckpoint();
  }
}

int SslIo::inputWanted() {
  if (inRead_ || inputEnded_) return 0;
  PLAT_ASSERT_TEXT(!closed_, "!closed_");
  // The end or a failure is recorded in the pipe rather than thrown, so
  // that the reader first gets the plaintext this same read produced.
  return decrypt();
}

void SslIo::readable(io::Io&) { innerReadable(); }
void SslIo::writable(io::Io&) { innerWritable(); }
void SslIo::shutdownDone(io::Io&) { innerShutdownDone(); }

void SslIo::dataAvailable(rdr::MemIoStream* pipe) {
  if (pipe == &outPipe_) outputPending();
}

void SslIo::spaceAvailable(rdr::MemIoStream*) {}
void SslIo::notify(rdr::MemIoStream*) {}
void SslIo::closedForWriting(rdr::MemIoStream*) {}

int32_t SslIo::dataWanted(rdr::MemIoStream* pipe) {
  if (pipe != &inPipe_) return 0;
  return inputWanted();
}

int32_t SslIo::pendingBytes(rdr::MemIoStream*) { return 0; }

// ---- SslConnector ----

SslConnector::SslConnector(std::unique_ptr<io::IoConnector> inner, const SslVerifier* verifier,
                           SslTrustManager* trustManager, const char* host, ClientIdentity identity)
    : host_(host ? host : ""),
      verifier_(verifier),
      trustManager_(trustManager),
      identity_(std::move(identity)),
      inner_(std::move(inner)) {}

SslConnector::~SslConnector() { dropIo(); }

void SslConnector::dropIo() {
  SslIo* io = io_;
  io_ = nullptr;
  if (io) io->shutdown(true, false);
}

void SslConnector::run() { inner_->start(this); }

void SslConnector::cancel() {
  inner_.reset();
  dropIo();
}

void SslConnector::ioReady() {
  SslIo* io = io_;
  io_ = nullptr;
  io->setHandler(nullptr, true);
  IoConnectorBase::connected(io);
}

void SslConnector::ioFailed() {
  // The connection deletes itself after this report.
  SslIo* io = io_;
  io_ = nullptr;
  const plat::LinkedPtr<plat::Exception> error = io->getError();
  IoConnectorBase::failed(*error);
}

void SslConnector::innerConnected(io::Io* io) {
  inner_.reset();
  try {
    io_ = new SslIo(io, verifier_, trustManager_, host_.c_str(), std::move(identity_));
  } catch (const plat::Exception& e) {
    // The failed construction has already deleted the inner connection.
    IoConnectorBase::failed(e);
    return;
  }
  io_->setHandler(this, true);
}

void SslConnector::innerFailed(const plat::Exception& error) { IoConnectorBase::failed(error); }

void SslConnector::connected(io::IoConnector&, io::Io* io) { innerConnected(io); }
void SslConnector::failed(io::IoConnector&, const plat::Exception& error) { innerFailed(error); }
void SslConnector::readable(io::Io&) {}
void SslConnector::writable(io::Io&) { ioReady(); }
void SslConnector::shutdownDone(io::Io&) { ioFailed(); }

}  // namespace ssl
