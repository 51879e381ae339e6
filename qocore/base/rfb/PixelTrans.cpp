#include "qocore/base/rfb/PixelTrans.h"

#include <algorithm>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "qocore/base/rfb/PixelAccess.h"

namespace rfb {

namespace {

[[gnu::always_inline]] inline uint32_t div255(uint32_t x) { return (x + 127) / 255; }

// A format prepared for decoding and encoding many pixels: shifts of 32
// or more become channels that read and write 0, and channel scaling of
// maxima up to 255 goes through tables built once.  A plain value: the
// pixel loops take a local copy, which stores through pixel pointers
// cannot alias.
class Codec {
 public:
  Codec(const PixelFormat& pf, const ColourMap* cm)
      : cm_(cm), bpp_(pf.bpp), big_(pf.bigEndian != 0), trueColour_(pf.trueColour != 0) {
    if (!trueColour_) return;
    const uint16_t maxima[4] = {pf.redMax, pf.greenMax, pf.blueMax, pf.alphaMax};
    const uint8_t shifts[4] = {pf.redShift, pf.greenShift, pf.blueShift, pf.alphaShift};
    scaleRgb_ = pf.redMax != 255 || pf.greenMax != 255 || pf.blueMax != 255;
    alphaMode_ = pf.alphaMax == 0 ? kNoAlpha : pf.alphaMax == 255 ? kAlpha8 : kAlphaScaled;
    for (int i = 0; i < 4; ++i) {
      Channel& ch = ch_[i];
      const bool inRange = shifts[i] < 32;
      const uint32_t m = maxima[i];
      ch.shift = inRange ? shifts[i] : 0;
      ch.mask = inRange ? m : 0;
      ch.keep = inRange ? ~0u : 0u;
      ch.max = m;
      for (uint32_t v = 0; v < 256; ++v) {
        ch.encode[v] = inRange ? static_cast<uint16_t>(div255(v * m)) : 0;
        if (v <= m) ch.decode[v] = static_cast<uint8_t>(scaleUp(v, m));
      }
    }
    // Without alpha the table form reads 255 (the general form never
    // consults this table).
    if (alphaMode_ == kNoAlpha) ch_[3].decode[0] = 255;
    packed_ = !big_ && pf.redMax <= 255 && pf.greenMax <= 255 && pf.blueMax <= 255 && pf.alphaMax <= 255;
  }

  // How a loop may decode and encode this format:
  //   kGeneral  every case, with run-time tests;
  //   kPacked   little-endian true colour with maxima up to 255: one table
  //             look-up per channel each way, no tests;
  //   kPlain    little-endian 32 bpp with whole 8-bit channels: shifts only.
  enum Kind { kGeneral, kPacked, kPlain };

  bool packed() const { return trueColour_ && packed_; }

  // Whether this is a little-endian 32 bpp format whose colour channels
  // (and alpha, when it has one) are 8-bit fields inside the pixel:
  // decoding and encoding need no tables then.  A channel shifted past the
  // pixel reads 0, which only the tables give.
  bool plain32() const {
    if (!trueColour_ || big_ || bpp_ != 32 || scaleRgb_ || alphaMode_ == kAlphaScaled) return false;
    for (int i = 0; i < 4; ++i) {
      if (i == 3 && alphaMode_ == kNoAlpha) break;
      if (ch_[i].shift > 24 || ch_[i].keep == 0) return false;
    }
    return true;
  }

  // Whether, besides plain32(), every channel is a whole byte of the
  // pixel, so that it can be read from memory byte by byte.
  bool wholeBytes32() const {
    if (!plain32()) return false;
    for (int i = 0; i < 4; ++i) {
      if (i == 3 && alphaMode_ == kNoAlpha) break;
      if (ch_[i].shift % 8 != 0) return false;
    }
    return true;
  }

  template <Kind K>
  [[gnu::always_inline]] Colour decodeAs(uint32_t v) const {
    if constexpr (K == kGeneral) return decode(v);
    if constexpr (K == kPacked)
      return {ch_[0].decode[(v >> ch_[0].shift) & ch_[0].mask], ch_[1].decode[(v >> ch_[1].shift) & ch_[1].mask],
              ch_[2].decode[(v >> ch_[2].shift) & ch_[2].mask], ch_[3].decode[(v >> ch_[3].shift) & ch_[3].mask]};
    return {(v >> ch_[0].shift) & 255, (v >> ch_[1].shift) & 255, (v >> ch_[2].shift) & 255,
            alphaMode_ == kNoAlpha ? 255 : (v >> ch_[3].shift) & 255};
  }

  template <Kind K>
  [[gnu::always_inline]] uint32_t encodeAs(const Colour& c) const {
    if constexpr (K == kGeneral) return encode(c);
    if constexpr (K == kPacked)
      return uint32_t{ch_[0].encode[std::min(c.r, 255u)]} << ch_[0].shift |
             uint32_t{ch_[1].encode[std::min(c.g, 255u)]} << ch_[1].shift |
             uint32_t{ch_[2].encode[std::min(c.b, 255u)]} << ch_[2].shift |
             uint32_t{ch_[3].encode[std::min(c.a, 255u)]} << ch_[3].shift;
    const uint32_t a = alphaMode_ == kNoAlpha ? 0 : std::min(c.a, 255u) << ch_[3].shift;
    return std::min(c.r, 255u) << ch_[0].shift | std::min(c.g, 255u) << ch_[1].shift |
           std::min(c.b, 255u) << ch_[2].shift | a;
  }

  [[gnu::always_inline]] Colour decode(uint32_t v) const {
    if (big_) v = swapPixel(v, bpp_);
    Colour c;
    if (!trueColour_) {
      c.a = 255;
      if (cm_) cm_->lookup(v, &c.r, &c.g, &c.b);
      return c;
    }
    c.r = (v >> ch_[0].shift) & ch_[0].mask;
    c.g = (v >> ch_[1].shift) & ch_[1].mask;
    c.b = (v >> ch_[2].shift) & ch_[2].mask;
    if (scaleRgb_) {
      c.r = ch_[0].up(c.r);
      c.g = ch_[1].up(c.g);
      c.b = ch_[2].up(c.b);
    }
    if (alphaMode_ == kNoAlpha) {
      c.a = 255;
    } else {
      c.a = (v >> ch_[3].shift) & ch_[3].mask;
      if (alphaMode_ == kAlphaScaled) c.a = ch_[3].up(c.a);
    }
    return c;
  }

  [[gnu::always_inline]] uint32_t encode(const Colour& c) const {
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
  static uint32_t scaleUp(uint32_t v, uint32_t max) { return max == 0 ? 0 : (v * 255 + max / 2) / max; }

 public:
  struct Channel {
    // 0..255 from a channel value: the table for maxima up to 255.
    [[gnu::always_inline]] uint32_t up(uint32_t v) const { return max <= 255 ? decode[v] : scaleUp(v, max); }

    unsigned shift = 0;
    uint32_t mask = 0;  // the maximum, 0 for a shift past 31
    uint32_t keep = 0;  // all ones, 0 for a shift past 31
    uint32_t max = 0;
    uint8_t decode[256] = {};
    uint16_t encode[256] = {};
  };
  // Red, green, blue, alpha.
  const Channel& channel(int i) const { return ch_[i]; }

 private:
  enum AlphaMode { kNoAlpha, kAlpha8, kAlphaScaled };

  const ColourMap* cm_;
  int bpp_;
  bool big_;
  bool trueColour_;
  bool scaleRgb_ = false;
  bool packed_ = false;
  AlphaMode alphaMode_ = kNoAlpha;
  Channel ch_[4];
};

[[gnu::always_inline]] inline void over(const Colour& s, Colour& d) {
  const uint32_t k = 255 - s.a;
  d.r = s.r + div255(d.r * k);
  d.g = s.g + div255(d.g * k);
  d.b = s.b + div255(d.b * k);
  d.a = s.a + div255(d.a * k);
}

int32_t clamp32(int64_t v) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

struct CopyOp {
  void operator()(const Colour& s, Colour& d) const { d = s; }
};
struct OverOp {
  [[gnu::always_inline]] void operator()(const Colour& s, Colour& d) const { over(s, d); }
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

template <int DB, int SB, Codec::Kind SK, Codec::Kind DK, typename Op>
void loop(const Codec& srcCodec, const Codec& dstCodec, const Span& sp, Op op) {
  const Codec sc = srcCodec, dc = dstCodec;
  for (int32_t y = 0; y < sp.height; ++y) {
    const uint8_t* s = sp.src + y * sp.srcStep;
    uint8_t* d = sp.dst + y * sp.dstStep;
    for (int32_t x = 0; x < sp.width; ++x, s += SB, d += DB) {
      const Colour sv = sc.decodeAs<SK>(readPixel<SB>(s));
      Colour dv;
      // A copy never reads the destination.
      if constexpr (!std::is_same_v<Op, CopyOp>) dv = dc.decodeAs<DK>(readPixel<DB>(d));
      op(sv, dv);
      writePixel<DB>(d, dc.encodeAs<DK>(dv));
    }
  }
}

// The fastest form each side allows: table forms for 16 and 32 bpp, the
// shift-only form for 32 bpp.
template <int Bytes>
Codec::Kind kindOf(const Codec& c) {
  if (Bytes == 4 && c.plain32()) return Codec::kPlain;
  if ((Bytes == 2 || Bytes == 4) && c.packed()) return Codec::kPacked;
  return Codec::kGeneral;
}

template <int DB, int SB, Codec::Kind SK, typename Op>
void withDstKind(const Codec& sc, const Codec& dc, const Span& sp, Op op) {
  switch (kindOf<DB>(dc)) {
    case Codec::kPlain:
      if constexpr (DB == 4) return loop<DB, SB, SK, Codec::kPlain>(sc, dc, sp, op);
      break;
    case Codec::kPacked:
      if constexpr (DB == 2 || DB == 4) return loop<DB, SB, SK, Codec::kPacked>(sc, dc, sp, op);
      break;
    case Codec::kGeneral:
      break;
  }
  loop<DB, SB, SK, Codec::kGeneral>(sc, dc, sp, op);
}

template <int DB, int SB, typename Op>
void withKinds(const Codec& sc, const Codec& dc, const Span& sp, Op op) {
  switch (kindOf<SB>(sc)) {
    case Codec::kPlain:
      if constexpr (SB == 4) return withDstKind<DB, SB, Codec::kPlain>(sc, dc, sp, op);
      break;
    case Codec::kPacked:
      if constexpr (SB == 2 || SB == 4) return withDstKind<DB, SB, Codec::kPacked>(sc, dc, sp, op);
      break;
    case Codec::kGeneral:
      break;
  }
  withDstKind<DB, SB, Codec::kGeneral>(sc, dc, sp, op);
}

template <int DB, int SB>
void member(const Codec& sc, const Codec& dc, const Span& sp, CompositeOp op) {
  if (op == opCopy)
    withKinds<DB, SB>(sc, dc, sp, CopyOp{});
  else if (op == opOver)
    withKinds<DB, SB>(sc, dc, sp, OverOp{});
  else
    loop<DB, SB, Codec::kGeneral, Codec::kGeneral>(sc, dc, sp, AnyOp{op});
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

// ---- Faster paths with the same results ----

// A copy between table-form formats, channel by channel: each source
// channel value maps through one table straight to its bits in the
// destination pixel (the source channel decoded, then encoded), so a
// pixel costs four look-ups.  Sources whose channels are whole bytes of a
// 32-bit pixel are read byte by byte.
struct ChannelTables {
  ChannelTables(const Codec& sc, const Codec& dc) {
    for (int i = 0; i < 4; ++i) {
      const Codec::Channel& from = sc.channel(i);
      const Codec::Channel& to = dc.channel(i);
      for (uint32_t v = 0; v < 256; ++v)
        bits[i][v] = v <= from.mask ? uint32_t{to.encode[from.decode[v]]} << to.shift : 0;
    }
  }
  uint32_t bits[4][256];
};

template <int SB, int DB, bool ByteChannels, bool Alpha = true>
void copyByChannels(const Codec& sc, const ChannelTables& tables, const Span& sp) {
  const ChannelTables t = tables;
  unsigned shift[4], mask[4], byte[4];
  for (int i = 0; i < 4; ++i) {
    shift[i] = sc.channel(i).shift;
    mask[i] = sc.channel(i).mask;
    byte[i] = shift[i] / 8;
  }
  const uint32_t noAlpha = t.bits[3][0];
  for (int32_t y = 0; y < sp.height; ++y) {
    const uint8_t* s = sp.src + y * sp.srcStep;
    uint8_t* d = sp.dst + y * sp.dstStep;
    for (int32_t x = 0; x < sp.width; ++x, s += SB, d += DB) {
      uint32_t p;
      if constexpr (ByteChannels) {
        p = t.bits[0][s[byte[0]]] | t.bits[1][s[byte[1]]] | t.bits[2][s[byte[2]]] |
            (Alpha ? t.bits[3][s[byte[3]]] : noAlpha);
      } else {
        const uint32_t v = readPixel<SB>(s);
        p = t.bits[0][(v >> shift[0]) & mask[0]] | t.bits[1][(v >> shift[1]) & mask[1]] |
            t.bits[2][(v >> shift[2]) & mask[2]] | t.bits[3][(v >> shift[3]) & mask[3]];
      }
      writePixel<DB>(d, p);
    }
  }
}

#if defined(__SSE2__)
// Whole-byte 32-bit sources into 16-bit table-form destinations, four
// pixels a step: each channel is div255(value x destination maximum),
// what the tables hold, computed as (t + (t >> 8)) >> 8 with t = x + 128
// (equal to (x + 127) / 255 up to 255 x 255).  The last pixels of a row
// go through the tables.
void copyBytesTo16(const Codec& sc, const Codec& dc, const ChannelTables& tables, const Span& sp) {
  const bool alpha = sc.channel(3).mask != 0;
  __m128i from[4], to[4], max[4];
  for (int i = 0; i < 4; ++i) {
    const Codec::Channel& d = dc.channel(i);
    from[i] = _mm_cvtsi32_si128(static_cast<int>(sc.channel(i).shift));
    to[i] = _mm_cvtsi32_si128(static_cast<int>(d.shift));
    max[i] = _mm_set1_epi32(d.keep ? static_cast<int>(d.max) : 0);
  }
  // Without source alpha every pixel decodes to alpha 255.
  const __m128i fixed = _mm_set1_epi32(alpha ? 0 : static_cast<int>(tables.bits[3][0]));
  const __m128i byteMask = _mm_set1_epi32(255), c128 = _mm_set1_epi32(128);
  const __m128i low16 = _mm_set1_epi32(0xffff), bias32 = _mm_set1_epi32(0x8000), bias16 = _mm_set1_epi16(-0x8000);
  auto channel = [&](__m128i v, int i) {
    const __m128i c = _mm_and_si128(_mm_srl_epi32(v, from[i]), byteMask);
    const __m128i t = _mm_add_epi32(_mm_mullo_epi16(c, max[i]), c128);
    return _mm_sll_epi32(_mm_srli_epi32(_mm_add_epi32(t, _mm_srli_epi32(t, 8)), 8), to[i]);
  };
  for (int32_t y = 0; y < sp.height; ++y) {
    const uint8_t* s = sp.src + y * sp.srcStep;
    uint8_t* d = sp.dst + y * sp.dstStep;
    int32_t x = 0;
    for (; x + 4 <= sp.width; x += 4) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * x));
      __m128i p = _mm_or_si128(_mm_or_si128(channel(v, 0), channel(v, 1)), _mm_or_si128(channel(v, 2), fixed));
      if (alpha) p = _mm_or_si128(p, channel(v, 3));
      // Low 16 bits of each lane, packed through the signed saturation.
      p = _mm_sub_epi32(_mm_and_si128(p, low16), bias32);
      p = _mm_add_epi16(_mm_packs_epi32(p, p), bias16);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 2 * x), p);
    }
    for (; x < sp.width; ++x) {
      const uint32_t v = readPixel<4>(s + 4 * x);
      uint32_t p = 0;
      for (int i = 0; i < 4; ++i) p |= tables.bits[i][(v >> sc.channel(i).shift) & sc.channel(i).mask];
      writePixel<2>(d + 2 * x, p);
    }
  }
}
#endif

// Whether opCopy between the formats can go channel by channel.
bool copyByChannels(const Codec& sc, const Codec& dc, int srcBytes, int dstBytes, const Span& sp) {
  if (!sc.packed() || !dc.packed() || (srcBytes != 2 && srcBytes != 4) || (dstBytes != 2 && dstBytes != 4))
    return false;
  const ChannelTables tables(sc, dc);
  const bool alpha = sc.channel(3).mask != 0;
#if defined(__SSE2__)
  // Shifts and masks: any 8-bit channel inside the pixel.
  if (srcBytes == 4 && sc.plain32() && dstBytes == 2) {
    copyBytesTo16(sc, dc, tables, sp);
    return true;
  }
#endif
  const bool bytes = srcBytes == 4 && sc.wholeBytes32();
  if (bytes && dstBytes == 4)
    alpha ? copyByChannels<4, 4, true>(sc, tables, sp) : copyByChannels<4, 4, true, false>(sc, tables, sp);
  else if (bytes)
    alpha ? copyByChannels<4, 2, true>(sc, tables, sp) : copyByChannels<4, 2, true, false>(sc, tables, sp);
  else if (srcBytes == 4 && dstBytes == 4)
    copyByChannels<4, 4, false>(sc, tables, sp);
  else if (srcBytes == 4)
    copyByChannels<4, 2, false>(sc, tables, sp);
  else if (dstBytes == 4)
    copyByChannels<2, 4, false>(sc, tables, sp);
  else
    copyByChannels<2, 2, false>(sc, tables, sp);
  return true;
}

// The memory byte of alpha in a 32 bpp format of four whole-byte
// channels, or -1 for any other format.
int alphaByteOf(const PixelFormat& pf) {
  if (!pf.trueColour || pf.bpp != 32 || pf.redMax != 255 || pf.greenMax != 255 || pf.blueMax != 255 ||
      pf.alphaMax != 255)
    return -1;
  const unsigned used =
      1u << pf.redShift % 32 | 1u << pf.greenShift % 32 | 1u << pf.blueShift % 32 | 1u << pf.alphaShift % 32;
  if (pf.redShift > 24 || pf.greenShift > 24 || pf.blueShift > 24 || pf.alphaShift > 24 ||
      used != (1u | 1u << 8 | 1u << 16 | 1u << 24))
    return -1;
  return pf.bigEndian ? 3 - pf.alphaShift / 8 : pf.alphaShift / 8;
}

// OVER between equal formats of four whole-byte channels: every byte
// lane is s + div255(d x (255 - s.alpha)), clamped to 255 as encoding
// does, so lanes are worked on without knowing which channel they hold.
template <int AlphaByte>
void overBytes(const Codec& codec, const Span& sp) {
  for (int32_t y = 0; y < sp.height; ++y) {
    const uint8_t* s = sp.src + y * sp.srcStep;
    uint8_t* d = sp.dst + y * sp.dstStep;
    int32_t x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i c255 = _mm_set1_epi16(255);
    const __m128i c128 = _mm_set1_epi16(128);
    constexpr int kAlpha = AlphaByte * 0x55;  // alpha's lane in all four places
    // (x + 127) / 255 for x up to 255 x 255 equals (t + (t >> 8)) >> 8
    // with t = x + 128.
    auto blend = [&](__m128i src, __m128i dst) {
      const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(src, kAlpha), kAlpha);
      __m128i t = _mm_add_epi16(_mm_mullo_epi16(dst, _mm_sub_epi16(c255, a)), c128);
      return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
    };
    for (; x + 4 <= sp.width; x += 4) {
      const __m128i src = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * x));
      const __m128i dst = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 4 * x));
      const __m128i lo = blend(_mm_unpacklo_epi8(src, zero), _mm_unpacklo_epi8(dst, zero));
      const __m128i hi = blend(_mm_unpackhi_epi8(src, zero), _mm_unpackhi_epi8(dst, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * x), _mm_adds_epu8(src, _mm_packus_epi16(lo, hi)));
    }
#endif
    for (; x < sp.width; ++x) {
      const Colour sv = codec.decode(readPixel<4>(s + 4 * x));
      Colour dv = codec.decode(readPixel<4>(d + 4 * x));
      over(sv, dv);
      writePixel<4>(d + 4 * x, codec.encode(dv));
    }
  }
}

bool overByBytes(const PixelFormat& srcPf, const PixelFormat& dstPf, const Codec& codec, const Span& sp) {
  if (!srcPf.equal(dstPf)) return false;
  switch (alphaByteOf(dstPf)) {
    case 0:
      overBytes<0>(codec, sp);
      return true;
    case 1:
      overBytes<1>(codec, sp);
      return true;
    case 2:
      overBytes<2>(codec, sp);
      return true;
    case 3:
      overBytes<3>(codec, sp);
      return true;
    default:
      return false;
  }
}

}  // namespace

// ---- Operations ----

void opCopy(const Colour& s, Colour& d) noexcept { d = s; }

void opOver(const Colour& s, Colour& d) noexcept { over(s, d); }

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

// One pixel at a time, straight from the definitions; the pixel loops
// give the same results through a Codec's tables.
Colour decodePixel(const PixelFormat& pf, uint32_t pixel, const ColourMap* cm) noexcept {
  if (pf.bigEndian) pixel = swapPixel(pixel, pf.bpp);
  Colour c;
  if (!pf.trueColour) {
    c.a = 255;
    if (cm) cm->lookup(pixel, &c.r, &c.g, &c.b);
    return c;
  }
  auto field = [&](uint32_t max, unsigned shift) { return shiftRight(pixel, shift) & max; };
  auto scale = [](uint32_t v, uint32_t max) { return max == 0 ? 0 : (v * 255 + max / 2) / max; };
  c.r = field(pf.redMax, pf.redShift);
  c.g = field(pf.greenMax, pf.greenShift);
  c.b = field(pf.blueMax, pf.blueShift);
  if (pf.redMax != 255 || pf.greenMax != 255 || pf.blueMax != 255) {
    c.r = scale(c.r, pf.redMax);
    c.g = scale(c.g, pf.greenMax);
    c.b = scale(c.b, pf.blueMax);
  }
  c.a = pf.alphaMax == 0 ? 255 : scale(field(pf.alphaMax, pf.alphaShift), pf.alphaMax);
  return c;
}

uint32_t encodePixel(const PixelFormat& pf, const Colour& c, const ColourMap* cm) noexcept {
  // Straight-alpha input may exceed 255; a larger value would spill into
  // the next channel.
  uint32_t r = std::min(c.r, 255u), g = std::min(c.g, 255u), b = std::min(c.b, 255u), a = std::min(c.a, 255u);
  uint32_t v;
  if (!pf.trueColour) {
    v = cm ? cm->pixelFor(r, g, b, a) : 0;
  } else {
    if (pf.redMax != 255 || pf.greenMax != 255 || pf.blueMax != 255) {
      r = div255(r * pf.redMax);
      g = div255(g * pf.greenMax);
      b = div255(b * pf.blueMax);
    }
    if (pf.alphaMax != 255) a = div255(a * pf.alphaMax);
    v = shiftLeft(r, pf.redShift) | shiftLeft(g, pf.greenShift) | shiftLeft(b, pf.blueShift) |
        shiftLeft(a, pf.alphaShift);
  }
  return pf.bigEndian ? swapPixel(v, pf.bpp) : v;
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
  if (op == opCopy && copyByChannels(sc, dc, srcBpp / 8, dstBpp / 8, sp)) return;
  if (op == opOver && overByBytes(src.getPf(), dst.getPf(), dc, sp)) return;
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
void blendLoop(const Codec& dstCodec, uint8_t* base, ptrdiff_t step, const uint8_t* mask, int32_t maskStride, int32_t w,
               int32_t h, const Colour& c) {
  const Codec dc = dstCodec;
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

namespace {

#if defined(__SSE2__)
// blendMask into rgb888 (memory bytes blue, green, red, unused), four
// pixels a step, for premultiplied colours (channels at most alpha, alpha
// at most 255): then m x c + d x k stays below 65153, so 16-bit lanes
// hold it and div255 is (t + (t >> 8)) >> 8 with t = x + 128.  The
// saturating pack clamps 256 to 255 as encoding does; the unused byte is
// written as 0 as encoding does.  An opaque colour has k = 255 - m.
template <bool Opaque>
void blendRgb888(const Codec& dc, uint8_t* base, ptrdiff_t step, const uint8_t* mask, int32_t maskStride, int32_t w,
                 int32_t h, const Colour& c) {
  const __m128i zero = _mm_setzero_si128(), c255 = _mm_set1_epi16(255), c128 = _mm_set1_epi16(128);
  const __m128i colour = _mm_setr_epi16(static_cast<int16_t>(c.b), static_cast<int16_t>(c.g), static_cast<int16_t>(c.r),
                                        static_cast<int16_t>(c.a), static_cast<int16_t>(c.b), static_cast<int16_t>(c.g),
                                        static_cast<int16_t>(c.r), static_cast<int16_t>(c.a));
  const __m128i alpha = _mm_set1_epi16(static_cast<int16_t>(c.a));
  const __m128i rgbOnly = _mm_set1_epi32(0x00ffffff);
  auto div255 = [&](__m128i x) {
    const __m128i t = _mm_add_epi16(x, c128);
    return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
  };
  // Two pixels in 16-bit lanes, their coverage repeated over each pixel's
  // four lanes.
  auto blend = [&](__m128i d, __m128i m) {
    const __m128i k = Opaque ? _mm_sub_epi16(c255, m) : _mm_sub_epi16(c255, div255(_mm_mullo_epi16(m, alpha)));
    return div255(_mm_add_epi16(_mm_mullo_epi16(m, colour), _mm_mullo_epi16(d, k)));
  };
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* d = base + y * step;
    const uint8_t* m = mask + ptrdiff_t{y} * maskStride;
    int32_t x = 0;
    for (; x + 4 <= w; x += 4) {
      int32_t m4;
      std::memcpy(&m4, m + x, 4);
      __m128i cover = _mm_unpacklo_epi8(_mm_cvtsi32_si128(m4), zero);
      cover = _mm_unpacklo_epi16(cover, cover);
      const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 4 * x));
      const __m128i lo = blend(_mm_unpacklo_epi8(px, zero), _mm_unpacklo_epi32(cover, cover));
      const __m128i hi = blend(_mm_unpackhi_epi8(px, zero), _mm_unpackhi_epi32(cover, cover));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * x), _mm_and_si128(_mm_packus_epi16(lo, hi), rgbOnly));
    }
    if (x < w) blendLoop<4>(dc, d + 4 * x, 0, m + x, 0, w - x, 1, c);
  }
}
#endif

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
#if defined(__SSE2__)
  if (colour.a <= 255 && colour.r <= colour.a && colour.g <= colour.a && colour.b <= colour.a &&
      dst.getPf().equal(PixelFormat::rgb888())) {
    if (colour.a == 255)
      blendRgb888<true>(dc, base, step, mask, maskStride, w, h, colour);
    else
      blendRgb888<false>(dc, base, step, mask, maskStride, w, h, colour);
    return;
  }
#endif
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
