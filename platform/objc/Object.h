#pragma once
// Stands in for the platform object runtime the OS layer bridges to:
// reference-counted objects (retain, release, autorelease), the per-thread
// stack of autorelease pools, and classes whose instance methods sit in a
// table that can be looked up and replaced.  Backed by plain C++: a
// reference count per object and a thread_local pool stack.  The UI façade
// builds its classes on this base; platform/objc/Ref.h holds references
// to them.

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "qocore/base/plat/CharArray.h"

namespace objc {

template <class T>
class WeakRef;

class Object {
 public:
  Object() noexcept = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  // Adds one reference; returns this.
  Object* retain() noexcept;
  // Drops one reference; the last one tells the weak references that the
  // object is gone, then deletes it.
  void release() noexcept;
  // Hands one reference to the innermost autorelease pool of the calling
  // thread, which releases it when the pool is destroyed.  Without a pool
  // (logged once per thread) it is released when the thread ends, so the
  // object stays valid where the platform would leak it.
  Object* autorelease() noexcept;
  int retainCount() const noexcept { return refs_.load(std::memory_order_relaxed); }

  // Sends a message by selector name with one argument.  The base class
  // understands none: it throws plat::Exception "Unrecognized selector %s".
  virtual void perform(const char* selector, Object* argument);

 protected:
  virtual ~Object();

 private:
  template <class T>
  friend class WeakRef;
  // The flag the weak references share: true while the object lives; made
  // for the first of them.
  std::shared_ptr<const bool> liveFlag() const;

  std::atomic<int> refs_{1};
  mutable std::shared_ptr<bool> alive_;
};

// One autorelease pool; constructing it makes it the innermost pool of the
// thread, destroying it releases what was autoreleased into it.  Pools are
// strictly nested: only the innermost may be destroyed.
class AutoreleasePool {
 public:
  AutoreleasePool() noexcept;
  ~AutoreleasePool();
  AutoreleasePool(const AutoreleasePool&) = delete;
  AutoreleasePool& operator=(const AutoreleasePool&) = delete;

  void add(Object* object);
  int count() const noexcept { return static_cast<int>(objects_.size()); }
  // The thread's innermost pool, null when none.
  static AutoreleasePool* current() noexcept;

 private:
  std::vector<Object*> objects_;
  AutoreleasePool* outer_;
};

// An instance method implementation; callers cast to the real signature.
using Imp = void (*)();

// A class of the runtime: a name and its instance method table.
class Class {
 public:
  explicit Class(const char* name) : name_(name) {}
  const char* name() const noexcept { return name_.c_str(); }

  void addMethod(const char* selector, Imp imp) { methods_[plat::CharArray(selector)] = imp; }
  // The implementation of a selector; null when the class lacks it.
  Imp method(const char* selector) const;
  // Installs a new implementation for an existing selector and returns the
  // old one; an unknown selector changes nothing and answers null.
  Imp setMethod(const char* selector, Imp imp);

 private:
  // Orders selectors by their bytes; finds them by plain text too.
  struct SelectorLess {
    using is_transparent = void;
    bool operator()(const plat::CharArray& a, const plat::CharArray& b) const noexcept {
      return std::strcmp(a.c_str(), b.c_str()) < 0;
    }
    bool operator()(const plat::CharArray& a, const char* b) const noexcept { return std::strcmp(a.c_str(), b) < 0; }
    bool operator()(const char* a, const plat::CharArray& b) const noexcept { return std::strcmp(a, b.c_str()) < 0; }
  };

  plat::CharArray name_;
  std::map<plat::CharArray, Imp, SelectorLess> methods_;
};

}  // namespace objc
