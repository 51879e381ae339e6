#pragma once
// Stands in for the macOS host clock: the absolute time counter that never
// goes back and the timebase query that turns its units into nanoseconds.
// Backed by clock_gettime(CLOCK_MONOTONIC), whose unit is one nanosecond,
// so the timebase is always 1/1.  Tests that need other readings replace
// the monotonic clock through plat::setMonotonicClock, and run other
// timebases through os::MachTimebaseConverter directly.

#include <cstdint>

namespace hostclock {

// Host clock units since an arbitrary origin.
uint64_t hostAbsoluteTime() noexcept;

// Host units × numerator ÷ denominator = nanoseconds.
struct HostTimebase {
  uint32_t numerator;
  uint32_t denominator;
};

// Fills the timebase; 0 on success.
[[nodiscard]] int hostTimebase(HostTimebase& out) noexcept;

}  // namespace hostclock
