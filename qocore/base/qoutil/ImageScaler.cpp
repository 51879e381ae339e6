#include "qocore/base/qoutil/ImageScaler.h"

#include <algorithm>
#include <cstring>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/rfb/PixelAccess.h"

namespace qoutil {

namespace {

using rfb::clampTo32;

using rfb::PixelFormat;

// Fraction bits of the reciprocals: 255 x 2^23 stays below 2^31, so every
// sum fits 32 bits.
constexpr int kFrac = 23;

// The four channel sums of a pixel, worked on together.  Red, green,
// blue, alpha for the decoding members; byte order for the byte-lane ones.
using V4 = uint32_t __attribute__((vector_size(16)));

// The channels of a true-colour format (red, green, blue, alpha).
struct RuntimeLayout {
  explicit RuntimeLayout(const PixelFormat& pf)
      : shift{pf.redShift, pf.greenShift, pf.blueShift, pf.alphaShift},
        max{pf.redMax, pf.greenMax, pf.blueMax, pf.alphaMax} {}
  uint32_t shift[4];
  uint32_t max[4];
};

// A preset's channels, known when the kernel is compiled.
template <uint32_t RS, uint32_t GS, uint32_t BS, uint32_t RM, uint32_t GM, uint32_t BM>
struct FixedLayout {
  explicit FixedLayout(const PixelFormat&) {}
  static constexpr uint32_t shift[4] = {RS, GS, BS, 0};
  static constexpr uint32_t max[4] = {RM, GM, BM, 0};
};

// Equal formats: raw channel values, neither scaled nor swapped.
template <int Bytes, int N, class Layout>
struct RawReader {
  static constexpr int kBytes = Bytes;
  RawReader(const PixelFormat& pf, const rfb::ColourMap*) : l(pf) {}
  V4 read(const uint8_t* p) const {
    const uint32_t v = rfb::readPixel<Bytes>(p);
    V4 c{};
    for (int i = 0; i < N; ++i) c[i] = rfb::shiftRight(v, l.shift[i]) & l.max[i];
    return c;
  }
  Layout l;
};

template <int Bytes, int N, class Layout>
struct RawWriter {
  static constexpr int kBytes = Bytes;
  RawWriter(const PixelFormat& pf, const rfb::ColourMap*) : l(pf) {}
  void write(uint8_t* p, V4 c) const {
    uint32_t v = 0;
    for (int i = 0; i < N; ++i) v |= rfb::shiftLeft(c[i], l.shift[i]);
    rfb::writePixel<Bytes>(p, v);
  }
  Layout l;
};

// Equal 32-bit formats whose N channels are the pixel's first N bytes
// (rgb888 and argb8888 in memory): each byte is a lane of its own, which
// gives the raw members' results without shifting.  Bytes past N are
// written 0.
template <int N>
struct ByteLanes {
  static constexpr int kBytes = 4;
  ByteLanes(const PixelFormat&, const rfb::ColourMap*) {}
  V4 read(const uint8_t* p) const { return V4{p[0], p[1], p[2], N == 4 ? p[3] : 0u}; }
  void write(uint8_t* p, V4 c) const {
    for (int i = 0; i < 4; ++i) p[i] = i < N ? static_cast<uint8_t>(c[i]) : 0;
  }
};

// Any format, decoded to 0..255 per channel (and alpha when Alpha is set:
// 255 for a source without alpha and for colour-map entries).
template <int Bytes, bool Alpha>
struct GeneralReader {
  static constexpr int kBytes = Bytes;
  GeneralReader(const PixelFormat& pf_, const rfb::ColourMap* cm_)
      : pf(pf_), l(pf_), cm(cm_), swap(Bytes > 1 && pf_.bigEndian) {}
  // (c x 255 + max / 2) / max; 0 for a channel without bits.  Exact
  // (and a no-op) for a maximum of 255.
  static uint32_t to255(uint32_t c, uint32_t max) { return max ? (c * 255 + max / 2) / max : 0; }
  V4 read(const uint8_t* p) const {
    uint32_t v = rfb::readPixel<Bytes>(p);
    if (swap) v = rfb::swapPixel(v, pf.bpp);
    V4 c{};
    if (!pf.trueColour) {
      uint32_t r = 0, g = 0, b = 0;
      if (cm) cm->lookup(v, &r, &g, &b);
      return V4{r, g, b, Alpha ? 255u : 0u};
    }
    for (int i = 0; i < 3; ++i) c[i] = to255(rfb::shiftRight(v, l.shift[i]) & l.max[i], l.max[i]);
    if constexpr (Alpha) c[3] = l.max[3] ? to255(rfb::shiftRight(v, l.shift[3]) & l.max[3], l.max[3]) : 255;
    return c;
  }
  const PixelFormat& pf;
  RuntimeLayout l;
  const rfb::ColourMap* cm;
  bool swap;
};

template <int Bytes, bool Alpha>
struct GeneralWriter {
  static constexpr int kBytes = Bytes;
  GeneralWriter(const PixelFormat& pf_, const rfb::ColourMap* cm_)
      : pf(pf_), l(pf_), cm(cm_), swap(Bytes > 1 && pf_.bigEndian) {}
  // (c x max + 127) / 255, the division by a constant done by multiply and
  // shift.  Exact (and a no-op) for a maximum of 255.
  static uint32_t from255(uint32_t c, uint32_t max) { return (c * max + 127) / 255; }
  void write(uint8_t* p, V4 c) const {
    uint32_t v = 0;
    if (!pf.trueColour) {
      v = cm ? cm->pixelFor(c[0], c[1], c[2], 255) : 0;
    } else {
      constexpr int n = Alpha ? 4 : 3;
      for (int i = 0; i < n; ++i) v |= rfb::shiftLeft(from255(c[i], l.max[i]), l.shift[i]);
    }
    if (swap) v = rfb::swapPixel(v, pf.bpp);
    rfb::writePixel<Bytes>(p, v);
  }
  const PixelFormat& pf;
  RuntimeLayout l;
  const rfb::ColourMap* cm;
  bool swap;
};

// The source pixels under each destination column of the rectangle,
// found once per call so that the rows' inner loops only read and add.
void findSpans(const Scaler::Job& j) {
  const int64_t ws = j.coords.srcSz.x, wd = j.coords.dstSz.x;
  int64_t s0 = j.srcStartX, d0 = j.dstStartX;
  int32_t index = 0;
  for (int32_t x = 0; x < j.size.width; ++x) {
    const int64_t d1 = d0 + ws;
    Scaler::Span& span = j.spans[x];
    span.first = index;
    span.count = 0;
    for (;;) {
      const int64_t s1 = s0 + wd;
      const uint32_t w = static_cast<uint32_t>(std::min(s1, d1) - std::max(s0, d0));
      if (span.count++ == 0) span.firstWeight = w;
      span.lastWeight = w;
      // A source pixel that straddles the column's end is visited again
      // by the next column.
      if (s1 > d1) break;
      ++index;
      s0 = s1;
      if (s1 == d1) break;
    }
    d0 = d1;
  }
}

// Adds one source row, averaged over each destination column's span and
// weighted by the row's vertical overlap wy, to the accumulator row.
template <class Reader>
inline void accumulateRow(const Reader& rd, const uint8_t* sp, const Scaler::Job& j, uint32_t wd, uint32_t rx,
                          uint32_t hx, uint32_t wy) {
  Scaler::Accum* acc = j.accum;
  const Scaler::Span* spans = j.spans;
  for (int32_t x = 0; x < j.size.width; ++x) {
    const Scaler::Span span = spans[x];
    const uint8_t* p = sp + ptrdiff_t{span.first} * Reader::kBytes;
    V4 sum = rd.read(p) * span.firstWeight;
    if (span.count > 1) {
      // Pixels wholly inside the column weigh the source pixel's full
      // width on the grid.
      V4 inner{};
      for (int32_t k = 1; k < span.count - 1; ++k) inner += rd.read(p + k * Reader::kBytes);
      sum += inner * wd + rd.read(p + (span.count - 1) * Reader::kBytes) * span.lastWeight;
    }
    V4 a;
    std::memcpy(&a, acc[x].c, sizeof a);
    a += (((sum + hx) * rx) >> kFrac) * wy;
    std::memcpy(acc[x].c, &a, sizeof a);
  }
}

template <class Reader, class Writer>
void scaleKernel(const Scaler::Job& j) {
  const Reader rd(*j.srcPf, j.srcCm);
  const Writer wr(*j.dstPf, j.dstCm);
  const int64_t hs = j.coords.srcSz.y, hd = j.coords.dstSz.y;
  const uint32_t ws = static_cast<uint32_t>(j.coords.srcSz.x), wd = static_cast<uint32_t>(j.coords.dstSz.x);
  const uint32_t rx = (1u << kFrac) / ws, ry = (1u << kFrac) / static_cast<uint32_t>(hs);
  const uint32_t hx = ws / 2, hy = static_cast<uint32_t>(hs / 2);
  const ptrdiff_t srcStep = ptrdiff_t{j.srcStride} * Reader::kBytes;
  const ptrdiff_t dstStep = ptrdiff_t{j.dstStride} * Writer::kBytes;
  findSpans(j);
  const uint8_t* srow = j.src;
  uint8_t* drow = j.dst;
  Scaler::Accum* acc = j.accum;
  int64_t s0 = j.srcStartY, d0 = j.dstStartY;
  for (int32_t y = 0; y < j.size.height; ++y) {
    const int64_t d1 = d0 + hs;
    for (;;) {
      const int64_t s1 = s0 + hd;
      const uint32_t wy = static_cast<uint32_t>(std::min(s1, d1) - std::max(s0, d0));
      accumulateRow<Reader>(rd, srow, j, wd, rx, hx, wy);
      if (s1 > d1) break;
      srow += srcStep;
      s0 = s1;
      if (s1 == d1) break;
    }
    uint8_t* dp = drow;
    for (int32_t x = 0; x < j.size.width; ++x, dp += Writer::kBytes) {
      V4 a;
      std::memcpy(&a, acc[x].c, sizeof a);
      wr.write(dp, ((a + hy) * ry) >> kFrac);
      std::memset(acc[x].c, 0, sizeof acc[x].c);
    }
    drow += dstStep;
    d0 = d1;
  }
}

template <int SB, int DB>
constexpr Scaler::ScaleKernel kGeneral = scaleKernel<GeneralReader<SB, false>, GeneralWriter<DB, false>>;
template <int B>
constexpr Scaler::ScaleKernel kSame = scaleKernel<RawReader<B, 3, RuntimeLayout>, RawWriter<B, 3, RuntimeLayout>>;
template <int B>
constexpr Scaler::ScaleKernel kSameAlpha = scaleKernel<RawReader<B, 4, RuntimeLayout>, RawWriter<B, 4, RuntimeLayout>>;
template <int SB>
constexpr Scaler::ScaleKernel kIntoAlpha = scaleKernel<GeneralReader<SB, true>, GeneralWriter<4, true>>;
template <int B, class Layout>
constexpr Scaler::ScaleKernel kFixed = scaleKernel<RawReader<B, 3, Layout>, RawWriter<B, 3, Layout>>;
template <int N>
constexpr Scaler::ScaleKernel kByteLanes = scaleKernel<ByteLanes<N>, ByteLanes<N>>;

using Layout222 = FixedLayout<4, 2, 0, 3, 3, 3>;
using Layout565 = FixedLayout<11, 5, 0, 31, 63, 31>;

// clang-format off
constexpr Scaler::ScaleKernel kGeneralKernels[4][4] = {
    {kGeneral<1, 1>, kGeneral<1, 2>, kGeneral<1, 3>, kGeneral<1, 4>},
    {kGeneral<2, 1>, kGeneral<2, 2>, kGeneral<2, 3>, kGeneral<2, 4>},
    {kGeneral<3, 1>, kGeneral<3, 2>, kGeneral<3, 3>, kGeneral<3, 4>},
    {kGeneral<4, 1>, kGeneral<4, 2>, kGeneral<4, 3>, kGeneral<4, 4>},
};
constexpr Scaler::ScaleKernel kSameKernels[4] = {kSame<1>, kSame<2>, kSame<3>, kSame<4>};
// 8- and 24-bpp formats with alpha have no member.
constexpr Scaler::ScaleKernel kSameAlphaKernels[4] = {nullptr, kSameAlpha<2>, nullptr, kSameAlpha<4>};
constexpr Scaler::ScaleKernel kIntoAlphaKernels[4] = {kIntoAlpha<1>, kIntoAlpha<2>, kIntoAlpha<3>, kIntoAlpha<4>};
// clang-format on

}  // namespace

void Scaler::copyKernel(const Job& j) {
  rfb::copyRows(j.src, j.dst, j.size, j.srcPf->bpp / 8, j.srcStride, j.dstStride);
}

Scaler::ScaleKernel Scaler::selectKernel(const PixelFormat& src, const PixelFormat& dst) {
  const int srcIdx = src.bpp / 8 - 1, dstIdx = dst.bpp / 8 - 1;
  PLAT_ASSERT_TEXT(srcIdx >= 0 && srcIdx <= 3 && dstIdx >= 0 && dstIdx <= 3,
                   "srcIdx >= 0 && srcIdx <= 3 && dstIdx >= 0 && dstIdx <= 3");
  const bool srcBigEndian = src.bpp != 8 && src.bigEndian;
  const bool dstBigEndian = dst.bpp != 8 && dst.bigEndian;
  if (dst.trueColour && !srcBigEndian && !dstBigEndian) {
    if (src.equal(dst)) {
      if (dst.equal(PixelFormat::rgb222())) return kFixed<1, Layout222>;
      if (dst.equal(PixelFormat::rgb565())) return kFixed<2, Layout565>;
      if (dst.equal(PixelFormat::rgb888())) return kByteLanes<3>;
      // The premultiplied pixels of named images: the same results as the
      // same-format member, byte by byte.
      if (dst.equal(PixelFormat::argb8888())) return kByteLanes<4>;
      // Raw sums of channels wider than 8 bits would leave 32 bits; such
      // formats go through the general members, which work in 0..255.
      const bool narrow = std::max({dst.redMax, dst.greenMax, dst.blueMax, dst.alphaMax}) <= 255;
      if (dst.alphaMax != 0) return narrow ? kSameAlphaKernels[dstIdx] : nullptr;
      if (narrow) return kSameKernels[dstIdx];
    } else if (dst.alphaMax != 0 && dst.bpp == 32) {
      return kIntoAlphaKernels[srcIdx];
    }
  }
  if (src.alphaMax != 0 || dst.alphaMax != 0) return nullptr;
  return kGeneralKernels[srcIdx][dstIdx];
}

void Scaler::setSource(const rfb::PixelBuffer* pb, bool takeFormat) {
  source = pb;
  coords_.srcSz = {static_cast<int32_t>(pb->width()), static_cast<int32_t>(pb->height())};
  if (takeFormat) {
    dstPf = pb->getPf();
    dstCm = pb->getColourMap();
  }
  chooseKernel();
}

void Scaler::chooseKernel() {
  if (!source) return;
  if (source->getPf().equal(dstPf) && coords_.srcSz == coords_.dstSz) {
    kernel = copyKernel;
    return;
  }
  // getImage sizes the working rows by the rectangle it is asked for,
  // which may be a small part of a very wide image.
  kernel = selectKernel(source->getPf(), dstPf);
}

void Scaler::getImage(void* dst, const rfb::Rect& r, int32_t dstStride) const {
  if (r.isEmpty()) return;
  if (!kernel) {
    if (!source) throw plat::Exception("Scaler error: no source");
    char from[PixelFormat::kPrintSize], to[PixelFormat::kPrintSize];
    throw plat::Exception("Scaler error: %s to %s", source->getPf().print(from), dstPf.print(to));
  }
  PLAT_ASSERT_TEXT(coords_.srcSz.x > 0 && coords_.srcSz.y > 0 && coords_.dstSz.x > 0 && coords_.dstSz.y > 0,
                   "coords_.srcSz.x > 0 && coords_.srcSz.y > 0 && coords_.dstSz.x > 0 && coords_.dstSz.y > 0");
  const int64_t ws = coords_.srcSz.x, hs = coords_.srcSz.y, wd = coords_.dstSz.x, hd = coords_.dstSz.y;
  // The source pixels that cover r, rounded outward.
  const int64_t sx1 = r.x1 * ws / wd, sy1 = r.y1 * hs / hd;
  const int64_t sx2 = (r.x2 * ws + wd - 1) / wd, sy2 = (r.y2 * hs + hd - 1) / hd;
  const rfb::Point tl = source->getRect().tl();
  const rfb::Rect srcRect(clampTo32(sx1 + tl.x), clampTo32(sy1 + tl.y), clampTo32(sx2 + tl.x), clampTo32(sy2 + tl.y));
  int32_t srcStride = 0;
  const uint8_t* src = source->getPixelsR(srcRect, &srcStride);
  const int32_t w = static_cast<int32_t>(r.width());
  if (kernel != copyKernel && accum.count() < w) {
    accum = plat::MBuf<Accum>(w);
    spans = plat::MBuf<Span>(w);
  }
  const Job job{{w, static_cast<int32_t>(r.height())},
                static_cast<uint8_t*>(dst),
                dstStride ? dstStride : w,
                &dstPf,
                dstCm,
                src,
                srcStride,
                &source->getPf(),
                source->getColourMap(),
                sx1 * wd,
                sy1 * hd,
                r.x1 * ws,
                r.y1 * hs,
                coords_,
                accum.data(),
                spans.data()};
  kernel(job);
}

}  // namespace qoutil
