#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"

namespace {

using testing::HasSubstr;

TEST(DString, NullBufferReadsAsEmpty) {
  plat::DString s;
  EXPECT_EQ(s.buf(), nullptr);
  EXPECT_STREQ(s.c_str(), "");
  EXPECT_EQ(s.length(), 0);
  EXPECT_EQ(s.capacity(), 0);
  EXPECT_TRUE(s.empty());
  s.append(nullptr);
  EXPECT_EQ(s.buf(), nullptr);
}

TEST(DString, CapacityGrowsInPowersOfTwoFromEight) {
  struct Case {
    const char* name;
    std::function<void(plat::DString&)> op;
    int capacity;
  };
  for (const Case& c : std::vector<Case>{
           {"reserve 8", [](plat::DString& s) { s.reserve(8); }, 8},
           {"reserve 9", [](plat::DString& s) { s.reserve(9); }, 16},
           {"reserve 1", [](plat::DString& s) { s.reserve(1); }, 8},
           {"append 7", [](plat::DString& s) { s.append("1234567"); }, 8},
           {"append 8", [](plat::DString& s) { s.append("12345678"); }, 16},
           {"append 7 then 1", [](plat::DString& s) { s.append("1234567").append("8"); }, 16},
           {"append 40", [](plat::DString& s) { s.append(std::string(40, 'x').c_str()); }, 64},
           {"reserve below capacity",
            [](plat::DString& s) {
              s.reserve(32);
              s.reserve(4);
            },
            32},
           {"constructed with room 20", [](plat::DString& s) { s = plat::DString(20); }, 32},
       }) {
    plat::DString s;
    c.op(s);
    EXPECT_EQ(s.capacity(), c.capacity) << c.name;
    EXPECT_LT(s.length(), s.capacity()) << c.name;
  }
}

TEST(DString, AppendStopsAtLengthOrEmbeddedNul) {
  plat::DString s;
  s.append("abc\0de", 5);
  EXPECT_EQ(s.length(), 3);
  s.append("xyz", 2);
  EXPECT_STREQ(s.c_str(), "abcxy");
  s.reserve(64);
  EXPECT_STREQ(s.c_str(), "abcxy");
}

TEST(DString, SourcesInsideTheOwnBufferSurviveGrowth) {
  plat::DString s;
  s.append("abcd");  // capacity 8: appending itself must grow
  s.append(s.c_str());
  EXPECT_STREQ(s.c_str(), "abcdabcd");
  EXPECT_EQ(s.capacity(), 16);

  s.splice(0, 0, s.c_str() + 4, 2);
  EXPECT_STREQ(s.c_str(), "ababcdabcd");

  s.assign(s.c_str() + 6);
  EXPECT_STREQ(s.c_str(), "abcd");
}

// ---- Formatting ----

TEST(DString, FormattedAppendGrowsUntilTheTextFits) {
  plat::DString s;
  s.appendf("%s", "0123456789abcdef");  // far longer than the format
  EXPECT_STREQ(s.c_str(), "0123456789abcdef");
  EXPECT_EQ(s.capacity(), 32);

  s.appendf("|%d|%05.1f", -12, 3.25);
  EXPECT_STREQ(s.c_str(), "0123456789abcdef|-12|003.2");

  EXPECT_STREQ(plat::DString("%s=%d", "n", 3).c_str(), "n=3");
  plat::CharArray made = plat::DString::format("%c%c", 'o', 'k');
  EXPECT_STREQ(made.get(), "ok");
  EXPECT_STREQ(plat::DString::format("%s", "").get(), "");
}

TEST(DString, FormattingFailureLeavesTheText) {
  plat::DString s;
  s.append("abc");
  // U+0100 has no form in the C locale: vsnprintf fails whatever the room.
  s.appendf("%ls", L"\x100");
  EXPECT_STREQ(s.c_str(), "abc");
}

plat::DString& appendTwice(plat::DString& s, const char* format, ...) {
  va_list args;
  va_start(args, format);
  s.vappendf(format, args);
  s.vappendf(format, args);
  va_end(args);
  return s;
}

TEST(DString, CallerArgumentListIsNotConsumed) {
  plat::DString s;
  // Long enough that each append needs a second attempt.
  appendTwice(s, "%s/%d;", "a-rather-long-argument", 42);
  EXPECT_STREQ(s.c_str(), "a-rather-long-argument/42;a-rather-long-argument/42;");
}

TEST(DString, AppendCharsEncodesUtf8) {
  struct Case {
    int32_t codepoint;
    int n;
    const char* expected;
  };
  for (const Case& c : std::vector<Case>{{'x', 3, "xxx"},
                                         {0xE9, 2, "\xC3\xA9\xC3\xA9"},
                                         {0x20AC, 1, "\xE2\x82\xAC"},
                                         {0x1F600, 2, "\xF0\x9F\x98\x80\xF0\x9F\x98\x80"},
                                         {'x', 0, ""},
                                         {'x', -2, ""}}) {
    plat::DString s;
    s.appendChars(c.codepoint, c.n);
    EXPECT_STREQ(s.c_str(), c.expected) << "U+" << std::hex << c.codepoint << " x" << std::dec << c.n;
  }
  plat::DString s;
  EXPECT_THROW(s.appendChars(0x110000), plat::Exception);
}

// ---- Editing ----

TEST(DString, SpliceReplacesAValidRangeOnly) {
  struct Case {
    int from;
    int to;
    const char* text;
    int length;
    const char* expected;
  };
  for (const Case& c : std::vector<Case>{{0, 0, "X", -1, "Xhello"},
                                         {1, 4, "EY", -1, "hEYo"},
                                         {5, 5, "!", -1, "hello!"},
                                         {0, 5, "", -1, ""},
                                         {1, 2, "abcdef", 3, "habcllo"},
                                         {1, 3, nullptr, -1, "hlo"},
                                         {2, 1, "X", -1, "hello"},
                                         {0, 6, "X", -1, "hello"},
                                         {-1, 2, "X", -1, "hello"}}) {
    plat::DString s;
    s.append("hello");
    s.splice(c.from, c.to, c.text, c.length);
    EXPECT_STREQ(s.c_str(), c.expected) << c.from << ".." << c.to;
  }
}

TEST(DString, ReplaceAllScansLeftToRightWithoutOverlap) {
  struct Case {
    const char* text;
    const char* needle;
    const char* replacement;
    const char* expected;
  };
  for (const Case& c : std::vector<Case>{{"a.b.c", ".", "::", "a::b::c"},
                                         {"aaa", "aa", "b", "ba"},
                                         {"abc", "x", "y", "abc"},
                                         {"abab", "ab", "", ""},
                                         {"xyx", "x", nullptr, "y"},
                                         {"", "x", "y", ""}}) {
    plat::DString out;
    out.append(">");
    plat::DString::replaceAll(out, c.text, c.needle, c.replacement);
    EXPECT_EQ(std::string(out.c_str()), std::string(">") + c.expected) << c.text;

    plat::DString inPlace;
    inPlace.append(c.text);
    inPlace.replaceAll(c.needle, c.replacement);
    EXPECT_STREQ(inPlace.c_str(), c.expected) << c.text;
  }
}

TEST(DStringDeathTest, ReplaceAllWithEmptyNeedleIsFatal) {
  plat::DString out;
  EXPECT_EXIT(plat::DString::replaceAll(out, "abc", "", "x"), testing::KilledBySignal(SIGABRT),
              HasSubstr("Assertion 'findLen' failed"));
}

TEST(DString, MakeValidUtf8RepairsOnlyWhenNeeded) {
  plat::DString ok;
  ok.append("caf\xC3\xA9");
  EXPECT_FALSE(ok.makeValidUtf8());
  EXPECT_STREQ(ok.c_str(), "caf\xC3\xA9");
  EXPECT_EQ(ok.capacity(), 8);

  plat::DString bad;
  bad.append(
      "ab\xFF"
      "cd");
  EXPECT_TRUE(bad.makeValidUtf8());
  EXPECT_STREQ(bad.c_str(),
               "ab\xEF\xBF\xBD"
               "cd");
  EXPECT_EQ(bad.capacity(), bad.length() + 1);
  bad.append("!");  // growth resumes from the exact size
  EXPECT_STREQ(bad.c_str(),
               "ab\xEF\xBF\xBD"
               "cd!");
  EXPECT_EQ(bad.capacity(), 16);

  plat::DString none;
  EXPECT_FALSE(none.makeValidUtf8());
}

TEST(DString, WordWrapCountsCodePoints) {
  struct Case {
    const char* text;
    int width;
    int indent;
    const char* expected;
  };
  for (const Case& c : std::vector<Case>{
           {"aaaa bbbb cccc", 10, 2, "aaaa bbbb\n  cccc"},
           {"abcdefghijklmno", 10, 2, "abcdefghijklmno"},  // too long, but the line is empty
           {"aaaa abcdefghijkl xy", 10, 2, "aaaa\n  abcdefghijkl\n  xy"},
           {"  aa  bb", 20, 0, "  aa  bb"},             // leading blanks and gaps kept
           {"aa bb   \n   cc", 20, 4, "aa bb\n   cc"},  // blanks after LF kept, before it dropped
           {"aaa bbb ccc", 7, 0, "aaa bbb\nccc"},
           {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9 \xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9 x", 10, 1,
            "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9 \xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\n x"},
           {"", 10, 2, ""},
       }) {
    plat::DString s;
    s.append(c.text);
    s.wordWrap(c.width, c.indent);
    EXPECT_STREQ(s.c_str(), c.expected) << '"' << c.text << "\" at " << c.width;
  }
}

// ---- Ownership ----

// The string keeps its length; text written through buf() (as stream
// readers and in-place parsers do) is measured again at the next use.
TEST(DString, LengthFollowsEveryChangeIncludingWritesThroughTheBuffer) {
  plat::DString s;
  s.append("abcdef");
  EXPECT_EQ(s.length(), 6);
  s.buf()[2] = '\0';  // cut short in place
  EXPECT_EQ(s.length(), 2);
  s.append("xy");
  EXPECT_STREQ(s.c_str(), "abxy");
  s.reserve(16);
  std::memcpy(s.buf(), "0123456789", 11);  // filled in place
  s.appendf("%d", 7);
  EXPECT_STREQ(s.c_str(), "01234567897");
  EXPECT_EQ(s.length(), 11);
  s.splice(0, 10, "-");
  EXPECT_EQ(s.length(), 2);
  s.appendChars(0xE9, 2);
  EXPECT_EQ(s.length(), 6);
  s.append("\xFF");
  EXPECT_TRUE(s.makeValidUtf8());
  EXPECT_EQ(s.length(), 9);
  s.assign("q");
  EXPECT_EQ(s.length(), 1);
  plat::DString moved(std::move(s));
  EXPECT_EQ(moved.length(), 1);
  EXPECT_EQ(s.length(), 0);
  s.append("zz");
  EXPECT_STREQ(s.c_str(), "zz");
}

TEST(DString, CopiesAreIndependentAndMovesTransferTheBuffer) {
  plat::DString a;
  a.append("text");
  plat::DString b(a);
  EXPECT_NE(a.buf(), b.buf());
  b.append("!");
  EXPECT_STREQ(a.c_str(), "text");

  char* buf = b.buf();
  plat::DString c(std::move(b));
  EXPECT_EQ(c.buf(), buf);
  EXPECT_EQ(b.buf(), nullptr);
  EXPECT_EQ(b.capacity(), 0);

  a = c;
  EXPECT_STREQ(a.c_str(), "text!");
  a = std::move(c);
  EXPECT_EQ(a.buf(), buf);

  plat::CharArray out = a.release();
  EXPECT_EQ(out.get(), buf);
  EXPECT_EQ(a.buf(), nullptr);
  EXPECT_EQ(a.capacity(), 0);

  a.append("x");
  a.clear();
  EXPECT_TRUE(a.empty());
  EXPECT_STREQ(a.c_str(), "");
}

}  // namespace
