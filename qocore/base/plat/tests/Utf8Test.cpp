#include <gtest/gtest.h>
#include <locale.h>

#include <ostream>
#include <string>
#include <vector>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Utf8.h"

namespace plat {
namespace {

std::string bytesOf(const MBuf<unsigned char>& buf) {
  return std::string(reinterpret_cast<const char*>(buf.data()), buf.count());
}

struct DecodeCase {
  const char* name;
  std::string bytes;  // lead first
  int available;      // as the caller passes it
  int32_t codepoint;  // -1 when refused
  int consumed;       // lead included: where the caller resumes
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

class Utf8DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Utf8DecodeTest, DecodesAndAdvancesCursor) {
  const DecodeCase& c = GetParam();
  const char* cursor = c.bytes.data() + 1;
  int32_t cp = utf8Decode(static_cast<unsigned char>(c.bytes[0]), &cursor, c.available);
  EXPECT_EQ(cp, c.codepoint);
  EXPECT_EQ(cursor - c.bytes.data(), c.consumed);
}

INSTANTIATE_TEST_SUITE_P(Forms, Utf8DecodeTest,
                         ::testing::Values(DecodeCase{"TwoBytes", "\xC3\xA9", 2, 0xE9, 2},
                                           DecodeCase{"ThreeBytes", "\xE2\x82\xAC", 3, 0x20AC, 3},
                                           DecodeCase{"FourBytes", "\xF0\x9F\x98\x80", 4, 0x1F600, 4},
                                           DecodeCase{"HighestValid", "\xF4\x8F\xBF\xBD", 4, 0x10FFFD, 4},
                                           DecodeCase{"AfterNoncharacterBlock", "\xEF\xB7\xB0", 3, 0xFDF0, 3},
                                           DecodeCase{"UnknownEndReadsOnlyWhatItNeeds", "\xC3\xA9zz", 4, 0xE9, 2},
                                           DecodeCase{"OverlongNul", "\xC0\x80", 2, -1, 2},
                                           DecodeCase{"OverlongThreeBytes", "\xE0\x9F\xBF", 3, -1, 3},
                                           DecodeCase{"Surrogate", "\xED\xA0\x80", 3, -1, 3},
                                           DecodeCase{"NoncharacterFDD0", "\xEF\xB7\x90", 3, -1, 3},
                                           DecodeCase{"NoncharacterFDEF", "\xEF\xB7\xAF", 3, -1, 3},
                                           DecodeCase{"NoncharacterFFFE", "\xEF\xBF\xBE", 3, -1, 3},
                                           DecodeCase{"NoncharacterPlane1FFFF", "\xF0\x9F\xBF\xBF", 4, -1, 4},
                                           DecodeCase{"AboveUnicode", "\xF4\x90\x80\x80", 4, -1, 4},
                                           DecodeCase{"LoneContinuation", "\x80", 1, -1, 1},
                                           DecodeCase{"FiveByteLead", "\xF8\x88\x80\x80\x80", 5, -1, 1},
                                           // The ASCII byte that cut the sequence short is left for the caller.
                                           DecodeCase{"TruncatedBeforeAscii",
                                                      "\xE2\x82"
                                                      "A",
                                                      3, -1, 2},
                                           DecodeCase{"TruncatedAtNul", std::string("\xE2\x82\0", 3), 4, -1, 2},
                                           DecodeCase{"LongerThanAvailable", "\xE2\x82\xAC", 2, -1, 1}),
                         [](const ::testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });

TEST(Utf8EncodeTest, RoundTripsThroughDecoder) {
  const struct {
    int32_t codepoint;
    int length;
  } cases[] = {{0x80, 2}, {0x7FF, 2}, {0x800, 3}, {0xFFFD, 3}, {0x10000, 4}, {0x10FFFD, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codepoint);
    char buf[8] = {};
    char* w = buf;
    utf8Encode(c.codepoint, &w);
    ASSERT_EQ(w - buf, c.length);
    const char* r = buf + 1;
    EXPECT_EQ(utf8Decode(static_cast<unsigned char>(buf[0]), &r, c.length), c.codepoint);
    EXPECT_EQ(r, w);
  }
}

TEST(Utf8EncodeTest, RefusesCodePointsBeyondUnicode) {
  for (int32_t cp : {0x110000, -5}) {
    SCOPED_TRACE(cp);
    char buf[8] = {};
    char* w = buf;
    try {
      utf8Encode(cp, &w);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.str(), "Unicode out of range");
    }
    EXPECT_EQ(w, buf);
  }
}

TEST(Utf8PrevTest, StepsBackToLeadByte) {
  const struct {
    const char* text;
    int cursor;
    int limit;  // -1: null limit
    int expected;
  } cases[] = {
      {"ab", 2, 0, 1},
      {"a\xC3\xA9", 3, 0, 1},
      {"\xF0\x9F\x98\x80", 4, 0, 0},
      {"\xF0\x9F\x98\x80", 4, 2, 2},           // never before the limit
      {"ab", 1, 1, 1},                         // already at the limit
      {"a\x80\x80\x80\x80\x80", 6, 0, 2},      // at most four bytes
      {"wxyz\x80\x80\x80\x80\x80", 9, -1, 5},  // null limit: four bytes
      {"wxyz\xC3\xA9", 6, -1, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.text << " @" << c.cursor);
    const char* cursor = c.text + c.cursor;
    utf8Prev(&cursor, c.limit < 0 ? nullptr : c.text + c.limit);
    EXPECT_EQ(cursor - c.text, c.expected);
  }
}

TEST(Utf8ValidTest, ChecksUpToEndOrNul) {
  const struct {
    std::string text;
    int end;  // -1: NUL-terminated
    bool valid;
  } cases[] = {
      {"", -1, true},
      {"plain", -1, true},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", -1, true},
      {"a\xFF", -1, false},
      {"ab\xC3", -1, false},
      {"\xC3\xA9", 1, false},                 // the end cuts the character
      {"ab\xFF", 2, true},                    // bad byte beyond the end
      {std::string("ok\0\xFF", 4), 4, true},  // a NUL ends the text
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const char* s = c.text.c_str();
    EXPECT_EQ(isValidUtf8(s, c.end < 0 ? nullptr : s + c.end), c.valid);
  }
}

TEST(Utf8SanitiseTest, ReplacesMalformedAndRespectsLimit) {
  const struct {
    std::string text;
    int maxBytes;
    std::string expected;
  } cases[] = {
      {"a\xFF"
       "b",
       -1,
       "a\xEF\xBF\xBD"
       "b"},
      {"a\xFF"
       "b",
       3, "a"},  // the replacement would pass the limit
      {"a\xFF"
       "b",
       4, "a\xEF\xBF\xBD"},
      {"\xC3\xA9\xE2\x82\xAC", 4, "\xC3\xA9"},  // never cuts a character
      {"\xC3\xA9\xE2\x82\xAC", 0, ""},
      {"\xE2\x82"
       "A",
       -1,
       "\xEF\xBF\xBD"
       "A"},  // one replacement per sequence
      {"\xC0\x80\xED\xA0\x80", -1, "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {std::string("x\0y", 3), -1, "x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.text << " max " << c.maxBytes);
    DString out;
    utf8Sanitise(out, c.text.data(), c.text.data() + c.text.size(), c.maxBytes);
    EXPECT_EQ(std::string(out.c_str()), c.expected);
    EXPECT_TRUE(isValidUtf8(out.c_str()));
  }
}

TEST(Utf8SanitiseTest, AppendsAndLimitsOnlyTheAppendedBytes) {
  DString out;
  out.append("pre:");
  utf8Sanitise(out,
               "a\xFF"
               "b",
               nullptr, 3);
  EXPECT_STREQ(out.c_str(), "pre:a");
}

TEST(Utf8AdjustRangeTest, MovesOntoCharacterBoundaries) {
  // "a", the euro sign (bytes 1..3), "b": 5 bytes.
  const char* text =
      "a\xE2\x82\xAC"
      "b";
  const struct {
    int start, length;
    int expectedStart, expectedLength;
  } cases[] = {
      {0, 1, 0, 1},  {1, 1, 1, 3},   // end extended over the euro sign
      {2, 2, 4, 0},  {2, 3, 4, 1},   // start moves forward, end stays
      {-3, 2, 0, 4}, {9, 2, 5, 0},   // start clamped
      {1, -1, 1, 4}, {0, 99, 0, 5},  // to the end
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start << "," << c.length);
    int start = c.start, length = c.length;
    utf8AdjustRange(text, &start, &length);
    EXPECT_EQ(start, c.expectedStart);
    EXPECT_EQ(length, c.expectedLength);
  }
}

TEST(Utf8AdjustRangeTest, AbsentLengthAdjustsStartOnly) {
  int start = 2;
  utf8AdjustRange(
      "a\xE2\x82\xAC"
      "b",
      &start, nullptr);
  EXPECT_EQ(start, 4);
}

TEST(Utf8CharCountTest, CountsCharactersNotBytes) {
  struct Case {
    const char* text;
    int end;  // -1: up to the NUL
    int count;
  };
  const Case cases[] = {
      {"", -1, 0},
      {"abc", -1, 3},
      {"caf\xC3\xA9 \xE2\x82\xAC\xF0\x9F\x98\x80", -1, 7},
      {"\xC3\xA9\xC3\xA9", 2, 1},  // the range ends after the first character
      {"a\xFF"
       "b",
       -1, 3},  // a stray byte counts as one
  };
  for (const Case& c : cases) {
    EXPECT_EQ(utf8CharCount(c.text, c.end < 0 ? nullptr : c.text + c.end), c.count) << c.text;
  }
  EXPECT_EQ(utf8CharCount(nullptr), 0);
}

class Utf8DisplayWidthTest : public ::testing::Test {
 protected:
  void SetUp() override {
    utf8Locale_ = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    ASSERT_NE(utf8Locale_, static_cast<locale_t>(0));
    previous_ = uselocale(utf8Locale_);
  }
  void TearDown() override {
    if (!utf8Locale_) return;
    uselocale(previous_);
    freelocale(utf8Locale_);
  }

 private:
  locale_t utf8Locale_ = static_cast<locale_t>(0);
  locale_t previous_ = static_cast<locale_t>(0);
};

TEST_F(Utf8DisplayWidthTest, SumsColumnWidths) {
  const struct {
    const char* text;
    int end;  // -1: NUL-terminated
    int width;
  } cases[] = {
      {"abc", -1, 3},
      {"\xE4\xB8\xAD\xE6\x96\x87", -1, 4},  // two CJK ideographs
      {"e\xCC\x81", -1, 1},                 // combining acute accent
      {"a\x01", -1, 2},                     // no width known: counts 1
      {"ab\xFF"
       "cd",
       -1, 2},  // stops at malformed text
      {"abcdef", 3, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(utf8DisplayWidth(c.text, c.end < 0 ? nullptr : c.text + c.end), c.width);
  }
}

TEST(Utf8Latin1Test, ToLatin1) {
  const struct {
    const char* text;
    int length;
    std::string expected;
  } cases[] = {
      {"\xE2\x82\xAC\xC3\xA9\xE4\xB8\xAD", -1, "\x80\xE9?"},  // euro, e-acute, CJK
      {"\xC2\xA0\xC3\xBF", -1, "\xA0\xFF"},
      {"a\xFF"
       "b",
       -1, "a?b"},
      {"\xF0\x9F\x98\x80", -1, "?"},
      {"abc", 2, "ab"},
      {"", -1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    MBuf<unsigned char> out = utf8ToLatin1(c.text, c.length);
    EXPECT_EQ(bytesOf(out), c.expected);
    ASSERT_NE(out.data(), nullptr);
    EXPECT_EQ(out.data()[out.count()], '\0');
  }
}

TEST(Utf8Latin1Test, FromLatin1) {
  const struct {
    std::string bytes;
    int length;
    const char* expected;
  } cases[] = {
      {"\x80\xE9"
       "A",
       -1,
       "\xE2\x82\xAC\xC3\xA9"
       "A"},
      {"\xA0\xFF", -1, "\xC2\xA0\xC3\xBF"},
      {"abc", 2, "ab"},
      {std::string("a\0b", 3), 3, "a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    MBuf<unsigned char> out = latin1ToUtf8(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.length);
    EXPECT_EQ(bytesOf(out), c.expected);
    ASSERT_NE(out.data(), nullptr);
    EXPECT_EQ(out.data()[out.count()], '\0');
  }
}

TEST(Utf8Latin1Test, RoundTripsLatin1Text) {
  const char* text =
      "Caf\xC3\xA9 \xE2\x82\xAC"
      "5 \xC2\xBD";
  MBuf<unsigned char> latin1 = utf8ToLatin1(text);
  MBuf<unsigned char> back = latin1ToUtf8(latin1.data(), latin1.count());
  EXPECT_EQ(bytesOf(back), text);
}

TEST(Utf8VisibleTest, EscapesControlAndMalformedBytes) {
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"plain text", "plain text"},
      {"", ""},
      {"a\tb", "a~^Ib"},
      {"line\n", "line~^J"},
      {"~", "~~"},
      {"\x7F", "~^?"},
      {"\xC3\xA9\xE2\x82\xAC", "\xC3\xA9\xE2\x82\xAC"},
      {"\xFF", "~M^?"},
      {"\xC1", "~M-A"},
      {"\xA0", "~M^`"},  // 0x20 after the top bit is cleared counts as control
      {"\xC0\x80", "~M-@~M^@"},
      {"\xE2\x82"
       "A",
       "~M-b~M^BA"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    CharArray out = utf8Visible(c.text, '~');
    ASSERT_FALSE(out.isNull());
    EXPECT_STREQ(out.get(), c.expected);
  }
}

TEST(Utf8VisibleTest, UsesTheGivenEscapeAndKeepsNullNull) {
  EXPECT_STREQ(utf8Visible("a\\b\x01~", '\\').get(), "a\\\\b\\^A~");
  EXPECT_TRUE(utf8Visible(nullptr, '~').isNull());
}

TEST(WildcardMatchTest, MatchesStarPatterns) {
  const struct {
    const char* pattern;
    const char* text;
    bool caseSensitive;
    bool expected;
  } cases[] = {
      {"io*", "IoPool", false, true},   {"io*", "IoPool", true, false},
      {"Io*", "IoPool", true, true},    {"*", "", true, true},
      {"*", "anything", true, true},    {"", "", true, true},
      {"", "a", true, false},           {"abc", "abcd", true, false},
      {"*pool", "IoPool", false, true}, {"*o*o*", "IoPool", true, true},
      {"a**b", "ab", true, true},       {"a*b*c", "aXXbYYc", true, true},
      {"a*b*c", "aXXbYY", true, false}, {"*ab", "aab", true, true},  // the star must take back a character
      {"a*ab", "aXabab", true, true},   {"?", "a", true, false},     // no single-character wildcard
      {"?", "?", true, true},           {"\xC3\xA9*", "\xC3\xA9t\xC3\xA9", false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.pattern << " ~ " << c.text << (c.caseSensitive ? " (case)" : ""));
    EXPECT_EQ(wildcardMatch(c.pattern, c.text, c.caseSensitive), c.expected);
  }
}

TEST(WildcardMatchTest, NullArgumentsNeverMatch) {
  EXPECT_FALSE(wildcardMatch(nullptr, "a", false));
  EXPECT_FALSE(wildcardMatch("*", nullptr, false));
}

TEST(WildcardMatchTest, ManyStarsStayFast) {
  // Exponential with naive recursion; must fail promptly.
  std::string text(5000, 'a');
  EXPECT_FALSE(wildcardMatch("*a*a*a*a*a*a*a*a*a*a*b", text.c_str(), true));
}

TEST(BadUtf8Test, CarriesMessageWithoutType) {
  try {
    throw BadUtf8("Bad UTF-8 string for %s", "Name");
  } catch (const Exception& e) {
    EXPECT_STREQ(e.str(), "Bad UTF-8 string for Name");
    EXPECT_STREQ(e.typeName(), "");
  }
  BadUtf8 plain("100% bad");
  EXPECT_STREQ(plain.str(), "100% bad");
}

}  // namespace
}  // namespace plat
