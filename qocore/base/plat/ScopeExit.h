#pragma once
// plat::ScopeExit: runs a function when the scope is left, by return or
// by exception, unless dismissed.  Cleanup that must happen on every path
// (undo a half-made change, remove a temporary file) is written once,
// beside the step it undoes:
//
//   int fd = open(...);
//   plat::ScopeExit removeTemp([&] { ::unlink(tmp); });
//   ...                       // may throw
//   removeTemp.dismiss();     // success: keep the file

#include <type_traits>
#include <utility>

namespace plat {

template <typename F>
class [[nodiscard]] ScopeExit {
 public:
  explicit ScopeExit(F fn) noexcept(std::is_nothrow_move_constructible_v<F>) : fn_(std::move(fn)) {}
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  ~ScopeExit() {
    if (active_) fn_();
  }

  void dismiss() noexcept { active_ = false; }

 private:
  F fn_;
  bool active_ = true;
};

}  // namespace plat
