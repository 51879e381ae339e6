#include "qocore/base/io/ProxyTcpConnector.h"

#include <utility>

#include "qocore/base/io/EndpointName.h"
#include "qocore/base/io/TcpConnector.h"
#include "qocore/base/loc/Format.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/rdr/Exceptions.h"

namespace io {

PLAT_LOG_SOURCE(proxyTcpLog, "ProxyTcpConnector");

ProxyPasswdPrompt::Callback::~Callback() = default;
ProxyPasswdPrompt::~ProxyPasswdPrompt() = default;
ProxyFetcherCallback::~ProxyFetcherCallback() = default;
ProxyFetcher::~ProxyFetcher() = default;

ProxyCredentials::ProxyCredentials(ProxyPasswdPrompt* p, const char* u, const char* pw)
    : prompt(p), user(u), password(pw) {}
ProxyCredentials::ProxyCredentials(const ProxyCredentials& other)
    : prompt(other.prompt), user(other.user.clone()), password(other.password.clone()) {}
ProxyCredentials& ProxyCredentials::operator=(const ProxyCredentials& other) {
  if (this != &other) {
    prompt = other.prompt;
    user = other.user.clone();
    password = other.password.clone();
  }
  return *this;
}

ProxyTcpConnector::ProxyTcpConnector(const char* host, int port, const char* proxy, Io* proxyIo,
                                     ProxyPasswdPrompt* prompt, const char* methodFormat, const char* methodKey)
    : host_(host),
      port_(port),
      proxy_(proxy),
      prompt_(prompt),
      io_(proxyIo),
      handshakeTimer_(this),
      methodFormat_(methodFormat),
      methodKey_(methodKey) {}

ProxyTcpConnector::~ProxyTcpConnector() { cancel(); }

void ProxyTcpConnector::setCredentials(const char* user, const char* password) {
  user_.assign(user);
  password_.assign(password);
}

plat::CharArray ProxyTcpConnector::methodName(bool localised) {
  if (!localised) {
    plat::DString text;
    text.appendf(methodFormat_, proxy_.c_str());
    return text.release();
  }
  loc::ArgList args;
  args.str(proxy_.c_str());
  return loc::formatNew(loc::translate(methodKey_, nullptr, 0, true), args.first());
}

void ProxyTcpConnector::checkTarget() {}

void ProxyTcpConnector::run() {
  try {
    checkTarget();
  } catch (const ProxyError& e) {
    proxyTcpLog().error("%s", e.str());
    cancel();
    failed(e);
    return;
  }
  if (io_) {
    beginHandshake();
    return;
  }
  connectToProxy();
}

void ProxyTcpConnector::connectToProxy() {
  in_ = nullptr;
  out_ = nullptr;
  finished_ = false;
  try {
    tcp_ = TcpConnector::fromEndpoint(proxy_.c_str(), -1);
    tcp_->start(this);
  } catch (const plat::Exception& e) {
    tcp_.reset();
    const ProxyError error(ProxyError::BadConnection, proxy_.c_str(), nullptr, ProxyError::copyCause(e));
    cancel();
    failed(error);
  }
}

void ProxyTcpConnector::connected(IoConnector&, Io* io) {
  tcp_.reset();
  io_.reset(io);
  beginHandshake();
}

void ProxyTcpConnector::failed(IoConnector&, const plat::Exception& error) {
  tcp_.reset();
  const ProxyError proxyFailure(ProxyError::BadConnection, proxy_.c_str(), nullptr, ProxyError::copyCause(error));
  cancel();
  failed(proxyFailure);
}

void ProxyTcpConnector::beginHandshake() {
  try {
    io_->setHandler(this, true);
    in_ = &io_->in();
    out_ = &io_->out();
    handshakeTimer_.start(kHandshakeMs);
    sendGreeting();
  } catch (const plat::Exception& e) {
    connectionError(e);
  }
}

void ProxyTcpConnector::readable(Io&) { drive(); }

void ProxyTcpConnector::drive() {
  try {
    while (io_ && !finished_ && runState()) {
    }
  } catch (const rdr::BlockException&) {
    // More input will come; the step runs again from its checkpoint.
  } catch (const ProxyError& e) {
    proxyTcpLog().error("%s", e.str());
    cancel();
    failed(e);
    return;
  } catch (const plat::Exception& e) {
    connectionError(e);
    return;
  }
  if (finished_) handshakeDone();
}

void ProxyTcpConnector::shutdownDone(Io&) {
  // The connection has closed and deleted itself.
  (void)io_.release();
  in_ = nullptr;
  out_ = nullptr;
  connectionError(plat::Exception("ioShutdown"));
}

void ProxyTcpConnector::connectionError(const plat::Exception& e) {
  char text[plat::Exception::kMsgSize];
  e.format(text);
  proxyTcpLog().error("%s", text);
  const ProxyError error(ProxyError::ConnectionError, proxy_.c_str(), e.str(), ProxyError::copyCause(e));
  cancel();
  failed(error);
}

void ProxyTcpConnector::reportFailure(const plat::Exception& error) {
  if (auto* proxyFailure = dynamic_cast<const ProxyError*>(&error)) {
    proxyTcpLog().error("%s", proxyFailure->str());
    cancel();
    failed(*proxyFailure);
    return;
  }
  connectionError(error);
}

bool ProxyTcpConnector::timerExpired(plat::Timer* timer) {
  if (timer != &handshakeTimer_) return IoConnectorBase::timerExpired(timer);
  proxyTcpLog().error("Proxy handshake timed out for %s", proxy_.c_str());
  const ProxyError error =
      proxyError(ProxyError::ConnectFailed, "Proxy handshake timed out while connecting to upstream server");
  cancel();
  failed(error);
  return false;
}

void ProxyTcpConnector::handshakeDone() {
  handshakeTimer_.cancel();
  Io* io = io_.release();
  in_ = nullptr;
  out_ = nullptr;
  // The connection stops reporting to this connector before anyone else
  // sees it.
  io->setHandler(nullptr, false);
  const plat::CharArray endpoint = formatEndpoint(host_.c_str(), port_, -1, 0);
  Io* named = new NamedIo(io, nullptr, endpoint.c_str(), host_.c_str(), endpoint.c_str());
  connected(named);
}

void ProxyTcpConnector::dropConnection() {
  in_ = nullptr;
  out_ = nullptr;
  if (!io_) return;
  Io* io = io_.release();
  io->setHandler(nullptr, false);
  io->shutdown(false, false);
}

void ProxyTcpConnector::restart() {
  handshakeTimer_.cancel();
  dropConnection();
  // From the loop: a step that restarts is still running, and a connector
  // that fails at once would report from inside it.
  timer_.start(0);
}

void ProxyTcpConnector::askPrompt() {
  handshakeTimer_.cancel();
  prompt_->ask(ProxyPasswdPrompt::kAskUser | ProxyPasswdPrompt::kAskPassword, proxy_.c_str(), this);
}

void ProxyTcpConnector::resumeAfterPrompt() {
  prompt_ = nullptr;
  handshakeTimer_.start(kHandshakeMs);
  if (io_) io_->markReadable();
}

void ProxyTcpConnector::cancel() {
  timer_.cancel();
  handshakeTimer_.cancel();
  if (prompt_) prompt_->forget(this);
  prompt_ = nullptr;
  tcp_.reset();
  dropConnection();
}

}  // namespace io
