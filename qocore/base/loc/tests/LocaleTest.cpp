#include <gtest/gtest.h>
#include <langinfo.h>
#include <locale.h>

#include <csignal>
#include <map>
#include <string>
#include <thread>

#include "platform/locale/SystemLocale.h"
#include "qocore/base/loc/LocaleNames.h"
#include "qocore/base/loc/LocaleSetter.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "testing/LogCapture.h"

namespace {

using yarl_test::LogCapture;
using yarl_test::LogRecord;
using Names = std::vector<std::string>;

// The environment the locale stand-in reads, for the life of the object.
class FakeEnv {
 public:
  explicit FakeEnv(std::map<std::string, std::string> vars) {
    vars_() = std::move(vars);
    previous_ = locale::setLocaleEnv(&get);
  }
  FakeEnv(const FakeEnv&) = delete;
  FakeEnv& operator=(const FakeEnv&) = delete;
  ~FakeEnv() {
    locale::setLocaleEnv(previous_);
    vars_().clear();
  }

 private:
  static std::map<std::string, std::string>& vars_() {
    static std::map<std::string, std::string> vars;
    return vars;
  }
  static const char* get(const char* name) {
    auto it = vars_().find(name);
    return it == vars_().end() ? nullptr : it->second.c_str();
  }
  locale::LocaleEnvFn previous_;
};

// Sets `Locale` for one test and re-selects from the system afterwards.
class LocaleParam : public testing::Test {
 protected:
  void SetUp() override { loc::Localize::instance().init({}); }
  void TearDown() override {
    plat::Configuration::global().findParam("Locale")->unsetParam(kPriority);
    loc::Localize::instance().updateLocales();
  }
  static void set(const char* value) {
    EXPECT_TRUE(plat::Configuration::global().setParam("Locale", value, kPriority));
  }
  static constexpr int kPriority = plat::ConfigParameter::kPreference;
};

// ---- Names ----

TEST(LocaleListTest, SplitsCompletesAndExpands) {
  struct Case {
    const char* text;
    Names split;
    Names expanded;
  };
  const Case cases[] = {
      {"de", {"de_DE"}, {"de_DE", "de", "en_US", "en"}},
      {"pt_BR:fr", {"pt_BR", "fr_FR"}, {"pt_BR", "pt", "fr_FR", "fr", "en_US", "en"}},
      {"xx", {"xx"}, {"xx", "en_US", "en"}},
      {"de-AT.UTF-8@euro", {"de_AT"}, {"de_AT", "de", "en_US", "en"}},
      {"::en:en_US:", {"en_US"}, {"en_US", "en"}},
      {"", {}, {"en_US", "en"}},
  };
  for (const Case& c : cases) {
    Names split, expanded;
    loc::splitLocaleList(c.text, split);
    EXPECT_EQ(split, c.split) << c.text;
    loc::expandLocaleList(split, expanded);
    EXPECT_EQ(expanded, c.expanded) << c.text;
  }
}

TEST(LocaleListTest, DefaultTerritoryWinsForItsLanguageOnly) {
  Names out;
  loc::splitLocaleList("fr:de:de_CH", out, "de", "AT");
  EXPECT_EQ(out, (Names{"fr_FR", "de_AT", "de_CH"}));
}

TEST(LocaleListTest, LanguagesFromEnvironment) {
  {
    FakeEnv env(std::map<std::string, std::string>{{"LANGUAGE", "fr:de"}});
    Names out;
    EXPECT_TRUE(loc::languagesFromEnv("de_AT", out));
    EXPECT_EQ(out, (Names{"fr_FR", "de_AT"}));
  }
  const char* unsets[] = {"", nullptr};
  for (const char* unset : unsets) {
    FakeEnv env(unset ? std::map<std::string, std::string>{{"LANGUAGE", unset}} : std::map<std::string, std::string>{});
    Names out;
    EXPECT_FALSE(loc::languagesFromEnv("de_AT", out));
    EXPECT_TRUE(out.empty());
  }
}

TEST(LocaleListTest, CharsetClasses) {
  struct Case {
    const char* codeset;
    int cls;
  };
  const Case cases[] = {{"UTF-8", 1},    {"utf8", 1}, {"ISO-8859-1", 2}, {"ISO_8859-15", 2}, {"ANSI_X3.4-1968", 3},
                        {"US-ASCII", 3}, {"646", 3},  {"ISO646-US", 3},  {"ISO-IR-6", 3},    {"KOI8-R", 0},
                        {"", 0}};
  for (const Case& c : cases) EXPECT_EQ(loc::charsetClass(c.codeset), c.cls) << c.codeset;
}

// ---- Probing (needs the platform's locales installed) ----

TEST(ProbeLocaleTest, ReachesUtf8WhereThePlatformCan) {
  struct Case {
    const char* name;
    bool supported;
    const char* resolved;
    int cls;
  };
  const Case cases[] = {
      {"de_DE", true, "de_DE.UTF-8", loc::kCharsetUtf8},
      {"fr_FR.UTF-8", true, "fr_FR.UTF-8", loc::kCharsetUtf8},
      {"sr_RS@latin", true, "sr_RS@latin", loc::kCharsetUtf8},
      // No UTF-8 form: the platform's own, ISO-8859-15, which its name
      // classes with ISO-8859-1.
      {"de_DE@euro", true, "de_DE@euro", loc::kCharsetLatin1},
      // Known to the platform (as ASCII), but with neither a UTF-8 nor an
      // ISO-8859-1 form.
      {"POSIX", false, "", 0},
      {"xx_YY", false, "", 0},
      {"", false, "", 0},
  };
  for (int round = 0; round < 2; ++round) {  // the second round answers from the cache
    for (const Case& c : cases) {
      loc::ResolvedLocale r;
      EXPECT_EQ(loc::probeLocale(c.name, &r), c.supported) << c.name;
      if (!c.supported) continue;
      EXPECT_STREQ(r.name.c_str(), c.resolved);
      EXPECT_EQ(r.charset, c.cls) << c.name;
    }
  }
}

// ---- Selection ----

TEST_F(LocaleParam, LocaleParameterDrivesListMapAndDefaults) {
  struct Case {
    const char* value;
    const char* locales;
    Names mapList;
    const char* processLocale;
    Names appleLanguages;
  };
  const Case cases[] = {
      {"de", "de_DE:en_US", {"de_DE", "de", "en_US", "en"}, "de_DE.UTF-8", {"de_DE", "en_US"}},
      {"pt_BR:fr",
       "pt_BR:fr_FR:en_US",
       {"pt_BR", "pt", "fr_FR", "fr", "en_US", "en"},
       "pt_BR.UTF-8",
       {"pt_BR", "fr_FR", "en_US"}},
      {"xx", "xx:en_US", {"xx", "en_US", "en"}, "en_US.UTF-8", {"en_US"}},
  };
  for (const Case& c : cases) {
    int syncs = locale::userDefaultsSyncCount();
    set(c.value);
    EXPECT_STREQ(loc::Localize::instance().getLocales().c_str(), c.locales);
    EXPECT_EQ(loc::TransMap::process().locales(), c.mapList);
    EXPECT_STREQ(loc::Localize::instance().processLocaleName().c_str(), c.processLocale);
    locale::ArgumentDomain domain = locale::argumentDomain();
    EXPECT_EQ(domain.appleLocale, c.mapList.front());
    EXPECT_EQ(domain.appleLanguages, c.appleLanguages);
    EXPECT_GT(locale::userDefaultsSyncCount(), syncs);
  }
}

TEST_F(LocaleParam, RuntimeChangeRebuildsAndLogsOnce) {
  LogCapture capture("Localize:capture:30");
  set("fr");
  EXPECT_STREQ(loc::translate("loc_time_yesterday"), "hier");
  // The same list again, from another priority: no new message.
  EXPECT_TRUE(plat::Configuration::global().setParam("Locale", "fr_FR", kPriority + 1));
  plat::Configuration::global().findParam("Locale")->unsetParam(kPriority + 1);
  set("de");
  EXPECT_STREQ(loc::translate("loc_time_yesterday"), "gestern");
  std::vector<LogRecord> locales;
  for (const LogRecord& r : capture.from("Localize"))
    if (r.text.starts_with("Locales ")) locales.push_back(r);
  EXPECT_EQ(locales,
            (std::vector<LogRecord>{{"Localize", 30, "Locales fr_FR:en_US"}, {"Localize", 30, "Locales de_DE:en_US"}}));
}

TEST_F(LocaleParam, UnsupportedLocalesAreLoggedAndFallBackToC) {
  LogCapture capture("Localize:capture:30");
  set("xx:yy");
  EXPECT_STREQ(loc::Localize::instance().processLocaleName().c_str(), "en_US.UTF-8");
  std::vector<LogRecord> refused;
  for (const LogRecord& r : capture.from("Localize"))
    if (r.text.starts_with("No OS")) refused.push_back(r);
  EXPECT_EQ(refused, (std::vector<LogRecord>{{"Localize", 30, "No OS support for locale \"xx\""},
                                             {"Localize", 30, "No OS support for locale \"yy\""}}));
}

TEST_F(LocaleParam, EmptyLocaleFollowsTheEnvironment) {
  struct Case {
    std::map<std::string, std::string> env;
    const char* locales;
    const char* processLocale;
  };
  const Case cases[] = {
      {{{"LANGUAGE", "fr:de"}, {"LANG", "de_AT.UTF-8"}}, "fr_FR:de_AT:en_US", "fr_FR.UTF-8"},
      {{{"LC_ALL", "pt_BR.UTF-8"}, {"LANG", "de_DE"}}, "pt_BR:en_US", "pt_BR.UTF-8"},
      {{{"LC_MESSAGES", "es-ES"}}, "es_ES:en_US", "es_ES.UTF-8"},
      {{{"LANGUAGE", "xx:C"}, {"LANG", "POSIX"}}, "C:en_US", "C"},
      {{}, "C:en_US", "C"},
  };
  for (const Case& c : cases) {
    FakeEnv env(c.env);
    loc::Localize::instance().updateLocales();
    EXPECT_STREQ(loc::Localize::instance().getLocales().c_str(), c.locales);
    EXPECT_STREQ(loc::Localize::instance().processLocaleName().c_str(), c.processLocale) << c.locales;
  }
}

// ---- Per-thread locale ----

std::string threadCodeset() { return nl_langinfo(CODESET); }

TEST(LocaleSetterTest, NestsInheritsAndRestores) {
  std::string before = threadCodeset();
  std::string beforeLocales = loc::currentLocales().c_str();
  {
    loc::LocaleSetter outer("de:fr");
    EXPECT_STREQ(outer.resolvedName(), "de_DE.UTF-8");
    EXPECT_EQ(threadCodeset(), "UTF-8");
    EXPECT_STREQ(loc::translate("loc_time_yesterday"), "gestern");
    {
      loc::LocaleSetter inner(nullptr);
      EXPECT_STREQ(inner.resolvedName(), "de_DE.UTF-8");
      EXPECT_STREQ(loc::currentLocales().c_str(), "de:fr");
      EXPECT_STREQ(loc::translate("loc_time_yesterday"), "gestern");
      loc::LocaleSetter french("fr");
      EXPECT_STREQ(loc::translate("loc_time_yesterday"), "hier");
      EXPECT_STREQ(loc::currentLocales().c_str(), "fr");
    }
    EXPECT_STREQ(loc::translate("loc_time_yesterday"), "gestern");
    // Another thread keeps the process's texts.
    std::string other;
    std::thread([&] { other = loc::currentLocales().c_str(); }).join();
    EXPECT_EQ(other, beforeLocales);
  }
  EXPECT_EQ(threadCodeset(), before);
  EXPECT_EQ(loc::currentLocales().c_str(), beforeLocales);
}

TEST(LocaleSetterTest, UnsupportedNameResolvesToC) {
  LogCapture capture("Localize:capture:30");
  loc::LocaleSetter setter("xx_YY");
  EXPECT_STREQ(setter.resolvedName(), "C");
  EXPECT_EQ(threadCodeset(), "ANSI_X3.4-1968");
  EXPECT_EQ(capture.from("Localize"), (std::vector<LogRecord>{{"Localize", 30, "No OS support for locale \"xx_YY\""}}));
}

TEST(LocaleSetterDeathTest, OutOfOrderDestructionFails) {
  EXPECT_EXIT(
      {
        auto* outer = new loc::LocaleSetter("de");
        loc::LocaleSetter inner("fr");
        delete outer;
      },
      testing::KilledBySignal(SIGABRT), "Assertion 'thrInst == this' failed");
}

TEST(WrapTextInLocaleTest, WrapsAtTheWidth) {
  plat::DString text("one two three four");
  loc::wrapTextInLocale(text, 9, 2);
  EXPECT_STREQ(text.c_str(), "one two\n  three\n  four");
}

}  // namespace
