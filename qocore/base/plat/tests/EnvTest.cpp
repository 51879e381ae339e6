#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Env.h"
#include "qocore/base/plat/Exception.h"

namespace {

class ExpandEnvVars : public testing::Test {
 protected:
  void SetUp() override {
    setenv("YARL_TEST_HOME", "/home/u", 1);
    setenv("YARL_TEST_EMPTY", "", 1);
    unsetenv("YARL_TEST_UNSET");
    overrides_.emplace(plat::CharArray("YARL_TEST_HOME"), plat::CharArray("/override"));
    overrides_.emplace(plat::CharArray("ONLY_HERE"), plat::CharArray("here"));
  }
  void TearDown() override {
    unsetenv("YARL_TEST_HOME");
    unsetenv("YARL_TEST_EMPTY");
  }

  std::string expand(const char* text, bool withOverrides, bool failOnUnknown, bool useEnvironment) {
    plat::DString out("stale");
    plat::expandEnvVars(out, text, withOverrides ? &overrides_ : nullptr, failOnUnknown, useEnvironment);
    return out.c_str();
  }

  plat::EnvOverrides overrides_;
};

TEST_F(ExpandEnvVars, References) {
  struct Case {
    const char* text;
    const char* out;
  };
  for (const Case& c : std::vector<Case>{
           {"no references", "no references"},
           {"$YARL_TEST_HOME/Library/Logs", "/home/u/Library/Logs"},
           {"${YARL_TEST_HOME}/Library/Logs", "/home/u/Library/Logs"},
           {"${YARL_TEST_HOME}x$YARL_TEST_HOME", "/home/ux/home/u"},
           {"a$$b", "a$b"},
           {"$$$$", "$$"},
           {"$/x", "/x"},
           {"x$", "x"},
           {"${}", "$"},
           {"${YARL_TEST_HOME", "/home/u"},  // an unclosed brace runs to the end
           {"$YARL_TEST_EMPTY.", "."},
           {"$YARL_TEST_HOME-x", "/home/u-x"},
           {"$YARL_TEST_UNSET/x", "/x"},
       }) {
    EXPECT_EQ(expand(c.text, false, false, true), c.out) << c.text;
  }
}

TEST_F(ExpandEnvVars, OverridesComeBeforeTheEnvironment) {
  EXPECT_EQ(expand("$YARL_TEST_HOME:$ONLY_HERE", true, true, true), "/override:here");
  EXPECT_EQ(expand("$YARL_TEST_HOME:$ONLY_HERE", true, false, false), "/override:here");
  EXPECT_EQ(expand("[$YARL_TEST_EMPTY]", true, false, false), "[]");
}

TEST_F(ExpandEnvVars, UnknownNamesThrowWhenAskedTo) {
  struct Case {
    const char* text;
    bool useEnvironment;
    const char* name;
  };
  for (const Case& c : std::vector<Case>{
           {"$YARL_TEST_UNSET/x", true, "YARL_TEST_UNSET"},
           {"${YARL_TEST_HOME_2}", true, "YARL_TEST_HOME_2"},
           {"$YARL_TEST_HOME", false, "YARL_TEST_HOME"},  // set, but the environment is not used
       }) {
    try {
      expand(c.text, false, true, c.useEnvironment);
      ADD_FAILURE() << c.text << " expanded";
    } catch (const plat::Exception& e) {
      EXPECT_EQ(e.str(), std::string("unknown environment variable: ") + c.name);
    }
  }
}

}  // namespace
