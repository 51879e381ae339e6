#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "qocore/base/os/Environment.h"
#include "testing/FileFixtures.h"

namespace {

constexpr const char* kName = "YARL_ENV_TEST_VARIABLE";

// The variable's value, or "<unset>".
std::string valueOf(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "<unset>";
}

class EnvironmentTest : public testing::Test {
 protected:
  void TearDown() override { ::unsetenv(kName); }
};

TEST_F(EnvironmentTest, SetOverwritesAndUnsetAnswersTheSystemResult) {
  os::setEnv(kName, "first");
  os::setEnv(kName, "second");
  EXPECT_EQ(valueOf(kName), "second");
  EXPECT_EQ(os::unsetEnv(kName), 0);
  EXPECT_EQ(valueOf(kName), "<unset>");
  errno = 0;
  EXPECT_EQ(os::unsetEnv("BAD=NAME"), -1);
  EXPECT_EQ(errno, EINVAL);
}

TEST_F(EnvironmentTest, ScopedEnvHide) {
  struct Case {
    const char* name;
    const char* before;     // null: unset
    const char* setInside;  // null: left alone inside the guard
    const char* inside;
    const char* after;
  };
  const Case cases[] = {
      {"set variable reads empty, then comes back", "secret-value", nullptr, "", "secret-value"},
      {"unset variable stays unset", nullptr, nullptr, "<unset>", "<unset>"},
      {"variable set anew inside is left alone", "old-value", "replacement-value-1", "replacement-value-1",
       "replacement-value-1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.before)
      ::setenv(kName, c.before, 1);
    else
      ::unsetenv(kName);
    {
      os::ScopedEnvHide hide(kName);
      if (c.setInside) ::setenv(kName, c.setInside, 1);
      EXPECT_EQ(valueOf(kName), c.inside);
    }
    EXPECT_EQ(valueOf(kName), c.after);
  }
}

TEST_F(EnvironmentTest, ClearEnvEmptiesTheEnvironment) {
  // Run in a child: the test process keeps its environment.
  std::string result = yarl_test::inChild([] {
    ::setenv(kName, "x", 1);
    os::clearEnv();
    return valueOf(kName) + " " + valueOf("PATH") + " " + std::to_string(environ[0] == nullptr);
  });
  EXPECT_EQ(result, "<unset> <unset> 1");
}

}  // namespace
