// The SOCKS5 connector against a real SOCKS5 server from the system's
// packages (microsocks, installed by scripts/deps.sh), run on a free
// loopback port for each test.

#include <gtest/gtest.h>

#include <string>

#include "qocore/base/io/Socks5Connector.h"
#include "qocore/base/io/tests/ProxyTestSupport.h"
#include "testing/DaemonProcess.h"
#include "testing/ScriptedServer.h"

namespace {

using yarl_test::ScriptedServer;

constexpr const char* kMicrosocks = "/usr/bin/microsocks";

class Socks5RealServerTest : public proxy_test::ProxyTest {
 protected:
  // With a user, the server takes username/password only: it answers FF
  // to a greeting that offers no authentication.
  std::unique_ptr<yarl_test::DaemonProcess> startServer(bool withAuth) {
    port_ = yarl_test::freeLoopbackPort();
    std::vector<std::string> args = {kMicrosocks, "-i", "127.0.0.1", "-p", std::to_string(port_)};
    if (withAuth) args.insert(args.end(), {"-u", "user", "-P", "pass"});
    auto server = std::make_unique<yarl_test::DaemonProcess>(args, port_);
    if (!server->running()) ADD_FAILURE() << kMicrosocks << " did not start (scripts/deps.sh installs it)";
    return server;
  }
  std::string proxy() const { return "127.0.0.1:" + std::to_string(port_); }
  void connect(int targetPort, const char* user = nullptr, const char* password = nullptr) {
    auto connector = std::make_unique<io::Socks5Connector>("127.0.0.1", targetPort, proxy().c_str(), nullptr, nullptr);
    if (user) connector->setCredentials(user, password);
    connector_ = std::move(connector);
    connector_->start(&receiver_);
    ASSERT_TRUE(runToOutcome());
  }

  int port_ = 0;
};

TEST_F(Socks5RealServerTest, TunnelsToTheTarget) {
  auto server = startServer(false);
  ScriptedServer target({[](ScriptedServer::Conn& c) {
    c.send("hello");
    c.peerClosed();
  }});
  connect(target.port());
  ASSERT_EQ("connected", receiver_.outcome);
  EXPECT_EQ("127.0.0.1:" + std::to_string(target.port()), receiver_.io->peerEndpoint().c_str());
  EXPECT_EQ("hello", tunnelBytes(5));
  receiver_.io.reset();
}

TEST_F(Socks5RealServerTest, UsernameAndPassword) {
  auto server = startServer(true);
  ScriptedServer target({[](ScriptedServer::Conn& c) {
    c.send("hello");
    c.peerClosed();
  }});
  connect(target.port(), "user", "pass");
  ASSERT_EQ("connected", receiver_.outcome);
  EXPECT_EQ("hello", tunnelBytes(5));
  receiver_.io.reset();
  connector_.reset();

  receiver_ = {};
  connect(target.port(), "user", "wrong");
  EXPECT_EQ("AuthenticationFailed", receiver_.reason);
  connector_.reset();

  // No credentials: refused (FF), retried offering username/password,
  // which the server then picks.
  receiver_ = {};
  connect(target.port());
  EXPECT_EQ("AuthenticationRequired", receiver_.reason);
  EXPECT_EQ("Proxy error via " + proxy() +
                ": UserPass authentication selected by proxy but no password supplied (AuthenticationRequired)",
            receiver_.outcome);
}

TEST_F(Socks5RealServerTest, RefusedTargetAndAbsentProxy) {
  auto server = startServer(false);
  const int closedPort = yarl_test::freeLoopbackPort();
  connect(closedPort);
  EXPECT_EQ("ConnectFailed", receiver_.reason);
  connector_.reset();

  server->stop();
  receiver_ = {};
  connect(closedPort);
  EXPECT_EQ("BadConnection", receiver_.reason);
}

}  // namespace
