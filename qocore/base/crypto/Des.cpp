#include "qocore/base/crypto/Des.h"

#include <array>
#include <cstring>

#include "qocore/base/plat/Strings.h"

namespace crypto {

namespace {

// The tables of FIPS 46-3.  Bit positions count from 1 at the most
// significant bit, as the standard writes them.

constexpr uint8_t kInitialPerm[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,  //
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,  //
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,  //
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7,
};

constexpr uint8_t kPermutedChoice1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,  //
    10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,  //
    63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,  //
    14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4,
};

constexpr uint8_t kPermutedChoice2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,  //
    23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,   //
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,  //
    44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32,
};

// Left rotation of C and D before each round, counted from the start.
constexpr uint8_t kTotalShift[16] = {1, 2, 4, 6, 8, 10, 12, 14, 15, 17, 19, 21, 23, 25, 27, 28};

constexpr uint8_t kPerm[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,  //
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25,
};

// Each S-box as 4 rows of 16; the row is the outer two input bits, the
// column the inner four.
constexpr uint8_t kSBox[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,  //
     0,  15, 7,  4, 14, 2,  13, 1,  10, 6,  12, 11, 9,  5,  3, 8,  //
     4,  1,  14, 8, 13, 6,  2,  11, 15, 12, 9,  7,  3,  10, 5, 0,  //
     15, 12, 8,  2, 4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6, 13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10,  //
     3,  13, 4,  7,  15, 2,  8,  14, 12, 0, 1,  10, 6,  9, 11, 5,   //
     0,  14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,  9,  3, 2,  15,  //
     13, 8,  10, 1,  3,  15, 4,  2,  11, 6, 7,  12, 0,  5, 14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,  //
     13, 7,  0,  9,  3, 4,  6,  10, 2,  8,  5,  14, 12, 11, 15, 1,  //
     13, 6,  4,  9,  8, 15, 3,  0,  11, 1,  2,  12, 5,  10, 14, 7,  //
     1,  10, 13, 0,  6, 9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8, 5,  11, 12, 4,  15,  //
     13, 8,  11, 5, 6,  15, 0,  3,  4,  7, 2, 12, 1,  10, 14, 9,   //
     10, 6,  9,  0, 12, 11, 7,  13, 15, 1, 3, 14, 5,  2,  8,  4,   //
     3,  15, 0,  6, 10, 1,  13, 8,  9,  4, 5, 11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0, 14, 9,   //
     14, 11, 2,  12, 4,  7,  13, 1,  5,  0,  15, 10, 3,  9, 8,  6,   //
     4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,  6,  3, 0,  14,  //
     11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4, 5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11,  //
     10, 15, 4,  2,  7, 12, 9,  5,  6,  1,  13, 14, 0,  11, 3,  8,   //
     9,  14, 15, 5,  2, 8,  12, 3,  7,  0,  4,  10, 1,  13, 11, 6,   //
     4,  3,  2,  12, 9, 5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0, 8,  13, 3,  12, 9, 7,  5,  10, 6, 1,  //
     13, 0,  11, 7,  4,  9, 1,  10, 14, 3,  5, 12, 2,  15, 8, 6,  //
     1,  4,  11, 13, 12, 3, 7,  14, 10, 15, 6, 8,  0,  5,  9, 2,  //
     6,  11, 13, 8,  1,  4, 10, 7,  9,  5,  0, 15, 14, 2,  3, 12},
    {13, 2,  8,  4, 6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7,  //
     1,  15, 13, 8, 10, 3,  7,  4,  12, 5,  6,  11, 0,  14, 9,  2,  //
     7,  11, 4,  1, 9,  12, 14, 2,  0,  6,  10, 13, 15, 3,  5,  8,  //
     2,  1,  14, 7, 4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11},
};

// A mistyped table entry would pass many tests by luck; these cannot.
constexpr bool rowsArePermutations() {
  for (const auto& box : kSBox) {
    for (int row = 0; row < 4; ++row) {
      unsigned seen = 0;
      for (int col = 0; col < 16; ++col) seen |= 1u << box[row * 16 + col];
      if (seen != 0xFFFF) return false;
    }
  }
  return true;
}
// Entries are distinct and within 1..max.
template <size_t N>
constexpr bool distinctWithin(const uint8_t (&table)[N], int max) {
  uint64_t seen = 0;
  for (uint8_t v : table) {
    if (v < 1 || v > max || (seen >> (v - 1) & 1)) return false;
    seen |= uint64_t(1) << (v - 1);
  }
  return true;
}
static_assert(rowsArePermutations());
static_assert(distinctWithin(kInitialPerm, 64));
static_assert(distinctWithin(kPerm, 32));
static_assert(distinctWithin(kPermutedChoice1, 64));
static_assert(distinctWithin(kPermutedChoice2, 56));

// Output bit i (from the top of `outBits`) is input bit table[i] (from the
// top of `inBits`).
constexpr uint64_t permute(uint64_t in, int inBits, const auto& table) {
  uint64_t out = 0;
  for (uint8_t pos : table) out = out << 1 | ((in >> (inBits - pos)) & 1);
  return out;
}

constexpr std::array<uint8_t, 64> invert(const uint8_t (&table)[64]) {
  std::array<uint8_t, 64> inverse{};
  for (int i = 0; i < 64; ++i) inverse[table[i] - 1] = static_cast<uint8_t>(i + 1);
  return inverse;
}
constexpr std::array<uint8_t, 64> kFinalPerm = invert(kInitialPerm);

// The S-boxes merged with P: entry v of table j is P applied to S-box j+1's
// output for the 6 input bits v, in its place among the 32 output bits.
using SpTables = std::array<std::array<uint32_t, 64>, 8>;
constexpr SpTables makeSpTables() {
  SpTables sp{};
  for (int j = 0; j < 8; ++j) {
    for (int v = 0; v < 64; ++v) {
      int row = ((v >> 4) & 2) | (v & 1);
      int col = (v >> 1) & 0xF;
      uint64_t sOut = uint64_t(kSBox[j][row * 16 + col]) << (28 - 4 * j);
      sp[j][v] = static_cast<uint32_t>(permute(sOut, 32, kPerm));
    }
  }
  return sp;
}
constexpr SpTables kSp = makeSpTables();

constexpr uint32_t rotl32(uint32_t x, int n) { return x << n | x >> (32 - n); }
constexpr uint32_t rotr32(uint32_t x, int n) { return x >> n | x << (32 - n); }
constexpr uint32_t rotl28(uint32_t x, int n) { return (x << n | x >> (28 - n)) & 0x0FFFFFFF; }

uint64_t loadBlock(const uint8_t* in) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = v << 8 | in[i];
  return v;
}

void storeBlock(uint64_t v, uint8_t* out) {
  for (int i = 7; i >= 0; --i) {
    out[i] = static_cast<uint8_t>(v);
    v >>= 8;
  }
}

}  // namespace

Des::Schedule::~Schedule() { Des::clear(*this); }

void Des::setEncryptKey(Schedule& schedule, const uint8_t key[kKeySize]) noexcept {
  clear(schedule);
  buildSchedule(key, kEncrypt, schedule);
}

void Des::setDecryptKey(Schedule& schedule, const uint8_t key[kKeySize]) noexcept {
  clear(schedule);
  buildSchedule(key, kDecrypt, schedule);
}

void Des::buildSchedule(const uint8_t key[kKeySize], int direction, Schedule& schedule) noexcept {
  // PC-1 with our bit order: key bit k is counted from the bottom of its
  // byte.
  uint32_t c = 0;
  uint32_t d = 0;
  for (int i = 0; i < 56; ++i) {
    int k = kPermutedChoice1[i] - 1;
    uint32_t bit = (key[k >> 3] >> (k & 7)) & 1;
    if (i < 28)
      c = c << 1 | bit;
    else
      d = d << 1 | bit;
  }
  for (int round = 0; round < 16; ++round) {
    int shift = kTotalShift[round];
    uint64_t cd = uint64_t(rotl28(c, shift)) << 28 | rotl28(d, shift);
    uint64_t subkey = permute(cd, 56, kPermutedChoice2);
    uint32_t group[8];
    for (int j = 0; j < 8; ++j) group[j] = static_cast<uint32_t>(subkey >> (42 - 6 * j)) & 0x3F;
    int slot = direction == kDecrypt ? 15 - round : round;
    schedule.words[2 * slot] = group[0] << 24 | group[2] << 16 | group[4] << 8 | group[6];
    schedule.words[2 * slot + 1] = group[1] << 24 | group[3] << 16 | group[5] << 8 | group[7];
    plat::secureZero(group, sizeof group);
  }
  plat::secureZero(&c, sizeof c);
  plat::secureZero(&d, sizeof d);
}

void Des::processBlock(const Schedule& schedule, const uint8_t in[kBlockSize], uint8_t out[kBlockSize]) noexcept {
  uint64_t block = permute(loadBlock(in), 64, kInitialPerm);
  uint32_t left = static_cast<uint32_t>(block >> 32);
  uint32_t right = static_cast<uint32_t>(block);
  for (int slot = 0; slot < 16; ++slot) {
    // The expansion E needs no table: rotated right by 3, the bytes of R
    // carry E's groups 1, 3, 5, 7 in their low six bits; rotated left by 1,
    // groups 2, 4, 6, 8.
    uint32_t odd = rotr32(right, 3) ^ static_cast<uint32_t>(schedule.words[2 * slot]);
    uint32_t even = rotl32(right, 1) ^ static_cast<uint32_t>(schedule.words[2 * slot + 1]);
    uint32_t f = kSp[0][odd >> 24 & 0x3F] | kSp[2][odd >> 16 & 0x3F] | kSp[4][odd >> 8 & 0x3F] | kSp[6][odd & 0x3F] |
                 kSp[1][even >> 24 & 0x3F] | kSp[3][even >> 16 & 0x3F] | kSp[5][even >> 8 & 0x3F] | kSp[7][even & 0x3F];
    uint32_t next = left ^ f;
    left = right;
    right = next;
  }
  // The last round's halves are not swapped back.
  uint64_t preOutput = uint64_t(right) << 32 | left;
  storeBlock(permute(preOutput, 64, kFinalPerm), out);
}

void Des::saveSchedule(const Schedule& schedule, uint8_t copy[kScheduleSize]) noexcept {
  std::memcpy(copy, schedule.words, kScheduleSize);
}

void Des::loadSchedule(Schedule& schedule, const uint8_t copy[kScheduleSize]) noexcept {
  std::memcpy(schedule.words, copy, kScheduleSize);
}

void Des::clear(Schedule& schedule) noexcept { plat::secureZero(schedule.words, kScheduleSize); }

}  // namespace crypto
