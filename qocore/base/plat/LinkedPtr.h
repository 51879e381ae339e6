#pragma once
// plat::LinkedPtr<T>: an owning pointer whose copies form a ring instead of
// counting references.  Copying joins the ring; reset and destruction leave
// it, and the copy that leaves a ring of one deletes the object through its
// virtual destructor.  Copies of different pointer types (a derived and a
// base type) may share one ring.

#include <utility>

namespace plat {

class LinkedPtrLink {
 protected:
  LinkedPtrLink() noexcept : prev_(this), next_(this) {}
  // Joins the ring of `other`.
  void join(const LinkedPtrLink& other) noexcept {
    next_ = other.next_;
    prev_ = &other;
    other.next_->prev_ = this;
    other.next_ = this;
  }
  // Leaves the ring; true when this link was the only one.
  bool leave() noexcept {
    if (next_ == this) return true;
    prev_->next_ = next_;
    next_->prev_ = prev_;
    prev_ = next_ = this;
    return false;
  }
  bool alone() const noexcept { return next_ == this; }

 private:
  mutable const LinkedPtrLink* prev_;
  mutable const LinkedPtrLink* next_;
};

template <typename T>
class LinkedPtr : private LinkedPtrLink {
  template <typename U>
  friend class LinkedPtr;

 public:
  LinkedPtr() noexcept = default;
  explicit LinkedPtr(T* p) noexcept : p_(p) {}
  LinkedPtr(const LinkedPtr& other) noexcept { copyFrom(other); }
  template <typename U>
  LinkedPtr(const LinkedPtr<U>& other) noexcept {
    copyFrom(other);
  }
  LinkedPtr(LinkedPtr&& other) noexcept {
    copyFrom(other);
    other.reset();
  }
  LinkedPtr& operator=(const LinkedPtr& other) noexcept {
    assignFrom(other);
    return *this;
  }
  template <typename U>
  LinkedPtr& operator=(const LinkedPtr<U>& other) noexcept {
    assignFrom(other);
    return *this;
  }
  LinkedPtr& operator=(LinkedPtr&& other) noexcept {
    if (this != &other) {
      // Empty `other` before letting go of the old object, which may own
      // it (p = std::move(p->next)).
      LinkedPtr held(std::move(other));
      assignFrom(held);
    }
    return *this;
  }
  ~LinkedPtr() { reset(); }

  // Leaves the ring (deleting the object when this was its last holder)
  // and holds `p` alone.
  void reset(T* p = nullptr) noexcept {
    T* old = std::exchange(p_, nullptr);
    if (old && leave()) delete old;
    p_ = p;
  }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // Whether this is the only holder of its object.
  bool unique() const noexcept { return p_ && alone(); }

 private:
  template <typename U>
  void copyFrom(const LinkedPtr<U>& other) noexcept {
    p_ = other.p_;
    if (p_) join(other);
  }
  // Joins the ring of `other` after leaving the current one.  A copy holds
  // the new object while the old one is released, since the old object may
  // own `other` (p = p->next).
  template <typename U>
  void assignFrom(const LinkedPtr<U>& other) noexcept {
    if (p_ == other.p_) return;
    LinkedPtr held(other);
    reset();
    copyFrom(held);
  }

  T* p_ = nullptr;
};

}  // namespace plat
