#pragma once
// http::HttpConnectConnector: a TCP tunnel to a target through an HTTP
// proxy's CONNECT method, with Basic proxy authentication.
//
// Connecting to the proxy, the handshake time-out, the hand-over of the
// tunnel and the proxy failure type are io::ProxyTcpConnector's; this class
// sends the CONNECT request and reads the proxy's answers.  An interim 1xx
// answer (other than 101) is read and dropped.  After a 2xx answer the
// tunnel is up at once: bytes that follow the head belong to it, whatever
// the answer says about a body.

#include <cstdint>
#include <memory>

#include "qocore/base/http/HttpHeaderParser.h"
#include "qocore/base/io/ProxyTcpConnector.h"
#include "qocore/base/plat/SecretText.h"
#include "qocore/base/rdr/ByteReader.h"

namespace http {

class HttpConnectConnector : public io::ProxyTcpConnector {
 public:
  // The largest 407 body the connector skips.
  static constexpr uint32_t kMaxBody = 1000000;

  // proxy: the proxy endpoint (host:port); proxyIo: a connection to it
  // already made (owned), or null; prompt: asked for credentials when the
  // proxy wants some that are not set (may be null).
  HttpConnectConnector(const char* host, int port, const char* proxy, io::Io* proxyIo, io::ProxyPasswdPrompt* prompt);
  ~HttpConnectConnector() override;

  // The credentials for the next CONNECT (the prompt's answer, or the
  // stored ones): the request is sent again, on a new connection when the
  // proxy closed the old one (its 407 said "Connection: close", or was an
  // HTTP/1.0 answer without "keep-alive").  When the old connection turns
  // out to be gone before any byte of the answer (the proxy dropped it
  // while it stood idle), the request goes once more on a new one.
  void passwordEntered(const char* user, const char* password) override;

 protected:
  // A target host that would break the request line is refused.
  void checkTarget() override;
  void sendGreeting() override;
  bool runState() override;

 private:
  using Step = bool (HttpConnectConnector::*)();

  bool makeParser();
  bool readAnswer();
  bool handleProxyAuth();
  bool skipBody();
  // After the credentials went on the connection that carried the 407:
  // waits for the answer's first byte.
  bool awaitFirstByte();
  // That connection was gone: the request goes again on a new one.
  void resendOnNewConnection(const plat::Exception& cause);

  rdr::ByteReader reader_;
  plat::SecretText credentialsLine_;
  std::unique_ptr<HttpResponseHeaderParser> parser_;
  Step step_ = nullptr;
  bool credentialsSent_ = false;
  // The credentials went on the connection that carried the 407 and no
  // answer byte has come yet: the credentials line is kept for one resend.
  bool mayResend_ = false;
  // The 407 body still to skip; -1 until its length is known.
  int64_t bodyLeft_ = -1;
};

}  // namespace http
