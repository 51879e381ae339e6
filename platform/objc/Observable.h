#pragma once
// Stands in for the platform's key-value observing: an object keeps a list
// of observers per key path, and its change hook tells each observer of
// that key path in registration order.  Backed by a plain list per object.

#include <cstdint>
#include <vector>

#include "platform/objc/Object.h"
#include "platform/objc/Ref.h"
#include "platform/objc/String.h"

namespace objc {

// observeValueForKeyPath:ofObject:change:context:.  `change` carries the
// new value when the registration asked for it (option kNew), else null.
class KvoTarget : public Object {
 public:
  virtual void observeValue(String* keyPath, Object* object, Object* change, void* context) = 0;
};

class Observable : public Object {
 public:
  static constexpr int kNew = 1;

  // addObserver:forKeyPath:options:context:.  Does not retain the
  // observer (it must remove itself before it goes away).
  void addObserver(KvoTarget* observer, String* keyPath, int options, void* context);
  // removeObserver:forKeyPath:: removes the latest matching registration.
  // Removing one that is not registered throws plat::Exception, as the
  // platform does.
  void removeObserver(KvoTarget* observer, String* keyPath);
  int observerCount() const noexcept { return static_cast<int>(entries_.size()); }

  // The change hook: tells the observers of `keyPath` registered when it
  // began; one removed (or destroyed) by an earlier callout of the same
  // notice is skipped.
  void didChange(const char* keyPath, Object* newValue);

 protected:
  ~Observable() override;

 private:
  struct Entry {
    KvoTarget* observer;
    Ref<String> keyPath;
    int options;
    void* context;
    // Tells a registration from a later one of the same observer.
    uint64_t serial;
  };
  std::vector<Entry> entries_;
  uint64_t nextSerial_ = 0;
};

}  // namespace objc
