#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <vector>

#include "qocore/base/plat/SmallVector.h"

namespace plat {
namespace {

using testing::HasSubstr;

template <typename T, int N>
std::vector<T> contents(const SmallVector<T, N>& v) {
  return std::vector<T>(v.begin(), v.end());
}

TEST(SmallVector, StaysInlineUntilFullThenGrows) {
  SmallVector<int, 4> v;
  for (int i = 0; i < 4; ++i) v.push_back(i);
  EXPECT_TRUE(v.isSmall());
  EXPECT_EQ(v.capacity(), 4);
  // At least 16, even though twice the old capacity is 8.
  v.push_back(4);
  EXPECT_FALSE(v.isSmall());
  EXPECT_EQ(v.capacity(), 16);
  EXPECT_EQ(contents(v), (std::vector<int>{0, 1, 2, 3, 4}));
  // Twice the old capacity, or what is asked when that is more.
  v.resize(17);
  EXPECT_EQ(v.capacity(), 32);
  v.reserve(100);
  EXPECT_EQ(v.capacity(), 100);
  EXPECT_EQ(v.size(), 17);
  EXPECT_EQ(v[4], 4);
  // Shrinking keeps the heap storage.
  v.clear();
  EXPECT_FALSE(v.isSmall());
  EXPECT_EQ(v.capacity(), 100);
}

TEST(SmallVector, PushingAnElementOfItselfWhileGrowing) {
  SmallVector<int, 2> v;
  v.push_back(7);
  v.push_back(8);
  v.push_back(v[0]);  // the source lies in the storage being replaced
  EXPECT_EQ(contents(v), (std::vector<int>{7, 8, 7}));
}

TEST(SmallVector, SwapsInlineElementsOrHeapStorage) {
  SmallVector<int, 8> a, b;
  for (int i = 0; i < 5; ++i) a.push_back(i);
  b.push_back(42);
  a.swap(b);
  EXPECT_EQ(contents(a), std::vector<int>{42});
  EXPECT_EQ(contents(b), (std::vector<int>{0, 1, 2, 3, 4}));
  a.swap(b);  // the larger one on the other side
  EXPECT_EQ(contents(a), (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(contents(b), std::vector<int>{42});

  SmallVector<int, 8> c, d;
  c.reserve(20);
  d.reserve(40);
  c.push_back(1);
  d.push_back(2);
  d.push_back(3);
  const int* cData = c.data();
  c.swap(d);
  EXPECT_EQ(d.data(), cData);
  EXPECT_EQ(c.capacity(), 40);
  EXPECT_EQ(contents(c), (std::vector<int>{2, 3}));
  EXPECT_EQ(contents(d), std::vector<int>{1});
}

// Swapping an inline vector with a heap one would have to move one side's
// elements and the other's storage at once.
void swapInlineWithHeap() {
  SmallVector<int, 2> small, heap;
  heap.reserve(3);
  small.swap(heap);
}

TEST(SmallVectorDeathTest, SwapOfInlineWithHeapIsRefused) {
  EXPECT_EXIT(swapInlineWithHeap(), testing::KilledBySignal(SIGABRT),
              HasSubstr("Assertion 'isSmall == other.isSmall' failed"));
}

}  // namespace
}  // namespace plat
