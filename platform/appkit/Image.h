#pragma once
// Stands in for the platform's images and bitmap image representations.
//
// A bitmap representation owns its pixels: 8-bit red, green, blue and
// alpha samples, meshed, alpha premultiplied, rows top to bottom, which is
// the pixel format rfb::PixelFormat::rgbaBytes() describes, so pixel
// buffers can draw into it directly.  Only that layout is made; asking for
// another (other sample sizes or counts, planar data, caller-supplied
// planes, a row length other than width x 4) answers null, as does a
// width or height below 1 or pixels that need more than 2^31 - 1 bytes.
//
// An image has a size in points and a list of representations; drawing it
// picks the first bitmap representation and scales its pixels to the
// destination's device pixels by the nearest source pixel.

#include <cstdint>
#include <vector>

#include "platform/appkit/Geometry.h"
#include "platform/appkit/Graphics.h"
#include "platform/objc/Object.h"
#include "platform/objc/Ref.h"

namespace appkit {

class GraphicsContext;

class ImageRep : public objc::Object {
 public:
  // The size in points; a new bitmap representation's is its pixel size.
  Size size() const noexcept { return size_; }
  void setSize(Size size) noexcept { size_ = size; }
  long pixelsWide() const noexcept { return pixelsWide_; }
  long pixelsHigh() const noexcept { return pixelsHigh_; }

 protected:
  ImageRep(long wide, long high) noexcept
      : size_{static_cast<double>(wide), static_cast<double>(high)}, pixelsWide_(wide), pixelsHigh_(high) {}
  ~ImageRep() override = default;

 private:
  Size size_;
  long pixelsWide_;
  long pixelsHigh_;
};

// The colour space name of device RGB bitmaps.
extern const char* const kDeviceRGBColorSpace;

class BitmapImageRep : public ImageRep {
 public:
  // initWithBitmapDataPlanes:pixelsWide:pixelsHigh:bitsPerSample:
  // samplesPerPixel:hasAlpha:isPlanar:colorSpaceName:bytesPerRow:
  // bitsPerPixel:: a new representation (one reference, the caller's)
  // with its pixels cleared to transparent black, or null (see above).
  static BitmapImageRep* create(uint8_t** planes, long pixelsWide, long pixelsHigh, long bitsPerSample,
                                long samplesPerPixel, bool hasAlpha, bool isPlanar, const char* colorSpaceName,
                                long bytesPerRow, long bitsPerPixel);

  uint8_t* bitmapData() noexcept { return data_.data(); }
  const uint8_t* bitmapData() const noexcept { return data_.data(); }
  long bytesPerRow() const noexcept { return pixelsWide() * 4; }
  long bitsPerPixel() const noexcept { return 32; }
  long samplesPerPixel() const noexcept { return 4; }
  bool hasAlpha() const noexcept { return true; }

  // The premultiplied samples of a pixel, red in the lowest byte (tests).
  uint32_t pixelAt(long x, long y) const noexcept;

  // Representations made so far in this process (tests count them).
  static long madeCount() noexcept;

 private:
  BitmapImageRep(long wide, long high);
  ~BitmapImageRep() override = default;

  std::vector<uint8_t> data_;
};

class Image : public objc::Object {
 public:
  // initWithSize:: a new image (one reference, the caller's) without
  // representations.
  explicit Image(Size size) noexcept : size_(size) {}

  Size size() const noexcept { return size_; }
  void setSize(Size size) noexcept { size_ = size; }
  // addRepresentation:: retained by the image.
  void addRepresentation(ImageRep* rep);
  void removeRepresentation(ImageRep* rep);
  const std::vector<ImageRep*>& representations() const noexcept { return reps_.items(); }
  // The first bitmap representation, null when there is none.
  BitmapImageRep* bitmap() const noexcept;

  // drawInRect:fromRect:operation:fraction:respectFlipped:hints: into
  // the current graphics context (nothing without one).  A zero source
  // rectangle means the whole image; operation as in Constants.h;
  // `fraction` (0..1) scales the image's opacity.  In a flipped context
  // the image is drawn upright when `respectFlipped` is set and upside
  // down otherwise.
  void drawInRect(Rect dst, Rect src, int operation, double fraction, bool respectFlipped, const void* hints) const;

  // lockFocus: makes the image's bitmap the target of a new current
  // graphics context (origin at the lower left, one pixel per point),
  // first adding a bitmap of the image's size, cleared to transparent,
  // when it has none; unlockFocus puts the previous context back.  A
  // second lockFocus before unlockFocus changes nothing.
  void lockFocus();
  void unlockFocus();

  // A short description of what the image shows, for icons the system
  // makes ("document", "folder"); empty for images made by the program.
  const char* iconKind() const noexcept { return iconKind_; }
  void setIconKind(const char* kind) noexcept { iconKind_ = kind; }

 protected:
  ~Image() override;

 private:
  Size size_;
  objc::RefVector<ImageRep> reps_;
  const char* iconKind_ = "";
  objc::Ref<GraphicsContext> focus_;
  objc::Ref<GraphicsContext> unfocused_;
};

}  // namespace appkit
