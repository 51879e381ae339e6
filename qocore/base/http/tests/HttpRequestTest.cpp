// Requests end to end against scripted HTTP servers on 127.0.0.1, over the
// client's connection pool, and through a real HTTP proxy.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "qocore/base/http/HttpClient.h"
#include "qocore/base/http/HttpError.h"
#include "qocore/base/http/HttpRequest.h"
#include "qocore/base/http/ProxySettings.h"
#include "qocore/base/io/tests/ProxyTestSupport.h"
#include "testing/DaemonProcess.h"
#include "testing/FileFixtures.h"
#include "testing/ScriptedServer.h"

namespace {

using yarl_test::ScriptedServer;

// The owner of one request: records the statuses it was asked about and
// the outcome, and counts the reports.
struct Owner : http::HttpCallback {
  bool acceptStatus(http::HttpRequest&, int32_t status) override {
    statuses.push_back(status);
    return accept;
  }
  void onSucceeded(http::HttpRequest& r) override {
    reports++;
    outcome = "ok";
    if (http::SharedBody b = r.responseBody()) body.assign(reinterpret_cast<const char*>(b->data()), b->count());
    if (deleteInCallback) request.reset();
  }
  void onFailed(http::HttpRequest&, const plat::Exception& e) override {
    reports++;
    outcome = e.str();
    type = e.typeName();
    if (deleteInCallback) request.reset();
  }

  bool accept = true;
  bool deleteInCallback = false;
  std::unique_ptr<http::HttpRequest> request;
  std::vector<int32_t> statuses;
  int reports = 0;
  std::string outcome;
  std::string type;
  std::string body;
};

// A response head and body sent in the given pieces, with a pause between
// them so that the client reads each on its own.
ScriptedServer::Script respond(std::vector<std::string> pieces, std::string* request = nullptr) {
  return [pieces, request](ScriptedServer::Conn& c) {
    const std::string head = c.readUntil("\r\n\r\n");
    if (request) *request = head;
    for (const std::string& piece : pieces) {
      c.send(piece);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // The server ends the connection, so an idle pooled one goes too.
  };
}

// Every byte on its own.
std::vector<std::string> bytewise(const std::string& text) {
  std::vector<std::string> out;
  for (char c : text) out.emplace_back(1, c);
  return out;
}

class HttpRequestTest : public proxy_test::ProxyTest {
 protected:
  void SetUp() override {
    ProxyTest::SetUp();
    proxy_test::fakeNow = plat::kTicksPerSecond;
  }
  void TearDown() override {
    owner_.request.reset();
    client_.closeConnections();
    settle();
    http::ProxySettings::instance().setSource(nullptr);
    ProxyTest::TearDown();
  }
  std::string url(const ScriptedServer& server, const char* path = "/p") {
    return "http://" + server.endpoint() + path;
  }
  // Starts a request and runs the loop until its owner heard of it.
  void run(const std::string& u, const char* method = "GET") {
    // The scripts serve one exchange per connection unless a test says
    // otherwise.
    if (!reuse_) client_.closeConnections();
    owner_ = Owner();
    owner_.request = client_.createRequest(method, u.c_str());
    configure_(*owner_.request);
    owner_.request->start(&owner_);
    runUntil([&] { return owner_.reports > 0; });
  }

  http::NativeHttpClient client_{nullptr};
  bool reuse_ = false;
  Owner owner_;
  std::function<void(http::HttpRequest&)> configure_ = [](http::HttpRequest&) {};
};

TEST_F(HttpRequestTest, ContentLengthBodyAndTheRequestHead) {
  std::string head;
  ScriptedServer server({respond({"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nX-A: 1\r\n\r\nhel", "lo"}, &head)});
  configure_ = [](http::HttpRequest& r) { r.addHeader("X-Extra", "yes"); };
  run(url(server, "/path?q=1"));
  EXPECT_EQ("ok", owner_.outcome);
  EXPECT_EQ("hello", owner_.body);
  EXPECT_EQ(1, owner_.reports);
  http::HttpRequest& r = *owner_.request;
  EXPECT_EQ(http::HttpRequest::Succeeded, r.state());
  EXPECT_EQ(200, r.statusCode());
  EXPECT_STREQ("1", r.responseHeaders().at(plat::CharArray("x-a")).c_str());
  int32_t total = 0;
  EXPECT_EQ(5, r.progress(&total));
  EXPECT_EQ(5, total);
  EXPECT_GE(r.connectTime(), r.startTime());
  EXPECT_GE(r.sendTime(), r.startTime());
  EXPECT_GE(r.endTime(), r.sendTime());
  // Headers in case-insensitive name order.
  EXPECT_EQ(0u, head.find("GET /path?q=1 HTTP/1.1\r\nHost: " + server.endpoint() + "\r\nUser-Agent: ")) << head;
  EXPECT_NE(std::string::npos, head.find("\r\nX-Extra: yes\r\n\r\n")) << head;
}

TEST_F(HttpRequestTest, ChunkedBodies) {
  struct Case {
    const char* coding;
    const char* body;
    const char* expect;  // the body, or the failure
  };
  // clang-format off
  const Case cases[] = {
      {"chunked", "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", "hello world"},
      {"Chunked ", "A\r\n0123456789\r\n0\r\n\r\n", "0123456789"},
      {"chunked", "5\nhello\r\n0\n\n", "hello"},
      {"chunked", "0\r\n\r\n", ""},
      {"chunked", "5;name=value\r\nhello\r\n0\r\n\r\n", "Error reading response: Unsupported chunk size"},
      {"chunked", "5 \r\nhello\r\n0\r\n\r\n", "Error reading response: Unsupported chunk size"},
      {"chunked", "-5\r\nhello\r\n0\r\n\r\n", "Error reading response: Unsupported chunk size"},
      {"chunked", "\r\nhello\r\n0\r\n\r\n", "Error reading response: Unsupported chunk size"},
      {"chunked", "80000000\r\n", "Error reading response: Unsupported chunk size"},
      {"chunked", "5\r\nhelloXY0\r\n\r\n", "Error reading response: Invalid chunked encoding"},
      {"chunked", "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
                  "000000000000000000000000005\r\n", "Error reading response: Chunk size too long"},
      {"gzip, chunked", "0\r\n\r\n", "Error reading response: Unsupported Transfer-Encoding: gzip, chunked"},
  };
  // clang-format on
  std::vector<ScriptedServer::Script> scripts;
  for (const Case& c : cases) {
    std::vector<std::string> pieces = bytewise(c.body);
    pieces.insert(pieces.begin(),
                  std::string("HTTP/1.1 200 OK\r\nContent-Length: 3\r\nTransfer-Encoding: ") + c.coding + "\r\n\r\n");
    scripts.push_back(respond(pieces));
  }
  ScriptedServer server(std::move(scripts));
  for (const Case& c : cases) {
    run(url(server));
    EXPECT_EQ(1, owner_.reports);
    if (owner_.outcome == "ok")
      EXPECT_EQ(c.expect, owner_.body) << c.body;
    else
      EXPECT_EQ(c.expect, owner_.outcome) << c.body;
    int32_t total = 0;
    (void)owner_.request->progress(&total);
    EXPECT_EQ(-1, total);
  }
}

TEST_F(HttpRequestTest, TrailersJoinTheResponseHeaders) {
  ScriptedServer server({respond(
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nX-A: 1\r\n\r\n3\r\nabc\r\n0\r\nX-B: 2\r\nX-A: 3\r\n\r\n"})});
  run(url(server));
  ASSERT_EQ("ok", owner_.outcome);
  EXPECT_EQ("abc", owner_.body);
  const plat::CaseMap& headers = owner_.request->responseHeaders();
  EXPECT_STREQ("2", headers.at(plat::CharArray("X-B")).c_str());
  EXPECT_STREQ("1,3", headers.at(plat::CharArray("X-A")).c_str());
}

TEST_F(HttpRequestTest, LengthsAndTheBodyLimit) {
  struct Case {
    const char* head;
    int32_t limit;
    const char* expect;
    int32_t received;  // body bytes taken in
  };
  // clang-format off
  const Case cases[] = {
      {"Content-Length: 10", 10, "ok", 10},
      // Refused before any body byte is read.
      {"Content-Length: 11", 10, "Error reading response: Maximum body size of 10 bytes exceeded", 0},
      // Refused at the chunk that would pass the limit.
      {"Transfer-Encoding: chunked", 10, "Error reading response: Maximum body size of 10 bytes exceeded", 6},
      {"Content-Length: 10x", 100, "Error reading response: Unsupported response: no length", 0},
      {"Content-Length: -1", 100, "Error reading response: Unsupported response: no length", 0},
      {"Content-Length: 2147483648", 100, "Error reading response: Unsupported response: no length", 0},
      {"X-No-Length: 1", 100, "Error reading response: Unsupported response: no length", 0},
  };
  // clang-format on
  std::vector<ScriptedServer::Script> scripts;
  for (const Case& c : cases)
    scripts.push_back(respond({std::string("HTTP/1.1 200 OK\r\n") + c.head +
                               "\r\nConnection: close\r\n\r\n6\r\n012345\r\n5\r\n67890\r\n0\r\n\r\n"}));
  ScriptedServer server(std::move(scripts));
  for (const Case& c : cases) {
    configure_ = [&](http::HttpRequest& r) { r.setMaxBodySize(c.limit); };
    run(url(server));
    EXPECT_EQ(c.expect, owner_.outcome) << c.head;
    EXPECT_EQ(c.received, owner_.request->progress(nullptr)) << c.head;
  }
}

TEST_F(HttpRequestTest, StatusesGoToTheOwner) {
  ScriptedServer server({
      respond({"HTTP/1.1 302 Found\r\nLocation: /x\r\nContent-Length: 2\r\n\r\nno"}),
      respond({"HTTP/1.1 302 Found\r\nLocation: /x\r\nContent-Length: 3\r\n\r\nyes"}),
      respond({"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\n",
               "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}),
      respond({"HTTP/1.1 204 No Content\r\nContent-Length: 9\r\n\r\n"}),
      respond({"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n"}),
  });
  owner_.accept = false;
  owner_ = Owner();
  owner_.accept = false;
  owner_.request = client_.createRequest("GET", url(server).c_str());
  owner_.request->start(&owner_);
  runUntil([&] { return owner_.reports > 0; });
  EXPECT_EQ("HTTP status 302 (Found)", owner_.outcome);
  EXPECT_EQ("HttpStatus302", owner_.type);
  EXPECT_EQ(http::HttpRequest::Rejected, owner_.request->state());

  run(url(server));
  EXPECT_EQ("ok", owner_.outcome);
  EXPECT_EQ("yes", owner_.body);
  EXPECT_EQ(std::vector<int32_t>{302}, owner_.statuses);

  // Interim answers are read and dropped; only the final status is asked.
  run(url(server));
  EXPECT_EQ("ok", owner_.outcome);
  EXPECT_EQ("ok", owner_.body);
  EXPECT_EQ(std::vector<int32_t>{200}, owner_.statuses);
  EXPECT_EQ(0u, owner_.request->responseHeaders().count(plat::CharArray("Link")));

  // No body after a 204 or for HEAD, whatever the length says.
  run(url(server));
  EXPECT_EQ("ok", owner_.outcome);
  run(url(server), "HEAD");
  EXPECT_EQ("ok", owner_.outcome);
  EXPECT_EQ("", owner_.body);
}

TEST_F(HttpRequestTest, KeepAliveReuseThroughThePool) {
  auto twoRequests = [](ScriptedServer::Conn& c) {
    c.readUntil("\r\n\r\n");
    c.send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\none");
    c.readUntil("\r\n\r\n");
    c.send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\ntwo");
    // The third asks to close: this connection ends here.
    c.readUntil("\r\n\r\n");
    c.send("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nthree");
    c.peerClosed();
  };
  ScriptedServer server({twoRequests, respond({"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nfour"})});
  reuse_ = true;
  run(url(server));
  EXPECT_EQ("one", owner_.body);
  EXPECT_NE(-1, owner_.request->connectTime());
  run(url(server));
  EXPECT_EQ("two", owner_.body);
  EXPECT_EQ(-1, owner_.request->connectTime());
  // An HTTP/1.0 answer always ends the connection.
  run(url(server));
  EXPECT_EQ("three", owner_.body);
  run(url(server));
  EXPECT_EQ("four", owner_.body);
  EXPECT_NE(-1, owner_.request->connectTime());
  owner_.request.reset();
  client_.closeConnections();
  server.wait();
  EXPECT_EQ(2, server.accepted());
}

TEST_F(HttpRequestTest, CloseConnectionAsked) {
  std::string head;
  ScriptedServer server({respond({"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}, &head),
                         respond({"HTTP/1.1 200 OK\r\nConnection: keep-alive, Close\r\nContent-Length: 2\r\n\r\nok"})});
  reuse_ = true;
  configure_ = [](http::HttpRequest& r) { r.setCloseConnection(); };
  run(url(server));
  EXPECT_EQ("ok", owner_.body);
  EXPECT_NE(std::string::npos, head.find("\r\nConnection: close\r\n")) << head;
  // Not pooled: the next request connects anew, and the answer's own
  // "close" among other tokens ends that connection too.
  configure_ = [](http::HttpRequest&) {};
  run(url(server));
  EXPECT_EQ("ok", owner_.body);
  EXPECT_NE(-1, owner_.request->connectTime());
  owner_.request.reset();
  server.wait();
  EXPECT_EQ(2, server.accepted());
}

TEST_F(HttpRequestTest, RequestBodyLargerThanTheOutputBuffer) {
  const std::string payload(3 * 1024 * 1024, 'b');
  std::string received;
  ScriptedServer server({[&](ScriptedServer::Conn& c) {
    const std::string head = c.readUntil("\r\n\r\n");
    received = c.read(payload.size());
    c.send("HTTP/1.1 201 Created\r\nContent-Length: 0\r\n\r\n");
  }});
  configure_ = [&](http::HttpRequest& r) {
    r.setBody("application/octet-stream",
              plat::Buffer(reinterpret_cast<const unsigned char*>(payload.data()), static_cast<int>(payload.size())));
  };
  run(url(server), "POST");
  EXPECT_EQ("ok", owner_.outcome);
  server.wait();
  EXPECT_EQ(payload.size(), received.size());
  EXPECT_TRUE(received == payload);
}

TEST_F(HttpRequestTest, FailuresOfTheConnection) {
  ScriptedServer server({
      [](ScriptedServer::Conn& c) {
        c.readUntil("\r\n\r\n");
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly part");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        c.resetOnClose();
      },
      [](ScriptedServer::Conn& c) {
        c.readUntil("\r\n\r\n");
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly part");
      },
      [](ScriptedServer::Conn& c) {
        c.readUntil("\r\n\r\n");
        c.send("HTTP/1.1 2000 OK\r\n\r\n");
        c.peerClosed();
      },
  });
  run(url(server));
  EXPECT_EQ(1, owner_.reports);
  EXPECT_EQ(0u, owner_.outcome.find("Error reading response: ")) << owner_.outcome;
  EXPECT_EQ(http::HttpRequest::Failed, owner_.request->state());
  run(url(server));
  EXPECT_EQ(0u, owner_.outcome.find("Error reading response: ")) << owner_.outcome;
  run(url(server));
  EXPECT_EQ("Error reading response: Bad first line", owner_.outcome);
  EXPECT_EQ("HttpParse", owner_.type);

  // Nobody listens any more.
  const int closedPort = yarl_test::freeLoopbackPort();
  run("http://127.0.0.1:" + std::to_string(closedPort) + "/");
  EXPECT_EQ(0u, owner_.outcome.find("Error connecting: ")) << owner_.outcome;
  EXPECT_EQ(-1, owner_.request->endTime());
}

TEST_F(HttpRequestTest, TimeOuts) {
  const auto silent = [](ScriptedServer::Conn& c) {
    c.readUntil("\r\n\r\n");
    c.peerClosed();
  };
  ScriptedServer server({
      silent,
      silent,
      [](ScriptedServer::Conn& c) {
        c.readUntil("\r\n\r\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
      },
  });
  configure_ = [](http::HttpRequest& r) { r.setTimeout(1000); };
  owner_ = Owner();
  owner_.request = client_.createRequest("GET", url(server).c_str());
  configure_(*owner_.request);
  owner_.request->start(&owner_);
  runUntil([&] { return owner_.request->state() == http::HttpRequest::Sending; });
  settle();
  advanceMs(999);
  EXPECT_EQ(0, owner_.reports);
  advanceMs(2);
  runUntil([&] { return owner_.reports > 0; });
  EXPECT_EQ("Timed out fetching resource", owner_.outcome);
  EXPECT_EQ(http::HttpRequest::Failed, owner_.request->state());

  // A new value keeps counting from when the time-out was armed.
  owner_ = Owner();
  owner_.request = client_.createRequest("GET", url(server).c_str());
  owner_.request->setTimeout(1000);
  owner_.request->start(&owner_);
  runUntil([&] { return owner_.request->state() == http::HttpRequest::Sending; });
  advanceMs(500);
  owner_.request->setTimeout(2000);
  advanceMs(1400);
  EXPECT_EQ(0, owner_.reports);
  advanceMs(200);
  runUntil([&] { return owner_.reports > 0; });
  EXPECT_EQ("Timed out fetching resource", owner_.outcome);

  // No time-out at all: the clock may run on.
  owner_ = Owner();
  owner_.deleteInCallback = true;
  owner_.request = client_.createRequest("GET", url(server).c_str());
  owner_.request->setTimeout(-1);
  owner_.request->start(&owner_);
  advanceMs(100000);
  runUntil([&] { return owner_.reports > 0; });
  EXPECT_EQ("ok", owner_.outcome);
  EXPECT_EQ("ok", owner_.body);
  // The owner deleted the request inside its callback.
  EXPECT_EQ(nullptr, owner_.request);
}

// A proxy source the test installs.
struct FixedSource : http::ProxySettingsSource {
  plat::CharArray proxyServer() override { return plat::CharArray(server.c_str()); }
  plat::CharArray userName(int, const char*) override { return plat::CharArray(); }
  plat::CharArray password() override { return plat::CharArray(); }
  uint8_t systemFlag() override { return 0; }
  std::string server;
};

TEST_F(HttpRequestTest, ThroughARealHttpProxy) {
  yarl_test::TempDir dir;
  const int proxyPort = yarl_test::freeLoopbackPort();
  // No ConnectPort line: the proxy tunnels to any port.
  const std::string config = "Port " + std::to_string(proxyPort) +
                             "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\nLogLevel Critical\nLogFile \"" +
                             (dir / "proxy.log") + "\"\n";
  const std::string file = dir.write("proxy.conf", config);
  yarl_test::DaemonProcess proxy({"/usr/bin/tinyproxy", "-d", "-c", file}, proxyPort);
  ASSERT_TRUE(proxy.running()) << "tinyproxy did not start (scripts/deps.sh installs it)";

  std::string head;
  ScriptedServer server({[&](ScriptedServer::Conn& c) {
    head = c.readUntil("\r\n\r\n");
    c.send("HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\nproxied");
    head += c.readUntil("\r\n\r\n");
    c.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nagain\r\n0\r\n\r\n");
  }});
  FixedSource source;
  source.server = "http://127.0.0.1:" + std::to_string(proxyPort);
  http::ProxySettings::instance().setSource(&source);
  reuse_ = true;
  run(url(server));
  EXPECT_EQ("ok", owner_.outcome);
  EXPECT_EQ("proxied", owner_.body);
  // The tunnel is pooled like any connection.
  run(url(server));
  EXPECT_EQ("again", owner_.body);
  EXPECT_EQ(-1, owner_.request->connectTime());
  EXPECT_EQ(0u, head.find("GET /p HTTP/1.1\r\n")) << head;
}

}  // namespace
