#include <gtest/gtest.h>

#include <string>

#include "qocore/base/crypto/Jwt.h"
#include "qocore/base/crypto/Rsa.h"
#include "qocore/base/crypto/tests/CryptoTestUtil.h"

namespace {

// Tokens made by data/crypto_oracle.py (python3-cryptography) with a
// 2048-bit key; "other" is a second key.
class JwtTest : public testing::Test {
 protected:
  void SetUp() override {
    v_ = crypto_test::loadVectors("jwt_vectors.txt");
    key_.setFromPem(v_["pem"].c_str());
    other_.setFromPem(v_["otherpem"].c_str());
  }
  std::string v(const char* name) { return v_.at(name); }

  std::map<std::string, std::string> v_;
  crypto::RsaPublicKey key_;
  crypto::RsaPublicKey other_;
};

TEST_F(JwtTest, VerifiesWithTheSigningKeyOnly) {
  const std::string token = v("token");
  for (const std::string& text : {token, token + "\n", token + "\r\n"}) {
    crypto::JwtRS256 jwt(text.c_str());
    EXPECT_TRUE(jwt.isWellFormed());
    EXPECT_TRUE(jwt.verify(key_));
    EXPECT_FALSE(jwt.verify(other_));
  }
  crypto::JwtRS256 jwt(token.c_str());
  EXPECT_EQ(token, std::string(jwt.header()) + "." + jwt.payloadText() + "." + jwt.signature());
  plat::JsonRef payload = jwt.payload();
  ASSERT_TRUE(payload);
  EXPECT_STREQ(payload.asObject()->get("name")->asString().c_str(), "Setup");
  EXPECT_EQ(payload.asObject()->get("iat")->asNumber().value(), 1516239022);
}

TEST_F(JwtTest, RefusesWhatTheKeyDidNotSign) {
  const std::string token = v("token");
  const size_t dot = token.rfind('.');
  std::string flipped = token;
  flipped[dot / 2] = flipped[dot / 2] == 'A' ? 'B' : 'A';
  struct Case {
    const char* what;
    std::string token;
    bool wellFormed;
  };
  // clang-format off
  const Case cases[] = {
      {"signed by another key", v("token_otherkey"), true},
      {"signature one byte short", v("token_short"), true},
      {"signed over SHA-512", v("token_sha512"), true},
      {"signing input changed", flipped, true},
      {"two parts", token.substr(0, dot), false},
      {"signature not Base64", token.substr(0, dot) + ".not*base64", false},
      {"empty", "", false},
  };
  // clang-format on
  for (const Case& c : cases) {
    crypto::JwtRS256 jwt(c.token.c_str());
    EXPECT_EQ(jwt.isWellFormed(), c.wellFormed) << c.what;
    EXPECT_FALSE(jwt.verify(key_)) << c.what;
  }
  crypto::JwtRS256 none(nullptr);
  EXPECT_FALSE(none.isWellFormed());
  EXPECT_FALSE(none.verify(key_));
  EXPECT_FALSE(none.payload());
}

TEST_F(JwtTest, PayloadThatIsNotJsonIsEmpty) {
  crypto::JwtRS256 jwt(v("token_notjson").c_str());
  EXPECT_TRUE(jwt.isWellFormed());
  EXPECT_TRUE(jwt.verify(key_));
  EXPECT_FALSE(jwt.payload());
  // Undecodable payload.
  jwt.setToken("aGVsbG8.!!!.c2ln");
  EXPECT_FALSE(jwt.isWellFormed());
  EXPECT_FALSE(jwt.payload());
}

TEST_F(JwtTest, SetTokenReplacesEveryPart) {
  crypto::JwtRS256 jwt("a.b.c");
  EXPECT_STREQ(jwt.signature(), "c");
  jwt.setToken("a.d");
  EXPECT_STREQ(jwt.header(), "a");
  EXPECT_STREQ(jwt.payloadText(), "d");
  EXPECT_EQ(jwt.signature(), nullptr);
  // Separators in front of a piece are skipped.
  jwt.setToken("..x..y..z.rest");
  EXPECT_STREQ(jwt.header(), "x");
  EXPECT_STREQ(jwt.payloadText(), "y");
  EXPECT_STREQ(jwt.signature(), "z");
}

}  // namespace
