#include "qocore/base/os/Environment.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "qocore/base/plat/Exception.h"

namespace os {

void setEnv(const char* name, const char* value) {
  if (::setenv(name, value, 1) != 0) throw plat::SystemException("setenv", errno);
}

int unsetEnv(const char* name) noexcept { return ::unsetenv(name); }

void clearEnv() noexcept {
  if (environ) environ[0] = nullptr;
}

ScopedEnvHide::ScopedEnvHide(const char* name) noexcept : name_(name), value_(::getenv(name)), saved_(0) {
  if (value_) {
    saved_ = value_[0];
    value_[0] = '\0';
  }
}

ScopedEnvHide::~ScopedEnvHide() {
  if (value_ && ::getenv(name_) == value_) value_[0] = saved_;
}

}  // namespace os
