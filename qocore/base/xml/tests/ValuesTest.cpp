#include <gtest/gtest.h>

#include "qocore/base/xml/Values.h"

namespace xml {
namespace {

TEST(ValuesTest, ReadsLeadingNumbersOrDefaults) {
  EXPECT_EQ(textToInt(nullptr, 7), 7);
  EXPECT_EQ(textToInt("", 7), 7);
  EXPECT_EQ(textToInt(" -42px", 7), -42);
  EXPECT_EQ(textToInt("abc", 7), 0);
  EXPECT_EQ(textToInt("99999999999", 7), 2147483647);
  EXPECT_EQ(textToShort("40000", 1), 32767);
  EXPECT_EQ(textToShort("-12", 1), -12);
  EXPECT_EQ(textToInt64("-9223372036854775808", 0), INT64_MIN);
  EXPECT_EQ(textToInt64("", -5), -5);
  EXPECT_DOUBLE_EQ(textToDouble(" +2.5e3x", 1.0), 2500.0);
  EXPECT_DOUBLE_EQ(textToDouble("-0.25", 1.0), -0.25);
  EXPECT_DOUBLE_EQ(textToDouble(nullptr, 1.5), 1.5);
  EXPECT_EQ(textToChar("yes", 'n'), 'y');
  EXPECT_EQ(textToChar("", 'n'), 'n');
  EXPECT_STREQ(textOr(nullptr, "d"), "d");
  EXPECT_STREQ(textOr("", "d"), "");
}

}  // namespace
}  // namespace xml
