#include <gtest/gtest.h>
#include <time.h>

#include <cstdint>

#include "platform/hostclock/HostClock.h"

namespace {

uint64_t monotonicNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(ts.tv_nsec);
}

TEST(HostClockTest, NanosecondUnitsOfTheMonotonicClock) {
  hostclock::HostTimebase timebase{0, 0};
  ASSERT_EQ(hostclock::hostTimebase(timebase), 0);
  EXPECT_EQ(timebase.numerator, 1u);
  EXPECT_EQ(timebase.denominator, 1u);

  for (int i = 0; i < 100; ++i) {
    uint64_t before = monotonicNs();
    uint64_t reading = hostclock::hostAbsoluteTime();
    uint64_t after = monotonicNs();
    ASSERT_LE(before, reading);
    ASSERT_LE(reading, after);
  }
}

}  // namespace
