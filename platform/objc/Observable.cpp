#include "platform/objc/Observable.h"

#include <cstring>

#include "qocore/base/plat/Exception.h"

namespace objc {

Observable::~Observable() {
  for (Entry& e : entries_) e.keyPath->release();
}

void Observable::addObserver(KvoTarget* observer, String* keyPath, int options, void* context) {
  entries_.push_back({observer, keyPath->copy(), options, context});
}

void Observable::removeObserver(KvoTarget* observer, String* keyPath) {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (it->observer == observer && strcmp(it->keyPath->utf8(), keyPath->utf8()) == 0) {
      it->keyPath->release();
      entries_.erase(std::next(it).base());
      return;
    }
  }
  throw plat::ExceptionFmt("Cannot remove an observer for the key path \"%s\": not registered", keyPath->utf8());
}

void Observable::didChange(const char* keyPath, Object* newValue) {
  // A callout may add or remove registrations: work on a snapshot and
  // check each entry is still registered before telling it.
  std::vector<Entry> snapshot = entries_;
  for (const Entry& e : snapshot) {
    if (strcmp(e.keyPath->utf8(), keyPath) != 0) continue;
    bool still = false;
    for (const Entry& cur : entries_) still = still || (cur.observer == e.observer && cur.keyPath == e.keyPath);
    if (!still) continue;
    e.observer->observeValue(e.keyPath, this, (e.options & kNew) ? newValue : nullptr, e.context);
  }
}

}  // namespace objc
