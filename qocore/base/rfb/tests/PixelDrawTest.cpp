#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/region/miregion.h"
#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/base/rfb/PixelDraw.h"
#include "qocore/base/rfb/PixelFormat.h"

namespace {

using rfb::FullFramePixelBuffer;
using rfb::ManagedPixelBuffer;
using rfb::PixelFormat;
using rfb::Point;
using rfb::Rect;

// The region covering the boxes, built by the region library itself.
RegionRec regionOf(const std::vector<Rect>& boxes) {
  RegionRec region;
  miRegionInit(&region, BoxRec{0, 0, 0, 0});
  for (const Rect& b : boxes) {
    RegionRec box;
    miRegionInit(&box, BoxRec{static_cast<int16_t>(b.x1), static_cast<int16_t>(b.y1), static_cast<int16_t>(b.x2),
                              static_cast<int16_t>(b.y2)});
    EXPECT_TRUE(miUnion(&region, &region, &box));
  }
  return region;
}

const PixelFormat kFormats[] = {PixelFormat::rgb222(), PixelFormat::rgb565(),
                                PixelFormat(24, 24, false, true, 255, 255, 255, 16, 8, 0), PixelFormat::rgb888()};

// One character per pixel: '.' for 0, '#' for anything else.
std::vector<std::string> picture(const FullFramePixelBuffer& pb) {
  std::vector<std::string> rows;
  const Rect& r = pb.getRect();
  for (int32_t y = r.y1; y < r.y2; ++y) {
    std::string row;
    for (int32_t x = r.x1; x < r.x2; ++x) row += pb.getPixel({x, y}) ? '#' : '.';
    rows.push_back(row);
  }
  return rows;
}

// Every pixel of a buffer, row by row.
std::vector<uint32_t> pixels(const FullFramePixelBuffer& pb) {
  std::vector<uint32_t> all;
  const Rect& r = pb.getRect();
  for (int32_t y = r.y1; y < r.y2; ++y)
    for (int32_t x = r.x1; x < r.x2; ++x) all.push_back(pb.getPixel({x, y}));
  return all;
}

void randomise(FullFramePixelBuffer& pb, std::mt19937& rng) {
  const Rect& r = pb.getRect();
  for (int32_t y = r.y1; y < r.y2; ++y)
    for (int32_t x = r.x1; x < r.x2; ++x) pb.setPixel({x, y}, static_cast<uint32_t>(rng()));
}

uint32_t widthMask(const PixelFormat& pf) { return pf.bpp == 32 ? ~0u : (1u << pf.bpp) - 1; }

TEST(PixelDrawTest, FillAndXorTouchExactlyTheClippedRectangleAtEveryWidth) {
  std::mt19937 rng(7);
  for (const PixelFormat& pf : kFormats) {
    SCOPED_TRACE(int{pf.bpp});
    ManagedPixelBuffer pb(pf, Rect(-3, 2, 30, 21));
    for (int round = 0; round < 40; ++round) {
      randomise(pb, rng);
      const std::vector<uint32_t> before = pixels(pb);
      const int x1 = int(rng() % 50) - 10, y1 = int(rng() % 30) - 5;
      const Rect r(x1, y1, x1 + int(rng() % 30), y1 + int(rng() % 20));
      const uint32_t pixel = static_cast<uint32_t>(rng());
      const bool useXor = round % 2;
      if (useXor)
        rfb::xorRect(pb, r, pixel);
      else
        rfb::fillRect(pb, r, pixel);
      size_t i = 0;
      for (int32_t y = 2; y < 21; ++y) {
        for (int32_t x = -3; x < 30; ++x, ++i) {
          const bool inside = x >= r.x1 && x < r.x2 && y >= r.y1 && y < r.y2;
          const uint32_t want = !inside  ? before[i]
                                : useXor ? (before[i] ^ pixel) & widthMask(pf)
                                         : pixel & widthMask(pf);
          ASSERT_EQ(pb.getPixel({x, y}), want) << x << "," << y;
        }
      }
    }
  }
}

TEST(PixelDrawTest, RoutinesLeaveBuffersOfOtherWidthsAlone) {
  uint8_t mem[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  rfb::fillPixels(mem, 0xffffffff, 2, 5);
  rfb::fillPixels(mem, 0xffffffff, 2, 0);
  FullFramePixelBuffer odd(PixelFormat(12, 12, false, true, 15, 15, 15, 8, 4, 0), Rect(0, 0, 2, 2), nullptr, mem, 0);
  rfb::fillRect(odd, Rect(0, 0, 2, 2), 0xffffffff);
  rfb::drawLine(odd, {0, 0}, {2, 2}, 0xffffffff);
  rfb::moveRect(odd, Rect(0, 0, 2, 2), {1, 0});
  EXPECT_EQ(std::vector<uint8_t>(mem, mem + 8), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(PixelDrawTest, LinesDrawTheStartButNotTheEnd) {
  struct Case {
    Point from, to;
    std::vector<std::string> want;
  };
  const std::vector<Case> cases = {
      {{0, 0}, {3, 1}, {"##..", "..#.", "....", "...."}},
      {{3, 1}, {0, 0}, {".#..", "..##", "....", "...."}},
      {{1, 1}, {1, 1}, {"....", "....", "....", "...."}},
      {{0, 0}, {1, 3}, {"#...", "#...", ".#..", "...."}},
      {{3, 3}, {0, 0}, {"....", ".#..", "..#.", "...#"}},
      // Clipped: only the pixels inside are drawn, where they would be.
      {{-2, 1}, {6, 3}, {"....", "....", "####", "...."}},
  };
  for (const Case& c : cases) {
    ManagedPixelBuffer pb(PixelFormat::rgb222(), Rect(0, 0, 4, 4));
    rfb::fillRect(pb, pb.getRect(), 0);
    rfb::drawLine(pb, c.from, c.to, 1);
    EXPECT_EQ(picture(pb), c.want) << c.from.x << "," << c.from.y << " -> " << c.to.x << "," << c.to.y;
  }
}

TEST(PixelDrawTest, LinesWhoseEndsLieFurtherApartThan32BitsStillStep) {
  // |x2 - x1| and 2 x minor exceed 32 bits; the line is diagonal here.
  ManagedPixelBuffer pb(PixelFormat::rgb222(), Rect(-4, -4, 4, 4));
  rfb::fillRect(pb, pb.getRect(), 0);
  rfb::drawLine(pb, {-3, -3}, {INT32_MAX, INT32_MAX - 2}, 1);
  std::vector<std::string> want = {"........", ".#......", "..#.....", "...#....",
                                   "....#...", ".....#..", "......#.", ".......#"};
  EXPECT_EQ(picture(pb), want);
}

TEST(PixelDrawTest, RoundedRectanglesAndBorders) {
  ManagedPixelBuffer pb(PixelFormat::rgb222(), Rect(0, 0, 4, 3));
  rfb::fillRect(pb, pb.getRect(), 0);
  rfb::drawRoundedRect(pb, Rect(0, 0, 4, 3), 0, 1);
  EXPECT_EQ(picture(pb), (std::vector<std::string>{"####", "#..#", "####"}));

  ManagedPixelBuffer round(PixelFormat::rgb565(), Rect(0, 0, 8, 6));
  rfb::fillRect(round, round.getRect(), 0);
  rfb::drawRoundedRect(round, Rect(0, 0, 8, 6), 2, 1);
  const std::vector<std::string> r2 = {".######.", "#......#", "#......#", "#......#", "#......#", ".######."};
  EXPECT_EQ(picture(round), r2);
  // A radius above half the height is reduced to it.
  rfb::fillRect(round, round.getRect(), 0);
  rfb::drawRoundedRect(round, Rect(0, 0, 8, 6), 40, 1);
  rfb::fillRect(pb, pb.getRect(), 0);
  ManagedPixelBuffer three(PixelFormat::rgb565(), Rect(0, 0, 8, 6));
  rfb::fillRect(three, three.getRect(), 0);
  rfb::drawRoundedRect(three, Rect(0, 0, 8, 6), 3, 1);
  EXPECT_EQ(picture(round), picture(three));
  // Sticking out of the buffer: only the pixels inside.
  rfb::fillRect(round, round.getRect(), 0);
  rfb::drawRoundedRect(round, Rect(-4, -3, 4, 3), 2, 1);
  EXPECT_EQ(picture(round)[2], "###.....");

  ManagedPixelBuffer border(PixelFormat::rgb222(), Rect(0, 0, 5, 4));
  rfb::fillRect(border, border.getRect(), 0);
  rfb::drawBorder(border, Rect(0, 0, 5, 4), 1, 1);
  EXPECT_EQ(picture(border), (std::vector<std::string>{"#####", "#...#", "#...#", "#####"}));
  rfb::fillRect(border, border.getRect(), 0);
  rfb::drawBorder(border, Rect(1, 0, 4, 4), 1, 3);  // thicker than half: overlaps itself
  EXPECT_EQ(picture(border), (std::vector<std::string>{".###.", ".###.", ".###.", ".###."}));
}

TEST(PixelDrawTest, GradientsRunBothWaysAndMeasureRowsInTheWholeRectangle) {
  ManagedPixelBuffer pb(PixelFormat::rgb888(), Rect(0, 0, 2, 4));
  auto column = [&] {
    std::vector<uint32_t> c;
    for (int32_t y = 0; y < 4; ++y) c.push_back(pb.getPixel({1, y}));
    return c;
  };
  rfb::gradientRect(pb, Rect(0, 0, 2, 4), {0, 10, 255}, {255, 10, 0});
  EXPECT_EQ(column(), (std::vector<uint32_t>{0x000aff, 0x550aab, 0xaa0a56, 0xff0a01}));
  // A darker bottom: the differences are negative and the divisions
  // truncate toward zero (so three steps down end one above the bottom).
  rfb::gradientRect(pb, Rect(0, 0, 2, 4), {255, 0, 200}, {0, 0, 0});
  EXPECT_EQ(column(), (std::vector<uint32_t>{0xff00c8, 0xab0086, 0x560043, 0x010001}));
  rfb::gradientRect(pb, Rect(0, 2, 2, 3), {1, 2, 3}, {200, 200, 200});
  EXPECT_EQ(pb.getPixel({0, 2}), 0x010203u);
  rfb::gradientRect(pb, Rect(0, 1, 2, 3), {1, 2, 3}, {200, 200, 200});
  EXPECT_EQ(pb.getPixel({0, 1}), 0x010203u);
  EXPECT_EQ(pb.getPixel({0, 2}), 0xc8c8c8u);
  // Clipped: the visible rows keep the colours of the whole rectangle.
  rfb::gradientRect(pb, Rect(0, -4, 2, 4), {0, 0, 0}, {0, 0, 7});
  EXPECT_EQ(column(), (std::vector<uint32_t>{4, 5, 6, 7}));
}

TEST(PixelDrawTest, PixelFromRGBScalesClampsAndOrdersBytes) {
  ManagedPixelBuffer pb(PixelFormat::rgb888(), Rect(0, 0, 1, 1));
  EXPECT_EQ(pb.pixelFromRGB(1, 2, 3), 0x010203u);
  // A straight-alpha result above 255 stays inside its own channel.
  EXPECT_EQ(pb.pixelFromRGB(0, 382, 0), 0x00ff00u);
  EXPECT_EQ(pb.pixelFromRGB(1000, 0, 0), 0xff0000u);
  ManagedPixelBuffer p565(PixelFormat::rgb565(), Rect(0, 0, 1, 1));
  EXPECT_EQ(p565.pixelFromRGB(255, 128, 0), 31u << 11 | 32u << 5);
  EXPECT_EQ(p565.pixelFromRGB(300, 0, 300), 0xf81fu);
  PixelFormat be565 = PixelFormat::rgb565();
  be565.bigEndian = 1;
  ManagedPixelBuffer pbe(be565, Rect(0, 0, 1, 1));
  EXPECT_EQ(pbe.pixelFromRGB(255, 0, 0), 0x00f8u);
  ManagedPixelBuffer map(PixelFormat::pal8(), Rect(0, 0, 1, 1));
  EXPECT_EQ(map.pixelFromRGB(255, 255, 255), 0u);
}

TEST(PixelDrawTest, MasksSelectPixelsMostSignificantBitFirst) {
  ManagedPixelBuffer pb(PixelFormat::rgb565(), Rect(0, 0, 6, 2));
  rfb::fillRect(pb, pb.getRect(), 0);
  // Bit offset 3: column 0 reads bit 4 (0x10) of the first byte.
  const uint8_t mask[] = {0x10, 0x80, 0x08, 0x40};
  const uint16_t src[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  rfb::maskRect(pb, Rect(0, 0, 6, 2), src, mask, 0, 2, 3);
  EXPECT_EQ(pixels(pb), (std::vector<uint32_t>{1, 0, 0, 0, 0, 6, 0, 8, 0, 0, 0, 0}));
  // Clipped on the left and the top: mask and source keep their origin.
  rfb::fillRect(pb, pb.getRect(), 0);
  rfb::maskFillRect(pb, Rect(-1, -1, 5, 2), 9, mask, 1, 0);
  EXPECT_EQ(pixels(pb), (std::vector<uint32_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0}));
  rfb::fillRect(pb, pb.getRect(), 0);
  const uint8_t all[] = {0xff, 0xff};
  rfb::maskRect(pb, Rect(-2, 1, 6, 2), src, all, 0, 0, 0);
  EXPECT_EQ(pixels(pb), (std::vector<uint32_t>{0, 0, 0, 0, 0, 0, 3, 4, 5, 6, 7, 8}));
}

TEST(PixelDrawTest, RotatedCopiesTurnClockwise) {
  // Source 2 wide, 3 high: a b / c d / e f.
  const uint8_t src[] = {'a', 'b', 'c', 'd', 'e', 'f'};
  uint8_t out[6] = {};
  rfb::copyRowsRotated(src, out, {3, 2}, 1, 0, 0, 1);
  EXPECT_EQ(std::string(out, out + 6), "ecafdb");
  rfb::copyRowsRotated(src, out, {2, 3}, 1, 0, 0, 2);
  EXPECT_EQ(std::string(out, out + 6), "fedcba");
  rfb::copyRowsRotated(src, out, {3, 2}, 1, 0, 0, 3);
  EXPECT_EQ(std::string(out, out + 6), "bdface");
  rfb::copyRowsRotated(src, out, {2, 3}, 1, 0, 0, 0);
  EXPECT_EQ(std::string(out, out + 6), "abcdef");

  // Four quarter turns give the original back; strides are honoured.
  std::mt19937 rng(3);
  std::vector<uint32_t> a(5 * 7), b(7 * 8, 0), c(5 * 7);
  for (uint32_t& v : a) v = static_cast<uint32_t>(rng());
  std::vector<uint32_t> x = a;
  for (int i = 0; i < 2; ++i) {
    rfb::copyRowsRotated(x.data(), b.data(), {7, 5}, 4, 0, 8, 1);
    rfb::copyRowsRotated(b.data(), c.data(), {5, 7}, 4, 8, 0, 1);
    x = c;
  }
  EXPECT_EQ(x, a);
  std::vector<uint32_t> half(5 * 7);
  rfb::copyRowsRotated(a.data(), half.data(), {5, 7}, 4, 0, 0, 2);
  rfb::copyRowsRotated(a.data(), b.data(), {7, 5}, 4, 0, 8, 1);
  rfb::copyRowsRotated(b.data(), c.data(), {5, 7}, 4, 8, 0, 1);
  EXPECT_EQ(c, half);
}

// What moving every box at once would give: each destination pixel inside
// a box and the buffer takes the old pixel at (x - dx, y - dy) when that
// lies inside the buffer.
std::vector<uint32_t> movedAtOnce(const FullFramePixelBuffer& pb, const std::vector<Rect>& boxes, Point d) {
  std::vector<uint32_t> want = pixels(pb);
  const Rect& r = pb.getRect();
  auto index = [&](int32_t x, int32_t y) { return size_t(y - r.y1) * size_t(r.width()) + size_t(x - r.x1); };
  const std::vector<uint32_t> old = want;
  for (const Rect& b : boxes)
    for (int32_t y = std::max(b.y1, r.y1); y < std::min(b.y2, r.y2); ++y)
      for (int32_t x = std::max(b.x1, r.x1); x < std::min(b.x2, r.x2); ++x)
        if (r.encloses(Rect(x - d.x, y - d.y, x - d.x + 1, y - d.y + 1)))
          want[index(x, y)] = old[index(x - d.x, y - d.y)];
  return want;
}

TEST(PixelDrawTest, MovesWithOverlapReadEverySourcePixelBeforeOverwritingIt) {
  std::mt19937 rng(11);
  // Two bands: y 1..3 with two boxes, y 3..6 with two boxes.
  const std::vector<Rect> boxes = {Rect(1, 1, 3, 3), Rect(4, 1, 7, 3), Rect(0, 3, 2, 6), Rect(3, 3, 9, 6)};
  for (const PixelFormat& pf : kFormats) {
    for (int dy = -2; dy <= 2; ++dy) {
      for (int dx = -2; dx <= 2; ++dx) {
        SCOPED_TRACE(testing::Message() << int{pf.bpp} << " bpp, move " << dx << "," << dy);
        ManagedPixelBuffer pb(pf, Rect(0, 0, 9, 7));
        randomise(pb, rng);
        std::vector<uint32_t> want = movedAtOnce(pb, {Rect(-1, -1, 12, 12)}, {dx, dy});
        rfb::moveRect(pb, Rect(-1, -1, 12, 12), {dx, dy});
        ASSERT_EQ(pixels(pb), want);

        randomise(pb, rng);
        want = movedAtOnce(pb, boxes, {dx, dy});
        rfb::moveRegion(pb, boxes.data(), boxes.size(), {dx, dy});
        ASSERT_EQ(pixels(pb), want);

        // The same boxes as a region.
        randomise(pb, rng);
        want = movedAtOnce(pb, boxes, {dx, dy});
        RegionRec region = regionOf(boxes);
        const plat::ScopeExit release([&region] { miRegionUninit(&region); });
        ASSERT_EQ(miRegionNumRects(&region), 4);
        rfb::moveRegion(pb, region, {dx, dy});
        ASSERT_EQ(pixels(pb), want);
      }
    }
  }
  // Shifting every row down by one leaves the top row as it was.
  ManagedPixelBuffer pb(PixelFormat::rgb222(), Rect(0, 0, 2, 3));
  const uint8_t rows[] = {1, 2, 3, 4, 5, 6};
  pb.imageRect(pb.getRect(), rows);
  rfb::moveRect(pb, pb.getRect(), {0, 1});
  EXPECT_EQ(pixels(pb), (std::vector<uint32_t>{1, 2, 1, 2, 3, 4}));
}

TEST(PixelDrawTest, MovesByDisplacementsNearThe32BitLimitsMoveNothing) {
  ManagedPixelBuffer pb(PixelFormat::rgb222(), Rect(-4, -4, 4, 4));
  std::mt19937 rng(5);
  randomise(pb, rng);
  const std::vector<uint32_t> before = pixels(pb);
  for (Point d : {Point{INT32_MAX, 0}, Point{0, INT32_MIN}, Point{INT32_MIN, INT32_MAX}}) {
    rfb::moveRect(pb, pb.getRect(), d);
    EXPECT_EQ(pixels(pb), before);
  }
}

// A destination that records the rectangles written into it.
class RecordingBuffer : public ManagedPixelBuffer {
 public:
  using ManagedPixelBuffer::ManagedPixelBuffer;
  uint8_t* getPixelsRW(const Rect& r, int32_t* stride) override {
    writes.push_back(r);
    return ManagedPixelBuffer::getPixelsRW(r, stride);
  }
  std::vector<Rect> writes;
};

TEST(PixelDrawTest, RegionCopiesCutTilesLeftToRightThenTopToBottom) {
  ManagedPixelBuffer src(PixelFormat::rgb888(), Rect(0, 0, 20, 20));
  std::mt19937 rng(9);
  randomise(src, rng);
  const std::vector<Rect> boxes = {Rect(0, 0, 5, 3), Rect(1, 3, 3, 4)};
  struct Case {
    rfb::Size tile;
    std::vector<Rect> writes;
  };
  const std::vector<Case> cases = {
      {{3, 2}, {Rect(0, 0, 3, 2), Rect(3, 0, 5, 2), Rect(0, 2, 3, 3), Rect(3, 2, 5, 3), Rect(1, 3, 3, 4)}},
      // A side of 0 or less takes the whole box on that axis.
      {{0, 2}, {Rect(0, 0, 5, 2), Rect(0, 2, 5, 3), Rect(1, 3, 3, 4)}},
      {{2, -1}, {Rect(0, 0, 2, 3), Rect(2, 0, 4, 3), Rect(4, 0, 5, 3), Rect(1, 3, 3, 4)}},
  };
  for (const Case& c : cases) {
    RecordingBuffer dst(PixelFormat::rgb888(), Rect(0, 0, 6, 5));
    rfb::fillRect(dst, dst.getRect(), 0);
    dst.writes.clear();
    rfb::copyRegion(src, {7, 4}, dst, boxes.data(), boxes.size(), c.tile);
    EXPECT_EQ(dst.writes, c.writes);
    // The region of the same boxes is cut the same way.
    RegionRec region = regionOf(boxes);
    const plat::ScopeExit release([&region] { miRegionUninit(&region); });
    dst.writes.clear();
    rfb::copyRegion(src, {7, 4}, dst, region, c.tile);
    EXPECT_EQ(dst.writes, c.writes);
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 6; ++x) {
        bool in = false;
        for (const Rect& b : boxes) in |= b.encloses(Rect(x, y, x + 1, y + 1));
        EXPECT_EQ(dst.getPixel({x, y}), in ? src.getPixel({x + 7, y + 4}) : 0u) << x << "," << y;
      }
  }
}

}  // namespace
