#pragma once
// Random bytes straight from the operating system: the entropy that seeds
// the process's random generator.  Everything else draws from
// crypto::RandomStream.

#include <cstddef>

namespace os {

// Fills buf with len bytes from /dev/urandom, or from /dev/random when the
// first does not exist.  Throws plat::Exception "/dev/random not supported"
// when neither exists, plat::SystemException "open(<path>)" or
// "read(random)" on other failures, and plat::Exception "no bytes from
// read(random)" when the device runs dry.  A request of 0 bytes still opens
// and closes the device.
void getRandomBytes(void* buf, size_t len);

// Test seam: the two devices tried in order.  Null restores the default of
// either one.  The texts are not copied and must outlive their use.  Not
// thread-safe; tests set it while nothing else draws.
void setRandomDevices(const char* primary, const char* fallback) noexcept;

}  // namespace os
