#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "qocore/base/rdr/PseudoRandomStream.h"

namespace {

using rdr::PseudoRandomStream;

// The bytes of `windows` refills: each generator's output, little-endian.
std::string windows(uint64_t s1, uint64_t inc1, uint64_t s2, uint64_t inc2, int windows) {
  std::string out;
  for (int w = 0; w < windows; ++w) {
    for (uint32_t v : {PseudoRandomStream::step(s1, inc1), PseudoRandomStream::step(s2, inc2)}) {
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
    }
  }
  return out;
}

uint64_t bigEndian(const std::string& bytes, size_t at, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | static_cast<uint8_t>(bytes[at + i]);
  return v;
}

std::string readN(rdr::InStream& in, int n) {
  std::string out(n, '\0');
  in.readBytes(out.data(), n);
  return out;
}

TEST(PseudoRandomStream, StepMatchesTheReferenceGenerator) {
  // The reference generator's demonstration: initial state 42 and sequence
  // 54 (increment 2 * 54 + 1), set up by a step from state 0, adding the
  // initial state and a second step.
  uint64_t state = 0;
  const uint64_t increment = 54 * 2 + 1;
  PseudoRandomStream::step(state, increment);
  state += 42;
  PseudoRandomStream::step(state, increment);
  std::vector<uint32_t> outputs;
  for (int i = 0; i < 6; ++i) outputs.push_back(PseudoRandomStream::step(state, increment));
  EXPECT_EQ(outputs, (std::vector<uint32_t>{0xa15c02b7, 0x7b47f409, 0xba1d3330, 0x83d2f293, 0xbfa4784b, 0xcbed606e}));
}

TEST(PseudoRandomStream, WindowIsOneOutputOfEachGeneratorLittleEndian) {
  const uint64_t s1 = 0x853c49e6748fea9bULL, s2 = 0xda3e39cb94b95bdbULL;
  // Even increments behave as the next odd one.
  const std::string expected = windows(s1, 7, s2, 11, 3);
  PseudoRandomStream in(s1, 7, s2, 10);

  EXPECT_EQ(readN(in, 6), expected.substr(0, 6));
  EXPECT_EQ(in.pos(), 6);
  // A read that does not fit the rest of the window starts a new one; the
  // leftover bytes are dropped and not counted as consumed.
  EXPECT_EQ(in.readU32(), bigEndian(expected, 8, 4));
  EXPECT_EQ(in.pos(), 10);
  EXPECT_EQ(in.readU64(), bigEndian(expected, 16, 8));
  EXPECT_EQ(in.pos(), 18);
  EXPECT_THROW(in.rewind(), plat::Exception);
}

TEST(PseudoRandomStream, SeedSetsUpBothGenerators) {
  for (uint64_t seed : {0ULL, 42ULL, 0xFEDCBA9876543210ULL}) {
    SCOPED_TRACE(seed);
    uint64_t state[2] = {0, 0};
    const uint64_t increment[2] = {1, 3};
    for (int g = 0; g < 2; ++g) {
      PseudoRandomStream::step(state[g], increment[g]);
      state[g] += seed;
      PseudoRandomStream::step(state[g], increment[g]);
    }
    PseudoRandomStream in(seed);
    // Read a window at a time: larger requests are refused.
    std::string bytes;
    for (int w = 0; w < 3; ++w) bytes += readN(in, 8);
    EXPECT_EQ(bytes, windows(state[0], 1, state[1], 3, 3));
  }
}

TEST(PseudoRandomStream, ReadsAboveEightBytesAreRefused) {
  PseudoRandomStream in(7);
  try {
    readN(in, 9);
    ADD_FAILURE() << "no exception";
  } catch (const plat::Exception& e) {
    EXPECT_STREQ(e.str(), "InStream overrun: buffer size exceeded");
  }
  // The refused request drew nothing from the generators.
  PseudoRandomStream fresh(7);
  EXPECT_EQ(readN(in, 8), readN(fresh, 8));
}

TEST(PseudoRandomStream, ValuesBelowABound) {
  PseudoRandomStream in(2024);
  std::set<uint32_t> seen;
  for (int i = 0; i < 600; ++i) {
    uint32_t v = in.readU32Below(6);
    ASSERT_LT(v, 6u);
    seen.insert(v);
  }
  EXPECT_EQ(seen.size(), 6u);
}

}  // namespace
