#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/xml/Base64.h"
#include "qocore/base/xml/ErrorCode.h"

namespace xml {
namespace {

std::vector<unsigned char> bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(Base64Test, EncodesStandardVectors) {
  const std::pair<const char*, const char*> cases[] = {{"", ""},
                                                       {"f", "Zg=="},
                                                       {"fo", "Zm8="},
                                                       {"foo", "Zm9v"},
                                                       {"foob", "Zm9vYg=="},
                                                       {"foobar", "Zm9vYmFy"},
                                                       {"\xFB\xFF", "+/8="}};
  for (const auto& [in, out] : cases) {
    auto b = bytes(in);
    EXPECT_STREQ(base64Encode(b.data(), static_cast<int>(b.size()), false).get(), out);
  }
}

TEST(Base64Test, RoundTripsEveryLengthWithinReservedSize) {
  for (bool formatted : {false, true}) {
    for (int n = 0; n <= 200; ++n) {
      std::vector<unsigned char> data(static_cast<size_t>(n));
      for (int i = 0; i < n; ++i) data[static_cast<size_t>(i)] = static_cast<unsigned char>(i * 37 + n);
      plat::CharArray text = base64Encode(data.data(), n, formatted);
      ASSERT_LT(static_cast<int>(std::strlen(text.get())), base64EncodedSize(n, formatted)) << n;
      int err = -1;
      ASSERT_EQ(base64DecodedSize(text.get(), &err), n) << text.get();
      ASSERT_EQ(err, kNoError);
      std::vector<unsigned char> back(static_cast<size_t>(n) + 1);
      int written = -1;
      ASSERT_EQ(base64Decode(text.get(), back.data(), n, &written), kNoError) << text.get();
      ASSERT_EQ(written, n);
      EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin())) << n;
    }
  }
}

TEST(Base64Test, FormattedBreaksEvery72Characters) {
  std::vector<unsigned char> data(109, 'x');
  std::string text = base64Encode(data.data(), 109, true).get();
  ASSERT_EQ(text.size(), 72u + 1 + 72 + 1 + 4);
  EXPECT_EQ(text[72], '\n');
  EXPECT_EQ(text[145], '\n');
  EXPECT_EQ(text.find('\n', 146), std::string::npos);
  EXPECT_EQ(std::strlen(base64Encode(data.data(), 54, true).get()), 72u);
  EXPECT_EQ(base64EncodedSize(0, false), 5);
  EXPECT_EQ(base64EncodedSize(3, false), 5);
  EXPECT_EQ(base64EncodedSize(4, false), 9);
  EXPECT_EQ(base64EncodedSize(54, true), 74);
  EXPECT_EQ(base64EncodedSize(109, true), 151);
}

TEST(Base64Test, LengthsWhoseEncodingAnIntCannotCountAreRefused) {
  struct Case {
    int length;
    bool formatted;
    int size;
  } cases[] = {
      {1610612733, false, 2147483645},                          // the longest that fits
      {1610612734, false, -1},         {1610612733, true, -1},  // fits only without line feeds
      {INT32_MAX, false, -1},          {INT32_MAX, true, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(base64EncodedSize(c.length, c.formatted), c.size) << c.length;
  // Refused before a byte is read: the buffer is far shorter than claimed.
  const unsigned char bytes[3] = {1, 2, 3};
  EXPECT_THROW(base64Encode(bytes, INT32_MAX, false), plat::Exception);
}

TEST(Base64Test, DecodingFailuresHaveTheirCodes) {
  struct Case {
    const char* text;
    int outSize;
    int code;
    const char* decoded;  // what came out before the verdict
  };
  const Case cases[] = {
      {" Zm 9v\nYm\tFy\r", 6, kNoError, "foobar"}, {"Zm9", 6, kBase64BadLength, ""},
      {"Zm9vY", 6, kBase64BadLength, "foo"},       {"Zm9v!A==", 6, kBase64IllegalChar, "foo"},
      {"Z===", 6, kBase64Truncated, ""},           {"Zg=a", 6, kBase64Truncated, ""},
      {"Zg==Zg==", 6, kBase64Truncated, "f"},      {"Zm9vYmFy", 5, kBase64OutputTooSmall, "foo"},
  };
  for (const Case& c : cases) {
    unsigned char out[8] = {};
    int written = -1;
    EXPECT_EQ(base64Decode(c.text, out, c.outSize, &written), c.code) << c.text;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), static_cast<size_t>(written)), c.decoded) << c.text;
  }
  int err = -1;
  base64DecodedSize("Zm9v*", &err);
  EXPECT_EQ(err, kBase64IllegalChar);
  EXPECT_EQ(base64DecodedSize("Zm9vYg=", &err), 3);
  EXPECT_EQ(err, kBase64BadLength);
}

}  // namespace
}  // namespace xml
