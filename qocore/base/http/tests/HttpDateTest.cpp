#include <gtest/gtest.h>

#include <string>

#include "qocore/base/http/HttpDate.h"
#include "qocore/base/plat/Exception.h"
#include "testing/FailureOf.h"

namespace {

TEST(HttpDateTest, TheThreeFormsOfOneInstant) {
  plat::TimeValue expected;
  ASSERT_TRUE(plat::dateToTime(expected, 1994, 11, 6, 8, 49, 37));
  for (const char* text :
       {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994"}) {
    plat::TimeValue t = 0;
    EXPECT_TRUE(http::parseHttpDate(text, t)) << text;
    EXPECT_EQ(expected, t) << text;
  }
  plat::DString out;
  http::appendHttpDate(out, expected);
  EXPECT_STREQ("Sun, 06 Nov 1994 08:49:37 GMT", out.c_str());
  // Two-digit days need no padding in the asctime form.
  ASSERT_TRUE(plat::dateToTime(expected, 2026, 12, 11, 1, 2, 3));
  EXPECT_EQ(expected, http::parseHttpDateOrThrow("Fri Dec 11 01:02:03 2026"));
}

TEST(HttpDateTest, RefusesWhatDoesNotFormatBack) {
  for (const char* text : {
           "Mon, 06 Nov 1994 08:49:37 GMT",     // wrong weekday
           "Sun, 6 Nov 1994 08:49:37 GMT",      // no leading zero
           "Sunday, 6-Nov-94 08:49:37 GMT",     // no leading zero
           "Sun, 06 nov 1994 08:49:37 GMT",     // month not capitalised
           "Sun, 06 NOV 1994 08:49:37 GMT",     // nor in capitals
           "Sun, 06 Nov 1994  08:49:37 GMT",    // extra blank
           "Sun, 06 Nov 1994 08:49:37 UTC",     // other zone
           "Sun, 31 Nov 1994 08:49:37 GMT",     // no such day
           "Sun, 06 Nov 1994 08:49 GMT",        // no seconds
           "Sun, 06 Nov 1994 08:49:3x GMT",     // not a number
           "Sun Nov 06 08:49:37 1994",          // asctime pads with a blank
           "Sunday, 06-Nov-1994 08:49:37 GMT",  // four-digit year in the dashed form
           "",
       }) {
    plat::TimeValue t = 42;
    EXPECT_FALSE(http::parseHttpDate(text, t)) << text;
    EXPECT_EQ(42, t);
  }
  EXPECT_EQ("invalid HTTP date (soon)",
            yarl_test::failureOf<plat::Exception>([] { (void)http::parseHttpDateOrThrow("soon"); }));
}

}  // namespace
