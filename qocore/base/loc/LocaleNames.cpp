#include "qocore/base/loc/LocaleNames.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>

#include "platform/locale/SystemLocale.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/Mutex.h"

namespace loc {

namespace {

struct TerritoryRow {
  const char* language;
  const char* territory;
};

// Sorted by language for the binary search.
constexpr TerritoryRow kTerritories[] = {
    {"af", "ZA"}, {"be", "BY"}, {"bg", "BG"}, {"ca", "ES"}, {"cs", "CZ"}, {"da", "DK"}, {"de", "DE"}, {"dz", "BT"},
    {"el", "GR"}, {"en", "US"}, {"es", "ES"}, {"et", "EE"}, {"fa", "IR"}, {"fi", "FI"}, {"fo", "FO"}, {"fr", "FR"},
    {"ga", "IE"}, {"gu", "IN"}, {"he", "IL"}, {"hi", "IN"}, {"hr", "HR"}, {"hu", "HU"}, {"hy", "AM"}, {"is", "IS"},
    {"it", "IT"}, {"iu", "CA"}, {"ja", "JP"}, {"ka", "GE"}, {"ko", "KR"}, {"lt", "LT"}, {"lv", "LV"}, {"mk", "MK"},
    {"mr", "IN"}, {"mt", "MT"}, {"nb", "NO"}, {"ne", "NP"}, {"nl", "NL"}, {"nn", "NO"}, {"pl", "PL"}, {"pt", "BR"},
    {"ro", "RO"}, {"ru", "RU"}, {"sk", "SK"}, {"sl", "SI"}, {"sr", "RS"}, {"sv", "SE"}, {"th", "TH"}, {"to", "TO"},
    {"tr", "TR"}, {"uk", "UA"}, {"ur", "PK"}, {"uz", "UZ"}, {"vi", "VN"}, {"zh", "CN"},
};
static_assert(std::size(kTerritories) == 54);

void addUnique(std::vector<std::string>& out, const std::string& name) {
  if (std::find(out.begin(), out.end(), name) == out.end()) out.push_back(name);
}

// The cache of probe results; its mutex is constant-initialised and never
// destroyed, as is the map, since threads may still probe while the
// process exits.
constinit plat::Mutex probeMutex;
using ProbeEntries = std::map<std::string, std::pair<bool, ResolvedLocale>>;

ProbeEntries& probeEntries() PLAT_REQUIRES(probeMutex) {
  static ProbeEntries* entries = new ProbeEntries;
  return *entries;
}

// The class of the platform locale of that name for the category, or -1
// when the platform does not know the name.  newlocale leaves the
// process-wide locale alone.
int platformClass(const std::string& name, int mask) {
  locale_t l = newlocale(mask, name.c_str(), static_cast<locale_t>(nullptr));
  if (l == static_cast<locale_t>(nullptr)) return -1;
  int cls = charsetClass(nl_langinfo_l(CODESET, l));
  freelocale(l);
  return cls;
}

}  // namespace

plat::CharArray localeLanguage(const char* name) {
  return plat::CharArray(name, static_cast<int>(std::strcspn(name, "_-.@")));
}

plat::CharArray localeTerritory(const char* name) {
  size_t cut = std::strcspn(name, "_-.@");
  if (name[cut] != '_' && name[cut] != '-') return plat::CharArray("");
  const char* t = name + cut + 1;
  return plat::CharArray(t, static_cast<int>(std::strcspn(t, ".@")));
}

const char* defaultTerritory(const char* language) {
  auto it = std::lower_bound(std::begin(kTerritories), std::end(kTerritories), language,
                             [](const TerritoryRow& row, const char* l) { return std::strcmp(row.language, l) < 0; });
  if (it == std::end(kTerritories) || std::strcmp(it->language, language) != 0) return nullptr;
  return it->territory;
}

CharsetClass charsetClass(const char* codeset) {
  std::string n;
  for (const char* p = codeset ? codeset : ""; *p; ++p) {
    if (*p == '-' || *p == '_') continue;
    n += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  }
  if (n == "utf8") return kCharsetUtf8;
  if (n.starts_with("iso88591")) return kCharsetLatin1;
  if (n.find("ascii") != std::string::npos || n == "isoir6" || n == "646" || n.starts_with("iso646") ||
      n.starts_with("ansix3.4"))
    return kCharsetAscii;
  return kCharsetUnknown;
}

void splitLocaleList(const char* text, std::vector<std::string>& out, const char* defLanguage,
                     const char* defTerritory) {
  std::string all(text ? text : "");
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find(':', start);
    if (end == std::string::npos) end = all.size();
    std::string entry = all.substr(start, end - start);
    start = end + 1;
    if (entry.empty()) continue;
    std::string language = localeLanguage(entry.c_str()).c_str();
    std::string territory = localeTerritory(entry.c_str()).c_str();
    if (territory.empty()) {
      if (defLanguage && *defLanguage && language == defLanguage && defTerritory) {
        territory = defTerritory;
      } else if (const char* t = defaultTerritory(language.c_str())) {
        territory = t;
      }
    }
    addUnique(out, territory.empty() ? language : language + "_" + territory);
  }
}

void expandLocaleList(const std::vector<std::string>& list, std::vector<std::string>& out) {
  for (const std::string& name : list) {
    addUnique(out, name);
    if (*localeTerritory(name.c_str()).c_str()) addUnique(out, localeLanguage(name.c_str()).c_str());
  }
  addUnique(out, "en_US");
  addUnique(out, "en");
}

bool probeLocale(const char* name, ResolvedLocale* resolved) {
  plat::MutexLock lock(probeMutex);
  ProbeEntries& entries = probeEntries();
  auto it = entries.find(name);
  if (it == entries.end()) {
    std::string full(name);
    size_t dot = full.find_first_of(".@");
    std::string base = full.substr(0, dot);
    size_t at = full.find('@');
    std::string modifier = at == std::string::npos ? "" : full.substr(at);
    std::pair<bool, ResolvedLocale> result{false, {}};
    // An empty name would make newlocale read the environment.
    int cls = full.empty() ? -1 : platformClass(full, LC_CTYPE_MASK);
    if (cls == kCharsetUtf8) {
      result = {true, {plat::CharArray(full.c_str()), cls}};
    } else {
      auto trySuffixes = [&](std::initializer_list<const char*> suffixes, int suffixClass) {
        for (const char* suffix : suffixes) {
          std::string candidate = base + "." + suffix + modifier;
          if (platformClass(candidate, LC_MESSAGES_MASK) >= 0) {
            result = {true, {plat::CharArray(candidate.c_str()), suffixClass}};
            return true;
          }
        }
        return false;
      };
      if (!trySuffixes({"UTF-8", "utf-8"}, kCharsetUtf8)) {
        bool found = false;
        if (cls != kCharsetLatin1 && cls != kCharsetAscii)
          found = trySuffixes({"ISO-8859-1", "ISO8859-1", "iso88591"}, kCharsetLatin1);
        // A name that is itself an ISO-8859-1 form (ISO-8859-15 included)
        // stays as the platform knows it; any other character set, with
        // neither form to reach, leaves the name unsupported.
        if (!found && cls == kCharsetLatin1) result = {true, {plat::CharArray(full.c_str()), cls}};
      }
    }
    it = entries.emplace(name, result).first;
  }
  if (it->second.first && resolved) *resolved = it->second.second;
  return it->second.first;
}

bool languagesFromEnv(const char* baseLocale, std::vector<std::string>& out) {
  const char* list = locale::localeEnv("LANGUAGE");
  if (!list || !*list) return false;
  std::string base(baseLocale ? baseLocale : "");
  splitLocaleList(list, out, localeLanguage(base.c_str()).c_str(), localeTerritory(base.c_str()).c_str());
  return !out.empty();
}

void systemLocales(std::vector<std::string>& out, ResolvedLocale* first) {
  plat::CharArray current = locale::currentLocale();
  plat::CharArray language = localeLanguage(current.c_str());
  plat::CharArray territory = localeTerritory(current.c_str());
  bool any = false;
  for (const std::string& entry : locale::preferredLanguages()) {
    std::vector<std::string> names;
    splitLocaleList(entry.c_str(), names, language.c_str(), territory.c_str());
    for (const std::string& name : names) {
      ResolvedLocale resolved;
      if (!probeLocale(name.c_str(), &resolved)) {
        localizeLog().info("No OS support for locale \"%s\"", name.c_str());
        continue;
      }
      if (!any && first) *first = resolved;
      any = true;
      addUnique(out, name);
    }
  }
  if (!any) {
    addUnique(out, "C");
    if (first) *first = ResolvedLocale{};
  }
}

}  // namespace loc
