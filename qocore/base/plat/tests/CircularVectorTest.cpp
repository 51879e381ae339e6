#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <vector>

#include "qocore/base/plat/CircularVector.h"

namespace {

using testing::ElementsAreArray;
using testing::HasSubstr;

template <typename T>
std::vector<T> contents(plat::CircularVector<T>& v) {
  std::vector<T> out;
  for (size_t i = 0; i < v.size(); ++i) out.push_back(v[i]);
  return out;
}

TEST(CircularVectorTest, GrowsToThePowerOfTwoAboveTheSizeAtLeastEight) {
  struct Case {
    uint64_t size;
    uint32_t capacity;
  } cases[] = {{0, 8}, {7, 8}, {8, 16}, {9, 16}, {16, 32}, {1000, 1024}, {0x10000000, 0x20000000}};
  for (const Case& c : cases) EXPECT_EQ(plat::CircularVector<int>::grownCapacity(c.size), c.capacity) << c.size;

  plat::CircularVector<int> v;
  EXPECT_EQ(v.capacity(), 0u);
  std::vector<uint32_t> seen;
  for (int i = 0; i < 17; ++i) {
    v.push_back(i);
    if (seen.empty() || seen.back() != v.capacity()) seen.push_back(v.capacity());
  }
  EXPECT_THAT(seen, ElementsAreArray({8u, 16u, 32u}));
  std::vector<int> expected;
  for (int i = 0; i < 17; ++i) expected.push_back(i);
  EXPECT_EQ(contents(v), expected);
}

TEST(CircularVectorDeathTest, CapacityBeyondTheLimitIsAnAssertion) {
  EXPECT_EXIT(plat::CircularVector<int>::grownCapacity(0x20000000), testing::KilledBySignal(SIGABRT),
              HasSubstr("Assertion '0 < newCapacity && newCapacity <= 0x3fffffffu' failed"));
}

// Elements that wrapped round the end of the slots keep their order, through
// removal from the front and middle and through growth.
TEST(CircularVectorTest, WrapAroundKeepsOrder) {
  plat::CircularVector<int> v;
  for (int i = 0; i < 8; ++i) v.push_back(i);
  for (int i = 0; i < 5; ++i) v.pop_front();
  for (int i = 8; i < 13; ++i) v.push_back(i);  // slots 0..4 now hold 8..12
  EXPECT_EQ(v.capacity(), 8u);
  EXPECT_EQ(contents(v), (std::vector<int>{5, 6, 7, 8, 9, 10, 11, 12}));
  EXPECT_EQ(v.front(), 5);
  EXPECT_EQ(v.back(), 12);

  v.erase(1);  // shifts 7..12 down across the wrap
  EXPECT_EQ(contents(v), (std::vector<int>{5, 7, 8, 9, 10, 11, 12}));
  v.erase(0);
  v.erase(v.size() - 1);
  EXPECT_EQ(contents(v), (std::vector<int>{7, 8, 9, 10, 11}));

  for (int i = 13; i < 17; ++i) v.push_back(i);  // fills up and grows while wrapped
  EXPECT_EQ(v.capacity(), 16u);
  EXPECT_EQ(contents(v), (std::vector<int>{7, 8, 9, 10, 11, 13, 14, 15, 16}));
}

// Vacated slots let go of what they held, so owning elements are released
// when removed rather than when overwritten later.
TEST(CircularVectorTest, RemovedElementsAreReleased) {
  auto held = std::make_shared<int>(1);
  plat::CircularVector<std::shared_ptr<int>> v;
  for (int i = 0; i < 4; ++i) v.push_back(held);
  EXPECT_EQ(held.use_count(), 5);
  v.pop_front();
  v.erase(1);
  v.erase(v.size() - 1);
  EXPECT_EQ(held.use_count(), 2);
  plat::CircularVector<std::shared_ptr<int>> moved(std::move(v));
  EXPECT_TRUE(v.empty());
  moved.clear();
  EXPECT_EQ(held.use_count(), 1);
}

}  // namespace
