#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "qocore/base/qoutil/PngFile.h"
#include "qocore/base/qoutil/tests/PngWriter.h"
#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/base/rfb/PixelDraw.h"
#include "qocore/base/rfb/PixelFormat.h"
#include "testing/FailureOf.h"

namespace {

using qoutil::PngException;
using qoutil::PngFile;
using qoutil_test::encodePng;
using qoutil_test::expectedPixel;
using qoutil_test::TestPng;
using rfb::ManagedPixelBuffer;
using rfb::PixelFormat;
using rfb::Rect;

std::vector<png_color> greyRamp(int n) {
  std::vector<png_color> p;
  for (int i = 0; i < n; ++i) p.push_back({uint8_t(i * 37), uint8_t(255 - i * 11), uint8_t(i * 5)});
  return p;
}

struct ColourCase {
  const char* label;
  int colourType;
  int depth;
  bool alpha;  // whether the decoded format has alpha
  std::vector<png_color> palette = {};
  std::vector<uint8_t> paletteAlpha = {};
  bool trans = false;
};

std::vector<ColourCase> colourCases() {
  return {
      {"grey1", PNG_COLOR_TYPE_GRAY, 1, false},
      {"grey2", PNG_COLOR_TYPE_GRAY, 2, false},
      {"grey4", PNG_COLOR_TYPE_GRAY, 4, false},
      {"grey8", PNG_COLOR_TYPE_GRAY, 8, false},
      {"grey16", PNG_COLOR_TYPE_GRAY, 16, false},
      {"grey8 tRNS", PNG_COLOR_TYPE_GRAY, 8, true, {}, {}, true},
      {"grey16 tRNS", PNG_COLOR_TYPE_GRAY, 16, true, {}, {}, true},
      {"greyAlpha8", PNG_COLOR_TYPE_GRAY_ALPHA, 8, true},
      {"greyAlpha16", PNG_COLOR_TYPE_GRAY_ALPHA, 16, true},
      {"rgb8", PNG_COLOR_TYPE_RGB, 8, false},
      {"rgb16", PNG_COLOR_TYPE_RGB, 16, false},
      {"rgb8 tRNS", PNG_COLOR_TYPE_RGB, 8, true, {}, {}, true},
      {"rgba8", PNG_COLOR_TYPE_RGB_ALPHA, 8, true},
      {"rgba16", PNG_COLOR_TYPE_RGB_ALPHA, 16, true},
      {"palette1", PNG_COLOR_TYPE_PALETTE, 1, false, greyRamp(2)},
      {"palette2", PNG_COLOR_TYPE_PALETTE, 2, false, greyRamp(4)},
      {"palette4", PNG_COLOR_TYPE_PALETTE, 4, false, greyRamp(11)},
      {"palette8", PNG_COLOR_TYPE_PALETTE, 8, false, greyRamp(7)},
      {"palette8 tRNS", PNG_COLOR_TYPE_PALETTE, 8, true, greyRamp(7), {0, 128, 255, 3}},
      {"palette4 tRNS", PNG_COLOR_TYPE_PALETTE, 4, true, greyRamp(11), {200}},
  };
}

TestPng imageFor(const ColourCase& c, bool interlaced, uint32_t w = 13, uint32_t h = 11) {
  TestPng t;
  t.width = w;
  t.height = h;
  t.colourType = c.colourType;
  t.depth = c.depth;
  t.interlaced = interlaced;
  t.palette = c.palette;
  t.paletteAlpha = c.paletteAlpha;
  if (c.trans) {
    t.hasTransColour = true;
    t.transColour.gray = uint16_t(t.sample(2, 1, 0));
    t.transColour.red = uint16_t(t.sample(2, 1, 0));
    t.transColour.green = uint16_t(t.sample(2, 1, 1));
    t.transColour.blue = uint16_t(t.sample(2, 1, 2));
  }
  return t;
}

// Every colour type and depth, interlaced or not, decodes to 8-bit
// blue-green-red with real alpha or a zero filler.
TEST(PngFileTest, EveryColourTypeAndDepthDecodes) {
  for (const ColourCase& c : colourCases()) {
    for (bool interlaced : {false, true}) {
      SCOPED_TRACE(std::string(c.label) + (interlaced ? " interlaced" : ""));
      const TestPng t = imageFor(c, interlaced);
      const std::vector<uint8_t> bytes = encodePng(t);
      PngFile file(uint32_t(bytes.size()), bytes.data(), false, "img");
      EXPECT_EQ(file.getSize(), (rfb::Size{13, 11}));
      EXPECT_TRUE(file.getPf()->equal(c.alpha ? PixelFormat::argb8888Host() : PixelFormat::rgb888Host()));
      ManagedPixelBuffer pb(*file.getPf(), Rect(0, 0, 13, 11));
      file.load(&pb, {0, 0});
      int mismatches = 0;
      for (uint32_t y = 0; y < t.height; ++y)
        for (uint32_t x = 0; x < t.width; ++x)
          if (pb.getPixel({int32_t(x), int32_t(y)}) != expectedPixel(t, x, y) && mismatches++ < 3)
            ADD_FAILURE() << "at " << x << "," << y << ": " << std::hex << pb.getPixel({int32_t(x), int32_t(y)})
                          << " != " << expectedPixel(t, x, y);
      EXPECT_EQ(mismatches, 0);
    }
  }
}

TEST(PngFileTest, PremultiplyAndLoadPosition) {
  TestPng t;
  t.width = 40;  // wide enough for a pixel of alpha 0
  t.height = 12;
  t.colourType = PNG_COLOR_TYPE_RGB_ALPHA;
  const std::vector<uint8_t> bytes = encodePng(t);

  // Straight colour without the flag; colour x alpha / 255 with it, so an
  // alpha of 0 clears the colour.
  PngFile straight(uint32_t(bytes.size()), bytes.data(), false, "a");
  PngFile premultiplied(uint32_t(bytes.size()), bytes.data(), true, "a");
  ManagedPixelBuffer s(*straight.getPf(), Rect(0, 0, 40, 12)), p(*premultiplied.getPf(), Rect(0, 0, 40, 12));
  straight.load(&s, {0, 0});
  premultiplied.load(&p, {0, 0});
  bool sawZeroAlpha = false;
  for (int32_t y = 0; y < 12; ++y) {
    for (int32_t x = 0; x < 40; ++x) {
      const uint32_t want = expectedPixel(t, x, y), a = want >> 24;
      EXPECT_EQ(s.getPixel({x, y}), want);
      uint32_t premul = a << 24;
      for (int shift : {16, 8, 0}) premul |= (((want >> shift & 255) * a + 127) / 255) << shift;
      EXPECT_EQ(p.getPixel({x, y}), premul) << x << "," << y;
      sawZeroAlpha |= a == 0;
    }
  }
  EXPECT_TRUE(sawZeroAlpha);

  // At (3, 2) in a larger buffer: only that rectangle changes, and the
  // rest keeps its marker.
  PngFile again(uint32_t(bytes.size()), bytes.data(), false, "a");
  ManagedPixelBuffer big(*again.getPf(), Rect(0, 0, 45, 16));
  rfb::fillRect(big, big.getRect(), 0x12345678);
  again.load(&big, {3, 2});
  for (int32_t y = 0; y < 16; ++y) {
    for (int32_t x = 0; x < 45; ++x) {
      const bool inside = x >= 3 && x < 43 && y >= 2 && y < 14;
      EXPECT_EQ(big.getPixel({x, y}), inside ? expectedPixel(t, x - 3, y - 2) : 0x12345678u) << x << "," << y;
    }
  }
}

// What decoding the bytes whole throws.
std::string failureOf(const std::vector<uint8_t>& bytes, const char* name) {
  return yarl_test::failureOf<PngException>([&] {
    PngFile file(uint32_t(bytes.size()), bytes.data(), true, name);
    ManagedPixelBuffer pb(*file.getPf(), Rect(0, 0, file.getSize().width, file.getSize().height));
    file.load(&pb, {0, 0});
  });
}

TEST(PngFileTest, BadFilesAreRefused) {
  TestPng t;
  t.width = 16;
  t.height = 16;
  const std::vector<uint8_t> good = encodePng(t);

  std::vector<uint8_t> badSignature = good;
  badSignature[1] ^= 0x20;
  std::vector<uint8_t> badCrc = good;
  badCrc[29] ^= 1;  // the IHDR chunk's CRC
  std::vector<uint8_t> zeroWidth = good;
  qoutil_test::patchDimensions(zeroWidth, 0, 16);
  std::vector<uint8_t> tooWide = good;
  qoutil_test::patchDimensions(tooWide, 40000, 16);
  std::vector<uint8_t> tooTall = good;
  qoutil_test::patchDimensions(tooTall, 16, 32768);

  struct Case {
    const char* label;
    const std::vector<uint8_t>* bytes;
    const char* name;
    std::string message;
  } cases[] = {
      {"signature", &badSignature, "sig", "Not a PNG file: sig"},
      {"crc", &badCrc, "crc", "IHDR: CRC error: crc"},
      {"zero width", &zeroWidth, "zero", "Invalid IHDR data: zero"},
      {"40000 wide", &tooWide, "wide", "Invalid IHDR data: wide"},
      {"32768 tall", &tooTall, "tall", "Invalid IHDR data: tall"},
      {"no name", &badSignature, nullptr, "Not a PNG file: <unknown>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(failureOf(*c.bytes, c.name), c.message);
  }
}

// Data cut short anywhere is refused as "Bad PNG data" (or, once every
// row has arrived, decodes whole); no read runs past the end.
TEST(PngFileTest, TruncatedDataIsRefusedAtEveryLength) {
  TestPng t;
  t.width = 9;
  t.height = 7;
  t.colourType = PNG_COLOR_TYPE_RGB_ALPHA;
  t.interlaced = true;
  const std::vector<uint8_t> good = encodePng(t);
  for (size_t n = 0; n < good.size(); ++n) {
    // Exactly n bytes, so the sanitizers see a read beyond them.
    const std::vector<uint8_t> cut(good.begin(), good.begin() + n);
    const std::string failure = failureOf(cut, "cut");
    if (failure != "(nothing thrown)") {
      EXPECT_EQ(failure, "Bad PNG data: cut") << n;
      continue;
    }
    EXPECT_GE(n, good.size() - 12) << "only the trailing IEND chunk may be missing";
  }
  // Through a managed buffer that loads the file itself, the failure
  // leaves nothing behind (the sanitizers check the memory).
  const std::vector<uint8_t> cut(good.begin(), good.end() - 40);
  PngFile file(uint32_t(cut.size()), cut.data(), false, "cut");
  EXPECT_EQ(yarl_test::failureOf<PngException>([&] { ManagedPixelBuffer pb(&file); }), "Bad PNG data: cut");
}

TEST(PngFileTest, TypeName) { EXPECT_STREQ(PngException("x %d", 1).typeName(), "PngException"); }

TEST(PngFileTest, FormatMismatchIsFatal) {
  TestPng t;
  t.width = t.height = 2;
  const std::vector<uint8_t> bytes = encodePng(t);
  EXPECT_DEATH(
      {
        PngFile file(uint32_t(bytes.size()), bytes.data(), false, "f");
        ManagedPixelBuffer pb(PixelFormat::rgb565(), Rect(0, 0, 2, 2));
        file.load(&pb, {0, 0});
      },
      "Assertion 'pb->getPf\\(\\).equal\\(pf\\)' failed");
}

}  // namespace
