#include <gtest/gtest.h>

#include <string>

#include "qocore/base/os/Backtrace.h"

// Outside any unnamed namespace, so the exported symbol table names it.
[[gnu::noinline]] plat::CharArrayList backtraceProbeCaller() {
  plat::CharArrayList lines;
  os::getBacktrace(lines);
  asm volatile("");  // keeps the call from becoming a tail call
  return lines;
}

namespace {

TEST(BacktraceTest, StartsAtTheCallerAndKeepsLinesAlreadyThere) {
  plat::CharArrayList lines = backtraceProbeCaller();
  ASSERT_GT(lines.size(), 2u);
  EXPECT_NE(std::string(lines[0].c_str()).find("backtraceProbeCaller"), std::string::npos) << lines[0].c_str();
  for (const plat::CharArray& line : lines)
    EXPECT_EQ(std::string(line.c_str()).find("getBacktrace"), std::string::npos) << line.c_str();

  plat::CharArrayList appended;
  appended.emplace_back("earlier");
  os::getBacktrace(appended);
  ASSERT_GT(appended.size(), 1u);
  EXPECT_STREQ(appended[0].c_str(), "earlier");
}

}  // namespace
