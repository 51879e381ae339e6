#include <gtest/gtest.h>
#include <pixman.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/base/rfb/PixelDraw.h"
#include "qocore/base/rfb/PixelFormat.h"
#include "qocore/base/rfb/PixelTrans.h"

namespace {

using rfb::Colour;
using rfb::FullFramePixelBuffer;
using rfb::ManagedPixelBuffer;
using rfb::PixelFormat;
using rfb::Rect;

std::string printed(const PixelFormat& pf) {
  char buf[PixelFormat::kPrintSize];
  return pf.print(buf);
}

PixelFormat bigEndian(PixelFormat pf) {
  pf.bigEndian = 1;
  return pf;
}

// The presets, a 24 bpp layout, 8-bit channels off the byte boundaries,
// channels shifted past the pixel (a format from outside) and big-endian
// forms of the multi-byte ones.
std::vector<PixelFormat> allFormats() {
  std::vector<PixelFormat> all = {PixelFormat::rgb888(),
                                  PixelFormat::bgr888(),
                                  PixelFormat::rgb565(),
                                  PixelFormat::rgb555(),
                                  PixelFormat::rgb222(),
                                  PixelFormat::rgb111(),
                                  PixelFormat::pal8(),
                                  PixelFormat::argb8888(),
                                  PixelFormat::rgbaBytes(),
                                  PixelFormat(24, 24, false, true, 255, 255, 255, 16, 8, 0),
                                  PixelFormat(32, 24, false, true, 255, 255, 255, 18, 10, 2),
                                  PixelFormat(32, 32, false, true, 255, 255, 255, 40, 8, 0, 200, 255)};
  for (const PixelFormat* pf : {&PixelFormat::rgb888(), &PixelFormat::rgb565(), &PixelFormat::rgb555(),
                                &PixelFormat::argb8888(), &PixelFormat::rgbaBytes()})
    all.push_back(bigEndian(*pf));
  return all;
}

// ---- A reference written from the formats' definition ----

// The pixel value stored at p, honouring the format's byte order.
uint32_t refRead(const PixelFormat& pf, const uint8_t* p) {
  const int n = pf.bpp / 8;
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) {
    const int shift = (pf.bigEndian && n != 3) ? 8 * (n - 1 - i) : 8 * i;
    v |= uint32_t{p[i]} << shift;
  }
  return v;
}

long scaleTo(uint32_t v, uint32_t from, uint32_t to) { return from ? std::lround(double(v) * to / from) : 0; }

// A channel shifted by 32 or more lies outside the pixel: it reads 0 and
// writes nothing.
uint32_t down(uint32_t v, int shift) { return shift < 32 ? v >> shift : 0; }
uint32_t up(uint32_t v, int shift) { return shift < 32 ? v << shift : 0; }

Colour refDecode(const PixelFormat& pf, uint32_t v) {
  if (!pf.trueColour) return {0, 0, 0, 255};
  auto channel = [&](uint32_t max, int shift) { return uint32_t(scaleTo(down(v, shift) & max, max, 255)); };
  return {channel(pf.redMax, pf.redShift), channel(pf.greenMax, pf.greenShift), channel(pf.blueMax, pf.blueShift),
          pf.alphaMax ? channel(pf.alphaMax, pf.alphaShift) : 255};
}

uint32_t refEncode(const PixelFormat& pf, const Colour& c) {
  if (!pf.trueColour) return 0;
  return up(uint32_t(scaleTo(c.r, 255, pf.redMax)), pf.redShift) |
         up(uint32_t(scaleTo(c.g, 255, pf.greenMax)), pf.greenShift) |
         up(uint32_t(scaleTo(c.b, 255, pf.blueMax)), pf.blueShift) |
         up(uint32_t(scaleTo(c.a, 255, pf.alphaMax)), pf.alphaShift);
}

// Source pixels for a format: every value of a narrow one, a random
// sample with the extremes of a wide one.
std::vector<uint32_t> sampleValues(const PixelFormat& pf, std::mt19937& rng) {
  std::vector<uint32_t> v;
  if (pf.bpp <= 16) {
    for (uint32_t i = 0; i < (1u << pf.bpp); ++i) v.push_back(i);
  } else {
    v = {0, 0xffffffff, 0x00ffffff, 0xff000000};
    while (v.size() < 4096) v.push_back(static_cast<uint32_t>(rng()));
    if (pf.bpp == 24)
      for (uint32_t& x : v) x &= 0xffffff;
  }
  return v;
}

// A buffer whose pixels, stored in the format's byte order, are `values`
// (rows of 256, a whole number of them).
std::unique_ptr<ManagedPixelBuffer> bufferOf(const PixelFormat& pf, const std::vector<uint32_t>& values) {
  auto pb = std::make_unique<ManagedPixelBuffer>(pf, Rect(0, 0, 256, static_cast<int32_t>(values.size() / 256)));
  uint8_t* p = pb->getPixelsRW(pb->getRect(), nullptr);
  const int n = pf.bpp / 8;
  for (uint32_t v : values) {
    for (int i = 0; i < n; ++i) *p++ = static_cast<uint8_t>(v >> ((pf.bigEndian && n != 3) ? 8 * (n - 1 - i) : 8 * i));
  }
  return pb;
}

std::vector<uint32_t> valuesOf(const FullFramePixelBuffer& pb) {
  std::vector<uint32_t> out;
  const uint8_t* p = pb.getPixelsR(pb.getRect(), nullptr);
  const size_t n = size_t(pb.width()) * size_t(pb.height());
  for (size_t i = 0; i < n; ++i, p += pb.getPf().bpp / 8) out.push_back(refRead(pb.getPf(), p));
  return out;
}

// The pixel at index i of a buffer's memory as the machine reads it.
uint32_t readPixel(const FullFramePixelBuffer& pb, size_t i) {
  const int n = pb.getPf().bpp / 8;
  const uint8_t* p = pb.getPixelsR(pb.getRect(), nullptr) + i * n;
  uint32_t v = 0;
  for (int b = 0; b < n; ++b) v |= uint32_t{p[b]} << (8 * b);  // little-endian host
  return v;
}

uint32_t usedBits(const PixelFormat& pf) {
  return up(pf.redMax, pf.redShift) | up(pf.greenMax, pf.greenShift) | up(pf.blueMax, pf.blueShift) |
         up(pf.alphaMax, pf.alphaShift);
}

// Whether every channel of a has at most as many bits as b's (none past
// the pixel).
bool narrower(const PixelFormat& a, const PixelFormat& b) {
  auto bits = [](uint32_t m, int shift) { return std::popcount(up(m, shift)); };
  return a.trueColour && b.trueColour && bits(a.redMax, a.redShift) <= bits(b.redMax, b.redShift) &&
         bits(a.greenMax, a.greenShift) <= bits(b.greenMax, b.greenShift) &&
         bits(a.blueMax, a.blueShift) <= bits(b.blueMax, b.blueShift) &&
         (a.alphaMax == 0 || bits(a.alphaMax, a.alphaShift) <= bits(b.alphaMax, b.alphaShift));
}

TEST(PixelTransTest, TranslationBetweenEveryPairOfFormatsMatchesTheReferenceAndRoundTrips) {
  std::mt19937 rng(1);
  const std::vector<PixelFormat> formats = allFormats();
  int roundTrips = 0;
  for (const PixelFormat& from : formats) {
    const std::vector<uint32_t> values = sampleValues(from, rng);
    const std::unique_ptr<ManagedPixelBuffer> srcBuffer = bufferOf(from, values);
    const ManagedPixelBuffer& src = *srcBuffer;
    for (const PixelFormat& to : formats) {
      SCOPED_TRACE(printed(from) + (from.bigEndian ? " (big)" : "") + " -> " + printed(to));
      ManagedPixelBuffer dst(to, src.getRect());
      rfb::transRect(src, {0, 0}, dst, dst.getRect(), rfb::opCopy);
      const std::vector<uint32_t> got = valuesOf(dst);
      const bool rowCopy = from.equal(to);
      for (size_t i = 0; i < values.size(); ++i) {
        const uint32_t want = rowCopy ? values[i] : refEncode(to, refDecode(from, values[i]));
        ASSERT_EQ(got[i], want) << "pixel " << std::hex << values[i];
        if (rowCopy) continue;
        // One pixel at a time: the same values.  The single-pixel forms
        // work on values in the format's byte order as read from memory.
        const uint32_t native = readPixel(src, i);
        const uint32_t one = rfb::encodePixel(to, rfb::decodePixel(from, native, nullptr), nullptr);
        ASSERT_EQ(one, readPixel(dst, i)) << "pixel " << std::hex << values[i];
      }
      if (!narrower(from, to)) continue;
      // Through a format with at least as many bits per channel and back:
      // every significant bit survives.
      ++roundTrips;
      ManagedPixelBuffer back(from, src.getRect());
      rfb::transRect(dst, {0, 0}, back, back.getRect(), rfb::opCopy);
      const std::vector<uint32_t> returned = valuesOf(back);
      for (size_t i = 0; i < values.size(); ++i)
        ASSERT_EQ(returned[i] & usedBits(from), values[i] & usedBits(from)) << "pixel " << std::hex << values[i];
    }
  }
  EXPECT_GT(roundTrips, 60);
}

// The same operations under other names: translatePixels recognises
// opCopy and opOver by identity only, so these take the general
// per-pixel path.
void generalCopy(const Colour& s, Colour& d) { d = s; }
void generalOver(const Colour& s, Colour& d) { rfb::opOver(s, d); }

TEST(PixelTransTest, FastPathsGiveWhatTheGeneralPathGives) {
  std::mt19937 rng(77);
  const std::vector<PixelFormat> formats = allFormats();
  // Odd sizes inside larger buffers: vector tails and strides.
  const Rect area(3, 1, 3 + 37, 1 + 5);
  for (const PixelFormat& from : formats) {
    ManagedPixelBuffer src(from, Rect(0, 0, 45, 8));
    uint8_t* sp = src.getPixelsRW(src.getRect(), nullptr);
    // Any bytes: straight-alpha and out-of-range values included.
    for (size_t i = 0; i < src.sizeBytes(); ++i) sp[i] = static_cast<uint8_t>(rng());
    for (const PixelFormat& to : formats) {
      SCOPED_TRACE(printed(from) + (from.bigEndian ? " (big)" : "") + " -> " + printed(to) +
                   (to.bigEndian ? " (big)" : ""));
      ManagedPixelBuffer start(to, Rect(0, 0, 41, 7));
      uint8_t* dp = start.getPixelsRW(start.getRect(), nullptr);
      for (size_t i = 0; i < start.sizeBytes(); ++i) dp[i] = static_cast<uint8_t>(rng());
      using OpPair = std::pair<rfb::CompositeOp, rfb::CompositeOp>;
      for (auto [fast, general] : {OpPair{rfb::opCopy, generalCopy}, OpPair{rfb::opOver, generalOver}}) {
        ManagedPixelBuffer a(to, start.getRect()), b(to, start.getRect());
        a.imageRect(a.getRect(), dp);
        b.imageRect(b.getRect(), dp);
        rfb::translatePixels(src, {5, 2}, a, area, fast);
        rfb::translatePixels(src, {5, 2}, b, area, general);
        ASSERT_EQ(std::memcmp(a.getPixelsR(a.getRect(), nullptr), b.getPixelsR(b.getRect(), nullptr), a.sizeBytes()), 0)
            << (fast == rfb::opCopy ? "copy" : "over");
      }
    }
  }
}

TEST(PixelTransTest, DecodeAndEncodeScaleClampAndSwapBytes) {
  const PixelFormat& p565 = PixelFormat::rgb565();
  EXPECT_EQ(rfb::decodePixel(p565, 0xffff, nullptr), (Colour{255, 255, 255, 255}));
  EXPECT_EQ(rfb::encodePixel(p565, {255, 128, 0, 255}, nullptr), 31u << 11 | 32u << 5);
  EXPECT_EQ(rfb::encodePixel(bigEndian(p565), {255, 0, 0, 255}, nullptr), 0x00f8u);
  EXPECT_EQ(rfb::decodePixel(bigEndian(PixelFormat::argb8888()), 0x80402010, nullptr),
            (Colour{0x20, 0x40, 0x80, 0x10}));
  EXPECT_EQ(rfb::decodePixel(PixelFormat::pal8(), 7, nullptr), (Colour{0, 0, 0, 255}));
  EXPECT_EQ(rfb::encodePixel(PixelFormat::pal8(), {255, 255, 255, 255}, nullptr), 0u);
  // Alpha of 4 bits scales both ways.
  const PixelFormat argb4444(16, 16, false, true, 15, 15, 15, 8, 4, 0, 12, 15);
  EXPECT_EQ(rfb::decodePixel(argb4444, 0x8f00, nullptr), (Colour{255, 0, 0, 136}));
  EXPECT_EQ(rfb::encodePixel(argb4444, {255, 0, 0, 136}, nullptr), 0x8f00u);

  // Straight-alpha channels above 255 are taken as 255 instead of
  // spilling into the next channel.
  EXPECT_EQ(rfb::encodePixel(PixelFormat::argb8888(), {382, 382, 382, 255}, nullptr), 0xffffffffu);
  EXPECT_EQ(rfb::encodePixel(PixelFormat::rgb888(), {0, 300, 0, 255}, nullptr), 0x00ff00u);
  EXPECT_EQ(rfb::encodePixel(PixelFormat::rgbaBytes(), {0, 0, 0, 256}, nullptr), 0xff000000u);
  EXPECT_EQ(rfb::encodePixel(p565, {0, 0, 1000, 0}, nullptr), 31u);
  // Half-transparent white, straight alpha, over white: red 382 before
  // the clamp.
  Colour d{255, 255, 255, 255};
  rfb::opOver({255, 255, 255, 128}, d);
  EXPECT_EQ(rfb::encodePixel(PixelFormat::argb8888(), d, nullptr), 0xffffffffu);

  // Shifts of 32 and more (a format from outside) read and write nothing.
  const PixelFormat wild(32, 32, false, true, 255, 255, 255, 40, 8, 0, 200, 255);
  EXPECT_EQ(rfb::decodePixel(wild, 0xffffffff, nullptr), (Colour{0, 255, 255, 0}));
  EXPECT_EQ(rfb::encodePixel(wild, {255, 255, 255, 255}, nullptr), 0xffffu);
}

// A colour map of grey levels: pixel v is (v, v, v).
class GreyMap : public rfb::ColourMap {
 public:
  void lookup(uint32_t pixel, uint32_t* r, uint32_t* g, uint32_t* b) const override { *r = *g = *b = pixel; }
  uint32_t pixelFor(uint32_t r, uint32_t g, uint32_t b, uint32_t) const override { return (r + g + b) / 3; }
};

TEST(PixelTransTest, ColourMapsAreAskedForColourMapFormatsOnly) {
  GreyMap grey;
  EXPECT_EQ(rfb::decodePixel(PixelFormat::pal8(), 90, &grey), (Colour{90, 90, 90, 255}));
  EXPECT_EQ(rfb::encodePixel(PixelFormat::pal8(), {30, 60, 90, 255}, &grey), 60u);
  EXPECT_EQ(rfb::decodePixel(PixelFormat::rgb888(), 0x010203, &grey), (Colour{1, 2, 3, 255}));

  ManagedPixelBuffer map(PixelFormat::pal8(), Rect(0, 0, 2, 1), &grey);
  const uint8_t levels[] = {10, 200};
  map.imageRect(map.getRect(), levels);
  ManagedPixelBuffer rgb(PixelFormat::rgb888(), Rect(0, 0, 2, 1));
  rfb::transRect(map, {0, 0}, rgb, rgb.getRect(), rfb::opCopy);
  EXPECT_EQ(rgb.getPixel({1, 0}), 0xc8c8c8u);
  rfb::transRect(rgb, {1, 0}, map, Rect(0, 0, 1, 1), rfb::opCopy);
  EXPECT_EQ(map.getPixel({0, 0}), 200u);
}

TEST(PixelTransTest, OperationsCombineWorkingColours) {
  struct Case {
    rfb::CompositeOp op;
    const char* name;
    Colour s, d, want;
  };
  const std::vector<Case> cases = {
      {rfb::opCopy, "copy", {1, 2, 3, 4}, {9, 9, 9, 9}, {1, 2, 3, 4}},
      {rfb::opOver, "over opaque", {10, 20, 30, 255}, {200, 200, 200, 255}, {10, 20, 30, 255}},
      {rfb::opOver, "over clear", {0, 0, 0, 0}, {200, 100, 50, 255}, {200, 100, 50, 255}},
      {rfb::opOver, "over half", {64, 0, 0, 128}, {0, 200, 100, 255}, {64, 100, 50, 255}},
      {rfb::opGrey, "grey", {255, 0, 0, 77}, {1, 2, 3, 4}, {76, 76, 76, 77}},
      {rfb::opGrey, "grey white", {255, 255, 255, 255}, {0, 0, 0, 0}, {255, 255, 255, 255}},
      {rfb::opGreyOver, "grey over", {0, 255, 0, 255}, {9, 9, 9, 9}, {150, 150, 150, 255}},
      {rfb::opGreyOver, "grey over half", {0, 0, 128, 128}, {100, 100, 100, 255}, {64, 64, 64, 255}},
      {rfb::opPremultiply, "premultiply", {255, 255, 255, 128}, {}, {128, 128, 128, 128}},
      {rfb::opPremultiply, "premultiply clear", {255, 10, 20, 0}, {}, {0, 0, 0, 0}},
      {rfb::opUnpremultiply, "unpremultiply", {128, 128, 128, 128}, {}, {255, 255, 255, 128}},
      {rfb::opUnpremultiply, "unpremultiply clear", {3, 3, 3, 0}, {1, 1, 1, 1}, {0, 0, 0, 0}},
      {rfb::opHalfOver, "half over", {255, 255, 255, 255}, {0, 0, 0, 255}, {127, 127, 127, 255}},
      {rfb::opHalfOver, "half over clear", {0, 0, 0, 0}, {40, 50, 60, 70}, {40, 50, 60, 70}},
  };
  for (const Case& c : cases) {
    Colour d = c.d;
    c.op(c.s, d);
    EXPECT_EQ(d, c.want) << c.name << ": " << d.r << "," << d.g << "," << d.b << "," << d.a;
  }
}

// Premultiplied a8r8g8b8 pixels: random alpha (with the extremes common),
// channels at most alpha.
std::vector<uint32_t> premultiplied(size_t n, std::mt19937& rng) {
  std::vector<uint32_t> v(n);
  for (uint32_t& p : v) {
    uint32_t a = rng() % 4 == 0 ? (rng() % 2 ? 255 : 0) : rng() % 256;
    auto ch = [&] { return a ? static_cast<uint32_t>(rng() % (a + 1)) : 0u; };
    p = a << 24 | ch() << 16 | ch() << 8 | ch();
  }
  return v;
}

TEST(PixelTransTest, OverMatchesPixmanBitForBit) {
  std::mt19937 rng(2024);
  constexpr int kW = 317, kH = 61;
  struct Layout {
    const PixelFormat& pf;
    pixman_format_code_t code;
    bool swapRB;
  };
  for (const Layout& l : {Layout{PixelFormat::argb8888(), PIXMAN_a8r8g8b8, false},
                          Layout{PixelFormat::rgbaBytes(), PIXMAN_a8b8g8r8, true}}) {
    SCOPED_TRACE(printed(l.pf));
    std::vector<uint32_t> src = premultiplied(kW * kH, rng), dst = premultiplied(kW * kH, rng);
    if (l.swapRB)
      for (std::vector<uint32_t>* v : {&src, &dst})
        for (uint32_t& p : *v) p = (p & 0xff00ff00) | (p >> 16 & 0xff) | (p & 0xff) << 16;
    std::vector<uint32_t> ref = dst;
    pixman_image_t* ps = pixman_image_create_bits(l.code, kW, kH, src.data(), kW * 4);
    pixman_image_t* pd = pixman_image_create_bits(l.code, kW, kH, ref.data(), kW * 4);
    pixman_image_composite32(PIXMAN_OP_OVER, ps, nullptr, pd, 0, 0, 0, 0, 0, 0, kW, kH);
    pixman_image_unref(ps);
    pixman_image_unref(pd);

    FullFramePixelBuffer s(l.pf, Rect(0, 0, kW, kH), nullptr, reinterpret_cast<uint8_t*>(src.data()), 0);
    FullFramePixelBuffer d(l.pf, Rect(0, 0, kW, kH), nullptr, reinterpret_cast<uint8_t*>(dst.data()), 0);
    rfb::transRect(s, {0, 0}, d, d.getRect(), rfb::opOver);
    for (size_t i = 0; i < dst.size(); ++i)
      ASSERT_EQ(dst[i], ref[i]) << "pixel " << i << " source " << std::hex << src[i];
  }
}

TEST(PixelTransTest, TransRectClipsToBothBuffersAndCopiesEqualFormatsAsRows) {
  // rgb222 leaves the top two bits unused: a row copy keeps them, a
  // translation would drop them.
  ManagedPixelBuffer src(PixelFormat::rgb222(), Rect(0, 0, 3, 3));
  rfb::fillRect(src, src.getRect(), 0xff);
  PixelFormat be222 = bigEndian(PixelFormat::rgb222());
  ManagedPixelBuffer dst(be222, Rect(0, 0, 4, 4));
  rfb::fillRect(dst, dst.getRect(), 0);
  // Reaches past the destination (x 4..5) and past the source (row 3).
  rfb::transRect(src, {1, 1}, dst, Rect(2, 1, 6, 6), rfb::opCopy);
  const std::vector<std::vector<uint32_t>> want = {{0, 0, 0, 0}, {0, 0, 0xff, 0xff}, {0, 0, 0xff, 0xff}, {0, 0, 0, 0}};
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(dst.getPixel({x, y}), want[y][x]) << x << "," << y;

  // OVER of a source without alpha is a copy; between different formats it
  // translates.
  ManagedPixelBuffer rgb(PixelFormat::rgb888(), Rect(0, 0, 2, 1));
  rgb.setPixel({0, 0}, 0xff123456);
  rgb.setPixel({1, 0}, 0x00abcdef);
  ManagedPixelBuffer argb(PixelFormat::argb8888(), Rect(0, 0, 2, 1));
  rfb::fillRect(argb, argb.getRect(), 0x80808080);
  rfb::transRect(rgb, {0, 0}, argb, argb.getRect(), rfb::opOver);
  EXPECT_EQ(argb.getPixel({0, 0}), 0xff123456u);
  EXPECT_EQ(argb.getPixel({1, 0}), 0xffabcdefu);
  ManagedPixelBuffer rgb2(PixelFormat::rgb888(), Rect(0, 0, 2, 1));
  rfb::transRect(rgb, {0, 0}, rgb2, rgb2.getRect(), rfb::opOver);
  EXPECT_EQ(rgb2.getPixel({0, 0}), 0xff123456u);  // a row copy keeps the unused byte

  // A grey translation into 16 bits through the general operation path.
  ManagedPixelBuffer p565(PixelFormat::rgb565(), Rect(0, 0, 2, 1));
  rfb::transRect(rgb, {0, 0}, p565, p565.getRect(), rfb::opGrey);
  const Colour g = rfb::decodePixel(PixelFormat::rgb565(), p565.getPixel({1, 0}), nullptr);
  EXPECT_EQ(g.r, g.b);
  EXPECT_NEAR(int(g.r), (19661 * 0xab + 38666 * 0xcd + 7209 * 0xef) >> 16, 4);
}

TEST(PixelTransTest, BlendMaskDrawsAColourThroughCoverage) {
  ManagedPixelBuffer pb(PixelFormat::rgb888(), Rect(0, 0, 4, 2));
  rfb::fillRect(pb, pb.getRect(), 0x204060);
  // Rows of the mask: 0, 255, 128, 64 / 255, 0, 0, 0; stride 5.
  const uint8_t mask[] = {0, 255, 128, 64, 99, 255, 0, 0, 0, 99};
  rfb::blendMask(pb, Rect(0, 0, 4, 2), {255, 0, 0, 255}, mask, 5);
  EXPECT_EQ(pb.getPixel({0, 0}), 0x204060u);  // no coverage
  EXPECT_EQ(pb.getPixel({1, 0}), 0xff0000u);  // full coverage, opaque
  // Half coverage: k = 255 - div255(128 x 255) = 127.
  EXPECT_EQ(pb.getPixel({2, 0}), uint32_t((128 * 255 + 0x20 * 127 + 127) / 255) << 16 |
                                     uint32_t((0x40 * 127 + 127) / 255) << 8 | (0x60 * 127 + 127) / 255);
  EXPECT_EQ(pb.getPixel({0, 1}), 0xff0000u);
  EXPECT_EQ(pb.getPixel({1, 1}), 0x204060u);

  // Clipped on the left: the mask is read from the matching offset.
  rfb::fillRect(pb, pb.getRect(), 0);
  rfb::blendMask(pb, Rect(-1, 0, 3, 2), {0, 0, 255, 255}, mask, 5);
  EXPECT_EQ(pb.getPixel({0, 0}), 0x0000ffu);
  EXPECT_EQ(pb.getPixel({1, 0}), 0x000080u);
  EXPECT_EQ(pb.getPixel({2, 0}), 0x000040u);
  EXPECT_EQ(pb.getPixel({0, 1}), 0u);

  ManagedPixelBuffer p565(PixelFormat::rgb565(), Rect(0, 0, 2, 1));
  rfb::fillRect(p565, p565.getRect(), 0);
  const uint8_t full[] = {255, 0};
  rfb::blendMask(p565, p565.getRect(), {0, 255, 0, 255}, full, 0);
  EXPECT_EQ(p565.getPixel({0, 0}), 63u << 5);
  EXPECT_EQ(p565.getPixel({1, 0}), 0u);
}

TEST(PixelTransTest, BlendMaskIntoRgb888GivesWhatTheGeneralPathGives) {
  // The same pixels as rgb888 in a format that is not equal to it (its
  // absent alpha has another shift), so blendMask takes the general path.
  PixelFormat twin = PixelFormat::rgb888();
  twin.alphaShift = 24;
  ASSERT_FALSE(twin.equal(PixelFormat::rgb888()));
  std::mt19937 rng(31);
  std::vector<uint8_t> mask(23 * 6);
  for (int round = 0; round < 60; ++round) {
    const uint32_t a = round % 3 == 0 ? 255 : round % 7 == 0 ? 0 : static_cast<uint32_t>(rng() % 256);
    auto ch = [&] { return static_cast<uint32_t>(rng() % (a + 1)); };
    Colour colour{ch(), ch(), ch(), a};
    if (round % 10 == 9) colour = {200, 90, 255, 100};  // straight alpha: the general path in both
    for (uint8_t& m : mask) m = rng() % 4 == 0 ? (rng() % 2 ? 255 : 0) : static_cast<uint8_t>(rng());
    ManagedPixelBuffer fast(PixelFormat::rgb888(), Rect(0, 0, 21, 5)), general(twin, Rect(0, 0, 21, 5));
    uint8_t* fp = fast.getPixelsRW(fast.getRect(), nullptr);
    for (size_t i = 0; i < fast.sizeBytes(); ++i) fp[i] = static_cast<uint8_t>(rng());
    general.imageRect(general.getRect(), fp);
    // Sticking out on the left and the bottom; 21 wide inside: a tail too.
    const Rect r(-2, 1, 21, 7);
    rfb::blendMask(fast, r, colour, mask.data(), 23);
    rfb::blendMask(general, r, colour, mask.data(), 23);
    ASSERT_EQ(std::memcmp(fast.getPixelsR(fast.getRect(), nullptr), general.getPixelsR(general.getRect(), nullptr),
                          fast.sizeBytes()),
              0)
        << "colour " << colour.r << "," << colour.g << "," << colour.b << "," << colour.a;
  }
}

}  // namespace
