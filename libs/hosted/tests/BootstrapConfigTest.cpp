#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "libs/hosted/tests/BootstrapTestUtil.h"

namespace {

using hosted_test::outcome;
using yarl_test::signedData;
using yarl_test::signedDocument;

class BootstrapConfigTest : public ::testing::Test {
 protected:
  std::unique_ptr<ssl::SslTrustManager> trust_ = yarl_test::vendorTrust();
};

TEST_F(BootstrapConfigTest, SignedByTheVendorIsAcceptedWithItsValues) {
  plat::Buffer body = signedDocument();
  hosted::BootstrapConfig config(body.count(), body.data(), trust_.get(), yarl_test::kBootstrapUrl, true);
  EXPECT_TRUE(config.isSigned());
  EXPECT_TRUE(config.isValidNow());
  EXPECT_EQ(config.configCount(), 1);
  ASSERT_EQ(config.bootstrapUris().size(), 1u);
  EXPECT_STREQ(config.bootstrapUris()[0].get(), "https://127.0.0.1/bootstrap");
  ASSERT_EQ(config.discoveryUris().size(), 1u);
  EXPECT_EQ(config.maxAge(), 3600 * plat::kTicksPerSecond);
  EXPECT_EQ(config.maxBackoffSecs(), 60);
  EXPECT_STREQ(config.parameter("caps/service"), "https://caps.example.com/");
  EXPECT_EQ(config.parameter("absent"), nullptr);

  hosted::BootstrapConfig copy(config);
  EXPECT_STREQ(copy.parameter("caps/service"), "https://caps.example.com/");
  EXPECT_EQ(copy.parameters().size(), config.parameters().size());
}

TEST_F(BootstrapConfigTest, KeysAfterTheSignedDataMayChangeAndTheAlgorithmIgnoresCase) {
  plat::LinkedPtr<hosted::BedMap> root(new hosted::BedMap);
  root->set(yarl_test::kSignedDataKey, signedData(yarl_test::signerChain(), "YARL/RSAPSS-SHA256"));
  root->setString("zz/after", "not signed");
  plat::Buffer body = yarl_test::signBootstrap(*root, yarl_test::signerKey().c_str());
  EXPECT_EQ(outcome(body, trust_.get()), "accepted");
}

TEST_F(BootstrapConfigTest, SignaturesThatDoNotHoldAreRefused) {
  using yarl_test::signerChain;
  using yarl_test::testPkiFile;
  struct Case {
    const char* name;
    std::function<plat::Buffer()> body;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"one signed byte altered",
       [] {
         plat::Buffer body = signedDocument();
         hosted::BedSpan span = hosted::Bed::findKeyRaw(body.count(), body.data(), yarl_test::kSignedDataKey);
         // The last byte of the backoff seconds: 60 becomes 61.
         body.data()[span.data - body.data() + span.length - 1] ^= 1;
         return body;
       },
       "Invalid signature"},
      {"unsigned entry before the signed data",
       [] {
         hosted::BedMap root;
         root.setString("any/prefix", "any/name");
         root.set(yarl_test::kSignedDataKey, signedData());
         return yarl_test::signBootstrap(root, yarl_test::signerKey().c_str());
       },
       "Invalid signature"},
      {"signed by another key than the certificate's",
       [] {
         return signedDocument(
             signedData(testPkiFile("leaf2.pem") + testPkiFile("inter2.pem") + testPkiFile("inter.pem")));
       },
       "Invalid signature"},
      {"signer expired",
       [] { return signedDocument(signedData(testPkiFile("expired.pem") + testPkiFile("inter.pem"))); },
       "Untrusted Bootstrap certificate"},
      {"signer not yet valid",
       [] { return signedDocument(signedData(testPkiFile("future.pem") + testPkiFile("inter.pem"))); },
       "Untrusted Bootstrap certificate"},
      {"signer of another root", [] { return signedDocument(signedData(testPkiFile("stranger.pem"))); },
       "Untrusted Bootstrap certificate"},
      {"signer for another host",
       [] { return signedDocument(signedData(testPkiFile("wronghost.pem") + testPkiFile("inter.pem"))); },
       "Bootstrap certificate not valid for URL"},
      {"no certificates", [] { return signedDocument(signedData("")); }, "Package has no issuing certificate"},
      {"no algorithm", [] { return signedDocument(signedData(signerChain(), nullptr)); },
       "Signed with unsupported algorithm"},
      {"another algorithm", [] { return signedDocument(signedData(signerChain(), "yarl/rsapss-sha512")); },
       "Signed with unsupported algorithm"},
  };
  for (const Case& c : cases) {
    std::string reason;
    EXPECT_EQ(outcome(c.body(), trust_.get(), yarl_test::kBootstrapUrl, true, &reason),
              std::string("Hosted Bootstrap error: ") + c.message)
        << c.name;
    EXPECT_EQ(reason, "GeneralError") << c.name;
  }
}

TEST_F(BootstrapConfigTest, SignatureNeedsTrustAndUrlAndUnsignedNeedsPermission) {
  plat::Buffer body = signedDocument();
  EXPECT_EQ(outcome(body, nullptr), "Hosted Bootstrap error: Bootstrap signature unverifiable");
  EXPECT_EQ(outcome(body, trust_.get(), nullptr), "Hosted Bootstrap error: Bootstrap signature unverifiable");

  plat::Buffer plain = yarl_test::unsignedBootstrap(signedData());
  EXPECT_EQ(outcome(plain, trust_.get()), "Hosted Bootstrap error: Unable to find signature for Bootstrap");
  hosted::BootstrapConfig config(plain.count(), plain.data(), nullptr, nullptr, false);
  EXPECT_FALSE(config.isSigned());

  // An empty signature counts as none.
  hosted::BedMap root;
  root.set(yarl_test::kSignedDataKey, signedData());
  root.set(yarl_test::kSignatureKey, hosted::BedRef(new hosted::BedOpaque(plat::Buffer())));
  plat::Buffer empty = hosted::BedValue::encodeToBuffer(root);
  EXPECT_EQ(outcome(empty, trust_.get()), "Hosted Bootstrap error: Unable to find signature for Bootstrap");
  EXPECT_EQ(outcome(empty, trust_.get(), yarl_test::kBootstrapUrl, false), "accepted");
}

TEST_F(BootstrapConfigTest, ValidFromMoreThanAnHourAheadIsAcceptedButNotValidNow) {
  for (auto [minutes, valid] : {std::pair{59, true}, std::pair{61, false}}) {
    plat::LinkedPtr<hosted::BedMap> data = signedData();
    data->setTime("any/valid-from", plat::getTime() + minutes * 60 * plat::kTicksPerSecond);
    plat::Buffer body = signedDocument(data);
    hosted::BootstrapConfig config(body.count(), body.data(), trust_.get(), yarl_test::kBootstrapUrl, true);
    EXPECT_EQ(config.isValidNow(), valid) << minutes;
  }
}

// Unsigned documents, which decode the same way.
hosted::BootstrapConfig decodeWith(const std::function<void(hosted::BedMap&)>& change) {
  plat::LinkedPtr<hosted::BedMap> data = signedData();
  change(*data);
  plat::Buffer body = yarl_test::unsignedBootstrap(data);
  return hosted::BootstrapConfig(body.count(), body.data(), nullptr, nullptr, false);
}

TEST(BootstrapConfigDecodeTest, NumbersAreClampedAndSaturated) {
  struct Case {
    int64_t backoff;
    int32_t expectBackoff;
    int64_t maxAgeSecs;
    plat::TimeValue expectMaxAge;
  };
  for (const Case& c : std::vector<Case>{{-5, 0, 0, 0},
                                         {4294967296, INT32_MAX, -1, -plat::kTicksPerSecond},
                                         {300, 300, INT64_MAX / 2, INT64_MAX},
                                         {300, 300, INT64_MIN, INT64_MIN}}) {
    hosted::BootstrapConfig config = decodeWith([&](hosted::BedMap& m) {
      m.setInt("btp/max-backoff-secs", c.backoff);
      m.setInt("btp/max-age-secs", c.maxAgeSecs);
    });
    EXPECT_EQ(config.maxBackoffSecs(), c.expectBackoff) << c.backoff;
    EXPECT_EQ(config.maxAge(), c.expectMaxAge) << c.maxAgeSecs;
  }
}

TEST(BootstrapConfigDecodeTest, UrisAndParameters) {
  hosted::BootstrapConfig config = decodeWith([](hosted::BedMap& m) {
    m.setString("btp/initial-discovery-uri", "");
    plat::LinkedPtr<hosted::BedSeq> uris(new hosted::BedSeq);
    uris->append(hosted::BedRef(new hosted::BedString("http://boot.example.com/a")));
    uris->append(hosted::BedRef(new hosted::BedString("https://[::1]:9/b")));
    m.set("btp/bootstrap-uris", uris);
    plat::LinkedPtr<hosted::BedSeq> params(new hosted::BedSeq);
    yarl_test::addParameter(*params, "x", "first");
    yarl_test::addParameter(*params, "x", "second");
    yarl_test::addParameter(*params, "connect/analytics/countly-uri", "https://stats.example.com/");
    m.set("any/parameters", params);
  });
  EXPECT_TRUE(config.discoveryUris().empty());
  EXPECT_EQ(config.bootstrapUris().size(), 2u);
  EXPECT_STREQ(config.parameter("x"), "first");
  EXPECT_STREQ(config.parameters().find("x")->second.get(), "second");
  EXPECT_STREQ(config.analyticsUri(), "https://stats.example.com/");
  EXPECT_EQ(config.analyticsApiKey(), nullptr);
}

TEST(BootstrapConfigDecodeTest, BadValuesAreRefused) {
  struct Case {
    const char* name;
    std::function<void(plat::LinkedPtr<hosted::BedMap>&)> change;
    const char* reason;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"config count 0", [](plat::LinkedPtr<hosted::BedMap>& m) { m->setInt("btp/config-count", 0); }, "GeneralError",
       "Invalid \"btp/config-count\", must be >= 1"},
      {"http discovery",
       [](plat::LinkedPtr<hosted::BedMap>& m) { m->setString("btp/initial-discovery-uri", "http://d.example.com/"); },
       "GeneralError", "Invalid URI scheme: http://d.example.com/"},
      {"discovery with a query",
       [](plat::LinkedPtr<hosted::BedMap>& m) {
         m->setString("btp/initial-discovery-uri", "https://d.example.com/?a=b");
       },
       "GeneralError", "Invalid URI query: https://d.example.com/?a=b"},
      {"ftp bootstrap",
       [](plat::LinkedPtr<hosted::BedMap>& m) {
         plat::LinkedPtr<hosted::BedSeq> uris(new hosted::BedSeq);
         uris->append(hosted::BedRef(new hosted::BedString("ftp://b.example.com/")));
         m->set("btp/bootstrap-uris", uris);
       },
       "GeneralError", "Invalid URI scheme: ftp://b.example.com/"},
      {"missing max age",
       [](plat::LinkedPtr<hosted::BedMap>& m) {
         plat::LinkedPtr<hosted::BedMap> copy(new hosted::BedMap);
         for (const hosted::BedMapEntry& e : m->entries())
           if (std::string(e.key.c_str()) != "btp/max-age-secs") copy->set(e.key.get(), e.value);
         m = copy;
       },
       "BED", "BED key 'btp/max-age-secs' not found"},
      {"count as text", [](plat::LinkedPtr<hosted::BedMap>& m) { m->setString("btp/config-count", "1"); }, "BED",
       "Unexpected BED type"},
  };
  for (const Case& c : cases) {
    plat::LinkedPtr<hosted::BedMap> data = signedData();
    c.change(data);
    plat::Buffer body = yarl_test::unsignedBootstrap(data);
    std::string reason;
    EXPECT_EQ(outcome(body, nullptr, nullptr, false, &reason), std::string("Hosted Bootstrap error: ") + c.message)
        << c.name;
    EXPECT_EQ(reason, c.reason) << c.name;
  }
}

}  // namespace
