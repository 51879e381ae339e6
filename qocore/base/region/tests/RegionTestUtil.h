#pragma once
// Helpers of the region tests: an owning region, its box list, and checks
// of the banded form.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <ostream>
#include <vector>

#include "qocore/base/region/miregion.h"

// Beside BoxRec, so that gtest finds them.
inline bool operator==(const BoxRec& a, const BoxRec& b) {
  return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2;
}

inline std::ostream& operator<<(std::ostream& os, const BoxRec& b) {
  return os << "(" << b.x1 << "," << b.y1 << " " << b.x2 << "," << b.y2 << ")";
}

namespace region_test {

// A region record released on scope exit; starts empty or as one box.
class Region {
 public:
  Region() { miRegionInit(&r_, BoxRec{0, 0, 0, 0}); }
  explicit Region(const BoxRec& box) { miRegionInit(&r_, box); }
  ~Region() { miRegionUninit(&r_); }
  Region(const Region&) = delete;
  Region& operator=(const Region&) = delete;
  RegionRec* get() { return &r_; }
  const RegionRec* get() const { return &r_; }

 private:
  RegionRec r_;
};

inline std::vector<BoxRec> boxesOf(const RegionRec* region) {
  const BoxRec* p = miRegionRects(region);
  return std::vector<BoxRec>(p, p + miRegionNumRects(region));
}

inline std::vector<std::vector<BoxRec>> bandsOf(const std::vector<BoxRec>& boxes) {
  std::vector<std::vector<BoxRec>> bands;
  for (size_t i = 0; i < boxes.size(); ++i) {
    if (i == 0 || boxes[i].y1 != boxes[i - 1].y1) bands.emplace_back();
    bands.back().push_back(boxes[i]);
  }
  return bands;
}

// Same bands, compared one by one so that a failure names the first band
// that differs.
inline void expectSameBands(const std::vector<BoxRec>& ours, const std::vector<BoxRec>& expected) {
  const auto a = bandsOf(ours);
  const auto b = bandsOf(expected);
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    ASSERT_EQ(a[i], b[i]) << "band " << i;
  }
  ASSERT_EQ(a.size(), b.size()) << "number of bands";
}

// The invariants every region built by the operations keeps.
inline void expectBanded(const RegionRec* region) {
  const std::vector<BoxRec> boxes = boxesOf(region);
  if (boxes.empty()) {
    EXPECT_TRUE(region->data == &miEmptyData) << "an empty region shares the empty block";
    return;
  }
  if (boxes.size() == 1) {
    EXPECT_EQ(region->data, nullptr) << "one box needs no block";
  }
  BoxRec extents = boxes[0];
  const auto bands = bandsOf(boxes);
  for (size_t i = 0; i < bands.size(); ++i) {
    const auto& band = bands[i];
    for (size_t j = 0; j < band.size(); ++j) {
      const BoxRec& b = band[j];
      ASSERT_LT(b.x1, b.x2) << b;
      ASSERT_LT(b.y1, b.y2) << b;
      ASSERT_EQ(b.y2, band[0].y2) << "band " << i << " box " << j;
      if (j > 0) {
        ASSERT_GT(b.x1, band[j - 1].x2) << "band " << i << " box " << j << " touches or overlaps";
      }
      extents = {std::min(extents.x1, b.x1), std::min(extents.y1, b.y1), std::max(extents.x2, b.x2),
                 std::max(extents.y2, b.y2)};
    }
    if (i == 0) continue;
    const auto& above = bands[i - 1];
    ASSERT_GE(band[0].y1, above[0].y2) << "band " << i << " overlaps the band above";
    if (band[0].y1 == above[0].y2 && band.size() == above.size()) {
      bool sameSpans = true;
      for (size_t j = 0; j < band.size(); ++j) {
        sameSpans = sameSpans && band[j].x1 == above[j].x1 && band[j].x2 == above[j].x2;
      }
      ASSERT_FALSE(sameSpans) << "band " << i << " should have been coalesced with the band above";
    }
  }
  EXPECT_EQ(region->extents, extents);
}

}  // namespace region_test
