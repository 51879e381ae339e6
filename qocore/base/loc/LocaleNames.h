#pragma once
// Locale names and the platform's support for them.
//
// A name is a language, optionally "_" or "-" and a territory, optionally
// "." and a character set, optionally "@" and a modifier (pt_BR, de-AT,
// fr_FR.UTF-8, sr_RS@latin).  Its written form is language "_" territory;
// a bare language gets its usual territory from a fixed table.

#include <string>
#include <vector>

#include "qocore/base/plat/CharArray.h"

namespace loc {

// Character-set classes of a platform locale.
enum CharsetClass { kCharsetUnknown = 0, kCharsetUtf8 = 1, kCharsetLatin1 = 2, kCharsetAscii = 3 };

// The language: the name cut at the first of "_", "-", "." or "@".
plat::CharArray localeLanguage(const char* name);
// The territory when the language was cut at "_" or "-", up to "." or "@";
// empty otherwise.
plat::CharArray localeTerritory(const char* name);
// The usual territory of a language, or null.
const char* defaultTerritory(const char* language);
// The class of a code set name (as nl_langinfo(CODESET) gives it).
CharsetClass charsetClass(const char* codeset);

// Splits a ':' list and appends each entry in written form: with its own
// territory, else defTerritory when the language is defLanguage, else the
// table's, else the bare language.  No duplicates.
void splitLocaleList(const char* text, std::vector<std::string>& out, const char* defLanguage = "",
                     const char* defTerritory = "");
// The fallback order of every lookup: each name and, when it has a
// territory, its language; then "en_US" and "en".  No duplicates.
void expandLocaleList(const std::vector<std::string>& list, std::vector<std::string>& out);

// A locale the platform supports: the name to install and its class.
struct ResolvedLocale {
  plat::CharArray name = plat::CharArray("C");
  int charset = kCharsetAscii;
};

// Whether the platform supports the name, reaching UTF-8 (or else
// ISO-8859-1) by suffix where it can; a name with neither form is not
// supported.  The result is cached per name.
bool probeLocale(const char* name, ResolvedLocale* resolved);

// LANGUAGE's list completed with the base locale's territory for its own
// language; true when out is non-empty afterwards.
bool languagesFromEnv(const char* baseLocale, std::vector<std::string>& out);

// The user's preferred languages that the platform supports ("C" when
// none is); the first one's resolution goes to *first when given.
void systemLocales(std::vector<std::string>& out, ResolvedLocale* first);

}  // namespace loc
