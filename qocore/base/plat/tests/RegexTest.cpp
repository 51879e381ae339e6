#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Regex.h"
#include "qocore/base/plat/Utf8.h"

namespace plat {
namespace {

constexpr uint32_t kS = Regex::kDotAll;
constexpr uint32_t kM = Regex::kMultiLine;
constexpr uint32_t kI = Regex::kIgnoreCase;

// What compiling gives: "ok", the message, or "BadUtf8: " and the message.
template <typename Compile>
std::string outcome(Compile compile) {
  try {
    compile();
    return "ok";
  } catch (const BadUtf8& e) {
    return std::string("BadUtf8: ") + e.str();
  } catch (const Exception& e) {
    return e.str();
  }
}

std::string compileError(const std::string& pattern, uint32_t flags = 0) {
  return outcome([&] { Regex re(pattern.c_str(), flags); });
}

std::string delimitedError(const std::string& literal) {
  return outcome([&] {
    const char* cursor = literal.c_str();
    Regex re(&cursor);
  });
}

// The leftmost match as "offset:text" followed by " k:text" for each group
// ("-" when it took no part), or "none".
std::string describe(const Regex& re, const std::string& text) {
  const int n = re.groupCount();
  std::vector<const char*> starts(n), ends(n);
  const char* end = text.data() + text.size();
  const char* start = re.find(text.data(), &end, starts.data(), ends.data(), n);
  if (!start) return "none";
  std::string s = std::to_string(start - text.data()) + ":" + std::string(start, end);
  for (int i = 0; i < n; ++i)
    s += " " + std::to_string(i + 1) + ":" + (starts[i] ? std::string(starts[i], ends[i]) : "-");
  return s;
}

std::string nested(int depth) { return std::string(depth, '(') + "a" + std::string(depth, ')'); }

TEST(RegexCompile, RefusalsNameTheirReason) {
  struct Case {
    std::string pattern;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"a{2}", "unsupported UNSAFE counted quantifier"},
      {"a{", "unsupported UNSAFE counted quantifier"},
      {"(a){1,}", "unsupported UNSAFE counted quantifier"},
      {"(a)\\1", "unsupported UNSAFE backreference"},
      {"[\\9]", "unsupported UNSAFE backreference"},
      {"(?=a)", "unsupported lookahead assertion '(?=...'"},
      {"(?!a)", "unsupported lookahead assertion '(?!...'"},
      // Any other "(?" opens a capturing group whose body starts at '?'.
      {"(?<n>a)", "unexpected metacharacter '?'"},
      {"(?", "unexpected metacharacter '?'"},
      {"(a", "expected closing ')'"},
      {"(?:a|b", "expected closing ')'"},
      {"a)", "trailing characters: \")\""},
      {"(a)b)c(d)", "trailing characters: \")c(d)\""},
      {nested(16), "ok"},
      {nested(17), "unsupported depth of nested expressions"},
      {"*a", "unexpected metacharacter '*'"},
      {"a**", "unexpected metacharacter '*'"},
      {"a+?+", "unexpected metacharacter '+'"},
      {"a?{2}", "unexpected metacharacter '{'"},
      {"^*", "unexpected metacharacter '*'"},
      {"a|?", "unexpected metacharacter '?'"},
      {"\\b+", "unexpected metacharacter '+'"},
      {"]", "unexpected metacharacter ']'"},
      {"}", "unexpected metacharacter '}'"},
      {"{", "unexpected metacharacter '{'"},
      {"[]a]", "unexpected metacharacter ']'"},
      {"a\xC3", "BadUtf8: Bad UTF-8 string"},
      {"[\xE2\x82]", "BadUtf8: Bad UTF-8 string"},
      {"\\\xFF", "BadUtf8: Bad UTF-8 string"},
      {"\xEF\xBF\xBE", "BadUtf8: Bad UTF-8 string"},  // U+FFFE, a noncharacter
      {"\\c", "expected control letter after '\\c'"},
      {"\\c1", "expected control letter after '\\c'"},
      {"\\x4", "expected hex escape after '\\x'"},
      {"\\xG1", "expected hex escape after '\\x'"},
      {"\\u12G4", "expected Unicode escape after '\\u'"},
      {"\\u{41}", "expected Unicode escape after '\\u'"},
      {"\\uD83D", "expected low surrogate after high surrogate"},
      {"\\uD83D\\u0041", "expected low surrogate after high surrogate"},
      {"\\uD83Dx", "expected low surrogate after high surrogate"},
      {"\\uDE00", "unexpected low surrogate"},
      {"\\01", "illegal decimal escape sequence"},
      {"[\\00]", "illegal decimal escape sequence"},
      {"\\k", "invalid escape sequence '\\k'"},
      {"\\a", "invalid escape sequence '\\a'"},
      {"\\", "unterminated escape sequence"},
      {"[\\", "unterminated escape sequence"},
      {"[\\k]", "invalid class escape sequence '\\k'"},
      {"[\\B]", "invalid class escape sequence '\\B'"},
      {"[ab", "expected closing ']'"},
      {"[", "expected closing ']'"},
      {"[a-", "expected closing ']'"},
      // Accepted forms next to the refused ones.
      {"", "ok"},
      {"a||b()(?:)", "ok"},
      {"\\-\\/\\\xC3\xA9", "ok"},
      {"[z-a]", "ok"},
  };
  for (const Case& c : cases) EXPECT_EQ(compileError(c.pattern), c.error) << c.pattern;
}

TEST(RegexCompile, GroupCountAndFlags) {
  Regex re("(a)(?:b(c)|(d))", kI | kM);
  EXPECT_EQ(re.groupCount(), 3);
  EXPECT_EQ(re.flags(), kI | kM);
  EXPECT_EQ(Regex("x", 0).groupCount(), 0);
}

// A class escape writes many ranges for a few pattern bytes, far beyond
// what is reserved up front; the code must grow as it is written.
TEST(RegexCompile, ClassEscapesOutgrowTheReservation) {
  std::string pattern = "^[";
  for (int i = 0; i < 300; ++i) pattern += "\\S\\S\\S";
  pattern += "]+$";
  Regex re(pattern.c_str(), 0);
  EXPECT_TRUE(re.matches("ab\xC3\xA9-"));
  EXPECT_FALSE(re.matches("ab c"));
}

struct FindCase {
  const char* pattern;
  uint32_t flags;
  std::string text;
  const char* expected;
};

// Test names show control characters and bytes beyond ASCII as escapes.
std::string printable(const std::string& s) {
  std::string out;
  for (unsigned char b : s) {
    if (b >= 0x20 && b < 0x7F) {
      out += static_cast<char>(b);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", b);
      out += buf;
    }
  }
  return out;
}

void PrintTo(const FindCase& c, std::ostream* os) {
  *os << "/" << printable(c.pattern) << "/" << (c.flags & kI ? "i" : "") << (c.flags & kM ? "m" : "")
      << (c.flags & kS ? "s" : "") << " on \"" << printable(c.text) << "\"";
}

class RegexFind : public ::testing::TestWithParam<FindCase> {};

TEST_P(RegexFind, LeftmostMatchAndGroups) {
  const FindCase& c = GetParam();
  Regex re(c.pattern, c.flags);
  EXPECT_EQ(describe(re, c.text), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Priority, RegexFind,
    ::testing::Values(
        // Greedy and lazy quantifiers, earlier alternatives first.
        FindCase{"a*?", 0, "aaa", "0:"}, FindCase{"a*", 0, "aaa", "0:aaa"}, FindCase{"a+?", 0, "aaa", "0:a"},
        FindCase{"a??b", 0, "ab", "0:ab"}, FindCase{"a|ab", 0, "abc", "0:a"}, FindCase{"ab|a", 0, "abc", "0:ab"},
        FindCase{"(a+)(a*)", 0, "aaa", "0:aaa 1:aaa 2:"}, FindCase{"(a+?)(a*)", 0, "aaa", "0:aaa 1:a 2:aa"},
        FindCase{"(a|ab)(c|bcd)(d*)", 0, "abcd", "0:abcd 1:a 2:bcd 3:"}, FindCase{"b+", 0, "aabbb", "2:bbb"},
        FindCase{"x*", 0, "abc", "0:"}, FindCase{"(a|)+b", 0, "aab", "0:aab 1:a"}, FindCase{"", 0, "", "0:"}));

INSTANTIATE_TEST_SUITE_P(Captures, RegexFind,
                         ::testing::Values(
                             // A group that is entered again restarts its inner groups.
                             FindCase{"(?:(a)|b)*", 0, "ab", "0:ab 1:-"}, FindCase{"((a)|b)+", 0, "ab", "0:ab 1:b 2:-"},
                             FindCase{"(?:(a)|(b))+", 0, "ab", "0:ab 1:- 2:b"},
                             // An iteration that matches nothing does not count.
                             FindCase{"(a*)*", 0, "b", "0: 1:-"}, FindCase{"(a*)+", 0, "b", "0: 1:"},
                             FindCase{"(a)|b", 0, "b", "0:b 1:-"}, FindCase{"(z)?a", 0, "a", "0:a 1:-"}));

INSTANTIATE_TEST_SUITE_P(Characters, RegexFind,
                         ::testing::Values(
                             // Code points, not bytes.
                             FindCase{"^.$", 0, "\xC3\xA9", "0:\xC3\xA9"}, FindCase{"^..$", 0, "\xC3\xA9", "none"},
                             FindCase{"\xC3\xA9+", 0, "x\xC3\xA9\xC3\xA9", "1:\xC3\xA9\xC3\xA9"},
                             FindCase{"\\x41\\u00e9\\uD83D\\uDE00", 0, "A\xC3\xA9\xF0\x9F\x98\x80",
                                      "0:A\xC3\xA9\xF0\x9F\x98\x80"},
                             FindCase{"\\cJ\\cj\\t\\v\\f\\r", 0, "\n\n\t\v\f\r", "0:\n\n\t\v\f\r"},
                             FindCase{"\\.\\*\\/\\-", 0, "a.*/-", "1:.*/-"},
                             // "." stops at each line terminator unless the s flag is given.
                             FindCase{"a.c", 0,
                                      "a\nc a\rc a\xE2\x80\xA8"
                                      "c a\xE2\x80\xA9"
                                      "c",
                                      "none"},
                             FindCase{"a.c", kS, "a\nc", "0:a\nc"},
                             FindCase{"a.c", kS,
                                      "a\xE2\x80\xA8"
                                      "c",
                                      "0:a\xE2\x80\xA8"
                                      "c"},
                             // A malformed sequence is one character that only ".", negated
                             // classes and the any-character step accept.
                             FindCase{"a.b", 0,
                                      "a\xFF"
                                      "b",
                                      "0:a\xFF"
                                      "b"},
                             FindCase{"a[^x]b", 0,
                                      "a\xE2\x82"
                                      "b",
                                      "0:a\xE2\x82"
                                      "b"},
                             FindCase{"a\\Sb", 0,
                                      "a\xFF"
                                      "b",
                                      "none"},
                             FindCase{"\\S+", 0,
                                      "\xFF"
                                      "ab",
                                      "1:ab"},
                             FindCase{"a[\\s\\S]b", 0,
                                      "a\xEF\xBF\xBE"
                                      "b",
                                      "none"}));

INSTANTIATE_TEST_SUITE_P(
    Classes, RegexFind,
    ::testing::Values(
        FindCase{"[a-c]+", 0, "xxbcad", "2:bca"}, FindCase{"[^a-c]+", 0, "abxyc", "2:xy"},
        FindCase{"[\\d-z]+", 0, "a5-z", "1:5-z"}, FindCase{"[a-]+", 0, "b-a", "1:-a"},
        FindCase{"[-a]+", 0, "b-a", "1:-a"}, FindCase{"a[]", 0, "a", "none"}, FindCase{"[^]", 0, "\n", "0:\n"},
        FindCase{"[z-a]", 0, "amz", "none"}, FindCase{"[\\b]", 0, "a\bb", "1:\b"},
        FindCase{"[.*+?(){}|^$]+", 0, "a.*+?(){}|^$", "1:.*+?(){}|^$"}, FindCase{"[\\]\\\\]+", 0, "a]\\", "1:]\\"},
        FindCase{"\\d+", 0,
                 "x\xD9\xA3"
                 "42",
                 "3:42"},
        FindCase{"\\w+", 0, "\xC3\xA9_aZ9-", "2:_aZ9"}, FindCase{"\\W+", 0, "ab\xC3\xA9-c", "2:\xC3\xA9-"},
        FindCase{"\\s+", 0, "a\t\n\v\f\r \xC2\xA0\xE1\xA0\x8E\xE2\x80\x8A\xE3\x80\x80\xEF\xBB\xBFz",
                 "1:\t\n\v\f\r \xC2\xA0\xE1\xA0\x8E\xE2\x80\x8A\xE3\x80\x80\xEF\xBB\xBF"},
        FindCase{"\\s", 0, "\xE2\x80\x8B\xC2\x85", "none"},
        FindCase{"[\\S]+", 0, " a\xF4\x8F\xBF\xBD ", "1:a\xF4\x8F\xBF\xBD"}, FindCase{"[^\\s]+", 0, " ab ", "1:ab"}));

INSTANTIATE_TEST_SUITE_P(
    IgnoreCase, RegexFind,
    ::testing::Values(FindCase{"A", kI, "xa", "1:a"}, FindCase{"a", kI, "xA", "1:A"},
                      // Folding covers the ASCII letters only.
                      FindCase{"\xC3\x89", kI, "\xC3\xA9", "none"}, FindCase{"\xC3\x89", kI, "\xC3\x89", "0:\xC3\x89"},
                      // Ranges fold both ways, negated ones alike.
                      FindCase{"[a-z]+", kI, "1AbC2", "1:AbC"}, FindCase{"[A-Z]+", kI, "1aBc2", "1:aBc"},
                      FindCase{"[^a-z]+", kI, "AbC12", "3:12"}, FindCase{"[^A-Z]+", kI, "aBc12", "3:12"},
                      FindCase{"[X-c]+", kI, "WxyZ[`abcD", "1:xyZ[`abc"}, FindCase{"\\W", kI, "aA_", "none"},
                      FindCase{"@", kI, "`@", "1:@"}));

INSTANTIATE_TEST_SUITE_P(Assertions, RegexFind,
                         ::testing::Values(FindCase{"^b", 0, "a\nb", "none"}, FindCase{"^b", kM, "a\nb", "2:b"},
                                           FindCase{"^b", kM,
                                                    "a\xE2\x80\xA9"
                                                    "b",
                                                    "4:b"},
                                           FindCase{"a$", 0, "a\nb", "none"}, FindCase{"a$", kM, "a\r\nb", "0:a"},
                                           FindCase{"a$", 0, "ba", "1:a"}, FindCase{"^$", 0, "", "0:"},
                                           FindCase{"\\bfoo\\b", 0, "foo_ afoo foo.", "10:foo"},
                                           FindCase{"\\Bo\\B", 0, "o so sos", "6:o"}, FindCase{"\\b", 0, "  ", "none"},
                                           FindCase{"\\B", 0, "", "0:"},
                                           // A word character after a non-word code point is at a boundary.
                                           FindCase{"\\ba", 0,
                                                    "\xC3\xA9"
                                                    "a",
                                                    "2:a"}));

TEST(RegexMatch, MatchesTheWholeTextByAnyPath) {
  struct Case {
    const char* pattern;
    uint32_t flags;
    std::string text;
    bool whole;
  };
  const std::vector<Case> cases = {
      {"a|ab", 0, "ab", true},  // a lower-priority alternative still counts
      {"a*?", 0, "aaa", true},   {"(a*)*b", 0, "aab", true},
      {"a", 0, "ab", false},     {"b", 0, "ab", false},
      {"", 0, "", true},         {"", 0, "x", false},
      {"a$", kM, "a\n", false},  {"a\\s*", kM, "a\n", true},
      {"[^a]", 0, "\xC3", true}, {"\\x00b", 0, std::string("\0b", 2), true},
  };
  for (const Case& c : cases) {
    Regex re(c.pattern, c.flags);
    EXPECT_EQ(re.matches(c.text.data(), c.text.data() + c.text.size()), c.whole) << c.pattern << " on " << c.text;
  }
  // Without an end the text stops at its NUL.
  EXPECT_TRUE(Regex("ab", 0).matches("ab\0cd"));
  EXPECT_FALSE(Regex("ab", 0).matches("abc", nullptr));
}

TEST(RegexMatch, SearchAndFindHonourTheEnd) {
  Regex re("b+", 0);
  const char* text = "aabbbc";
  EXPECT_TRUE(re.search(text));
  EXPECT_FALSE(re.search(text, text + 2));
  const char* end = text + 3;
  EXPECT_EQ(re.find(text, &end), text + 2);
  EXPECT_EQ(end, text + 3);
  // A null end (or a null end pointer) reads up to the NUL.
  end = nullptr;
  EXPECT_EQ(re.find(text, &end), text + 2);
  EXPECT_EQ(end, text + 5);
  EXPECT_EQ(re.find(text, nullptr), text + 2);
  EXPECT_EQ(re.find("aac", nullptr), nullptr);
  // An explicit end takes a NUL byte as an ordinary character.
  const std::string withNul("x\0y", 3);
  end = withNul.data() + withNul.size();
  EXPECT_EQ(Regex("\\0y", 0).find(withNul.data(), &end), withNul.data() + 1);
}

TEST(RegexMatch, FindFillsOnlyTheGroupsAsked) {
  Regex re("(a)(b)?(c)", 0);
  const char* text = "xacy";
  const char* starts[4] = {"unset", "unset", "unset", "unset"};
  const char* ends[4] = {"unset", "unset", "unset", "unset"};
  const char* end = nullptr;
  ASSERT_EQ(re.find(text, &end, starts, ends, 4), text + 1);
  EXPECT_EQ(end, text + 3);
  EXPECT_EQ(starts[0], text + 1);
  EXPECT_EQ(ends[0], text + 2);
  EXPECT_EQ(starts[1], nullptr);
  EXPECT_EQ(ends[1], nullptr);
  EXPECT_EQ(starts[2], text + 2);
  EXPECT_STREQ(starts[3], "unset");  // beyond the group count

  // Fewer entries, and no end array.
  const char* first[1] = {nullptr};
  ASSERT_NE(re.find(text, nullptr, first, nullptr, 1), nullptr);
  EXPECT_EQ(first[0], text + 1);
}

TEST(RegexMatch, MatchTextIsTheFirstGroup) {
  // The HTTP client's pull of a platform word out of a user-agent text.
  Regex agent(";\\s*(\\w+(?:[-_]\\w+)?)\\)", 0);
  struct Case {
    const char* text;
    const char* word;  // null: none
  };
  const std::vector<Case> cases = {
      {"Mozilla/5.0 (Macintosh; arm64)", "arm64"},
      {"Agent (Windows NT 10.0; Win64; x86_64)", "x86_64"},
      {"Agent (X11; Linux-gnu) more", "Linux-gnu"},
      {"Agent (X11; two words)", nullptr},
      {"no parenthesis", nullptr},
  };
  for (const Case& c : cases) {
    CharArray word = agent.matchText(c.text);
    if (c.word)
      EXPECT_STREQ(word.get(), c.word) << c.text;
    else
      EXPECT_TRUE(word.isNull()) << c.text;
  }
  EXPECT_TRUE(Regex("(a)|b", 0).matchText("b").isNull());
  EXPECT_TRUE(Regex("b", 0).matchText("b").isNull());
  EXPECT_STREQ(Regex("x(a*)", 0).matchText("x").get(), "");
}

TEST(RegexMatch, LongTextsRunInOnePass) {
  // Exponential for a backtracking matcher; here one pass over the text.
  const std::string text(100000, 'a');
  Regex re("(a*)*b", 0);
  EXPECT_FALSE(re.search(text.c_str()));
  EXPECT_FALSE(re.matches(text.c_str()));
  EXPECT_TRUE(Regex("(a|aa)*$", 0).matches(text.c_str()));
}

// Every match found from each offset of the text, in the form of describe()
// with offsets from the text's start, then the result of replacing all.
std::string everyMatch(const Regex& re, const std::string& text) {
  const int n = re.groupCount();
  std::vector<const char*> starts(n), ends(n);
  const char* const begin = text.data();
  std::string s;
  for (size_t offset = 0; offset <= text.size(); ++offset) {
    const char* end = begin + text.size();
    const char* start = re.find(begin + offset, &end, starts.data(), ends.data(), n);
    s += std::to_string(offset) + (re.search(begin + offset, begin + text.size()) ? "+" : "-");
    if (start) s += std::to_string(start - begin) + ".." + std::to_string(end - begin);
    for (int i = 0; start && i < n; ++i)
      s += starts[i] ? " " + std::to_string(starts[i] - begin) + ".." + std::to_string(ends[i] - begin) : " -";
    s += "; ";
  }
  DString replaced;
  s += std::to_string(re.replaceAll(text.c_str(), "<$1$&>", replaced)) + " " + replaced.c_str();
  return s;
}

TEST(RegexMatch, SkippingToWhereAMatchCanStartChangesNoResult) {
  // A search goes straight to the places where the bytes a match starts
  // with are.  A last alternative that never matches but could start
  // anywhere turns that off, and must change nothing: around malformed
  // sequences, NULs, line breaks and word boundaries included.
  // clang-format off
  const struct {
    const char* pattern;
    uint32_t flags;
  } patterns[] = {
      {"ab", 0},           {"needle", 0},         {"\\bab\\b", 0},        {"\\Bab", 0},
      {"a\\Bb", 0},        {"^ab", kM},           {"ab$", kM},            {"^ab", 0},
      {"ab|AB", kI},       {"Ab", kI},            {"(a|b)c", 0},          {"x*ab", 0},
      {"(?:ab|cd)(e)?", 0}, {"\\d+\\.(\\d+)", 0}, {"[\u00e9-\u00eb]x", 0}, {"\u20ac+", 0},
      {"\\u2028ab", kM},   {"\\0a", 0},           {"[]a", 0},             {"a[]", 0},
      {"(\\w)(x)?y", 0},
  };
  const std::string texts[] = {
      "xxab ab\nab",           "\xff" "ab\xc3" "ab",  "\xe2\x80\xa8" "ab\r" "ab",  "\xe2\x80" "ab\x80" "ab",
      "\u00e9\u20ac" "ab",     std::string("a\0ab\0", 5), "abab needle needles",    "_ab ab_ab Ab aB AB",
      "aca bc cc abcde cde",   "1.5 x 22.33 4.",      "\u00e9x \u00eax \u00ebx \u00ecx", "\u20ac\u20ac\u20ac ab",
      std::string(200, 'z') + "ab" + std::string(100, ' ') + "needle",
  };
  // clang-format on
  for (const auto& p : patterns) {
    const Regex skipping(p.pattern, p.flags);
    const Regex everywhere(("(?:" + std::string(p.pattern) + ")|.\\b\\B").c_str(), p.flags);
    for (const std::string& text : texts)
      EXPECT_EQ(everyMatch(skipping, text), everyMatch(everywhere, text)) << p.pattern << " in \"" << text << '"';
  }
}

TEST(RegexMatch, OnePatternServesSeveralThreads) {
  Regex re("(\\d+)-(\\w+)", 0);
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&re, &failures, t] {
      for (int i = 0; i < 2000; ++i) {
        std::string text = "x " + std::to_string(i * 4 + t) + "-w" + std::to_string(t) + " y";
        const char* starts[2];
        const char* ends[2];
        const char* end = nullptr;
        const char* m = re.find(text.c_str(), &end, starts, ends, 2);
        if (!m || std::string(starts[0], ends[0]) != std::to_string(i * 4 + t) ||
            std::string(starts[1], ends[1]) != "w" + std::to_string(t))
          ++failures[t];
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

TEST(RegexReplace, TemplateReferences) {
  struct Case {
    const char* pattern;
    std::string text;
    const char* replacement;
    const char* all;
  };
  const std::vector<Case> cases = {
      {"b", "abc", "[$$]", "a[$]c"},
      {"b", "abc", "[$&$&]", "a[bb]c"},
      {"b", "abc", "[$`]", "a[a]c"},
      {"b", "abc", "[$']", "a[c]c"},
      {"(a)(b)?", "a-ab", "<$2$1>", "<a>-<ba>"},
      // All the digits form one number; one that names no group stays text.
      {"(a)", "a", "$1$10$01$0$2", "a$10a$0$2"},
      {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", "abcdefghij", "$10$1", "ja"},
      {"b", "abc", "$x$", "a$x$c"},
      {"b", "abc", "$$1", "a$1c"},
      {"x*", "abc", "-", "-a-b-c-"},
      {"x*", "", "-", "-"},
      {"b*", "abc", "-", "-a--c-"},
      {"x*", "\xC3\xA9\xF0\x9F\x98\x80", "-", "-\xC3\xA9-\xF0\x9F\x98\x80-"},
      {"q", "abc", "-", "abc"},
      // Each search after the first sees the character before it.
      {"^a", "aaa", "-", "-aa"},
      {"\\ba", "aa a", "-", "-a -"},
      {"\\Ba", "aaa", "-", "a--"},
  };
  for (const Case& c : cases) {
    Regex re(c.pattern, 0);
    DString out("keep:");
    re.replaceAll(c.text.c_str(), c.replacement, out);
    EXPECT_EQ(std::string(out.c_str()), std::string("keep:") + c.all) << c.pattern << " in " << c.text;
  }
}

TEST(RegexReplace, CountsAndLimits) {
  Regex re("o", 0);
  DString out;
  EXPECT_EQ(re.replaceFirst("foo boo", "0", out), 1);
  EXPECT_STREQ(out.c_str(), "f0o boo");
  out.clear();
  EXPECT_EQ(re.replaceAll("foo boo", "0", out), 4);
  EXPECT_STREQ(out.c_str(), "f00 b00");
  out.clear();
  EXPECT_EQ(re.replace("foo boo", "0", out, true, 3), 3);
  EXPECT_STREQ(out.c_str(), "f00 b0o");
  out.clear();
  EXPECT_EQ(re.replace("foo boo", "0", out, false, 0x7fffffff), 4);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(re.replaceAll("xyz", "0", out), 0);
  EXPECT_STREQ(out.c_str(), "xyz");
  out.clear();
  Regex multi("^x", kM);
  EXPECT_EQ(multi.replaceAll("x\nxx\r\nx", "y", out), 3);
  EXPECT_STREQ(out.c_str(), "y\nyx\r\ny");
}

TEST(RegexDelimited, LiteralFormAdvancesPastItsFlags) {
  struct Case {
    std::string literal;
    uint32_t flags;
    std::string rest;
    const char* text;  // matched as a whole
  };
  const std::vector<Case> cases = {
      {"/a.c/ rest", 0, " rest", "abc"},
      {"/A.C/ism,", kI | kS | kM, ",", "a\nc"},
      {"/a\\/b/m", kM, "", "a/b"},
      {"/[/]x/", 0, "", "/x"},
      {"/[\\]/]+/", 0, "", "]/]"},
      {"/\\u002f/i-", kI, "-", "/"},
      {"//", 0, "", ""},
  };
  for (const Case& c : cases) {
    const char* cursor = c.literal.c_str();
    Regex re(&cursor);
    EXPECT_EQ(re.flags(), c.flags) << c.literal;
    EXPECT_EQ(std::string(cursor), c.rest) << c.literal;
    EXPECT_TRUE(re.matches(c.text)) << c.literal;
  }
}

TEST(RegexDelimited, LiteralRefusals) {
  struct Case {
    std::string literal;
    const char* error;
  };
  const std::vector<Case> cases = {
      {"a/", "expected '/'-delimited regex"},
      {"", "expected '/'-delimited regex"},
      {"/abc", "expected terminating '/'"},
      {"/a\\/", "expected terminating '/'"},
      {"/a\\", "expected terminating '/'"},
      {"/[a/", "expected terminating ']'"},
      {"/[a\\]/", "expected terminating ']'"},
      {"/a\nb/", "illegal line break in literal"},
      {"/a\rb/", "illegal line break in literal"},
      {"/a\\\nb/", "illegal line break in literal"},
      {"/[\xE2\x80\xA8]/", "illegal line break in literal"},
      {"/a\xE2\x80\xA9/", "illegal line break in literal"},
      {"/a/g", "unsupported flag 'g'"},
      {"/a/iy", "unsupported flag 'y'"},
      {"/a/ig", "unsupported flag 'g'"},
      {"/a/ii", "invalid flag 'i'"},
      {"/a/msm", "invalid flag 'm'"},
      {"/a/u", "invalid flag 'u'"},
      {"/a/x", "invalid flag 'x'"},
      {"/a/i1", "invalid flag '1'"},
      {"/a/_", "invalid flag '_'"},
      // The body's own errors, found once its end is known.
      {"/a)b/", "trailing characters: \")b\""},
      {"/(a/", "expected closing ')'"},
      {"/(?/", "unexpected metacharacter '?'"},
      {"/\\x4/", "expected hex escape after '\\x'"},
      {"/\\uD83D/\\uDE00", "expected low surrogate after high surrogate"},
      {"/a{2}/", "unsupported UNSAFE counted quantifier"},
      {"/\xC3/", "BadUtf8: Bad UTF-8 string"},
  };
  for (const Case& c : cases) EXPECT_EQ(delimitedError(c.literal), c.error) << c.literal;
}

TEST(RegexDelimited, SubstitutionHandsOverItsReplacement) {
  struct Case {
    std::string literal;
    const char* replacement;
    uint32_t flags;
    std::string rest;
    const char* result;  // of replaceAll on "a/b A/B"
  };
  const std::vector<Case> cases = {
      {"s/a/x/", "x", 0, "", "x/b A/B"},
      {"s/(a)\\/(b)/$2\\/$1/i;", "$2/$1", kI, ";", "b/a B/A"},
      {"s/[/]//m", "", kM, "", "ab AB"},
      {"s/b/\\\\$&\\n/ x", "\\\\$&\\n", 0, " x", "a/\\\\b\\n A/B"},
  };
  for (const Case& c : cases) {
    const char* cursor = c.literal.c_str();
    CharArray replacement;
    Regex re(&cursor, replacement);
    EXPECT_STREQ(replacement.get(), c.replacement) << c.literal;
    EXPECT_EQ(re.flags(), c.flags) << c.literal;
    EXPECT_EQ(std::string(cursor), c.rest) << c.literal;
    DString out;
    re.replaceAll("a/b A/B", replacement.get(), out);
    EXPECT_STREQ(out.c_str(), c.result) << c.literal;
  }

  struct Refusal {
    std::string literal;
    const char* error;
  };
  const std::vector<Refusal> refusals = {
      {"/a/b/", "expected 's/../../' substitution"},
      {"s", "expected 's/../../' substitution"},
      {"x/a/b/", "expected 's/../../' substitution"},
      {"s/a/b", "expected terminating '/'"},
      {"s/a/b\\/", "expected terminating '/'"},
      {"s/a/b\nc/", "illegal line break in literal"},
      {"s/a/b/g", "unsupported flag 'g'"},
      {"s/(a/b/", "expected closing ')'"},
  };
  for (const Refusal& r : refusals) {
    EXPECT_EQ(outcome([&] {
                const char* cursor = r.literal.c_str();
                CharArray replacement("untouched");
                Regex re(&cursor, replacement);
              }),
              r.error)
        << r.literal;
  }
}

TEST(RegexEscape, WritesALiteralPattern) {
  struct Case {
    std::string text;
    bool delimited;
    const char* pattern;
  };
  const std::vector<Case> cases = {
      {"a.b*c", false, "a\\.b\\*c"},
      {"$()*+.?[\\]^{|}", false, "\\$\\(\\)\\*\\+\\.\\?\\[\\\\\\]\\^\\{\\|\\}"},
      {"7up-/", false, "\\u0037up-/"},
      {"a7", false, "a7"},
      {"\xC3\xA9\xFF"
       "x\xE2\x82",
       false, "\xC3\xA9[]x[][]"},
      {"a/b\nc\rd\xE2\x80\xA8\xE2\x80\xA9", true, "a\\/b\\nc\\rd\\u2028\\u2029"},
      {"a/b\n\xE2\x80\xA8", false, "a/b\n\xE2\x80\xA8"},
      {"", true, ""},
  };
  for (const Case& c : cases) {
    CharArray pattern = Regex::escape(c.text.c_str(), c.delimited);
    EXPECT_STREQ(pattern.get(), c.pattern) << c.text;
  }
}

TEST(RegexEscape, EscapedTextMatchesItselfOnly) {
  const std::vector<std::string> texts = {"0.5 * (a+b)?", "[x]{2}|^$\\", "9/11\n\xE2\x80\xA8\xC3\xA9", "$1 $& \\d"};
  for (const std::string& text : texts) {
    Regex plain(Regex::escape(text.c_str(), false).get(), 0);
    EXPECT_TRUE(plain.matches(text.c_str())) << text;
    EXPECT_FALSE(plain.matches((text + "x").c_str())) << text;

    std::string literal = "/" + std::string(Regex::escape(text.c_str(), true).get()) + "/i";
    const char* cursor = literal.c_str();
    Regex delimited(&cursor);
    EXPECT_EQ(*cursor, '\0');
    EXPECT_TRUE(delimited.matches(text.c_str())) << text;
  }
  // A malformed sequence becomes a class that matches nothing.
  EXPECT_FALSE(Regex(Regex::escape("a\xFF", false).get(), 0).search("a\xFF"));
}

}  // namespace
}  // namespace plat
