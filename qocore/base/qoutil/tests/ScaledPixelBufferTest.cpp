#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
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

// A source whose every pixel differs from its neighbours.
std::unique_ptr<ManagedPixelBuffer> numbered(int32_t w, int32_t h) {
  auto pb = std::make_unique<ManagedPixelBuffer>(PixelFormat::argb8888(), Rect(0, 0, w, h));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) pb->setPixel({x, y}, 0xFF000000u | uint32_t(x) << 8 | uint32_t(y));
  return pb;
}

// The source column (or row) under destination column x of a bordered
// drawing across [d1, d2) of a source [0, s): borders at their own size,
// the middle stretched.  With a power-of-two stretch every destination
// pixel lies inside one source pixel, whose value it takes exactly.
int32_t sourceOf(int64_t x, int64_t d1, int64_t d2, int32_t lo, int32_t hi, int32_t s) {
  const int64_t i1 = d1 + lo, i2 = d2 - hi;
  if (x < i1) return static_cast<int32_t>(x - d1);
  if (x >= i2) return static_cast<int32_t>(s - (d2 - x));
  return static_cast<int32_t>(lo + (x - i1) * (s - lo - hi) / (i2 - i1));
}

// Rectangles many times wider and taller than the 16-bit range drawn into
// a 64x48 buffer: each part keeps the scale of its whole rectangle, and
// only the pixels that show are computed, with working memory to match.
TEST(ScaledPixelBufferTest, HugeRectanglesDrawWhatShowsAtTheirWholeScale) {
  struct Case {
    const char* name;
    int32_t srcW, srcH, l, t, r, b;
    Rect d;
  };
  // clang-format off
  const Case cases[] = {
      // Middles stretched 16384 times: the top-left corner, both edges
      // and the centre show.
      {"top-left", 8, 6, 2, 1, 2, 1, Rect(10, 5, 10 + 2 + 4 * 16384 + 2, 5 + 1 + 4 * 16384 + 1)},
      {"bottom-right", 8, 6, 2, 1, 2, 1, Rect(60 - (2 + 4 * 16384 + 2), 40 - (1 + 4 * 16384 + 1), 60, 40)},
      // Stretched 16 times across: many source columns meet in view,
      // far from the rectangle's origin.
      {"inner columns", 2052, 6, 2, 1, 2, 1, Rect(-20003, -30000, -20003 + 2 + 2048 * 16 + 2, -30000 + 1 + 4 * 16384 + 1)},
      // No borders: a plain scale.
      {"plain", 8, 4, 0, 0, 0, 0, Rect(30 - 3 * 16384, 20 - 16384, 30 + 5 * 16384, 20 + 3 * 16384)},
  };
  // clang-format on
  const Rect everything(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
  auto drawAll = [&](std::vector<std::unique_ptr<ManagedPixelBuffer>>& out) {
    for (const Case& c : cases) {
      const auto src = numbered(c.srcW, c.srcH);
      out.push_back(std::make_unique<ManagedPixelBuffer>(PixelFormat::argb8888(), Rect(0, 0, 64, 48)));
      rfb::fillRect(*out.back(), out.back()->getRect(), 0);
      qoutil::scalePixels(c.l, c.t, c.r, c.b, *src, *out.back(), c.d, rfb::opCopy);
    }
    // Across the whole coordinate range, and into another format.
    const auto src = numbered(9, 7);
    ManagedPixelBuffer dst(PixelFormat::rgb565(), Rect(0, 0, 64, 48));
    qoutil::scalePixels(2, 2, 3, 3, *src, dst, everything, rfb::opCopy);
    qoutil::scaleRect(*src, src->getRect(), dst, everything, rfb::opOver);
  };
  // Working memory sized by the whole rectangles would run into the limit.
  ASSERT_EXIT(
      {
        rlimit limit{};
        ::getrlimit(RLIMIT_AS, &limit);
        long pages = 0;
        std::FILE* statm = std::fopen("/proc/self/statm", "r");
        if (!statm || std::fscanf(statm, "%ld", &pages) != 1) std::_Exit(2);
        limit.rlim_cur = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + (rlim_t{256} << 20);
        if (::setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(3);
        std::vector<std::unique_ptr<ManagedPixelBuffer>> out;
        drawAll(out);
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "");

  std::vector<std::unique_ptr<ManagedPixelBuffer>> out;
  drawAll(out);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    const auto src = numbered(c.srcW, c.srcH);
    for (int32_t y = 0; y < 48; ++y) {
      for (int32_t x = 0; x < 64; ++x) {
        const bool inside = c.d.encloses(Rect(x, y, x + 1, y + 1));
        const uint32_t want = inside ? src->getPixel({sourceOf(x, c.d.x1, c.d.x2, c.l, c.r, c.srcW),
                                                      sourceOf(y, c.d.y1, c.d.y2, c.t, c.b, c.srcH)})
                                     : 0u;
        ASSERT_EQ(out[i]->getPixel({x, y}), want) << x << "," << y;
      }
    }
  }
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
