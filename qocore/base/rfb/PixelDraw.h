#pragma once
// Raw pixel routines on writable pixel buffers: fills, XOR, masked copies
// and fills, rotated row copies, moves inside one buffer (also box by box
// in an overlap-safe order), tiled copies between buffers, one-pixel
// lines, borders, rounded-rectangle outlines and vertical gradients.
//
// Pixel values are already in the destination's format (the gradient
// encodes its colours itself).  Every routine clips to the destination's
// rect first, so rectangles may stick out.  Buffers whose bpp is not 8,
// 16, 24 or 32 are left unchanged.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "qocore/base/region/miregion.h"
#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/base/rfb/Rect.h"

namespace rfb {

// count copies of the pixel; bytes per pixel outside 1..4 writes nothing.
void fillPixels(void* mem, uint32_t pixel, size_t count, int bytesPerPixel) noexcept;
void fillRect(WritablePixelBuffer& pb, const Rect& r, uint32_t pixel);
// XORs every pixel with `pixel` (3-byte pixels as one 24-bit value).
void xorRect(WritablePixelBuffer& pb, const Rect& r, uint32_t pixel);
// Top, left, bottom and right bands of the given thickness.
void drawBorder(WritablePixelBuffer& pb, const Rect& r, uint32_t pixel, int thickness);
// Bresenham from p1 towards p2; p1 is drawn, p2 is not.
void drawLine(WritablePixelBuffer& pb, Point p1, Point p2, uint32_t pixel);
// An outline with corners of the given radius (reduced to half the
// smaller side).
void drawRoundedRect(WritablePixelBuffer& pb, const Rect& r, int radius, uint32_t pixel);
// Rows from the top colour to the bottom colour (red, green, blue, each
// 0..255).
void gradientRect(WritablePixelBuffer& pb, const Rect& r, const uint32_t (&top)[3], const uint32_t (&bottom)[3]);

// Copies a source pixel where its mask bit is set.  Source and mask start
// at r's top-left corner; the mask has one bit per pixel, most significant
// first, `maskBitOffset` added to every column; srcStride in pixels (0 =
// the width of r), maskStride in bytes (0 = (width + 7) / 8).
void maskRect(WritablePixelBuffer& pb, const Rect& r, const void* src, const uint8_t* mask, int32_t srcStride,
              int32_t maskStride, int maskBitOffset);
void maskFillRect(WritablePixelBuffer& pb, const Rect& r, uint32_t pixel, const uint8_t* mask, int32_t maskStride,
                  int maskBitOffset);

// Copies into a dstSize destination turned by quarterTurns clockwise
// quarter turns (0..3).  Strides in pixels; 0 is the natural width (the
// destination's width; the source's is that width for 0 and 2 turns and
// the destination's height for 1 and 3).
void copyRowsRotated(const void* src, void* dst, Size dstSize, int bytesPerPixel, int32_t srcStride, int32_t dstStride,
                     int quarterTurns) noexcept;

// Each pixel of dst (clipped so that its source lies inside the buffer)
// receives the pixel at (x - delta.x, y - delta.y).
void moveRect(WritablePixelBuffer& pb, const Rect& dst, Point delta);

// moveRect for every box of a banded box list (bands of equal y1, top to
// bottom, each left to right), visited so that no box overwrites pixels a
// later box still has to read.  Box is any type with x1, y1, x2, y2.
template <typename Box>
void moveRegion(WritablePixelBuffer& pb, const Box* boxes, size_t count, Point delta);

// Copies every box of a box list from src (at the box moved by srcOffset)
// into dst, in tiles of at most tile.width x tile.height pixels, left to
// right, then top to bottom.  A tile side of 0 or less takes the whole box
// on that axis.
template <typename Box>
void copyRegion(const PixelBuffer& src, Point srcOffset, WritablePixelBuffer& dst, const Box* boxes, size_t count,
                Size tile);

// The same over the boxes of a region.
inline void moveRegion(WritablePixelBuffer& pb, const RegionRec& region, Point delta) {
  moveRegion(pb, miRegionRects(&region), static_cast<size_t>(miRegionNumRects(&region)), delta);
}
inline void copyRegion(const PixelBuffer& src, Point srcOffset, WritablePixelBuffer& dst, const RegionRec& region,
                       Size tile) {
  copyRegion(src, srcOffset, dst, miRegionRects(&region), static_cast<size_t>(miRegionNumRects(&region)), tile);
}

// ---- Templates ----

template <typename Box>
void moveRegion(WritablePixelBuffer& pb, const Box* boxes, size_t count, Point delta) {
  if (count == 0) return;
  const bool bandsUp = delta.y > 0 || (delta.y == 0 && delta.x > 0);
  const bool rightToLeft = delta.x > 0 || (delta.x == 0 && bandsUp);
  // Band limits [first, last) in list order.
  auto bandEnd = [&](size_t first) {
    size_t last = first + 1;
    while (last < count && boxes[last].y1 == boxes[first].y1) ++last;
    return last;
  };
  auto moveBand = [&](size_t first, size_t last) {
    for (size_t i = 0; i < last - first; ++i) {
      const Box& b = boxes[rightToLeft ? last - 1 - i : first + i];
      moveRect(pb, Rect(b.x1, b.y1, b.x2, b.y2), delta);
    }
  };
  if (!bandsUp) {
    for (size_t first = 0; first < count;) {
      size_t last = bandEnd(first);
      moveBand(first, last);
      first = last;
    }
    return;
  }
  for (size_t last = count; last > 0;) {
    size_t first = last - 1;
    while (first > 0 && boxes[first - 1].y1 == boxes[last - 1].y1) --first;
    moveBand(first, last);
    last = first;
  }
}

template <typename Box>
void copyRegion(const PixelBuffer& src, Point srcOffset, WritablePixelBuffer& dst, const Box* boxes, size_t count,
                Size tile) {
  for (size_t i = 0; i < count; ++i) {
    const Rect box(boxes[i].x1, boxes[i].y1, boxes[i].x2, boxes[i].y2);
    // 64-bit steps: a tile side near 2^31 must not wrap the loop.
    const int64_t stepX = tile.width > 0 ? tile.width : box.width();
    const int64_t stepY = tile.height > 0 ? tile.height : box.height();
    for (int64_t y = box.y1; y < box.y2; y += stepY) {
      for (int64_t x = box.x1; x < box.x2; x += stepX) {
        const Rect t(static_cast<int32_t>(x), static_cast<int32_t>(y),
                     static_cast<int32_t>(std::min<int64_t>(x + stepX, box.x2)),
                     static_cast<int32_t>(std::min<int64_t>(y + stepY, box.y2)));
        int32_t stride = 0;
        const uint8_t* pixels = src.getPixelsR(t.translate(srcOffset), &stride);
        dst.imageRect(t, pixels, stride);
      }
    }
  }
}

}  // namespace rfb
