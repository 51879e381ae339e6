#pragma once
// io::ProxyTcpConnector: the common part of the connectors that reach a
// target through a proxy (SOCKS5 here, HTTP CONNECT in the http library).
//
// It connects to the proxy (or takes a connection already made), runs the
// subclass's handshake under a 10 s timer that stops while the user is
// asked for credentials, and hands the connection over wrapped in an
// io::NamedIo that shows the target's names instead of the proxy's.  Every
// failure reaches the receiver as an io::ProxyError naming the proxy
// endpoint (host:port), never a proxy URI's user information.
//
// Like every connector it reports exactly once, from the loop, and touches
// nothing of itself after calling its receiver.  Log source
// "ProxyTcpConnector".

#include <cstdint>
#include <memory>

#include "qocore/base/io/Io.h"
#include "qocore/base/io/ProxyError.h"
#include "qocore/base/io/ProxyFetcher.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/SecretText.h"
#include "qocore/base/plat/Timer.h"

namespace io {

class TcpConnector;

plat::LogSrc& proxyTcpLog() noexcept;

class ProxyTcpConnector : public IoConnectorBase,
                          public IoConnected,
                          public IoHandler,
                          public ProxyPasswdPrompt::Callback {
 public:
  static constexpr int kHandshakeMs = 10000;

  // Drops the prompt's callback, the connection and the connector to the
  // proxy; the stored user name and password are wiped with the connector.
  ~ProxyTcpConnector() override;

  // Credentials to offer without asking; copied.
  void setCredentials(const char* user, const char* password);

  plat::CharArray methodName() override { return methodName(false); }
  // The plain text or its translation, filled with the proxy endpoint.
  plat::CharArray methodName(bool localised);

  void run() override;
  void cancel() override;
  bool timerExpired(plat::Timer* timer) override;

  // The connector to the proxy.
  void connected(IoConnector& connector, Io* io) override;
  void failed(IoConnector& connector, const plat::Exception& error) override;

 protected:
  // The reports to this connector's own receiver.
  using IoConnectorBase::connected;
  using IoConnectorBase::failed;

 public:
  // The connection to the proxy during the handshake.
  void readable(Io& io) override;
  void shutdownDone(Io& io) override;

  const char* proxy() const noexcept { return proxy_.c_str(); }

 protected:
  // proxyIo: a connection to the proxy already made (owned), or null.
  // methodFormat is the plain method name with one "%s" for the proxy;
  // methodKey the key of its translation with one "%S".
  ProxyTcpConnector(const char* host, int port, const char* proxy, Io* proxyIo, ProxyPasswdPrompt* prompt,
                    const char* methodFormat, const char* methodKey);

  // Refuses a target the protocol cannot carry (io::ProxyError), before
  // anything is connected or sent.  Nothing by default.
  virtual void checkTarget();
  // The first handshake message, once connected.
  virtual void sendGreeting() = 0;
  // One handshake step on new input: true asks to be called again, false
  // waits for more input (so does rdr::BlockException).  A step that
  // completes the handshake calls finish(); one that restarts it calls
  // restart() and answers false.
  virtual bool runState() = 0;

  // The handshake is complete: the connection is handed over once the
  // current step has returned.
  void finish() noexcept { finished_ = true; }
  // Drops the connection and begins again, from the loop, with a new
  // connection to the proxy.
  void restart();
  // Asks the prompt and stops the handshake timer until the answer.
  void askPrompt();
  // Resumes after the prompt's answer: the prompt is forgotten (it is not
  // asked twice), the timer runs again and pending input is served.
  void resumeAfterPrompt();
  // The error's reporting from outside a step (a prompt's answer).
  void reportFailure(const plat::Exception& error);
  // Drops the connection to the proxy (it closes itself).
  void dropConnection();

  ProxyError proxyError(ProxyError::Reason reason, const char* detail = nullptr) const {
    return ProxyError(reason, proxy_.c_str(), detail);
  }

  plat::CharArray host_;
  int port_;
  plat::CharArray proxy_;
  plat::SecretText user_;
  plat::SecretText password_;
  ProxyPasswdPrompt* prompt_;
  std::unique_ptr<Io> io_;
  rdr::InStream* in_ = nullptr;
  rdr::OutStream* out_ = nullptr;
  plat::Timer handshakeTimer_;

 private:
  void connectToProxy();
  void beginHandshake();
  // Runs steps until they wait; reports the outcome last.
  void drive();
  void handshakeDone();
  // Step 2's failure: logged, reported as ConnectionError with the
  // exception as its cause.
  void connectionError(const plat::Exception& e);

  std::unique_ptr<TcpConnector> tcp_;
  const char* methodFormat_;
  const char* methodKey_;
  bool finished_ = false;
};

}  // namespace io
