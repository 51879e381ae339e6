#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qocore/base/http/HttpClient.h"
#include "qocore/base/http/HttpRequest.h"
#include "qocore/base/io/ProxyFetcherConnector.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Timer.h"
#include "testing/FailureOf.h"

namespace {

// Records what the client asks of its TLS layer and hands the inner
// connector back unchanged.
struct RecordingSslFactory : http::SslConnectorFactory {
  std::unique_ptr<io::IoConnector> createConnector(std::unique_ptr<io::IoConnector> inner,
                                                   const char* peerName) override {
    peerNames.push_back(peerName ? peerName : "(null)");
    return inner;
  }
  std::vector<std::string> peerNames;
};

class HttpClientTest : public testing::Test {
 protected:
  plat::TimerManager timers_;
  RecordingSslFactory* factory_ = new RecordingSslFactory;
  http::NativeHttpClient client_{std::unique_ptr<http::SslConnectorFactory>(factory_)};
};

TEST_F(HttpClientTest, UrlGivesPoolKeyHostAndTarget) {
  struct Case {
    const char* url;
    const char* fullUrl;
    const char* host;
    const char* poolKey;
  };
  // clang-format off
  const Case cases[] = {
      {"https://www.example.com/a/b?x=1&y=2", "https://www.example.com/a/b?x=1&y=2", "www.example.com",
       "https://www.example.com"},
      {"https://www.example.com:443/a?x=1", "https://www.example.com/a?x=1", "www.example.com",
       "https://www.example.com"},
      {"https://www.example.com:8443/a", "https://www.example.com:8443/a", "www.example.com:8443",
       "https://www.example.com:8443"},
      {"https://www.example.com", "https://www.example.com/", "www.example.com", "https://www.example.com"},
      {"https://[2001:db8::1]:8443/p", "https://[2001:db8::1]:8443/p", "[2001:db8::1]:8443",
       "https://[2001:db8::1]:8443"},
      {"HTTPS://www.example.com/?", "https://www.example.com/", "www.example.com", "https://www.example.com"},
  };
  // clang-format on
  for (const Case& c : cases) {
    std::unique_ptr<http::HttpRequest> r = client_.createRequest("GET", c.url);
    auto* native = dynamic_cast<http::NativeHttpRequest*>(r.get());
    ASSERT_NE(nullptr, native);
    EXPECT_STREQ(c.fullUrl, r->url()) << c.url;
    EXPECT_STREQ(c.poolKey, native->poolKey()) << c.url;
    EXPECT_STREQ(c.host, r->requestHeaders().at(plat::CharArray("Host")).c_str()) << c.url;
    EXPECT_EQ(1u, r->requestHeaders().count(plat::CharArray("user-agent")));
    EXPECT_EQ(http::HttpRequest::New, r->state());
    EXPECT_STREQ("GET", r->method());
  }
}

TEST_F(HttpClientTest, RefusedUrls) {
  auto refusal = [&](const char* url) {
    try {
      (void)client_.createRequest("GET", url);
    } catch (const plat::AssertionFail& e) {
      return std::string("assert ") + e.expression();
    } catch (const plat::Exception& e) {
      return std::string(e.str());
    }
    return std::string("(created)");
  };
  EXPECT_EQ("assert s.scheme == \"http\" || s.scheme == \"https\"", refusal("ftp://www.example.com/"));
  EXPECT_EQ("assert s.scheme == \"http\" || s.scheme == \"https\"", refusal("www.example.com/"));
  EXPECT_EQ("should not send request with fragment", refusal("https://www.example.com/a#top"));
  // A client with TLS serves "https" only, until told otherwise.
  EXPECT_EQ("assert allowed", refusal("http://www.example.com/"));
  client_.setAllowPlainHttp(true);
  EXPECT_EQ("(created)", refusal("http://www.example.com/"));

  http::NativeHttpClient plain(nullptr);
  EXPECT_TRUE(plain.allowPlainHttp());
  EXPECT_EQ(nullptr, plain.sslFactory());
  EXPECT_NO_THROW((void)plain.createRequest("GET", "http://www.example.com/"));
  EXPECT_THROW((void)plain.createRequest("GET", "https://www.example.com/"), plat::AssertionFail);
}

TEST_F(HttpClientTest, BasicAuthorisationFromTheUrl) {
  auto authorization = [](http::HttpRequest& r) {
    auto it = r.requestHeaders().find(plat::CharArray("Authorization"));
    return it == r.requestHeaders().end() ? std::string("(none)") : std::string(it->second.c_str());
  };
  std::unique_ptr<http::HttpRequest> r = client_.createRequest("GET", "https://user:pw@www.example.com/");
  EXPECT_EQ("Basic dXNlcjpwdw==", authorization(*r));
  r->setBasicAuth(nullptr, nullptr);
  EXPECT_EQ("(none)", authorization(*r));
  r = client_.createRequest("GET", "https://user@www.example.com/");
  EXPECT_EQ("(none)", authorization(*r));
}

TEST_F(HttpClientTest, ConnectorsForPoolKeys) {
  EXPECT_EQ(nullptr, client_.makeConnector("ftp://www.example.com"));
  EXPECT_EQ(nullptr, client_.makeConnector("www.example.com"));
  // Every connection honours the proxy settings.
  EXPECT_NE(nullptr, dynamic_cast<io::ProxyFetcherConnector*>(client_.makeConnector("http://a.example").get()));
  EXPECT_NE(nullptr, dynamic_cast<io::ProxyFetcherConnector*>(client_.makeConnector("https://a.example").get()));
  (void)client_.makeConnector("https://www.example.com:8443");
  (void)client_.makeConnector("https://192.0.2.7");
  (void)client_.makeConnector("https://[2001:db8::1]:8443");
  const std::vector<std::string> expected{"a.example::443", "www.example.com::8443", "(null)", "(null)"};
  EXPECT_EQ(expected, factory_->peerNames);
}

}  // namespace
