#include "platform/hostclock/HostClock.h"

#include <time.h>

namespace hostclock {

uint64_t hostAbsoluteTime() noexcept {
  timespec ts;
  // CLOCK_MONOTONIC cannot fail with a valid clock id and buffer.
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(ts.tv_nsec);
}

int hostTimebase(HostTimebase& out) noexcept {
  out.numerator = 1;
  out.denominator = 1;
  return 0;
}

}  // namespace hostclock
