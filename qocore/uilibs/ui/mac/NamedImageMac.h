#pragma once
// Named images as native images: a process-wide cache that turns an image
// name and a size in points into an image, choosing the dark-background
// variant while the dark appearance is on and loading the pixels through
// the image library at the display's scale.  Main thread only: the cache
// has no lock.

#include "platform/appkit/Image.h"
#include "platform/objc/Ref.h"
#include "qocore/base/plat/LinkedPtr.h"
#include "qocore/base/rfb/Rect.h"

namespace ui {

// One loaded image.
class NamedImage {
 public:
  // Retains the image.
  NamedImage(appkit::Image* image, bool naturalSize, rfb::Size requested) noexcept
      : image(image), naturalSize(naturalSize), requested(requested) {}
  ~NamedImage();
  NamedImage(const NamedImage&) = delete;
  NamedImage& operator=(const NamedImage&) = delete;

  // Never null: an image that could not be loaded is the shared empty
  // image.
  const objc::Ref<appkit::Image> image;
  // Asked for with size (0, 0).
  const bool naturalSize;
  // The size in points it was asked for.
  const rfb::Size requested;
};

// The image for the name at a size in points ((0, 0): its natural size).
// A request is served by an earlier one of the same name and size, failed
// or not, or by an image of the same name that has exactly that size.
plat::LinkedPtr<NamedImage> loadNamedImage(const char* name, int width, int height);

// The image's size in whole points; (0, 0) without an image.
rfb::Size imageSize(const NamedImage* image);

}  // namespace ui
