#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "libs/score/ScoreMessages.h"
#include "libs/smisc/SmiscMessages.h"
#include "qocore/base/loc/Format.h"
#include "qocore/base/loc/LocaleSetter.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/libs/rfb/RfbMessages.h"
#include "qocore/libs/svr/SvrMessages.h"

namespace {

// The placeholders of a text in order ("%%" left out); a '%' that starts
// none is listed as "bad".
std::vector<std::string> placeholders(const std::string& text) {
  std::vector<std::string> found;
  for (size_t i = text.find('%'); i != std::string::npos; i = text.find('%', i)) {
    if (i + 1 < text.size() && text[i + 1] == '%') {
      i += 2;
      continue;
    }
    size_t end = text.find_first_not_of("+.0123456789$", i + 1);
    if (end == std::string::npos || std::strchr("SDX", text[end]) == nullptr) {
      found.push_back("bad");
      i += 1;
      continue;
    }
    found.push_back(text.substr(i, end + 1 - i));
    i = end + 1;
  }
  return found;
}

TEST(MessageCataloguesTest, EveryKeyHasATextInEveryLanguageWithTheSamePlaceholders) {
  struct Catalogue {
    const char* prefix;
    void (*registerMessages)();
    size_t keys;
  };
  const Catalogue catalogues[] = {
      {"smisc_", smisc::registerMessages, 186},
      {"score_", score::registerMessages, 12},
      {"svr_", svr::registerMessages, 99},
      {"rfb_", rfb::registerMessages, 14},
  };
  loc::Localize& localize = loc::Localize::instance();
  for (const Catalogue& catalogue : catalogues) {
    SCOPED_TRACE(catalogue.prefix);
    // A second registration adds nothing: every language still has one
    // text per key.
    catalogue.registerMessages();
    catalogue.registerMessages();
    const auto* english = localize.table("en");
    ASSERT_NE(english, nullptr);
    size_t keys = 0;
    for (const auto& [key, translation] : *english) {
      if (key.rfind(catalogue.prefix, 0) != 0) continue;
      ++keys;
      const std::string en = translation.text.c_str();
      const std::vector<std::string> expected = placeholders(en);
      EXPECT_EQ(std::count(expected.begin(), expected.end(), "bad"), 0) << key << ": " << en;
      for (const char* language : {"de", "es", "fr", "pt"}) {
        const auto* table = localize.table(language);
        ASSERT_NE(table, nullptr) << language;
        auto text = table->find(key);
        ASSERT_NE(text, table->end()) << language << " has no " << key;
        const std::string translated = text->second.text.c_str();
        EXPECT_FALSE(translated.empty()) << language << " " << key;
        EXPECT_EQ(placeholders(translated), expected) << language << " " << key << ": " << translated;
      }
    }
    EXPECT_EQ(keys, catalogue.keys);
    for (const char* language : {"de", "es", "fr", "pt"}) {
      size_t inLanguage = 0;
      for (const auto& entry : *localize.table(language)) inLanguage += entry.first.rfind(catalogue.prefix, 0) == 0;
      EXPECT_EQ(inLanguage, catalogue.keys) << language;
    }
  }
}

TEST(MessageCataloguesTest, TheSystemPasswordSchemeNamesThePlatformInEveryLanguage) {
  svr::registerMessages();
  struct Case {
    const char* locale;
    const char* name;
    const char* description;
  };
  const Case cases[] = {
      {"de", "Mac-Kennwort",
       "Sich verbindende Benutzer geben bei Aufforderung ihren Mac-Benutzernamen und ihr Kennwort ein."},
      {"en", "Mac password", "When prompted, connecting users should enter their Mac user name and password."},
      {"es", "Contraseña de Mac",
       "Cuando se les solicite, los usuarios que se conectan deben introducir su nombre de usuario y contraseña de "
       "Mac."},
      {"fr", "Mot de passe Mac",
       "Lorsque cela leur est demandé, les utilisateurs qui se connectent doivent saisir leur nom d'utilisateur et "
       "leur mot de passe Mac."},
      {"pt_BR", "Senha do Mac",
       "Quando solicitado, os usuários que se conectam devem digitar o nome de usuário e a senha do Mac."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.locale);
    loc::LocaleSetter setter(c.locale);
    loc::ArgList platform;
    platform.str("Mac");
    EXPECT_STREQ(loc::formatNew(loc::lookup("svr_sauthentication_system_password", true), platform.first()).get(),
                 c.name);
    EXPECT_STREQ(loc::formatNew(loc::lookup("svr_sauthentication_desc_system_password", true), platform.first()).get(),
                 c.description);
  }
}

}  // namespace
