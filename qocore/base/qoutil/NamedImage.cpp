#include "qocore/base/qoutil/NamedImage.h"

#include <cstdarg>
#include <map>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Colors.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Resource.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/qoutil/ScaledPixelBuffer.h"

namespace qoutil {

namespace {

PLAT_LOG_SOURCE(vlog, "NamedImagePixelBuffer");

constinit int gImageScale = 1;

// round(n / 8) with halves away from zero.
int32_t roundEighths(int64_t n) { return rfb::clampTo32(n >= 0 ? (n + 4) / 8 : (n - 4) / 8); }

struct CacheEntry {
  rfb::Size requested;
  plat::LinkedPtr<NamedImagePixelBuffer> image;
};

// Entries of one name keep their order of arrival.  Released at exit.
std::multimap<plat::CharArray, CacheEntry, plat::StrLess>& imageCache() {
  static std::multimap<plat::CharArray, CacheEntry, plat::StrLess> cache;
  return cache;
}

}  // namespace

NamedImageBadSize::NamedImageBadSize(const char* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  vformatMessage(format, args);
  va_end(args);
  setType("NamedImageBadSize");
}

NamedImageNotFound::NamedImageNotFound(const char* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  vformatMessage(format, args);
  va_end(args);
  setType("NamedImageNotFound");
}

int imageScale() noexcept { return gImageScale; }
void setImageScale(int g) noexcept { gImageScale = g; }

// ---- Resolution ----

void NamedImageFinder::resolve(const char* name, rfb::Size& size) {
  const int64_t s = int64_t{imageScale()} * plat::ppmm.getValue();
  const plat::CharArray name2x = plat::DString::format("%s@2x", name);
  if (size == rfb::Size{}) {
    if (find(name)) {
      const rfb::Size f = getFoundSize();
      size = {roundEighths(2 * s * f.width), roundEighths(2 * s * f.height)};
      if (s == 4) return;  // the plain file at its own size
    }
    if (find(name2x.get())) {
      const rfb::Size f = getFoundSize();
      const rfb::Size t{roundEighths(s * f.width), roundEighths(s * f.height)};
      if (size != rfb::Size{} && size != t)
        throw NamedImageBadSize("Badly sized image '%s': @2x/@1x images differ", name);
      size = t;
      if (s == 8) return;  // the double-density file at its own size
    }
    if (size == rfb::Size{}) throw NamedImageNotFound("Bad image name '%s'", name);
  }
  const plat::CharArray exact = plat::DString::format("%s%dx%d", name, size.width, size.height);
  if (find(exact.get())) {
    if (getFoundSize() != size) throw NamedImageBadSize("Badly sized image '%s%dx%d'", name, size.width, size.height);
    return;
  }
  // The plain file when it is at least as wide (scaled down), else the
  // double-density one, else a narrower plain file (scaled up).
  if (find(name) && size.width <= getFoundSize().width) return;
  (void)find(name2x.get());
  if (!found()) throw NamedImageNotFound("Bad image name '%s'", name);
}

// ---- NamedImageLoader ----

NamedImageLoader::NamedImageLoader(const char* name, rfb::Size size, bool premultiply_)
    : resolvedSize(size), premultiply(premultiply_) {
  resolve(name, resolvedSize);
}

NamedImageLoader::~NamedImageLoader() = default;

bool NamedImageLoader::find(const char* name) {
  const plat::CharArray resource = plat::DString::format("%s.png", name);
  const plat::Resource r = plat::getResource(resource.get());
  if (!r.data) return false;
  file = std::make_unique<PngFile>(r.size, r.data, premultiply, name);
  return true;
}

void NamedImageLoader::load(rfb::WritablePixelBuffer* pb, rfb::Point at) {
  // Straight from the file when it has the resolved size.
  ScaledImageLoader(file.get(), resolvedSize).load(pb, at);
}

plat::LinkedPtr<NamedImagePixelBuffer> NamedImageLoader::loadThemed(const char* name, rfb::Size size) {
  if (name && plat::isDarkMode()) {
    // Most images have no dark variant: that miss is not worth a log line.
    const plat::CharArray dark = plat::DString::format("%s_darkbg", name);
    plat::LinkedPtr<NamedImagePixelBuffer> image = getNamedImage(dark.get(), size, false);
    if (!image->getRect().isEmpty()) return image;
  }
  return getNamedImage(name, size, true);
}

// ---- NamedImagePixelBuffer ----

NamedImagePixelBuffer::NamedImagePixelBuffer(const char* name, rfb::Size size, bool report)
    : rfb::ManagedPixelBuffer(static_cast<rfb::ImageLoader*>(nullptr)), defaultSize(size == rfb::Size{}) {
  if (!name || !*name) return;
  try {
    loadImage(name, size);
  } catch (const NamedImageBadSize& e) {
    char text[plat::Exception::kMsgSize];
    e.format(text);
    vlog().error("%s", text);
  } catch (const plat::Exception& e) {
    // A missing or broken image shows as an empty one.
    if (report) {
      char text[plat::Exception::kMsgSize];
      e.format(text);
      vlog().debug("%s", text);
    }
  }
}

void NamedImagePixelBuffer::loadImage(const char* name, rfb::Size size) {
  NamedImageLoader loader(name, size, true);
  const rfb::Size s = loader.getSize();
  // A size from outside (a file's header times the display scale, or a
  // caller's) must fit a buffer's 16-bit coordinates.
  if (s.width < 0 || s.height < 0 || s.width > int32_t{PngFile::kMaxDimension} ||
      s.height > int32_t{PngFile::kMaxDimension})
    throw NamedImageBadSize("Badly sized image '%s': %dx%d", name, s.width, s.height);
  setPF(*loader.getPf());
  setSize(s);
  loader.load(this, rfb::Point{});
}

// ---- The cache ----

plat::LinkedPtr<NamedImagePixelBuffer> getNamedImage(const char* name, rfb::Size size, bool report) {
  auto& cache = imageCache();
  auto [first, last] = cache.equal_range(name);
  for (auto it = first; it != last; ++it) {
    const CacheEntry& e = it->second;
    const rfb::Rect& r = e.image->getRect();
    // The same request again (also one that failed, so that a missing
    // image is looked up once per size), or an image of exactly that size.
    if (e.requested == size || (size != rfb::Size{} && r.width() == size.width && r.height() == size.height))
      return e.image;
  }
  plat::LinkedPtr<NamedImagePixelBuffer> image(new NamedImagePixelBuffer(name, size, report));
  cache.emplace_hint(last, plat::CharArray(name), CacheEntry{size, image});
  return image;
}

}  // namespace qoutil
