#pragma once
// The translation catalogue.  Every user-facing text is looked up by key
// (module_area_item) in the active locales.  Each library registers its
// built-in texts from a static initialiser; "strings.<locale>.po" files
// (gettext form) in the application's resources and resource folders add
// or replace texts at run time.
//
// A TransMap is the resolved view for one locale list: each key maps to
// the text of the most preferred locale that has it.  There is one
// process map and, while a loc::LocaleSetter lives, one per thread.
//
// Texts handed out stay valid for the life of the process: a text that a
// later .po file or a first formatted use replaces is retired, not freed.
//
// One recursive lock guards the catalogue, the maps and every lookup, so
// any thread may look texts up.

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Mutex.h"

namespace loc {

enum TrState { TR_UNUSED, TR_FORMATTED, TR_RAW };

// One text of one key in one locale.
struct Translation {
  plat::CharArray text;
  // Set once the text was replaced by its expansion at first formatted use.
  bool replaced = false;
  TrState state = TR_UNUSED;
};

class Localize;

class TransMap {
 public:
  TransMap() = default;
  TransMap(const TransMap&) = delete;
  TransMap& operator=(const TransMap&) = delete;
  // A thread map must be the thread's current one; it reinstates the map
  // that was current before it.
  ~TransMap();

  // The process map (made on first use, never destroyed).
  static TransMap& process();
  // The thread's map when one is installed, else the process map.
  static TransMap& current();
  // Makes a new map current for this thread until it is destroyed.
  static TransMap* pushThreadMap();

  Translation* find(const char* key) const;
  // The catalogue generation the map was built from.
  unsigned generation() const noexcept { return generation_; }
  // The expanded locale list the map was built for.
  const std::vector<std::string>& locales() const noexcept { return locales_; }

  // Reads a .po text into the catalogue for the locale; errors are logged
  // with the file name and line, and reading goes on.
  static void loadPoFile(const char* data, size_t size, const char* fileName, const char* locale, Localize& localize);
  // Reads "<dir>/strings.<locale>.po" when the locale name is made of
  // letters and '_' only and the file exists.
  static void loadStrings(const char* dir, const char* locale, Localize& localize);

 private:
  friend class Localize;
  std::map<std::string, Translation*> entries_;
  std::vector<std::string> locales_;
  unsigned generation_ = 0;
  bool isThreadMap_ = false;
  TransMap* previous_ = nullptr;
};

class Localize : public plat::ParameterChangedCallback {
 public:
  static Localize& instance();

  // Follows `Locale` from now on, sets the resource folders, forgets which
  // locales were read and re-selects the locales (re-reading the files).
  void init(const std::vector<std::string>& resourceDirs);
  // The same without following `Locale`.
  void setResourceDirs(const std::vector<std::string>& resourceDirs);

  // Adds a built-in text; an existing text of the key in that locale is
  // kept.  The text must be valid UTF-8.
  void addTranslation(const char* locale, const char* key, const char* text);
  // Stores a text read from a file, replacing any text of the key in that
  // locale.
  void storeTranslation(const char* locale, const char* key, const char* text);

  // Re-selects the locale list from `Locale` or the system, publishes it,
  // sets the process locale and rebuilds the process map.
  void updateLocales();
  // The active locale list joined with ':'.
  plat::CharArray getLocales();
  // Expands the list, reads the files of locales not read yet and rebuilds
  // the map (the process map when null) when anything changed.
  void setLocales(const std::vector<std::string>& list, TransMap* map = nullptr);

  // The resolved name and character-set class of the process locale.
  plat::CharArray processLocaleName();
  int processLocaleClass();

  void parameterChanged(plat::ConfigParameter* param, int priority) override;

  // The locale's table, or null.
  std::map<std::string, Translation>* table(const std::string& locale);
  // Hands out a text through its use check: the first use fixes it as raw
  // (a template) or formatted; a formatted text holding a '%' is replaced
  // once by its expansion without arguments.  Using it the other way later
  // is an assertion failure.  Called under the loc lock.
  const char* use(Translation& t, bool raw, const char* key);
  // Bumped by every change of the catalogue, so maps know to rebuild.
  unsigned generation() const noexcept { return generation_; }

 private:
  Localize() = default;
  void rebuild(TransMap& map, const std::vector<std::string>& expanded);
  bool loadLocale(const std::string& locale);

  std::map<std::string, std::map<std::string, Translation>> catalogue_;
  std::vector<std::string> resourceDirs_;
  std::vector<std::string> loaded_;
  std::vector<std::string> active_;
  std::string lastLogged_;
  plat::CharArray processName_ = plat::CharArray("C");
  int processClass_ = 3;
  bool following_ = false;
  // Replaced texts, kept because callers may still hold them.
  std::vector<plat::CharArray> retired_;
  std::string lastLocale_;
  std::map<std::string, Translation>* lastTable_ = nullptr;
  unsigned generation_ = 1;
};

// The one lock of the catalogue and maps (recursive).
plat::Mutex& locLock();
// The "Localize" log source.
plat::LogSrc& localizeLog() noexcept;

// The text of the key in the current map; a missing key is logged as
// "Missing translation" (with file and line when file is given) and the
// key itself returned.  `raw` asks for a template for formatArgs.
const char* translate(const char* key, const char* file = nullptr, int line = 0, bool raw = false);
// The same without any report: null when missing.
const char* lookup(const char* key, bool raw = false);
// The template of key + "_sing" or "_many" chosen by the plural rule of
// each locale of the current list in turn; the key itself when none has
// it ("Missing plural translation").
const char* translatePlural(const char* key, unsigned count, const char* file = nullptr, int line = 0);
// "sing" or "many" for the count in that locale's language.
const char* pluralForm(const char* locale, unsigned count);

// One key's built-in texts in the five languages; null where a language
// has none.  Each library keeps a table of these and registers it once.
struct BuiltinText {
  const char* key;
  const char* de;
  const char* es;
  const char* fr;
  const char* en;
  const char* pt;
};

// Adds every text of a table to the process-wide translations.
void addBuiltinTexts(const BuiltinText* rows, size_t count);
template <size_t N>
void addBuiltinTexts(const BuiltinText (&rows)[N]) {
  addBuiltinTexts(rows, N);
}

}  // namespace loc
