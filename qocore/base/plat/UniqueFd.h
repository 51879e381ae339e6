#pragma once
// plat::UniqueFd: the owner of one file descriptor, closed when the owner
// goes.  Move-only.  It allocates nothing and calls only close(), so it is
// safe to use between fork and exec.
//
// Every descriptor the program owns lives in one of these; code that hands
// a descriptor on calls release().

#include <unistd.h>

#include <utility>

namespace plat {

class UniqueFd {
 public:
  constexpr UniqueFd() noexcept = default;
  // Takes ownership of `fd` (-1 for none).
  constexpr explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const noexcept { return fd_; }
  bool valid() const noexcept { return fd_ >= 0; }
  explicit operator bool() const noexcept { return valid(); }

  // Gives the descriptor up without closing it.
  [[nodiscard]] int release() noexcept { return std::exchange(fd_, -1); }
  // Closes the descriptor held (if any) and takes `fd`.  A failing close
  // is not reported: the descriptor is gone either way on Linux.
  void reset(int fd = -1) noexcept {
    int old = std::exchange(fd_, fd);
    if (old >= 0) ::close(old);
  }

 private:
  int fd_ = -1;
};

}  // namespace plat
