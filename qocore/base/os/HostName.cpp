#include "qocore/base/os/HostName.h"

#include <unistd.h>

#include <atomic>
#include <climits>

namespace os {

namespace {
constinit std::atomic<const char*> overrideName{nullptr};
}  // namespace

plat::CharArray getLocalHostName() {
  if (const char* name = overrideName.load(std::memory_order_acquire)) return plat::CharArray(name);
  char name[HOST_NAME_MAX + 1] = {};
  // A name longer than the buffer may come back without its NUL; the
  // last byte stays zero.
  if (gethostname(name, sizeof name - 1) != 0 || !name[0]) return plat::CharArray();
  return plat::CharArray(name);
}

const char* setLocalHostNameOverride(const char* name) noexcept {
  return overrideName.exchange(name, std::memory_order_acq_rel);
}

}  // namespace os
