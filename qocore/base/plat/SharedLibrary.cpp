#include "qocore/base/plat/SharedLibrary.h"

#include <dlfcn.h>

#include <cstdio>

namespace plat {

namespace {

// The loader's text for the last failure on this thread.
const char* loaderReason() noexcept {
  const char* reason = ::dlerror();
  return reason ? reason : "no reason given";
}

}  // namespace

SharedLibrary::SharedLibrary(const char* soname) noexcept : handle_(::dlopen(soname, RTLD_NOW | RTLD_LOCAL)) {
  if (!handle_) std::snprintf(error_, sizeof error_, "Cannot load %s: %s", soname, loaderReason());
}

void* SharedLibrary::symbol(const char* name) noexcept {
  if (!handle_) return nullptr;
  void* found = ::dlsym(handle_, name);
  if (!found && !error_[0]) std::snprintf(error_, sizeof error_, "Cannot find %s: %s", name, loaderReason());
  return found;
}

}  // namespace plat
