#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/qoutil/ImageScaler.h"
#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/base/rfb/PixelFormat.h"
#include "qocore/base/rfb/PixelTrans.h"
#include "testing/FailureOf.h"

namespace {

using qoutil::Scaler;
using rfb::ManagedPixelBuffer;
using rfb::PixelFormat;
using rfb::Rect;

std::string printed(const PixelFormat& pf) {
  char buf[PixelFormat::kPrintSize];
  return pf.print(buf);
}

// A source of random opaque pixels (premultiplied, with alpha, when the
// format has alpha).
void fillRandom(ManagedPixelBuffer& pb, uint32_t seed) {
  std::mt19937 rng(seed);
  for (int32_t y = pb.getRect().y1; y < pb.getRect().y2; ++y) {
    for (int32_t x = pb.getRect().x1; x < pb.getRect().x2; ++x) {
      rfb::Colour c{uint32_t(rng() % 256), uint32_t(rng() % 256), uint32_t(rng() % 256), 255};
      if (pb.getPf().alphaMax) {
        c.a = uint32_t(rng() % 256);
        c.r = c.r * c.a / 255, c.g = c.g * c.a / 255, c.b = c.b * c.a / 255;
      }
      pb.setPixel({x, y}, rfb::encodePixel(pb.getPf(), c, nullptr));
    }
  }
}

// The whole scaled image from a scaler over src.
std::unique_ptr<ManagedPixelBuffer> scaled(const rfb::PixelBuffer& src, const PixelFormat& dstPf, int32_t w, int32_t h,
                                           Rect part = Rect()) {
  Scaler s;
  s.dstPf = dstPf;
  s.coords_.dstSz = {w, h};
  s.setSource(&src, false);
  if (part.isEmpty()) part = Rect(0, 0, w, h);
  auto out = std::make_unique<ManagedPixelBuffer>(dstPf, part);
  int32_t stride = 0;
  s.getImage(out->getPixelsRW(part, &stride), part, stride);
  return out;
}

// Channel c (0 red, 1 green, 2 blue, 3 alpha) of a pixel, in its
// format's own units.
uint32_t channel(const PixelFormat& pf, uint32_t pixel, int c) {
  const uint32_t shift[] = {pf.redShift, pf.greenShift, pf.blueShift, pf.alphaShift};
  const uint32_t max[] = {pf.redMax, pf.greenMax, pf.blueMax, pf.alphaMax};
  return (pixel >> shift[c]) & max[c];
}

// The exact area average of source channel c over destination pixel
// (x, y), in 0..255, from the source's decoded colours.
double areaAverage(const ManagedPixelBuffer& src, int32_t w, int32_t h, int32_t x, int32_t y, int c) {
  const int64_t ws = src.width(), hs = src.height();
  double sum = 0;
  for (int64_t sy = 0; sy < hs; ++sy) {
    const int64_t oy = std::min((sy + 1) * h, (y + 1) * hs) - std::max(sy * h, y * hs);
    if (oy <= 0) continue;
    for (int64_t sx = 0; sx < ws; ++sx) {
      const int64_t ox = std::min((sx + 1) * w, (x + 1) * ws) - std::max(sx * w, x * ws);
      if (ox <= 0) continue;
      const rfb::Colour col = rfb::decodePixel(
          src.getPf(), src.getPixel({int32_t(sx + src.getRect().x1), int32_t(sy + src.getRect().y1)}), nullptr);
      const uint32_t v[] = {col.r, col.g, col.b, col.a};
      sum += double(v[c]) * double(ox * oy);
    }
  }
  return sum / double(ws * hs);
}

// Every kernel member against the area average of the test, within a unit
// and a half of the destination's channels.  Both fixed-point steps round
// half up, but their 2^23 reciprocals truncate: a sum that is an exact
// multiple of the span loses one, so where neither size is a power of two
// a result may fall a little more than one below the average (5x9 to 8x4
// shows 1.16).  Sizes up, down, by uneven ratios, and a source whose
// rectangle does not start at 0,0.
TEST(ImageScalerTest, MatchesTheAreaAverage) {
  const PixelFormat rgb24(24, 24, false, true, 255, 255, 255, 16, 8, 0);
  const PixelFormat bgr24(24, 24, false, true, 255, 255, 255, 0, 8, 16);
  PixelFormat rgb888be = PixelFormat::rgb888();
  rgb888be.bigEndian = 1;
  struct Case {
    const char* label;
    PixelFormat from, to;
  } cases[] = {
      {"rgb888 fixed", PixelFormat::rgb888(), PixelFormat::rgb888()},
      {"rgb565 fixed", PixelFormat::rgb565(), PixelFormat::rgb565()},
      {"rgb222 fixed", PixelFormat::rgb222(), PixelFormat::rgb222()},
      {"bgr888 same", PixelFormat::bgr888(), PixelFormat::bgr888()},
      {"rgb555 same", PixelFormat::rgb555(), PixelFormat::rgb555()},
      {"24 bpp same", rgb24, rgb24},
      {"argb8888 same alpha", PixelFormat::argb8888(), PixelFormat::argb8888()},
      {"rgba bytes into argb", PixelFormat::rgbaBytes(), PixelFormat::argb8888()},
      {"rgb565 into argb", PixelFormat::rgb565(), PixelFormat::argb8888()},
      {"rgb222 into argb", PixelFormat::rgb222(), PixelFormat::argb8888()},
      {"24 bpp into argb", rgb24, PixelFormat::argb8888()},
      {"general 888 to 565", PixelFormat::rgb888(), PixelFormat::rgb565()},
      {"general 24 to 8", bgr24, PixelFormat::rgb222()},
      {"general 8 to 24", PixelFormat::rgb111(), rgb24},
      {"general big-endian", rgb888be, PixelFormat::bgr888()},
      {"general into big-endian", PixelFormat::rgb565(), rgb888be},
  };
  const rfb::Size sizes[][2] = {{{7, 5}, {3, 2}}, {{3, 2}, {7, 5}}, {{16, 16}, {4, 4}},
                                {{5, 9}, {8, 4}}, {{1, 1}, {3, 3}}, {{9, 1}, {2, 1}}};
  uint32_t seed = 1;
  for (const Case& c : cases) {
    for (const auto& sz : sizes) {
      SCOPED_TRACE(std::string(c.label) + " " + std::to_string(sz[0].width) + "x" + std::to_string(sz[0].height) +
                   " to " + std::to_string(sz[1].width) + "x" + std::to_string(sz[1].height));
      ManagedPixelBuffer src(c.from, Rect(10, 20, 10 + sz[0].width, 20 + sz[0].height));
      fillRandom(src, seed++);
      const auto out = scaled(src, c.to, sz[1].width, sz[1].height);
      const int channels = c.to.alphaMax ? 4 : 3;
      int misses = 0;
      for (int32_t y = 0; y < sz[1].height; ++y) {
        for (int32_t x = 0; x < sz[1].width; ++x) {
          for (int ch = 0; ch < channels; ++ch) {
            const uint32_t max[] = {c.to.redMax, c.to.greenMax, c.to.blueMax, c.to.alphaMax};
            const double want = areaAverage(src, sz[1].width, sz[1].height, x, y, ch) * max[ch] / 255;
            uint32_t pixel = out->getPixel({x, y});
            if (c.to.bigEndian) pixel = __builtin_bswap32(pixel);
            const double got = channel(c.to, pixel, ch);
            if ((got - want > 1.0 || want - got > 1.5) && misses++ < 3)
              ADD_FAILURE() << x << "," << y << " channel " << ch << ": " << got << " vs " << want;
          }
        }
      }
    }
  }
}

std::unique_ptr<ManagedPixelBuffer> greyRow(const std::vector<uint32_t>& values, int32_t w, int32_t h) {
  auto pb = std::make_unique<ManagedPixelBuffer>(PixelFormat::rgb888(), Rect(0, 0, w, h));
  for (int32_t i = 0; i < w * h; ++i) pb->setPixel({i % w, i / w}, values[i] * 0x010101);
  return pb;
}

TEST(ImageScalerTest, ListedCasesAreExact) {
  // 2:1 of 0, 255 / 255, 0 is 127.5, which the fixed point rounds up.
  EXPECT_EQ(scaled(*greyRow({0, 255, 255, 0}, 2, 2), PixelFormat::rgb888(), 1, 1)->getPixel({0, 0}), 0x808080u);

  // 1:2: each destination pixel is the source pixel under it.
  const auto up = scaled(*greyRow({10, 200, 30, 90}, 2, 2), PixelFormat::rgb888(), 4, 4);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x)
      EXPECT_EQ(up->getPixel({x, y}), std::vector<uint32_t>({10, 200, 30, 90})[y / 2 * 2 + x / 2] * 0x010101);

  // Three columns into two: (2 c0 + c1) / 3 and (c1 + 2 c2) / 3 in the
  // fixed point; 255s stay 255.
  for (const auto& c : std::vector<std::vector<uint32_t>>{{255, 255, 255}, {30, 60, 90}, {0, 100, 1}}) {
    const auto out = scaled(*greyRow(c, 3, 1), PixelFormat::rgb888(), 2, 1);
    const uint32_t rx = (1u << 23) / 3;
    EXPECT_EQ(out->getPixel({0, 0}) & 255, ((2 * c[0] + c[1] + 1) * rx) >> 23);
    EXPECT_EQ(out->getPixel({1, 0}) & 255, ((c[1] + 2 * c[2] + 1) * rx) >> 23);
  }

  // Equal size and format: a plain copy, bit for bit (filler bits too).
  ManagedPixelBuffer src(PixelFormat::rgb888(), Rect(0, 0, 5, 3));
  for (int32_t i = 0; i < 15; ++i) src.setPixel({i % 5, i / 5}, 0xA5000000u | uint32_t(i * 977));
  const auto copy = scaled(src, PixelFormat::rgb888(), 5, 3);
  for (int32_t i = 0; i < 15; ++i) EXPECT_EQ(copy->getPixel({i % 5, i / 5}), src.getPixel({i % 5, i / 5}));
}

// A rectangle of the scaled image at an offset is that part of the whole
// scaled image: it reads the source rows and columns that cover it.
TEST(ImageScalerTest, PartsEqualTheWhole) {
  ManagedPixelBuffer src(PixelFormat::rgb565(), Rect(-3, 4, 14, 17));
  fillRandom(src, 99);
  for (const rfb::Size& to : {rfb::Size{7, 5}, rfb::Size{40, 29}}) {
    const auto whole = scaled(src, PixelFormat::argb8888(), to.width, to.height);
    for (const Rect& part : {Rect(1, 1, 4, 3), Rect(2, 0, 7, 5), Rect(0, 4, 1, 5), Rect(3, 2, 6, 4)}) {
      const auto piece = scaled(src, PixelFormat::argb8888(), to.width, to.height, part);
      for (int32_t y = part.y1; y < part.y2; ++y)
        for (int32_t x = part.x1; x < part.x2; ++x) EXPECT_EQ(piece->getPixel({x, y}), whole->getPixel({x, y}));
    }
  }
}

TEST(ImageScalerTest, FormatsWithoutKernelAreRefused) {
  const PixelFormat alpha24(24, 24, false, true, 255, 255, 0, 16, 8, 0, 0, 255);
  ManagedPixelBuffer src(alpha24, Rect(0, 0, 4, 4));
  Scaler s;
  s.coords_.dstSz = {2, 2};
  s.setSource(&src, true);
  uint8_t out[2 * 2 * 3];
  EXPECT_EQ(yarl_test::failureOf<plat::Exception>([&] { s.getImage(out, Rect(0, 0, 2, 2)); }),
            "Scaler error: " + printed(alpha24) + " to " + printed(alpha24));
  // Alpha dropped on the way: no member either.
  ManagedPixelBuffer argb(PixelFormat::argb8888(), Rect(0, 0, 4, 4));
  s.dstPf = PixelFormat::rgb888();
  s.setSource(&argb, false);
  EXPECT_EQ(yarl_test::failureOf<plat::Exception>([&] { s.getImage(out, Rect(0, 0, 1, 1)); }),
            "Scaler error: " + printed(PixelFormat::argb8888()) + " to " + printed(PixelFormat::rgb888()));

  Scaler none;
  EXPECT_EQ(yarl_test::failureOf<plat::Exception>([&] { none.getImage(out, Rect(0, 0, 1, 1)); }),
            "Scaler error: no source");
  // An empty rectangle asks nothing, not even for a kernel.
  EXPECT_EQ(yarl_test::failureOf<plat::Exception>([&] { none.getImage(out, Rect(0, 0, 0, 1)); }), "(nothing thrown)");
}

TEST(ImageScalerTest, InvariantsAreFatal) {
  ManagedPixelBuffer src(PixelFormat::rgb888(), Rect(0, 0, 4, 4));
  uint8_t out[64];
  auto zeroWidth = [&] {
    Scaler s;
    s.setSource(&src, true);
    s.coords_.dstSz = {0, 2};
    s.chooseKernel();
    s.getImage(out, Rect(0, 0, 1, 1));
  };
  EXPECT_DEATH(zeroWidth(), "coords_.srcSz.x > 0 && coords_.srcSz.y > 0 && coords_.dstSz.x > 0 && coords_.dstSz.y > 0");
  const PixelFormat bpp48(48, 24, false, true, 255, 255, 255, 16, 8, 0);
  EXPECT_DEATH((void)Scaler::selectKernel(bpp48, PixelFormat::rgb888()),
               "srcIdx >= 0 && srcIdx <= 3 && dstIdx >= 0 && dstIdx <= 3");
}

}  // namespace
