// Capability requests against the mock cloud: waits, retries, redirects,
// paging and the cloud's refusals, each seen in what the cloud received.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "libs/hostedremoteaccess/CapsRequest.h"
#include "libs/hostedremoteaccess/tests/CapsTestSupport.h"
#include "qocore/base/http/HttpDate.h"
#include "qocore/base/plat/DString.h"
#include "testing/DaemonProcess.h"

namespace {

using caps_test::Owner;
using hostedremoteaccess::CapsClient;
using hostedremoteaccess::CapsRequest;

// One route's scripted answers.
std::string route(const std::string& key, const std::string& answers) {
  return R"({"routes": {")" + key + R"(": [)" + answers + "]}}";
}

std::string httpDate(plat::TimeValue time) {
  plat::DString out;
  http::appendHttpDate(out, time);
  return out.c_str();
}

class CapsRequestTest : public caps_test::CloudTest {
 protected:
  // Starts a request of the path on the auth service (afresh) and runs it
  // to its end.
  Owner& run(const char* method = "GET", const std::string& body = "", const std::string& path = "/x") {
    owner_ = Owner();
    owner_.request = std::make_unique<CapsRequest>(capsClient_.get(), CapsClient::kAuth, path.c_str(), &owner_, method,
                                                   caps_test::bytes(body));
    owner_.request->start();
    runUntil([&] { return owner_.ends > 0; });
    settle();
    return owner_;
  }

  // The routes "<method> /node1/x<i>", one per list of answers.
  static std::string routes(const std::vector<std::string>& answers, const char* method = "GET") {
    std::string out = R"({"routes": {)";
    for (size_t i = 0; i < answers.size(); ++i)
      out += (i ? "," : "") + std::string("\"") + method + " /node1/x" + std::to_string(i) + "\": [" + answers[i] + "]";
    return out + "}}";
  }
  Owner& runCase(size_t i) { return run("GET", "", "/x" + std::to_string(i)); }

  Owner owner_;
};

TEST_F(CapsRequestTest, RetryAfterWaitsAndAsksTheSameUrlAgain) {
  startPlainCloud(route("GET /node1/x", R"({"status": 503, "headers": {"Retry-After": "2"}},
                                          {"status": 429, "headers": {"Retry-After": "0"}},
                                          {"status": 200, "json": {"ok": 1}})"));
  Owner& o = run();
  EXPECT_EQ(o.outcome, "response") << o.message;
  EXPECT_EQ(o.delays, (std::vector<int32_t>{2000, 0}));
  EXPECT_EQ(o.body, R"({"ok": 1})");
  EXPECT_EQ(o.contentType, "application/json");
  EXPECT_EQ(o.asked, (std::vector<int32_t>{200}));
  EXPECT_EQ(paths(), (std::vector<std::string>(3, "GET /node1/x")));
}

TEST_F(CapsRequestTest, AtMostElevenWaitsThenTheStatusStands) {
  // One attempt only, so the twelfth 503 is the answer.
  ASSERT_TRUE(hostedremoteaccess::hostedCapsMaxAttempts.setParam("1", 10));
  startPlainCloud(route("GET /node1/x", R"({"status": 503, "headers": {"Retry-After": "1"}})"));
  Owner& o = run();
  hostedremoteaccess::hostedCapsMaxAttempts.unsetParam(10);
  EXPECT_EQ(o.delays, std::vector<int32_t>(11, 1000));
  EXPECT_EQ(o.reason, "HTTPServiceUnavailable");
  EXPECT_EQ(o.type, "Hosted/HTTPServiceUnavailable");
  EXPECT_EQ(o.asked, (std::vector<int32_t>{503}));
  EXPECT_EQ(paths().size(), 12u);
}

TEST_F(CapsRequestTest, RetryAfterTextsGiveTheirWaits) {
  const plat::TimeValue now = plat::getTime() / plat::kTicksPerSecond * plat::kTicksPerSecond;
  // A server clock a day behind: its dates count from its own "Date".
  const plat::TimeValue server = now - 86400 * plat::kTicksPerSecond;
  struct Case {
    std::string retryAfter;
    int32_t lowMs;
    int32_t highMs;
  };
  const Case cases[] = {
      {"0", 0, 0},
      {"3", 3000, 3000},
      {"2147484", 2147483647, 2147483647},
      {"99999999999999999999", 2147483647, 2147483647},
      {httpDate(server - plat::kTicksPerSecond), 0, 0},
      {httpDate(server + 5 * plat::kTicksPerSecond), 4000, 6000},
  };
  std::vector<std::string> answers;
  for (const Case& c : cases)
    answers.push_back(R"({"status": 429, "headers": {"Retry-After": ")" + c.retryAfter + R"(", "Date": ")" +
                      httpDate(server) + R"("}}, {"status": 200})");
  startPlainCloud(routes(answers));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.retryAfter);
    Owner& o = runCase(i);
    ASSERT_EQ(o.delays.size(), 1u);
    EXPECT_GE(o.delays[0], c.lowMs);
    EXPECT_LE(o.delays[0], c.highMs);
    EXPECT_EQ(o.outcome, "response");
  }
}

TEST_F(CapsRequestTest, BusyWithoutAWaitGoesToTheOwner) {
  startPlainCloud(route("GET /node1/x", R"({"status": 429, "headers": {"Retry-After": "soon"}})"));
  Owner& o = run();
  EXPECT_TRUE(o.delays.empty());
  EXPECT_EQ(o.asked, (std::vector<int32_t>{429}));
  EXPECT_EQ(o.reason, "HTTPTooManyRequests");
  EXPECT_EQ(paths().size(), 1u);
}

TEST_F(CapsRequestTest, AServerFailureOnTheLastAttemptIsReported) {
  ASSERT_TRUE(hostedremoteaccess::hostedCapsMaxAttempts.setParam("1", 10));
  startPlainCloud(route("GET /node1/x", R"({"status": 500})"));
  Owner& o = run();
  hostedremoteaccess::hostedCapsMaxAttempts.unsetParam(10);
  EXPECT_EQ(o.reason, "HTTPInternalServerError");
  EXPECT_EQ(o.asked, (std::vector<int32_t>{500}));
  EXPECT_EQ(paths().size(), 1u);
}

TEST_F(CapsRequestTest, RedirectsAreFollowedFiveTimesInARow) {
  // A location without a scheme goes after the base URL.
  startPlainCloud(route("GET /node1/x", R"({"status": 307, "headers": {"Location": "/x"}})"));
  // "/node1" + "/x": every redirect comes back to the same path.
  Owner& o = run();
  EXPECT_EQ(o.reason, "CAPSBadRedirect");
  EXPECT_EQ(o.message, "Hosted Application error: Bad redirect");
  EXPECT_EQ(paths(), (std::vector<std::string>(6, "GET /node1/x")));
}

TEST_F(CapsRequestTest, RedirectsWithASchemeAreSentAsTheyStand) {
  startPlainCloud(R"({"routes": {"POST /node1/x": [{"status": 308, "headers": {"Location": "{base}/node2/y?a=1"}}],
                                 "POST /node2/y?a=1": [{"status": 200, "body": "done"}]}})");
  Owner& o = run("POST", "{}");
  EXPECT_EQ(o.outcome, "response") << o.message;
  EXPECT_EQ(o.body, "done");
  EXPECT_EQ(paths(), (std::vector<std::string>{"POST /node1/x", "POST /node2/y?a=1"}));
  EXPECT_EQ(cloud_->requests()[1].body, "{}");
}

TEST_F(CapsRequestTest, RefusedRedirectsEndTheRequest) {
  // Without a location; with a fragment; with a scheme the HTTP client
  // does not serve.
  const std::vector<std::string> headers = {"{}", R"({"Location": "{base}/node2/y#part"})",
                                            R"({"Location": "ftp://127.0.0.1/y"})"};
  std::vector<std::string> answers;
  for (const std::string& h : headers) answers.push_back(R"({"status": 307, "headers": )" + h + "}");
  startPlainCloud(routes(answers));
  for (size_t i = 0; i < headers.size(); ++i) {
    SCOPED_TRACE(headers[i]);
    Owner& o = runCase(i);
    EXPECT_EQ(o.ends, 1);
    EXPECT_EQ(o.reason, "CAPSBadRedirect");
  }
  EXPECT_EQ(paths().size(), headers.size());
}

TEST_F(CapsRequestTest, PaymentRefusalsNameTheirReason) {
  struct Case {
    const char* answer;
    const char* reason;
  };
  // clang-format off
  const Case cases[] = {
      {R"({"status": 402, "json": {"errors": [{"code": "ConcurrentConnectionLimitReached"}]}})", "CAPSLimitReached"},
      {R"({"status": 402, "json": {"errors": [{"field": "a"}, 7, {"code": "ProductObsolete"}]}})",
       "CAPSSubscriptionObsolete"},
      {R"({"status": 402, "json": {"errors": [{"code": "Other"}, {"code": "ProductObsolete"}]}})", "CAPSObsolete"},
      {R"({"status": 402, "json": {"message": "pay"}})", "CAPSObsolete"},
      {R"({"status": 402, "json": {"errors": []}})", "CAPSObsolete"},
      {R"({"status": 402, "body": "<html>pay</html>", "contentType": "text/html"})", "CAPSObsolete"},
      {R"({"status": 402})", "CAPSObsolete"},
  };
  // clang-format on
  std::vector<std::string> answers;
  for (const Case& c : cases) answers.push_back(c.answer);
  startPlainCloud(routes(answers));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.answer);
    Owner& o = runCase(i);
    EXPECT_EQ(o.ends, 1);
    EXPECT_EQ(o.reason, c.reason);
    EXPECT_EQ(o.message, std::string("Hosted Application error: ") + hostedremoteaccess::CapsException::text(c.reason));
    EXPECT_TRUE(o.asked.empty());
  }
  EXPECT_STREQ(hostedremoteaccess::CapsException::text("CAPSNoCreds"), "Credentials required but not available");
  EXPECT_STREQ(hostedremoteaccess::CapsException::text("CAPSBadRedirect"), "Bad redirect");
  EXPECT_STREQ(hostedremoteaccess::CapsException("CAPSOther").str(), "Hosted Application error");
  EXPECT_STREQ(hostedremoteaccess::CapsException("CAPSOther").typeName(), "Hosted/CAPSOther");
}

TEST_F(CapsRequestTest, ThePagingLinkAndTheServerClock) {
  startPlainCloud(route("GET /node1/x",
                        R"({"status": 200, "headers": {"Link": "<{base}/node1/x?page=2&size=9>; rel=\"next\"",
                                                       "Date": "Wed, 21 Oct 2015 07:28:00 GMT"}})"));
  Owner& o = run();
  EXPECT_EQ(o.nextPage, "2");
  plat::TimeValue date;
  ASSERT_TRUE(http::parseHttpDate("Wed, 21 Oct 2015 07:28:00 GMT", date));
  // Read back from a request that answered.
  o.request = std::make_unique<CapsRequest>(capsClient_.get(), CapsClient::kAuth, "/x", &owner_, "GET", plat::Buffer());
  owner_.request->start();
  runUntil([&] { return owner_.ends == 2; });
  EXPECT_EQ(owner_.request->serverTime(), date);
  EXPECT_EQ(owner_.request->fudgedServerTime(), date - 10 * plat::kTicksPerSecond);
  EXPECT_EQ(owner_.request->nextLinkParam("size").c_str(), std::string("9"));
  EXPECT_EQ(owner_.request->nextLinkParam("none").get(), nullptr);
}

TEST_F(CapsRequestTest, LinksOtherThanNextGiveNothing) {
  const std::vector<std::string> links = {R"(<{base}/a?page=2>; rel=\"prev\")", R"(<{base}/a?page=2>)",
                                          "page=2; rel=next", R"(<{base}/a?page=2>; rel=next)"};
  std::vector<std::string> answers;
  for (const std::string& link : links) answers.push_back(R"({"status": 200, "headers": {"Link": ")" + link + "\"}}");
  startPlainCloud(routes(answers));
  for (size_t i = 0; i < links.size(); ++i) {
    SCOPED_TRACE(links[i]);
    EXPECT_EQ(runCase(i).nextPage, i == 3 ? "2" : "");
  }
}

TEST_F(CapsRequestTest, AnHttpServiceUrlFromTheBootstrapIsRefused) {
  // The plain cloud's documents name "http" nodes: both are refused and
  // the keeper, out of values, reports the refusal.
  yarl_test::MockCloudLayout layout;
  layout.plain = true;
  startCloud("{}", layout);
  Owner& o = run();
  EXPECT_EQ(o.outcome, "error");
  EXPECT_EQ(o.message, "Hosted Bootstrap error: Illegal service scheme 'http'");
  EXPECT_EQ(o.reason, "GeneralError");
  const std::vector<std::string> sent = paths();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].rfind("GET /bootstrap/", 0), 0u);
  EXPECT_EQ(capsClient_->serviceUrl(CapsClient::kAuth), nullptr);
}

TEST_F(CapsRequestTest, ATransportFailureOnTheLastAttemptIsANetworkFailure) {
  ASSERT_TRUE(hostedremoteaccess::hostedCapsMaxAttempts.setParam("1", 10));
  startPlainCloud("{}");
  capsClient_->recordServiceUrl(CapsClient::kAuth,
                                ("http://127.0.0.1:" + std::to_string(yarl_test::freeLoopbackPort())).c_str(), 60, {});
  Owner& o = run();
  hostedremoteaccess::hostedCapsMaxAttempts.unsetParam(10);
  EXPECT_EQ(o.reason, "Network");
  EXPECT_EQ(o.message.find("Hosted Application error: Network failure: "), 0u) << o.message;
}

TEST_F(CapsRequestTest, WithoutRequiredCredentialsNothingIsSent) {
  struct NoCreds : hostedremoteaccess::CapsCredProvider {
    using CapsCredProvider::CapsCredProvider;
    bool bearerToken(plat::CharArray*) override { return false; }
    bool basicCredentials(plat::CharArray*, plat::CharArray*) override { return false; }
  };
  yarl_test::MockCloudLayout layout;
  startCloud("{}", layout);
  capsClient_->recordServiceUrl(CapsClient::kAuth, (cloud_->base() + "/node1").c_str(), 60, {});
  NoCreds provider(capsClient_.get());
  owner_.request = std::make_unique<CapsRequest>(&provider, CapsClient::kAuth, "/x", &owner_,
                                                 CapsRequest::Creds::kRequired, "GET", plat::Buffer());
  owner_.request->start();
  runUntil([&] { return owner_.ends > 0; });
  EXPECT_EQ(owner_.reason, "CAPSNoCreds");
  EXPECT_EQ(owner_.message, "Hosted Application error: Credentials required but not available");
  EXPECT_TRUE(cloud_->requests().empty());
}

TEST_F(CapsRequestTest, OneProviderOnlyAndCredentialsOnlyOverHttps) {
  startPlainCloud("{}");
  CapsRequest request(capsClient_.get(), CapsClient::kAuth, "/x", &owner_, "GET", plat::Buffer());
  request.setBearerToken("t");
  EXPECT_DEATH(request.setBasicCredentials("u", "p"), "Assertion '!credPdr' failed");
  EXPECT_DEATH(request.setBearerToken("t"), "Assertion '!credPdr' failed");
  // The caps client knows a plain "http" node.
  EXPECT_DEATH(request.start(), "Assertion 'request->isSecure\\(\\)' failed");
}

TEST_F(CapsRequestTest, TheOwnerMayDeleteTheRequestWhenTold) {
  struct Case {
    const char* deleteIn;
    const char* answers;
    const char* outcome;
  };
  // clang-format off
  const Case cases[] = {
      {"response", R"({"status": 200})", "response"},
      {"error", R"({"status": 404})", "error"},
      {"retrying", R"({"status": 503, "headers": {"Retry-After": "1"}}, {"status": 200})", ""},
  };
  // clang-format on
  std::vector<std::string> answers;
  for (const Case& c : cases) answers.push_back(c.answers);
  startPlainCloud(routes(answers));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.deleteIn);
    owner_ = Owner();
    owner_.deleteIn = c.deleteIn;
    owner_.request = std::make_unique<CapsRequest>(capsClient_.get(), CapsClient::kAuth,
                                                   ("/x" + std::to_string(i)).c_str(), &owner_, "GET", plat::Buffer());
    owner_.request->start();
    runUntil([&] { return !owner_.request; });
    settle();
    EXPECT_EQ(owner_.outcome, c.outcome);
    EXPECT_EQ(paths().size(), i + 1);
  }
}

}  // namespace
