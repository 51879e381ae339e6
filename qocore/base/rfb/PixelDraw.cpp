#include "qocore/base/rfb/PixelDraw.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "qocore/base/rfb/PixelAccess.h"

namespace rfb {

namespace {

// Bytes per pixel of a buffer the routines work on; 0 for any other bpp.
int pixelBytes(const PixelBuffer& pb) {
  switch (pb.getPf().bpp) {
    case 8:
      return 1;
    case 16:
      return 2;
    case 24:
      return 3;
    case 32:
      return 4;
    default:
      return 0;
  }
}

int32_t clamp32(int64_t v) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

Rect rect64(int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
  return Rect(clamp32(x1), clamp32(y1), clamp32(x2), clamp32(y2));
}

// The clipped rectangle's memory: rows of `width` pixels, `step` bytes
// apart.
struct Rows {
  uint8_t* base = nullptr;
  ptrdiff_t step = 0;
  int32_t width = 0;
  int32_t height = 0;
  uint8_t* row(int32_t y) const { return base + y * step; }
};

Rows rowsOf(WritablePixelBuffer& pb, const Rect& c, int bytes) {
  Rows rows;
  int32_t stride = 0;
  rows.base = pb.getPixelsRW(c, &stride);
  rows.step = ptrdiff_t{stride} * bytes;
  rows.width = static_cast<int32_t>(c.width());
  rows.height = static_cast<int32_t>(c.height());
  return rows;
}

template <int Bytes>
void fillRun(uint8_t* p, uint32_t pixel, size_t count) {
  for (size_t i = 0; i < count; ++i, p += Bytes) writePixel<Bytes>(p, pixel);
}

// Writes one pixel through a one-pixel rectangle when it lies inside.
void plot(WritablePixelBuffer& pb, int64_t x, int64_t y, uint32_t pixel, int bytes) {
  const Rect& r = pb.getRect();
  if (x < r.x1 || x >= r.x2 || y < r.y1 || y >= r.y2) return;
  const auto px = static_cast<int32_t>(x), py = static_cast<int32_t>(y);
  writePixel(pb.getPixelsRW(Rect(px, py, px + 1, py + 1), nullptr), bytes, pixel);
}

}  // namespace

void fillPixels(void* mem, uint32_t pixel, size_t count, int bytesPerPixel) noexcept {
  auto* p = static_cast<uint8_t*>(mem);
  switch (bytesPerPixel) {
    case 1:
      std::memset(p, static_cast<uint8_t>(pixel), count);
      break;
    case 2:
      fillRun<2>(p, pixel, count);
      break;
    case 3:
      fillRun<3>(p, pixel, count);
      break;
    case 4:
      fillRun<4>(p, pixel, count);
      break;
    default:
      break;
  }
}

void fillRect(WritablePixelBuffer& pb, const Rect& r, uint32_t pixel) {
  const int bytes = pixelBytes(pb);
  const Rect c = r.intersect(pb.getRect());
  if (bytes == 0 || c.isEmpty()) return;
  const Rows rows = rowsOf(pb, c, bytes);
  for (int32_t y = 0; y < rows.height; ++y) fillPixels(rows.row(y), pixel, size_t(rows.width), bytes);
}

void xorRect(WritablePixelBuffer& pb, const Rect& r, uint32_t pixel) {
  const int bytes = pixelBytes(pb);
  const Rect c = r.intersect(pb.getRect());
  if (bytes == 0 || c.isEmpty()) return;
  const Rows rows = rowsOf(pb, c, bytes);
  for (int32_t y = 0; y < rows.height; ++y) {
    uint8_t* p = rows.row(y);
    for (int32_t x = 0; x < rows.width; ++x, p += bytes) writePixel(p, bytes, readPixel(p, bytes) ^ pixel);
  }
}

void drawBorder(WritablePixelBuffer& pb, const Rect& r, uint32_t pixel, int thickness) {
  fillRect(pb, rect64(r.x1, r.y1, r.x2, int64_t{r.y1} + thickness), pixel);
  fillRect(pb, rect64(r.x1, r.y1, int64_t{r.x1} + thickness, r.y2), pixel);
  fillRect(pb, rect64(r.x1, int64_t{r.y2} - thickness, r.x2, r.y2), pixel);
  fillRect(pb, rect64(int64_t{r.x2} - thickness, r.y1, r.x2, r.y2), pixel);
}

void drawLine(WritablePixelBuffer& pb, Point p1, Point p2, uint32_t pixel) {
  const int bytes = pixelBytes(pb);
  if (bytes == 0) return;
  // In 64 bits: the ends may lie 2^32 apart.
  const int64_t adx = std::abs(int64_t{p2.x} - p1.x);
  const int64_t ady = std::abs(int64_t{p2.y} - p1.y);
  const bool yMajor = adx < ady;
  const int64_t major = yMajor ? ady : adx;
  const int64_t minor = yMajor ? adx : ady;
  if (major == 0) return;
  const Rect box = rect64(std::min(p1.x, p2.x), std::min(p1.y, p2.y), int64_t{std::max(p1.x, p2.x)} + 1,
                          int64_t{std::max(p1.y, p2.y)} + 1);
  const Rect c = box.intersect(pb.getRect());
  if (c.isEmpty()) return;
  const Rows rows = rowsOf(pb, c, bytes);
  const int64_t sx = p2.x > p1.x ? 1 : -1;
  const int64_t sy = p2.y > p1.y ? 1 : -1;
  int64_t x = p1.x, y = p1.y;
  int64_t d = 2 * minor - major;
  // Once the major coordinate has passed the clipped box, no further
  // pixel can be inside it.
  const int64_t majorStep = yMajor ? sy : sx;
  const int64_t majorLimit = yMajor ? (sy > 0 ? c.y2 : c.y1 - 1) : (sx > 0 ? c.x2 : c.x1 - 1);
  const int64_t& majorPos = yMajor ? y : x;
  for (int64_t i = 0; i < major && majorPos != majorLimit; ++i) {
    if (x >= c.x1 && x < c.x2 && y >= c.y1 && y < c.y2)
      writePixel(rows.row(static_cast<int32_t>(y - c.y1)) + (x - c.x1) * bytes, bytes, pixel);
    if (d < 0) {
      (yMajor ? y : x) += majorStep;
      d += 2 * minor;
    } else {
      x += sx;
      y += sy;
      d += 2 * (minor - major);
    }
  }
}

void drawRoundedRect(WritablePixelBuffer& pb, const Rect& r, int radius, uint32_t pixel) {
  const int bytes = pixelBytes(pb);
  if (bytes == 0) return;
  const int64_t x1 = r.x1, y1 = r.y1, x2 = r.x2, y2 = r.y2;
  const int64_t rad = std::max<int64_t>(0, std::min<int64_t>({radius, r.height() / 2, r.width() / 2}));
  const int64_t e = rad > 1 ? 1 : 0;
  auto line = [&](int64_t ax, int64_t ay, int64_t bx, int64_t by) {
    drawLine(pb, {clamp32(ax), clamp32(ay)}, {clamp32(bx), clamp32(by)}, pixel);
  };
  line(x1 + rad, y1, x2 - 1 - rad + e, y1);
  line(x2 - 1, y1 + rad, x2 - 1, y2 - 1 - rad + e);
  line(x2 - 1 - rad, y2 - 1, x1 + rad - e, y2 - 1);
  line(x1, y2 - 1 - rad, x1, y1 + rad - e);
  if (rad <= 1) return;
  const int64_t left = x1 + rad, right = x2 - 1 - rad, top = y1 + rad, bottom = y2 - 1 - rad;
  int64_t x = 0, y = rad, d = 1 - rad, incX = 1, incY = -2 * rad;
  while (x < y) {
    if (d >= 0) {
      --y;
      incY += 2;
      d += incY;
    }
    ++x;
    incX += 2;
    d += incX;
    plot(pb, left - x, top - y, pixel, bytes);
    plot(pb, left - y, top - x, pixel, bytes);
    plot(pb, right + x, top - y, pixel, bytes);
    plot(pb, right + y, top - x, pixel, bytes);
    plot(pb, right + x, bottom + y, pixel, bytes);
    plot(pb, right + y, bottom + x, pixel, bytes);
    plot(pb, left - x, bottom + y, pixel, bytes);
    plot(pb, left - y, bottom + x, pixel, bytes);
  }
}

void gradientRect(WritablePixelBuffer& pb, const Rect& r, const uint32_t (&top)[3], const uint32_t (&bottom)[3]) {
  const int bytes = pixelBytes(pb);
  const Rect c = r.intersect(pb.getRect());
  if (bytes == 0 || c.isEmpty()) return;
  const Rows rows = rowsOf(pb, c, bytes);
  const int64_t n = r.height() - 1;
  for (int32_t row = 0; row < rows.height; ++row) {
    // Signed 64 bits: a darker bottom colour gives a negative difference.
    const int64_t t = int64_t{c.y1} + row - r.y1;
    uint32_t rgb[3];
    for (int i = 0; i < 3; ++i) {
      const int64_t from = top[i], to = bottom[i];
      rgb[i] = static_cast<uint32_t>(n == 0 ? from : from + ((to - from) * t + n / 2) / n);
    }
    fillPixels(rows.row(row), pb.pixelFromRGB(rgb[0], rgb[1], rgb[2]), size_t(rows.width), bytes);
  }
}

namespace {

// Calls fn(pixel memory, index of the pixel in the unclipped rectangle's
// row, row index) for every pixel whose mask bit is set.
template <typename Fn>
void forMaskedPixels(WritablePixelBuffer& pb, const Rect& r, const uint8_t* mask, int32_t maskStride, int maskBitOffset,
                     int bytes, Fn fn) {
  const Rect c = r.intersect(pb.getRect());
  if (c.isEmpty()) return;
  if (maskStride == 0) maskStride = static_cast<int32_t>((r.width() + 7) / 8);
  const Rows rows = rowsOf(pb, c, bytes);
  const int64_t dx = int64_t{c.x1} - r.x1, dy = int64_t{c.y1} - r.y1;
  for (int32_t y = 0; y < rows.height; ++y) {
    const uint8_t* maskRow = mask + (dy + y) * maskStride;
    uint8_t* p = rows.row(y);
    for (int32_t x = 0; x < rows.width; ++x, p += bytes) {
      const int64_t bit = dx + x + maskBitOffset;
      if (maskRow[bit / 8] & (0x80 >> (bit % 8))) fn(p, dx + x, dy + y);
    }
  }
}

}  // namespace

void maskRect(WritablePixelBuffer& pb, const Rect& r, const void* src, const uint8_t* mask, int32_t srcStride,
              int32_t maskStride, int maskBitOffset) {
  const int bytes = pixelBytes(pb);
  if (bytes == 0) return;
  if (srcStride == 0) srcStride = static_cast<int32_t>(r.width());
  auto* s = static_cast<const uint8_t*>(src);
  forMaskedPixels(pb, r, mask, maskStride, maskBitOffset, bytes, [&](uint8_t* p, int64_t x, int64_t y) {
    std::memcpy(p, s + (y * srcStride + x) * bytes, size_t(bytes));
  });
}

void maskFillRect(WritablePixelBuffer& pb, const Rect& r, uint32_t pixel, const uint8_t* mask, int32_t maskStride,
                  int maskBitOffset) {
  const int bytes = pixelBytes(pb);
  if (bytes == 0) return;
  forMaskedPixels(pb, r, mask, maskStride, maskBitOffset, bytes,
                  [&](uint8_t* p, int64_t, int64_t) { writePixel(p, bytes, pixel); });
}

void copyRowsRotated(const void* src, void* dst, Size dstSize, int bytesPerPixel, int32_t srcStride, int32_t dstStride,
                     int quarterTurns) noexcept {
  const int32_t w = dstSize.width, h = dstSize.height;
  if (w <= 0 || h <= 0 || bytesPerPixel <= 0) return;
  if (quarterTurns == 0) {
    copyRows(src, dst, dstSize, bytesPerPixel, srcStride, dstStride);
    return;
  }
  if (dstStride == 0) dstStride = w;
  if (srcStride == 0) srcStride = (quarterTurns & 1) ? h : w;
  auto* s = static_cast<const uint8_t*>(src);
  auto* d = static_cast<uint8_t*>(dst);
  const auto bytes = size_t(bytesPerPixel);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      int64_t sx, sy;
      switch (quarterTurns) {
        case 1:
          sx = y, sy = w - 1 - x;
          break;
        case 2:
          sx = w - 1 - x, sy = h - 1 - y;
          break;
        case 3:
          sx = h - 1 - y, sy = x;
          break;
        default:
          return;
      }
      std::memcpy(d + (int64_t{y} * dstStride + x) * bytesPerPixel, s + (sy * srcStride + sx) * bytesPerPixel, bytes);
    }
  }
}

void moveRect(WritablePixelBuffer& pb, const Rect& dst, Point delta) {
  const int bytes = pixelBytes(pb);
  if (bytes == 0) return;
  const Rect& br = pb.getRect();
  // The buffer moved by the displacement, in 64 bits.
  const Rect moved =
      rect64(int64_t{br.x1} + delta.x, int64_t{br.y1} + delta.y, int64_t{br.x2} + delta.x, int64_t{br.y2} + delta.y);
  const Rect c = dst.intersect(br).intersect(moved);
  if (c.isEmpty()) return;
  const Rect from(c.x1 - delta.x, c.y1 - delta.y, c.x2 - delta.x, c.y2 - delta.y);
  const Rows to = rowsOf(pb, c, bytes);
  const Rows src = rowsOf(pb, from, bytes);
  const size_t rowBytes = size_t(to.width) * size_t(bytes);
  if (delta.y > 0) {
    for (int32_t y = to.height - 1; y >= 0; --y) std::memmove(to.row(y), src.row(y), rowBytes);
  } else {
    for (int32_t y = 0; y < to.height; ++y) std::memmove(to.row(y), src.row(y), rowBytes);
  }
}

}  // namespace rfb
