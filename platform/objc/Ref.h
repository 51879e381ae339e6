#pragma once
// Scoped references to the runtime's reference-counted objects, so that no
// path (an early return, an exception, an object deleted by a callout)
// leaves a count wrong or an object in use freed.
//
//  - objc::Ref<T> holds one strong reference: a copy retains, destruction
//    and reassignment release.  Made from a plain pointer it retains (the
//    object stays the owner's too); `objc::adopt` takes over the one
//    reference a caller already has (a `new` object), without retaining;
//    `objc::autoreleased` hands one to the autorelease pool.
//  - objc::WeakRef<T> points at an object without keeping it: it reads
//    null once the object's last reference has gone.
//  - objc::RefVector<T> is a list that holds a strong reference to each of
//    its objects and shows them as plain pointers.
//  - objc::Liveness lets a plain C++ object's callers learn of its
//    destruction: take a token before calling out, test it after.
//
// Hold what a call may free for the length of the call; make a member a
// Ref only where it owned a reference already.  Pointers that never owned
// (delegates, targets, superviews, back pointers) stay plain or become
// weak, or objects would keep each other alive for ever.  Main thread
// only, as the objects they hold.

#include <cstddef>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/objc/Object.h"

namespace objc {

template <class T>
class Ref {
 public:
  constexpr Ref() noexcept = default;
  constexpr Ref(std::nullptr_t) noexcept {}
  // Retains the object (null allowed).
  Ref(T* object) noexcept : object_(object) {
    if (object_) object_->retain();
  }
  Ref(const Ref& other) noexcept : Ref(other.object_) {}
  Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  Ref(const Ref<U>& other) noexcept : Ref(other.get()) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  Ref(Ref<U>&& other) noexcept : object_(other.leak()) {}
  ~Ref() {
    if (object_) object_->release();
  }
  // Takes the new reference before dropping the old one, so assigning the
  // object already held is safe; a plain pointer is retained.
  Ref& operator=(Ref other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }

  // Takes over the caller's reference to the object without retaining.
  [[nodiscard]] static Ref adopt(T* object) noexcept {
    Ref ref;
    ref.object_ = object;
    return ref;
  }

  T* get() const noexcept { return object_; }
  T* operator->() const noexcept { return object_; }
  T& operator*() const noexcept { return *object_; }
  // Both forms, so that a temporary Ref tests as a bool rather than meet
  // the deleted conversion below.
  explicit operator bool() const& noexcept { return object_ != nullptr; }
  explicit operator bool() && noexcept { return object_ != nullptr; }
  // A held object passes as a plain pointer; a temporary Ref does not, as
  // the pointer would outlive the reference.
  operator T*() const& noexcept { return object_; }
  operator T*() && = delete;

  // Hands the reference to the caller, who must release it.
  [[nodiscard]] T* leak() noexcept { return std::exchange(object_, nullptr); }
  void reset() noexcept { Ref().swap(*this); }
  void swap(Ref& other) noexcept { std::swap(object_, other.object_); }

 private:
  T* object_ = nullptr;
};

// Takes over the one reference the caller has, typically `adopt(new T)`.
template <class T>
[[nodiscard]] Ref<T> adopt(T* object) noexcept {
  return Ref<T>::adopt(object);
}

// Hands the reference to the innermost autorelease pool: the object stays
// valid until the pool goes, whoever else lets go of it.
template <class T>
T* autoreleased(Ref<T> ref) noexcept {
  T* object = ref.leak();
  if (object) object->autorelease();
  return object;
}

template <class T>
class WeakRef {
 public:
  WeakRef() noexcept = default;
  WeakRef(std::nullptr_t) noexcept {}
  WeakRef(T* object) : object_(object) {
    if (object) alive_ = static_cast<const Object*>(object)->liveFlag();
  }

  // The object while it lives, else null.
  T* get() const noexcept { return alive_ && *alive_ ? object_ : nullptr; }
  // A strong reference to the object while it lives, else null.
  Ref<T> strong() const noexcept { return Ref<T>(get()); }
  explicit operator bool() const noexcept { return get() != nullptr; }
  void reset() noexcept { *this = WeakRef(); }
  // Whether it was made for the object, living or gone: finds the
  // references to an object that is being destroyed.
  bool pointsTo(const T* object) const noexcept { return object && object_ == object; }

 private:
  T* object_ = nullptr;
  std::shared_ptr<const bool> alive_;
};

template <class T>
class RefVector {
 public:
  using const_iterator = typename std::vector<T*>::const_iterator;

  RefVector() = default;
  RefVector(const RefVector&) = delete;
  RefVector& operator=(const RefVector&) = delete;
  ~RefVector() { clear(); }

  // The objects, in order.
  const std::vector<T*>& items() const noexcept { return items_; }
  size_t size() const noexcept { return items_.size(); }
  bool empty() const noexcept { return items_.empty(); }
  T* operator[](size_t index) const noexcept { return items_[index]; }
  T* front() const noexcept { return items_.front(); }
  T* back() const noexcept { return items_.back(); }
  const_iterator begin() const noexcept { return items_.begin(); }
  const_iterator end() const noexcept { return items_.end(); }
  // The index of the object; size() when absent.
  size_t indexOf(const T* object) const noexcept {
    size_t i = 0;
    while (i < items_.size() && items_[i] != object) ++i;
    return i;
  }
  bool contains(const T* object) const noexcept { return indexOf(object) < items_.size(); }

  // The list takes the reference (a plain pointer is retained).
  void push_back(Ref<T> object) { insert(items_.size(), std::move(object)); }
  void insert(size_t index, Ref<T> object) {
    items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(index), object.get());
    static_cast<void>(object.leak());
  }
  // Removes the object at the index and hands its reference to the
  // caller, so that the list is consistent before the object may go.
  Ref<T> take(size_t index) noexcept {
    T* object = items_[index];
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
    return Ref<T>::adopt(object);
  }
  // Removes the first occurrence of the object; null when absent.
  Ref<T> remove(const T* object) noexcept {
    size_t i = indexOf(object);
    return i < items_.size() ? take(i) : Ref<T>();
  }
  // Empties the list, then releases what it held.
  void clear() noexcept {
    std::vector<T*> gone;
    gone.swap(items_);
    for (T* object : gone)
      if (object) object->release();
  }
  // Strong references to the objects, for walking the list while the
  // calls made on the way may change it or free its objects.
  std::vector<Ref<T>> snapshot() const {
    std::vector<Ref<T>> out(items_.begin(), items_.end());
    return out;
  }

 private:
  std::vector<T*> items_;
};

class Liveness {
 public:
  Liveness() : alive_(std::make_shared<bool>(true)) {}
  ~Liveness() { *alive_ = false; }
  Liveness(const Liveness&) = delete;
  Liveness& operator=(const Liveness&) = delete;

  class Token {
   public:
    // Whether the owner of the Liveness still exists.
    bool alive() const noexcept { return *alive_; }
    explicit operator bool() const noexcept { return alive(); }

   private:
    friend class Liveness;
    explicit Token(std::shared_ptr<const bool> alive) noexcept : alive_(std::move(alive)) {}
    std::shared_ptr<const bool> alive_;
  };
  Token token() const noexcept { return Token(alive_); }

 private:
  std::shared_ptr<bool> alive_;
};

}  // namespace objc
