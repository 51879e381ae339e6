#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "qocore/base/rfb/PixelFormat.h"

namespace {

using rfb::PixelFormat;

std::string printed(const PixelFormat& pf) {
  char buf[PixelFormat::kPrintSize];
  return pf.print(buf);
}

TEST(PixelFormatTest, PrintNamesPackedLayoutsAndFallsBackToMaximaAndShifts) {
  struct Case {
    PixelFormat pf;
    const char* text;
  };
  const std::vector<Case> cases = {
      {PixelFormat::rgb888(), "depth 24 (32 bpp) little-endian rgb888"},
      {PixelFormat::bgr888(), "depth 24 (32 bpp) little-endian bgr888"},
      {PixelFormat::rgb565(), "depth 16 (16 bpp) little-endian rgb565"},
      {PixelFormat::rgb555(), "depth 15 (16 bpp) little-endian rgb555"},
      {PixelFormat::rgb222(), "depth 6 (8 bpp) rgb222"},
      {PixelFormat::rgb111(), "depth 3 (8 bpp) rgb111"},
      {PixelFormat::pal8(), "depth 8 (8 bpp) colour-map"},
      {PixelFormat::argb8888(), "depth 32 (32 bpp) little-endian argb8888"},
      {PixelFormat::rgbaBytes(), "depth 32 (32 bpp) little-endian abgr8888"},
      {PixelFormat(16, 16, true, true, 31, 31, 31, 11, 6, 1, 0, 1), "depth 16 (16 bpp) big-endian rgba5551"},
      {PixelFormat(16, 16, false, true, 31, 31, 31, 1, 6, 11, 0, 1), "depth 16 (16 bpp) little-endian bgra5551"},
      {PixelFormat(32, 24, false, true, 255, 255, 255, 0, 8, 16), "depth 24 (32 bpp) little-endian bgr888"},
      // A gap between green and red.
      {PixelFormat(16, 16, false, true, 31, 31, 31, 11, 5, 0),
       "depth 16 (16 bpp) little-endian rgb max 31,31,31 shift 11,5,0"},
      {PixelFormat(32, 32, false, true, 255, 255, 255, 0, 8, 16, 28, 15),
       "depth 32 (32 bpp) little-endian rgb max 255,255,255 shift 0,8,16 alpha max 15 shift 28"},
      // Fields from outside: runs of 32 bits and more, shifts past the pixel.
      {PixelFormat(32, 200, false, true, 255, 255, 255, 40, 8, 0),
       "depth 200 (32 bpp) little-endian rgb max 255,255,255 shift 40,8,0"},
      {PixelFormat(32, 32, false, true, 1, 1, 1, 0, 1, 250, 255, 255),
       "depth 32 (32 bpp) little-endian rgb max 1,1,1 shift 0,1,250 alpha max 255 shift 255"},
  };
  for (const Case& c : cases) EXPECT_EQ(printed(c.pf), c.text);
}

TEST(PixelFormatTest, EqualIgnoresByteOrderAt8BppAndChannelsOfColourMaps) {
  PixelFormat be8 = PixelFormat::rgb222();
  be8.bigEndian = 1;
  EXPECT_TRUE(be8.equal(PixelFormat::rgb222()));
  PixelFormat be16 = PixelFormat::rgb565();
  be16.bigEndian = 1;
  EXPECT_FALSE(be16.equal(PixelFormat::rgb565()));
  PixelFormat map = PixelFormat::pal8();
  map.redMax = 7, map.blueShift = 3;
  EXPECT_TRUE(map.equal(PixelFormat::pal8()));
  EXPECT_FALSE(PixelFormat::pal8().equal(PixelFormat(8, 8, false, true, 7, 7, 3, 0, 3, 6)));

  const PixelFormat base = PixelFormat::argb8888();
  PixelFormat shift = base, max = base, depth = base;
  shift.alphaShift = 0;
  max.alphaMax = 127;
  depth.depth = 24;
  EXPECT_FALSE(shift.equal(base));
  EXPECT_FALSE(max.equal(base));
  EXPECT_FALSE(depth.equal(base));
  EXPECT_FALSE(PixelFormat::rgb888().equal(PixelFormat::bgr888()));
}

TEST(PixelFormatTest, SanityDepthAndByteChecks) {
  for (const PixelFormat* pf : {&PixelFormat::rgb888(), &PixelFormat::bgr888(), &PixelFormat::rgb565(),
                                &PixelFormat::rgb555(), &PixelFormat::rgb222(), &PixelFormat::rgb111(),
                                &PixelFormat::pal8(), &PixelFormat::argb8888(), &PixelFormat::rgbaBytes()}) {
    EXPECT_TRUE(pf->isSane()) << printed(*pf);
    PixelFormat copy = *pf;
    copy.depth = 0;
    copy.updateDepth();
    EXPECT_EQ(copy.depth, pf->trueColour ? pf->depth : 0) << printed(*pf);
  }
  struct Case {
    PixelFormat pf;
    bool sane;
  };
  const std::vector<Case> cases = {
      {PixelFormat(12, 12, false, true, 15, 15, 15, 8, 4, 0), false},          // bpp
      {PixelFormat(16, 17, false, true, 31, 63, 31, 11, 5, 0), false},         // depth above bpp
      {PixelFormat(16, 0, false, true, 31, 63, 31, 11, 5, 0), false},          // no depth
      {PixelFormat(16, 9, false, false, 0, 0, 0, 0, 0, 0), false},             // colour map above 8 bits
      {PixelFormat(16, 16, false, true, 31, 63, 31, 12, 5, 0), false},         // red past the pixel
      {PixelFormat(32, 24, false, true, 255, 255, 255, 16, 8, 0, 33), false},  // alpha shift past it
      {PixelFormat(32, 24, false, true, 255, 255, 255, 16, 8, 0, 32), true},   // no alpha bits at 32
      {PixelFormat(8, 8, true, false, 0, 0, 0, 0, 0, 0), true},
  };
  for (const Case& c : cases) EXPECT_EQ(c.pf.isSane(), c.sane) << printed(c.pf);

  EXPECT_TRUE(PixelFormat::rgb888().is888());
  EXPECT_TRUE(PixelFormat::rgbaBytes().is888());
  EXPECT_FALSE(PixelFormat::rgb565().is888());
  EXPECT_FALSE(PixelFormat(32, 24, false, true, 255, 255, 255, 16, 8, 4).is888());
  PixelFormat gap(32, 0, false, true, 255, 255, 255, 0, 16, 40);
  gap.updateDepth();
  EXPECT_EQ(gap.depth, 16);  // blue's shift of 40 covers nothing
}

TEST(PixelFormatTest, MakeLittleEndianMirrorsWholeByteChannels) {
  PixelFormat be = PixelFormat::rgb888();
  be.bigEndian = 1;
  EXPECT_TRUE(be.makeLittleEndian());
  EXPECT_FALSE(be.bigEndian);
  EXPECT_EQ(be.redShift, 8);
  EXPECT_EQ(be.greenShift, 16);
  EXPECT_EQ(be.blueShift, 24);
  EXPECT_EQ(be.alphaShift, 0);  // no alpha: left alone

  PixelFormat bea = PixelFormat::argb8888();
  bea.bigEndian = 1;
  EXPECT_TRUE(bea.makeLittleEndian());
  // Bytes A, R, G, B in memory.
  EXPECT_EQ(printed(bea), "depth 32 (32 bpp) little-endian bgra8888");
  EXPECT_EQ(bea.alphaShift, 0);

  PixelFormat be565 = PixelFormat::rgb565();
  be565.bigEndian = 1;
  const PixelFormat before = be565;
  EXPECT_FALSE(be565.makeLittleEndian());
  EXPECT_EQ(std::memcmp(&be565, &before, sizeof before), 0);

  PixelFormat be8 = PixelFormat::rgb222();
  be8.bigEndian = 1;
  EXPECT_TRUE(be8.makeLittleEndian());
  EXPECT_FALSE(be8.bigEndian);
  EXPECT_EQ(be8.redShift, 4);

  EXPECT_TRUE(PixelFormat::rgb888Host().equal(PixelFormat::rgb888()));
  EXPECT_TRUE(PixelFormat::bgr888Host().equal(PixelFormat::bgr888()));
  EXPECT_TRUE(PixelFormat::argb8888Host().equal(PixelFormat::argb8888()));
  EXPECT_TRUE(PixelFormat::rgbaBytesHost().equal(PixelFormat::rgbaBytes()));
}

std::vector<uint8_t> serialised(const PixelFormat& pf) {
  rdr::MemOutStream os;
  pf.write(os);
  auto* p = static_cast<const uint8_t*>(os.data());
  return {p, p + os.length()};
}

TEST(PixelFormatTest, SerialisedFormKeepsAlphaOnlyWhenTheDepthCountsIt) {
  // clang-format off
  const std::vector<uint8_t> argb = {32, 32, 0, 1, 0, 255, 0, 255, 0, 255, 16, 8, 0, 24, 0, 255};
  // clang-format on
  EXPECT_EQ(serialised(PixelFormat::argb8888()), argb);

  struct Case {
    std::vector<uint8_t> bytes;
    uint16_t alphaMax;
    uint8_t alphaShift;
  };
  const std::vector<Case> cases = {
      {argb, 255, 24},
      {{32, 24, 0, 1, 0, 255, 0, 255, 0, 255, 16, 8, 0, 24, 0, 255}, 0, 0},  // depth 24 leaves no room
      {{32, 32, 0, 1, 0, 255, 0, 255, 0, 255, 16, 8, 0, 24, 0, 0}, 0, 0},    // no alpha maximum
      {{32, 32, 7, 9, 0, 255, 0, 255, 0, 255, 16, 8, 0, 24, 0, 255}, 255, 24},
  };
  for (const Case& c : cases) {
    rdr::MemInStream is(c.bytes.data(), static_cast<int32_t>(c.bytes.size()));
    PixelFormat pf;
    pf.read(is);
    EXPECT_EQ(pf.alphaMax, c.alphaMax);
    EXPECT_EQ(pf.alphaShift, c.alphaShift);
    EXPECT_EQ(pf.redShift, 16);
    EXPECT_EQ(pf.redMax, 255);
    EXPECT_TRUE(is.atEnd());
  }
  // Any non-zero flag byte reads as true and is written back as 1.
  rdr::MemInStream is(cases[3].bytes.data(), 16);
  PixelFormat pf;
  pf.read(is);
  std::vector<uint8_t> bigArgb = argb;
  bigArgb[2] = 1;
  EXPECT_EQ(serialised(pf), bigArgb);

  rdr::MemInStream shortStream(argb.data(), 15);
  EXPECT_THROW(pf.read(shortStream), rdr::EndOfStream);
}

TEST(PixelFormatTest, ParseReadsPaletteAndChannelBitCounts) {
  struct Case {
    const char* text;
    bool ok;
    PixelFormat pf;  // when ok
  };
  const std::vector<Case> cases = {
      {"rgb565", true, PixelFormat::rgb565()},
      {"RGB888", true, PixelFormat::rgb888()},
      {"bgr888", true, PixelFormat::bgr888()},
      {"rgb111", true, PixelFormat::rgb111()},
      {"bgr233", true, PixelFormat(8, 8, false, true, 7, 7, 3, 0, 3, 6)},
      {"pal8", true, PixelFormat::pal8()},
      {"PAL3", true, PixelFormat(8, 3, false, false, 0, 0, 0, 0, 0, 0)},
      {"pal0", false, {}},
      {"pal9", false, {}},
      {"rgb56", false, {}},
      {"rgb5655", false, {}},
      {"rgb56x", false, {}},
      {"xyz565", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    // Parsing leaves the alpha fields alone.
    PixelFormat pf = PixelFormat::rgb888();
    pf.bigEndian = 1;
    ASSERT_EQ(pf.parse(c.text), c.ok);
    if (!c.ok) continue;
    EXPECT_TRUE(pf.equal(c.pf)) << printed(pf);
    EXPECT_FALSE(pf.bigEndian);
  }
  PixelFormat pf = PixelFormat::rgb888();
  EXPECT_FALSE(pf.parse("pal12"));
  EXPECT_FALSE(pf.trueColour);
  pf = PixelFormat::pal8();
  EXPECT_FALSE(pf.parse("junk"));
  EXPECT_TRUE(pf.trueColour);

  PixelFormat managedStart;
  managedStart.setBGR233();
  EXPECT_TRUE(managedStart.equal(cases[4].pf));
  EXPECT_EQ(printed(managedStart), "depth 8 (8 bpp) bgr233");
}

}  // namespace
