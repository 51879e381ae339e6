#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "libs/qoSetup/SetupTexts.h"
#include "qocore/base/loc/LocaleSetter.h"
#include "qocore/base/loc/Localize.h"

namespace {

constexpr const char* kPrefix = "qoSetup_";
constexpr const char* kOtherLanguages[] = {"de", "es", "fr", "pt"};

// What a translation must keep: the placeholders in order ("%%" left out),
// the markup tags with their attributes, and the line breaks.  A '%' that
// starts no placeholder is listed as "bad".
std::vector<std::string> kept(const std::string& text) {
  std::vector<std::string> found;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      found.push_back("\\n");
    } else if (text[i] == '<') {
      size_t end = text.find('>', i);
      found.push_back(end == std::string::npos ? "bad" : text.substr(i, end + 1 - i));
      if (end != std::string::npos) i = end;
    } else if (text[i] == '%') {
      if (i + 1 < text.size() && text[i + 1] == '%') {
        ++i;
        continue;
      }
      size_t end = text.find_first_not_of("+.0123456789$", i + 1);
      if (end == std::string::npos || std::strchr("SDX", text[end]) == nullptr) {
        found.push_back("bad");
        continue;
      }
      found.push_back(text.substr(i, end + 1 - i));
      i = end;
    }
  }
  return found;
}

TEST(SetupTextsTest, EveryKeyHasATextInEveryLanguageKeepingPlaceholdersMarkupAndLineBreaks) {
  // A second call adds nothing more.
  qoSetup::registerSetupTexts();
  qoSetup::registerSetupTexts();
  loc::Localize& localize = loc::Localize::instance();
  const auto* english = localize.table("en");
  ASSERT_NE(english, nullptr);
  size_t keys = 0;
  for (const auto& [key, translation] : *english) {
    if (key.rfind(kPrefix, 0) != 0) continue;
    ++keys;
    const std::string en = translation.text.c_str();
    const std::vector<std::string> expected = kept(en);
    EXPECT_EQ(std::count(expected.begin(), expected.end(), "bad"), 0) << key << ": " << en;
    for (const char* language : kOtherLanguages) {
      const auto* table = localize.table(language);
      ASSERT_NE(table, nullptr) << language;
      auto text = table->find(key);
      ASSERT_NE(text, table->end()) << language << " has no " << key;
      const std::string translated = text->second.text.c_str();
      EXPECT_FALSE(translated.empty()) << language << " " << key;
      EXPECT_EQ(kept(translated), expected) << language << " " << key << ": " << translated;
    }
  }
  EXPECT_EQ(keys, 40u);
  for (const char* language : kOtherLanguages) {
    size_t inLanguage = 0;
    for (const auto& entry : *localize.table(language)) inLanguage += entry.first.rfind(kPrefix, 0) == 0;
    EXPECT_EQ(inLanguage, 40u) << language;
  }
}

TEST(SetupTextsTest, TextsAsTheLocaleShowsThem) {
  qoSetup::registerSetupTexts();
  struct Case {
    const char* locale;
    const char* key;
    const char* text;
  };
  // clang-format off
  const Case cases[] = {
      // The product's names are the same in every language.
      {"de", "qoSetup_setupdlg_title", "Corvane Server Setup"},
      {"pt_BR", "qoSetup_setupapp_name_r", "Corvane® Server Setup"},
      {"en", "qoSetup_initial_eula_pp_html_fmt",
       "By proceeding you agree to the\n<a href=\"%1$S\">End User License Agreement</a> and "
       "<a href=\"%2$S\">Privacy Policy</a>"},
      {"en", "qoSetup_urihandler_error_fmt", "Error contacting Corvane Server Setup\n\nDetails: %S"},
      // The extension's link points at a reserved example domain.
      {"en", "qoSetup_gnome_shell_icon_notifications_html",
       "To see tray icons in GNOME (>=3.26), you may need to install the\n"
       "<a href=\"https://extensions.example.org/appindicator-support/\">AppIndicator and KStatusNotifierItem "
       "Support</a> shell extension or similar"},
      {"fr_CA", "qoSetup_cancel", "Annuler"},
      {"es", "qoSetup_install_errorcode_fmt", "Código de error: %D"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.locale);
    loc::LocaleSetter setter(c.locale);
    // Looked up as the program does: raw where the text takes arguments.
    // The store refuses one key looked up both ways in one process.
    EXPECT_STREQ(loc::lookup(c.key, std::strchr(c.text, '%') != nullptr), c.text) << c.key;
  }
}

}  // namespace
