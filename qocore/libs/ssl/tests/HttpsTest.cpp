// HTTPS requests end to end: the HTTP client from createHttpClient against
// a TLS server on 127.0.0.1 that presents the test PKI's server chain.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "qocore/base/http/HttpClient.h"
#include "qocore/base/http/HttpRequest.h"
#include "qocore/libs/ssl/SslConnFactory.h"
#include "qocore/libs/ssl/SslVerifier.h"
#include "qocore/libs/ssl/tests/TlsTestSupport.h"

namespace {

using ssl_test::TlsServerRecord;
using ssl_test::TlsSession;
using yarl_test::ScriptedServer;

struct Owner : http::HttpCallback {
  bool acceptStatus(http::HttpRequest&, int32_t status) override {
    this->status = status;
    if (onStatus) onStatus();
    return true;
  }
  void onSucceeded(http::HttpRequest& r) override {
    reports++;
    outcome = "ok";
    if (http::SharedBody b = r.responseBody()) body.assign(reinterpret_cast<const char*>(b->data()), b->count());
  }
  void onFailed(http::HttpRequest&, const plat::Exception& e) override {
    reports++;
    outcome = e.str();
  }
  int status = 0;
  int reports = 0;
  std::string outcome;
  std::string body;
  std::function<void()> onStatus;
};

class HttpsTest : public ssl_test::LoopTest {
 protected:
  void get(http::HttpClient& client, const std::string& url) {
    request_ = client.createRequest("GET", url.c_str());
    request_->start(&owner_);
    runUntil([&] { return owner_.reports > 0; });
  }
  Owner owner_;
  std::unique_ptr<http::HttpRequest> request_;
};

TEST_F(HttpsTest, GetThroughCreateHttpClient) {
  // Several records' worth, so the body crosses the pipes' buffers.
  std::string body;
  for (int i = 0; body.size() < 100000; i++) body += "line " + std::to_string(i) + "\n";
  TlsServerRecord record;
  ScriptedServer server(
      {ssl_test::tlsScript(ssl_test::serving("good", ssl_test::readData("good.key")), record, [&](TlsSession& s) {
        record.received = s.readUntil("\r\n\r\n");
        s.write("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
                body);
        s.closeNotify();
      })});
  std::unique_ptr<http::NativeHttpClient> client(http::createHttpClient(ssl_test::trusting({"root"})));
  auto* factory = dynamic_cast<ssl::SslConnFactory*>(client->sslFactory());
  ASSERT_NE(nullptr, factory);
  EXPECT_EQ(&ssl::SslPublicHttpsVerifier::instance(), &factory->verifier());
  EXPECT_FALSE(client->allowPlainHttp());
  get(*client, "https://" + server.endpoint() + "/file");
  EXPECT_EQ("ok", owner_.outcome);
  EXPECT_EQ(200, owner_.status);
  EXPECT_EQ(body, owner_.body);
  EXPECT_EQ(1, owner_.reports);
  request_.reset();
  client->closeConnections();
  settle();
  server.wait();
  EXPECT_EQ(0, record.handshake);
  EXPECT_EQ(0u, record.received.find("GET /file HTTP/1.1\r\n")) << record.received;
}

// A kept-alive TLS connection goes back to the pool and serves the next
// request.
TEST_F(HttpsTest, SecondRequestReusesThePooledConnection) {
  TlsServerRecord record;
  ScriptedServer server(
      {ssl_test::tlsScript(ssl_test::serving("good", ssl_test::readData("good.key")), record, [&](TlsSession& s) {
        for (const char* body : {"first", "second"}) {
          record.received += s.readUntil("\r\n\r\n");
          s.write(std::string("HTTP/1.1 200 OK\r\nContent-Length: ") + std::to_string(std::strlen(body)) + "\r\n\r\n" +
                  body);
        }
        s.closeNotify();
      })});
  std::unique_ptr<http::NativeHttpClient> client(http::createHttpClient(ssl_test::trusting({"root"})));
  for (const char* body : {"first", "second"}) {
    owner_ = Owner();
    get(*client, "https://" + server.endpoint() + "/" + body);
    EXPECT_EQ("ok", owner_.outcome) << body;
    EXPECT_EQ(body, owner_.body);
    request_.reset();
    settle();
  }
  client->closeConnections();
  settle();
  server.wait();
  EXPECT_EQ(1, server.accepted());
  EXPECT_NE(std::string::npos, record.received.find("GET /second HTTP/1.1\r\n")) << record.received;
}

// A server asked for "Connection: close" answers and closes at once, in
// any of the ways servers do.  Once the body's length is satisfied the
// request has succeeded, however the end looks and however it races the
// client's reading: the body's last records and the end may arrive
// together, and may come while the client is still busy with the head
// (then its read for the body meets both at once).  An end before the
// body is complete is an error.  The client sends nothing after its
// request while it waits, so the server's close is never turned into a
// reset by unread input.
TEST_F(HttpsTest, ServerClosingRightAfterItsAnswer) {
  struct Case {
    const char* name;
    bool wholeBody;
    bool reset;  // otherwise a close without close_notify
    const char* outcome;
  };
  // Several records, so the answer's end and the connection's end are
  // often read together.
  std::string body;
  for (int i = 0; body.size() < 40000; i++) body += "line " + std::to_string(i) + "\n";
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  std::unique_ptr<http::NativeHttpClient> client(http::createHttpClient(ssl_test::trusting({"root"})));
  const ssl_test::TlsServerConfig config = ssl_test::serving("good", ssl_test::readData("good.key"));
  for (const Case& c : {Case{"no close_notify", true, false, "ok"}, Case{"reset", true, true, "ok"},
                        Case{"short, no close_notify", false, false,
                             "Error reading response: SSL Error: Underlying stream truncated"}}) {
    for (int round = 0; round < 10; round++) {
      // Odd rounds: the body and the end follow while the status is handled.
      const bool duringStatus = round % 2 == 1;
      std::atomic<bool> statusSeen = false;
      TlsServerRecord record;
      bool quiet = false;
      ScriptedServer server({[&](ScriptedServer::Conn& conn) {
        TlsSession s(conn, config, record);
        if (!s.handshake()) return;
        record.received = s.readUntil("\r\n\r\n");
        quiet = conn.quietFor(20);
        s.write(head);
        for (int i = 0; duringStatus && !statusSeen && i < ScriptedServer::kWaitMs; i++) ::usleep(1000);
        s.write(c.wholeBody ? body : body.substr(0, body.size() / 2));
        if (c.reset) {
          // The reset follows the answer's arrival rather than destroying it.
          conn.waitSent();
          conn.resetOnClose();
        }
      }});
      owner_ = Owner();
      if (duringStatus) {
        owner_.onStatus = [&] {
          statusSeen = true;
          server.wait();
        };
      }
      request_ = client->createRequest("GET", ("https://" + server.endpoint() + "/file").c_str());
      request_->addHeader("Connection", "close");
      request_->start(&owner_);
      runUntil([&] { return owner_.reports > 0; });
      server.wait();
      EXPECT_EQ(c.outcome, owner_.outcome) << c.name << " round " << round;
      EXPECT_EQ(c.wholeBody ? body.size() : 0u, owner_.body.size()) << c.name << " round " << round;
      EXPECT_EQ(1, owner_.reports) << c.name;
      EXPECT_TRUE(quiet) << c.name << ": the client sent more after its request";
      EXPECT_NE(std::string::npos, record.received.find("\r\nConnection: close\r\n")) << record.received;
      request_.reset();
      settle();
    }
  }
}

// A named host is sent for SNI and compared by the library with the
// certificate, which names no "localhost".
TEST_F(HttpsTest, NamedHostIsCheckedAgainstTheCertificate) {
  TlsServerRecord record;
  ScriptedServer server(
      {ssl_test::tlsScript(ssl_test::serving("good", ssl_test::readData("good.key")), record, [](TlsSession&) {})});
  std::unique_ptr<http::NativeHttpClient> client(http::createHttpClient(ssl_test::trusting({"root"})));
  get(*client, "https://localhost:" + std::to_string(server.port()) + "/file");
  EXPECT_EQ("Error connecting: X.509 Error: Invalid certificate", owner_.outcome);
}

TEST_F(HttpsTest, UntrustedServerFailsTheRequest) {
  TlsServerRecord record;
  ScriptedServer server(
      {ssl_test::tlsScript(ssl_test::serving("good", ssl_test::readData("good.key")), record, [](TlsSession&) {})});
  std::unique_ptr<http::NativeHttpClient> client(http::createHttpClient(ssl_test::trusting({"otherroot"})));
  get(*client, "https://" + server.endpoint() + "/file");
  EXPECT_EQ("Error connecting: X.509 Error: Unknown issuer or bad signature", owner_.outcome);
  EXPECT_EQ(1, owner_.reports);
}

}  // namespace
