// The request log of real requests against a scripted server on 127.0.0.1,
// read back from the store with the JSON parser.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "qocore/base/http/HttpClient.h"
#include "qocore/base/http/HttpRequest.h"
#include "qocore/base/http/HttpRequestLog.h"
#include "qocore/base/io/tests/ProxyTestSupport.h"
#include "qocore/base/os/PersistentStore.h"
#include "qocore/base/plat/Json.h"
#include "testing/FileFixtures.h"
#include "testing/ScriptedServer.h"

namespace {

using yarl_test::ScriptedServer;

constexpr int kPriority = 10;

struct Owner : http::HttpCallback {
  bool acceptStatus(http::HttpRequest&, int32_t) override { return true; }
  void onSucceeded(http::HttpRequest&) override { outcome = "ok"; }
  void onFailed(http::HttpRequest&, const plat::Exception& e) override { outcome = e.str(); }
  std::string outcome;
};

std::vector<std::string> memberNames(const plat::JsonObject& object) {
  std::vector<std::string> names;
  for (const auto& m : object.members()) names.emplace_back(m.name.c_str());
  return names;
}

std::string text(const plat::JsonRef& value) { return value->asString().c_str(); }
int64_t num(const plat::JsonRef& value) { return value->asNumber().value(); }

class HttpRequestLogTest : public proxy_test::ProxyTest {
 protected:
  void SetUp() override {
    ProxyTest::SetUp();
    previousDir_ = os::PersistentStoreFile::defaultStore().dir();
    os::PersistentStoreFile::defaultStore().setDir(dir_.path().c_str());
  }
  void TearDown() override {
    http::httpHarDump.unsetParam(kPriority);
    for (auto* c : {&first_, &second_}) c->closeConnections();
    settle();
    os::PersistentStoreFile::defaultStore().setDir(previousDir_.c_str());
    ProxyTest::TearDown();
  }
  std::string run(http::NativeHttpClient& client, const std::string& url, bool withAuth = false) {
    Owner owner;
    std::unique_ptr<http::HttpRequest> request = client.createRequest("GET", url.c_str());
    if (withAuth) request->setBasicAuth("user", "s3cret-pass");
    request->addHeader("X-Trace", "7");
    request->start(&owner);
    runUntil([&] { return !owner.outcome.empty(); });
    return owner.outcome;
  }
  std::string harPath() const { return dir_.path() + "/httpRequests.har"; }
  std::string readHar() const {
    std::ifstream in(harPath(), std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }

  yarl_test::TempDir dir_;
  std::string previousDir_;
  http::NativeHttpClient first_{nullptr};
  http::NativeHttpClient second_{nullptr};
};

TEST_F(HttpRequestLogTest, NothingIsWrittenWhileSwitchedOff) {
  ScriptedServer server({[](ScriptedServer::Conn& c) {
    c.readUntil("\r\n\r\n");
    c.send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  }});
  EXPECT_EQ("ok", run(first_, "http://" + server.endpoint() + "/"));
  EXPECT_FALSE(std::filesystem::exists(harPath()));
}

TEST_F(HttpRequestLogTest, RequestsOfTwoClientsReadBack) {
  ASSERT_TRUE(http::httpHarDump.setValue(true, kPriority));
  // Two exchanges over one connection, then one for the second client.
  ScriptedServer server({[](ScriptedServer::Conn& c) {
                           c.readUntil("\r\n\r\n");
                           c.send(
                               "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Type: application/json\r\n\r\nhello");
                           c.readUntil("\r\n\r\n");
                           c.send("HTTP/1.1 404 Nope\r\nContent-Length: 0\r\n\r\n");
                           c.peerClosed();
                         },
                         [](ScriptedServer::Conn& c) {
                           c.readUntil("\r\n\r\n");
                           c.send("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx");
                         }});
  const std::string base = "http://" + server.endpoint();
  const int pagesBefore = http::HarDocument::instance().get("log").asObject()->getArray("pages")->count();
  EXPECT_EQ("ok", run(first_, base + "/a?q=1", true));
  EXPECT_EQ("ok", run(first_, base + "/b"));
  first_.closeConnections();
  EXPECT_EQ("ok", run(second_, base + "/c"));

  const std::string har = readHar();
  EXPECT_EQ(std::string::npos, har.find("s3cret")) << har;
  plat::JsonReader reader(har.data(), static_cast<int32_t>(har.size()));
  const plat::JsonObjectRef document = plat::Json::parseHttpBody(nullptr, reader).asObject();
  EXPECT_EQ(std::vector<std::string>{"log"}, memberNames(*document));
  const plat::JsonObjectRef log = document->get("log").asObject();
  EXPECT_EQ((std::vector<std::string>{"version", "creator", "pages", "entries"}), memberNames(*log));
  EXPECT_EQ("1.2", text(log->get("version")));
  EXPECT_EQ((std::vector<std::string>{"name", "version"}), memberNames(*log->get("creator").asObject()));

  const plat::JsonArrayRef pages = log->getArray("pages");
  ASSERT_EQ(pagesBefore + 2, pages->count());
  const std::string firstId = "client_" + std::to_string(pagesBefore);
  const std::string secondId = "client_" + std::to_string(pagesBefore + 1);
  const plat::JsonObjectRef page = pages->get(pagesBefore).asObject();
  EXPECT_EQ((std::vector<std::string>{"startedDateTime", "id", "title", "pageTimings"}), memberNames(*page));
  EXPECT_EQ(firstId, text(page->get("id")));
  EXPECT_NE(std::string::npos, text(page->get("title")).find(", client " + std::to_string(pagesBefore)));
  EXPECT_EQ(-1, num(page->get("pageTimings").asObject()->get("onLoad")));
  EXPECT_EQ(secondId, text(pages->get(pagesBefore + 1).asObject()->get("id")));
  const std::string started = text(page->get("startedDateTime"));
  ASSERT_EQ(29u, started.size()) << started;
  EXPECT_EQ("+00:00", started.substr(23));
  EXPECT_EQ('.', started[19]);

  const plat::JsonArrayRef entries = log->getArray("entries");
  ASSERT_GE(entries->count(), 3);
  const int last = entries->count() - 1;
  const plat::JsonObjectRef a = entries->get(last - 2).asObject();
  const plat::JsonObjectRef b = entries->get(last - 1).asObject();
  const plat::JsonObjectRef c = entries->get(last).asObject();
  EXPECT_EQ((std::vector<std::string>{"startedDateTime", "pageref", "time", "request", "response", "timings", "cache"}),
            memberNames(*a));
  EXPECT_EQ(firstId, text(a->get("pageref")));
  EXPECT_EQ(firstId, text(b->get("pageref")));
  EXPECT_EQ(secondId, text(c->get("pageref")));

  const plat::JsonObjectRef request = a->get("request").asObject();
  EXPECT_EQ((std::vector<std::string>{"method", "url", "httpVersion", "cookies", "headers", "queryString",
                                      "headersSize", "bodySize"}),
            memberNames(*request));
  EXPECT_EQ("GET", text(request->get("method")));
  EXPECT_EQ(base + "/a?q=1", text(request->get("url")));
  bool sawAuthorization = false, sawTrace = false;
  const plat::JsonArrayRef headers = request->getArray("headers");
  for (int i = 0; i < headers->count(); i++) {
    const plat::JsonObjectRef h = headers->get(i).asObject();
    EXPECT_EQ((std::vector<std::string>{"name", "value"}), memberNames(*h));
    if (text(h->get("name")) == "Authorization") {
      sawAuthorization = true;
      EXPECT_EQ("<redacted>", text(h->get("value")));
    }
    if (text(h->get("name")) == "X-Trace") {
      sawTrace = true;
      EXPECT_EQ("7", text(h->get("value")));
    }
  }
  EXPECT_TRUE(sawAuthorization);
  EXPECT_TRUE(sawTrace);
  EXPECT_EQ(0, num(request->get("bodySize")));

  const plat::JsonObjectRef response = a->get("response").asObject();
  EXPECT_EQ((std::vector<std::string>{"status", "statusText", "httpVersion", "cookies", "redirectURL", "headers",
                                      "content", "headersSize", "bodySize"}),
            memberNames(*response));
  EXPECT_EQ(200, num(response->get("status")));
  EXPECT_EQ("OK", text(response->get("statusText")));
  EXPECT_EQ(5, num(response->get("bodySize")));
  EXPECT_EQ("application/json", text(response->get("content").asObject()->get("mimeType")));
  EXPECT_EQ(5, num(response->get("content").asObject()->get("size")));

  // The reason phrase is the table's, not the server's; no body, no type.
  const plat::JsonObjectRef missing = b->get("response").asObject();
  EXPECT_EQ(404, num(missing->get("status")));
  EXPECT_EQ("Not Found", text(missing->get("statusText")));
  EXPECT_EQ("text/plain", text(missing->get("content").asObject()->get("mimeType")));
  EXPECT_EQ(0, num(missing->get("content").asObject()->get("size")));

  // A new connection is timed from its start; a pooled one has no connect.
  const plat::JsonObjectRef fresh = a->get("timings").asObject();
  EXPECT_EQ((std::vector<std::string>{"blocked", "dns", "connect", "send", "wait", "receive"}), memberNames(*fresh));
  EXPECT_EQ(-1, num(fresh->get("dns")));
  EXPECT_GE(num(fresh->get("connect")), 0);
  EXPECT_EQ(-1, num(b->get("timings").asObject()->get("connect")));
  EXPECT_TRUE(a->get("cache").asObject()->members().empty());
}

// A finished request with chosen timestamps: the timings are arithmetic on
// them, so the extremes are set directly rather than waited for.
struct TimedRequest : http::HttpRequest {
  void setTimeout(int32_t) override {}
  void setBasicAuth(const char*, const char*) override {}
  void setMaxBodySize(int32_t) override {}
  void addHeader(const char*, const char*) override {}
  void setBody(const char*, const plat::Buffer&) override {}
  void setCloseConnection() override {}
  void start(http::HttpCallback*) override {}
  int32_t state() override { return Succeeded; }
  const char* url() override { return "http://127.0.0.1/"; }
  const char* method() override { return "GET"; }
  const plat::Buffer& requestBody() override { return body; }
  const plat::CaseMap& requestHeaders() override { return headers; }
  int64_t startTime() override { return times[0]; }
  int64_t connectTime() override { return times[1]; }
  int64_t sendTime() override { return times[2]; }
  int64_t endTime() override { return times[3]; }
  int32_t statusCode() override { return 200; }
  const plat::CaseMap& responseHeaders() override { return headers; }
  http::SharedBody responseBody() override { return nullptr; }
  int32_t progress(int32_t*) override { return 0; }

  int64_t times[4];
  plat::Buffer body;
  plat::CaseMap headers;
};

TEST(HarTimings, FromTheRequestTimestamps) {
  constexpr int64_t ms = plat::kTicksPerMs;
  constexpr int64_t huge = int64_t{1} << 50;
  struct Case {
    int64_t start, connect, send, end;
    int64_t blocked, connectMs, wait, time;
  } cases[] = {
      // A new connection: blocked until connecting began.
      {0, 3 * ms, 10 * ms, 25 * ms, 3, 7, 15, 25},
      // A pooled one: blocked until sending, no connect.
      {0, -1, 4 * ms, 9 * ms + ms / 2, 4, -1, 5, 9},
      // Spans beyond 32 bits of milliseconds are clamped.
      {0, -1, huge, huge * 2, INT32_MAX, -1, INT32_MAX, int64_t{INT32_MAX} * 2},
  };
  http::HarDocument& document = http::HarDocument::instance();
  const plat::JsonArrayRef entries = document.get("log").asObject()->getArray("entries");
  for (const Case& c : cases) {
    TimedRequest request;
    request.times[0] = c.start;
    request.times[1] = c.connect;
    request.times[2] = c.send;
    request.times[3] = c.end;
    document.addEntry("client_x", request);
    const plat::JsonObjectRef entry = entries->get(entries->count() - 1).asObject();
    const plat::JsonObjectRef timings = entry->get("timings").asObject();
    EXPECT_EQ(c.blocked, num(timings->get("blocked")));
    EXPECT_EQ(c.connectMs, num(timings->get("connect")));
    EXPECT_EQ(c.wait, num(timings->get("wait")));
    EXPECT_EQ(0, num(timings->get("send")));
    EXPECT_EQ(0, num(timings->get("receive")));
    EXPECT_EQ(c.time, num(entry->get("time")));
  }
}

TEST(HarTimings, TimeText) {
  EXPECT_EQ(
      "2001-02-03T04:05:06.789+00:00",
      std::string(http::harTimeText(plat::dateToTimeChecked(2001, 2, 3, 4, 5, 6) + 789 * plat::kTicksPerMs).c_str()));
}

}  // namespace
