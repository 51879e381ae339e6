#pragma once
// rfb::ImageLoader: a source of one whole image (a decoded file, a scaled
// view of another loader) that reports its size and the pixel format it
// delivers, and writes its pixels into a buffer of that format.

#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/base/rfb/PixelFormat.h"
#include "qocore/base/rfb/Rect.h"

namespace rfb {

class ImageLoader {
 public:
  virtual ~ImageLoader() = default;
  [[nodiscard]] virtual Size getSize() const = 0;
  [[nodiscard]] virtual const PixelFormat* getPf() const = 0;
  // Writes the whole image into pb with its top-left corner at `at`; pb's
  // format must equal getPf().
  virtual void load(WritablePixelBuffer* pb, Point at) = 0;
};

}  // namespace rfb
