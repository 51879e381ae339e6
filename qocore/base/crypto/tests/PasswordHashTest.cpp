#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qocore/base/crypto/PasswordHash.h"
#include "qocore/base/crypto/Pbkdf2.h"
#include "qocore/base/crypto/tests/CryptoTestUtil.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/Time.h"

namespace {

using crypto_test::fromHex;
using crypto_test::toHex;

uint32_t be32(const std::string& s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

plat::Buffer bufferOf(const std::string& s) {
  return plat::Buffer(reinterpret_cast<const unsigned char*>(s.data()), static_cast<int>(s.size()));
}

std::string derive(const std::string& password, const std::string& salt, uint32_t rounds, uint32_t dkLen,
                   uint32_t bits) {
  crypto::Pbkdf2 pbkdf2(password.c_str(), bufferOf(salt), rounds, dkLen, bits);
  EXPECT_EQ(pbkdf2.roundsDone(), rounds);
  EXPECT_TRUE(pbkdf2.derivedKey().secure());
  return toHex(pbkdf2.derivedKey());
}

// Every case of the committed file, made with Python's hashlib.pbkdf2_hmac.
TEST(Pbkdf2Test, MatchesPythonHashlib) {
  auto v = crypto_test::loadVectors("pbkdf2_vectors.txt");
  int cases = 0;
  for (int i = 0; v.count("p" + std::to_string(i) + "_dk"); ++i, ++cases) {
    const std::string p = "p" + std::to_string(i) + "_";
    SCOPED_TRACE(p);
    EXPECT_EQ(
        derive(v[p + "password"], v[p + "salt"], be32(v[p + "rounds"]), be32(v[p + "dklen"]), be32(v[p + "bits"])),
        toHex(v[p + "dk"]));
  }
  EXPECT_GE(cases, 13);
}

// RFC 6070 (PBKDF2-HMAC-SHA-1); the case with a NUL inside the password
// cannot be a NUL-terminated text.
TEST(Pbkdf2Test, Rfc6070Sha1) {
  struct Case {
    const char* password;
    const char* salt;
    uint32_t rounds;
    uint32_t dkLen;
    const char* dk;
  };
  // clang-format off
  const Case cases[] = {
      {"password", "salt", 1, 20, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
      {"password", "salt", 2, 20, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
      {"password", "salt", 4096, 20, "4b007901b765489abead49d926f721d065a429c1"},
      {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25,
       "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
  };
  // clang-format on
  for (const Case& c : cases) EXPECT_EQ(derive(c.password, c.salt, c.rounds, c.dkLen, 160), c.dk) << c.rounds;
}

// A monotonic clock that moves on 1 ms at every reading.
plat::TimeValue steppingNow = 0;
plat::TimeValue steppingClock(plat::TimeValue, bool* jumped) {
  if (jumped) *jumped = false;
  return steppingNow += plat::kTicksPerMs;
}

class TimedPbkdf2Test : public testing::Test {
 protected:
  void SetUp() override { previous_ = plat::setMonotonicClock(&steppingClock); }
  void TearDown() override { plat::setMonotonicClock(previous_); }

 private:
  plat::MonotonicClockFn previous_ = nullptr;
};

// The first reading notes the start; each later one is 1 ms further on,
// so a budget of B ms allows B - 1 batches after the first 10000 rounds.
TEST_F(TimedPbkdf2Test, RunsWholeBatchesWithinTheBudget) {
  struct Case {
    uint32_t budgetMs;
    uint32_t rounds;
  };
  for (const Case& c : {Case{0, 10000}, Case{1, 10000}, Case{2, 20000}, Case{4, 40000}}) {
    crypto::Pbkdf2 timed(crypto::Pbkdf2::Timed{}, "secret", 32, 16, c.budgetMs, 256);
    EXPECT_EQ(timed.roundsDone(), c.rounds) << c.budgetMs;
    ASSERT_EQ(timed.salt().count(), 16);
    ASSERT_EQ(timed.derivedKey().count(), 32);
    // The same derivation run plainly with the salt it drew.
    crypto::Pbkdf2 plain("secret", timed.salt(), timed.roundsDone(), 32, 256);
    EXPECT_EQ(toHex(plain.derivedKey()), toHex(timed.derivedKey()));
  }
}

// Records the round counts the password hash hands to its derivation and
// derives with one round, so that the limits cost nothing to check.
std::vector<uint32_t> derivedRounds;
plat::Buffer cheapDerive(const char* password, const plat::Buffer& salt, uint32_t rounds) {
  derivedRounds.push_back(rounds);
  crypto::Pbkdf2 pbkdf2(password, salt, 1, 64, 512);
  return pbkdf2.derivedKey();
}

class PasswordHashTest : public testing::Test {
 protected:
  static constexpr int kPriority = 5;
  void TearDown() override {
    plat::Configuration::global().findParam("PasswordHashRounds")->unsetParam(kPriority);
    crypto::setPasswordHashDerive(nullptr);
    derivedRounds.clear();
  }
  void useCheapDerive() { crypto::setPasswordHashDerive(&cheapDerive); }

  static std::string str(const plat::Buffer& b) {
    return std::string(reinterpret_cast<const char*>(b.data()), b.count());
  }
  static bool verify(const char* password, const std::string& record) {
    return crypto::verifyPasswordHashRecord(password, record.size(),
                                            reinterpret_cast<const unsigned char*>(record.data()));
  }
};

TEST_F(PasswordHashTest, MakesRecordsThatCheck) {
  plat::Buffer record = crypto::makePasswordHash("hunter2", 1000);
  ASSERT_EQ(record.count(), 87);
  EXPECT_TRUE(record.secure());
  const std::string r = str(record);
  EXPECT_EQ(r.substr(0, 7), std::string("P2a\x00\x00\x03\xe8", 7));
  // The derived key is PBKDF2-HMAC-SHA-512 of the record's salt.
  crypto::Pbkdf2 expected("hunter2", bufferOf(r.substr(7, 16)), 1000, 64, 512);
  EXPECT_EQ(toHex(r.substr(23)), toHex(expected.derivedKey()));

  EXPECT_TRUE(verify("hunter2", r));
  EXPECT_FALSE(verify("hunter3", r));
  EXPECT_FALSE(verify("", r));
  EXPECT_FALSE(verify(nullptr, r));
  EXPECT_TRUE(crypto::isPasswordHash(record.count(), record.data()));

  // A second record of the same password has its own salt and key.
  const std::string again = str(crypto::makePasswordHash("hunter2", 1000));
  EXPECT_NE(again.substr(7, 16), r.substr(7, 16));
  EXPECT_NE(again.substr(23), r.substr(23));
  EXPECT_TRUE(verify("hunter2", again));

  // The empty password is a password like any other; null makes nothing.
  const std::string empty = str(crypto::makePasswordHash("", 1000));
  EXPECT_TRUE(verify("", empty));
  EXPECT_FALSE(verify("x", empty));
  EXPECT_TRUE(crypto::makePasswordHash(nullptr, 1000).empty());
}

TEST_F(PasswordHashTest, MalformedRecordsAreRefusedWithoutHashing) {
  useCheapDerive();
  const std::string good = str(crypto::makePasswordHash("pw", 5));
  derivedRounds.clear();
  std::vector<std::string> bad = {good.substr(0, 86), good + "x", std::string(87, 'P')};
  for (int i = 0; i < 3; ++i) {
    std::string tag = good;
    tag[i] ^= 0x20;
    bad.push_back(tag);
  }
  for (uint32_t rounds : {0u, 20000001u, 0xFFFFFFFFu, 0x80000000u}) {
    std::string r = good;
    for (int i = 0; i < 4; ++i) r[3 + i] = static_cast<char>(rounds >> (24 - 8 * i));
    bad.push_back(r);
  }
  for (const std::string& r : bad) EXPECT_FALSE(verify("pw", r)) << toHex(r.substr(0, 7));
  EXPECT_TRUE(derivedRounds.empty());
  EXPECT_FALSE(crypto::verifyPasswordHashRecord("pw", 87, nullptr));
}

TEST_F(PasswordHashTest, RoundCountsAndTheirLimits) {
  useCheapDerive();
  struct Case {
    int32_t asked;
    uint32_t written;
  };
  // 0 and below take the parameter's default; above the cap is the cap.
  for (const Case& c : {Case{0, 20000}, Case{-5, 20000}, Case{1, 1}, Case{20000000, 20000000}, Case{20000001, 20000000},
                        Case{0x7FFFFFFF, 20000000}}) {
    derivedRounds.clear();
    const std::string r = str(crypto::makePasswordHash("pw", c.asked));
    EXPECT_EQ(be32(r.substr(3, 4)), c.written) << c.asked;
    EXPECT_EQ(derivedRounds, std::vector<uint32_t>{c.written});
    // Checking runs exactly the stored rounds (1 and 20000000 included).
    derivedRounds.clear();
    EXPECT_TRUE(verify("pw", r));
    EXPECT_EQ(derivedRounds, std::vector<uint32_t>{c.written});
  }
  ASSERT_TRUE(plat::Configuration::global().setParam("PasswordHashRounds", "123456", kPriority));
  EXPECT_EQ(be32(str(crypto::makePasswordHash("pw", 0)).substr(3, 4)), 123456u);
  EXPECT_FALSE(plat::Configuration::global().setParam("PasswordHashRounds", "999", kPriority));
  EXPECT_FALSE(plat::Configuration::global().setParam("PasswordHashRounds", "20000001", kPriority));
}

TEST_F(PasswordHashTest, RecognisesRecordsByLengthAndTagOnly) {
  std::string any(87, '\xff');
  any.replace(0, 3, "P2a");
  const auto* p = reinterpret_cast<const unsigned char*>(any.data());
  EXPECT_TRUE(crypto::isPasswordHash(87, p));
  EXPECT_FALSE(crypto::isPasswordHash(86, p));
  EXPECT_FALSE(crypto::isPasswordHash(88, p));
  any[2] = 'A';
  EXPECT_FALSE(crypto::isPasswordHash(87, p));
  EXPECT_FALSE(crypto::isPasswordHash(87, nullptr));
}

}  // namespace
