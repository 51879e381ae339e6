#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "qocore/base/plat/CommandLine.h"
#include "qocore/base/plat/DString.h"

namespace {

std::vector<std::string> split(const char* text) {
  plat::CharArrayList list;
  list.emplace_back("kept");
  plat::splitCommandLine(list, text);
  std::vector<std::string> out;
  for (size_t i = 1; i < list.size(); ++i) out.emplace_back(list[i].get());
  return out;
}

TEST(CommandLine, QuoteOneArgument) {
  struct Case {
    const char* arg;
    const char* out;
  };
  for (const Case& c : std::vector<Case>{
           {"", R"("")"},
           {"plain", "plain"},
           {R"(C:\dir\file)", R"(C:\dir\file)"},
           {"a b", R"("a b")"},
           {"a b\\", R"("a b\\")"},
           {"tab\there", "\"tab\there\""},
           {"line\n", "\"line\n\""},
           {R"(say "hi")", R"("say \"hi\"")"},
           {R"(a\\"b)", R"("a\\\\\"b")"},
           {R"(x\y z)", R"("x\y z")"},
       }) {
    plat::DString out;
    plat::appendQuotedArg(out, c.arg);
    EXPECT_STREQ(out.c_str(), c.out) << c.arg;
  }
  plat::DString line;
  plat::appendQuotedArg(line, "one");
  plat::appendQuotedArg(line, "");
  plat::appendQuotedArg(line, "t w o");
  EXPECT_STREQ(line.c_str(), R"(one "" "t w o")");
}

TEST(CommandLine, Split) {
  struct Case {
    const char* text;
    std::vector<std::string> args;
  };
  for (const Case& c : std::vector<Case>{
           {"", {}},
           {" \t ", {}},
           {"  a  b\tc ", {"a", "b", "c"}},
           {R"("a b" c)", {"a b", "c"}},
           {R"("" x "")", {"", "x", ""}},
           {R"(ab""cd)", {"abcd"}},
           {R"(a"b c"d e)", {"ab cd", "e"}},
           {R"(a\b c\\d)", {R"(a\b)", R"(c\\d)"}},
           {R"(a\"b)", {R"(a"b)"}},
           {R"(a\\"b c")", {R"(a\b c)"}},
           {R"(a\\\"b)", {R"(a\"b)"}},
           {R"("open to the end)", {"open to the end"}},
           {"\"a\nb\" c\nd", {"a\nb", "c\nd"}},
       }) {
    EXPECT_EQ(split(c.text), c.args) << c.text;
  }
}

TEST(CommandLine, SplittingUndoesQuoting) {
  std::mt19937 rng(7);
  const char alphabet[] = {'a', ' ', '\t', '\n', '\\', '"'};
  for (int round = 0; round < 2000; ++round) {
    std::vector<std::string> args(1 + rng() % 4);
    for (std::string& arg : args)
      for (int n = rng() % 8; n > 0; --n) arg.push_back(alphabet[rng() % sizeof alphabet]);
    plat::DString line;
    for (const std::string& arg : args) plat::appendQuotedArg(line, arg.c_str());
    ASSERT_EQ(split(line.c_str()), args) << line.c_str();
  }
}

}  // namespace
