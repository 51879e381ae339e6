#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/base/rfb/PixelFormat.h"

namespace {

using rfb::FullFramePixelBuffer;
using rfb::ManagedPixelBuffer;
using rfb::PixelFormat;
using rfb::Point;
using rfb::Rect;

// Pixel (x, y) of a buffer holds x + 100 * y.
void numberPixels(FullFramePixelBuffer& pb) {
  const Rect& r = pb.getRect();
  for (int32_t y = r.y1; y < r.y2; ++y)
    for (int32_t x = r.x1; x < r.x2; ++x) pb.setPixel({x, y}, static_cast<uint32_t>(x + 100 * y));
}

TEST(PixelBufferTest, RectIntersectionAndText) {
  const Rect a(0, 0, 10, 10);
  EXPECT_EQ(a.intersect(Rect(5, -3, 20, 4)), Rect(5, 0, 10, 4));
  // Disjoint: an empty rectangle whose corners coincide.
  EXPECT_EQ(a.intersect(Rect(20, 30, 40, 50)), Rect(10, 10, 10, 10));
  EXPECT_TRUE(a.encloses(Rect(0, 0, 10, 10)));
  EXPECT_FALSE(a.encloses(Rect(0, 0, 11, 10)));
  char buf[Rect::kPrintSize];
  EXPECT_STREQ(Rect(-1, 2, 3, 4).print(buf), "-1,2 to 3,4");
  EXPECT_EQ(Rect(INT32_MIN, 0, INT32_MAX, 1).width(), int64_t{UINT32_MAX});
}

TEST(PixelBufferTest, PixelsOfEveryWidthAreStoredLeastSignificantByteFirst) {
  struct Case {
    PixelFormat pf;
    uint32_t value;
    uint32_t readBack;
    std::vector<uint8_t> bytes;
  };
  const std::vector<Case> cases = {
      {PixelFormat::rgb222(), 0x12345678, 0x78, {0x78}},
      {PixelFormat::rgb565(), 0x12345678, 0x5678, {0x78, 0x56}},
      {PixelFormat(24, 24, false, true, 255, 255, 255, 16, 8, 0), 0x12345678, 0x345678, {0x78, 0x56, 0x34}},
      {PixelFormat::rgb888(), 0x12345678, 0x12345678, {0x78, 0x56, 0x34, 0x12}},
  };
  for (const Case& c : cases) {
    ManagedPixelBuffer pb(c.pf, Rect(0, 0, 3, 2));
    pb.setPixel({1, 1}, c.value);
    EXPECT_EQ(pb.getPixel({1, 1}), c.readBack);
    int32_t stride = -1;
    const uint8_t* p = pb.getPixelsRW(Rect(1, 1, 2, 2), &stride);
    EXPECT_EQ(stride, 3);
    EXPECT_EQ(std::vector<uint8_t>(p, p + c.bytes.size()), c.bytes);
  }
  uint8_t byte = 0x5a;
  FullFramePixelBuffer odd(PixelFormat(12, 12, false, true, 15, 15, 15, 8, 4, 0), Rect(0, 0, 1, 1), nullptr, &byte, 0);
  odd.setPixel({0, 0}, 0xffffffff);
  EXPECT_EQ(byte, 0x5a);
  EXPECT_EQ(odd.getPixel({0, 0}), 0u);
}

TEST(PixelBufferTest, EmptyRequestsAndWindowsOntoOtherBuffers) {
  ManagedPixelBuffer pb(PixelFormat::rgb888(), Rect(10, 20, 18, 26));
  numberPixels(pb);
  int32_t stride = -1;
  EXPECT_EQ(pb.getPixelsRW(Rect(12, 22, 12, 25), &stride), nullptr);
  EXPECT_EQ(stride, 8);  // reported even for an empty rectangle

  // A window partly outside its parent covers the overlap, with the
  // requested corner at 0,0.
  FullFramePixelBuffer window(pb, Rect(15, 24, 30, 40));
  EXPECT_EQ(window.getRect(), Rect(0, 0, 3, 2));
  EXPECT_EQ(window.getPixel({0, 0}), 15u + 2400u);
  EXPECT_EQ(window.getPixel({2, 1}), 17u + 2500u);
  FullFramePixelBuffer inner(pb, Rect(5, 15, 12, 22));
  EXPECT_EQ(inner.getRect(), Rect(5, 5, 7, 7));
  EXPECT_EQ(inner.getPixel({5, 5}), 10u + 2000u);

  rfb::SubPixelBuffer sub(pb, Rect(16, 25, 40, 40), true);
  EXPECT_EQ(sub.getRect(), Rect(0, 0, 2, 1));
  stride = -1;
  EXPECT_EQ(sub.getPixelsR(Rect(1, 0, 1, 1), &stride), nullptr);
  EXPECT_EQ(stride, -1);  // untouched for an empty rectangle
  uint32_t got[2] = {};
  sub.getImage(got, Rect(0, 0, 2, 1));
  EXPECT_EQ(got[0], 16u + 2500u);
  EXPECT_EQ(got[1], 17u + 2500u);
  rfb::SubPixelBuffer same(pb, Rect(16, 25, 40, 40), false);
  EXPECT_EQ(same.getRect(), Rect(16, 25, 18, 26));

  // getImage with a destination stride; imageRect clips to the buffer.
  uint32_t block[3 * 4] = {};
  pb.getImage(block, Rect(11, 21, 13, 23), 3);
  EXPECT_EQ(block[0], 11u + 2100u);
  EXPECT_EQ(block[1], 12u + 2100u);
  EXPECT_EQ(block[3], 11u + 2200u);
  const uint32_t patch[4] = {1, 2, 3, 4};
  pb.imageRect(Rect(17, 25, 19, 27), patch);
  EXPECT_EQ(pb.getPixel({17, 25}), 1u);
  EXPECT_EQ(pb.getPixel({16, 25}), 16u + 2500u);
}

TEST(PixelBufferTest, OutOfBoundsRequestsFailTheInvariant) {
  ManagedPixelBuffer pb(PixelFormat::rgb888(), Rect(0, 0, 4, 4));
  int32_t stride = 0;
  EXPECT_DEATH((void)pb.getPixelsRW(Rect(0, 0, 5, 4), &stride),
               "rect.encloses\\(r\\).*getPixelsRW out of bounds: 0,0 to 5,4 outside 0,0 to 4,4");
  rfb::SubPixelBuffer sub(pb, Rect(1, 1, 3, 3), false);
  EXPECT_DEATH((void)sub.getPixelsR(Rect(0, 0, 2, 2), &stride),
               "getPixelsR out of bounds: 0,0 to 2,2 outside 1,1 to 3,3");
  EXPECT_DEATH(ManagedPixelBuffer(PixelFormat::rgb222(), Rect(32760, 0, 32768, 1)),
               "Rect\\(RgnRect\\(rect\\)\\) == rect");
  EXPECT_DEATH(pb.adoptData(new uint8_t[63], 63), "capacity_ >= sizeBytes\\(\\)");
}

TEST(PixelBufferTest, FormatChangesClearUnlessTheFormatIsEqual) {
  PixelFormat be8 = PixelFormat::rgb222();
  be8.bigEndian = 1;
  ManagedPixelBuffer pb(PixelFormat::rgb222(), Rect(0, 0, 4, 4));
  pb.setPixel({2, 2}, 0x2a);
  pb.setPF(be8);  // only the byte order of one-byte pixels differs
  EXPECT_EQ(pb.getPixel({2, 2}), 0x2au);
  pb.setPF(PixelFormat::rgb565());
  EXPECT_EQ(pb.sizeBytes(), 32u);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(pb.getPixel({x, y}), 0u);
}

TEST(PixelBufferTest, ResizingReusesStorageAndKeepsPixelsOnlyWhenAsked) {
  ManagedPixelBuffer pb(PixelFormat::rgb888(), Rect(5, 5, 9, 9));
  numberPixels(pb);
  pb.setSize({4, 4});
  EXPECT_EQ(pb.getPixel({6, 7}), 6u + 700u);  // same size: untouched

  pb.setSize({2, 2});
  EXPECT_EQ(pb.getRect(), Rect(5, 5, 7, 7));
  EXPECT_EQ(pb.getPixel({6, 6}), 0u);  // not preserved: cleared
  EXPECT_EQ(pb.getStride(), 2);
  EXPECT_EQ(pb.capacity(), 16u);  // a fresh array of the new size

  numberPixels(pb);
  pb.preserveOnResize = true;
  pb.setSize({3, 1});
  EXPECT_EQ(pb.getPixel({5, 5}), 5u + 500u);
  EXPECT_EQ(pb.getPixel({6, 5}), 6u + 500u);
  EXPECT_EQ(pb.getPixel({7, 5}), 0u);

  // updateStorage keeps a larger array for a smaller rectangle.
  uint8_t* array = new uint8_t[400];
  pb.adoptData(array, 400, Rect(0, 0, 10, 10));
  EXPECT_EQ(pb.getStride(), 10);
  pb.setPF(PixelFormat::rgb565());
  EXPECT_EQ(pb.getPixelsR(Rect(0, 0, 1, 1), nullptr), array);
  EXPECT_EQ(pb.capacity(), 400u);

  uint8_t* released = pb.releaseData();
  EXPECT_EQ(released, array);
  EXPECT_EQ(pb.getRect(), Rect(0, 0, 0, 0));
  EXPECT_EQ(pb.capacity(), 0u);
  EXPECT_EQ(pb.getStride(), 0);
  delete[] released;
}

// Sizes and offsets of buffers near the 16-bit limits, checked on their
// arithmetic without allocating gigabytes.
TEST(PixelBufferTest, LargeBuffersMeasureInSixtyFourBits) {
  ManagedPixelBuffer pb(PixelFormat::rgb888(), Rect(0, 0, 0, 0));
  // 4 x 32767 x 32767 does not fit 32 bits.
  pb.adoptData(new uint8_t[16], size_t{1} << 33, Rect(0, 0, 32767, 32767));
  EXPECT_EQ(pb.sizeBytes(), size_t{4} * 32767 * 32767);
  EXPECT_EQ(pb.getStride(), 32767);
  pb.adoptData(new uint8_t[16], 16, Rect(0, 0, -5, 10));
  EXPECT_EQ(pb.sizeBytes(), 0u);

  // The byte offset of the last pixel of a 65535 x 65535 frame.
  uint8_t pixel[4] = {};
  FullFramePixelBuffer big(PixelFormat::rgb888(), Rect(0, 0, 65535, 65535), nullptr, pixel, 0);
  const uint8_t* last = big.getPixelsRW(Rect(65534, 65534, 65535, 65535), nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(last) - reinterpret_cast<uintptr_t>(pixel),
            uint64_t{4} * (65534 + uint64_t{65534} * 65535));
}

TEST(PixelBufferTest, BufferChangedReportsTheWholeExtentClampedToSixteenBits) {
  // A buffer that records the regions it is told about.
  class Watching : public FullFramePixelBuffer {
   public:
    explicit Watching(const Rect& r) : FullFramePixelBuffer(PixelFormat::rgb222(), r, nullptr, nullptr, 1) {}
    void regionChanged(const RegionRec& region) override {
      ASSERT_EQ(miRegionNumRects(&region), 1);
      seen.push_back(region.extents);
    }
    std::vector<BoxRec> seen;
  };
  struct Case {
    Rect rect;
    BoxRec want;
  };
  const Case cases[] = {
      {Rect(3, 4, 20, 30), {3, 4, 20, 30}},
      {Rect(-40000, -5, 40000, 70000), {-32768, -5, 32767, 32767}},
  };
  for (const Case& c : cases) {
    // Only the extent matters: no pixel is ever read.
    Watching pb(c.rect);
    pb.bufferChanged();
    ASSERT_EQ(pb.seen.size(), 1u);
    EXPECT_EQ(pb.seen[0].x1, c.want.x1);
    EXPECT_EQ(pb.seen[0].y1, c.want.y1);
    EXPECT_EQ(pb.seen[0].x2, c.want.x2);
    EXPECT_EQ(pb.seen[0].y2, c.want.y2);
  }
}

TEST(PixelBufferTest, CopyRowsHonoursStridesAndCopiesNothingForAnEmptySize) {
  const uint16_t src[] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint16_t dst[9] = {};
  rfb::copyRows(src, dst, {2, 2}, 2, 4, 3);
  EXPECT_EQ(std::vector<uint16_t>(dst, dst + 6), (std::vector<uint16_t>{1, 2, 0, 5, 6, 0}));
  rfb::copyRows(src, dst, {0, 2}, 2);
  rfb::copyRows(src, dst, {3, 0}, 2);
  EXPECT_EQ(dst[2], 0);
}

}  // namespace
