#include "qocore/base/http/HttpConnectConnector.h"

#include <cstring>

#include "qocore/base/http/HttpDate.h"
#include "qocore/base/http/HttpError.h"
#include "qocore/base/http/UserAgent.h"
#include "qocore/base/io/EndpointName.h"
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

HttpConnectConnector::HttpConnectConnector(const char* host, int port, const char* proxy, io::Io* proxyIo,
                                           io::ProxyPasswdPrompt* prompt)
    : io::ProxyTcpConnector(host, port, proxy, proxyIo, prompt, "Direct TCP via HTTP CONNECT proxy %s",
                            "http_httpconnect_connection_type") {}

HttpConnectConnector::~HttpConnectConnector() {
  // The base forgets the prompt; the parser and reader go before the
  // connection they read.
  parser_.reset();
  reader_.reset();
  plat::secureFreeStr(credentialsLine_);
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
  request.appendf("CONNECT %s HTTP/1.1\r\nHost: %s\r\nDate: ", target.c_str(), target.c_str());
  appendHttpDate(request, plat::getTime(), HttpDateForm::kRfc1123);
  request.appendf("\r\nProxy-Connection: keep-alive\r\nUser-Agent: %s\r\nContent-Length: 0\r\n", userAgent().c_str());
  if (credentialsLine_) request.append(credentialsLine_.c_str());
  request.append("\r\n");
  out_->writeBytes(request.c_str(), request.length());
  out_->flush();
  // The request held the credentials too.
  plat::secureZero(request.buf(), static_cast<size_t>(request.length()));
  plat::secureFreeStr(credentialsLine_);
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
  if (hasCloseToken(parser_->header("Connection"))) {
    // The proxy closes this connection: the next CONNECT goes on a new one.
    parser_.reset();
    reader_.reset();
    dropConnection();
    step_ = nullptr;
  }
  // Input waits until the credentials are there.
  if (io_) io_->setHandler(this, false);
  if (user_ && password_) {
    const plat::CharArray user(user_), password(password_);
    plat::ScopeExit wipe([&] {
      plat::secureZero(user.get(), std::strlen(user.c_str()));
      plat::secureZero(password.get(), std::strlen(password.c_str()));
    });
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
  // After a 407: ask again, now with the credentials.
  sendGreeting();
  return true;
}

void HttpConnectConnector::passwordEntered(const char* user, const char* password) {
  plat::DString pair;
  pair.append(user ? user : "").append(":").append(password ? password : "");
  plat::CharArray encoded = plat::base64Encode(pair.c_str(), pair.length(), false);
  plat::secureZero(pair.buf(), static_cast<size_t>(pair.length()));
  plat::DString line;
  line.appendf("Proxy-Authorization: Basic %s\r\n", encoded.c_str());
  plat::secureFreeStr(encoded);
  plat::secureFreeStr(credentialsLine_, line.release());
  credentialsSent_ = true;
  // Stored credentials are used once.
  plat::secureFreeStr(user_);
  plat::secureFreeStr(password_);
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
