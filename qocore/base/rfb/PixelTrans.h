#pragma once
// Pixel translation and compositing: every pixel is decoded into a
// working colour of four 0..255 channels, combined with the destination's
// working colour by a compositing operation, and encoded back into the
// destination's format.  Colours are premultiplied by alpha except where
// an operation says otherwise; rounding divisions by 255 are
// (x + 127) / 255.

#include <cstdint>

#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/base/rfb/PixelFormat.h"
#include "qocore/base/rfb/Rect.h"

namespace rfb {

// A working colour.
struct Colour {
  uint32_t r = 0;
  uint32_t g = 0;
  uint32_t b = 0;
  uint32_t a = 0;
  bool operator==(const Colour&) const = default;
};

// Rewrites the destination colour d from the source colour s.
using CompositeOp = void (*)(const Colour& s, Colour& d);

// d = s.
void opCopy(const Colour& s, Colour& d) noexcept;
// Porter-Duff source over destination.
void opOver(const Colour& s, Colour& d) noexcept;
// The source's luminance as grey, with its alpha.
void opGrey(const Colour& s, Colour& d) noexcept;
// The source's luminance as grey, over the destination.
void opGreyOver(const Colour& s, Colour& d) noexcept;
// Straight alpha to premultiplied.
void opPremultiply(const Colour& s, Colour& d) noexcept;
// Premultiplied to straight alpha.
void opUnpremultiply(const Colour& s, Colour& d) noexcept;
// The source at half strength over the destination.
void opHalfOver(const Colour& s, Colour& d) noexcept;

// The working colour of a pixel value.  A colour-map pixel without a
// colour map is opaque black.
[[nodiscard]] Colour decodePixel(const PixelFormat& pf, uint32_t pixel, const ColourMap* cm) noexcept;
// The pixel value of a working colour; channels above 255 are taken as
// 255 (straight-alpha input does arrive).  0 for a colour-map format
// without a colour map.
[[nodiscard]] uint32_t encodePixel(const PixelFormat& pf, const Colour& c, const ColourMap* cm) noexcept;

// Combines every source pixel at (x - dstRect.x1 + srcPt.x, y - dstRect.y1
// + srcPt.y) into the destination pixel (x, y) of dstRect, clipped to both
// buffers.  Equal formats with a copy-like operation copy rows.
void transRect(const PixelBuffer& src, Point srcPt, WritablePixelBuffer& dst, const Rect& dstRect, CompositeOp op);
// The per-pixel loop over an already clipped destination rectangle whose
// source starts at srcTl.
void translatePixels(const PixelBuffer& src, Point srcTl, WritablePixelBuffer& dst, const Rect& dstRect,
                     CompositeOp op);
// Draws a premultiplied colour through an 8-bit coverage mask (one byte
// per pixel starting at r's top-left corner; maskStride in bytes, 0 = the
// width of r).
void blendMask(WritablePixelBuffer& dst, const Rect& r, const Colour& colour, const uint8_t* mask, int32_t maskStride);

}  // namespace rfb
