#pragma once
// rfb::Rect, rfb::Point and rfb::Size: pixel geometry in signed 32-bit
// coordinates.  A rectangle includes its top-left corner (x1, y1) and
// excludes its bottom-right corner (x2, y2).

#include <algorithm>
#include <cstdint>
#include <limits>

namespace rfb {

// A 64-bit coordinate clamped into 32 bits.
constexpr int32_t clampTo32(int64_t v) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

struct Point {
  int32_t x = 0;
  int32_t y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  int32_t width = 0;
  int32_t height = 0;
  bool operator==(const Size&) const = default;
};

struct Rect {
  // The size of the buffer that print() fills.
  static constexpr int kPrintSize = 48;

  constexpr Rect() = default;
  constexpr Rect(int32_t x1_, int32_t y1_, int32_t x2_, int32_t y2_) : x1(x1_), y1(y1_), x2(x2_), y2(y2_) {}

  bool operator==(const Rect&) const = default;

  // Widths and heights in 64 bits: the corners may lie 2^32 apart.
  [[nodiscard]] constexpr int64_t width() const { return int64_t{x2} - x1; }
  [[nodiscard]] constexpr int64_t height() const { return int64_t{y2} - y1; }
  [[nodiscard]] constexpr bool isEmpty() const { return x1 >= x2 || y1 >= y2; }
  [[nodiscard]] constexpr Point tl() const { return {x1, y1}; }
  [[nodiscard]] constexpr bool encloses(const Rect& r) const {
    return r.x1 >= x1 && r.y1 >= y1 && r.x2 <= x2 && r.y2 <= y2;
  }
  // A disjoint intersection is an empty rectangle whose corners coincide.
  [[nodiscard]] constexpr Rect intersect(const Rect& r) const {
    Rect c;
    c.x2 = std::min(x2, r.x2);
    c.y2 = std::min(y2, r.y2);
    c.x1 = std::min(std::max(x1, r.x1), c.x2);
    c.y1 = std::min(std::max(y1, r.y1), c.y2);
    return c;
  }
  // Moved by (dx, dy); the caller keeps the result inside 32 bits.
  [[nodiscard]] constexpr Rect translate(Point d) const { return {x1 + d.x, y1 + d.y, x2 + d.x, y2 + d.y}; }
  // "x1,y1 to x2,y2".
  const char* print(char (&buf)[kPrintSize]) const noexcept;

  int32_t x1 = 0;
  int32_t y1 = 0;
  int32_t x2 = 0;
  int32_t y2 = 0;
};

}  // namespace rfb
