#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <utility>

#include "libs/score/Mode.h"
#include "qocore/base/loc/LocaleSetter.h"
#include "qocore/base/plat/Exception.h"
#include "testing/FailureOf.h"

namespace {

using yarl_test::failureOf;

TEST(ModeTest, WordsAreParsedIgnoringCase) {
  struct Case {
    const char* text;
    bool isName;
    int mode;  // -1: "Bad mode name"
  };
  const Case cases[] = {
      {"user", true, score::kUser},
      {"Service", true, score::kService},
      {"VIRTUAL", true, score::kVirtual},
      {"sErViCe", true, score::kService},
      {"system", false, -1},
      {"users", false, -1},
      {"", false, -1},
      {nullptr, false, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text ? c.text : "(null)");
    EXPECT_EQ(score::isModeName(c.text), c.isName);
    if (c.mode < 0) {
      EXPECT_EQ(failureOf<plat::Exception>([&] { (void)score::parseMode(c.text); }), "Bad mode name");
    } else {
      EXPECT_EQ(score::parseMode(c.text), static_cast<score::Mode>(c.mode));
    }
  }
}

TEST(ModeTest, DisplayNamesAreLocalisedAndAnyOtherValueIsTheUserMode) {
  struct Case {
    const char* locale;
    uint32_t mode;
    const char* text;
  };
  const Case cases[] = {
      {"en", score::kUser, "User Mode"},       {"en", score::kService, "Service Mode"},
      {"en", score::kVirtual, "Virtual Mode"}, {"en", 7, "User Mode"},
      {"de", score::kService, "Dienstmodus"},  {"fr", 3, "Mode Utilisateur"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.locale) + " " + std::to_string(c.mode));
    loc::LocaleSetter setter(c.locale);
    EXPECT_STREQ(score::modeName(static_cast<score::Mode>(c.mode)), c.text);
  }
}

TEST(ModeTest, TheCurrentModeStartsAsUserAndHoldsOnlyTheThreeModes) {
  EXPECT_EQ(score::currentMode(), score::kUser);
  EXPECT_STREQ(score::currentModeName(), "user");
  const std::pair<score::Mode, const char*> cases[] = {
      {score::kService, "service"}, {score::kVirtual, "virtual"}, {score::kUser, "user"}};
  for (const auto& [mode, word] : cases) {
    score::setCurrentMode(mode);
    EXPECT_EQ(score::currentMode(), mode);
    EXPECT_STREQ(score::currentModeName(), word);
  }
  EXPECT_EXIT(score::setCurrentMode(static_cast<score::Mode>(3)), testing::KilledBySignal(SIGABRT),
              "Assertion 'mode <= kVirtual' failed");
}

}  // namespace
