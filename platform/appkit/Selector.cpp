#include "platform/appkit/Selector.h"

#include <mutex>
#include <set>
#include <string>

namespace appkit {

Sel selector(const char* name) {
  if (!name) return nullptr;
  // Made on first use and never destroyed: selectors are interned from
  // static initialisers and used until the process ends.
  static std::set<std::string, std::less<>>* names = new std::set<std::string, std::less<>>;
  static std::mutex* lock = new std::mutex;
  std::lock_guard<std::mutex> hold(*lock);
  return names->emplace(name).first->c_str();
}

}  // namespace appkit
