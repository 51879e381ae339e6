#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <mutex>
#include <string>

#include "qocore/base/loc/LocaleSetter.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/PlatStrings.h"
#include "qocore/base/plat/Resource.h"
#include "testing/FileFixtures.h"
#include "testing/LogCapture.h"

namespace {

using yarl_test::LogCapture;
using yarl_test::LogRecord;

// A resource folder of .po files that the catalogue reads; forgotten again
// at the end.
class PoFolder : public testing::Test {
 protected:
  void SetUp() override { loc::Localize::instance().init({dir_.path()}); }
  void TearDown() override { loc::Localize::instance().init({}); }
  void write(const char* locale, const std::string& text) {
    dir_.write(std::string("strings.") + locale + ".po", text);
  }
  yarl_test::TempDir dir_;
};

// ---- Plurals ----

TEST(PluralFormTest, FollowsTheLanguage) {
  struct Case {
    const char* locale;
    unsigned count;
    const char* form;
  };
  const Case cases[] = {
      {"en", 0, "many"}, {"en_US", 1, "sing"}, {"de", 2, "many"},    {"fr", 0, "sing"},       {"fr_CA", 1, "sing"},
      {"fr", 2, "many"}, {"pt", 0, "sing"},    {"pt_BR", 1, "sing"}, {"pt_PT", 0, "many"},    {"pt-PT", 1, "sing"},
      {"ja", 1, "many"}, {"zh_TW", 1, "many"}, {"ko", 0, "many"},    {"vi.UTF-8", 1, "many"},
  };
  for (const Case& c : cases) EXPECT_STREQ(loc::pluralForm(c.locale, c.count), c.form) << c.locale << " " << c.count;
}

TEST_F(PoFolder, PluralKeysFollowTheLocaleOfTheText) {
  write("ja", "msgid \"loc_period_day_many\"\nmsgstr \"%D \xe6\x97\xa5\"\n");
  loc::Localize::instance().init({dir_.path()});
  struct Case {
    const char* locale;
    unsigned count;
    const char* text;
  };
  const Case cases[] = {
      {"en", 1, "%D day"},
      {"en", 0, "%D days"},
      {"fr", 0, "%D jour"},
      {"fr", 2, "%D jours"},
      {"de", 1, "%D Tag"},
      {"ja", 1, "%D \xe6\x97\xa5"},
      // A locale without the key falls back to English and its rule.
      {"xx", 1, "%D day"},
  };
  for (const Case& c : cases) {
    loc::LocaleSetter setter(c.locale);
    EXPECT_STREQ(loc::translatePlural("loc_period_day", c.count), c.text) << c.locale << " " << c.count;
  }
}

// ---- Lookups ----

TEST(TranslateTest, MissingKeyIsReportedAndReturned) {
  LogCapture capture("Localize:capture:0");
  EXPECT_STREQ(loc::translate("test_no_such_key", "Caller.cpp", 12), "test_no_such_key");
  EXPECT_STREQ(loc::translate("test_no_such_key"), "test_no_such_key");
  EXPECT_STREQ(loc::translatePlural("test_no_such_plural", 2, "Caller.cpp", 7), "test_no_such_plural");
  EXPECT_EQ(loc::lookup("test_no_such_key"), nullptr);
  EXPECT_EQ(capture.from("Localize"),
            (std::vector<LogRecord>{
                {"Localize", 0, "Missing translation for \"test_no_such_key\" (Caller.cpp:12)"},
                {"Localize", 0, "Missing translation for \"test_no_such_key\""},
                {"Localize", 0, "Missing plural translation for \"test_no_such_plural\" (Caller.cpp:7)"},
            }));
}

TEST(TranslateTest, FirstUseFixesRawOrFormatted) {
  loc::Localize::instance().addTranslation("en", "test_percent_formatted", "100%% sure");
  loc::Localize::instance().addTranslation("en", "test_percent_raw", "100%% sure");
  EXPECT_STREQ(loc::translate("test_percent_formatted"), "100% sure");
  EXPECT_STREQ(loc::translate("test_percent_formatted"), "100% sure");
  EXPECT_STREQ(loc::translate("test_percent_raw", nullptr, 0, true), "100%% sure");
  EXPECT_EXIT(loc::translate("test_percent_formatted", nullptr, 0, true), testing::KilledBySignal(SIGABRT),
              "Assertion '\\(raw == \\(t\\.state == TR_RAW\\)\\)' failed at .*: "
              "Can't use same string as both raw and formatted - test_percent_formatted");
  EXPECT_EXIT(loc::translate("test_percent_raw"), testing::KilledBySignal(SIGABRT),
              "Assertion '\\(raw == \\(t\\.state == TR_RAW\\)\\)' failed at .*: "
              "Can't use same string as both raw and formatted - test_percent_raw");
}

TEST(TranslateTest, BuiltInTextIsKeptAndMustBeUtf8) {
  loc::Localize::instance().addTranslation("en", "test_first_wins", "first");
  loc::Localize::instance().addTranslation("en", "test_first_wins", "second");
  EXPECT_STREQ(loc::translate("test_first_wins"), "first");
  EXPECT_EXIT(loc::Localize::instance().addTranslation("en", "test_bad_utf8", "\xff"), testing::KilledBySignal(SIGABRT),
              "Assertion 'plat::isValidUtf8\\(text\\)' failed at .*: Bad UTF-8 in test_bad_utf8");
}

// ---- Built-in platform texts ----

TEST(PlatStringsTest, SpeakTheThreadsLocale) {
  struct Case {
    const char* locale;
    const char* usage;
  };
  const Case cases[] = {{"fr", "Syntaxe :"}, {"de_AT", "Nutzung:"}, {"es", "Uso:"},
                        {"pt_BR", "Uso:"},   {"en", "Usage:"},      {"xx", "Usage:"}};
  for (const Case& c : cases) {
    loc::LocaleSetter setter(c.locale);
    EXPECT_STREQ(loc::translate("plat_usage_label"), c.usage) << c.locale;
  }
}

TEST(PlatStringsTest, RegisteredOnceAndEveryLocaleHasEveryKey) {
  plat::ensurePlatStrings();
  auto count = [](const char* locale) {
    int n = 0;
    plat::MutexLock lock(loc::locLock());
    for (auto& [key, text] : *loc::Localize::instance().table(locale)) n += key.starts_with("plat_");
    return n;
  };
  for (const char* locale : {"de", "es", "fr", "en", "pt"}) EXPECT_EQ(count(locale), 19) << locale;

  // A second registration would bring back a text taken out of the table
  // (a kept text would hide it).  The entry is set aside, not freed, and
  // put back afterwards, so pointers to it stay valid.
  std::map<std::string, loc::Translation>::node_type removed;
  {
    plat::MutexLock lock(loc::locLock());
    removed = loc::Localize::instance().table("fr")->extract("plat_run_with_help");
  }
  ASSERT_FALSE(removed.empty());
  plat::ensurePlatStrings();
  plat::MutexLock lock(loc::locLock());
  auto* fr = loc::Localize::instance().table("fr");
  EXPECT_EQ(fr->count("plat_run_with_help"), 0u);
  fr->erase("plat_run_with_help");
  fr->insert(std::move(removed));
}

TEST(PlatStringsTest, ParameterDescriptionsAreTranslated) {
  plat::Configuration conf("test");
  plat::StringParameter keyed("Where", plat::LocDesc{"plat_param_logdir"}, "", false, &conf);
  plat::StringParameter plain("Plain", "Plain words", "", false, &conf);
  loc::LocaleSetter setter("de");
  EXPECT_STREQ(keyed.getDescription(), "Verzeichnis für Protokollausgaben, die in eine Datei geleitet werden.");
  EXPECT_STREQ(plain.getDescription(), "Plain words");
}

// ---- .po files ----

TEST_F(PoFolder, FilesOverrideBuiltInTextsAndOldTextsStayValid) {
  write("de",
        "# comment\nmsgid \"\"\nmsgstr \"Content-Type: text/plain\"\n\n"
        "msgid \"loc_time_tomorrow\"\nmsgstr \"\xc3\xbc\" \n\"bermorgen\"\n");
  loc::Localize::instance().init({dir_.path()});
  const char* first;
  {
    loc::LocaleSetter setter("de");
    first = loc::translate("loc_time_tomorrow");
    EXPECT_STREQ(first,
                 "\xc3\xbc"
                 "bermorgen");
    EXPECT_EQ(loc::lookup(""), nullptr);
  }
  write("de", "msgid \"loc_time_tomorrow\"\nmsgstr \"morgen fr\xc3\xbch\"\n");
  loc::Localize::instance().init({dir_.path()});
  loc::LocaleSetter setter("de");
  EXPECT_STREQ(loc::translate("loc_time_tomorrow"), "morgen fr\xc3\xbch");
  // The text handed out before the files were read again is retired, not
  // freed.
  EXPECT_STREQ(first,
               "\xc3\xbc"
               "bermorgen");
}

TEST(PoReaderTest, BuiltInResourceIsReadForItsLocale) {
  static const char kPo[] = "msgid \"loc_time_tomorrow\"\nmsgstr \"zz-tomorrow\"\n";
  plat::registerResource("strings.zzres.po", sizeof kPo - 1, kPo);
  LogCapture capture("Localize:capture:30");
  loc::LocaleSetter setter("zzres");
  EXPECT_STREQ(loc::translate("loc_time_tomorrow"), "zz-tomorrow");
  EXPECT_STREQ(loc::translate("loc_time_yesterday"), "yesterday");
  EXPECT_EQ(capture.from("Localize"),
            (std::vector<LogRecord>{{"Localize", 30, "No OS support for locale \"zzres\""},
                                    {"Localize", 30, "Loaded strings from built-in resource strings.zzres.po"}}));
}

TEST(PoReaderTest, ReportsErrorsAndReadsOn) {
  struct Case {
    const char* name;
    const char* text;
    std::vector<std::string> errors;
    std::vector<std::pair<std::string, std::string>> stored;
  };
  const Case cases[] = {
      {"escapes",
       "msgid \"k1\"\nmsgstr \"a\\\"b\\'c\\?d\\\\e\\n\\t\\a\\b\\f\\r\\v\"\n",
       {},
       {{"k1", "a\"b'c?d\\e\n\t\a\b\f\r\v"}}},
      {"multi-line",
       "msgid \"\"\n\"key\"\nmsgstr \"one \"\n\"two\"\n\nmsgid \"k2\"\nmsgstr \"x\"",
       {},
       {{"key", "one two"}, {"k2", "x"}}},
      {"second msgid",
       "msgid \"k1\"\nmsgstr \"a\"\nmsgid \"k2\"\nmsgstr \"b\"\n",
       {"f.po:3 Bad command or string", "f.po:4 Bad command or string"},
       {{"k1", "a"}}},
      {"missing msgstr", "msgid \"k1\"\n\nmsgid \"k2\"\nmsgstr \"b\"\n", {"f.po:2 Expected msgstr"}, {{"k2", "b"}}},
      {"missing msgstr at end", "msgid \"k1\"\n", {"f.po:2 Expected msgstr"}, {}},
      {"wrong first word",
       "msgstr \"a\"\nmsgid \"k\"\nmsgid \"j\"\n",
       {"f.po:1 Expected msgid", "f.po:3 Expected msgstr", "f.po:4 Expected msgstr"},
       {}},
      {"no string",
       "msgid\nmsgid \"k\"\nmsgstr   \nmsgstr \"v\"\n",
       {"f.po:1 Bad command or string", "f.po:3 Bad command or string"},
       {{"k", "v"}}},
      {"bad escape", "msgid \"k\"\nmsgstr \"\\q\"\n", {"f.po:2 Invalid escape code", "f.po:3 Expected msgstr"}, {}},
      {"escape at end", "msgid \"k\"\nmsgstr \"ab\\", {"f.po:2 Invalid escape at end", "f.po:3 Expected msgstr"}, {}},
      {"no terminator", "msgid \"k\nmsgid \"k\"\nmsgstr \"v\"\n", {"f.po:1 Missing terminator"}, {{"k", "v"}}},
      {"junk before", "msgid x\"k\"\n", {"f.po:1 Junk preceding string data"}, {}},
      {"junk after",
       "msgid \"k\"\nmsgstr \"v\" x\n",
       {"f.po:2 Junk following string data", "f.po:3 Expected msgstr"},
       {}},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string locale = "zz" + std::string(1, static_cast<char>('a' + n++));
    LogCapture capture;
    loc::TransMap::loadPoFile(c.text, strlen(c.text), "f.po", locale.c_str(), loc::Localize::instance());
    std::vector<LogRecord> expected;
    for (const std::string& e : c.errors) expected.push_back({"Localize", 0, e});
    EXPECT_EQ(capture.from("Localize"), expected) << c.name;
    std::vector<std::pair<std::string, std::string>> stored;
    if (auto* table = loc::Localize::instance().table(locale)) {
      for (auto& [key, t] : *table) stored.emplace_back(key, t.text.c_str());
    }
    auto want = c.stored;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(stored, want) << c.name;
  }
}

TEST(PoReaderTest, MalformedUtf8IsLoggedAndStoredSanitised) {
  const char text[] =
      "msgid \"k\"\nmsgstr \"a\xff"
      "b\"\n";
  LogCapture capture;
  loc::TransMap::loadPoFile(text, sizeof text - 1, "u.po", "zzutf", loc::Localize::instance());
  EXPECT_EQ(capture.from("Localize"),
            (std::vector<LogRecord>{{"Localize", 0, "u.po:2 Bad UTF-8 (k) for 'zzutf' locale"}}));
  EXPECT_EQ(std::string(loc::Localize::instance().table("zzutf")->at("k").text.c_str()),
            "a\xef\xbf\xbd"
            "b");
}

TEST(PoReaderTest, OnlyPlainLocaleNamesNameFiles) {
  yarl_test::TempDir dir;
  for (const char* locale : {"de-DE", "x1", "zz.UTF-8", "zz@m", "zzok_ZZ"})
    dir.write(std::string("strings.") + locale + ".po", "msgid \"k\"\nmsgstr \"v\"\n");
  LogCapture capture;
  for (const char* locale : {"de-DE", "x1", "zz.UTF-8", "zz@m", "../zzok_ZZ", "zzok_ZZ", "zzabsent"})
    loc::TransMap::loadStrings(dir.c_str(), locale, loc::Localize::instance());
  EXPECT_EQ(loc::Localize::instance().table("de-DE"), nullptr);
  EXPECT_EQ(loc::Localize::instance().table("x1"), nullptr);
  EXPECT_EQ(loc::Localize::instance().table("zz.UTF-8"), nullptr);
  ASSERT_NE(loc::Localize::instance().table("zzok_ZZ"), nullptr);
  EXPECT_EQ(capture.from("Localize"),
            (std::vector<LogRecord>{{"Localize", 30, "Loaded strings from " + (dir / "strings.zzok_ZZ.po")}}));
}

}  // namespace
