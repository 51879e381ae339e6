#pragma once
// Stands in for the platform's drawing: graphics contexts, rectangle fills,
// paths (lines, rectangles, rounded rectangles) and focus rings.  A context
// rasterises into a pixel buffer of ours (rfb::WritablePixelBuffer, alpha
// premultiplied), so tests read back the pixels that were drawn.
//
// Geometry: a context maps points to device pixels by its scale (the
// backing scale, 1 or 2) after its translation; unflipped, y grows upwards
// from the buffer's bottom edge, flipped it grows downwards from the top.
// A pixel is painted when its centre lies inside the shape (left and top
// edges inside, right and bottom edges outside, in device space); there is
// no antialiasing.  A line is the rectangle of the line width centred on
// the segment (butt ends).  Drawing is clipped to the buffer and to the
// context's clip rectangle.  Colours are composited source over, or copied
// with the copy operation.

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/appkit/Geometry.h"
#include "platform/objc/Object.h"
#include "platform/objc/Ref.h"

namespace rfb {
class WritablePixelBuffer;
struct Rect;
}  // namespace rfb

namespace appkit {

class BitmapImageRep;
class Color;

// A colour as the rasteriser uses it: premultiplied, 0..255 per channel.
struct DeviceColor {
  uint32_t r = 0;
  uint32_t g = 0;
  uint32_t b = 0;
  uint32_t a = 0;
};

class GraphicsContext : public objc::Object {
 public:
  // A new context (one reference, the caller's) over a buffer that must
  // outlive it; device pixel (0, 0) is the buffer's top-left pixel.
  GraphicsContext(rfb::WritablePixelBuffer& buffer, double scale, bool flipped);
  // graphicsContextWithBitmapImageRep:: an autoreleased context over the
  // representation's pixels at scale 1 (retains the representation).
  static GraphicsContext* withBitmap(BitmapImageRep* rep);

  // The calling thread's current context (null when none); setting it
  // does not retain it.
  static GraphicsContext* current() noexcept;
  static void setCurrent(GraphicsContext* context) noexcept;
  // saveGraphicsState and restoreGraphicsState on the current context:
  // the colours, line width, translation, clip and flipped state.
  static void saveGraphicsState();
  static void restoreGraphicsState();

  rfb::WritablePixelBuffer& buffer() noexcept { return buffer_; }
  double scale() const noexcept { return scale_; }
  bool isFlipped() const noexcept { return state_.flipped; }
  void setFlipped(bool flipped) noexcept { state_.flipped = flipped; }
  // Moves the origin by (dx, dy) points in the current coordinates.
  void translate(double dx, double dy) noexcept;
  // Intersects the clip with a rectangle in the current coordinates.
  void clipToRect(Rect rect);
  void setFillColor(const Color* color);
  void setStrokeColor(const Color* color);
  double lineWidth() const noexcept { return state_.lineWidth; }
  void setLineWidth(double width) noexcept { state_.lineWidth = width; }
  // The compositing operation of rectangle fills (Constants.h).
  void setCompositingOperation(int operation) noexcept { state_.operation = operation; }
  // With a focus ring style set (NSSetFocusRingStyle; 0 is the ring
  // only), the next rectangle fills draw the focus ring around their
  // rectangle instead; restoring the state ends it.
  void setFocusRingStyle(int style) noexcept { state_.focusRing = style; }
  int focusRingStyle() const noexcept { return state_.focusRing; }

  // The device rectangle (pixels of the buffer) of a rectangle in points.
  Rect toDevice(Rect rect) const noexcept;
  Point toDevice(Point p) const noexcept;

  // Shapes in the fill colour (or, for lines, the stroke colour).
  void fillRect(Rect rect);
  void fillRoundedRect(Rect rect, double xRadius, double yRadius);
  void strokeLine(Point from, Point to);
  void strokeRect(Rect rect);
  void strokeRoundedRect(Rect rect, double xRadius, double yRadius);
  // The keyboard focus ring around a rectangle: a band of the focus ring
  // width (Metrics.h) outside it, with rounded outer corners, in the
  // focus indicator colour.
  void drawFocusRing(Rect rect);

  // Composites a premultiplied image of w x h pixels (rows top to bottom,
  // red in the lowest byte) into the device rectangle, each device pixel
  // taking the nearest source pixel; `fraction` scales its opacity;
  // `upsideDown` takes the source rows bottom to top.
  void drawPixels(const uint8_t* pixels, long w, long h, long stride, Rect srcPixels, Rect dst, int operation,
                  double fraction, bool upsideDown);

 protected:
  ~GraphicsContext() override;

 private:
  struct State {
    DeviceColor fill{0, 0, 0, 255};
    DeviceColor stroke{0, 0, 0, 255};
    double lineWidth = 1;
    double dx = 0;
    double dy = 0;
    bool flipped = false;
    int operation = 2;
    int focusRing = -1;
    bool clipped = false;
    Rect clip;  // device pixels
  };
  // Paints the pixels whose centres lie inside [xl, xr) on each row; the
  // span function answers false for a row without one.
  template <class SpanFn>
  void paintSpans(double top, double bottom, SpanFn span, DeviceColor colour, int operation);
  void paintPolygon(const std::vector<Point>& devicePoints, DeviceColor colour);
  // The rows and columns whose pixel centres lie in a device interval,
  // within the buffer and the clip.
  void rowRange(double top, double bottom, long& row, long& rowEnd) const;
  void columnRange(double left, double right, long& x0, long& x1) const;
  // Pixels x0..x1 of row y in the buffer's own coordinates.
  rfb::Rect bufferRect(long x0, long y, long x1) const;

  rfb::WritablePixelBuffer& buffer_;
  std::unique_ptr<rfb::WritablePixelBuffer> owned_;
  objc::Ref<BitmapImageRep> rep_;
  double scale_;
  double pointHeight_;
  State state_;
  std::vector<State> saved_;
  GraphicsContext* previous_ = nullptr;
};

// NSSetFocusRingStyle on the current context.
void setFocusRingStyle(int style);
// NSRectFill and NSRectFillUsingOperation in the current context.
void rectFill(Rect rect);
void rectFillUsingOperation(Rect rect, int operation);
// NSFrameRect: a one-point outline inside the rectangle.
void frameRect(Rect rect);

// A path of the shapes the program draws.
class BezierPath : public objc::Object {
 public:
  // Autoreleased paths.
  static BezierPath* withRect(Rect rect);
  static BezierPath* withRoundedRect(Rect rect, double xRadius, double yRadius);
  // strokeLineFromPoint:toPoint: (in the default line width) and
  // fillRect: in the current context.
  static void strokeLine(Point from, Point to);
  // The line width of new paths and of strokeLine (1 at start).
  static void setDefaultLineWidth(double width) noexcept;
  static double defaultLineWidth() noexcept;
  static void fillRect(Rect rect);

  // Fills or strokes the path in the current context (nothing without
  // one).
  void fill() const;
  void stroke() const;
  double lineWidth() const noexcept { return lineWidth_; }
  void setLineWidth(double width) noexcept { lineWidth_ = width; }
  Rect bounds() const noexcept { return rect_; }

 private:
  BezierPath(Rect rect, double rx, double ry) noexcept
      : rect_(rect), rx_(rx), ry_(ry), lineWidth_(defaultLineWidth()) {}
  ~BezierPath() override = default;
  Rect rect_;
  double rx_;
  double ry_;
  double lineWidth_;
};

}  // namespace appkit
