#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <random>

#include "qocore/base/os/mac/MachTimebaseConverter.h"

namespace {

using os::MachTimebaseConverter;

// d × numerator ÷ denominator in 128 bits; all ones beyond 64 bits.
uint64_t reference(uint64_t d, uint32_t numerator, uint32_t denominator) {
  unsigned __int128 q = static_cast<unsigned __int128>(d) * numerator / denominator;
  return q >> 64 ? ~uint64_t{0} : static_cast<uint64_t>(q);
}

TEST(MachTimebaseConverterTest, TheFactorOfHundredIsFoldedIn) {
  struct Case {
    uint32_t numerator, denominator;
    uint32_t scaledNumerator, scaledDenominator;
  } cases[] = {
      {1, 1, 1, 100},  // nanosecond host units (the Linux stand-in)
      {125, 3, 125, 300}, {100, 1, 1, 1},
      {3000, 7, 30, 7},   {1, 42'949'672, 1, 4'294'967'200},  // the largest denominator that still fits
  };
  for (const Case& c : cases) {
    MachTimebaseConverter converter(c.numerator, c.denominator, 0);
    EXPECT_EQ(converter.numerator(), c.scaledNumerator) << c.numerator << "/" << c.denominator;
    EXPECT_EQ(converter.denominator(), c.scaledDenominator) << c.numerator << "/" << c.denominator;
  }
}

TEST(MachTimebaseConverterTest, ReadingsCountFromTheOrigin) {
  struct Case {
    uint32_t numerator, denominator;
    uint64_t origin, now;
    uint64_t ticks;
  } cases[] = {
      {1, 1, 5'000, 5'000, 0},
      {1, 1, 5'000, 5'000 + 1'000'000'000, 10'000'000},  // one second
      {1, 1, 0, 199, 1},                                 // truncated
      {125, 3, 7, 7 + 24'000'000, 10'000'000},           // 24 M units of 125/3 ns
      {125, 3, 0, 2, 0},                                 // 83.3 ns
      {125, 3, 0, 3, 1},                                 // 125 ns
      // The difference is taken in unsigned 64 bits, so a host counter that
      // wraps still reads forwards.
      {1, 1, UINT64_MAX - 99, 100, 2},
  };
  for (const Case& c : cases) {
    MachTimebaseConverter converter(c.numerator, c.denominator, c.origin);
    EXPECT_EQ(converter.ticksAt(c.now), c.ticks) << c.numerator << "/" << c.denominator << " at " << c.now;
  }
}

// The 96-bit long division against 128-bit arithmetic, over values where
// the upper quotient is near its 32-bit limit as well as ordinary ones.
TEST(MachTimebaseConverterTest, ScalingIsExactIn96Bits) {
  std::mt19937_64 random(96);
  const uint32_t timebases[][2] = {{1, 100},
                                   {125, 300},
                                   {1, 1},
                                   {3, 125},
                                   {UINT32_MAX, 1},
                                   {UINT32_MAX, UINT32_MAX},
                                   {1'000'000'007, 4'294'967'200}};
  for (const auto& tb : timebases) {
    for (int i = 0; i < 20000; ++i) {
      uint64_t d = random();
      if (i % 4 == 1) d >>= random() % 64;  // small values too
      if (i % 4 == 2) {
        // Right at the overflow edge: the largest d whose quotient fits, and one past it.
        unsigned __int128 edge = ((static_cast<unsigned __int128>(1) << 64) * tb[1] - 1) / tb[0];
        d = edge >> 64 ? UINT64_MAX : static_cast<uint64_t>(edge) + (random() & 1);
      }
      ASSERT_EQ(MachTimebaseConverter::scale(d, tb[0], tb[1]), reference(d, tb[0], tb[1]))
          << d << " x " << tb[0] << "/" << tb[1];
    }
  }
  EXPECT_EQ(MachTimebaseConverter::scale(UINT64_MAX, 2, 1), UINT64_MAX);
  EXPECT_EQ(MachTimebaseConverter::scale(UINT64_MAX, UINT32_MAX, UINT32_MAX), UINT64_MAX);  // fits exactly
}

TEST(MachTimebaseConverterTest, TheProcessConverterUsesTheHostTimebase) {
  const MachTimebaseConverter& converter = MachTimebaseConverter::process();
  EXPECT_EQ(&converter, &MachTimebaseConverter::process());
  EXPECT_EQ(converter.numerator(), 1u);
  EXPECT_EQ(converter.denominator(), 100u);
  EXPECT_EQ(converter.ticksAt(converter.origin()), 0u);
}

TEST(MachTimebaseConverterDeathTest, ADenominatorBeyond32BitsAfterScalingIsFatal) {
  EXPECT_EXIT(MachTimebaseConverter(1, 42'949'673, 0), testing::KilledBySignal(SIGABRT),
              testing::HasSubstr("Assertion 'denominator_ != 0 && denominator_ <= UINT32_MAX / 100' failed"));
  EXPECT_EXIT(MachTimebaseConverter(100, 0, 0), testing::KilledBySignal(SIGABRT),
              testing::HasSubstr("Assertion 'denominator_ != 0' failed"));
}

}  // namespace
