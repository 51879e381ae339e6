#pragma once
// qoutil::Scaler: resamples a source pixel buffer to another size and, in
// the same pass, converts it to another pixel format.  Every destination
// pixel is the exact area average of the source pixels under it: source
// column i covers [i*dstW, (i+1)*dstW) and destination column j covers
// [j*srcW, (j+1)*srcW) of a common integer grid (rows likewise), and the
// averages are taken in fixed point with 2^23 reciprocals, so the inner
// loops neither divide nor leave 32 bits.  A kernel, chosen once per change
// of format or size, does the work for one pair of formats.

#include <cstdint>

#include "qocore/base/plat/MBuf.h"
#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/base/rfb/PixelFormat.h"
#include "qocore/base/rfb/Rect.h"

namespace qoutil {

class Scaler : public rfb::ImageGetter {
 public:
  // The whole source size and the whole scaled size (x = width, y =
  // height).
  struct Coords {
    rfb::Point srcSz;
    rfb::Point dstSz;
  };
  // One row of per-channel sums (red, green, blue, alpha).
  struct Accum {
    uint32_t c[4];
  };
  // The source pixels under one destination column: `count` of them from
  // `first` (relative to the rectangle's first source pixel); the first
  // and last overlap the column by their weights, any between lie wholly
  // inside it.
  struct Span {
    int32_t first;
    int32_t count;
    uint32_t firstWeight;
    uint32_t lastWeight;
  };
  // What a kernel is given: the destination rectangle's size, its first
  // pixel and stride, the source's first pixel and stride (strides in
  // pixels), both formats and colour maps, where the source and the
  // destination start on the grid, the sizes, the accumulator row and room
  // for the columns' spans.
  struct Job {
    rfb::Size size;
    uint8_t* dst;
    int32_t dstStride;
    const rfb::PixelFormat* dstPf;
    const rfb::ColourMap* dstCm;
    const uint8_t* src;
    int32_t srcStride;
    const rfb::PixelFormat* srcPf;
    const rfb::ColourMap* srcCm;
    int64_t srcStartX, srcStartY;
    int64_t dstStartX, dstStartY;
    Coords coords;
    Accum* accum;
    Span* spans;
  };
  using ScaleKernel = void (*)(const Job& job);

  Scaler() = default;
  ~Scaler() override = default;
  Scaler(const Scaler&) = delete;
  Scaler& operator=(const Scaler&) = delete;

  // The source (not owned; it must outlive every getImage) and its size;
  // with takeFormat the destination takes its format and colour map.
  // Chooses the kernel.
  void setSource(const rfb::PixelBuffer* pb, bool takeFormat);
  // Chooses the kernel again after dstSz or the destination format
  // changed; nothing without a source.
  void chooseKernel();
  // Writes rectangle r of the scaled image into dst (stride in pixels, 0 =
  // r's width).  Throws plat::Exception when no kernel serves the formats.
  void getImage(void* dst, const rfb::Rect& r, int32_t dstStride = 0) const override;

  // The kernel for a pair of formats, null when there is none.
  [[nodiscard]] static ScaleKernel selectKernel(const rfb::PixelFormat& src, const rfb::PixelFormat& dst);
  // Equal formats and sizes: rows copied unchanged.
  static void copyKernel(const Job& job);

  // Users set dstSz, the destination format and colour map directly and
  // then call chooseKernel().
  Coords coords_{};
  rfb::PixelFormat dstPf;
  const rfb::ColourMap* dstCm = nullptr;

 private:
  // Zero between rows; as long as the widest rectangle asked for so far.
  mutable plat::MBuf<Accum> accum;
  mutable plat::MBuf<Span> spans;
  const rfb::PixelBuffer* source = nullptr;
  ScaleKernel kernel = nullptr;
};

}  // namespace qoutil
