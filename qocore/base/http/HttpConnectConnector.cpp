#include "qocore/base/http/HttpConnectConnector.h"

#include <strings.h>

#include <cstring>
#include <utility>

#include "qocore/base/http/HttpDate.h"
#include "qocore/base/http/HttpError.h"
#include "qocore/base/http/UserAgent.h"
#include "qocore/base/io/EndpointName.h"
#include "qocore/base/io/ProxyFetcherConnector.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/NumberParse.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace http {

namespace {

// Whether a token list (a "Connection" value; null is none) holds
// "keep-alive" in any letter case.  Throws as nextToken does.
bool hasKeepAliveToken(const char* value) {
  if (!value) return false;
  const char* cursor = value;
  while (const plat::CharArray token = nextToken(cursor)) {
    if (strcasecmp(token.c_str(), "keep-alive") == 0) return true;
  }
  return false;
}

// A read or write that shows the connection gone: its end, or a failure
// of the socket (a reset, a broken pipe).
bool connectionGone(const plat::Exception& e) {
  return dynamic_cast<const rdr::EndOfStream*>(&e) || dynamic_cast<const plat::SystemException*>(&e);
}

std::unique_ptr<io::ProxyTcpConnector> makeHttpConnect(const char* host, int port, const char* proxy,
                                                       io::ProxyPasswdPrompt* prompt) {
  return std::make_unique<HttpConnectConnector>(host, port, proxy, nullptr, prompt);
}

// io's proxy-choosing connector makes the tunnels to "http" proxies
// through this hook.
[[maybe_unused]] const bool httpConnectHookFilled = (io::proxy_hooks::setHttpConnect(&makeHttpConnect), true);

}  // namespace

HttpConnectConnector::HttpConnectConnector(const char* host, int port, const char* proxy, io::Io* proxyIo,
                                           io::ProxyPasswdPrompt* prompt)
    : io::ProxyTcpConnector(host, port, proxy, proxyIo, prompt, "Direct TCP via HTTP CONNECT proxy %s",
                            "http_httpconnect_connection_type") {}

HttpConnectConnector::~HttpConnectConnector() {
  // The base forgets the prompt; the parser and reader go before the
  // connection they read.
  parser_.reset();
  reader_.reset();
}

void HttpConnectConnector::checkTarget() {
  for (const char* p = host_.c_str(); *p; p++) {
    const auto c = static_cast<unsigned char>(*p);
    if (c <= ' ' || c == 0x7f)
      throw proxyError(io::ProxyError::BadProtocol, "Target host name holds blanks or control characters");
  }
}

void HttpConnectConnector::sendGreeting() {
  const plat::CharArray target = io::formatEndpoint(host_.c_str(), port_, -1, 0);
  plat::DString request(1024);
  // The request holds the credentials too, whether or not it goes out.
  plat::ScopeExit wipe([&] { plat::secureZero(request.buf(), static_cast<size_t>(request.length())); });
  request.appendf("CONNECT %s HTTP/1.1\r\nHost: %s\r\nDate: ", target.c_str(), target.c_str());
  appendHttpDate(request, plat::getTime(), HttpDateForm::kRfc1123);
  request.appendf("\r\nProxy-Connection: keep-alive\r\nUser-Agent: %s\r\nContent-Length: 0\r\n", userAgent().c_str());
  if (credentialsLine_) request.append(credentialsLine_.c_str());
  request.append("\r\n");
  out_->writeBytes(request.c_str(), request.length());
  out_->flush();
  if (mayResend_) {
    step_ = &HttpConnectConnector::awaitFirstByte;
    return;
  }
  credentialsLine_.reset();
  step_ = &HttpConnectConnector::makeParser;
}

bool HttpConnectConnector::runState() {
  try {
    PLAT_ASSERT_TEXT(step_, "step_");
    const Step step = step_;
    if (!(this->*step)()) return false;
    if (in_) in_->setCheckpoint();
    return true;
  } catch (const rdr::BlockException&) {
    return false;
  } catch (const HttpParseException& e) {
    throw proxyError(io::ProxyError::BadProtocol, e.str());
  } catch (const HttpError& e) {
    const int32_t status = e.status();
    if ((status == 403 || status == 407) && credentialsSent_) throw proxyError(io::ProxyError::AuthenticationFailed);
    if (status == 403) throw proxyError(io::ProxyError::ConnectDenied, e.str());
    if (status == 404 || status == 502 || status == 503 || status == 504)
      throw proxyError(io::ProxyError::ConnectFailed, e.str());
    if (status == 407) throw proxyError(io::ProxyError::AuthenticationUnsupported, e.str());
    throw proxyError(io::ProxyError::BadProtocol, e.str());
  }
}

bool HttpConnectConnector::makeParser() {
  parser_ = std::make_unique<HttpResponseHeaderParser>(*in_);
  step_ = &HttpConnectConnector::readAnswer;
  return true;
}

bool HttpConnectConnector::readAnswer() {
  parser_->parse();
  const int32_t status = parser_->status();
  if (status >= 100 && status < 200 && status != 101) {
    // An interim answer: the real one follows.
    step_ = &HttpConnectConnector::makeParser;
    return true;
  }
  if (status == 407) {
    step_ = &HttpConnectConnector::handleProxyAuth;
    return true;
  }
  if (status < 200 || status > 299) throw HttpError(status);
  step_ = nullptr;
  finish();
  return false;
}

bool HttpConnectConnector::handleProxyAuth() {
  if (credentialsSent_) throw proxyError(io::ProxyError::AuthenticationFailed);
  if (!prompt_ && (!user_ || !password_)) throw proxyError(io::ProxyError::AuthenticationRequired);
  const char* offered = parser_->header("Proxy-Authenticate");
  if (!offered) throw proxyError(io::ProxyError::BadProtocol);
  plat::CharArray lower(offered);
  plat::toLowerAscii(lower.get());
  if (!std::strstr(lower.c_str(), "basic")) {
    io::ProxyError error = proxyError(io::ProxyError::AuthenticationUnsupported);
    error.formatMessage(" [Proxy-Authenticate:%s]", offered);
    throw error;
  }
  step_ = &HttpConnectConnector::skipBody;
  bodyLeft_ = -1;
  // An HTTP/1.0 connection does not persist unless the answer says so.
  const char* connection = parser_->header("Connection");
  const bool http10 = std::strcmp(parser_->version(), "HTTP/1.0") == 0;
  if (hasCloseToken(connection) || (http10 && !hasKeepAliveToken(connection))) {
    // The proxy closes this connection: the next CONNECT goes on a new one.
    parser_.reset();
    reader_.reset();
    dropConnection();
    step_ = nullptr;
  }
  // Input waits until the credentials are there.
  if (io_) io_->setHandler(this, false);
  if (user_ && password_) {
    // Stored credentials are used once.
    const plat::SecretText user = std::move(user_);
    const plat::SecretText password = std::move(password_);
    passwordEntered(user.c_str(), password.c_str());
  } else {
    askPrompt();
  }
  return false;
}

bool HttpConnectConnector::skipBody() {
  if (bodyLeft_ < 0) {
    bodyLeft_ = 0;
    if (const char* value = parser_->header("Content-Length")) {
      plat::CharArray trimmed(value);
      plat::trimLeft(trimmed.get());
      plat::trimRight(trimmed.get());
      const char* cursor = trimmed.c_str();
      uint32_t length = 0;
      const bool digitsOnly = *cursor >= '0' && *cursor <= '9';
      if (!digitsOnly || !plat::parseUInt(length, cursor) || *cursor != '\0' || length > kMaxBody)
        throw plat::ExceptionFmt("Bad Content-Length header (%s)", value);
      bodyLeft_ = length;
    }
    if (bodyLeft_ > 0) reader_.init(*in_, static_cast<int32_t>(bodyLeft_));
  }
  if (bodyLeft_ > 0) {
    (void)reader_.skip(true);
    reader_.reset();
    bodyLeft_ = 0;
  }
  // After a 407: ask again, now with the credentials, on the connection
  // that carried it.  The proxy may have dropped that connection while it
  // stood idle (the user typing): then the request goes once more on a new
  // one.
  mayResend_ = true;
  try {
    sendGreeting();
  } catch (const plat::Exception& e) {
    if (!connectionGone(e)) throw;
    resendOnNewConnection(e);
    return false;
  }
  return true;
}

bool HttpConnectConnector::awaitFirstByte() {
  try {
    (void)in_->check(true, 1);
  } catch (const rdr::BlockException&) {
    throw;
  } catch (const plat::Exception& e) {
    if (!connectionGone(e)) throw;
    resendOnNewConnection(e);
    return false;
  }
  // The proxy answers on this connection.
  mayResend_ = false;
  credentialsLine_.reset();
  step_ = &HttpConnectConnector::makeParser;
  return true;
}

void HttpConnectConnector::resendOnNewConnection(const plat::Exception& cause) {
  io::proxyTcpLog().info("Proxy %s dropped the connection before answering (%s): sending the credentials again",
                         proxy_.c_str(), cause.str());
  mayResend_ = false;
  parser_.reset();
  reader_.reset();
  step_ = nullptr;
  // The new connection's CONNECT carries the kept credentials line.
  restart();
}

void HttpConnectConnector::passwordEntered(const char* user, const char* password) {
  plat::DString pair;
  pair.append(user ? user : "").append(":").append(password ? password : "");
  const plat::SecretText encoded = plat::SecretText::adopt(plat::base64Encode(pair.c_str(), pair.length(), false));
  plat::secureZero(pair.buf(), static_cast<size_t>(pair.length()));
  plat::DString line;
  line.appendf("Proxy-Authorization: Basic %s\r\n", encoded.c_str());
  credentialsLine_ = plat::SecretText::adopt(line.release());
  credentialsSent_ = true;
  // Stored credentials are used once.
  user_.reset();
  password_.reset();
  if (io_) {
    io_->setHandler(this, true);
    resumeAfterPrompt();
  } else {
    resumeAfterPrompt();
    restart();
  }
  handshakeTimer_.start(kHandshakeMs);
}

}  // namespace http
