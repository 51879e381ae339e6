#include "qocore/base/loc/Localize.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/locale/SystemLocale.h"
#include "qocore/base/loc/Format.h"
#include "qocore/base/loc/LocaleNames.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Resource.h"
#include "qocore/base/plat/Utf8.h"

namespace loc {

namespace {

// Which locales to speak; empty means the user's or the system's.
plat::StringParameter localeParam("Locale", plat::LocDesc{"loc_param_locale"}, "");

thread_local TransMap* threadMap = nullptr;

// Resource and file names are built from locale names, which come from
// outside (`Locale`, LANGUAGE): only letters and '_' may form one.
bool safeLocaleName(const std::string& name) {
  if (name.empty()) return false;
  return std::all_of(name.begin(), name.end(),
                     [](char c) { return c == '_' || std::isalpha(static_cast<unsigned char>(c)); });
}

bool fileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string join(const std::vector<std::string>& list) {
  std::string out;
  for (const std::string& name : list) {
    if (!out.empty()) out += ':';
    out += name;
  }
  return out;
}

void reportMissing(const char* word, const char* key, const char* file, int line) {
  plat::DString text("%s for \"%s\"", word, key);
  if (file) text.appendf(" (%s:%d)", file, line);
  localizeLog().error("%s", text.c_str());
}

// The map to look in, rebuilt first when the catalogue changed since it
// was built.  Called under the loc lock.
TransMap& usableMap() {
  TransMap& map = TransMap::current();
  Localize& localize = Localize::instance();
  if (map.generation() != localize.generation()) {
    // A map that was never built speaks English.
    localize.setLocales(map.locales().empty() ? std::vector<std::string>{} : map.locales(), &map);
  }
  return map;
}

}  // namespace

plat::Mutex& locLock() {
  static plat::Mutex* mutex = new plat::Mutex;
  return *mutex;
}

PLAT_LOG_SOURCE(localizeLog, "Localize");

// ---- TransMap ----

TransMap::~TransMap() {
  if (!isThreadMap_) return;
  PLAT_ASSERT(threadMap == this);
  threadMap = previous_;
}

TransMap& TransMap::process() {
  static TransMap* map = new TransMap;
  return *map;
}

TransMap& TransMap::current() { return threadMap ? *threadMap : process(); }

TransMap* TransMap::pushThreadMap() {
  auto* map = new TransMap;
  map->isThreadMap_ = true;
  map->previous_ = threadMap;
  threadMap = map;
  return map;
}

Translation* TransMap::find(const char* key) const {
  auto it = entries_.find(key);
  return it == entries_.end() ? nullptr : it->second;
}

// ---- Localize ----

Localize& Localize::instance() {
  // Never destroyed: texts it handed out stay valid until the end.
  static Localize* inst = new Localize;
  return *inst;
}

void Localize::init(const std::vector<std::string>& resourceDirs) {
  plat::MutexLock lock(locLock());
  if (!following_) {
    localeParam.addCallback(this);
    following_ = true;
  }
  setResourceDirs(resourceDirs);
}

void Localize::setResourceDirs(const std::vector<std::string>& resourceDirs) {
  plat::MutexLock lock(locLock());
  resourceDirs_ = resourceDirs;
  loaded_.clear();
  updateLocales();
}

std::map<std::string, Translation>* Localize::table(const std::string& locale) {
  auto it = catalogue_.find(locale);
  return it == catalogue_.end() ? nullptr : &it->second;
}

void Localize::addTranslation(const char* locale, const char* key, const char* text) {
  PLAT_ASSERT_MSG(plat::isValidUtf8(text), "Bad UTF-8 in %s", key);
  plat::MutexLock lock(locLock());
  // Tables are registered a locale at a time: one lookup per table.
  if (!lastTable_ || lastLocale_ != locale) {
    lastTable_ = &catalogue_[locale];
    lastLocale_ = locale;
  }
  auto [it, added] = lastTable_->try_emplace(key);
  if (added) {
    it->second.text = text;
    ++generation_;
  }
}

void Localize::storeTranslation(const char* locale, const char* key, const char* text) {
  plat::MutexLock lock(locLock());
  Translation& t = catalogue_[locale][key];
  if (t.text) retired_.push_back(std::move(t.text));
  t.text = text;
  t.replaced = false;
  t.state = TR_UNUSED;
  ++generation_;
}

const char* Localize::use(Translation& t, bool raw, const char* key) {
  if (t.state == TR_UNUSED) {
    t.state = raw ? TR_RAW : TR_FORMATTED;
    if (!raw && std::strchr(t.text.c_str(), '%')) {
      plat::CharArray expanded = formatNew(t.text.c_str(), nullptr);
      retired_.push_back(std::move(t.text));
      t.text = std::move(expanded);
      t.replaced = true;
    }
  }
  PLAT_ASSERT_MSG((raw == (t.state == TR_RAW)), "Can't use same string as both raw and formatted - %s", key);
  return t.text.c_str();
}

bool Localize::loadLocale(const std::string& locale) {
  if (!safeLocaleName(locale)) return false;
  bool read = false;
  plat::CharArray resourceName = plat::DString::format("strings.%s.po", locale.c_str());
  plat::Resource res = plat::getResource(resourceName.get());
  if (res.data) {
    plat::CharArray label = plat::DString::format("built-in resource %s", resourceName.get());
    TransMap::loadPoFile(reinterpret_cast<const char*>(res.data), res.size, label.get(), locale.c_str(), *this);
    localizeLog().info("Loaded strings from %s", label.get());
    read = true;
  }
  for (const std::string& dir : resourceDirs_) {
    unsigned before = generation_;
    TransMap::loadStrings(dir.c_str(), locale.c_str(), *this);
    read = read || generation_ != before;
  }
  return read;
}

void Localize::setLocales(const std::vector<std::string>& list, TransMap* map) {
  plat::MutexLock lock(locLock());
  if (!map) map = &TransMap::process();
  std::vector<std::string> expanded;
  expandLocaleList(list, expanded);
  bool readNew = false;
  for (const std::string& name : expanded) {
    if (std::find(loaded_.begin(), loaded_.end(), name) != loaded_.end()) continue;
    loaded_.push_back(name);
    readNew = loadLocale(name) || readNew;
  }
  if (!readNew && map->locales_ == expanded && map->generation_ == generation_) return;
  rebuild(*map, expanded);
}

void Localize::rebuild(TransMap& map, const std::vector<std::string>& expanded) {
  map.locales_ = expanded;
  map.entries_.clear();
  map.generation_ = generation_;
  plat::DString names(map.isThreadMap_ ? "Updating thread TransMap with locales:"
                                       : "Updating process TransMap with locales:");
  for (const std::string& name : expanded) names.appendf(" %s", name.c_str());
  localizeLog().verbose("%s", names.c_str());
  for (const std::string& name : expanded) {
    auto* t = table(name);
    if (!t) continue;
    for (auto& [key, translation] : *t) map.entries_.try_emplace(key, &translation);
  }
}

void Localize::updateLocales() {
  plat::MutexLock lock(locLock());
  std::string value = localeParam.getValue();
  std::vector<std::string> list;
  ResolvedLocale resolved;
  if (value.empty()) {
    systemLocales(list, &resolved);
  } else {
    splitLocaleList(value.c_str(), list);
  }
  if (std::find(list.begin(), list.end(), "en_US") == list.end()) list.push_back("en_US");

  locale::ArgumentDomain domain;
  domain.appleLocale = list.front();
  for (const std::string& name : list)
    if (name.find('_') != std::string::npos) domain.appleLanguages.push_back(name);
  locale::setArgumentDomain(domain);
  locale::synchronizeUserDefaults();

  if (!value.empty()) {
    resolved = ResolvedLocale{};
    for (const std::string& name : list) {
      if (probeLocale(name.c_str(), &resolved)) break;
      localizeLog().info("No OS support for locale \"%s\"", name.c_str());
    }
  }
  processName_ = resolved.name;
  processClass_ = resolved.charset;

  setLocales(list, &TransMap::process());
  active_ = list;
  std::string joined = join(list);
  if (joined != lastLogged_) {
    localizeLog().info("Locales %s", joined.c_str());
    lastLogged_ = joined;
  }
}

plat::CharArray Localize::getLocales() {
  plat::MutexLock lock(locLock());
  return plat::CharArray(join(active_).c_str());
}

plat::CharArray Localize::processLocaleName() {
  plat::MutexLock lock(locLock());
  return processName_;
}

int Localize::processLocaleClass() {
  plat::MutexLock lock(locLock());
  return processClass_;
}

void Localize::parameterChanged(plat::ConfigParameter*, int) { updateLocales(); }

// ---- Lookups ----

const char* translate(const char* key, const char* file, int line, bool raw) {
  plat::MutexLock lock(locLock());
  if (Translation* t = usableMap().find(key)) return Localize::instance().use(*t, raw, key);
  reportMissing("Missing translation", key, file, line);
  return key;
}

const char* lookup(const char* key, bool raw) {
  plat::MutexLock lock(locLock());
  Translation* t = usableMap().find(key);
  return t ? Localize::instance().use(*t, raw, key) : nullptr;
}

const char* pluralForm(const char* locale, unsigned count) {
  const std::string language = localeLanguage(locale).c_str();
  const std::string territory = localeTerritory(locale).c_str();
  if (language == "fr" || (language == "pt" && (territory.empty() || territory == "BR")))
    return count <= 1 ? "sing" : "many";
  if (language == "ja" || language == "vi" || language == "ko" || language == "zh") return "many";
  return count == 1 ? "sing" : "many";
}

const char* translatePlural(const char* key, unsigned count, const char* file, int line) {
  plat::MutexLock lock(locLock());
  Localize& localize = Localize::instance();
  for (const std::string& locale : usableMap().locales()) {
    auto* t = localize.table(locale);
    if (!t) t = localize.table(localeLanguage(locale.c_str()).c_str());
    if (!t) continue;
    auto it = t->find(std::string(key) + "_" + pluralForm(locale.c_str(), count));
    if (it != t->end()) return localize.use(it->second, true, it->first.c_str());
  }
  reportMissing("Missing plural translation", key, file, line);
  return key;
}

// ---- .po files ----

namespace {

// Parses a quoted string at p (blanks around it allowed) into out; null on
// success, else the error text.
const char* parsePoString(const char* p, const char* end, std::string& out) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (p < end && blank(*p)) ++p;
  if (p == end) return "Bad command or string";
  if (*p != '"') return "Junk preceding string data";
  ++p;
  for (;;) {
    if (p == end) return "Missing terminator";
    char c = *p++;
    if (c == '"') break;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (p == end) return "Invalid escape at end";
    switch (char e = *p++) {
      case '"':
      case '\'':
      case '?':
      case '\\':
        out += e;
        break;
      case 'a':
        out += '\a';
        break;
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'v':
        out += '\v';
        break;
      default:
        return "Invalid escape code";
    }
  }
  while (p < end && blank(*p)) ++p;
  return p == end ? nullptr : "Junk following string data";
}

}  // namespace

void TransMap::loadPoFile(const char* data, size_t size, const char* fileName, const char* locale, Localize& localize) {
  enum { kStart, kMsgid, kMsgstr } state = kStart;
  std::string msgid, msgstr;
  auto endEntry = [&](int lineNo) {
    if (state == kMsgid) {
      localizeLog().error("%s:%d %s", fileName, lineNo, "Expected msgstr");
    } else if (state == kMsgstr && !msgid.empty()) {
      localize.storeTranslation(locale, msgid.c_str(), msgstr.c_str());
    }
    msgid.clear();
    msgstr.clear();
    state = kStart;
  };
  const char* p = data;
  const char* end = data + size;
  int lineNo = 0;
  while (p < end) {
    const char* eol = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    if (!eol) eol = end;
    std::string line(p, static_cast<size_t>(eol - p));
    p = eol < end ? eol + 1 : end;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!plat::isValidUtf8(line.c_str(), line.c_str() + line.size())) {
      localizeLog().error("%s:%d Bad UTF-8 (%s) for '%s' locale", fileName, lineNo, msgid.c_str(), locale);
      // The tables hold valid UTF-8 only.
      plat::DString clean;
      plat::utf8Sanitise(clean, line.c_str(), line.c_str() + line.size());
      line = clean.c_str();
    }
    const char* error = nullptr;
    if (line.empty() || line.find_first_not_of(" \t") == std::string::npos) {
      endEntry(lineNo);
      continue;
    }
    if (line[0] == '#') continue;
    const char* s = line.c_str();
    const char* e = s + line.size();
    if (line[0] == '"') {
      std::string more;
      if (state == kStart) {
        error = "Expected msgid";
      } else if (!(error = parsePoString(s, e, more))) {
        (state == kMsgid ? msgid : msgstr) += more;
      }
    } else {
      size_t wordEnd = line.find_first_of(" \t");
      std::string word = line.substr(0, wordEnd);
      const char* rest = wordEnd == std::string::npos ? e : s + wordEnd;
      std::string text;
      if (state == kMsgstr) {
        error = "Bad command or string";
      } else if (word != (state == kStart ? "msgid" : "msgstr")) {
        error = state == kStart ? "Expected msgid" : "Expected msgstr";
      } else if (!(error = parsePoString(rest, e, text))) {
        if (state == kStart) {
          msgid = text;
          state = kMsgid;
        } else {
          msgstr = text;
          state = kMsgstr;
        }
      }
    }
    if (error) localizeLog().error("%s:%d %s", fileName, lineNo, error);
  }
  endEntry(lineNo + 1);
}

void TransMap::loadStrings(const char* dir, const char* locale, Localize& localize) {
  if (!safeLocaleName(locale)) return;
  plat::CharArray path = plat::DString::format("%s%cstrings.%s.po", dir, '/', locale);
  if (!fileExists(path.get())) return;
  try {
    std::ifstream in(path.get(), std::ios::binary);
    if (!in) throw plat::Exception("Cannot open file");
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw plat::Exception("Read error");
    loadPoFile(data.data(), data.size(), path.get(), locale, localize);
    localizeLog().info("Loaded strings from %s", path.get());
  } catch (const plat::Exception& e) {
    localizeLog().error("Error loading strings from %s: %s", path.get(), e.str());
  }
}

void addBuiltinTexts(const BuiltinText* rows, size_t count) {
  Localize& localize = Localize::instance();
  const char* const BuiltinText::*const columns[] = {&BuiltinText::de, &BuiltinText::es, &BuiltinText::fr,
                                                     &BuiltinText::en, &BuiltinText::pt};
  const char* const languages[] = {"de", "es", "fr", "en", "pt"};
  for (size_t lang = 0; lang < std::size(languages); ++lang) {
    for (size_t i = 0; i < count; ++i) {
      const char* text = rows[i].*columns[lang];
      if (text) localize.addTranslation(languages[lang], rows[i].key, text);
    }
  }
}

}  // namespace loc
