// The proxy-choosing connector: the fetcher's answer picks a direct, HTTP
// CONNECT or SOCKS5 connection; the fetchers here answer inside fetch or
// from a timer, as real ones do.

#include <gtest/gtest.h>

#include <string>

#include "qocore/base/io/ProxyFetcherConnector.h"
#include "qocore/base/io/tests/ProxyTestSupport.h"
#include "qocore/base/plat/Timer.h"
#include "testing/LogCapture.h"
#include "testing/ScriptedServer.h"

namespace {

using proxy_test::bytes;
using proxy_test::ProxyTest;
using yarl_test::ScriptedServer;
using Conn = ScriptedServer::Conn;

// Answers with a fixed proxy text (or failure), inside fetch or from a 0 ms
// timer; it must never be destroyed inside its own call.
class FakeFetcher : public io::ProxyFetcher, public plat::Timer::Callback {
 public:
  FakeFetcher(std::string answer, bool fromTimer, io::ProxyCredentials credentials = {}, bool fail = false)
      : answer_(std::move(answer)), fromTimer_(fromTimer), credentials_(std::move(credentials)), fail_(fail) {}
  ~FakeFetcher() override { EXPECT_FALSE(inCall_) << "fetcher destroyed inside its own call"; }

  void fetch(io::ProxyFetcherCallback* cb) override {
    cb_ = cb;
    if (fromTimer_)
      timer_.start(delayMs);
    else
      answer();
  }
  // From a timer: this many (fake) milliseconds after fetch.
  int delayMs = 0;

  bool timerExpired(plat::Timer*) override {
    answer();
    return false;
  }

 private:
  void answer() {
    inCall_ = true;
    if (fail_)
      cb_->onProxyError(*this, plat::ExceptionFmt("no proxy for you"));
    else
      cb_->onProxy(*this, answer_.c_str(), credentials_);
    inCall_ = false;
  }

  std::string answer_;
  bool fromTimer_;
  io::ProxyCredentials credentials_;
  bool fail_;
  bool inCall_ = false;
  io::ProxyFetcherCallback* cb_ = nullptr;
  plat::Timer timer_{this};
};

// A SOCKS5 proxy that wants credentials and records them.
ScriptedServer::Script socksWithAuth(std::string& auth) {
  return [&auth](Conn& c) {
    c.read(4);
    c.send(bytes({5, 2}));
    const std::string head = c.read(2);
    if (head.size() < 2) return;
    std::string user = c.read(static_cast<unsigned char>(head[1]));
    const std::string passLen = c.read(1);
    if (passLen.empty()) return;
    auth = user + ":" + c.read(static_cast<unsigned char>(passLen[0]));
    c.send(bytes({1, 0}));
    c.readUntil(bytes({1, 0xbb}));
    c.send(bytes({5, 0, 0, 1, 0, 0, 0, 0, 0, 0}));
    c.peerClosed();
  };
}

class ProxyFetcherConnectorTest : public ProxyTest {
 protected:
  void start(const std::string& answer, bool fromTimer, io::ProxyCredentials credentials = {},
             const char* host = "target.example", int port = 443) {
    connector_ = std::make_unique<io::ProxyFetcherConnector>(
        host, port, std::make_unique<FakeFetcher>(answer, fromTimer, std::move(credentials)));
    connector_->start(&receiver_);
  }
};

TEST_F(ProxyFetcherConnectorTest, DirectAndUnknownTypesConnectToTheTarget) {
  struct Case {
    const char* scheme;
    const char* log;
  };
  const Case cases[] = {
      {"direct://", "Using direct connection"},
      {"", "Using direct connection"},
      {"ftp://proxy.example:21", "Unknown proxy type 'ftp', using direct"},
  };
  for (bool fromTimer : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.scheme) + (fromTimer ? " from a timer" : " at once"));
      receiver_ = {};
      yarl_test::LogCapture log;
      ScriptedServer target({[](Conn& conn) { conn.peerClosed(); }});
      start(c.scheme, fromTimer, {}, "127.0.0.1", target.port());
      EXPECT_STREQ("Direct TCP via proxy settings", connector_->methodName().c_str());
      ASSERT_TRUE(runToOutcome());
      EXPECT_EQ("connected", receiver_.outcome);
      EXPECT_STREQ("Direct TCP", connector_->methodName().c_str());
      const auto records = log.from("ProxyFetcherConnector");
      ASSERT_FALSE(records.empty());
      EXPECT_EQ(c.log, records.front().text);
      receiver_.io.reset();
      connector_.reset();
    }
  }
}

TEST_F(ProxyFetcherConnectorTest, ProxyTypesAndDefaultPorts) {
  struct Case {
    const char* answer;
    const char* log;
  };
  // Nothing listens on 127.0.0.2's proxy ports: each attempt fails, naming
  // the proxy it tried.
  const Case cases[] = {
      {"http://127.0.0.2", "Using HTTP CONNECT proxy 127.0.0.2:80"},
      {"http://127.0.0.2:3128", "Using HTTP CONNECT proxy 127.0.0.2:3128"},
      {"socks://127.0.0.2", "Using SOCKS 5 proxy 127.0.0.2:1080"},
      {"socks5://127.0.0.2:1081", "Using SOCKS 5 proxy 127.0.0.2:1081"},
      {"SOCKS5://127.0.0.2", "Using SOCKS 5 proxy 127.0.0.2:1080"},
      {"http://[::1]:1", "Using HTTP CONNECT proxy [::1]:1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    receiver_ = {};
    yarl_test::LogCapture log;
    start(c.answer, false);
    runUntil([&] { return !log.from("ProxyFetcherConnector").empty(); });
    const auto records = log.from("ProxyFetcherConnector");
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(c.log, records.front().text);
    connector_.reset();
  }
}

// The HTTP CONNECT connector comes from the http library, through the hook
// it fills at start-up.
TEST_F(ProxyFetcherConnectorTest, HttpProxiesTunnelThroughConnect) {
  std::string request;
  ScriptedServer proxy({[&](Conn& c) {
    request = c.readUntil("\r\n\r\n");
    c.send("HTTP/1.1 200 Connection established\r\n\r\ntunnel");
    c.peerClosed();
  }});
  start("http://" + proxy.endpoint(), true);
  ASSERT_TRUE(runToOutcome());
  ASSERT_EQ("connected", receiver_.outcome);
  EXPECT_EQ("Direct TCP via HTTP CONNECT proxy " + proxy.endpoint(), connector_->methodName().c_str());
  EXPECT_EQ("tunnel", tunnelBytes(6));
  receiver_.io.reset();
  connector_.reset();
  proxy.wait();
  EXPECT_EQ(0u, request.find("CONNECT target.example:443 HTTP/1.1\r\n")) << request;
}

TEST_F(ProxyFetcherConnectorTest, CredentialsFromTheProxyTextWin) {
  struct Case {
    const char* userInfo;  // in the proxy text
    const char* fetcherUser;
    const char* fetcherPassword;
    const char* sent;
  };
  const Case cases[] = {
      {"", "fu", "fp", "fu:fp"},          {"uu:up@", "fu", "fp", "uu:up"},
      {"other@", "fu", "fp", "other:fp"},  // a user without a password keeps the fetcher's
      {"fu:up@", "fu", "fp", "fu:up"},    {"uu:up@", nullptr, nullptr, "uu:up"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.userInfo);
    receiver_ = {};
    std::string auth;
    yarl_test::LogCapture log;
    ScriptedServer proxy({socksWithAuth(auth)});
    start(std::string("socks://") + c.userInfo + proxy.endpoint(), true,
          io::ProxyCredentials(nullptr, c.fetcherUser, c.fetcherPassword));
    ASSERT_TRUE(runToOutcome());
    EXPECT_EQ("connected", receiver_.outcome);
    EXPECT_EQ("Direct TCP via SOCKS5 proxy " + proxy.endpoint(), connector_->methodName().c_str());
    receiver_.io.reset();
    connector_.reset();
    proxy.wait();
    EXPECT_EQ(c.sent, auth);
    // Secrets never reach the log.
    for (const auto& r : log.records()) {
      EXPECT_EQ(std::string::npos, r.text.find("up")) << r.text;
      EXPECT_EQ(std::string::npos, r.text.find("fp")) << r.text;
    }
  }
}

TEST_F(ProxyFetcherConnectorTest, FailuresArePassedOnUnchanged) {
  for (bool fromTimer : {false, true}) {
    receiver_ = {};
    connector_ = std::make_unique<io::ProxyFetcherConnector>(
        "target.example", 443, std::make_unique<FakeFetcher>("", fromTimer, io::ProxyCredentials(), true));
    connector_->start(&receiver_);
    ASSERT_TRUE(runToOutcome());
    EXPECT_EQ("no proxy for you", receiver_.outcome);
    connector_.reset();
  }
  // The chosen connector's failure, the proxy error with its proxy text.
  receiver_ = {};
  std::string refused;
  {
    ScriptedServer closed({});
    refused = closed.endpoint();
  }
  yarl_test::LogCapture log;
  start("http://user:secret@" + refused, false);
  ASSERT_TRUE(runToOutcome());
  EXPECT_EQ("BadConnection", receiver_.reason);
  EXPECT_EQ("Proxy error via " + refused + ": BadConnection (BadConnection)", receiver_.outcome);
  for (const auto& r : log.records()) EXPECT_EQ(std::string::npos, r.text.find("secret")) << r.text;
}

TEST_F(ProxyFetcherConnectorTest, DestroyedWhileTheFetcherIsAsked) {
  auto fetcher = std::make_unique<FakeFetcher>("direct://", true);
  fetcher->delayMs = 1000;
  connector_ = std::make_unique<io::ProxyFetcherConnector>("target.example", 443, std::move(fetcher));
  connector_->start(&receiver_);
  settle();
  connector_.reset();
  settle();
  EXPECT_FALSE(receiver_.done());
}

}  // namespace
