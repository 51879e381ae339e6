#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <numeric>
#include <utility>
#include <vector>

#include "qocore/base/plat/MBuf.h"

namespace {

// A byte buffer holding 0, 1, 2, ... (mod 256).
plat::Buffer counting(int n, bool secure = false) {
  plat::Buffer b(n, secure);
  std::iota(b.begin(), b.end(), static_cast<unsigned char>(0));
  return b;
}

bool holdsCounting(const plat::Buffer& b, int n) {
  for (int i = 0; i < n; ++i) {
    if (b[i] != static_cast<unsigned char>(i)) return false;
  }
  return true;
}

TEST(MBuf, ConstructionZeroesAndCopies) {
  plat::Buffer empty;
  EXPECT_EQ(empty.count(), 0);
  EXPECT_EQ(empty.data(), nullptr);

  plat::MBuf<uint32_t> words(5, true);
  EXPECT_TRUE(words.secure());
  for (uint32_t w : words) EXPECT_EQ(w, 0u);

  plat::Buffer a = counting(10);
  plat::Buffer b(a);
  EXPECT_NE(a.data(), b.data());
  EXPECT_TRUE(holdsCounting(b, 10));

  unsigned char* block = a.data();
  plat::Buffer c(std::move(a));
  EXPECT_EQ(c.data(), block);
  EXPECT_EQ(a.data(), nullptr);
  EXPECT_EQ(a.count(), 0);
}

TEST(MBuf, ResizeInPlaceKeepsOrMovesTheBlock) {
  struct Case {
    int from;
    int to;
    bool keepsBlock;
  };
  for (const Case& c : std::vector<Case>{{200, 150, true},
                                         {200, 100, true},  // exactly half
                                         {200, 90, false},
                                         {100, 10, true},  // small buffers always keep
                                         {127, 1, true},
                                         {128, 63, false},
                                         {10, 20, false}}) {
    plat::Buffer b = counting(c.from);
    const unsigned char* block = b.data();
    b.resize(c.to);
    EXPECT_EQ(b.count(), c.to) << c.from << " -> " << c.to;
    EXPECT_EQ(b.data() == block, c.keepsBlock) << c.from << " -> " << c.to;
    int kept = c.to < c.from ? c.to : c.from;
    EXPECT_TRUE(holdsCounting(b, kept)) << c.from << " -> " << c.to;
    for (int i = kept; i < c.to; ++i) EXPECT_EQ(b[i], 0) << "grown element " << i;
  }
}

TEST(MBuf, SecureShrinkZeroesTheDroppedTail) {
  for (bool secure : {false, true}) {
    plat::Buffer b = counting(64, secure);
    const unsigned char* block = b.data();
    b.resize(16);
    ASSERT_EQ(b.data(), block);
    // The block is the same allocation, so its old tail is still readable.
    bool tailZero = true;
    for (int i = 16; i < 64; ++i) tailZero = tailZero && block[i] == 0;
    EXPECT_EQ(tailZero, secure) << "secure=" << secure;
    EXPECT_TRUE(holdsCounting(b, 16));
  }
}

TEST(MBuf, ResizeFromAnotherSource) {
  plat::Buffer src = counting(8);
  plat::Buffer b(32);
  const unsigned char* block = b.data();
  b.resize(src, 4);  // count becomes max(4, 8)
  EXPECT_EQ(b.count(), 8);
  EXPECT_EQ(b.data(), block);
  EXPECT_TRUE(holdsCounting(b, 8));

  // Moving a later part of its own elements to the front (overlapping).
  plat::Buffer own = counting(10);
  own.resize(own.data() + 2, 8, 8);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(own[i], i + 2);

  plat::Buffer big = counting(300);
  big.resize(src, 0);
  EXPECT_EQ(big.count(), 8);
  EXPECT_TRUE(holdsCounting(big, 8));
}

TEST(MBuf, ResizeToNothingFreesTheBlock) {
  for (int from : {10, 300}) {
    plat::Buffer b = counting(from, true);
    b.resize(0);
    EXPECT_EQ(b.count(), 0) << from;
    EXPECT_EQ(b.data(), nullptr) << from;
  }
}

TEST(MBuf, AssignmentAndAdopt) {
  plat::Buffer a = counting(4, true);
  plat::Buffer b = counting(100);
  b = a;
  EXPECT_EQ(b.count(), 4);
  EXPECT_TRUE(b.secure());
  EXPECT_NE(b.data(), a.data());
  EXPECT_TRUE(holdsCounting(b, 4));

  b = std::move(a);
  EXPECT_EQ(a.data(), nullptr);
  EXPECT_TRUE(holdsCounting(b, 4));

  char* text = new char[4];
  std::memcpy(text, "abc", 4);
  plat::MBuf<char> adopted = plat::MBuf<char>::adopt(text, 3);
  EXPECT_EQ(adopted.data(), text);
  EXPECT_EQ(adopted.count(), 3);
}

}  // namespace
