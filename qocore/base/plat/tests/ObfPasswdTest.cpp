#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/ObfPasswd.h"
#include "qocore/base/plat/tests/HugeText.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "testing/FailureOf.h"

namespace plat {
namespace {

using yarl_test::failureOf;

std::string hex(const void* data, int len) {
  std::string text;
  char two[3];
  for (int i = 0; i < len; ++i) {
    std::snprintf(two, sizeof two, "%02X", static_cast<const unsigned char*>(data)[i]);
    text += two;
  }
  return text;
}

MBuf<char> obfuscate(const char* password) {
  MBuf<char> form(0, true);
  writeObfPasswd(form, password);
  return form;
}

TEST(ObfPasswdTest, BufferFormRoundTrips) {
  const struct {
    const char* password;
    int formLen;
    bool marker;
  } cases[] = {
      {"", 8, false},
      {"a", 8, false},
      {"12345678", 8, false},
      {"123456789", 16, false},
      {"sixteen-bytes-ok", 16, false},
      {"p\xC3\xA4ssword", 20, true},  // 9 bytes with an accented letter
      {"\xC3\xA9t\xC3\xA9", 12, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.password);
    MBuf<char> form = obfuscate(c.password);
    ASSERT_EQ(form.count(), c.formLen);
    EXPECT_EQ(std::string(form.data() + c.formLen - 4, 4) == "UTF8", c.marker);
    if (std::strlen(c.password) >= 4) {
      EXPECT_EQ(std::string(form.data(), form.count()).find(c.password), std::string::npos);
    }
    CharArray back = readObfPasswd(form);
    ASSERT_FALSE(back.isNull());
    EXPECT_STREQ(back.get(), c.password);
    secureFreeStr(back);
  }
}

TEST(ObfPasswdTest, NullPasswordAndEmptyBuffer) {
  MBuf<char> form = obfuscate("previous contents");
  ASSERT_EQ(form.count(), 24);
  writeObfPasswd(form, nullptr);
  EXPECT_EQ(form.count(), 0);
  EXPECT_TRUE(form.secure());
  EXPECT_TRUE(readObfPasswd(form).isNull());

  // Writing replaces what was there.
  form = obfuscate("a much longer previous password");
  writeObfPasswd(form, "short");
  EXPECT_EQ(form.count(), 8);
  EXPECT_STREQ(readObfPasswd(form).get(), "short");
}

// The key is built into the program: stored forms from earlier builds must
// keep reading back, so its value is pinned here.  Each block is enciphered
// on its own, so the first block equals the form of its first 8 bytes.
TEST(ObfPasswdTest, FixedKeyKnownAnswer) {
  MBuf<char> form = obfuscate("password1");
  EXPECT_EQ(hex(form.data(), form.count()), "F0D748AEF05BDD4A2448CC54C1155EF9");
  MBuf<char> firstBlock = obfuscate("password");
  EXPECT_EQ(hex(firstBlock.data(), 8), hex(form.data(), 8));
}

TEST(ObfPasswdTest, RefusesBadLengths) {
  MBuf<char> good = obfuscate("sixteen-bytes-ok");
  std::vector<std::string> forms = {
      std::string(good.data(), 7), std::string(good.data(), 12), std::string(good.data(), 1),
      std::string(good.data(), 9) + "UTF8",  // 13: the marker does not make it whole
  };
  for (const auto& bytes : forms) {
    SCOPED_TRACE(bytes.size());
    MBuf<char> form(bytes.data(), static_cast<int>(bytes.size()), true);
    EXPECT_EQ(failureOf<Exception>([&] { readObfPasswd(form); }), "bad obfuscated password length");
  }
}

TEST(ObfPasswdTest, StreamFormRoundTrips) {
  const std::string longest(512, 'x');
  const std::string longestAccented = std::string(500, 'y') + "\xC3\xBC";  // 502 bytes: 504 + marker
  const struct {
    const char* password;
    int formLen;
  } cases[] = {
      {nullptr, 0},           {"", 8},
      {"hunter2", 8},         {"p\xC3\xA4ssword", 20},
      {longest.c_str(), 512}, {longestAccented.c_str(), 508},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.password ? std::string(c.password).substr(0, 16) : "(null)");
    rdr::MemOutStream os;
    writeObfPasswd(os, c.password);
    writeObfPasswd(os, "next");
    ASSERT_EQ(os.length(), 2 + c.formLen + 2 + 8);
    EXPECT_EQ(os.data()[0] << 8 | os.data()[1], c.formLen);
    MBuf<char> form = obfuscate(c.password);
    EXPECT_EQ(hex(os.data() + 2, c.formLen), hex(form.data(), form.count()));

    rdr::MemInStream is(os.data(), os.length());
    CharArray back = readObfPasswd(is);
    if (c.password) {
      EXPECT_STREQ(back.get(), c.password);
    } else {
      EXPECT_TRUE(back.isNull());
    }
    EXPECT_STREQ(readObfPasswd(is).get(), "next");
    EXPECT_TRUE(is.atEnd());
  }
}

TEST(ObfPasswdTest, StreamLimitOf512Bytes) {
  // Past 512 bytes of form: 513 ASCII bytes make 520, 509 with an accented
  // letter make 512 + 4.
  for (const std::string& password : {std::string(513, 'x'), std::string(507, 'x') + "\xC3\xA4"}) {
    SCOPED_TRACE(password.size());
    rdr::MemOutStream os;
    EXPECT_EQ(failureOf<Exception>([&] { writeObfPasswd(os, password.c_str()); }), "writeObfPasswd: password too long");
    EXPECT_EQ(os.length(), 0);
  }

  std::vector<uint8_t> bytes(2 + 513, 0);
  bytes[0] = 0x02;
  bytes[1] = 0x01;
  rdr::MemInStream is(bytes.data(), static_cast<int32_t>(bytes.size()));
  EXPECT_EQ(failureOf<Exception>([&] { readObfPasswd(is); }), "readObfPasswd: password too long");
}

// A password whose form an int cannot count is refused, not cut: one of
// 2^32 + 4096 bytes used to be stored as its last 4096 bytes' worth.
TEST(ObfPasswdTest, RefusesAPasswordWhoseFormAnIntCannotCount) {
  plat_test::HugeText password('p', (size_t(1) << 32) + 4096);
  ASSERT_TRUE(password.ok());
  MBuf<char> form(0, true);
  EXPECT_EQ(failureOf<Exception>([&] { writeObfPasswd(form, password.get()); }), "writeObfPasswd: password too long");
  EXPECT_EQ(form.count(), 0);
}

}  // namespace
}  // namespace plat
