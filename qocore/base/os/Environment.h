#pragma once
// Changes to the process environment.  clearEnv and ScopedEnvHide change
// the environment's storage in place: no other thread may read the
// environment while they run.

namespace os {

// setenv with overwrite.
void setEnv(const char* name, const char* value);

// unsetenv: 0, or -1 with errno set.
[[nodiscard]] int unsetEnv(const char* name) noexcept;

// Empties the environment by making its first entry the terminator; the
// entries' texts are left alone.
void clearEnv() noexcept;

// Makes a set variable read as set but empty for the guard's lifetime, by
// overwriting the first byte of its value in place.  The name is not
// copied.  The byte is written back only when getenv still answers the
// same storage, so a variable set anew in between is left as it is.
class ScopedEnvHide {
 public:
  explicit ScopedEnvHide(const char* name) noexcept;
  ~ScopedEnvHide();
  ScopedEnvHide(const ScopedEnvHide&) = delete;
  ScopedEnvHide& operator=(const ScopedEnvHide&) = delete;

 private:
  const char* name_;
  char* value_;
  char saved_;
};

}  // namespace os
