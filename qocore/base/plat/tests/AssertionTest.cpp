#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogDestFile.h"
#include "qocore/base/plat/LogSrc.h"

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

TEST(AssertionFail, CanBeThrownAndCaughtAsAnException) {
  try {
    throw plat::AssertionFail("digit", "hex.cpp", 3);
  } catch (const plat::Exception& e) {
    EXPECT_STREQ(e.typeName(), "AssertionFail");
  }
}

}  // namespace
