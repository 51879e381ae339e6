#pragma once
// Bridges between the program's classes and the platform object runtime:
// bundle lookups, UTF-8 text to and from platform strings, retain and
// release, holders that release on every path, the autorelease-pool
// holder, and two observer bridges that forward notifications and
// key-value changes into the program's callback interfaces.  Main thread
// only.
//
// A bridge lives exactly as long as its owning observer: the observer's
// destructor unregisters it, clears the bridge's back pointer and only
// then releases it, so a late call from the platform finds no owner and
// does nothing.  A plat::Exception out of a callback is logged on
// "osNSUtil" and never reaches the platform's dispatch.

#include <cstdint>
#include <memory>

#include "platform/objc/NotificationCenter.h"
#include "platform/objc/Object.h"
#include "platform/objc/Observable.h"
#include "platform/objc/String.h"
#include "qocore/base/plat/CharArray.h"

namespace os {

// The main bundle's folder.  There is no bundle here: null, or with
// mustExist plat::Exception "App bundle not found".
plat::CharArray appBundlePath(bool mustExist);
// The application's resource folder (plat::resource_dir), or null.
plat::CharArray appResourcePath();
// The main bundle's identifier: null, as there is no bundle.
plat::CharArray bundleIdentifier();

// An autoreleased string of UTF-8 bytes (a negative length reads up to the
// NUL); malformed sequences become U+FFFD.  Null bytes give null; throws
// plat::BadUtf8 when even the sanitised text is refused.
objc::String* nsStringFromUtf8(const char* bytes, int length = -1);
// The string's UTF-8 text, valid while the string lives.
const char* nsStringUtf8(objc::String* string) noexcept;
// The text in precomposed form, owned by the current autorelease pool.
//
// Only the compositions the program can meet are made: a Latin letter
// followed by one combining mark of U+0300–U+036F becomes the precomposed
// letter of Latin-1 Supplement or Latin Extended-A where one exists;
// everything else passes through unchanged.
const char* precomposedUtf8(const char* text);

inline objc::Object* objcRetain(objc::Object* object) noexcept { return object ? object->retain() : nullptr; }
inline void objcRelease(objc::Object* object) noexcept {
  if (object) object->release();
}

// Holds one platform object and releases it, when owned, on destruction.
template <typename T>
class CFRef {
 public:
  CFRef() noexcept = default;
  explicit CFRef(T* object, bool owned = true) noexcept : owned_(owned), object_(object) {}
  ~CFRef() {
    T* o = object_;
    object_ = nullptr;
    if (o && owned_) o->release();
  }
  CFRef(const CFRef&) = delete;
  CFRef& operator=(const CFRef&) = delete;
  T* get() const noexcept { return object_; }

 private:
  bool owned_ = false;
  T* object_ = nullptr;
};

// Makes a pool the innermost of the thread; objects autoreleased while it
// is innermost are released when it is destroyed.
class AutoreleasePool {
 public:
  AutoreleasePool();
  ~AutoreleasePool();
  AutoreleasePool(const AutoreleasePool&) = delete;
  AutoreleasePool& operator=(const AutoreleasePool&) = delete;

 private:
  std::unique_ptr<objc::AutoreleasePool> pool_;
};

class NotificationObserver;
class NotificationCallback {
 public:
  virtual void notify(NotificationObserver* observer, objc::Notification* notification) = 0;
  virtual ~NotificationCallback() = default;
};

class NotificationBridge;
// Forwards notifications of a centre to a callback.  With a name, it
// observes that name from any object at once.
class NotificationObserver {
 public:
  NotificationObserver(NotificationCallback* callback, objc::NotificationCenter* center, const char* name);
  ~NotificationObserver();
  NotificationObserver(const NotificationObserver&) = delete;
  NotificationObserver& operator=(const NotificationObserver&) = delete;

  // One more registration of the same bridge (null name: every name; null
  // object: any object).
  void observe(const char* name, objc::Object* object);
  NotificationCallback* callback() const noexcept { return callback_; }

 private:
  NotificationBridge* bridge_;
  NotificationCallback* callback_;
  objc::NotificationCenter* center_;
  objc::Object* observer_;
};

// A registration of an observer of the caller's, removed on destruction.
class NotificationRegistration {
 public:
  // With a selector, registers it for the name and object at once.
  NotificationRegistration(objc::NotificationCenter* center, objc::Object* observer, const char* selector,
                           const char* name, objc::Object* object);
  ~NotificationRegistration();
  NotificationRegistration(const NotificationRegistration&) = delete;
  NotificationRegistration& operator=(const NotificationRegistration&) = delete;

  void observe(const char* selector, const char* name, objc::Object* object);

 private:
  objc::NotificationCenter* center_;
  objc::Object* observer_;
};

class KvoObserver;
class KvoCallback {
 public:
  virtual void changed(KvoObserver* observer, objc::Object* object, objc::String* keyPath, objc::Object* change,
                       void* context) = 0;
  virtual ~KvoCallback() = default;
};

class KvoBridge;
// Forwards changes of one key path of an object (with the new value) to a
// callback.
class KvoObserver {
 public:
  KvoObserver(KvoCallback* callback, objc::Observable* object, objc::String* keyPath);
  ~KvoObserver();
  KvoObserver(const KvoObserver&) = delete;
  KvoObserver& operator=(const KvoObserver&) = delete;

  KvoCallback* callback() const noexcept { return callback_; }

 private:
  KvoBridge* bridge_;
  KvoCallback* callback_;
  objc::KvoTarget* observer_;
  objc::Observable* object_;
  objc::String* keyPath_;
};

// A plain key-value registration of an observer of the caller's.
class KvoRegistration {
 public:
  KvoRegistration(objc::KvoTarget* observer, objc::Observable* object, objc::String* keyPath, int options,
                  void* context);
  ~KvoRegistration();
  KvoRegistration(const KvoRegistration&) = delete;
  KvoRegistration& operator=(const KvoRegistration&) = delete;

 private:
  objc::KvoTarget* observer_;
  objc::Observable* object_;
  objc::String* keyPath_;
};

// Installs `imp` for an instance method of the class and returns the old
// implementation; a selector the class lacks changes nothing and answers
// null.
objc::Imp replaceMethod(objc::Class* cls, const char* selector, objc::Imp imp);

// Marks the application as an agent without a menu bar.  The bundle's
// information dictionary here is immutable, so this does nothing.
void setUIElement(bool flag) noexcept;

// The security services' message for a status code (a new string, the
// caller's).
objc::String* secErrorMessage(int32_t status);

}  // namespace os
