// Hosted requests against scripted plain-HTTP servers on 127.0.0.1: the
// service headers, the hand-over of the outcome, the dump and the body
// formatters.

#include <gtest/gtest.h>

#include <string>

#include "libs/hosted/HostedClient.h"
#include "libs/hosted/HostedRequest.h"
#include "libs/hosted/tests/HostedTestSupport.h"
#include "qocore/base/http/HttpRequest.h"
#include "qocore/base/io/mac/IoRunLoopManager.h"
#include "qocore/base/plat/Configuration.h"
#include "testing/LogCapture.h"

namespace {

using hosted_test::answer;
using hosted_test::headerOf;
using hosted_test::httpResponse;
using hosted_test::ScriptedServer;

// The 8-4-4-4-12 lower-case text of a version-4 UUID with the RFC variant.
bool isUuid4(const std::string& s) {
  if (s.size() != 36 || s[14] != '4' || std::string("89ab").find(s[19]) == std::string::npos) return false;
  for (size_t i = 0; i < s.size(); i++) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? s[i] != '-' : std::string("0123456789abcdef").find(s[i]) == std::string::npos) return false;
  }
  return true;
}

// Records the outcome; deletes the request inside the call when it owns
// it, as owners do.
struct Receiver : hosted::HostedRequestCallback {
  void onHostedResponse(hosted::HostedRequest&, plat::Buffer b, const char* type) override {
    reports++;
    outcome = "ok";
    body = hosted_test::text(b);
    contentType = type ? type : "<null>";
    request.reset();
  }
  void onHostedError(hosted::HostedRequest&, const plat::Exception& e) override {
    reports++;
    outcome = e.str();
    errorType = e.typeName();
    request.reset();
  }
  bool acceptStatus(hosted::HostedRequest&, int32_t status) override { return !only || status == only; }

  int32_t only = 0;
  std::unique_ptr<hosted::HostedRequest> request;
  int reports = 0;
  std::string outcome, body, contentType, errorType;
};

class HostedRequestTest : public hosted_test::LoopTest {
 protected:
  std::string url(const ScriptedServer& server, const char* path = "/svc") {
    return "http://" + server.endpoint() + path;
  }
  // Sends one request and runs the loop until its receiver heard of it.
  void run(const std::string& u, const char* method = "GET", const std::string& body = "",
           const char* contentType = nullptr) {
    plat::Buffer bytes(reinterpret_cast<const unsigned char*>(body.data()), static_cast<int32_t>(body.size()));
    receiver_.reports = 0;
    receiver_.request = std::make_unique<hosted::HostedRequest>(*client_, u.c_str(), &receiver_, *endpoint_, false,
                                                                method, bytes, contentType);
    receiver_.request->send();
    ASSERT_TRUE(runUntil([&] { return receiver_.reports > 0; }));
  }

  plat::LinkedPtr<hosted::HostedEndpoint> endpoint_ =
      hosted_test::makeEndpoint({}, {.name = "user", .password = "pw", .token = nullptr, .businessId = "biz-1"});
  std::unique_ptr<hosted::HostedClient> client_ =
      hosted_test::plainClient(endpoint_, hosted::JsonFormatCallback::instance());
  Receiver receiver_;
};

TEST_F(HostedRequestTest, ServiceHeadersAndTheAnswerHandedOn) {
  std::string first, second;
  ScriptedServer server({answer(httpResponse(200, "OK", "{\"a\":1}", "application/json"), &first),
                         answer(httpResponse(200, "OK", ""), &second)});
  run(url(server), "POST", "{\"q\":2}", "application/json");
  EXPECT_EQ("ok", receiver_.outcome);
  EXPECT_EQ("{\"a\":1}", receiver_.body);
  EXPECT_EQ("application/json", receiver_.contentType);
  EXPECT_EQ(nullptr, receiver_.request);
  run(url(server));
  EXPECT_EQ("<null>", receiver_.contentType);
  EXPECT_EQ("", receiver_.body);
  server.wait();

  EXPECT_EQ(0u, first.find("POST /svc HTTP/1.1\r\n"));
  EXPECT_NE(std::string::npos, first.find("\r\n\r\n{\"q\":2}"));
  EXPECT_EQ("application/json", headerOf(first, "Content-Type"));
  EXPECT_EQ("biz-1", headerOf(first, "Corvane-Business-Operation-ID"));
  EXPECT_EQ("biz-1", headerOf(second, "Corvane-Business-Operation-ID"));
  EXPECT_EQ("application/vnd.corvane.bed, application/json, */*;q=0.5", headerOf(first, "Accept"));
  // Unauthenticated requests carry no credentials, whatever the endpoint
  // holds.
  EXPECT_EQ("<none>", headerOf(first, "Authorization"));
  const std::string a = headerOf(first, "Corvane-API-Action-ID"), b = headerOf(second, "Corvane-API-Action-ID");
  EXPECT_TRUE(isUuid4(a)) << a;
  EXPECT_TRUE(isUuid4(b)) << b;
  EXPECT_NE(a, b);
}

TEST_F(HostedRequestTest, RefusedStatusesAndTransportFailuresReachTheErrorCall) {
  ScriptedServer server(
      {answer(httpResponse(204, "No Content", "")), [](ScriptedServer::Conn& c) { c.readUntil("\r\n\r\n"); }});
  receiver_.only = 200;
  run(url(server));
  EXPECT_EQ("HTTP status 204 (No Content)", receiver_.outcome);
  EXPECT_EQ("HttpStatus204", receiver_.errorType);
  // The server closes without an answer: the HTTP layer's failure as it is.
  run(url(server));
  EXPECT_EQ(1, receiver_.reports);
  EXPECT_NE("ok", receiver_.outcome);
  EXPECT_EQ(std::string::npos, receiver_.errorType.find("HttpStatus"));
}

TEST_F(HostedRequestTest, OverHttpsOnlyTheVendorsCertificatesAreTrusted) {
  ssl_test::TlsServerRecord record;
  std::string head;
  ScriptedServer server({hosted_test::tlsAnswer(httpResponse(200, "OK", "hi", "text/plain"), record, &head),
                         hosted_test::tlsAnswer(httpResponse(200, "OK", "hi"), record)});
  const std::string u = "https://" + server.endpoint() + "/svc";
  auto secure = [](const plat::LinkedPtr<hosted::HostedEndpoint>& endpoint) {
    return std::make_unique<hosted::HostedClient>(endpoint, nullptr);
  };
  client_ = secure(endpoint_);
  run(u);
  EXPECT_EQ("ok", receiver_.outcome);
  EXPECT_EQ("hi", receiver_.body);
  EXPECT_EQ("biz-1", headerOf(head, "Corvane-Business-Operation-ID"));
  // The system's roots, or any other, count for nothing here.
  endpoint_ = hosted_test::makeEndpoint({}, {}, "otherroot.pem");
  client_ = secure(endpoint_);
  run(u);
  EXPECT_NE(std::string::npos, receiver_.outcome.find("X.509 Error")) << receiver_.outcome;
}

TEST_F(HostedRequestTest, CredentialsOfTheEndpointOnlyWhenAuthenticating) {
  struct Case {
    const char* name;
    const char* password;
    const char* token;
    const char* authorization;
  };
  // clang-format off
  const Case cases[] = {
      {"user", "pw",      "tok", "Bearer tok:cHc="},
      {"user", nullptr,   "tok", "Bearer tok"},
      {"user", "pw",      nullptr, "Basic dXNlcjpwdw=="},
      {"user", nullptr,   nullptr, "<none>"},
  };
  // clang-format on
  for (const Case& c : cases) {
    auto endpoint = hosted_test::makeEndpoint({}, {.name = c.name, .password = c.password, .token = c.token});
    hosted::HostedClient client(endpoint, nullptr);
    // Built, not sent: the headers are all in place before the send.
    hosted::HostedRequest request(client, "https://127.0.0.1:1/x", &receiver_, *endpoint, true, "GET", plat::Buffer(),
                                  nullptr);
    const plat::CaseMap& headers = request.httpRequest().requestHeaders();
    auto it = headers.find(plat::CharArray("authorization"));
    EXPECT_EQ(c.authorization, it == headers.end() ? std::string("<none>") : std::string(it->second.c_str()))
        << (c.token ? c.token : "-") << " " << (c.password ? c.password : "-");
  }
}

TEST(HostedRequestDeathTest, CredentialsNeverTravelOverPlainHttp) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        io::IoRunLoopManager manager;
        auto endpoint = hosted_test::makeEndpoint({}, {.token = "tok"});
        auto client = hosted_test::plainClient(endpoint);
        hosted::HostedRequest request(*client, "http://127.0.0.1:1/x", nullptr, *endpoint, true, "GET", plat::Buffer(),
                                      nullptr);
      },
      "Assertion 'isSecure\\(\\) \\|\\| !authenticate' failed");
}

TEST_F(HostedRequestTest, TheDumpFollowsItsLevel) {
  struct Case {
    int level;
    bool withBody;
    bool heading;
    bool headers;
    bool bodyText;
  };
  // clang-format off
  const Case cases[] = {
      {0, true,  false, false, false},
      {1, false, false, false, false},
      {1, true,  true,  false, true},
      {2, false, true,  true,  false},
      {2, true,  true,  true,  true},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level * 10 + c.withBody);
    yarl_test::LogCapture log("HostedRequest:capture:100");
    ASSERT_TRUE(hosted::hostedRequestDump.setParam(std::to_string(c.level).c_str(), 1000));
    const std::string body = c.withBody ? "{\"k\":7}" : "";
    ScriptedServer server({answer(httpResponse(200, "OK", body, "application/json", "X-Trace: t1\r\n"))});
    run(url(server), "GET", body, c.withBody ? "application/json" : nullptr);
    hosted::hostedRequestDump.unsetParam(1000);
    std::string all;
    for (const auto& r : log.from("HostedRequest")) all += r.text + "\n";
    EXPECT_EQ(c.heading, all.find("Request data for http://") != std::string::npos) << all;
    EXPECT_EQ(c.heading, all.find("Response data for http://") != std::string::npos) << all;
    EXPECT_EQ(c.headers, all.find("X-Trace: t1") != std::string::npos) << all;
    EXPECT_EQ(c.headers, all.find("Corvane-Business-Operation-ID: biz-1") != std::string::npos) << all;
    EXPECT_EQ(c.bodyText, all.find("\"k\"") != std::string::npos) << all;
  }
}

TEST_F(HostedRequestTest, AnAnswerWithoutContentTypeIsDumpedToo) {
  yarl_test::LogCapture log("HostedRequest:capture:100");
  ASSERT_TRUE(hosted::hostedRequestDump.setParam("1", 1000));
  ScriptedServer server({answer(httpResponse(200, "OK", "{\"untyped\":1}"))});
  run(url(server));
  hosted::hostedRequestDump.unsetParam(1000);
  std::string all;
  for (const auto& r : log.from("HostedRequest")) all += r.text + "\n";
  EXPECT_NE(std::string::npos, all.find("\"untyped\"")) << all;
}

TEST(HostedRequestStaticTest, PrincipalsOutsideLettersAndDigitsAreEncoded) {
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
      {"Alice42", "Alice42"},
      {"", ""},
      {"a-b", "_YS1i"},
      {"x?>", "_eD8-"},
      {"\xc3\xa9", "_w6k"},
  };
  // clang-format on
  for (const auto& [in, out] : cases) EXPECT_STREQ(out, hosted::HostedRequest::encodePrincipal(in).c_str()) << in;
}

TEST(HostedRequestStaticTest, FormattersPickTheEncodingByContentType) {
  const std::string json = "{\"a\": [1, 2]}";
  plat::Buffer jsonBytes(reinterpret_cast<const unsigned char*>(json.data()), static_cast<int32_t>(json.size()));
  plat::Buffer bed = hosted_test::signedDoc();
  hosted::HostedFormatCallback* jsonFormat = hosted::JsonFormatCallback::instance();
  hosted::HostedFormatCallback* bedFormat = hosted::BedFormatCallback::instance();
  const std::string asJson = jsonFormat->formatBody("application/json", jsonBytes).c_str();
  EXPECT_NE(std::string::npos, asJson.find("\"a\"")) << asJson;
  EXPECT_EQ(std::string::npos, asJson.find("not JSON")) << asJson;
  // No content type counts as JSON.
  EXPECT_EQ(asJson, jsonFormat->formatBody(nullptr, jsonBytes).c_str());
  // Anything else goes to the BED formatter.
  const std::string asBed = jsonFormat->formatBody(hosted::kBedContentType, bed).c_str();
  EXPECT_EQ(asBed, bedFormat->formatBody(hosted::kBedContentType, bed).c_str());
  EXPECT_NE(std::string::npos, asBed.find("btp/config-count")) << asBed;
  EXPECT_NE(std::string::npos, std::string(bedFormat->formatBody("text/plain", jsonBytes).c_str()).find("not BED"));
}

}  // namespace
