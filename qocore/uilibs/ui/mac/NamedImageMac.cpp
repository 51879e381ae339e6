#include "qocore/uilibs/ui/mac/NamedImageMac.h"

#include <map>
#include <string>

#include "qocore/base/plat/Colors.h"
#include "qocore/base/qoutil/NamedImage.h"
#include "qocore/uilibs/ui/mac/ImageRepPixelBuffer.h"

namespace ui {

namespace {

using Cache = std::multimap<std::string, plat::LinkedPtr<NamedImage>>;

// Destroyed at exit, releasing every image.
Cache& cache() {
  static Cache c;
  return c;
}

// The image every failed or empty entry holds, made once.
appkit::Image* emptyImage() {
  static appkit::Image* empty = new appkit::Image(appkit::Size{});
  return empty;
}

plat::LinkedPtr<NamedImage> build(const char* name, rfb::Size size, bool report) {
  const bool natural = size == rfb::Size{};
  appkit::Image* image = emptyImage();
  if (name && *name) {
    const int64_t g = qoutil::imageScale();
    qoutil::NamedImagePixelBuffer pixels(
        name, rfb::Size{rfb::clampTo32(size.width * g), rfb::clampTo32(size.height * g)}, report);
    if (!pixels.getRect().isEmpty()) image = nsImageFromPixelBuffer(pixels);
  }
  return plat::LinkedPtr<NamedImage>(new NamedImage(image, natural, size));
}

plat::LinkedPtr<NamedImage> lookup(const char* name, rfb::Size size, bool report) {
  Cache& c = cache();
  const std::string key(name ? name : "");
  auto [first, last] = c.equal_range(key);
  for (auto it = first; it != last; ++it) {
    const NamedImage& e = *it->second;
    // The same request again, also one that failed, so that a missing
    // image is not looked for on every request; or an image that has the
    // size asked for.  An empty image never stands in for another
    // request's natural size.
    if (e.requested == size) return it->second;
    if (size != rfb::Size{} && imageSize(&e) == size) return it->second;
  }
  plat::LinkedPtr<NamedImage> made = build(name, size, report);
  c.emplace_hint(last, key, made);
  return made;
}

}  // namespace

NamedImage::~NamedImage() = default;

plat::LinkedPtr<NamedImage> loadNamedImage(const char* name, int width, int height) {
  const rfb::Size size{width, height};
  if (plat::isDarkMode() && name) {
    const std::string dark = std::string(name) + "_darkbg";
    plat::LinkedPtr<NamedImage> image = lookup(dark.c_str(), size, false);
    if (imageSize(image.get()) != rfb::Size{}) return image;
  }
  return lookup(name, size, true);
}

rfb::Size imageSize(const NamedImage* image) {
  if (!image || !image->image) return rfb::Size{};
  const appkit::Size s = image->image->size();
  return rfb::Size{static_cast<int32_t>(s.width), static_cast<int32_t>(s.height)};
}

}  // namespace ui
