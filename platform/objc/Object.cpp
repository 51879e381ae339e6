#include "platform/objc/Object.h"

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"

namespace objc {

namespace {
// Made by the static initialiser, so that the `Log` setting binds it, and
// never destroyed: code that runs during exit may still log.
PLAT_LOG_SOURCE(vlog, "objc");
thread_local AutoreleasePool* innermost = nullptr;

// What is autoreleased with no pool in place: kept until the thread ends,
// so the caller's pointer stays valid (the platform would leak it).
struct Orphans {
  std::vector<Object*> objects;
  ~Orphans() {
    for (Object* o : objects) o->release();
  }
};
thread_local Orphans orphans;
}  // namespace

Object::~Object() = default;

Object* Object::retain() noexcept {
  const int before = refs_.fetch_add(1, std::memory_order_relaxed);
  // An object whose last reference went is being destroyed: a new one
  // would free it a second time.
  PLAT_ASSERT(before > 0);
  return this;
}

void Object::release() noexcept {
  const int before = refs_.fetch_sub(1, std::memory_order_acq_rel);
  PLAT_ASSERT(before > 0);
  if (before != 1) return;
  // Weak references read null from here on, also from the destructors.
  if (alive_) *alive_ = false;
  delete this;
}

std::shared_ptr<const bool> Object::liveFlag() const {
  if (!alive_) alive_ = std::make_shared<bool>(true);
  return alive_;
}

Object* Object::autorelease() noexcept {
  if (AutoreleasePool* pool = innermost) {
    try {
      pool->add(this);
      return this;
    } catch (...) {
      // The pool could not grow (out of memory): keep the object as an
      // orphan below instead.
    }
  }
  if (orphans.objects.empty()) vlog().error("Object autoreleased with no pool in place: kept until the thread ends");
  try {
    orphans.objects.push_back(this);
  } catch (...) {
    // Out of memory: the object then leaks, as the platform's would, and
    // the caller's pointer stays valid.
  }
  return this;
}

void Object::perform(const char* selector, Object*) {
  throw plat::ExceptionFmt("Unrecognized selector %s", selector ? selector : "(null)");
}

AutoreleasePool::AutoreleasePool() noexcept : outer_(innermost) { innermost = this; }

AutoreleasePool::~AutoreleasePool() {
  PLAT_ASSERT(innermost == this);
  // Releasing may autorelease further objects into this pool: drain until
  // it stays empty, then unlink.
  while (!objects_.empty()) {
    std::vector<Object*> batch;
    batch.swap(objects_);
    for (Object* o : batch) o->release();
  }
  innermost = outer_;
}

void AutoreleasePool::add(Object* object) { objects_.push_back(object); }

AutoreleasePool* AutoreleasePool::current() noexcept { return innermost; }

Imp Class::method(const char* selector) const {
  auto it = methods_.find(selector);
  return it == methods_.end() ? nullptr : it->second;
}

Imp Class::setMethod(const char* selector, Imp imp) {
  auto it = methods_.find(selector);
  if (it == methods_.end()) return nullptr;
  Imp old = it->second;
  it->second = imp;
  return old;
}

}  // namespace objc
