#include <gtest/gtest.h>

#include <string>

#include "qocore/base/loc/Format.h"
#include "testing/LogCapture.h"

namespace {

using yarl_test::LogCapture;

struct FormatCase {
  const char* name;
  const char* templ;
  loc::ArgList args;
  const char* expected;
  bool bad;
};

// "\xc3\xa9" is é: two bytes a character.
const FormatCase kCases[] = {
    {"positions", "%1$S has %2$D files", loc::ArgList().str("x").num(3), "x has 3 files", false},
    {"reordered", "%2$D files in %1$S", loc::ArgList().str("x").num(3), "3 files in x", false},
    {"sole argument", "[%S]", loc::ArgList().str("only"), "[only]", false},
    {"unposited with two", "%S", loc::ArgList().str("a").str("b"), "%%S", true},
    {"plus on signed", "%+D", loc::ArgList().num(5), "+5", false},
    {"plus on unsigned", "%+D", loc::ArgList().unum(5), "%%+D", true},
    {"unsigned", "%D", loc::ArgList().unum(4000000000u), "4000000000", false},
    {"negative", "%D", loc::ArgList().num(-7), "-7", false},
    {"hex", "%X", loc::ArgList().unum(255), "ff", false},
    {"hex of signed", "%X", loc::ArgList().num(255), "%%X", true},
    {"precision", "%.3S", loc::ArgList().str("abcdef"), "abc", false},
    {"precision on whole characters", "%.3S", loc::ArgList().str("\xc3\xa9\xc3\xa9\xc3\xa9"), "\xc3\xa9", false},
    {"precision on a number", "%.3D", loc::ArgList().num(1), "%%.3D", true},
    {"flags in any order", "%2$+D/%+1$D", loc::ArgList().num(1).num(-2), "-2/+1", false},
    {"position past the list", "%3$S", loc::ArgList().str("a").str("b"), "%%3$S", true},
    {"position zero", "%0$S", loc::ArgList().str("a"), "%%0$S", true},
    {"string for a number", "%D", loc::ArgList().str("a"), "%%D", true},
    {"lower-case conversion", "%s", loc::ArgList().str("a"), "%%s", true},
    {"double percent", "100%% sure", loc::ArgList(), "100% sure", false},
    {"trailing percent", "50%", loc::ArgList(), "50%%", true},
    {"no arguments", "%S", loc::ArgList(), "%%S", true},
};

class FormatArgsTest : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatArgsTest, Expands) {
  const FormatCase& c = GetParam();
  LogCapture capture;
  plat::CharArray out = loc::formatNew(c.templ, c.args.first());
  EXPECT_STREQ(out.get(), c.expected);
  std::vector<yarl_test::LogRecord> expected;
  if (c.bad) expected.push_back({"Localize", 0, std::string("Bad loc string for args - ") + c.templ});
  EXPECT_EQ(capture.from("Localize"), expected);
}

INSTANTIATE_TEST_SUITE_P(Templates, FormatArgsTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<FormatCase>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p; ++p) name += std::isalnum(*p) ? *p : '_';
                           return name;
                         });

TEST(FormatArgsTest, AppendsToWhatIsThere) {
  plat::DString out("n=");
  loc::ArgList args;
  args.num(1);
  EXPECT_STREQ(loc::formatArgs(out, "%D", args.first()).c_str(), "n=1");
}

TEST(FormatInto256Test, CutsOnACharacterBoundary) {
  char buffer[256];
  std::string text(254, 'a');
  plat::formatInto256(buffer, "%s\xc3\xa9z", text.c_str());
  // 254 + 2 bytes would leave no room for the terminator.
  EXPECT_EQ(std::string(buffer), text);
}

}  // namespace
