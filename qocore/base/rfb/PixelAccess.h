#pragma once
// Reading and writing one raw pixel value of 1, 2, 3 or 4 bytes: a 2- or
// 4-byte pixel is one native word, a 3-byte pixel its three low bytes
// least significant first.  Shared by the buffer, drawing and translation
// code.

#include <bit>
#include <cstdint>
#include <cstring>

namespace rfb {

template <int Bytes>
inline uint32_t readPixel(const uint8_t* p) noexcept {
  if constexpr (Bytes == 1) {
    return *p;
  } else if constexpr (Bytes == 2) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
  } else if constexpr (Bytes == 3) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
  } else {
    static_assert(Bytes == 4);
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
  }
}

template <int Bytes>
inline void writePixel(uint8_t* p, uint32_t v) noexcept {
  if constexpr (Bytes == 1) {
    *p = static_cast<uint8_t>(v);
  } else if constexpr (Bytes == 2) {
    uint16_t w = static_cast<uint16_t>(v);
    std::memcpy(p, &w, 2);
  } else if constexpr (Bytes == 3) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
  } else {
    static_assert(Bytes == 4);
    std::memcpy(p, &v, 4);
  }
}

// Runtime forms; other widths read 0 and write nothing.
inline uint32_t readPixel(const uint8_t* p, int bytes) noexcept {
  switch (bytes) {
    case 1:
      return readPixel<1>(p);
    case 2:
      return readPixel<2>(p);
    case 3:
      return readPixel<3>(p);
    case 4:
      return readPixel<4>(p);
    default:
      return 0;
  }
}

inline void writePixel(uint8_t* p, int bytes, uint32_t v) noexcept {
  switch (bytes) {
    case 1:
      writePixel<1>(p, v);
      break;
    case 2:
      writePixel<2>(p, v);
      break;
    case 3:
      writePixel<3>(p, v);
      break;
    case 4:
      writePixel<4>(p, v);
      break;
    default:
      break;
  }
}

// The byte order swap of a big-endian format: 16 and 32 bpp values only.
inline uint32_t swapPixel(uint32_t v, int bpp) noexcept {
  if (bpp == 16) return __builtin_bswap16(static_cast<uint16_t>(v));
  if (bpp == 32) return __builtin_bswap32(v);
  return v;
}

}  // namespace rfb
