#pragma once
// Stands in for the macOS locale services (the user's preferred languages
// and the current locale) and for the user defaults in which the program
// publishes its language choice.  Backed by the environment: the current
// locale is the first non-empty of LC_ALL, LC_MESSAGES and LANG; the
// preferred languages are LANGUAGE's ":"-separated entries followed by the
// current locale.  Each entry loses its ".charset" and "@modifier", "-"
// becomes "_", and "C" and "POSIX" are dropped.  Entries keep whatever
// territory they were given; completing a bare language is the caller's
// business.  The environment is read through a seam that tests replace,
// and the user defaults are an in-process store that tests read back.

#include <string>
#include <vector>

#include "qocore/base/plat/CharArray.h"

namespace locale {

// Answers an environment variable (null when unset).
using LocaleEnvFn = const char* (*)(const char* name);
// Installs a reader (null restores getenv) and returns the previous one.
LocaleEnvFn setLocaleEnv(LocaleEnvFn fn) noexcept;
const char* localeEnv(const char* name);

// An entry in the normalised form described above; empty for "C",
// "POSIX" and empty input.
plat::CharArray normaliseLocaleEntry(const char* entry);

// The current locale, normalised ("" when none is set).
plat::CharArray currentLocale();
// The preferred languages, normalised, without duplicates.
std::vector<std::string> preferredLanguages();

// The volatile argument domain of the user defaults.
struct ArgumentDomain {
  std::string appleLocale;
  std::vector<std::string> appleLanguages;
};
// Replaces the domain whole.
void setArgumentDomain(const ArgumentDomain& domain);
ArgumentDomain argumentDomain();
// Writes the defaults out; here it only counts, for tests.
void synchronizeUserDefaults();
int userDefaultsSyncCount();

}  // namespace locale
