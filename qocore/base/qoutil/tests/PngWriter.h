#pragma once
// Test images: PNGs of any colour type, bit depth and interlacing written
// with libpng's own writer, and the pixel each one must decode to.

#include <png.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace qoutil_test {

struct TestPng {
  uint32_t width = 0;
  uint32_t height = 0;
  int colourType = PNG_COLOR_TYPE_RGB;
  int depth = 8;
  bool interlaced = false;
  std::vector<png_color> palette;     // colour type 3
  std::vector<uint8_t> paletteAlpha;  // tRNS of colour type 3
  bool hasTransColour = false;        // tRNS of colour types 0 and 2
  png_color_16 transColour{};

  int channels() const {
    switch (colourType) {
      case PNG_COLOR_TYPE_GRAY:
      case PNG_COLOR_TYPE_PALETTE:
        return 1;
      case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
      case PNG_COLOR_TYPE_RGB:
        return 3;
      default:
        return 4;
    }
  }
  // The stored sample of channel c at (x, y): every value of the depth
  // turns up, and the palette's indices stay inside it.
  uint32_t sample(uint32_t x, uint32_t y, int c) const {
    const uint32_t range = colourType == PNG_COLOR_TYPE_PALETTE ? uint32_t(palette.size()) : 1u << depth;
    return (x * 7 + y * 13 + uint32_t(c) * 5 + (x * y) / 3) % range;
  }
};

// A test image libpng cannot write is a fault of the test itself.
inline void pngWriteError(png_structp, png_const_charp message) {
  std::fprintf(stderr, "libpng write: %s\n", message);
  std::abort();
}

inline void pngWriteData(png_structp png, png_bytep data, size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

inline void pngFlush(png_structp) {}

inline std::vector<uint8_t> encodePng(const TestPng& t) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngWriteError, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, pngWriteData, pngFlush);
  png_set_IHDR(png, info, t.width, t.height, t.depth, t.colourType,
               t.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!t.palette.empty()) png_set_PLTE(png, info, t.palette.data(), int(t.palette.size()));
  if (!t.paletteAlpha.empty()) png_set_tRNS(png, info, t.paletteAlpha.data(), int(t.paletteAlpha.size()), nullptr);
  if (t.hasTransColour) png_set_tRNS(png, info, nullptr, 0, &t.transColour);
  const size_t rowBytes = (size_t(t.width) * t.channels() * t.depth + 7) / 8;
  std::vector<std::vector<uint8_t>> rows(t.height, std::vector<uint8_t>(rowBytes));
  for (uint32_t y = 0; y < t.height; ++y) {
    uint8_t* row = rows[y].data();
    size_t bit = 0;
    for (uint32_t x = 0; x < t.width; ++x) {
      for (int c = 0; c < t.channels(); ++c, bit += t.depth) {
        const uint32_t v = t.sample(x, y, c);
        if (t.depth == 16) {
          row[bit / 8] = uint8_t(v >> 8);
          row[bit / 8 + 1] = uint8_t(v);
        } else {
          row[bit / 8] |= uint8_t(v << (8 - t.depth - bit % 8));
        }
      }
    }
  }
  std::vector<png_bytep> pointers;
  for (auto& r : rows) pointers.push_back(r.data());
  png_set_rows(png, info, pointers.data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

// The decoded pixel at (x, y) as a 32-bit value: alpha (or the zero
// filler) << 24 | red << 16 | green << 8 | blue, straight alpha.
inline uint32_t expectedPixel(const TestPng& t, uint32_t x, uint32_t y) {
  auto to8 = [&](uint32_t v) -> uint32_t {
    if (t.depth == 16) return v >> 8;  // libpng's strip_16 keeps the high byte
    return v * 255 / ((1u << t.depth) - 1);
  };
  uint32_t r, g, b, a = 255;
  bool alpha = false;
  switch (t.colourType) {
    case PNG_COLOR_TYPE_PALETTE: {
      const uint32_t i = t.sample(x, y, 0);
      r = t.palette[i].red;
      g = t.palette[i].green;
      b = t.palette[i].blue;
      alpha = !t.paletteAlpha.empty();
      if (i < t.paletteAlpha.size()) a = t.paletteAlpha[i];
      break;
    }
    case PNG_COLOR_TYPE_GRAY:
      r = g = b = to8(t.sample(x, y, 0));
      alpha = t.hasTransColour;
      if (alpha && t.sample(x, y, 0) == t.transColour.gray) a = 0;
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      r = g = b = to8(t.sample(x, y, 0));
      a = to8(t.sample(x, y, 1));
      alpha = true;
      break;
    case PNG_COLOR_TYPE_RGB:
      r = to8(t.sample(x, y, 0));
      g = to8(t.sample(x, y, 1));
      b = to8(t.sample(x, y, 2));
      alpha = t.hasTransColour;
      if (alpha && t.sample(x, y, 0) == t.transColour.red && t.sample(x, y, 1) == t.transColour.green &&
          t.sample(x, y, 2) == t.transColour.blue)
        a = 0;
      break;
    default:
      r = to8(t.sample(x, y, 0));
      g = to8(t.sample(x, y, 1));
      b = to8(t.sample(x, y, 2));
      a = to8(t.sample(x, y, 3));
      alpha = true;
      break;
  }
  return (alpha ? a : 0) << 24 | r << 16 | g << 8 | b;
}

// Rewrites the IHDR width and height of an encoded PNG and mends the
// chunk's CRC, so that only the checks on the values themselves see them.
inline void patchDimensions(std::vector<uint8_t>& png, uint32_t width, uint32_t height) {
  auto put = [&](size_t at, uint32_t v) {
    png[at] = uint8_t(v >> 24);
    png[at + 1] = uint8_t(v >> 16);
    png[at + 2] = uint8_t(v >> 8);
    png[at + 3] = uint8_t(v);
  };
  // Signature (8), length (4), "IHDR" (4), then the 13 data bytes.
  put(16, width);
  put(20, height);
  put(29, uint32_t(crc32(crc32(0, nullptr, 0), &png[12], 17)));
}

}  // namespace qoutil_test
