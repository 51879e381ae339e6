#include "qocore/base/rfb/PixelFormat.h"

#include <strings.h>

#include <bit>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "qocore/base/plat/Strings.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace rfb {

namespace {

int bits(uint32_t x) { return std::popcount(x); }

// 2^n - 1, 0 - 1 for n of 32 or more (no 16-bit maximum equals that).
uint32_t maxOfBits(int n) { return shiftLeft(1, static_cast<unsigned>(n)) - 1; }

// Whether a channel's maximum fills the bits from lower up to upper.
bool fits(uint32_t max, int lower, int upper) { return upper > lower && max == maxOfBits(upper - lower); }

}  // namespace

PixelFormat::PixelFormat(int bpp_, int depth_, bool bigEndian_, bool trueColour_, int redMax_, int greenMax_,
                         int blueMax_, int redShift_, int greenShift_, int blueShift_, int alphaShift_,
                         int alphaMax_) noexcept
    : bpp(static_cast<uint8_t>(bpp_)),
      depth(static_cast<uint8_t>(depth_)),
      bigEndian(bigEndian_),
      trueColour(trueColour_),
      redMax(static_cast<uint16_t>(redMax_)),
      greenMax(static_cast<uint16_t>(greenMax_)),
      blueMax(static_cast<uint16_t>(blueMax_)),
      alphaMax(static_cast<uint16_t>(alphaMax_)),
      redShift(static_cast<uint8_t>(redShift_)),
      greenShift(static_cast<uint8_t>(greenShift_)),
      blueShift(static_cast<uint8_t>(blueShift_)),
      alphaShift(static_cast<uint8_t>(alphaShift_)) {}

bool PixelFormat::equal(const PixelFormat& o) const noexcept {
  if (bpp != o.bpp || depth != o.depth) return false;
  if (bpp != 8 && (bigEndian != 0) != (o.bigEndian != 0)) return false;
  if ((trueColour != 0) != (o.trueColour != 0)) return false;
  if (!trueColour) return true;
  return redMax == o.redMax && greenMax == o.greenMax && blueMax == o.blueMax && redShift == o.redShift &&
         greenShift == o.greenShift && blueShift == o.blueShift && alphaShift == o.alphaShift && alphaMax == o.alphaMax;
}

bool PixelFormat::isSane() const noexcept {
  if (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
  if (depth < 1 || depth > bpp) return false;
  if (!trueColour) return depth <= 8;
  return bits(redMax) + redShift <= bpp && bits(greenMax) + greenShift <= bpp && bits(blueMax) + blueShift <= bpp &&
         bits(alphaMax) + alphaShift <= bpp;
}

void PixelFormat::updateDepth() noexcept {
  if (!trueColour) return;
  uint32_t all = shiftLeft(redMax, redShift) | shiftLeft(greenMax, greenShift) | shiftLeft(blueMax, blueShift) |
                 shiftLeft(alphaMax, alphaShift);
  depth = static_cast<uint8_t>(bits(all));
}

bool PixelFormat::is888() const noexcept {
  return redMax <= 255 && greenMax <= 255 && blueMax <= 255 && alphaMax <= 255 && redShift % 8 == 0 &&
         greenShift % 8 == 0 && blueShift % 8 == 0 && alphaShift % 8 == 0;
}

bool PixelFormat::makeLittleEndian() noexcept {
  if (!bigEndian) return true;
  if (bpp == 8) {
    bigEndian = 0;
    return true;
  }
  if (!is888()) return false;
  auto mirror = [this](uint8_t& shift) { shift = static_cast<uint8_t>(bpp - 8 - shift); };
  bigEndian = 0;
  mirror(redShift);
  mirror(greenShift);
  mirror(blueShift);
  if (alphaMax != 0) mirror(alphaShift);
  return true;
}

void PixelFormat::read(rdr::InStream& is) {
  bpp = is.readU8();
  depth = is.readU8();
  bigEndian = is.readU8() != 0;
  trueColour = is.readU8() != 0;
  redMax = is.readU16();
  greenMax = is.readU16();
  blueMax = is.readU16();
  redShift = is.readU8();
  greenShift = is.readU8();
  blueShift = is.readU8();
  alphaShift = is.readU8();
  alphaMax = is.readU16();
  // Alpha counts only when the depth accounts for its bits.
  int colourBits = bits(redMax) + bits(greenMax) + bits(blueMax);
  if (alphaMax == 0 || depth != colourBits + bits(alphaMax)) {
    alphaMax = 0;
    alphaShift = 0;
  }
}

void PixelFormat::write(rdr::OutStream& os) const {
  os.writeU8(bpp);
  os.writeU8(depth);
  os.writeU8(bigEndian ? 1 : 0);
  os.writeU8(trueColour ? 1 : 0);
  os.writeU16(redMax);
  os.writeU16(greenMax);
  os.writeU16(blueMax);
  os.writeU8(redShift);
  os.writeU8(greenShift);
  os.writeU8(blueShift);
  os.writeU8(alphaShift);
  os.writeU16(alphaMax);
}

const char* PixelFormat::print(char (&buf)[kPrintSize]) const noexcept {
  buf[0] = '\0';
  plat::safeSnprintfAppend(buf, kPrintSize, "depth %d (%d bpp)", depth, bpp);
  if (bpp != 8) plat::safeSnprintfAppend(buf, kPrintSize, " %s-endian", bigEndian ? "big" : "little");
  if (!trueColour) {
    plat::safeStrAppend(buf, kPrintSize, " colour-map");
    return buf;
  }
  const bool alpha = alphaMax != 0;
  const int r = bits(redMax), g = bits(greenMax), b = bits(blueMax), a = bits(alphaMax);
  // Red on top, then green, then blue.
  const bool blueGreen = fits(blueMax, blueShift, greenShift) && fits(greenMax, greenShift, redShift);
  if (blueGreen && fits(redMax, redShift, depth)) {
    if (!alpha && blueShift == 0) {
      plat::safeSnprintfAppend(buf, kPrintSize, " rgb%d%d%d", r, g, b);
      return buf;
    }
    if (alpha && alphaShift == 0 && blueShift != 0 && alphaMax == maxOfBits(blueShift)) {
      plat::safeSnprintfAppend(buf, kPrintSize, " rgba%d%d%d%d", r, g, b, a);
      return buf;
    }
  }
  if (blueGreen && blueShift == 0 && alpha && fits(alphaMax, alphaShift, depth) && fits(redMax, redShift, alphaShift)) {
    plat::safeSnprintfAppend(buf, kPrintSize, " argb%d%d%d%d", a, r, g, b);
    return buf;
  }
  // Mirrored: blue on top, red at the bottom.
  const bool redGreen = fits(redMax, redShift, greenShift) && fits(greenMax, greenShift, blueShift);
  if (redGreen && fits(blueMax, blueShift, depth)) {
    if (!alpha && redShift == 0) {
      plat::safeSnprintfAppend(buf, kPrintSize, " bgr%d%d%d", b, g, r);
      return buf;
    }
    if (alpha && alphaShift == 0 && redShift != 0 && alphaMax == maxOfBits(redShift)) {
      plat::safeSnprintfAppend(buf, kPrintSize, " bgra%d%d%d%d", b, g, r, a);
      return buf;
    }
  }
  if (redGreen && redShift == 0 && alpha && fits(alphaMax, alphaShift, depth) && fits(blueMax, blueShift, alphaShift)) {
    plat::safeSnprintfAppend(buf, kPrintSize, " abgr%d%d%d%d", a, b, g, r);
    return buf;
  }
  plat::safeSnprintfAppend(buf, kPrintSize, " rgb max %d,%d,%d shift %d,%d,%d", redMax, greenMax, blueMax, redShift,
                           greenShift, blueShift);
  if (alpha) plat::safeSnprintfAppend(buf, kPrintSize, " alpha max %d shift %d", alphaMax, alphaShift);
  return buf;
}

bool PixelFormat::parse(const char* text) noexcept {
  if (strncasecmp(text, "pal", 3) == 0) {
    trueColour = 0;
    int n = std::atoi(text + 3);
    if (n < 1 || n > 8) return false;
    depth = static_cast<uint8_t>(n);
  } else {
    trueColour = 1;
    bool rgb = strncasecmp(text, "rgb", 3) == 0;
    bool bgr = strncasecmp(text, "bgr", 3) == 0;
    if ((!rgb && !bgr) || std::strlen(text) != 6) return false;
    int n[3];
    for (int i = 0; i < 3; ++i) {
      unsigned char c = static_cast<unsigned char>(text[3 + i]);
      if (!std::isdigit(c)) return false;
      n[i] = c - '0';
    }
    // n[0] is the top channel, n[2] the one at bit 0.
    uint16_t topMax = static_cast<uint16_t>(maxOfBits(n[0]));
    uint16_t midMax = static_cast<uint16_t>(maxOfBits(n[1]));
    uint16_t lowMax = static_cast<uint16_t>(maxOfBits(n[2]));
    uint8_t midShift = static_cast<uint8_t>(n[2]);
    uint8_t topShift = static_cast<uint8_t>(n[1] + n[2]);
    depth = static_cast<uint8_t>(n[0] + n[1] + n[2]);
    greenMax = midMax;
    greenShift = midShift;
    if (rgb) {
      redMax = topMax, redShift = topShift;
      blueMax = lowMax, blueShift = 0;
    } else {
      blueMax = topMax, blueShift = topShift;
      redMax = lowMax, redShift = 0;
    }
  }
  bpp = depth <= 8 ? 8 : depth <= 16 ? 16 : 32;
  bigEndian = 0;
  return true;
}

void PixelFormat::setBGR233() noexcept { *this = PixelFormat(8, 8, false, true, 7, 7, 3, 0, 3, 6, 0, 0); }

// clang-format off
const PixelFormat& PixelFormat::rgb888()    { static const PixelFormat pf(32, 24, false, true, 255, 255, 255, 16, 8, 0, 0, 0);   return pf; }
const PixelFormat& PixelFormat::bgr888()    { static const PixelFormat pf(32, 24, false, true, 255, 255, 255, 0, 8, 16, 0, 0);   return pf; }
const PixelFormat& PixelFormat::rgb565()    { static const PixelFormat pf(16, 16, false, true, 31, 63, 31, 11, 5, 0, 0, 0);      return pf; }
const PixelFormat& PixelFormat::rgb555()    { static const PixelFormat pf(16, 15, false, true, 31, 31, 31, 10, 5, 0, 0, 0);      return pf; }
const PixelFormat& PixelFormat::rgb222()    { static const PixelFormat pf(8, 6, false, true, 3, 3, 3, 4, 2, 0, 0, 0);            return pf; }
const PixelFormat& PixelFormat::rgb111()    { static const PixelFormat pf(8, 3, false, true, 1, 1, 1, 2, 1, 0, 0, 0);            return pf; }
const PixelFormat& PixelFormat::pal8()      { static const PixelFormat pf(8, 8, false, false, 0, 0, 0, 0, 0, 0, 0, 0);           return pf; }
const PixelFormat& PixelFormat::argb8888()  { static const PixelFormat pf(32, 32, false, true, 255, 255, 255, 16, 8, 0, 24, 255); return pf; }
const PixelFormat& PixelFormat::rgbaBytes() { static const PixelFormat pf(32, 32, false, true, 255, 255, 255, 0, 8, 16, 24, 255); return pf; }
// clang-format on

namespace {
PixelFormat littleEndian(PixelFormat pf) {
  (void)pf.makeLittleEndian();
  return pf;
}
}  // namespace

const PixelFormat& PixelFormat::rgb888Host() {
  static const PixelFormat pf = littleEndian(rgb888());
  return pf;
}
const PixelFormat& PixelFormat::bgr888Host() {
  static const PixelFormat pf = littleEndian(bgr888());
  return pf;
}
const PixelFormat& PixelFormat::argb8888Host() {
  static const PixelFormat pf = littleEndian(argb8888());
  return pf;
}
const PixelFormat& PixelFormat::rgbaBytesHost() {
  static const PixelFormat pf = littleEndian(rgbaBytes());
  return pf;
}

}  // namespace rfb
