// The CONNECT tunnel against a real HTTP proxy from the system's packages
// (tinyproxy, installed by scripts/deps.sh), run in the foreground with its
// own configuration on a free loopback port for each test.

#include <gtest/gtest.h>

#include <string>

#include "qocore/base/http/HttpConnectConnector.h"
#include "qocore/base/io/tests/ProxyTestSupport.h"
#include "testing/DaemonProcess.h"
#include "testing/FileFixtures.h"
#include "testing/ScriptedServer.h"

namespace {

using yarl_test::ScriptedServer;

constexpr const char* kTinyproxy = "/usr/bin/tinyproxy";

class HttpConnectRealProxyTest : public proxy_test::ProxyTest {
 protected:
  // CONNECT is allowed to the listed ports only; with auth the proxy asks
  // for Basic credentials user/pass.
  std::unique_ptr<yarl_test::DaemonProcess> startProxy(const std::vector<int>& connectPorts, bool withAuth) {
    port_ = yarl_test::freeLoopbackPort();
    std::string config = "Port " + std::to_string(port_) +
                         "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\nLogLevel Critical\nLogFile \"" +
                         (dir_ / "proxy.log") + "\"\n";
    for (int p : connectPorts) config += "ConnectPort " + std::to_string(p) + "\n";
    if (withAuth) config += "BasicAuth user pass\n";
    const std::string file = dir_.write("proxy.conf", config);
    auto proxy =
        std::make_unique<yarl_test::DaemonProcess>(std::vector<std::string>{kTinyproxy, "-d", "-c", file}, port_);
    if (!proxy->running()) ADD_FAILURE() << kTinyproxy << " did not start (scripts/deps.sh installs it)";
    return proxy;
  }
  std::string proxy() const { return "127.0.0.1:" + std::to_string(port_); }
  void connect(int targetPort, const char* user = nullptr, const char* password = nullptr) {
    auto connector =
        std::make_unique<http::HttpConnectConnector>("127.0.0.1", targetPort, proxy().c_str(), nullptr, nullptr);
    if (user) connector->setCredentials(user, password);
    connector_ = std::move(connector);
    connector_->start(&receiver_);
    ASSERT_TRUE(runToOutcome());
  }
  static ScriptedServer::Script greeter() {
    return [](ScriptedServer::Conn& c) {
      c.send("hello");
      c.peerClosed();
    };
  }

  yarl_test::TempDir dir_;
  int port_ = 0;
};

TEST_F(HttpConnectRealProxyTest, TunnelAndRefusals) {
  ScriptedServer target({greeter()});
  const int refusingPort = yarl_test::freeLoopbackPort();
  const int otherPort = yarl_test::freeLoopbackPort();
  auto server = startProxy({target.port(), refusingPort}, false);

  connect(target.port());
  ASSERT_EQ("connected", receiver_.outcome);
  EXPECT_EQ("hello", tunnelBytes(5));
  receiver_.io.reset();
  connector_.reset();

  receiver_ = {};
  connect(refusingPort);
  EXPECT_EQ("BadProtocol", receiver_.reason);
  EXPECT_EQ("Proxy error via " + proxy() + ": HTTP status 500 (Internal Server Error) (BadProtocol)",
            receiver_.outcome);
  connector_.reset();

  receiver_ = {};
  connect(otherPort == refusingPort ? refusingPort + 1 : otherPort);
  EXPECT_EQ("ConnectDenied", receiver_.reason);
  EXPECT_EQ("Proxy error via " + proxy() + ": HTTP status 403 (Forbidden) (ConnectDenied)", receiver_.outcome);
  connector_.reset();

  server->stop();
  receiver_ = {};
  connect(target.port());
  EXPECT_EQ("BadConnection", receiver_.reason);
}

TEST_F(HttpConnectRealProxyTest, BasicAuthentication) {
  ScriptedServer target({greeter()});
  auto server = startProxy({target.port()}, true);
  // The proxy's 407 closes the connection: the credentials go on a new one.
  connect(target.port(), "user", "pass");
  ASSERT_EQ("connected", receiver_.outcome);
  EXPECT_EQ("hello", tunnelBytes(5));
  receiver_.io.reset();
  connector_.reset();

  receiver_ = {};
  // This proxy answers wrong credentials with 401, not a second 407: a
  // status the CONNECT answer table leaves to BadProtocol.
  connect(target.port(), "user", "wrong");
  EXPECT_EQ("Proxy error via " + proxy() + ": HTTP status 401 (Unauthorized) (BadProtocol)", receiver_.outcome);
  connector_.reset();

  receiver_ = {};
  connect(target.port());
  EXPECT_EQ("AuthenticationRequired", receiver_.reason);
}

}  // namespace
