#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qocore/libs/ssl/SslException.h"
#include "qocore/libs/ssl/SslVerifier.h"
#include "qocore/libs/ssl/tests/SslTestUtil.h"

namespace {

using ssl::AltName;
using ssl::SslException;
using ssl::SslHostnameVerifier;
using ssl_test::cert;

TEST(HostnameVerifierTest, PatternRules) {
  // clang-format off
  struct Case { const char* host; const char* pattern; bool match; } cases[] = {
      {"a.example.com",      "*.example.com",  true},
      {"example.com",        "*.example.com",  false},  // bare two-label name
      {"a.b.example.com",    "*.example.com",  false},  // more labels
      {"a.com",              "*.com",          false},  // two labels starting with *
      {"ab.example.com",     "a*.example.com", false},  // partial wildcard
      {"a.b.example.com",    "a.*.example.com", false}, // wildcard in a later label
      {"localhost",          "localhost",      true},
      {"localhost.",         "localhost",      false},
      {"good.example.com.",  "good.example.com", false}, // trailing dot
      {"Good.Example.com",   "good.example.com", false}, // case-sensitive
      {"good.example.com",   "good.example.com", true},
      {"good.example.com",   "good..com",      false},
      {"a.example.com",      "",               false},
  };
  // clang-format on
  for (const Case& c : cases)
    EXPECT_EQ(SslHostnameVerifier::matchPattern(c.host, c.pattern), c.match) << c.host << " " << c.pattern;
}

TEST(HostnameVerifierTest, NamesAddressesAndCommonName) {
  std::vector<AltName> names;
  names.push_back({ssl::kAltDns, plat::CharArray("127.0.0.1"), {}});
  names.push_back({ssl::kAltDns, plat::CharArray("www.example.com"), {}});
  names.push_back({ssl::kAltIp, plat::CharArray("10.0.0.1"), {}});
  EXPECT_TRUE(SslHostnameVerifier::matchName("www.example.com", names, nullptr));
  EXPECT_TRUE(SslHostnameVerifier::matchName("10.0.0.1", names, nullptr));
  EXPECT_FALSE(SslHostnameVerifier::matchName("127.0.0.1", names, "127.0.0.1"));  // an address needs an IP name
  EXPECT_FALSE(SslHostnameVerifier::matchName("cn.example.com", names, "cn.example.com"));  // DNS names present
  EXPECT_TRUE(SslHostnameVerifier::matchName("cn.example.com", {}, "cn.example.com"));
  EXPECT_FALSE(SslHostnameVerifier::matchName("cn.example.com", {}, nullptr));
}

TEST(HostnameVerifierTest, CertificatesAndHostTexts) {
  // clang-format off
  struct Case { const char* leaf; const char* host; long code; } cases[] = {
      {"good",      "good.example.com",      -1},
      {"good",      "good.example.com:443",  -1},
      {"good",      "x.wild.example.com",    -1},
      {"good",      "wild.example.com",      SslException::kHostMismatch},
      {"good",      "127.0.0.1:8443",        -1},
      {"good",      "[::1]:443",             -1},
      {"good",      "[::1]",                 -1},
      {"good",      "[0:0::1]",              -1},   // compared in canonical form
      {"good",      "GOOD.example.com",      SslException::kHostMismatch},
      {"wronghost", "good.example.com",      SslException::kHostMismatch},
      {"onecn",     "onecn.example.com",     -1},   // no SAN: the one common name
      {"twocn",     "twocn.example.com",     SslException::kHostMismatch},  // two common names: none counts
  };
  // clang-format on
  for (const Case& c : cases) {
    std::vector<plat::LinkedPtr<ssl::SslCertificate>> chain{cert(c.leaf)};
    EXPECT_EQ(ssl_test::sslCode([&] { SslHostnameVerifier::instance().verify(chain, c.host); }), c.code)
        << c.leaf << " " << c.host;
  }
}

TEST(UsageVerifierTest, UsageDefects) {
  // clang-format off
  struct Case { std::vector<std::string> chain; const char* message; } cases[] = {
      {{"good", "inter", "root"}, nullptr},
      {{"good", "root"},          nullptr},  // the root is never checked
      {{"clientauth", "inter"},   "X.509 Error: Certificate usage not correct: missing serverAuth ext usage"},
      {{"badku", "inter"},        "X.509 Error: Certificate usage not correct: missing digitalSignature/keyEncipherment usage"},
      {{"good", "clientauth", "root"}, "X.509 Error: Certificate usage not correct: missing intermediate serverAuth ext usage"},
      {{"good", "clientauth"},    nullptr},
  };
  // clang-format on
  for (const Case& c : cases) {
    std::vector<plat::LinkedPtr<ssl::SslCertificate>> chain;
    for (const std::string& n : c.chain) chain.push_back(cert(n));
    try {
      ssl::SslPublicUsageVerifier::instance().verify(chain, "ignored");
      EXPECT_EQ(c.message, nullptr) << c.chain[0];
    } catch (const SslException& e) {
      EXPECT_EQ(e.code(), SslException::kBadUsage);
      EXPECT_STREQ(e.str(), c.message ? c.message : "(none)") << c.chain[0];
    }
  }
}

TEST(HttpsVerifierTest, NameFirstThenUsage) {
  std::vector<plat::LinkedPtr<ssl::SslCertificate>> chain{cert("clientauth"), cert("inter")};
  EXPECT_EQ(ssl_test::sslCode([&] { ssl::SslPublicHttpsVerifier::instance().verify(chain, "other.example.com"); }),
            SslException::kHostMismatch);
  EXPECT_EQ(ssl_test::sslCode([&] { ssl::SslPublicHttpsVerifier::instance().verify(chain, "good.example.com"); }),
            SslException::kBadUsage);
  chain[0] = cert("good");
  EXPECT_EQ(ssl_test::sslCode([&] { ssl::SslPublicHttpsVerifier::instance().verify(chain, "good.example.com"); }), -1);
}

}  // namespace
