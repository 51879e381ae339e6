#include "qocore/base/loc/LocaleSetter.h"

#include <string>
#include <vector>

#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"

namespace loc {

namespace {

thread_local LocaleSetter* thrInst = nullptr;

}  // namespace

LocaleSetter* LocaleSetter::current() noexcept { return thrInst; }

LocaleSetter::LocaleSetter(const char* name) : previous_(thrInst) {
  if (!name || !*name) {
    if (previous_) {
      resolved_ = previous_->resolved_;
    } else {
      Localize& localize = Localize::instance();
      plat::MutexLock lock(locLock());
      resolved_.name = localize.processLocaleName();
      resolved_.charset = localize.processLocaleClass();
    }
    thrInst = this;
  } else {
    localizeLog().verbose("setting locale %s", name);
    requested_ = name;
    thrInst = this;
    std::vector<std::string> list;
    splitLocaleList(name, list);
    bool found = false;
    for (const std::string& candidate : list) {
      if (probeLocale(candidate.c_str(), &resolved_)) {
        found = true;
        break;
      }
      localizeLog().info("No OS support for locale \"%s\"", candidate.c_str());
    }
    if (!found) resolved_ = ResolvedLocale{};
    map_.reset(TransMap::pushThreadMap());
    Localize::instance().setLocales(list, map_.get());
  }
  // When the platform refuses the name, the thread keeps its locale.
  installed_ = newlocale(LC_ALL_MASK, resolved_.name.c_str(), static_cast<locale_t>(nullptr));
  if (installed_ != static_cast<locale_t>(nullptr)) restore_ = uselocale(installed_);
}

LocaleSetter::~LocaleSetter() {
  PLAT_ASSERT(thrInst == this);
  thrInst = previous_;
  if (requested_) localizeLog().verbose("restoring locale");
  if (installed_ != static_cast<locale_t>(nullptr)) {
    uselocale(restore_);
    freelocale(installed_);
  }
  // The thread map goes last: it reinstates the map that was current.
  map_.reset();
}

plat::CharArray currentLocales() {
  for (LocaleSetter* s = LocaleSetter::current(); s; s = s->previous())
    if (s->requestedName()) return plat::CharArray(s->requestedName());
  return Localize::instance().getLocales();
}

void wrapTextInLocale(plat::DString& text, int width, int indent) {
  LocaleSetter inherit(nullptr);
  text.wordWrap(width, indent);
}

}  // namespace loc
