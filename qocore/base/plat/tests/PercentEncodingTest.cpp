#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/PercentEncoding.h"

namespace {

TEST(PercentEncoding, Encode) {
  struct Case {
    const char* text;
    bool encodeHighBytes;
    const char* out;
  };
  for (const Case& c : std::vector<Case>{
           {"a b", false, "a%20b"},
           {"azAZ09*-._", true, "azAZ09*-._"},
           {"a/b?c=d&e+f~", false, "a%2Fb%3Fc%3Dd%26e%2Bf%7E"},
           {"\xC3\xA9", true, "%C3%A9"},
           {"\xC3\xA9", false, "\xC3\xA9"},
           {"%\x7f\x01", false, "%25%7F%01"},
           {"", false, ""},
       }) {
    EXPECT_STREQ(plat::percentEncode(c.text, c.encodeHighBytes).get(), c.out) << c.text;
  }
  EXPECT_TRUE(plat::percentEncode(nullptr, true).isNull());
}

TEST(PercentEncoding, Decode) {
  struct Case {
    const char* text;
    bool plusIsBlank;
    const char* out;  // null: "Bad percent encoding"
  };
  for (const Case& c : std::vector<Case>{
           {"a%20b", false, "a b"},
           {"%c3%A9", false, "\xC3\xA9"},
           {"a+b", true, "a b"},
           {"a+b", false, "a+b"},
           {"%2B+", true, "+ "},
           {"plain~", false, "plain~"},
           {"%4", false, nullptr},
           {"%4g", false, nullptr},
           {"100%", false, nullptr},
           {"a%00b", false, nullptr},  // a NUL would cut the result short
       }) {
    try {
      plat::CharArray out = plat::percentDecode(c.text, c.plusIsBlank);
      EXPECT_STREQ(out.get(), c.out) << c.text;
    } catch (const plat::Exception& e) {
      EXPECT_EQ(c.out, nullptr) << c.text << " threw";
      EXPECT_STREQ(e.str(), "Bad percent encoding");
    }
  }
  EXPECT_TRUE(plat::percentDecode(nullptr, false).isNull());
}

TEST(PercentEncoding, EveryByteSurvivesTheRoundTrip) {
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  for (bool high : {false, true}) {
    plat::CharArray encoded = plat::percentEncode(all.c_str(), high);
    EXPECT_STREQ(plat::percentDecode(encoded.get(), true).get(), all.c_str()) << "high bytes encoded: " << high;
  }
}

}  // namespace
