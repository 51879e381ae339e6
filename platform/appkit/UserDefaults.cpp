#include "platform/appkit/UserDefaults.h"

#include <map>
#include <string>

namespace appkit {

namespace {
std::map<std::string, std::string>& values() {
  static auto* v = new std::map<std::string, std::string>;
  return *v;
}
}  // namespace

UserDefaults& UserDefaults::standard() {
  static auto* d = new UserDefaults;
  return *d;
}

objc::String* UserDefaults::stringForKey(const char* key) const {
  if (!key) return nullptr;
  auto it = values().find(key);
  if (it == values().end()) return nullptr;
  objc::String* s = objc::String::create(it->second.data(), it->second.size());
  if (s) s->autorelease();
  return s;
}

void UserDefaults::setString(const char* key, const char* value) {
  if (!key) return;
  if (value)
    values()[key] = value;
  else
    values().erase(key);
}

}  // namespace appkit
