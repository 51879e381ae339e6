#include "platform/locale/SystemLocale.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "qocore/base/plat/Mutex.h"

namespace locale {

namespace {

const char* realGetenv(const char* name) { return std::getenv(name); }

constinit std::atomic<LocaleEnvFn> envFn{nullptr};

// The user defaults store.  Its mutex is constant-initialised and the
// store is never destroyed: code that runs at exit may still publish.
constinit plat::Mutex defaultsMutex;

struct Defaults {
  ArgumentDomain domain;
  int syncs = 0;
};

Defaults& defaults() PLAT_REQUIRES(defaultsMutex) {
  static Defaults* d = new Defaults;
  return *d;
}

void addUnique(std::vector<std::string>& out, const std::string& name) {
  if (!name.empty() && std::find(out.begin(), out.end(), name) == out.end()) out.push_back(name);
}

}  // namespace

LocaleEnvFn setLocaleEnv(LocaleEnvFn fn) noexcept { return envFn.exchange(fn); }

const char* localeEnv(const char* name) {
  LocaleEnvFn fn = envFn.load();
  return fn ? fn(name) : realGetenv(name);
}

plat::CharArray normaliseLocaleEntry(const char* entry) {
  if (!entry) return plat::CharArray("");
  std::string name(entry, std::strcspn(entry, ".@"));
  std::replace(name.begin(), name.end(), '-', '_');
  if (name == "C" || name == "POSIX") return plat::CharArray("");
  return plat::CharArray(name.c_str());
}

plat::CharArray currentLocale() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = localeEnv(var);
    if (value && *value) return normaliseLocaleEntry(value);
  }
  return plat::CharArray("");
}

std::vector<std::string> preferredLanguages() {
  std::vector<std::string> out;
  if (const char* list = localeEnv("LANGUAGE")) {
    std::string all(list);
    size_t start = 0;
    while (start <= all.size()) {
      size_t end = all.find(':', start);
      if (end == std::string::npos) end = all.size();
      addUnique(out, normaliseLocaleEntry(all.substr(start, end - start).c_str()).c_str());
      start = end + 1;
    }
  }
  addUnique(out, currentLocale().c_str());
  return out;
}

void setArgumentDomain(const ArgumentDomain& domain) {
  plat::MutexLock lock(defaultsMutex);
  Defaults& d = defaults();
  d.domain = domain;
}

ArgumentDomain argumentDomain() {
  plat::MutexLock lock(defaultsMutex);
  Defaults& d = defaults();
  return d.domain;
}

void synchronizeUserDefaults() {
  plat::MutexLock lock(defaultsMutex);
  Defaults& d = defaults();
  ++d.syncs;
}

int userDefaultsSyncCount() {
  plat::MutexLock lock(defaultsMutex);
  Defaults& d = defaults();
  return d.syncs;
}

}  // namespace locale
