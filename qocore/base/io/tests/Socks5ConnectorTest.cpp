// The SOCKS5 connector against a scripted SOCKS5 server on loopback that
// checks every byte the connector sends.

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "qocore/base/io/Socks5Connector.h"
#include "qocore/base/io/TcpConnector.h"
#include "qocore/base/io/tests/ProxyTestSupport.h"
#include "qocore/base/loc/LocaleSetter.h"
#include "testing/LogCapture.h"
#include "testing/ScriptedServer.h"

namespace {

using proxy_test::bytes;
using proxy_test::ProxyTest;
using yarl_test::ScriptedServer;
using Conn = ScriptedServer::Conn;

const std::string kNoAuthGreeting = bytes({5, 1, 0});
const std::string kAuthGreeting = bytes({5, 2, 2, 0});
// A connect request for target.example:443.
const std::string kConnectRequest = bytes({5, 1, 0, 3, 14}) + "target.example" + bytes({1, 0xbb});
const std::string kSuccessReply = bytes({5, 0, 0, 1, 10, 0, 0, 1, 0x12, 0x34});

class Socks5ConnectorTest : public ProxyTest {
 protected:
  io::Socks5Connector& start(const ScriptedServer& server, io::ProxyPasswdPrompt* prompt = nullptr,
                             const char* host = "target.example", int port = 443) {
    auto connector = std::make_unique<io::Socks5Connector>(host, port, server.endpoint().c_str(), nullptr, prompt);
    io::Socks5Connector& ref = *connector;
    connector_ = std::move(connector);
    return ref;
  }
};

TEST_F(Socks5ConnectorTest, ConnectsAndHandsOverUnderTheTargetsNames) {
  std::string request;
  ScriptedServer server({[&](Conn& c) {
    if (c.read(3) != kNoAuthGreeting) return;
    c.send(bytes({5, 0}));
    request = c.read(kConnectRequest.size());
    // Tunnel bytes in the same segment as the reply.
    c.send(kSuccessReply + "tunnel");
    c.peerClosed();
  }});
  io::Socks5Connector& connector = start(server);
  EXPECT_EQ("Direct TCP via SOCKS5 proxy " + server.endpoint(), connector.methodName().c_str());
  {
    loc::LocaleSetter german("de_DE");
    EXPECT_EQ("Direktes TCP über SOCKS5-Proxy " + server.endpoint(), connector.methodName(true).c_str());
  }
  connector.start(&receiver_);
  EXPECT_FALSE(receiver_.done()) << "reported inside start";
  ASSERT_TRUE(runToOutcome());
  ASSERT_EQ("connected", receiver_.outcome);
  EXPECT_STREQ("target.example:443", receiver_.io->peerEndpoint().c_str());
  EXPECT_STREQ("target.example:443", receiver_.io->displayName().c_str());
  EXPECT_STREQ("target.example", receiver_.io->peerAddress().c_str());
  EXPECT_EQ("tunnel", tunnelBytes(6));
  receiver_.io.reset();
  server.wait();
  EXPECT_EQ(kConnectRequest, request);
}

TEST_F(Socks5ConnectorTest, TakesAConnectionAlreadyMade) {
  ScriptedServer server({[&](Conn& c) {
    if (c.read(3) != kNoAuthGreeting) return;
    c.send(bytes({5, 0}));
    if (c.read(kConnectRequest.size()) != kConnectRequest) return;
    c.send(kSuccessReply);
    c.peerClosed();
  }});
  connector_ = io::TcpConnector::fromEndpoint(server.endpoint().c_str(), -1);
  connector_->start(&receiver_);
  ASSERT_TRUE(runToOutcome());
  ASSERT_EQ("connected", receiver_.outcome);
  io::Io* proxyIo = receiver_.io.release();
  receiver_ = {};
  connector_ =
      std::make_unique<io::Socks5Connector>("target.example", 443, server.endpoint().c_str(), proxyIo, nullptr);
  connector_->start(&receiver_);
  ASSERT_TRUE(runToOutcome());
  ASSERT_EQ("connected", receiver_.outcome);
  EXPECT_STREQ("target.example:443", receiver_.io->peerEndpoint().c_str());
  receiver_.io.reset();
  server.wait();
  EXPECT_EQ(1, server.accepted());
}

TEST_F(Socks5ConnectorTest, NumericTargetsAreSentAsAddresses) {
  struct Case {
    const char* host;
    std::string address;
  };
  const Case cases[] = {
      {"192.0.2.7", bytes({1, 192, 0, 2, 7})},
      {"2001:db8::1", bytes({4, 0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1})},
      {"[2001:db8::1]", bytes({4, 0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    receiver_ = {};
    std::string request;
    const std::string expected = bytes({5, 1, 0}) + c.address + bytes({0, 80});
    ScriptedServer server({[&](Conn& conn) {
      conn.read(3);
      conn.send(bytes({5, 0}));
      request = conn.read(expected.size());
      conn.send(kSuccessReply);
      conn.peerClosed();
    }});
    start(server, nullptr, c.host, 80).start(&receiver_);
    ASSERT_TRUE(runToOutcome());
    EXPECT_EQ("connected", receiver_.outcome);
    receiver_.io.reset();
    connector_.reset();
    server.wait();
    EXPECT_EQ(expected, request);
  }
}

TEST_F(Socks5ConnectorTest, RefusedGreetingIsRetriedOnceOfferingCredentials) {
  struct Case {
    const char* name;
    std::string firstAnswer;  // to the greeting, or (with "02") to the connect
    std::string secondMethod;
    const char* outcome;
  };
  const Case cases[] = {
      {"FF then no auth", bytes({5, 0xff}), bytes({5, 0}), "connected"},
      {"FF twice", bytes({5, 0xff}), bytes({5, 0xff}),
       "Proxy error via %s: AuthenticationUnsupported (AuthenticationUnsupported)"},
      {"connect not allowed", bytes({5, 0, 5, 2, 0, 1, 0, 0, 0, 0, 0, 0}), bytes({5, 0}), "connected"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    receiver_ = {};
    std::string secondGreeting;
    ScriptedServer server({[&](Conn& conn) {
                             conn.read(3);
                             if (c.firstAnswer.size() == 2) {
                               conn.send(c.firstAnswer);
                             } else {
                               conn.send(c.firstAnswer.substr(0, 2));
                               conn.read(kConnectRequest.size());
                               conn.send(c.firstAnswer.substr(2));
                             }
                             conn.peerClosed();
                           },
                           [&](Conn& conn) {
                             secondGreeting = conn.read(4);
                             conn.send(c.secondMethod);
                             if (c.secondMethod[1] != 0) return;
                             conn.read(kConnectRequest.size());
                             conn.send(kSuccessReply);
                             conn.peerClosed();
                           }});
    start(server).start(&receiver_);
    ASSERT_TRUE(runToOutcome());
    std::string expected = c.outcome;
    if (expected.find("%s") != std::string::npos) expected.replace(expected.find("%s"), 2, server.endpoint());
    EXPECT_EQ(expected, receiver_.outcome);
    receiver_.io.reset();
    connector_.reset();
    server.wait();
    EXPECT_EQ(2, server.accepted());
    EXPECT_EQ(kAuthGreeting, secondGreeting);
  }
}

TEST_F(Socks5ConnectorTest, StoredCredentialsAreSentOnceAndCut) {
  const std::string longUser(300, 'u');
  std::string auth;
  ScriptedServer server({[&](Conn& c) {
    if (c.read(4) != kAuthGreeting) return;
    c.send(bytes({5, 2}));
    auth = c.read(2 + 255 + 1 + 6);
    c.send(bytes({1, 0}));
    c.read(kConnectRequest.size());
    c.send(kSuccessReply);
    c.peerClosed();
  }});
  start(server).setCredentials(longUser.c_str(), "secret");
  connector_->start(&receiver_);
  ASSERT_TRUE(runToOutcome());
  EXPECT_EQ("connected", receiver_.outcome);
  receiver_.io.reset();
  server.wait();
  EXPECT_EQ(bytes({1, 255}) + std::string(255, 'u') + bytes({6}) + "secret", auth);
}

TEST_F(Socks5ConnectorTest, EveryFailureReply) {
  struct Case {
    const char* name;
    bool credentials;
    std::string method;     // the answer to the greeting
    std::string authReply;  // empty: no username/password exchange
    std::string reply;      // the answer to the connect request; empty: none
    const char* reason;
    const char* detail;  // null: the reason's name
  };
  const auto reply = [](int code) { return bytes({5, code, 0, 1, 0, 0, 0, 0, 0, 0}); };
  const Case cases[] = {
      {"bad version", false, bytes({4, 0}), "", "", "BadProtocol", nullptr},
      {"unknown method", false, bytes({5, 1}), "", "", "AuthenticationUnsupported", nullptr},
      {"userpass without credentials", false, bytes({5, 2}), "", "", "AuthenticationRequired",
       "UserPass authentication selected by proxy but no password supplied"},
      {"auth refused", true, bytes({5, 2}), bytes({1, 1}), "", "AuthenticationFailed", nullptr},
      {"auth bad version", true, bytes({5, 2}), bytes({5, 0}), "", "BadProtocol", nullptr},
      {"reply bad version", false, bytes({5, 0}), "", bytes({4, 0, 0, 1, 0, 0, 0, 0, 0, 0}), "BadProtocol", nullptr},
      {"domain in reply", false, bytes({5, 0}), "", bytes({5, 0, 0, 3, 1, 'x', 0, 0}), "BadProtocol", nullptr},
      {"01", false, bytes({5, 0}), "", reply(1), "BadProtocol", nullptr},
      {"02 after offering credentials", true, bytes({5, 0}), "", reply(2), "ConnectDenied", nullptr},
      {"03", false, bytes({5, 0}), "", reply(3), "ConnectFailed", nullptr},
      {"04", false, bytes({5, 0}), "", reply(4), "ConnectFailed", nullptr},
      {"05", false, bytes({5, 0}), "", reply(5), "ConnectFailed", nullptr},
      {"06", false, bytes({5, 0}), "", reply(6), "ConnectFailed", nullptr},
      {"07", false, bytes({5, 0}), "", reply(7), "BadProtocol", nullptr},
      {"08", false, bytes({5, 0}), "", reply(8), "ConnectDenied", nullptr},
      {"09", false, bytes({5, 0}), "", reply(9), "BadProtocol", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    receiver_ = {};
    ScriptedServer server({[&](Conn& conn) {
      conn.read(c.credentials ? 4 : 3);
      conn.send(c.method);
      if (!c.authReply.empty()) {
        conn.read(2 + 4 + 1 + 4);
        conn.send(c.authReply);
      }
      if (!c.reply.empty()) {
        conn.read(kConnectRequest.size());
        conn.send(c.reply);
      }
      conn.peerClosed();
    }});
    io::Socks5Connector& connector = start(server);
    if (c.credentials) connector.setCredentials("user", "pass");
    connector.start(&receiver_);
    ASSERT_TRUE(runToOutcome());
    EXPECT_EQ(c.reason, receiver_.reason);
    EXPECT_EQ("Proxy error via " + server.endpoint() + ": " + (c.detail ? c.detail : c.reason) + " (" + c.reason + ")",
              receiver_.outcome);
    connector_.reset();
    server.wait();
    EXPECT_EQ(1, server.accepted());
  }
}

TEST_F(Socks5ConnectorTest, EmptyCredentialsAreRefusedBeforeSending) {
  struct Case {
    const char* user;
    const char* password;
    const char* detail;
  };
  const Case cases[] = {{"", "pass", "Username not provided"}, {"user", "", "Password not provided"}};
  for (const Case& c : cases) {
    receiver_ = {};
    std::string after;
    ScriptedServer server({[&](Conn& conn) {
      conn.read(4);
      conn.send(bytes({5, 2}));
      after = conn.read(1);
    }});
    start(server).setCredentials(c.user, c.password);
    connector_->start(&receiver_);
    ASSERT_TRUE(runToOutcome());
    EXPECT_EQ("AuthenticationFailed", receiver_.reason);
    EXPECT_NE(std::string::npos, receiver_.outcome.find(c.detail)) << receiver_.outcome;
    connector_.reset();
    server.wait();
    EXPECT_EQ("", after);
  }
}

TEST_F(Socks5ConnectorTest, LongHostNameIsRefusedBeforeConnecting) {
  ScriptedServer server({});
  const std::string host(256, 'h');
  start(server, nullptr, host.c_str()).start(&receiver_);
  ASSERT_TRUE(runToOutcome());
  EXPECT_EQ("ConnectFailed", receiver_.reason);
  EXPECT_EQ("Proxy error via " + server.endpoint() + ": Target host name longer than 255 bytes (ConnectFailed)",
            receiver_.outcome);
  server.wait();
  EXPECT_EQ(0, server.accepted());
}

TEST_F(Socks5ConnectorTest, HandshakeTimesOutButNotWhileThePromptIsUp) {
  // A proxy that answers nothing.
  {
    ScriptedServer server({[&](Conn& c) {
      c.read(3);
      c.peerClosed();
    }});
    start(server).start(&receiver_);
    settle();
    advanceMs(9999);
    EXPECT_FALSE(receiver_.done());
    advanceMs(1);
    ASSERT_TRUE(runToOutcome());
    EXPECT_EQ("ConnectFailed", receiver_.reason);
    EXPECT_NE(std::string::npos,
              receiver_.outcome.find("Proxy handshake timed out while connecting to upstream server"));
    connector_.reset();
  }
  // A proxy that wants credentials only the user can give.
  receiver_ = {};
  proxy_test::Prompt prompt;
  std::string auth;
  ScriptedServer server({[&](Conn& c) {
    if (c.read(4) != kAuthGreeting) return;
    c.send(bytes({5, 2}));
    auth = c.read(2 + 4 + 1 + 4);
    c.send(bytes({1, 0}));
    c.read(kConnectRequest.size());
    c.send(kSuccessReply);
    c.peerClosed();
  }});
  start(server, &prompt).start(&receiver_);
  ASSERT_TRUE(runUntil([&] { return prompt.callback != nullptr; }));
  EXPECT_EQ(std::vector<std::string>{"3 " + server.endpoint()}, prompt.asked);
  advanceMs(60000);
  EXPECT_FALSE(receiver_.done());
  prompt.callback->passwordEntered("user", "pass");
  ASSERT_TRUE(runToOutcome());
  EXPECT_EQ("connected", receiver_.outcome);
  receiver_.io.reset();
  server.wait();
  EXPECT_EQ(bytes({1, 4}) + "user" + bytes({4}) + "pass", auth);
}

TEST_F(Socks5ConnectorTest, ProxyClosingOrAbsentIsAProxyError) {
  {
    ScriptedServer server({[&](Conn& c) { c.read(3); }});
    start(server).start(&receiver_);
    ASSERT_TRUE(runToOutcome());
    EXPECT_EQ("ConnectionError", receiver_.reason);
    EXPECT_EQ("EndOfStream", receiver_.causeType);
    EXPECT_EQ("Unable to connect via " + server.endpoint() + ": disconnected by proxy", receiver_.description);
    connector_.reset();
  }
  receiver_ = {};
  std::string closedEndpoint;
  {
    ScriptedServer closed({});
    closedEndpoint = closed.endpoint();
  }
  connector_ = std::make_unique<io::Socks5Connector>("target.example", 443, closedEndpoint.c_str(), nullptr, nullptr);
  connector_->start(&receiver_);
  ASSERT_TRUE(runToOutcome());
  EXPECT_EQ("BadConnection", receiver_.reason);
  EXPECT_EQ("System-" + std::to_string(ECONNREFUSED), receiver_.causeType);
}

}  // namespace
