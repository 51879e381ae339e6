#include "platform/objc/NotificationCenter.h"

#include <cstring>
#include <string>

#include "platform/objc/Ref.h"

namespace objc {

NotificationCenter& NotificationCenter::defaultCenter() {
  static NotificationCenter* center = new NotificationCenter;
  return *center;
}

NotificationCenter& NotificationCenter::distributedCenter() {
  static NotificationCenter* center = new NotificationCenter;
  return *center;
}

void NotificationCenter::addObserver(Object* observer, const char* selector, const char* name, Object* object) {
  entries_.push_back(
      {observer, plat::CharArray(selector ? selector : ""), name == nullptr, plat::CharArray(name), object, nextId_++});
}

void NotificationCenter::removeObserver(Object* observer) noexcept {
  std::erase_if(entries_, [observer](const Entry& e) { return e.observer == observer; });
}

void NotificationCenter::post(const char* name, Object* object) {
  const Ref<Notification> n = adopt(new Notification(name, object));
  std::vector<unsigned long> ids;
  for (const Entry& e : entries_) {
    if ((e.anyName || strcmp(e.name.c_str(), name ? name : "") == 0) && (!e.object || e.object == object))
      ids.push_back(e.id);
  }
  for (unsigned long id : ids) {
    // Look the entry up again: an earlier delivery may have removed it.
    for (const Entry& e : entries_) {
      if (e.id != id) continue;
      Object* observer = e.observer;
      // A copy: the callout may remove the entry.
      std::string selector = e.selector.c_str();
      observer->perform(selector.c_str(), n);
      break;
    }
  }
}

}  // namespace objc
