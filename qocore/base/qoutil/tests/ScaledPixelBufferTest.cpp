#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "qocore/base/qoutil/ImageScaler.h"
#include "qocore/base/qoutil/PngFile.h"
#include "qocore/base/qoutil/ScaledPixelBuffer.h"
#include "qocore/base/qoutil/tests/PngWriter.h"
#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/base/rfb/PixelDraw.h"
#include "qocore/base/rfb/PixelFormat.h"
#include "qocore/base/rfb/PixelTrans.h"

namespace {

using qoutil::ScaledPixelBuffer;
using rfb::ManagedPixelBuffer;
using rfb::PixelFormat;
using rfb::Rect;

void fill(ManagedPixelBuffer& pb, uint32_t seed) {
  std::mt19937 rng(seed);
  const Rect& r = pb.getRect();
  for (int32_t y = r.y1; y < r.y2; ++y)
    for (int32_t x = r.x1; x < r.x2; ++x) pb.setPixel({x, y}, uint32_t(rng()) & 0xFFFFFF);
}

// The whole of src scaled to w x h in dstPf by a scaler of its own.
std::unique_ptr<ManagedPixelBuffer> scaledCopy(const rfb::PixelBuffer& src, const PixelFormat& dstPf, int32_t w,
                                               int32_t h) {
  auto out = std::make_unique<ManagedPixelBuffer>(dstPf, Rect(0, 0, w, h));
  qoutil::Scaler s;
  s.dstPf = dstPf;
  s.coords_.dstSz = {w, h};
  s.setSource(&src, false);
  int32_t stride = 0;
  s.getImage(out->getPixelsRW(out->getRect(), &stride), out->getRect(), stride);
  return out;
}

uint32_t pixelAt(const rfb::PixelBuffer& pb, int32_t x, int32_t y) {
  int32_t stride = 0;
  const uint8_t* p = pb.getPixelsR(Rect(x, y, x + 1, y + 1), &stride);
  uint32_t v = 0;
  std::memcpy(&v, p, pb.getPf().bpp / 8);
  return v;
}

// A source that records the regions it is told about, as a buffer with
// derived pixels of its own would act on them.
class RecordingBuffer : public ManagedPixelBuffer {
 public:
  using ManagedPixelBuffer::ManagedPixelBuffer;
  void regionChanged(const RegionRec& region) override {
    changed.push_back(miRegionNotEmpty(&region)
                          ? Rect(region.extents.x1, region.extents.y1, region.extents.x2, region.extents.y2)
                          : Rect());
  }
  std::vector<Rect> changed;
};

TEST(ScaledPixelBufferTest, PassThroughAndCache) {
  ManagedPixelBuffer src(PixelFormat::rgb888(), Rect(5, 6, 15, 12));
  fill(src, 1);

  // Size 0x0: the source at its own size, its own pixels, no cache.
  ScaledPixelBuffer same(&src, {0, 0}, true);
  EXPECT_TRUE(same.isPassThrough());
  EXPECT_EQ(same.getRect(), Rect(0, 0, 10, 6));
  int32_t stride = 0, srcStride = 0;
  EXPECT_EQ(same.getPixelsR(Rect(2, 1, 4, 3), &stride), src.getPixelsR(Rect(7, 7, 9, 9), &srcStride));
  EXPECT_EQ(stride, srcStride);

  // Another format at the same size is cached, with translated pixels.
  same.setFormat(PixelFormat::rgb565(), nullptr);
  EXPECT_FALSE(same.isPassThrough());
  same.bufferChanged();
  for (int32_t y = 0; y < 6; ++y) {
    for (int32_t x = 0; x < 10; ++x) {
      const uint32_t s = src.getPixel({x + 5, y + 6});
      const rfb::Colour c = rfb::decodePixel(PixelFormat::rgb888(), s, nullptr);
      EXPECT_EQ(pixelAt(same, x, y), rfb::encodePixel(PixelFormat::rgb565(), c, nullptr)) << x << "," << y;
    }
  }

  // A scaled size is cached and equals the scaler's image.
  ScaledPixelBuffer half(&src, {5, 3}, true);
  EXPECT_FALSE(half.isPassThrough());
  const auto want = scaledCopy(src, PixelFormat::rgb888(), 5, 3);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(pixelAt(half, x, y), want->getPixel({x, y}));
}

// One changed pixel of a 2:1 view refreshes the source pixels under it and
// rescales exactly the cache pixel that covers them.
TEST(ScaledPixelBufferTest, RegionChangesRefreshOnlyWhatTheyCover) {
  RecordingBuffer src(PixelFormat::rgb888(), Rect(100, 200, 108, 206));
  fill(src, 2);
  ScaledPixelBuffer view(&src, {4, 3}, true);
  ASSERT_EQ(src.changed, std::vector<Rect>{Rect(100, 200, 108, 206)});
  const auto before = scaledCopy(src, PixelFormat::rgb888(), 4, 3);

  fill(src, 3);  // every source pixel changes; only one region is told
  src.changed.clear();
  view.rectChanged(Rect(2, 1, 3, 2));
  EXPECT_EQ(src.changed, std::vector<Rect>{Rect(104, 202, 106, 204)});
  const auto after = scaledCopy(src, PixelFormat::rgb888(), 4, 3);
  for (int32_t y = 0; y < 3; ++y) {
    for (int32_t x = 0; x < 4; ++x) {
      const bool covered = x == 2 && y == 1;
      EXPECT_EQ(pixelAt(view, x, y), (covered ? after : before)->getPixel({x, y})) << x << "," << y;
    }
  }

  // Regions outside the view, or reaching past it, refresh only what lies
  // inside; an empty region does nothing.
  src.changed.clear();
  view.rectChanged(Rect(3, 2, 40, 40));
  EXPECT_EQ(pixelAt(view, 3, 2), after->getPixel({3, 2}));
  EXPECT_EQ(src.changed, std::vector<Rect>{Rect(106, 204, 108, 206)});
  view.rectChanged(Rect(-10, -10, -5, -5));
  view.rectChanged(Rect(2, 2, 2, 3));
  EXPECT_EQ(src.changed.size(), 1u);
}

// A chain of views refreshes from the bottom up.
TEST(ScaledPixelBufferTest, ChainsRefreshBottomUp) {
  ManagedPixelBuffer src(PixelFormat::rgb888(), Rect(0, 0, 12, 12));
  fill(src, 4);
  ScaledPixelBuffer middle(&src, {6, 6}, true);
  ScaledPixelBuffer top(&middle, {3, 3}, true);
  fill(src, 5);
  top.bufferChanged();
  const auto mid = scaledCopy(src, PixelFormat::rgb888(), 6, 6);
  const auto want = scaledCopy(*mid, PixelFormat::rgb888(), 3, 3);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(pixelAt(top, x, y), want->getPixel({x, y}));
}

// A source with a vertical ramp of colours: its borders (rows and columns
// near the edge) differ from its centre.
std::unique_ptr<ManagedPixelBuffer> framed(int32_t w, int32_t h) {
  auto pb = std::make_unique<ManagedPixelBuffer>(PixelFormat::argb8888(), Rect(0, 0, w, h));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) pb->setPixel({x, y}, 0xFF000000u | uint32_t(x * 16) << 16 | uint32_t(y * 16) << 8);
  return pb;
}

TEST(ScaledPixelBufferTest, BorderedDrawing) {
  const auto src = framed(8, 6);

  // Into a rectangle of the source's own size: the source again.
  ManagedPixelBuffer same(PixelFormat::argb8888(), Rect(0, 0, 20, 20));
  qoutil::scalePixels(2, 1, 3, 2, *src, same, Rect(4, 5, 12, 11), rfb::opCopy);
  for (int32_t y = 0; y < 6; ++y)
    for (int32_t x = 0; x < 8; ++x) EXPECT_EQ(same.getPixel({x + 4, y + 5}), src->getPixel({x, y}));

  // Zero borders: a plain scale of the whole source.
  ManagedPixelBuffer plain(PixelFormat::argb8888(), Rect(0, 0, 13, 9));
  qoutil::scalePixels(0, 0, 0, 0, *src, plain, plain.getRect(), rfb::opCopy);
  const auto want = scaledCopy(*src, PixelFormat::argb8888(), 13, 9);
  for (int32_t y = 0; y < 9; ++y)
    for (int32_t x = 0; x < 13; ++x) EXPECT_EQ(plain.getPixel({x, y}), want->getPixel({x, y}));

  // Fixed borders into a larger rectangle: corners at their own size,
  // edges stretched along their length only.
  ManagedPixelBuffer big(PixelFormat::argb8888(), Rect(0, 0, 30, 20));
  qoutil::scalePixels(2, 1, 3, 2, *src, big, big.getRect(), rfb::opCopy);
  for (int32_t y = 0; y < 1; ++y)
    for (int32_t x = 0; x < 2; ++x) EXPECT_EQ(big.getPixel({x, y}), src->getPixel({x, y}));  // top-left
  for (int32_t y = 18; y < 20; ++y)
    for (int32_t x = 27; x < 30; ++x) EXPECT_EQ(big.getPixel({x, y}), src->getPixel({x - 22, y - 14}));  // bottom-right
  // The left edge keeps its columns and stretches its rows.
  const auto leftEdge = scaledCopy(rfb::SubPixelBuffer(*src, Rect(0, 1, 2, 4), true), PixelFormat::argb8888(), 2, 17);
  for (int32_t y = 1; y < 18; ++y)
    for (int32_t x = 0; x < 2; ++x) EXPECT_EQ(big.getPixel({x, y}), leftEdge->getPixel({x, y - 1}));
}

// A source narrower than its borders, and a destination smaller than
// them, draw what fits and nothing else: the inner parts have no pixels.
TEST(ScaledPixelBufferTest, BordersLargerThanTheImage) {
  const auto src = framed(4, 4);
  ManagedPixelBuffer dst(PixelFormat::argb8888(), Rect(0, 0, 20, 20));
  rfb::fillRect(dst, dst.getRect(), 0);  // new memory is not cleared
  qoutil::scalePixels(3, 3, 3, 3, *src, dst, Rect(0, 0, 20, 20), rfb::opCopy);
  EXPECT_EQ(dst.getPixel({0, 0}), src->getPixel({0, 0}));
  EXPECT_EQ(dst.getPixel({10, 10}), 0u);  // no centre to stretch
  qoutil::scalePixels(3, 3, 3, 3, *src, dst, Rect(0, 0, 2, 2), rfb::opCopy);
  qoutil::scaleRect(*src, Rect(2, 2, 1, 1), dst, Rect(0, 0, 5, 5), rfb::opCopy);
  qoutil::scaleRect(*src, Rect(10, 10, 12, 12), dst, Rect(0, 0, 5, 5), rfb::opCopy);
  ManagedPixelBuffer empty(PixelFormat::argb8888(), Rect());
  qoutil::scalePixels(1, 1, 1, 1, empty, dst, Rect(0, 0, 5, 5), rfb::opCopy);
}

TEST(ScaledPixelBufferTest, ScaledImageLoader) {
  qoutil_test::TestPng t;
  t.width = 12;
  t.height = 8;
  t.colourType = PNG_COLOR_TYPE_RGB;
  const std::vector<uint8_t> bytes = qoutil_test::encodePng(t);
  qoutil::PngFile file(uint32_t(bytes.size()), bytes.data(), false, "s");
  ManagedPixelBuffer decoded(&file);
  qoutil::PngFile again(uint32_t(bytes.size()), bytes.data(), false, "s");

  // At (2, 3) in a larger buffer: the scaled image there, the rest kept.
  qoutil::ScaledImageLoader loader(&again, {5, 3});
  EXPECT_EQ(loader.getSize(), (rfb::Size{5, 3}));
  ManagedPixelBuffer dst(*loader.getPf(), Rect(0, 0, 9, 8));
  rfb::fillRect(dst, dst.getRect(), 0);  // new memory is not cleared
  loader.load(&dst, {2, 3});
  const auto want = scaledCopy(decoded, *file.getPf(), 5, 3);
  for (int32_t y = 0; y < 8; ++y) {
    for (int32_t x = 0; x < 9; ++x) {
      const bool inside = x >= 2 && x < 7 && y >= 3 && y < 6;
      EXPECT_EQ(dst.getPixel({x, y}), inside ? want->getPixel({x - 2, y - 3}) : 0u) << x << "," << y;
    }
  }

  // At its own size the inner loader loads straight.
  qoutil::PngFile third(uint32_t(bytes.size()), bytes.data(), false, "s");
  qoutil::ScaledImageLoader same(&third, {12, 8});
  ManagedPixelBuffer whole(&same);
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 12; ++x) EXPECT_EQ(whole.getPixel({x, y}), decoded.getPixel({x, y}));
}

}  // namespace
