// Region arithmetic against pixman's 16-bit regions as a differential
// oracle: both keep the same canonical banded form, so every result must
// have the same boxes, band by band.

#include <gtest/gtest.h>
#include <pixman.h>

#include <cstdint>
#include <random>
#include <vector>

#include "qocore/base/region/miregion.h"
#include "qocore/base/region/tests/RegionTestUtil.h"

namespace {

using region_test::boxesOf;
using region_test::expectBanded;
using region_test::expectSameBands;
using region_test::Region;

// A pixman region, released on scope exit.
class PixRegion {
 public:
  PixRegion() { pixman_region_init(&r_); }
  ~PixRegion() { pixman_region_fini(&r_); }
  PixRegion(const PixRegion&) = delete;
  PixRegion& operator=(const PixRegion&) = delete;
  pixman_region16_t* get() { return &r_; }

  std::vector<BoxRec> boxes() {
    int n = 0;
    const pixman_box16_t* p = pixman_region_rectangles(&r_, &n);
    std::vector<BoxRec> out;
    for (int i = 0; i < n; ++i) out.push_back({p[i].x1, p[i].y1, p[i].x2, p[i].y2});
    return out;
  }

 private:
  pixman_region16_t r_;
};

// Both sides of one random region, built rectangle by rectangle.
struct RegionPair {
  Region ours;
  PixRegion ref;
};

BoxRec randomBox(std::mt19937& rng, int lo, int hi, int maxSide) {
  std::uniform_int_distribution<int> pos(lo, hi);
  std::uniform_int_distribution<int> side(1, maxSide);
  const int x = pos(rng);
  const int y = pos(rng);
  return {static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<int16_t>(x + side(rng)),
          static_cast<int16_t>(y + side(rng))};
}

void addBox(RegionPair& pair, const BoxRec& box) {
  Region one(box);
  ASSERT_TRUE(miUnion(pair.ours.get(), pair.ours.get(), one.get()));
  pixman_region_union_rect(pair.ref.get(), pair.ref.get(), box.x1, box.y1, box.x2 - box.x1, box.y2 - box.y1);
}

void expectSame(const RegionRec* ours, PixRegion& ref) {
  expectBanded(ours);
  expectSameBands(boxesOf(ours), ref.boxes());
  const pixman_box16_t* e = pixman_region_extents(ref.get());
  if (miRegionNotEmpty(ours)) {
    EXPECT_EQ(ours->extents.x1, e->x1);
    EXPECT_EQ(ours->extents.y1, e->y1);
    EXPECT_EQ(ours->extents.x2, e->x2);
    EXPECT_EQ(ours->extents.y2, e->y2);
  }
}

// Shapes of random region: where the rectangles lie and how large they are.
struct Shape {
  const char* name;
  int lo, hi, maxSide, count;
};

// clang-format off
const Shape kShapes[] = {
  {"dense", 0, 60, 20, 12},
  {"sparse", -500, 500, 40, 30},
  {"thin", 0, 200, 3, 60},
  {"large", -100, 100, 150, 8},
  {"at the 16-bit edges", 32700, 32740, 27, 10},
  {"many", 0, 1000, 30, 300},
};
// clang-format on

TEST(RegionOracleTest, RandomSetsUnitedIntersectedAndSubtracted) {
  for (const Shape& shape : kShapes) {
    for (uint32_t seed = 1; seed <= 40; ++seed) {
      SCOPED_TRACE(testing::Message() << shape.name << " seed " << seed);
      std::mt19937 rng(seed);
      RegionPair a, b;
      std::uniform_int_distribution<int> count(1, shape.count);
      for (int i = count(rng); i > 0; --i) {
        addBox(a, randomBox(rng, shape.lo, shape.hi, shape.maxSide));
        expectSame(a.ours.get(), a.ref);
      }
      for (int i = count(rng); i > 0; --i) addBox(b, randomBox(rng, shape.lo, shape.hi, shape.maxSide));
      expectSame(b.ours.get(), b.ref);

      Region ours;
      PixRegion ref;
      ASSERT_TRUE(miUnion(ours.get(), a.ours.get(), b.ours.get()));
      pixman_region_union(ref.get(), a.ref.get(), b.ref.get());
      expectSame(ours.get(), ref);

      ASSERT_TRUE(miIntersect(ours.get(), a.ours.get(), b.ours.get()));
      pixman_region_intersect(ref.get(), a.ref.get(), b.ref.get());
      expectSame(ours.get(), ref);

      ASSERT_TRUE(miSubtract(ours.get(), a.ours.get(), b.ours.get()));
      pixman_region_subtract(ref.get(), a.ref.get(), b.ref.get());
      expectSame(ours.get(), ref);

      ASSERT_TRUE(miSubtract(ours.get(), b.ours.get(), a.ours.get()));
      pixman_region_subtract(ref.get(), b.ref.get(), a.ref.get());
      expectSame(ours.get(), ref);
    }
  }
}

// The result record may be either operand.
TEST(RegionOracleTest, ResultInPlaceOfAnOperand) {
  using Op = bool (*)(RegionRec*, const RegionRec*, const RegionRec*);
  using RefOp = pixman_bool_t (*)(pixman_region16_t*, const pixman_region16_t*, const pixman_region16_t*);
  const struct {
    const char* name;
    Op op;
    RefOp ref;
  } ops[] = {{"union", miUnion, pixman_region_union},
             {"intersect", miIntersect, pixman_region_intersect},
             {"subtract", miSubtract, pixman_region_subtract}};
  for (const auto& op : ops) {
    for (bool intoFirst : {true, false}) {
      for (uint32_t seed = 1; seed <= 30; ++seed) {
        SCOPED_TRACE(testing::Message() << op.name << (intoFirst ? " into a" : " into b") << " seed " << seed);
        std::mt19937 rng(seed);
        RegionPair a, b;
        for (int i = 0; i < 15; ++i) addBox(a, randomBox(rng, 0, 100, 30));
        for (int i = 0; i < 15; ++i) addBox(b, randomBox(rng, 0, 100, 30));
        PixRegion expected;
        op.ref(expected.get(), a.ref.get(), b.ref.get());
        RegionRec* into = intoFirst ? a.ours.get() : b.ours.get();
        ASSERT_TRUE(op.op(into, a.ours.get(), b.ours.get()));
        expectSame(into, expected);
      }
    }
  }
}

TEST(RegionOracleTest, RectangleAndPointQueries) {
  for (uint32_t seed = 1; seed <= 30; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    RegionPair r;
    for (int i = 0; i < 20; ++i) addBox(r, randomBox(rng, 0, 100, 25));
    for (int i = 0; i < 200; ++i) {
      const BoxRec box = randomBox(rng, -10, 120, 30);
      const pixman_box16_t pbox = {box.x1, box.y1, box.x2, box.y2};
      const int expected = pixman_region_contains_rectangle(r.ref.get(), &pbox);
      const int want = expected == PIXMAN_REGION_OUT ? kRectOut : expected == PIXMAN_REGION_IN ? kRectIn : kRectPart;
      EXPECT_EQ(miRectIn(r.ours.get(), box), want)
          << "box " << box.x1 << "," << box.y1 << " " << box.x2 << "," << box.y2;

      std::uniform_int_distribution<int> coord(-5, 130);
      const int x = coord(rng), y = coord(rng);
      pixman_box16_t refHit;
      BoxRec hit;
      const bool in = pixman_region_contains_point(r.ref.get(), x, y, &refHit);
      ASSERT_EQ(miPointInRegion(r.ours.get(), x, y, &hit), in) << "point " << x << "," << y;
      if (in) {
        EXPECT_EQ(hit.x1, refHit.x1);
        EXPECT_EQ(hit.y1, refHit.y1);
        EXPECT_EQ(hit.x2, refHit.x2);
        EXPECT_EQ(hit.y2, refHit.y2);
      }
    }
  }
}

TEST(RegionOracleTest, TranslationInsideTheRange) {
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    RegionPair r;
    for (int i = 0; i < 20; ++i) addBox(r, randomBox(rng, -1000, 1000, 200));
    std::uniform_int_distribution<int> d(-20000, 20000);
    const int dx = d(rng), dy = d(rng);
    miTranslateRegion(r.ours.get(), dx, dy);
    pixman_region_translate(r.ref.get(), dx, dy);
    expectSame(r.ours.get(), r.ref);
  }
}

}  // namespace
