#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "qocore/base/crypto/PasswordHash.h"
#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/ObfPasswd.h"
#include "qocore/libs/svr/YarlAuthUtil.h"
#include "testing/LogCapture.h"

namespace {

using yarl_test::LogCapture;
using yarl_test::LogRecord;

constexpr int kDebug = plat::LogSrc::kDebug;
constexpr int kError = plat::LogSrc::kError;

plat::Buffer bytesOf(const std::string& bytes) {
  return plat::Buffer(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
}

plat::Buffer obfuscated(const char* password) {
  plat::MBuf<char> form;
  plat::writeObfPasswd(form, password);
  return plat::Buffer(reinterpret_cast<const unsigned char*>(form.data()), form.count());
}

LogRecord line(int level, const std::string& text) { return {"YarlAuthUtil", level, text}; }

TEST(YarlAuthUtilTest, EachEncodingIsAFreshHashRecordThatOnlyItsPasswordPasses) {
  LogCapture capture("YarlAuthUtil:capture:110");
  const plat::CharArray first = svr::encodePasswordParam("s3cret pässword", false);
  const plat::CharArray second = svr::encodePasswordParam("s3cret pässword", false);
  EXPECT_STRNE(first.get(), second.get());
  for (const plat::CharArray* param : {&first, &second}) {
    SCOPED_TRACE(param->get());
    ASSERT_EQ(std::strlen(param->get()), 174u);
    EXPECT_EQ(std::strspn(param->get(), "0123456789abcdef"), 174u);
    const plat::Buffer stored = plat::hexToBin(param->get());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stored.data()), 3), "P2a");
    // The default round count.
    const uint32_t rounds =
        uint32_t(stored[3]) << 24 | uint32_t(stored[4]) << 16 | uint32_t(stored[5]) << 8 | stored[6];
    EXPECT_EQ(rounds, static_cast<uint32_t>(crypto::passwordHashRounds.getValue()));

    EXPECT_TRUE(svr::hasPassword(stored));
    EXPECT_TRUE(svr::checkPassword("s3cret pässword", stored, "Admin"));
    for (const char* other :
         std::initializer_list<const char*>{"s3cret passwort", "S3cret pässword", "s3cret pässword ", "", nullptr}) {
      EXPECT_FALSE(svr::checkPassword(other, stored, "Admin")) << (other ? other : "(null)");
    }
    // A wrong password is no failure: nothing is logged.
    EXPECT_EQ(capture.records(), std::vector<LogRecord>{});

    // A record cannot be read back.
    EXPECT_STREQ(svr::getPassword(stored, "", false).get(), "");
    EXPECT_EQ(capture.records(), std::vector<LogRecord>{});
    EXPECT_STREQ(svr::getPassword(stored, "", true).get(), "");
    EXPECT_STREQ(svr::getPassword(stored, "ViewOnly", true).get(), "");
    EXPECT_EQ(
        capture.records(),
        (std::vector<LogRecord>{
            line(kDebug, "Error getting password for default user: YarlAuth sectype not supported with salted hash"),
            line(kDebug,
                 "Error getting password for ViewOnly user: YarlAuth sectype not supported with salted "
                 "hash")}));
    capture.clear();
  }
}

TEST(YarlAuthUtilTest, ObfuscatedValuesAreReadBack) {
  struct Case {
    const char* what;
    plat::Buffer stored;
    const char* password;  // what getPassword answers
    bool has;
  };
  std::string p2a = "P2a" + std::string(84, '\x17');
  const Case cases[] = {
      {"ASCII", obfuscated("open sesame"), "open sesame", true},
      {"UTF-8 with its marker", obfuscated("Kennwört"), "Kennwört", true},
      {"a whole block", obfuscated("12345678"), "12345678", true},
      {"the parameter form", plat::hexToBin(svr::encodePasswordParam("pw", true).get()), "pw", true},
      {"the byte form", svr::encodePassword("pw2", true), "pw2", true},
  };
  LogCapture capture("YarlAuthUtil:capture:110");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(svr::hasPassword(c.stored), c.has);
    plat::CharArray password = svr::getPassword(c.stored, "", true);
    EXPECT_STREQ(password.get(), c.password);
    plat::secureFreeStr(password);
    EXPECT_TRUE(svr::checkPassword(c.password, c.stored, ""));
    const std::string longer = std::string(c.password) + "x";
    EXPECT_FALSE(svr::checkPassword(longer.c_str(), c.stored, ""));
    EXPECT_FALSE(svr::checkPassword(longer.substr(0, longer.size() - 2).c_str(), c.stored, ""));
    EXPECT_FALSE(svr::checkPassword(nullptr, c.stored, ""));
  }
  EXPECT_EQ(capture.records(), std::vector<LogRecord>{});
  // The obfuscated form of "pw" is one enciphered block.
  EXPECT_EQ(std::strlen(svr::encodePasswordParam("pw", true).get()), 16u);
  // A value that only looks like a record by its length and tag counts as
  // one: it has a password, which nothing matches.
  EXPECT_TRUE(svr::hasPassword(bytesOf(p2a)));
  EXPECT_FALSE(svr::checkPassword("", bytesOf(p2a), ""));
  EXPECT_EQ(capture.records(), std::vector<LogRecord>{});
}

TEST(YarlAuthUtilTest, AValueWithoutAPasswordIsReportedByTheCheck) {
  struct Case {
    const char* what;
    plat::Buffer stored;
    const char* user;
    // The debug line of a value that does not decode, or null.
    const char* failure;
  };
  const Case cases[] = {
      {"an empty password", obfuscated(""), "", nullptr},
      {"an empty value", plat::Buffer(), "Admin", nullptr},
      // 87 bytes but not "P2a": obfuscated, of a length that cannot be.
      {"87 bytes", bytesOf("P2b" + std::string(84, 'x')), nullptr, "bad obfuscated password length"},
      {"a cut block", bytesOf(std::string(9, 'x')), "InputOnly", "bad obfuscated password length"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LogCapture capture("YarlAuthUtil:capture:110");
    const std::string user = c.user && *c.user ? c.user : "default";
    EXPECT_FALSE(svr::hasPassword(c.stored));
    EXPECT_STREQ(svr::getPassword(c.stored, c.user, false).get(), "");
    EXPECT_EQ(capture.records(), std::vector<LogRecord>{});

    std::vector<LogRecord> expected;
    if (c.failure) expected.push_back(line(kDebug, "Error getting password for " + user + " user: " + c.failure));
    EXPECT_STREQ(svr::getPassword(c.stored, c.user, true).get(), "");
    EXPECT_EQ(capture.records(), expected);
    capture.clear();

    expected.push_back(line(kError, "No password configured for " + user + " user"));
    EXPECT_FALSE(svr::checkPassword("", c.stored, c.user));
    EXPECT_EQ(capture.records(), expected);
  }
}

}  // namespace
