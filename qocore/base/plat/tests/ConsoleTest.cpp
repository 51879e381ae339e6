#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "qocore/base/plat/Console.h"

namespace {

// TERM as a test sets it, restored afterwards.
class ConsoleTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* term = getenv("TERM");
    hadTerm_ = term != nullptr;
    if (term) savedTerm_ = term;
    ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
  }
  void TearDown() override {
    if (hadTerm_) {
      setenv("TERM", savedTerm_.c_str(), 1);
    } else {
      unsetenv("TERM");
    }
    close(master_);
    close(slave_);
  }

  int master_ = -1;
  int slave_ = -1;
  bool hadTerm_ = false;
  std::string savedTerm_;
};

TEST_F(ConsoleTest, ColourNeedsATerminalAndAColourTerm) {
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  struct Case {
    const char* term;  // null: unset
    bool colour;
  } cases[] = {
      {"xterm-256color", true}, {"ansi", true}, {"screen-color", true}, {"xterm", true}, {"dumb", false},
      {"XTERM", false},         {"", false},    {nullptr, false},
  };
  for (const Case& c : cases) {
    if (c.term) {
      setenv("TERM", c.term, 1);
    } else {
      unsetenv("TERM");
    }
    const char* name = c.term ? c.term : "<unset>";
    EXPECT_TRUE(plat::isTerminal(slave_)) << name;
    EXPECT_EQ(plat::isColourTerminal(slave_), c.colour) << name;
    EXPECT_FALSE(plat::isTerminal(pipeFds[1])) << name;
    EXPECT_FALSE(plat::isColourTerminal(pipeFds[1])) << name;
  }
  close(pipeFds[0]);
  close(pipeFds[1]);
}

TEST_F(ConsoleTest, AttributesAreWrittenAsAnEscapeSequence) {
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  plat::setTerminalAttr(out, "1;31", false);
  fputs("red", out);
  plat::setTerminalAttr(out, "0", true);
  // The flush made the text visible without closing the stream.
  EXPECT_EQ(std::string(text, size), "\033[1;31mred\033[0m");
  fclose(out);
  free(text);
}

}  // namespace
