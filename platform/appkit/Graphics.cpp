#include "platform/appkit/Graphics.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/appkit/Color.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Metrics.h"
#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/base/rfb/PixelDraw.h"
#include "qocore/base/rfb/PixelTrans.h"

namespace appkit {

namespace {

thread_local GraphicsContext* currentContext = nullptr;
double pathLineWidth = 1;

DeviceColor deviceColor(const Color* color) {
  double r = 0, g = 0, b = 0, a = 0;
  if (color) color->getRed(&r, &g, &b, &a);
  auto channel = [&](double v) { return static_cast<uint32_t>(std::lround(v * a * 255)); };
  return DeviceColor{channel(r), channel(g), channel(b), static_cast<uint32_t>(std::lround(a * 255))};
}

// The first and one-past-last pixel whose centres lie in [lo, hi).
// Far-off or undefined coordinates (a view's frame is the program's
// business) are limited to what a buffer can hold before they are made
// integers.
void centresIn(double lo, double hi, long& first, long& end) {
  constexpr double kFar = 1e9;
  if (!(hi > lo)) {
    first = end = 0;
    return;
  }
  first = static_cast<long>(std::ceil(std::clamp(lo, -kFar, kFar) - 0.5));
  end = static_cast<long>(std::ceil(std::clamp(hi, -kFar, kFar) - 0.5));
}

// Up to two intervals [x0, x1) of one pixel row.
struct Spans {
  int count = 0;
  double x[4];
  void add(double a, double b) {
    if (b > a && count < 2) {
      x[2 * count] = a;
      x[2 * count + 1] = b;
      ++count;
    }
  }
};

// A rectangle with elliptic corners, in device pixels.
struct RoundedShape {
  double x1, y1, x2, y2, rx, ry;

  RoundedShape(Rect r, double xr, double yr) noexcept : x1(r.minX()), y1(r.minY()), x2(r.maxX()), y2(r.maxY()) {
    rx = std::clamp(xr, 0.0, std::max(0.0, (x2 - x1) / 2));
    ry = std::clamp(yr, 0.0, std::max(0.0, (y2 - y1) / 2));
    if (rx <= 0 || ry <= 0) rx = ry = 0;
  }
  bool empty() const noexcept { return x2 <= x1 || y2 <= y1; }
  // The row's interval at height yc; false when the row misses the shape.
  bool span(double yc, double& xl, double& xr) const noexcept {
    if (empty() || yc < y1 || yc >= y2) return false;
    double dy = 0;
    if (yc < y1 + ry)
      dy = y1 + ry - yc;
    else if (yc > y2 - ry)
      dy = yc - (y2 - ry);
    double inset = 0;
    if (dy > 0) inset = rx - rx * std::sqrt(std::max(0.0, 1 - (dy / ry) * (dy / ry)));
    xl = x1 + inset;
    xr = x2 - inset;
    return xr > xl;
  }
};

Rect outset(Rect r, double by) {
  return makeRect(r.minX() - by, r.minY() - by, r.size.width + 2 * by, r.size.height + 2 * by);
}

}  // namespace

GraphicsContext::GraphicsContext(rfb::WritablePixelBuffer& buffer, double scale, bool flipped)
    : buffer_(buffer), scale_(scale > 0 ? scale : 1) {
  state_.flipped = flipped;
}

GraphicsContext* GraphicsContext::withBitmap(BitmapImageRep* rep) {
  if (!rep) return nullptr;
  auto owned = std::make_unique<rfb::FullFramePixelBuffer>(
      rfb::PixelFormat::rgbaBytes(),
      rfb::Rect(0, 0, static_cast<int32_t>(rep->pixelsWide()), static_cast<int32_t>(rep->pixelsHigh())), nullptr,
      rep->bitmapData(), 0);
  auto* c = new GraphicsContext(*owned, 1, false);
  c->owned_ = std::move(owned);
  c->rep_ = rep;
  return static_cast<GraphicsContext*>(c->autorelease());
}

GraphicsContext::~GraphicsContext() {
  if (currentContext == this) currentContext = nullptr;
}

GraphicsContext* GraphicsContext::current() noexcept { return currentContext; }
void GraphicsContext::setCurrent(GraphicsContext* context) noexcept { currentContext = context; }

void GraphicsContext::saveGraphicsState() {
  if (GraphicsContext* c = current()) c->saved_.push_back(c->state_);
}

void GraphicsContext::restoreGraphicsState() {
  GraphicsContext* c = current();
  if (!c || c->saved_.empty()) return;
  c->state_ = c->saved_.back();
  c->saved_.pop_back();
}

void GraphicsContext::translate(double dx, double dy) noexcept {
  state_.dx += dx;
  state_.dy += dy;
}

void GraphicsContext::clipToRect(Rect rect) {
  Rect d = toDevice(rect);
  if (state_.clipped) {
    double x1 = std::max(d.minX(), state_.clip.minX()), y1 = std::max(d.minY(), state_.clip.minY());
    double x2 = std::min(d.maxX(), state_.clip.maxX()), y2 = std::min(d.maxY(), state_.clip.maxY());
    d = makeRect(x1, y1, std::max(0.0, x2 - x1), std::max(0.0, y2 - y1));
  }
  state_.clip = d;
  state_.clipped = true;
}

void GraphicsContext::setFillColor(const Color* color) { state_.fill = deviceColor(color); }
void GraphicsContext::setStrokeColor(const Color* color) { state_.stroke = deviceColor(color); }

Point GraphicsContext::toDevice(Point p) const noexcept {
  double x = (p.x + state_.dx) * scale_;
  double y = (p.y + state_.dy) * scale_;
  if (!state_.flipped) y = buffer_.height() - y;
  return Point{x, y};
}

Rect GraphicsContext::toDevice(Rect rect) const noexcept {
  Point a = toDevice(rect.origin);
  double w = rect.size.width * scale_, h = rect.size.height * scale_;
  return state_.flipped ? makeRect(a.x, a.y, w, h) : makeRect(a.x, a.y - h, w, h);
}

void GraphicsContext::rowRange(double top, double bottom, long& row, long& rowEnd) const {
  centresIn(top, bottom, row, rowEnd);
  if (state_.clipped) {
    long clipRow, clipRowEnd;
    centresIn(state_.clip.minY(), state_.clip.maxY(), clipRow, clipRowEnd);
    row = std::max(row, clipRow);
    rowEnd = std::min(rowEnd, clipRowEnd);
  }
  row = std::max(row, 0L);
  rowEnd = std::min(rowEnd, static_cast<long>(buffer_.height()));
}

void GraphicsContext::columnRange(double left, double right, long& x0, long& x1) const {
  if (state_.clipped) {
    left = std::max(left, state_.clip.minX());
    right = std::min(right, state_.clip.maxX());
  }
  centresIn(left, right, x0, x1);
  x0 = std::max(x0, 0L);
  x1 = std::min(x1, static_cast<long>(buffer_.width()));
}

rfb::Rect GraphicsContext::bufferRect(long x0, long y, long x1) const {
  const rfb::Rect& r = buffer_.getRect();
  return rfb::Rect(static_cast<int32_t>(r.x1 + x0), static_cast<int32_t>(r.y1 + y), static_cast<int32_t>(r.x1 + x1),
                   static_cast<int32_t>(r.y1 + y + 1));
}

template <class SpanFn>
void GraphicsContext::paintSpans(double top, double bottom, SpanFn span, DeviceColor colour, int operation) {
  long row, rowEnd;
  rowRange(top, bottom, row, rowEnd);
  const rfb::Colour c{colour.r, colour.g, colour.b, colour.a};
  std::vector<uint8_t> full;
  for (long y = row; y < rowEnd; ++y) {
    Spans s;
    span(y + 0.5, s);
    for (int i = 0; i < s.count; ++i) {
      long x0, x1;
      columnRange(s.x[2 * i], s.x[2 * i + 1], x0, x1);
      if (x1 <= x0) continue;
      rfb::Rect dst = bufferRect(x0, y, x1);
      if (operation == kCompositeSourceOver) {
        full.assign(static_cast<size_t>(x1 - x0), 255);
        rfb::blendMask(buffer_, dst, c, full.data(), 0);
      } else {
        rfb::Colour none;
        rfb::fillRect(buffer_, dst,
                      rfb::encodePixel(buffer_.getPf(), operation == kCompositeClear ? none : c, nullptr));
      }
    }
  }
}

void GraphicsContext::fillRect(Rect rect) {
  Rect d = toDevice(rect);
  paintSpans(
      d.minY(), d.maxY(), [&](double, Spans& s) { s.add(d.minX(), d.maxX()); }, state_.fill, state_.operation);
}

void GraphicsContext::fillRoundedRect(Rect rect, double xRadius, double yRadius) {
  RoundedShape shape(toDevice(rect), xRadius * scale_, yRadius * scale_);
  paintSpans(
      shape.y1, shape.y2,
      [&](double yc, Spans& s) {
        double xl, xr;
        if (shape.span(yc, xl, xr)) s.add(xl, xr);
      },
      state_.fill, kCompositeSourceOver);
}

namespace {
// The pixels of `outer` that are not in `inner`.
void ringSpans(const RoundedShape& outer, const RoundedShape& inner, double yc, Spans& s) {
  double ol, orr;
  if (!outer.span(yc, ol, orr)) return;
  double il, ir;
  if (!inner.span(yc, il, ir)) {
    s.add(ol, orr);
    return;
  }
  s.add(ol, std::min(il, orr));
  s.add(std::max(ir, ol), orr);
}
}  // namespace

void GraphicsContext::strokeRect(Rect rect) { strokeRoundedRect(rect, 0, 0); }

void GraphicsContext::strokeRoundedRect(Rect rect, double xRadius, double yRadius) {
  double half = state_.lineWidth / 2;
  RoundedShape outer(toDevice(outset(rect, half)), (xRadius + half) * scale_, (yRadius + half) * scale_);
  RoundedShape inner(toDevice(outset(rect, -half)), std::max(0.0, xRadius - half) * scale_,
                     std::max(0.0, yRadius - half) * scale_);
  paintSpans(
      outer.y1, outer.y2, [&](double yc, Spans& s) { ringSpans(outer, inner, yc, s); }, state_.stroke,
      kCompositeSourceOver);
}

void GraphicsContext::drawFocusRing(Rect rect) {
  RoundedShape outer(toDevice(outset(rect, kFocusRingWidth)), kFocusRingWidth * scale_, kFocusRingWidth * scale_);
  RoundedShape inner(toDevice(rect), 0, 0);
  paintSpans(
      outer.y1, outer.y2, [&](double yc, Spans& s) { ringSpans(outer, inner, yc, s); },
      deviceColor(Color::keyboardFocusIndicatorColor()), kCompositeSourceOver);
}

void GraphicsContext::strokeLine(Point from, Point to) {
  Point a = toDevice(from), b = toDevice(to);
  double dx = b.x - a.x, dy = b.y - a.y;
  double len = std::hypot(dx, dy);
  if (len == 0) return;
  double half = state_.lineWidth * scale_ / 2;
  double nx = -dy / len * half, ny = dx / len * half;
  paintPolygon({{a.x + nx, a.y + ny}, {b.x + nx, b.y + ny}, {b.x - nx, b.y - ny}, {a.x - nx, a.y - ny}}, state_.stroke);
}

void GraphicsContext::paintPolygon(const std::vector<Point>& p, DeviceColor colour) {
  double top = p[0].y, bottom = p[0].y;
  for (const Point& q : p) {
    top = std::min(top, q.y);
    bottom = std::max(bottom, q.y);
  }
  // A convex polygon: each row meets its outline at two edges, each edge
  // counted over [lower y, upper y) so that a vertex is met once.
  paintSpans(
      top, bottom,
      [&](double yc, Spans& s) {
        double lo = 0, hi = 0;
        bool any = false;
        for (size_t i = 0; i < p.size(); ++i) {
          const Point& u = p[i];
          const Point& v = p[(i + 1) % p.size()];
          if (u.y == v.y) continue;
          if (yc < std::min(u.y, v.y) || yc >= std::max(u.y, v.y)) continue;
          double x = u.x + (yc - u.y) * (v.x - u.x) / (v.y - u.y);
          lo = any ? std::min(lo, x) : x;
          hi = any ? std::max(hi, x) : x;
          any = true;
        }
        if (any) s.add(lo, hi);
      },
      colour, kCompositeSourceOver);
}

void GraphicsContext::drawPixels(const uint8_t* pixels, long w, long h, long stride, Rect src, Rect dst, int operation,
                                 double fraction, bool upsideDown) {
  if (!pixels || w <= 0 || h <= 0 || dst.size.width <= 0 || dst.size.height <= 0) return;
  if (src.size.width <= 0 || src.size.height <= 0) src = makeRect(0, 0, static_cast<double>(w), static_cast<double>(h));
  const uint32_t opacity = static_cast<uint32_t>(std::lround(std::clamp(fraction, 0.0, 1.0) * 255));
  const rfb::CompositeOp op = operation == kCompositeCopy ? rfb::opCopy : rfb::opOver;
  long row, rowEnd, x0, x1;
  rowRange(dst.minY(), dst.maxY(), row, rowEnd);
  columnRange(dst.minX(), dst.maxX(), x0, x1);
  if (x1 <= x0) return;
  std::vector<uint32_t> line(static_cast<size_t>(x1 - x0));
  for (long y = row; y < rowEnd; ++y) {
    // Each device pixel takes the source pixel under its centre.
    double v = (y + 0.5 - dst.minY()) / dst.size.height;
    if (upsideDown) v = 1 - v;
    long sy = std::clamp(static_cast<long>(std::floor(src.minY() + v * src.size.height)), 0L, h - 1);
    for (long x = x0; x < x1; ++x) {
      double u = (x + 0.5 - dst.minX()) / dst.size.width;
      long sx = std::clamp(static_cast<long>(std::floor(src.minX() + u * src.size.width)), 0L, w - 1);
      const uint8_t* px = pixels + sy * stride + sx * 4;
      uint32_t value = 0;
      for (int k = 0; k < 4; ++k) value |= ((px[k] * opacity + 127) / 255) << (8 * k);
      line[static_cast<size_t>(x - x0)] = value;
    }
    rfb::FullFramePixelBuffer source(rfb::PixelFormat::rgbaBytesHost(),
                                     rfb::Rect(0, 0, static_cast<int32_t>(x1 - x0), 1), nullptr,
                                     reinterpret_cast<uint8_t*>(line.data()), 0);
    rfb::transRect(source, rfb::Point{0, 0}, buffer_, bufferRect(x0, y, x1), op);
  }
}

void setFocusRingStyle(int style) {
  if (GraphicsContext* c = GraphicsContext::current()) c->setFocusRingStyle(style);
}

void rectFill(Rect rect) { rectFillUsingOperation(rect, kCompositeCopy); }

void rectFillUsingOperation(Rect rect, int operation) {
  GraphicsContext* c = GraphicsContext::current();
  if (!c) return;
  if (c->focusRingStyle() >= 0) {
    c->drawFocusRing(rect);
    return;
  }
  GraphicsContext::saveGraphicsState();
  c->setCompositingOperation(operation);
  c->fillRect(rect);
  GraphicsContext::restoreGraphicsState();
}

void frameRect(Rect rect) {
  GraphicsContext* c = GraphicsContext::current();
  if (!c) return;
  // An outline of one point inside the rectangle: the stroke of the
  // rectangle inset by half a point.
  GraphicsContext::saveGraphicsState();
  c->setLineWidth(1);
  c->strokeRect(outset(rect, -0.5));
  GraphicsContext::restoreGraphicsState();
}

BezierPath* BezierPath::withRect(Rect rect) {
  return static_cast<BezierPath*>((new BezierPath(rect, 0, 0))->autorelease());
}

BezierPath* BezierPath::withRoundedRect(Rect rect, double xRadius, double yRadius) {
  return static_cast<BezierPath*>((new BezierPath(rect, xRadius, yRadius))->autorelease());
}

void BezierPath::strokeLine(Point from, Point to) {
  GraphicsContext* c = GraphicsContext::current();
  if (!c) return;
  GraphicsContext::saveGraphicsState();
  c->setLineWidth(pathLineWidth);
  c->strokeLine(from, to);
  GraphicsContext::restoreGraphicsState();
}

void BezierPath::setDefaultLineWidth(double width) noexcept { pathLineWidth = width; }
double BezierPath::defaultLineWidth() noexcept { return pathLineWidth; }

void BezierPath::fillRect(Rect rect) {
  if (GraphicsContext* c = GraphicsContext::current()) c->fillRect(rect);
}

void BezierPath::fill() const {
  GraphicsContext* c = GraphicsContext::current();
  if (!c) return;
  if (rx_ > 0 && ry_ > 0)
    c->fillRoundedRect(rect_, rx_, ry_);
  else
    c->fillRect(rect_);
}

void BezierPath::stroke() const {
  GraphicsContext* c = GraphicsContext::current();
  if (!c) return;
  GraphicsContext::saveGraphicsState();
  c->setLineWidth(lineWidth_);
  if (rx_ > 0 && ry_ > 0)
    c->strokeRoundedRect(rect_, rx_, ry_);
  else
    c->strokeRect(rect_);
  GraphicsContext::restoreGraphicsState();
}

}  // namespace appkit
