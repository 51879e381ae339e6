#pragma once
// io::Socks5Connector: a TCP connection through a SOCKS5 proxy (the CONNECT
// command), with the username/password method when credentials exist.
//
// A proxy that refuses a greeting without credentials (method FF), or
// refuses the connect with "not allowed" (02) to a greeting that offered
// none, is tried once more on a new connection whose greeting offers
// username/password: some proxies only ask for credentials that way.

#include "qocore/base/io/ProxyTcpConnector.h"

namespace io {

class Socks5Connector : public ProxyTcpConnector {
 public:
  static constexpr int kDefaultPort = 1080;

  // proxy: the proxy endpoint (host:port); proxyIo: a connection to it
  // already made (owned), or null; prompt: asked when the proxy wants
  // credentials that are not set (may be null).
  Socks5Connector(const char* host, int port, const char* proxy, Io* proxyIo, ProxyPasswdPrompt* prompt);

  void passwordEntered(const char* user, const char* password) override;

 protected:
  // A host name longer than a SOCKS5 request can carry is refused.
  void checkTarget() override;
  void sendGreeting() override;
  bool runState() override;

 private:
  using StateFn = bool (Socks5Connector::*)();

  bool readMethodChoice();
  bool waitForPrompt();
  bool readUserPassReply();
  bool readConnectReply();
  void sendUserPass();
  void sendConnectRequest();

  StateFn stateFn_ = nullptr;
  bool authOffered_ = false;
  bool retried_ = false;
};

}  // namespace io
