#pragma once
// rfb::PixelFormat: how one pixel is laid out in memory (size, significant
// bits, byte order, and either packed colour channels or a colour-map
// index), with its 16-byte wire form, a text form for messages, a short
// text syntax and the preset formats.

#include <cstdint>

namespace rdr {
class InStream;
class OutStream;
}  // namespace rdr

namespace rfb {

class PixelFormat {
 public:
  // The size of the buffer that print() fills.
  static constexpr int kPrintSize = 128;

  PixelFormat() = default;
  // Alpha's shift comes before its maximum.
  PixelFormat(int bpp, int depth, bool bigEndian, bool trueColour, int redMax, int greenMax, int blueMax, int redShift,
              int greenShift, int blueShift, int alphaShift = 0, int alphaMax = 0) noexcept;

  // The same pixels: byte order is ignored for 8 bpp, and colour-map
  // formats compare no channel fields.
  [[nodiscard]] bool equal(const PixelFormat& other) const noexcept;
  // Whether the format can be used: a known bpp, a depth that fits, and
  // channels inside the pixel.  The check for formats from outside.
  [[nodiscard]] bool isSane() const noexcept;
  // Sets depth to the bits that the four channels cover (true colour only).
  void updateDepth() noexcept;
  // Every channel is one whole byte.
  [[nodiscard]] bool is888() const noexcept;
  // Rewrites a big-endian format as the little-endian one with the same
  // bytes where that can be done; returns whether the format is now
  // little-endian.
  [[nodiscard]] bool makeLittleEndian() noexcept;

  // The 16-byte serialised form.  read() keeps alpha only when the depth
  // accounts for its bits.
  void read(rdr::InStream& is);
  void write(rdr::OutStream& os) const;

  // The text form, e.g. "depth 24 (32 bpp) little-endian rgb888".
  const char* print(char (&buf)[kPrintSize]) const noexcept;
  // "pal<n>", or "rgb"/"bgr" followed by three digit bit counts.  False
  // on failure, with the format partly changed.
  [[nodiscard]] bool parse(const char* text) noexcept;

  // 8 bpp, red 3 bits at 0, green 3 bits at 3, blue 2 bits at 6.
  void setBGR233() noexcept;

  static const PixelFormat& rgb888();
  static const PixelFormat& bgr888();
  static const PixelFormat& rgb565();
  static const PixelFormat& rgb555();
  static const PixelFormat& rgb222();
  static const PixelFormat& rgb111();
  static const PixelFormat& pal8();
  static const PixelFormat& argb8888();
  static const PixelFormat& rgbaBytes();
  // The same values, built in host byte order.
  static const PixelFormat& rgb888Host();
  static const PixelFormat& bgr888Host();
  static const PixelFormat& argb8888Host();
  static const PixelFormat& rgbaBytesHost();

  uint8_t bpp = 0;
  uint8_t depth = 0;
  uint8_t bigEndian = 0;
  uint8_t trueColour = 0;
  uint16_t redMax = 0;
  uint16_t greenMax = 0;
  uint16_t blueMax = 0;
  uint16_t alphaMax = 0;
  uint8_t redShift = 0;
  uint8_t greenShift = 0;
  uint8_t blueShift = 0;
  uint8_t alphaShift = 0;
};

static_assert(sizeof(PixelFormat) == 16);

// Shifts by 32 or more give 0: format fields may come from outside.
constexpr uint32_t shiftLeft(uint32_t v, unsigned shift) noexcept { return shift < 32 ? v << shift : 0; }
constexpr uint32_t shiftRight(uint32_t v, unsigned shift) noexcept { return shift < 32 ? v >> shift : 0; }

}  // namespace rfb
