#include "qocore/base/rfb/PixelTrans.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "qocore/base/rfb/PixelAccess.h"

namespace rfb {

namespace {

inline uint32_t div255(uint32_t x) { return (x + 127) / 255; }

// A format prepared for decoding and encoding many pixels: shifts of 32
// or more become channels that read and write 0, and channel scaling
// goes through tables built once.
class Codec {
 public:
  Codec(const PixelFormat& pf, const ColourMap* cm)
      : cm_(cm), bpp_(pf.bpp), big_(pf.bigEndian != 0), trueColour_(pf.trueColour != 0) {
    if (!trueColour_) return;
    const uint16_t maxima[4] = {pf.redMax, pf.greenMax, pf.blueMax, pf.alphaMax};
    const uint8_t shifts[4] = {pf.redShift, pf.greenShift, pf.blueShift, pf.alphaShift};
    for (int i = 0; i < 4; ++i) {
      Channel& ch = ch_[i];
      const bool inRange = shifts[i] < 32;
      ch.shift = inRange ? shifts[i] : 0;
      ch.max = inRange ? maxima[i] : 0;
      ch.keep = inRange ? ~0u : 0u;
    }
    scaleRgb_ = pf.redMax != 255 || pf.greenMax != 255 || pf.blueMax != 255;
    alphaMode_ = pf.alphaMax == 0 ? kNoAlpha : pf.alphaMax == 255 ? kAlpha8 : kAlphaScaled;
    for (int i = 0; i < 4; ++i) {
      if (i < 3 ? !scaleRgb_ : alphaMode_ != kAlphaScaled) continue;
      const uint32_t m = maxima[i];
      Channel& ch = ch_[i];
      ch.decode.resize(size_t{m} + 1);
      for (uint32_t v = 0; v <= m; ++v) ch.decode[v] = m == 0 ? 0 : static_cast<uint8_t>((v * 255 + m / 2) / m);
      for (uint32_t v = 0; v < 256; ++v) ch.encode[v] = static_cast<uint16_t>(div255(v * m));
    }
  }

  Colour decode(uint32_t v) const {
    if (big_) v = swapPixel(v, bpp_);
    Colour c;
    if (!trueColour_) {
      c.a = 255;
      if (cm_) cm_->lookup(v, &c.r, &c.g, &c.b);
      return c;
    }
    c.r = (v >> ch_[0].shift) & ch_[0].max;
    c.g = (v >> ch_[1].shift) & ch_[1].max;
    c.b = (v >> ch_[2].shift) & ch_[2].max;
    if (scaleRgb_) {
      c.r = ch_[0].decode[c.r];
      c.g = ch_[1].decode[c.g];
      c.b = ch_[2].decode[c.b];
    }
    if (alphaMode_ == kNoAlpha) {
      c.a = 255;
    } else {
      c.a = (v >> ch_[3].shift) & ch_[3].max;
      if (alphaMode_ == kAlphaScaled) c.a = ch_[3].decode[c.a];
    }
    return c;
  }

  uint32_t encode(const Colour& c) const {
    // Straight-alpha input may exceed 255; a larger value would spill into
    // the next channel.
    uint32_t r = std::min(c.r, 255u), g = std::min(c.g, 255u), b = std::min(c.b, 255u), a = std::min(c.a, 255u);
    uint32_t v;
    if (!trueColour_) {
      v = cm_ ? cm_->pixelFor(r, g, b, a) : 0;
    } else {
      if (scaleRgb_) {
        r = ch_[0].encode[r];
        g = ch_[1].encode[g];
        b = ch_[2].encode[b];
      }
      if (alphaMode_ == kNoAlpha)
        a = 0;
      else if (alphaMode_ == kAlphaScaled)
        a = ch_[3].encode[a];
      v = (r & ch_[0].keep) << ch_[0].shift | (g & ch_[1].keep) << ch_[1].shift | (b & ch_[2].keep) << ch_[2].shift |
          (a & ch_[3].keep) << ch_[3].shift;
    }
    return big_ ? swapPixel(v, bpp_) : v;
  }

 private:
  struct Channel {
    unsigned shift = 0;
    uint32_t max = 0;
    uint32_t keep = 0;
    std::vector<uint8_t> decode;  // channel value -> 0..255
    uint16_t encode[256] = {};    // 0..255 -> channel value
  };
  enum AlphaMode { kNoAlpha, kAlpha8, kAlphaScaled };

  const ColourMap* cm_;
  int bpp_;
  bool big_;
  bool trueColour_;
  bool scaleRgb_ = false;
  AlphaMode alphaMode_ = kNoAlpha;
  Channel ch_[4];
};

int32_t clamp32(int64_t v) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

struct CopyOp {
  void operator()(const Colour& s, Colour& d) const { d = s; }
};
struct OverOp {
  void operator()(const Colour& s, Colour& d) const { opOver(s, d); }
};
struct AnyOp {
  CompositeOp fn;
  void operator()(const Colour& s, Colour& d) const { fn(s, d); }
};

struct Span {
  const uint8_t* src;
  ptrdiff_t srcStep;
  uint8_t* dst;
  ptrdiff_t dstStep;
  int32_t width;
  int32_t height;
};

template <int DB, int SB, typename Op>
void loop(const Codec& sc, const Codec& dc, const Span& sp, Op op) {
  for (int32_t y = 0; y < sp.height; ++y) {
    const uint8_t* s = sp.src + y * sp.srcStep;
    uint8_t* d = sp.dst + y * sp.dstStep;
    for (int32_t x = 0; x < sp.width; ++x, s += SB, d += DB) {
      const Colour sv = sc.decode(readPixel<SB>(s));
      Colour dv;
      // A copy never reads the destination.
      if constexpr (!std::is_same_v<Op, CopyOp>) dv = dc.decode(readPixel<DB>(d));
      op(sv, dv);
      writePixel<DB>(d, dc.encode(dv));
    }
  }
}

template <int DB, int SB>
void member(const Codec& sc, const Codec& dc, const Span& sp, CompositeOp op) {
  if (op == opCopy)
    loop<DB, SB>(sc, dc, sp, CopyOp{});
  else if (op == opOver)
    loop<DB, SB>(sc, dc, sp, OverOp{});
  else
    loop<DB, SB>(sc, dc, sp, AnyOp{op});
}

template <int DB>
void bySource(int srcBpp, const Codec& sc, const Codec& dc, const Span& sp, CompositeOp op) {
  switch (srcBpp) {
    case 8:
      member<DB, 1>(sc, dc, sp, op);
      break;
    case 16:
      member<DB, 2>(sc, dc, sp, op);
      break;
    case 24:
      member<DB, 3>(sc, dc, sp, op);
      break;
    case 32:
      member<DB, 4>(sc, dc, sp, op);
      break;
    default:
      break;
  }
}

bool knownBpp(int bpp) { return bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32; }

}  // namespace

// ---- Operations ----

void opCopy(const Colour& s, Colour& d) noexcept { d = s; }

void opOver(const Colour& s, Colour& d) noexcept {
  const uint32_t k = 255 - s.a;
  d.r = s.r + div255(d.r * k);
  d.g = s.g + div255(d.g * k);
  d.b = s.b + div255(d.b * k);
  d.a = s.a + div255(d.a * k);
}

void opGrey(const Colour& s, Colour& d) noexcept {
  const uint32_t l = (19661 * s.r + 38666 * s.g + 7209 * s.b) >> 16;
  d = {l, l, l, s.a};
}

void opGreyOver(const Colour& s, Colour& d) noexcept {
  const uint32_t l = (19661 * s.r + 38666 * s.g + 7209 * s.b) >> 16;
  const uint32_t k = 255 - s.a;
  d.r = l + div255(d.r * k);
  d.g = l + div255(d.g * k);
  d.b = l + div255(d.b * k);
  d.a = s.a + div255(d.a * k);
}

void opPremultiply(const Colour& s, Colour& d) noexcept {
  d = {div255(s.r * s.a), div255(s.g * s.a), div255(s.b * s.a), s.a};
}

void opUnpremultiply(const Colour& s, Colour& d) noexcept {
  if (s.a == 0) {
    d = {0, 0, 0, 0};
    return;
  }
  const uint32_t half = s.a / 2;
  d = {(s.r * 255 + half) / s.a, (s.g * 255 + half) / s.a, (s.b * 255 + half) / s.a, s.a};
}

void opHalfOver(const Colour& s, Colour& d) noexcept {
  const uint32_t k = 255 - div255(s.a * 127);
  d.r = div255(s.r * 127 + d.r * k);
  d.g = div255(s.g * 127 + d.g * k);
  d.b = div255(s.b * 127 + d.b * k);
  d.a = div255(s.a * 127 + d.a * k);
}

// ---- Pixels ----

Colour decodePixel(const PixelFormat& pf, uint32_t pixel, const ColourMap* cm) noexcept {
  return Codec(pf, cm).decode(pixel);
}

uint32_t encodePixel(const PixelFormat& pf, const Colour& c, const ColourMap* cm) noexcept {
  return Codec(pf, cm).encode(c);
}

void translatePixels(const PixelBuffer& src, Point srcTl, WritablePixelBuffer& dst, const Rect& r, CompositeOp op) {
  const int srcBpp = src.getPf().bpp, dstBpp = dst.getPf().bpp;
  if (r.isEmpty() || !knownBpp(srcBpp) || !knownBpp(dstBpp)) return;
  const Rect srcRect(srcTl.x, srcTl.y, clamp32(int64_t{srcTl.x} + r.width()), clamp32(int64_t{srcTl.y} + r.height()));
  int32_t srcStride = 0, dstStride = 0;
  Span sp;
  sp.src = src.getPixelsR(srcRect, &srcStride);
  sp.dst = dst.getPixelsRW(r, &dstStride);
  sp.srcStep = ptrdiff_t{srcStride} * (srcBpp / 8);
  sp.dstStep = ptrdiff_t{dstStride} * (dstBpp / 8);
  sp.width = static_cast<int32_t>(r.width());
  sp.height = static_cast<int32_t>(r.height());
  const Codec sc(src.getPf(), src.getColourMap());
  const Codec dc(dst.getPf(), dst.getColourMap());
  switch (dstBpp) {
    case 8:
      bySource<1>(srcBpp, sc, dc, sp, op);
      break;
    case 16:
      bySource<2>(srcBpp, sc, dc, sp, op);
      break;
    case 24:
      bySource<3>(srcBpp, sc, dc, sp, op);
      break;
    case 32:
      bySource<4>(srcBpp, sc, dc, sp, op);
      break;
    default:
      break;
  }
}

void transRect(const PixelBuffer& src, Point srcPt, WritablePixelBuffer& dst, const Rect& dstRect, CompositeOp op) {
  // The source's rect in destination coordinates, in 64 bits.
  const int64_t dx = int64_t{dstRect.x1} - srcPt.x, dy = int64_t{dstRect.y1} - srcPt.y;
  const Rect& sr = src.getRect();
  const Rect srcInDst(clamp32(sr.x1 + dx), clamp32(sr.y1 + dy), clamp32(sr.x2 + dx), clamp32(sr.y2 + dy));
  const Rect c = dstRect.intersect(dst.getRect()).intersect(srcInDst);
  if (c.isEmpty()) return;
  const Point from{clamp32(c.x1 - dx), clamp32(c.y1 - dy)};
  if (op == opCopy || (op == opOver && src.getPf().alphaMax == 0)) {
    if (src.getPf().equal(dst.getPf())) {
      int32_t stride = 0;
      const uint8_t* pixels =
          src.getPixelsR(Rect(from.x, from.y, clamp32(from.x + c.width()), clamp32(from.y + c.height())), &stride);
      dst.imageRect(c, pixels, stride);
      return;
    }
    op = opCopy;
  }
  translatePixels(src, from, dst, c, op);
}

namespace {

template <int DB>
void blendLoop(const Codec& dc, uint8_t* base, ptrdiff_t step, const uint8_t* mask, int32_t maskStride, int32_t w,
               int32_t h, const Colour& c) {
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* d = base + y * step;
    const uint8_t* m = mask + ptrdiff_t{y} * maskStride;
    for (int32_t x = 0; x < w; ++x, d += DB) {
      const uint32_t cover = m[x];
      Colour dv = dc.decode(readPixel<DB>(d));
      const uint32_t k = 255 - div255(cover * c.a);
      dv.r = div255(cover * c.r + dv.r * k);
      dv.g = div255(cover * c.g + dv.g * k);
      dv.b = div255(cover * c.b + dv.b * k);
      dv.a = div255(cover * c.a + dv.a * k);
      writePixel<DB>(d, dc.encode(dv));
    }
  }
}

}  // namespace

void blendMask(WritablePixelBuffer& dst, const Rect& r, const Colour& colour, const uint8_t* mask, int32_t maskStride) {
  const int bpp = dst.getPf().bpp;
  const Rect c = r.intersect(dst.getRect());
  if (c.isEmpty() || !knownBpp(bpp)) return;
  if (maskStride == 0) maskStride = static_cast<int32_t>(r.width());
  mask += (int64_t{c.y1} - r.y1) * maskStride + (int64_t{c.x1} - r.x1);
  int32_t stride = 0;
  uint8_t* base = dst.getPixelsRW(c, &stride);
  const ptrdiff_t step = ptrdiff_t{stride} * (bpp / 8);
  const Codec dc(dst.getPf(), dst.getColourMap());
  const auto w = static_cast<int32_t>(c.width()), h = static_cast<int32_t>(c.height());
  switch (bpp) {
    case 8:
      blendLoop<1>(dc, base, step, mask, maskStride, w, h, colour);
      break;
    case 16:
      blendLoop<2>(dc, base, step, mask, maskStride, w, h, colour);
      break;
    case 24:
      blendLoop<3>(dc, base, step, mask, maskStride, w, h, colour);
      break;
    case 32:
      blendLoop<4>(dc, base, step, mask, maskStride, w, h, colour);
      break;
    default:
      break;
  }
}

}  // namespace rfb
