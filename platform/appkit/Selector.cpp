#include "platform/appkit/Selector.h"

#include <set>
#include <string>

#include "qocore/base/plat/Mutex.h"

namespace appkit {

Sel selector(const char* name) {
  if (!name) return nullptr;
  // Made on first use and never destroyed: selectors are interned from
  // static initialisers and used until the process ends.
  static std::set<std::string, std::less<>>* names = new std::set<std::string, std::less<>>;
  static plat::Mutex* lock = new plat::Mutex;
  plat::MutexLock hold(*lock);
  return names->emplace(name).first->c_str();
}

}  // namespace appkit
