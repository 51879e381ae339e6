#pragma once
// mui::NamedImageHolder: keeps one named image for a peer that draws it.
// mui::listImageSize: the square size, in points, of list image cells.

#include <cstdint>

#include "qocore/base/plat/LinkedPtr.h"
#include "qocore/base/qoutil/NamedImage.h"
#include "qocore/uilibs/mui/MuElement.h"

namespace mui {

// The image cells of lists (and the images loaded for them) are 16 points
// square.
constexpr int32_t listImageSize = 16;

class NamedImageHolder {
 public:
  // Loads the image for the current appearance at `size` (multiplied by
  // the image scale g when `scaled`; 0x0 the natural size) and keeps it;
  // true when an image was found.
  bool load(const char* name, Size size, bool scaled);

  // The kept image, or null.
  qoutil::NamedImagePixelBuffer* image() const noexcept { return image_.get(); }

 private:
  plat::LinkedPtr<qoutil::NamedImagePixelBuffer> image_;
};

}  // namespace mui
