#include "platform/objc/Observable.h"

#include <algorithm>
#include <cstring>

#include "qocore/base/plat/Exception.h"

namespace objc {

Observable::~Observable() = default;

void Observable::addObserver(KvoTarget* observer, String* keyPath, int options, void* context) {
  entries_.push_back({observer, adopt(keyPath->copy()), options, context, nextSerial_++});
}

void Observable::removeObserver(KvoTarget* observer, String* keyPath) {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (it->observer == observer && strcmp(it->keyPath->utf8(), keyPath->utf8()) == 0) {
      entries_.erase(std::next(it).base());
      return;
    }
  }
  throw plat::ExceptionFmt("Cannot remove an observer for the key path \"%s\": not registered", keyPath->utf8());
}

void Observable::didChange(const char* keyPath, Object* newValue) {
  // A callout may remove or destroy any observer, or register new ones.
  // Told are the registrations of the key path that existed when the notice
  // began, each only while it is still registered: a removed observer's
  // memory and key path may be gone, and one registered again is new.
  std::vector<uint64_t> due;
  for (const Entry& e : entries_)
    if (strcmp(e.keyPath->utf8(), keyPath) == 0) due.push_back(e.serial);
  for (uint64_t serial : due) {
    auto it = std::find_if(entries_.begin(), entries_.end(), [serial](const Entry& e) { return e.serial == serial; });
    if (it == entries_.end()) continue;
    // A copy, holding the key path: the callout may remove this
    // registration.
    const Entry e = *it;
    e.observer->observeValue(e.keyPath, this, (e.options & kNew) ? newValue : nullptr, e.context);
  }
}

}  // namespace objc
