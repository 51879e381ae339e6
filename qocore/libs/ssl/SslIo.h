#pragma once
// The client side of TLS: an engine that runs the protocol over a pair of
// byte streams (ssl::SslEngine), the encrypted connection that wraps a
// plain one (ssl::SslIo) and the connector that connects an inner
// connector and then runs the handshake (ssl::SslConnector).
//
// Everything runs on the event-loop thread of the inner connection.  Log
// sources "SslIo" and "SslEngine".

#include <cstdint>
#include <memory>
#include <span>

#include "qocore/base/io/Io.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/LinkedPtr.h"
#include "qocore/base/rdr/MemIoStream.h"
#include "qocore/libs/ssl/SslCertificate.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsTrustManager.h"

namespace ssl {

class SslVerifier;

// "TlsProfile": "Normal" (0) or "High" (1), the cipher suites offered.
extern plat::EnumParameter tlsProfile;
// "_TlsLogging": the TLS library's debug threshold (0: no debug lines),
// used up to 2 only: higher levels print key material and plaintext.
extern plat::IntParameter tlsLogging;

enum TlsProfileValue : int { kTlsNormal = 0, kTlsHigh = 1 };

// The suite identifiers of a profile, in order of preference: "High" for
// kTlsHigh, "Normal" for every other value.
std::span<const int> profileSuites(int profile) noexcept;

// A certificate and key the client presents; used only when both are set.
struct ClientIdentity {
  plat::LinkedPtr<SslCertificate> certificate;
  plat::LinkedPtr<SslPrivateKey> key;
};

// The TLS protocol over the streams of a plain connection.
class SslEngine {
 public:
  virtual ~SslEngine();
  // One step for each readable event of the inner connection: true once
  // the handshake is finished.  Throws SslException or
  // crypto::MbedTlsException.
  virtual bool handshake(rdr::InStream& in, rdr::OutStream& out) = 0;
  // Encrypts all of data into out; SslException kClosed once closed.
  virtual void write(const uint8_t* data, int32_t len, rdr::OutStream& out) = 0;
  // Decrypts what `in` holds into the pipe's writer side until the pipe is
  // full (answer 0) or no whole record is left (answer kWantRead).  The
  // peer's close notification throws SslException kClosed, a connection
  // ended without one rdr::EndOfStream "SSL connection truncated".
  virtual int read(rdr::InStream& in, rdr::MemIoStream& pipe) = 0;
  // Sends the close notification and flushes out.
  virtual void closeNotify(rdr::OutStream& out) = 0;
  // The peer's chain, leaf first, as the handshake captured it.
  virtual const CertChain& peerCertificates() = 0;

  // "More ciphertext is needed" (the TLS library's want-read code).
  static constexpr int kWantRead = -0x6900;
};

// An encrypted connection over an inner one, which it owns.  Like every
// connection it deletes itself once its shutdown is complete.
class SslIo : public io::Io, public io::IoHandler, public rdr::MemIoStream::Callback {
 public:
  // A null verifier fails an assertion.  The engine takes the suites of
  // the TlsProfile in force now.
  SslIo(io::Io* inner, const SslVerifier* verifier, SslTrustManager* trustManager, const char* host,
        ClientIdentity identity);
  ~SslIo() override;

  // The stored error; when none is stored, a new "SSL handshake failed".
  plat::LinkedPtr<plat::Exception> getError();

  void setHandler(io::IoHandler* handler, bool watchInput) override;
  void shutdown(bool flush, bool tellHandler) override;
  plat::CharArray displayName() override;
  plat::CharArray peerEndpoint() override;
  plat::CharArray resolvedPeerEndpoint() override;
  plat::CharArray peerAddress() override;
  plat::CharArray myEndpoint() override;
  void setTimeout(int32_t ms) override;

  virtual void innerReadable();
  virtual void innerWritable();
  virtual void innerShutdownDone();
  // The user flushed plaintext into the output pipe.
  virtual void outputPending();
  // The user's read of the input pipe found nothing: decrypt what the
  // inner input holds.  Answers the engine's read result; the end or a
  // failure is recorded in the pipe, which its reader gets after the data.
  virtual int inputWanted();

  // io::IoHandler of the inner connection.
  void readable(io::Io& io) override;
  void writable(io::Io& io) override;
  void shutdownDone(io::Io& io) override;

  // rdr::MemIoStream::Callback of the two pipes.
  void dataAvailable(rdr::MemIoStream* pipe) override;
  void spaceAvailable(rdr::MemIoStream* pipe) override;
  void notify(rdr::MemIoStream* pipe) override;
  void closedForWriting(rdr::MemIoStream* pipe) override;
  int32_t dataWanted(rdr::MemIoStream* pipe) override;
  int32_t pendingBytes(rdr::MemIoStream* pipe) override;

  bool handshaking() const noexcept { return handshaking_; }

 private:
  // The plaintext output pipe: its room follows the inner output stream's,
  // less headroom for the records' overhead.
  class SslOutStream : public rdr::MemIoStream {
   public:
    SslOutStream(Callback* callback, rdr::OutStream& innerOut);
    // 8 * floor((L - 2048) / 10) for the inner limit L; 0 when L <= 2048.
    int32_t spaceLimit() override;
    rdr::OutStream* lowerStream() override;
    // The connection's shutdown ends the stream; answers false.
    bool closeForWriting() override;

   private:
    rdr::OutStream& innerOut_;
  };

  // Stores a plain exception with e's message and type as the error.
  void keepError(const plat::Exception& e);
  void handshakeStep();
  void readStep();
  // Runs engine.read with the in-read flag set.  The peer's close
  // notification closes the input pipe; truncation (SslException
  // kTruncated) and other failures become the stored error, which the
  // pipe hands its reader after the data.  Either ends the engine's input.
  int decrypt();
  void failInput(const plat::Exception& e);

  std::unique_ptr<io::Io> inner_;
  rdr::MemIoStream inPipe_;
  SslOutStream outPipe_;
  std::unique_ptr<SslEngine> engine_;
  plat::LinkedPtr<plat::Exception> error_;
  const SslVerifier* verifier_;
  bool handshaking_ = true;
  bool closed_ = false;
  bool inRead_ = false;
  // The inner connection was asked to shut down.
  bool shuttingDown_ = false;
  // The engine's input has ended (close notification, truncation or
  // failure), which the input pipe now holds: the engine is not asked
  // again and the inner input is no longer watched.
  bool inputEnded_ = false;
  io::IoHandler* handler_ = nullptr;
  bool handlerFlag_ = false;
};

// Connects through an inner connector, then runs the TLS handshake; the
// connection it reports has passed the handshake and the verifier.
class SslConnector : public io::IoConnectorBase, public io::IoConnected, public io::IoHandler {
 public:
  // The verifier and the trust manager are not owned and must outlive the
  // connector and its connection.
  SslConnector(std::unique_ptr<io::IoConnector> inner, const SslVerifier* verifier, SslTrustManager* trustManager,
               const char* host, ClientIdentity identity = {});
  ~SslConnector() override;

  void run() override;
  void cancel() override;

  virtual void ioReady();
  virtual void ioFailed();
  virtual void innerConnected(io::Io* io);
  virtual void innerFailed(const plat::Exception& error);

  // io::IoConnected of the inner connector.
  void connected(io::IoConnector& connector, io::Io* io) override;
  void failed(io::IoConnector& connector, const plat::Exception& error) override;
  // io::IoHandler of the connection under construction.
  void readable(io::Io& io) override;
  void writable(io::Io& io) override;
  void shutdownDone(io::Io& io) override;

 private:
  // Drops the connection under construction as an owned connection is
  // dropped.
  void dropIo();

  SslIo* io_ = nullptr;
  plat::CharArray host_;
  const SslVerifier* verifier_;
  SslTrustManager* trustManager_;
  ClientIdentity identity_;
  std::unique_ptr<io::IoConnector> inner_;
};

}  // namespace ssl
