#pragma once
// The platform's geometry records: points, sizes and rectangles in points,
// as floating-point numbers.

namespace appkit {

struct Point {
  double x = 0;
  double y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  double width = 0;
  double height = 0;
  bool operator==(const Size&) const = default;
};

struct Rect {
  Point origin;
  Size size;
  bool operator==(const Rect&) const = default;
  double minX() const noexcept { return origin.x; }
  double minY() const noexcept { return origin.y; }
  double maxX() const noexcept { return origin.x + size.width; }
  double maxY() const noexcept { return origin.y + size.height; }
};

constexpr Rect makeRect(double x, double y, double w, double h) noexcept { return Rect{{x, y}, {w, h}}; }

// Whether the point lies in the rectangle, as the platform's mouse test
// decides it: the lower edge in the rectangle's own direction is inside,
// the upper one outside.  `flipped`: y grows downwards.
inline bool mouseInRect(Point p, const Rect& r, bool flipped) noexcept {
  if (p.x < r.minX() || p.x >= r.maxX()) return false;
  return flipped ? (p.y >= r.minY() && p.y < r.maxY()) : (p.y > r.minY() && p.y <= r.maxY());
}

}  // namespace appkit

#include <cstddef>

namespace appkit {

// A range of UTF-16 units of a string, as the platform's text interfaces
// take them.
struct Range {
  size_t location = 0;
  size_t length = 0;
  bool operator==(const Range&) const = default;
  size_t end() const noexcept { return location + length; }
};

// "No such index", as the platform answers it.
constexpr size_t kNotFound = static_cast<size_t>(-1) >> 1;

}  // namespace appkit
