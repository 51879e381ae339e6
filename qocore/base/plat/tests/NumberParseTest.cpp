#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/NumberParse.h"
#include "testing/FailureOf.h"

namespace {

using yarl_test::failureOf;

template <typename T>
struct ParseCase {
  const char* text;
  int base;
  bool ok;
  T value;       // when ok
  int consumed;  // when ok: how far the cursor moves
};

// Runs one parser over a table; a refusal must leave the output and the
// cursor where they were.
template <typename T>
void checkParser(bool (*parse)(T&, const char*&, int), const std::vector<ParseCase<T>>& cases) {
  const T sentinel = T(123);
  for (const ParseCase<T>& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << (c.text ? c.text : "<null>") << "\" base " << c.base);
    T out = sentinel;
    const char* cursor = c.text;
    ASSERT_EQ(parse(out, cursor, c.base), c.ok);
    if (c.ok) {
      EXPECT_EQ(out, c.value);
      EXPECT_EQ(cursor, c.text + c.consumed);
    } else {
      EXPECT_EQ(out, sentinel);
      EXPECT_EQ(cursor, c.text);
    }
  }
}

TEST(NumberParseTest, ParseIntTakesTheInt32Range) {
  checkParser<int32_t>(plat::parseInt, {
                                           {"42", 10, true, 42, 2},
                                           {"  -17xyz", 10, true, -17, 5},
                                           {"+5", 10, true, 5, 2},
                                           {"2147483647", 10, true, INT32_MAX, 10},
                                           {"-2147483648", 10, true, INT32_MIN, 11},
                                           {"0x1f", 0, true, 31, 4},
                                           {"017", 0, true, 15, 3},
                                           {"017", 10, true, 17, 3},
                                           {"fF", 16, true, 255, 2},
                                           {"2147483648", 10, false, 0, 0},
                                           {"-2147483649", 10, false, 0, 0},
                                           {"99999999999999999999", 10, false, 0, 0},  // beyond long
                                           {"", 10, false, 0, 0},
                                           {"x1", 10, false, 0, 0},
                                           {"-", 10, false, 0, 0},
                                           {"12", 1, false, 0, 0},  // no such base
                                           {nullptr, 10, false, 0, 0},
                                       });
}

TEST(NumberParseTest, ParseUIntRefusesNegativesInsteadOfWrapping) {
  checkParser<uint32_t>(plat::parseUInt, {
                                             {"4294967295", 10, true, UINT32_MAX, 10},
                                             {"0xffffffff", 0, true, UINT32_MAX, 10},
                                             {" +7;", 10, true, 7, 3},
                                             {"0", 10, true, 0, 1},
                                             {"-1", 10, false, 0, 0},
                                             {" -0", 10, false, 0, 0},
                                             {"-ff", 16, false, 0, 0},
                                             {"4294967296", 10, false, 0, 0},
                                             {"18446744073709551616", 10, false, 0, 0},  // beyond unsigned long
                                             {"", 10, false, 0, 0},
                                             {nullptr, 10, false, 0, 0},
                                         });
}

TEST(NumberParseTest, ParseS64TakesTheInt64Range) {
  checkParser<int64_t>(plat::parseS64, {
                                           {"9223372036854775807", 10, true, INT64_MAX, 19},
                                           {"-9223372036854775808", 10, true, INT64_MIN, 20},
                                           {"-0x10 ", 0, true, -16, 5},
                                           {"9223372036854775808", 10, false, 0, 0},
                                           {"-9223372036854775809", 10, false, 0, 0},
                                           {"z", 10, false, 0, 0},
                                           {nullptr, 10, false, 0, 0},
                                       });
}

TEST(NumberParseTest, ParseU64TakesTheUInt64RangeWithoutASign) {
  checkParser<uint64_t>(plat::parseU64, {
                                            {"18446744073709551615", 10, true, UINT64_MAX, 20},
                                            {"0xFFFFFFFFFFFFFFFF", 0, true, UINT64_MAX, 18},
                                            {"644 rest", 8, true, 0644, 3},
                                            {"18446744073709551616", 10, false, 0, 0},
                                            {"-1", 10, false, 0, 0},
                                            {"", 10, false, 0, 0},
                                            {nullptr, 10, false, 0, 0},
                                        });
}

TEST(NumberParseTest, ThrowingFormsNameTheirWidth) {
  struct Case {
    const char* what;
    std::function<void()> call;
    const char* message;
  };
  const char* text = nullptr;
  const Case cases[] = {
      {"parseIntOrThrow", [&] { plat::parseIntOrThrow(text = "x"); }, "Failed to parse integer"},
      {"parseUIntOrThrow", [&] { plat::parseUIntOrThrow(text = "-1"); }, "Failed to parse integer"},
      {"parseS64OrThrow", [&] { plat::parseS64OrThrow(text = "9223372036854775808"); }, "Failed to parse S64 integer"},
      {"parseU64OrThrow", [&] { plat::parseU64OrThrow(text = "-1"); }, "Failed to parse U64 integer"},
      {"parseS64Whole trailing", [] { plat::parseS64Whole("5 "); }, "Failed to parse S64 integer"},
      {"parseS64Whole null", [] { plat::parseS64Whole(nullptr); }, "Failed to parse S64 integer"},
      {"parseU64Whole trailing", [] { plat::parseU64Whole("12a"); }, "Failed to parse U64 integer"},
      {"parseU64Whole empty", [] { plat::parseU64Whole(""); }, "Failed to parse U64 integer"},
      {"parseIntRange trailing", [] { plat::parseIntRange("12a", 10, "Bad port", 0, 65535); }, "Bad port"},
      {"parseIntRange above", [] { plat::parseIntRange("65536", 10, "Bad port", 0, 65535); }, "Bad port"},
      {"parseIntRange below", [] { plat::parseIntRange("-1", 10, nullptr, 0, 10); }, "Failed to parse integer"},
      {"parseIntRange null", [] { plat::parseIntRange(nullptr, 10, "Bad port", 0, 65535); }, "Bad port"},
      {"parseUIntRange negative", [] { plat::parseUIntRange("-1", 10, nullptr, 0, UINT32_MAX); },
       "Failed to parse integer"},
      {"parseUIntRange above", [] { plat::parseUIntRange("11", 10, "Too many", 1, 10); }, "Too many"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(failureOf<plat::BadNum>(c.call), c.message);
  }
}

TEST(NumberParseTest, ThrowingFormsReturnTheValue) {
  const char* cursor = "-12,34";
  EXPECT_EQ(plat::parseIntOrThrow(cursor), -12);
  EXPECT_STREQ(cursor, ",34");
  ++cursor;
  EXPECT_EQ(plat::parseUIntOrThrow(cursor), 34u);
  EXPECT_STREQ(cursor, "");
  cursor = "0x7fffffffffffffff!";
  EXPECT_EQ(plat::parseS64OrThrow(cursor, 16), INT64_MAX);
  cursor = "1777777777777777777777";
  EXPECT_EQ(plat::parseU64OrThrow(cursor, 8), UINT64_MAX);

  EXPECT_EQ(plat::parseS64Whole("-0x10", 0), -16);
  EXPECT_EQ(plat::parseU64Whole(" 010", 0), 8u);
  // Both ends of a range are inside it.
  EXPECT_EQ(plat::parseIntRange("0", 10, nullptr, 0, 65535), 0);
  EXPECT_EQ(plat::parseIntRange("65535", 10, nullptr, 0, 65535), 65535);
  EXPECT_EQ(plat::parseUIntRange("ffffffff", 16, nullptr, 0, UINT32_MAX), UINT32_MAX);
}

// A caller reporting an earlier failure may parse on the way; its errno
// must survive, whether the parse succeeds, overflows or throws.
TEST(NumberParseTest, ErrnoIsPreserved) {
  const std::function<void()> calls[] = {
      [] {
        const char* p = "12";
        int32_t v;
        EXPECT_TRUE(plat::parseInt(v, p));
      },
      [] {
        const char* p = "99999999999999999999";
        int32_t v;
        EXPECT_FALSE(plat::parseInt(v, p));
      },
      [] {
        const char* p = "99999999999999999999";
        uint32_t v;
        EXPECT_FALSE(plat::parseUInt(v, p));
      },
      [] {
        const char* p = "-99999999999999999999";
        int64_t v;
        EXPECT_FALSE(plat::parseS64(v, p));
      },
      [] {
        const char* p = "99999999999999999999";
        uint64_t v;
        EXPECT_FALSE(plat::parseU64(v, p));
      },
      [] {
        const char* p = "12";
        uint64_t v;
        EXPECT_FALSE(plat::parseU64(v, p, 99));
      },  // a base the C library refuses
      [] { failureOf<plat::BadNum>([] { plat::parseS64Whole("99999999999999999999"); }); },
      [] { failureOf<plat::BadNum>([] { plat::parseIntRange("12a", 10, nullptr, 0, 100); }); },
  };
  int i = 0;
  for (const auto& call : calls) {
    SCOPED_TRACE(i++);
    errno = EBADF;
    call();
    EXPECT_EQ(errno, EBADF);
  }
}

}  // namespace
