#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "qocore/base/region/miregion.h"
#include "qocore/base/region/tests/RegionTestUtil.h"

namespace {

using region_test::boxesOf;
using region_test::expectBanded;
using region_test::Region;
using V = std::vector<BoxRec>;

BoxRec box(int x1, int y1, int x2, int y2) {
  return {static_cast<int16_t>(x1), static_cast<int16_t>(y1), static_cast<int16_t>(x2), static_cast<int16_t>(y2)};
}

// A region of several boxes, united one by one.
void unite(Region& r, const V& boxes) {
  for (const BoxRec& b : boxes) {
    Region one(b);
    ASSERT_TRUE(miUnion(r.get(), r.get(), one.get()));
  }
}

TEST(RegionTest, EmptyRectanglesGiveTheSharedEmptyRegion) {
  for (const BoxRec& b : {box(5, 5, 5, 10), box(5, 5, 10, 5), box(10, 5, 5, 10), box(5, 10, 10, 5)}) {
    Region r(b);
    EXPECT_EQ(r.get()->data, &miEmptyData);
    EXPECT_FALSE(miRegionNotEmpty(r.get()));
    EXPECT_EQ(r.get()->extents, box(0, 0, 0, 0));
  }
  Region r(box(1, 2, 3, 4));
  EXPECT_EQ(r.get()->data, nullptr);
  EXPECT_EQ(boxesOf(r.get()), V({box(1, 2, 3, 4)}));
}

// Small shapes whose banded form is known.
TEST(RegionTest, CanonicalShapes) {
  const struct {
    const char* name;
    V a, b;
    V unionBoxes, intersectBoxes, subtractBoxes;
  } cases[] = {
      {"side by side in the same rows",
       {box(0, 0, 10, 10)},
       {box(10, 0, 20, 10)},
       {box(0, 0, 20, 10)},
       {},
       {box(0, 0, 10, 10)}},
      {"stacked with the same spans",
       {box(0, 0, 10, 10)},
       {box(0, 10, 10, 20)},
       {box(0, 0, 10, 20)},
       {},
       {box(0, 0, 10, 10)}},
      {"a hole in the middle",
       {box(0, 0, 30, 30)},
       {box(10, 10, 20, 20)},
       {box(0, 0, 30, 30)},
       {box(10, 10, 20, 20)},
       {box(0, 0, 30, 10), box(0, 10, 10, 20), box(20, 10, 30, 20), box(0, 20, 30, 30)}},
      {"overlapping corners",
       {box(0, 0, 10, 10)},
       {box(5, 5, 15, 15)},
       {box(0, 0, 10, 5), box(0, 5, 15, 10), box(5, 10, 15, 15)},
       {box(5, 5, 10, 10)},
       {box(0, 0, 10, 5), box(0, 5, 5, 10)}},
      {"apart",
       {box(0, 0, 10, 10)},
       {box(20, 20, 30, 30)},
       {box(0, 0, 10, 10), box(20, 20, 30, 30)},
       {},
       {box(0, 0, 10, 10)}},
      {"a cross",
       {box(10, 0, 20, 30)},
       {box(0, 10, 30, 20)},
       {box(10, 0, 20, 10), box(0, 10, 30, 20), box(10, 20, 20, 30)},
       {box(10, 10, 20, 20)},
       {box(10, 0, 20, 10), box(10, 20, 20, 30)}},
      {"two columns minus a bar",
       {box(0, 0, 10, 30), box(20, 0, 30, 30)},
       {box(5, 10, 25, 20)},
       {box(0, 0, 10, 10), box(20, 0, 30, 10), box(0, 10, 30, 20), box(0, 20, 10, 30), box(20, 20, 30, 30)},
       {box(5, 10, 10, 20), box(20, 10, 25, 20)},
       {box(0, 0, 10, 10), box(20, 0, 30, 10), box(0, 10, 5, 20), box(25, 10, 30, 20), box(0, 20, 10, 30),
        box(20, 20, 30, 30)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Region a, b, r;
    unite(a, c.a);
    unite(b, c.b);
    ASSERT_TRUE(miUnion(r.get(), a.get(), b.get()));
    EXPECT_EQ(boxesOf(r.get()), c.unionBoxes);
    expectBanded(r.get());
    ASSERT_TRUE(miIntersect(r.get(), a.get(), b.get()));
    EXPECT_EQ(boxesOf(r.get()), c.intersectBoxes);
    expectBanded(r.get());
    ASSERT_TRUE(miSubtract(r.get(), a.get(), b.get()));
    EXPECT_EQ(boxesOf(r.get()), c.subtractBoxes);
    expectBanded(r.get());
  }
}

TEST(RegionTest, OperandWithItself) {
  Region a, r;
  unite(a, {box(0, 0, 10, 10), box(20, 5, 30, 15)});
  ASSERT_TRUE(miUnion(r.get(), a.get(), a.get()));
  EXPECT_TRUE(miRegionEqual(r.get(), a.get()));
  ASSERT_TRUE(miIntersect(r.get(), a.get(), a.get()));
  EXPECT_TRUE(miRegionEqual(r.get(), a.get()));
  ASSERT_TRUE(miSubtract(r.get(), a.get(), a.get()));
  EXPECT_EQ(r.get()->data, &miEmptyData);
}

TEST(RegionTest, CopyReusesALargeEnoughBlock) {
  Region big, small, dst;
  unite(big, {box(0, 0, 1, 1), box(2, 0, 3, 1), box(4, 0, 5, 1), box(6, 0, 7, 1)});
  unite(small, {box(0, 0, 1, 1), box(2, 0, 3, 1)});
  ASSERT_TRUE(miRegionCopy(dst.get(), big.get()));
  EXPECT_TRUE(miRegionEqual(dst.get(), big.get()));
  EXPECT_EQ(dst.get()->data->size, 4);  // exactly the needed size
  const RegDataRec* block = dst.get()->data;
  ASSERT_TRUE(miRegionCopy(dst.get(), small.get()));
  EXPECT_EQ(dst.get()->data, block);
  EXPECT_TRUE(miRegionEqual(dst.get(), small.get()));
  ASSERT_TRUE(miRegionCopy(dst.get(), dst.get()));
  EXPECT_TRUE(miRegionEqual(dst.get(), small.get()));

  // A one-box region and an empty one carry no block of their own.
  Region one(box(1, 1, 2, 2));
  ASSERT_TRUE(miRegionCopy(dst.get(), one.get()));
  EXPECT_EQ(dst.get()->data, nullptr);
  EXPECT_EQ(dst.get()->extents, box(1, 1, 2, 2));
  Region empty;
  ASSERT_TRUE(miRegionCopy(dst.get(), empty.get()));
  EXPECT_EQ(dst.get()->data, &miEmptyData);
}

TEST(RegionTest, GrowthDoublesThenAddsTwoHundredFifty) {
  const struct { ptrdiff_t numRects, size; } cases[] = {{1, 2}, {10, 20}, {500, 1000}, {501, 751}, {1000, 1250}};
  for (const auto& c : cases) {
    Region r;
    ASSERT_TRUE(miRectAlloc(r.get(), c.numRects));
    EXPECT_EQ(r.get()->data->size, c.numRects);
    r.get()->data->numRects = c.numRects;
    ASSERT_TRUE(miRectAlloc(r.get(), 1));
    EXPECT_EQ(r.get()->data->size, c.size) << c.numRects << " boxes";
    ASSERT_TRUE(miRectAlloc(r.get(), 7));
    EXPECT_EQ(r.get()->data->size, c.numRects + 7) << "more than one box: exactly that many more";
  }
  // A one-box region moves its box into the new block.
  Region one(box(1, 2, 3, 4));
  ASSERT_TRUE(miRectAlloc(one.get(), 3));
  EXPECT_EQ(one.get()->data->size, 4);
  EXPECT_EQ(one.get()->data->numRects, 1);
  EXPECT_EQ(miRegionBoxes(one.get()->data)[0], box(1, 2, 3, 4));
}

// Two tall columns cut by 300 single-box bands: the union's boxes
// outnumber the working size (twice the larger operand), so the block
// grows while the bands are appended, by 250 at a time past 500 boxes.
TEST(RegionTest, UnionGrowsItsBlockByTwoHundredFiftyPastFiveHundred) {
  Region columns, bars, r;
  unite(columns, {box(0, 0, 10, 1000), box(1000, 0, 1010, 1000)});
  V barBoxes;
  for (int i = 0; i < 300; ++i) barBoxes.push_back(box(100, 2 * i, 110, 2 * i + 1));
  unite(bars, barBoxes);
  ASSERT_EQ(miRegionNumRects(bars.get()), 300);
  ASSERT_TRUE(miUnion(r.get(), columns.get(), bars.get()));
  expectBanded(r.get());
  const ptrdiff_t n = miRegionNumRects(r.get());
  EXPECT_EQ(n, 300 * 3 + 299 * 2 + 2);
  // Starts at 600, then 850, 1100, 1350, 1600.
  EXPECT_EQ(r.get()->data->size, 1600);
}

TEST(RegionTest, SmallResultsShrinkTheirBlock) {
  Region many, r;
  V boxes;
  for (int i = 0; i < 100; ++i) boxes.push_back(box(0, 2 * i, 10, 2 * i + 1));
  unite(many, boxes);
  Region top(box(0, 0, 10, 40));
  ASSERT_TRUE(miIntersect(r.get(), many.get(), top.get()));
  EXPECT_EQ(miRegionNumRects(r.get()), 20);
  EXPECT_EQ(r.get()->data->size, 20);  // from a working size of 200
}

TEST(RegionTest, SharedBlocksAreNeverFreed) {
  // Under the address sanitizer, freeing a static block would be reported.
  Region empty;
  miRegionUninit(empty.get());
  EXPECT_EQ(empty.get()->data, &miEmptyData);
  RegionRec broken;
  miRegionInit(&broken, box(0, 0, 5, 5));
  EXPECT_FALSE(miRegionBreak(&broken));
  EXPECT_TRUE(miRegionBroken(&broken));
  EXPECT_EQ(broken.extents, box(0, 0, 0, 0));
  miRegionUninit(&broken);
  EXPECT_EQ(broken.data, &miBrokenData);
  EXPECT_EQ(miEmptyData.size, 0);
  EXPECT_EQ(miBrokenData.size, 0);
}

TEST(RegionTest, BrokenOperandsMakeBrokenResults) {
  using Op = bool (*)(RegionRec*, const RegionRec*, const RegionRec*);
  const struct {
    const char* name;
    Op op;
    bool brokenFirst;
  } cases[] = {{"union", miUnion, true},          {"union", miUnion, false},      {"intersect", miIntersect, true},
               {"intersect", miIntersect, false}, {"subtract", miSubtract, true}, {"subtract", miSubtract, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << (c.brokenFirst ? " broken a" : " broken b"));
    Region broken, other, r;
    (void)miRegionBreak(broken.get());
    unite(other, {box(0, 0, 10, 10), box(20, 0, 30, 10)});
    const RegionRec* a = c.brokenFirst ? broken.get() : other.get();
    const RegionRec* b = c.brokenFirst ? other.get() : broken.get();
    EXPECT_FALSE(c.op(r.get(), a, b));
    EXPECT_TRUE(miRegionBroken(r.get()));
  }
}

TEST(RegionTest, BlockThatCannotGrowBreaksTheRegion) {
  Region r;
  unite(r, {box(0, 0, 10, 10), box(20, 0, 30, 10)});
  ASSERT_NE(r.get()->data, nullptr);
  EXPECT_FALSE(miRectAlloc(r.get(), PTRDIFF_MAX / 8));
  EXPECT_TRUE(miRegionBroken(r.get()));
  EXPECT_EQ(r.get()->extents, box(0, 0, 0, 0));
  EXPECT_EQ(miRegionNumRects(r.get()), 0);
}

TEST(RegionDeathTest, NewBlockThatCannotBeAllocatedIsFatal) {
  Region one(box(0, 0, 1, 1));
  EXPECT_EXIT((void)miRectAlloc(one.get(), PTRDIFF_MAX), testing::KilledBySignal(SIGABRT),
              testing::HasSubstr("Assertion 'p' failed at qocore/base/region/miregion.cpp"));
}

TEST(RegionTest, SetExtents) {
  Region r;
  unite(r, {box(5, 0, 10, 2), box(0, 2, 3, 4), box(20, 2, 25, 4), box(7, 8, 9, 12)});
  r.get()->extents = box(0, 0, 0, 0);
  miSetExtents(r.get());
  EXPECT_EQ(r.get()->extents, box(0, 0, 25, 12));
  Region empty;
  miSetExtents(empty.get());
  EXPECT_EQ(empty.get()->extents, box(0, 0, 0, 0));
}

TEST(RegionTest, TranslationClipsToTheSixteenBitRange) {
  const struct {
    const char* name;
    V boxes;
    int dx, dy;
    V expected;
  } cases[] = {
      {"inside", {box(0, 0, 10, 10), box(20, 0, 30, 10)}, 5, -7, {box(5, -7, 15, 3), box(25, -7, 35, 3)}},
      {"one box clipped", {box(32000, 0, 32700, 10)}, 100, 0, {box(32100, 0, 32767, 10)}},
      {"one box wholly outside", {box(32000, 0, 32700, 10)}, 1000, 0, {}},
      {"a box dropped, the other clipped",
       {box(-32768, -10, -32700, 10), box(0, -10, 10, 10)},
       -100,
       -32760,
       {box(-100, -32768, -90, -32750)}},
      // The spans that told the two bands apart leave the range, so the
      // bands merge.
      {"bands merge once clipped",
       {box(0, 0, 10, 5), box(32700, 0, 32710, 5), box(0, 5, 10, 10)},
       100,
       0,
       {box(100, 0, 110, 10)}},
      {"huge displacement", {box(0, 0, 10, 10), box(20, 0, 30, 10)}, INT32_MIN, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Region r;
    unite(r, c.boxes);
    miTranslateRegion(r.get(), c.dx, c.dy);
    EXPECT_EQ(boxesOf(r.get()), c.expected);
    if (c.expected.size() != 1) {
      expectBanded(r.get());
    }
  }
}

TEST(RegionTest, Equality) {
  Region a, b, c;
  unite(a, {box(0, 0, 10, 10), box(20, 0, 30, 10)});
  unite(b, {box(20, 0, 30, 10), box(0, 0, 10, 10)});
  unite(c, {box(0, 0, 10, 10), box(20, 0, 31, 10)});
  EXPECT_TRUE(miRegionEqual(a.get(), b.get()));
  EXPECT_FALSE(miRegionEqual(a.get(), c.get()));
  Region one(box(0, 0, 10, 10)), same(box(0, 0, 10, 10)), empty;
  EXPECT_TRUE(miRegionEqual(one.get(), same.get()));
  EXPECT_FALSE(miRegionEqual(one.get(), empty.get()));
}

}  // namespace
