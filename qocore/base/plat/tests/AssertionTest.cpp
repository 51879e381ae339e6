#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogDestFile.h"
#include "qocore/base/plat/LogSrc.h"
#include "testing/LogCapture.h"
#include "testing/StderrCapture.h"

namespace {

using testing::AllOf;
using testing::ContainsRegex;
using testing::HasSubstr;
using testing::Not;

// Globals, so that capture-less hooks can name them in assertions.
int outer_failure = 1;
int inner_failure = 1;

// Restores the default hooks after a test that replaced them.
class AssertionHooks : public testing::Test {
 protected:
  void TearDown() override {
    plat::assertion_hooks::setLog(nullptr);
    plat::assertion_hooks::setFlush(nullptr);
  }
};

using AssertionDeathTest = AssertionHooks;

TEST_F(AssertionDeathTest, FailureNamesExpressionFileAndLineThenAborts) {
  // The "Assertion" source bound to standard error shows what the handler
  // logs: the message, then the stack trace.
  plat::LogDestFile::stderrDest("logtest");
  plat::applyLogSetting("Assertion:stderr:0");
  EXPECT_EXIT(PLAT_ASSERT(1 + 1 == 3), testing::KilledBySignal(SIGABRT),
              AllOf(ContainsRegex("Assertion '1 \\+ 1 == 3' failed at "
                                  "qocore/base/plat/tests/AssertionTest\\.cpp:[0-9]+\n"),
                    ContainsRegex("Assertion: Assertion '1 \\+ 1 == 3' failed at [^\n]*\n"
                                  "[^\n]*Assertion: stacktrace: ")));
  plat::applyLogSetting(plat::Configuration::global().findParam("Log")->getValueStr().get());
}

TEST_F(AssertionDeathTest, DetailIsAppended) {
  EXPECT_EXIT(PLAT_ASSERT_MSG(false, "%s is null", "Widget"), testing::KilledBySignal(SIGABRT),
              HasSubstr("failed at qocore/base/plat/tests/AssertionTest.cpp"));
  EXPECT_EXIT(PLAT_ASSERT_MSG(false, "%s is null", "Widget"), testing::KilledBySignal(SIGABRT),
              ContainsRegex(":[0-9]+: Widget is null\n"));
}

TEST_F(AssertionDeathTest, FailureInsideTheHandlerEndsTheProcessAtOnce) {
  plat::assertion_hooks::setLog([](const char*) { PLAT_ASSERT(inner_failure == 0); });
  EXPECT_EXIT(PLAT_ASSERT(outer_failure == 0), testing::KilledBySignal(SIGABRT),
              AllOf(HasSubstr("Assertion 'outer_failure == 0' failed"), Not(HasSubstr("inner_failure"))));
}

TEST_F(AssertionDeathTest, ExceptionFromLoggingIsSwallowedAndTheProcessStillEnds) {
  plat::assertion_hooks::setLog([](const char*) { throw plat::Exception("log broke"); });
  plat::assertion_hooks::setFlush([] { fputs("flushed\n", stderr); });
  // Logging threw, so the remaining steps (the flush among them) are skipped.
  EXPECT_EXIT(PLAT_ASSERT(false), testing::KilledBySignal(SIGABRT),
              AllOf(HasSubstr("Assertion 'false' failed"), Not(HasSubstr("flushed"))));
}

TEST_F(AssertionDeathTest, ChildLogChannelIsFlushedBeforeTheEnd) {
  plat::assertion_hooks::setLog([](const char*) {});
  plat::assertion_hooks::setFlush([] { fputs("flushed\n", stderr); });
  EXPECT_EXIT(PLAT_ASSERT(false), testing::KilledBySignal(SIGABRT), ContainsRegex("failed at .*\nflushed\n"));
}

std::vector<std::string> logged;

TEST_F(AssertionHooks, WarningLogsAndReturns) {
  logged.clear();
  plat::assertion_hooks::setLog([](const char* line) { logged.emplace_back(line); });
  plat::assertionWarning(plat::AssertionFail("x > 0", "f.cpp", 7));
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0], "Warning: Assertion 'x > 0' failed at f.cpp:7");
}

TEST_F(AssertionHooks, WarningReturnsEvenWhenLoggingThrows) {
  plat::assertion_hooks::setLog([](const char*) { throw std::runtime_error("no log"); });
  plat::assertionWarning(plat::AssertionFail("x > 0", "f.cpp", 7));
  plat::assertion_hooks::setLog([](const char*) { throw plat::Exception("no log"); });
  plat::assertionWarning(plat::AssertionFail("x > 0", "f.cpp", 7));
  SUCCEED();
}

// The forms with a given text: each case fails once through the fatal form
// and once through the throwing one, with the same text.
int evaluations = 0;

struct TextCase {
  void (*fatal)();
  void (*thrown)();
  const char* text;    // the expression text printed
  const char* detail;  // what follows the line number
};

const TextCase kTextCases[] = {
    // The text keeps spacing and spelling the expression does not have.
    {[] { PLAT_ASSERT_TEXT(evaluations * 2 == 3, "evaluations*2 == 3"); },
     [] { PLAT_REQUIRE_TEXT(evaluations * 2 == 3, "evaluations*2 == 3"); }, "evaluations*2 == 3", ""},
    {[] { PLAT_ASSERT_TEXT(evaluations < 0, "[NSApp isKindOfClass:[X class]] && s == \"http\""); },
     [] { PLAT_REQUIRE_TEXT(evaluations < 0, "[NSApp isKindOfClass:[X class]] && s == \"http\""); },
     "[NSApp isKindOfClass:[X class]] && s == \"http\"", ""},
    {[] { PLAT_ASSERT_TEXT(evaluations < 0, "cert", "%s is null", "Widget"); },
     [] { PLAT_REQUIRE_TEXT(evaluations < 0, "cert", "%s is null", "Widget"); }, "cert", ": Widget is null"},
    {[] { PLAT_ASSERT_TEXT(false, "Widget::run() not implemented", "%d", 7); },
     [] { PLAT_REQUIRE_TEXT(false, "Widget::run() not implemented", "%d", 7); }, "Widget::run() not implemented",
     ": 7"},
};

std::string escapeRegex(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::strchr("\\.[](){}*+?|^$", c)) out += '\\';
    out += c;
  }
  return out;
}

std::string messageRegex(const TextCase& c) {
  return "Assertion '" + escapeRegex(c.text) + "' failed at qocore/base/plat/tests/AssertionTest\\.cpp:[0-9]+" +
         escapeRegex(c.detail);
}

TEST_F(AssertionDeathTest, GivenTextIsPrintedAsItStands) {
  for (const TextCase& c : kTextCases) {
    EXPECT_EXIT(c.fatal(), testing::KilledBySignal(SIGABRT), ContainsRegex(messageRegex(c) + "\n")) << c.text;
  }
}

TEST(AssertionText, RequireThrowsTheAssertionWithTheGivenTextAndLogsNothing) {
  yarl_test::LogCapture capture;
  yarl_test::StderrCapture err;
  for (const TextCase& c : kTextCases) {
    try {
      c.thrown();
      ADD_FAILURE() << c.text << ": nothing thrown";
    } catch (const plat::Exception& e) {
      EXPECT_EQ(typeid(e), typeid(plat::AssertionFail)) << c.text;
      EXPECT_STREQ(e.typeName(), "AssertionFail");
      EXPECT_STREQ(static_cast<const plat::AssertionFail&>(e).expression(), c.text);
      EXPECT_THAT(e.str(), testing::MatchesRegex(messageRegex(c)));
    }
  }
  EXPECT_EQ(err.text(), "");
  EXPECT_THAT(capture.records(), testing::IsEmpty());
}

TEST(AssertionText, ExpressionIsEvaluatedOnceAndPassesWhenItHolds) {
  evaluations = 0;
  PLAT_ASSERT_TEXT(++evaluations == 1, "false");
  PLAT_REQUIRE_TEXT(++evaluations == 2, "false", "%s", "never formatted");
  EXPECT_EQ(evaluations, 2);
}

TEST(AssertionFail, CanBeThrownAndCaughtAsAnException) {
  try {
    throw plat::AssertionFail("digit", "hex.cpp", 3);
  } catch (const plat::Exception& e) {
    EXPECT_STREQ(e.typeName(), "AssertionFail");
  }
}

}  // namespace
