#include <gtest/gtest.h>
#include <mbedtls/error.h>

#include <string>
#include <vector>

#include "qocore/base/plat/Time.h"
#include "qocore/libs/ssl/SslException.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsCertificate.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsTrustManager.h"
#include "qocore/libs/ssl/tests/SslTestUtil.h"
#include "testing/LogCapture.h"

namespace {

using ssl::CertChain;
using ssl::SslException;
using ssl_test::cert;

// A trust manager whose lookup holds the test root only (or the given
// certificates).
std::unique_ptr<ssl::MbedTlsTrustManager> manager(const std::vector<std::string>& trusted = {"root"}) {
  auto lookup = std::make_unique<ssl::SslCertLookupCustom>();
  for (const std::string& name : trusted) lookup->addCertificate(cert(name));
  return ssl::MbedTlsTrustManager::create(std::move(lookup));
}

CertChain certs(const std::vector<std::string>& names) {
  CertChain out;
  for (const std::string& n : names) out.push_back(cert(n));
  return out;
}

long verifyCode(const std::string& leaf, const std::vector<std::string>& others,
                const std::vector<std::string>& trusted = {"root"}) {
  auto tm = manager(trusted);
  return ssl_test::sslCode([&] { tm->verifyChain(cert(leaf), certs(others), plat::getTime()); });
}

TEST(TrustManagerTest, GoodChainAnswersLeafToRoot) {
  for (auto others : {std::vector<std::string>{"inter"}, {"expired", "inter", "root"}, {"root", "inter"}}) {
    auto tm = manager();
    CertChain chain = tm->verifyChain(cert("good"), certs(others), plat::getTime());
    ASSERT_EQ(chain.size(), 3u);
    EXPECT_STREQ(chain[0]->subjectText.c_str(), "CN=good.example.com");
    EXPECT_STREQ(chain[1]->subjectText.c_str(), "CN=Yarl Test Intermediate,O=Yarl Test");
    EXPECT_STREQ(chain[2]->subjectText.c_str(), "CN=Yarl Test Root,O=Yarl Test,C=XX");
  }
}

TEST(TrustManagerTest, DefectsMapToTheirCodes) {
  // clang-format off
  struct Case { const char* leaf; std::vector<std::string> others; long code; } cases[] = {
      {"expired",    {"inter"},                SslException::kExpired},
      {"future",     {"inter"},                SslException::kNotYetValid},
      {"undernotca", {"notca"},                SslException::kUnknownIssuer},  // a CA:false issuer is no issuer
      {"deep",       {"subinter", "pathlen0"}, SslException::kUnknownIssuer},  // path length exceeded
      {"weak",       {"inter"},                SslException::kWeakSignature},  // 1024-bit RSA
      {"sha1",       {"inter"},                SslException::kWeakSignature},
      {"stranger",   {"otherroot"},            SslException::kSelfSignedUntrusted},  // self-signed root not trusted
      {"stranger",   {},                       SslException::kUnknownIssuer},
      {"good",       {},                       SslException::kUnknownIssuer},  // missing intermediate
      {"good",       {"inter"},                -1},
  };
  // clang-format on
  for (const Case& c : cases) EXPECT_EQ(verifyCode(c.leaf, c.others), c.code) << c.leaf << " " << c.others.size();
}

TEST(TrustManagerTest, ExpiryWinsOverTrust) {
  EXPECT_EQ(verifyCode("expired", {}), SslException::kExpired);
  EXPECT_EQ(verifyCode("future", {}), SslException::kNotYetValid);
}

TEST(TrustManagerTest, ValidityIsJudgedAtTheGivenTimeAndOnTheReplaceableClock) {
  auto tm = manager();
  auto at = [&](int year) {
    return ssl_test::sslCode(
        [&] { tm->verifyChain(cert("good"), certs({"inter"}), plat::dateToTimeChecked(year, 1, 1, 0, 0, 0)); });
  };
  EXPECT_EQ(at(2019), SslException::kNotYetValid);
  EXPECT_EQ(at(2500), -1);
  EXPECT_EQ(at(3000), SslException::kExpired);
  {
    ssl_test::FixedClock clock(2004, 1, 1);
    EXPECT_EQ(verifyCode("expired", {"inter"}), SslException::kNotYetValid);  // the intermediate is not yet valid then
    EXPECT_EQ(ssl_test::sslCode([&] { cert("expired")->checkValidity(); }), -1);
  }
  {
    ssl_test::FixedClock clock(2920, 1, 1);
    EXPECT_EQ(verifyCode("future", {"inter"}), -1);
  }
}

// An mbedtls chain in the order a peer sends it: the library looks for
// each certificate's issuer only among those after it.
TEST(TrustManagerTest, PeerOrderOfTwoIntermediatesMatters) {
  auto run = [](const std::vector<std::string>& order) {
    std::string pem;
    for (const std::string& n : order) pem += ssl_test::readData(n + ".pem");
    mbedtls_x509_crt chain;
    mbedtls_x509_crt_init(&chain);
    EXPECT_EQ(mbedtls_x509_crt_parse(&chain, reinterpret_cast<const unsigned char*>(pem.c_str()), pem.size() + 1), 0);
    auto tm = manager();
    ssl::MbedTlsCaList ca(tm->lookup());
    uint32_t flags = 0;
    int ret = tm->verifyLinked(&chain, ca.head(), -1, &flags);
    mbedtls_x509_crt_free(&chain);
    if (ret == 0) return -1L;
    return ssl_test::sslCode([&] { ssl::mapVerifyFlags(flags, tm->takeChain()); });
  };
  EXPECT_EQ(run({"deep", "subinter", "pathlen0"}), SslException::kUnknownIssuer);  // in order, but the path is too long
  EXPECT_EQ(run({"good", "inter"}), -1);
  EXPECT_EQ(run({"good", "root", "inter"}), -1);  // a single intermediate in any place
  EXPECT_EQ(run({"leaf2", "inter2", "inter"}), -1);
  EXPECT_EQ(run({"leaf2", "inter", "inter2"}), SslException::kUnknownIssuer);  // two intermediates out of order
}

TEST(TrustManagerTest, FailureIsLoggedWithSubjectAndIssuer) {
  yarl_test::LogCapture log;
  EXPECT_EQ(verifyCode("stranger", {}), SslException::kUnknownIssuer);
  auto lines = log.from("MbedTlsTrustManager");
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0].text, "Certificate validation failed for certificate:");
  EXPECT_EQ(lines[1].text, "   Subject = CN=good.example.com");
  EXPECT_EQ(lines[2].text, "   Issuer  = CN=Yarl Other Root");
  EXPECT_EQ(lines[3].text.rfind("   ", 0), 0u);
}

TEST(TrustManagerTest, CompletionAndSelfIssuedEnd) {
  auto tm = manager({"root", "inter"});
  // The lookup supplies the intermediate too.
  CertChain chain = tm->verifyChain(cert("good"), {}, plat::getTime());
  ASSERT_EQ(chain.size(), 3u);
  EXPECT_TRUE(chain.back()->selfIssued());
  EXPECT_TRUE(tm->takeChain().empty());
}

class ThrowingLookup : public ssl::SslCertLookup {
 public:
  plat::LinkedPtr<ssl::SslCertificate> findBySubject(size_t, const unsigned char*) override {
    throw plat::Exception("lookup broke");
  }
  std::vector<plat::LinkedPtr<ssl::SslCertificate>> list() override { throw plat::Exception("lookup broke"); }
};

TEST(TrustManagerTest, ThrowingLookupIsAFatalErrorLoggedOnce) {
  auto tm = ssl::MbedTlsTrustManager::create(std::make_unique<ThrowingLookup>());
  yarl_test::LogCapture log;
  try {
    tm->verifyChain(cert("good"), certs({"inter"}), plat::getTime());
    ADD_FAILURE() << "no failure";
  } catch (const SslException& e) {
    EXPECT_EQ(e.code(), SslException::kInvalidCertificate);
    EXPECT_NE(std::string(e.str()).find("X509 - A fatal error occurred"), std::string::npos) << e.str();
  }
  auto lines = log.from("MbedTlsTrustManager");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, "ssl error: lookup broke");
}

TEST(TrustManagerTest, FlagMapping) {
  CertChain rootOnly = certs({"root"}), leafOnly = certs({"good"});
  // clang-format off
  struct Case { uint32_t flags; const CertChain* chain; long code; } cases[] = {
      {MBEDTLS_X509_BADCERT_FUTURE | MBEDTLS_X509_BADCERT_EXPIRED, &leafOnly, SslException::kNotYetValid},
      {MBEDTLS_X509_BADCERT_EXPIRED | MBEDTLS_X509_BADCERT_NOT_TRUSTED, &leafOnly, SslException::kExpired},
      {MBEDTLS_X509_BADCERT_NOT_TRUSTED, &rootOnly, SslException::kSelfSignedUntrusted},
      {MBEDTLS_X509_BADCERT_NOT_TRUSTED, &leafOnly, SslException::kUnknownIssuer},
      {MBEDTLS_X509_BADCERT_EXT_KEY_USAGE, &leafOnly, SslException::kBadUsage},
      {MBEDTLS_X509_BADCERT_BAD_KEY, &leafOnly, SslException::kWeakSignature},
      {MBEDTLS_X509_BADCERT_CN_MISMATCH, &leafOnly, SslException::kInvalidCertificate},
  };
  // clang-format on
  for (const Case& c : cases) {
    EXPECT_EQ(ssl_test::sslCode([&] { ssl::mapVerifyFlags(c.flags, *c.chain); }), c.code) << c.flags;
  }
}

}  // namespace
