#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/locale/SystemLocale.h"

namespace {

using Names = std::vector<std::string>;

std::map<std::string, std::string> env;
const char* fakeEnv(const char* name) {
  auto it = env.find(name);
  return it == env.end() ? nullptr : it->second.c_str();
}

class SystemLocaleTest : public testing::Test {
 protected:
  void SetUp() override { previous_ = locale::setLocaleEnv(&fakeEnv); }
  void TearDown() override {
    locale::setLocaleEnv(previous_);
    env.clear();
  }
  locale::LocaleEnvFn previous_ = nullptr;
};

TEST(NormaliseLocaleEntryTest, DropsCharsetModifierAndPortableNames) {
  struct Case {
    const char* entry;
    const char* normal;
  };
  const Case cases[] = {{"de_AT.UTF-8", "de_AT"},
                        {"sr-RS@latin", "sr_RS"},
                        {"fr", "fr"},
                        {"pt-BR.ISO-8859-1@x", "pt_BR"},
                        {"C", ""},
                        {"POSIX", ""},
                        {"C.UTF-8", ""},
                        {"", ""}};
  for (const Case& c : cases) EXPECT_STREQ(locale::normaliseLocaleEntry(c.entry).c_str(), c.normal) << c.entry;
}

TEST_F(SystemLocaleTest, CurrentAndPreferredComeFromTheEnvironment) {
  struct Case {
    std::map<std::string, std::string> vars;
    const char* current;
    Names preferred;
  };
  const Case cases[] = {
      {{{"LANG", "de_AT.UTF-8"}, {"LANGUAGE", "fr:de"}}, "de_AT", {"fr", "de", "de_AT"}},
      {{{"LC_ALL", "es_ES.UTF-8"}, {"LC_MESSAGES", "fr_FR"}, {"LANG", "de_DE"}}, "es_ES", {"es_ES"}},
      {{{"LC_ALL", ""}, {"LC_MESSAGES", "fr_FR"}, {"LANG", "de_DE"}}, "fr_FR", {"fr_FR"}},
      {{{"LANGUAGE", "C:pt-BR::pt_BR"}, {"LANG", "POSIX"}}, "", {"pt_BR"}},
      {{}, "", {}},
  };
  for (const Case& c : cases) {
    env = c.vars;
    EXPECT_STREQ(locale::currentLocale().c_str(), c.current);
    EXPECT_EQ(locale::preferredLanguages(), c.preferred) << c.current;
  }
}

TEST(UserDefaultsTest, ArgumentDomainIsReplacedWhole) {
  locale::setArgumentDomain({"fr_FR", {"fr_FR", "en_US"}});
  locale::setArgumentDomain({"de_DE", {"de_DE"}});
  int syncs = locale::userDefaultsSyncCount();
  locale::synchronizeUserDefaults();
  locale::ArgumentDomain domain = locale::argumentDomain();
  EXPECT_EQ(domain.appleLocale, "de_DE");
  EXPECT_EQ(domain.appleLanguages, Names{"de_DE"});
  EXPECT_EQ(locale::userDefaultsSyncCount(), syncs + 1);
}

}  // namespace
