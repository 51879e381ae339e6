// The HTTP CONNECT connector against a scripted HTTP proxy on loopback,
// for the answers real proxies rarely give.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "qocore/base/http/HttpConnectConnector.h"
#include "qocore/base/http/UserAgent.h"
#include "qocore/base/io/tests/ProxyTestSupport.h"
#include "qocore/base/loc/LocaleSetter.h"
#include "qocore/base/plat/Regex.h"
#include "testing/ScriptedServer.h"

namespace {

using proxy_test::ProxyTest;
using yarl_test::ScriptedServer;
using Conn = ScriptedServer::Conn;

const char* const kAuth = "Proxy-Authorization: Basic dXNlcjpwYXNz\r\n";  // user:pass
const char* const kOk = "HTTP/1.1 200 Connection established\r\n\r\n";

std::string proxyAuthRequired(const std::string& offered, const std::string& extra = "") {
  return "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: " + offered + "\r\n" + extra + "\r\n";
}

class HttpConnectConnectorTest : public ProxyTest {
 protected:
  http::HttpConnectConnector& start(const ScriptedServer& server, io::ProxyPasswdPrompt* prompt = nullptr,
                                    const char* host = "target.example", int port = 443) {
    auto connector =
        std::make_unique<http::HttpConnectConnector>(host, port, server.endpoint().c_str(), nullptr, prompt);
    http::HttpConnectConnector& ref = *connector;
    connector_ = std::move(connector);
    return ref;
  }
  std::string expected(const char* text, const ScriptedServer& server) {
    std::string out = text;
    const size_t at = out.find("%s");
    if (at != std::string::npos) out.replace(at, 2, server.endpoint());
    return out;
  }
};

TEST_F(HttpConnectConnectorTest, TunnelIsUpAfterA2xxWithItsBytes) {
  // The date goes out in English whatever the thread speaks.
  loc::LocaleSetter german("de_DE");
  std::string request;
  ScriptedServer server({[&](Conn& c) {
    request = c.readUntil("\r\n\r\n");
    // An interim answer first; the 200's own Content-Length does not
    // hold back the tunnel's bytes.
    c.send("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\ntunnel");
    c.peerClosed();
  }});
  http::HttpConnectConnector& connector = start(server);
  EXPECT_EQ("Direct TCP via HTTP CONNECT proxy " + server.endpoint(), connector.methodName().c_str());
  EXPECT_EQ("Direktes TCP über HTTP CONNECT-Proxy " + server.endpoint(), connector.methodName(true).c_str());
  connector.start(&receiver_);
  ASSERT_TRUE(runToOutcome());
  ASSERT_EQ("connected", receiver_.outcome);
  EXPECT_STREQ("target.example:443", receiver_.io->peerEndpoint().c_str());
  EXPECT_EQ("tunnel", tunnelBytes(6));
  receiver_.io.reset();
  server.wait();
  // The date is checked by its shape, the rest exactly.
  const plat::Regex date(
      "Date: (Sun|Mon|Tue|Wed|Thu|Fri|Sat), \\d\\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \\d\\d\\d\\d "
      "\\d\\d:\\d\\d:\\d\\d GMT",
      0);
  const size_t dateAt = request.find("Date: ");
  const size_t dateEnd = request.find("\r\n", dateAt);
  ASSERT_NE(std::string::npos, dateEnd) << request;
  EXPECT_TRUE(date.matches(request.substr(dateAt, dateEnd - dateAt).c_str())) << request;
  EXPECT_EQ("CONNECT target.example:443 HTTP/1.1\r\nHost: target.example:443\r\n" +
                request.substr(dateAt, dateEnd + 2 - dateAt) + "Proxy-Connection: keep-alive\r\nUser-Agent: " +
                http::userAgent().c_str() + "\r\nContent-Length: 0\r\n\r\n",
            request);
}

TEST_F(HttpConnectConnectorTest, TargetsAreWrittenSafely) {
  std::string request;
  {
    ScriptedServer server({[&](Conn& c) {
      request = c.readUntil("\r\n\r\n");
      c.send(kOk);
      c.peerClosed();
    }});
    start(server, nullptr, "2001:db8::1", 8443).start(&receiver_);
    ASSERT_TRUE(runToOutcome());
    EXPECT_EQ("connected", receiver_.outcome);
    receiver_.io.reset();
    connector_.reset();
  }
  EXPECT_EQ(0u, request.find("CONNECT [2001:db8::1]:8443 HTTP/1.1\r\nHost: [2001:db8::1]:8443\r\n")) << request;
  for (const char* host : {"evil.example HTTP/1.1\r\nX: y", "a b", "tab\there"}) {
    receiver_ = {};
    ScriptedServer server({});
    start(server, nullptr, host).start(&receiver_);
    ASSERT_TRUE(runToOutcome());
    EXPECT_EQ("BadProtocol", receiver_.reason);
    connector_.reset();
    server.wait();
    EXPECT_EQ(0, server.accepted());
  }
}

TEST_F(HttpConnectConnectorTest, StatusAnswers) {
  struct Case {
    const char* answer;
    const char* reason;
    const char* message;
  };
  const Case cases[] = {
      {"HTTP/1.1 302 Found\r\nLocation: /x\r\n\r\n", "BadProtocol",
       "Proxy error via %s: HTTP status 302 (Found) (BadProtocol)"},
      {"HTTP/1.1 101 Switching Protocols\r\n\r\n", "BadProtocol",
       "Proxy error via %s: HTTP status 101 (Switching Protocols) (BadProtocol)"},
      {"HTTP/1.1 403 Forbidden\r\n\r\n", "ConnectDenied",
       "Proxy error via %s: HTTP status 403 (Forbidden) (ConnectDenied)"},
      {"HTTP/1.1 404 Not Found\r\n\r\n", "ConnectFailed",
       "Proxy error via %s: HTTP status 404 (Not Found) (ConnectFailed)"},
      {"HTTP/1.1 502 Bad Gateway\r\n\r\n", "ConnectFailed",
       "Proxy error via %s: HTTP status 502 (Bad Gateway) (ConnectFailed)"},
      {"HTTP/1.1 503 x\r\n\r\n", "ConnectFailed",
       "Proxy error via %s: HTTP status 503 (Service Unavailable) (ConnectFailed)"},
      {"HTTP/1.1 504 x\r\n\r\n", "ConnectFailed",
       "Proxy error via %s: HTTP status 504 (Gateway Timeout) (ConnectFailed)"},
      {"HTTP/1.1 500 x\r\n\r\n", "BadProtocol",
       "Proxy error via %s: HTTP status 500 (Internal Server Error) (BadProtocol)"},
      {"HTTP/1.1 20x OK\r\n\r\n", "BadProtocol", "Proxy error via %s: Bad first line (BadProtocol)"},
      {"HTTP/1.1 200 OK\r\n folded\r\n\r\n", "BadProtocol",
       "Proxy error via %s: Unsupported 'obs-fold' header (BadProtocol)"},
      // A 407 without anything to answer it with.
      {"HTTP/1.1 407 x\r\nProxy-Authenticate: Basic\r\n\r\n", "AuthenticationRequired",
       "Proxy error via %s: AuthenticationRequired (AuthenticationRequired)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    receiver_ = {};
    ScriptedServer server({[&](Conn& conn) {
      conn.readUntil("\r\n\r\n");
      conn.send(c.answer);
      conn.peerClosed();
    }});
    start(server).start(&receiver_);
    ASSERT_TRUE(runToOutcome());
    EXPECT_EQ(c.reason, receiver_.reason);
    EXPECT_EQ(expected(c.message, server), receiver_.outcome);
    connector_.reset();
  }
}

TEST_F(HttpConnectConnectorTest, ProxyAuthenticationWithStoredCredentials) {
  struct Case {
    const char* name;
    std::string first;   // the answer to the request without credentials
    std::string second;  // the answer to the one with them; empty: none expected
    const char* outcome;
  };
  const Case cases[] = {
      {"negotiate and basic, with a body",
       proxyAuthRequired("Negotiate, Basic realm=\"p\"", "Content-Length: 5\r\n") + "abcde", kOk, "connected"},
      {"digest only", proxyAuthRequired("Digest realm=\"p\""), "",
       "Proxy error via %s: AuthenticationUnsupported (AuthenticationUnsupported) [Proxy-Authenticate:Digest "
       "realm=\"p\"]"},
      {"second 407", proxyAuthRequired("Basic"), proxyAuthRequired("Basic"),
       "Proxy error via %s: AuthenticationFailed (AuthenticationFailed)"},
      {"403 after credentials", proxyAuthRequired("Basic"), "HTTP/1.1 403 Forbidden\r\n\r\n",
       "Proxy error via %s: AuthenticationFailed (AuthenticationFailed)"},
      {"no scheme offered", "HTTP/1.1 407 x\r\n\r\n", "", "Proxy error via %s: BadProtocol (BadProtocol)"},
      {"body too long", proxyAuthRequired("Basic", "Content-Length: 1000001\r\n"), "",
       "Proxy error via %s: Bad Content-Length header (1000001) (ConnectionError)"},
      {"body length not a number", proxyAuthRequired("Basic", "Content-Length: 5x\r\n"), "",
       "Proxy error via %s: Bad Content-Length header (5x) (ConnectionError)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    receiver_ = {};
    std::string firstRequest, secondRequest;
    ScriptedServer server({[&](Conn& conn) {
      firstRequest = conn.readUntil("\r\n\r\n");
      conn.send(c.first);
      if (c.second.empty()) {
        conn.peerClosed();
        return;
      }
      secondRequest = conn.readUntil("\r\n\r\n");
      conn.send(c.second);
      conn.peerClosed();
    }});
    start(server).setCredentials("user", "pass");
    connector_->start(&receiver_);
    ASSERT_TRUE(runToOutcome());
    EXPECT_EQ(expected(c.outcome, server), receiver_.outcome);
    receiver_.io.reset();
    connector_.reset();
    server.wait();
    EXPECT_EQ(std::string::npos, firstRequest.find("Proxy-Authorization"));
    if (!c.second.empty()) {
      EXPECT_NE(std::string::npos, secondRequest.find(kAuth)) << secondRequest;
    }
  }
}

TEST_F(HttpConnectConnectorTest, PromptAndReconnectAfterConnectionClose) {
  proxy_test::Prompt prompt;
  std::string secondRequest;
  ScriptedServer server({[&](Conn& c) {
                           c.readUntil("\r\n\r\n");
                           c.send(proxyAuthRequired("Basic", "Connection: close\r\n"));
                         },
                         [&](Conn& c) {
                           secondRequest = c.readUntil("\r\n\r\n");
                           c.send(kOk);
                           c.peerClosed();
                         }});
  start(server, &prompt).start(&receiver_);
  ASSERT_TRUE(runUntil([&] { return prompt.callback != nullptr; }));
  EXPECT_EQ(std::vector<std::string>{"3 " + server.endpoint()}, prompt.asked);
  // The user takes their time: no time-out meanwhile.
  advanceMs(60000);
  EXPECT_FALSE(receiver_.done());
  prompt.callback->passwordEntered("user", "pass");
  ASSERT_TRUE(runToOutcome());
  EXPECT_EQ("connected", receiver_.outcome);
  receiver_.io.reset();
  server.wait();
  EXPECT_EQ(2, server.accepted());
  EXPECT_NE(std::string::npos, secondRequest.find(kAuth)) << secondRequest;
  EXPECT_EQ(1u, prompt.asked.size());
}

TEST_F(HttpConnectConnectorTest, WhichProxyAuthAnswersEndTheirConnection) {
  struct Case {
    const char* name;
    std::string answer;
    bool closes;  // the credentials go on a new connection
  };
  const Case cases[] = {
      // HTTP/1.0 is not persistent unless the answer says keep-alive.
      {"HTTP/1.0", "HTTP/1.0 407 x\r\nProxy-Authenticate: Basic\r\nContent-Length: 0\r\n\r\n", true},
      {"HTTP/1.0 keep-alive",
       "HTTP/1.0 407 x\r\nProxy-Authenticate: Basic\r\nConnection: Keep-Alive\r\nContent-Length: 0\r\n\r\n", false},
      {"HTTP/1.1", "HTTP/1.1 407 x\r\nProxy-Authenticate: Basic\r\nContent-Length: 0\r\n\r\n", false},
      {"HTTP/1.1 close", "HTTP/1.1 407 x\r\nProxy-Authenticate: Basic\r\nConnection: close\r\n\r\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    receiver_ = {};
    std::string again, onNewConnection;
    std::vector<ScriptedServer::Script> scripts = {[&](Conn& conn) {
      conn.readUntil("\r\n\r\n");
      conn.send(c.answer);
      // Empty when the connector closes this connection.
      again = conn.readUntil("\r\n\r\n");
      if (again.empty()) return;
      conn.send(kOk);
      conn.peerClosed();
    }};
    if (c.closes) {
      scripts.push_back([&](Conn& conn) {
        onNewConnection = conn.readUntil("\r\n\r\n");
        conn.send(kOk);
        conn.peerClosed();
      });
    }
    ScriptedServer server(std::move(scripts));
    start(server).setCredentials("user", "pass");
    connector_->start(&receiver_);
    ASSERT_TRUE(runToOutcome());
    EXPECT_EQ("connected", receiver_.outcome);
    receiver_.io.reset();
    connector_.reset();
    server.wait();
    EXPECT_EQ(c.closes ? 2 : 1, server.accepted());
    EXPECT_NE(std::string::npos, (c.closes ? onNewConnection : again).find(kAuth)) << again << onNewConnection;
    if (c.closes) {
      EXPECT_EQ("", again);
    }
  }
}

TEST_F(HttpConnectConnectorTest, ProxyDropsTheIdleConnectionWhileTheUserTypes) {
  struct Case {
    const char* name;
    bool reset;          // the proxy resets the connection rather than closing it
    bool secondAnswers;  // the new connection answers
    const char* reason;  // empty: connected
  };
  const Case cases[] = {
      {"closed", false, true, ""},
      // The resend then fails at once.
      {"reset", true, true, ""},
      // Once only: a new connection that goes as well ends the attempt.
      {"new connection gone too", false, false, "ConnectionError"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    receiver_ = {};
    proxy_test::Prompt prompt;
    std::promise<void> asked, dropped;
    std::future<void> askedFuture = asked.get_future(), droppedFuture = dropped.get_future();
    std::string secondRequest;
    ScriptedServer server({[&](Conn& conn) {
                             conn.readUntil("\r\n\r\n");
                             // Keep-alive: the 407 leaves the connection open.
                             conn.send(proxyAuthRequired("Basic", "Content-Length: 0\r\n"));
                             // Idle while the user types, until the proxy gives up on it.
                             (void)askedFuture.wait_for(std::chrono::milliseconds(ScriptedServer::kWaitMs));
                             if (c.reset) conn.resetOnClose();
                             conn.close();
                             dropped.set_value();
                           },
                           [&](Conn& conn) {
                             secondRequest = conn.readUntil("\r\n\r\n");
                             if (!c.secondAnswers) return;
                             conn.send(kOk);
                             conn.peerClosed();
                           }});
    start(server, &prompt).start(&receiver_);
    ASSERT_TRUE(runUntil([&] { return prompt.callback != nullptr; }));
    asked.set_value();
    ASSERT_EQ(std::future_status::ready, droppedFuture.wait_for(std::chrono::milliseconds(ScriptedServer::kWaitMs)));
    prompt.callback->passwordEntered("user", "pass");
    ASSERT_TRUE(runToOutcome());
    if (*c.reason) {
      EXPECT_EQ(c.reason, receiver_.reason) << receiver_.outcome;
    } else {
      EXPECT_EQ("connected", receiver_.outcome);
    }
    receiver_.io.reset();
    connector_.reset();
    server.wait();
    EXPECT_EQ(2, server.accepted());
    // The stored credentials went again on the new connection, and the user
    // was asked once.
    EXPECT_NE(std::string::npos, secondRequest.find(kAuth)) << secondRequest;
    EXPECT_EQ(1u, prompt.asked.size());
  }
}

TEST_F(HttpConnectConnectorTest, HandshakeTimeOut) {
  ScriptedServer server({[&](Conn& c) {
    c.readUntil("\r\n\r\n");
    c.peerClosed();
  }});
  start(server).start(&receiver_);
  settle();
  advanceMs(9999);
  EXPECT_FALSE(receiver_.done());
  advanceMs(1);
  ASSERT_TRUE(runToOutcome());
  EXPECT_EQ(
      expected("Proxy error via %s: Proxy handshake timed out while connecting to upstream server (ConnectFailed)",
               server),
      receiver_.outcome);
}

}  // namespace
