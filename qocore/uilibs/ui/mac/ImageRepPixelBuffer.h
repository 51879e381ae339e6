#pragma once
// The bridge from pixel buffers to native images: ui::ImageRepPixelBuffer
// is a writable pixel buffer whose pixels are the bitmap of a native image
// representation, so whatever is drawn or copied into it shows at once in
// the images made from it.

#include "platform/appkit/Image.h"
#include "platform/objc/Ref.h"
#include "qocore/base/rfb/PixelBuffer.h"

namespace ui {

class ImageRepPixelBuffer : public rfb::ConfigurablePixelBuffer {
 public:
  // A buffer in the RGBA byte format at the rectangle's top-left corner,
  // sized to the rectangle.  Throws as setSize does.
  explicit ImageRepPixelBuffer(const rfb::Rect& r);
  ~ImageRepPixelBuffer() override;
  ImageRepPixelBuffer(const ImageRepPixelBuffer&) = delete;
  ImageRepPixelBuffer& operator=(const ImageRepPixelBuffer&) = delete;

  // The format never changes: any other format fails an assertion.
  void setPF(const rfb::PixelFormat& pf) override;
  // Keeps the top-left corner and puts the pixels in a new representation
  // (the old pixels that still fit are copied when preserveOnResize is
  // set).  The same size again changes nothing.  When the new
  // representation cannot be made, plat::Exception is thrown and the
  // buffer keeps its rectangle, representation and pixels.
  void setSize(rfb::Size size) override;

  // An autoreleased image showing the representation, of the given size
  // in points, or for (0, 0) the pixel size divided by the image scale.
  appkit::Image* makeImage(appkit::Size size = {}) const;
  // The representation; null before the first non-empty size.
  appkit::BitmapImageRep* imageRep() const noexcept { return rep_; }

 private:
  objc::Ref<appkit::BitmapImageRep> rep_;
};

// An autoreleased image of any pixel buffer's pixels (translated into the
// RGBA byte format), sized as makeImage sizes it.
appkit::Image* nsImageFromPixelBuffer(const rfb::PixelBuffer& pb, appkit::Size size = {});

}  // namespace ui
