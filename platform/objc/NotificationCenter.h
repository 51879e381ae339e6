#pragma once
// Stands in for the platform's notification centre: an in-process registry
// of (observer, selector, name, object) entries.  Posting a notification
// sends the selector to every observer whose name and object match (a null
// name or object matches any), in registration order, on the posting
// thread.  Observers are not retained; they must remove themselves before
// they go away.

#include <vector>

#include "platform/objc/Object.h"
#include "platform/objc/String.h"
#include "qocore/base/plat/CharArray.h"

namespace objc {

class Notification : public Object {
 public:
  // A new notification (one reference, the caller's).
  Notification(const char* name, Object* object) : name_(name), object_(object) {}
  // The name; "" for none.
  const char* name() const noexcept { return name_.c_str(); }
  Object* object() const noexcept { return object_; }

 private:
  plat::CharArray name_;
  Object* object_;  // not retained
};

class NotificationCenter {
 public:
  NotificationCenter() = default;
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // The process-wide centre, made on first use and never destroyed.
  static NotificationCenter& defaultCenter();
  // The centre of notifications between applications (system settings
  // such as the appearance); here a second in-process centre, on which
  // the façade's injectors post what the system would.
  static NotificationCenter& distributedCenter();

  // addObserver:selector:name:object:.  `name` null observes every name.
  void addObserver(Object* observer, const char* selector, const char* name, Object* object);
  // removeObserver:: every registration of the observer.
  void removeObserver(Object* observer) noexcept;
  // postNotificationName:object:.  Observers removed by an earlier
  // delivery of the same post receive nothing.
  void post(const char* name, Object* object);
  int registrationCount() const noexcept { return static_cast<int>(entries_.size()); }
  // The observer of a registration, in registration order, so that tests
  // can call it late as the platform might.
  Object* observerAt(int index) const noexcept { return entries_[static_cast<size_t>(index)].observer; }

 private:
  struct Entry {
    Object* observer;
    plat::CharArray selector;
    bool anyName;
    plat::CharArray name;
    Object* object;
    unsigned long id;
  };
  std::vector<Entry> entries_;
  unsigned long nextId_ = 1;
};

}  // namespace objc
