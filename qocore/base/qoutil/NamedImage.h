#pragma once
// Named images: the user interface names its pictures; this turns a name
// and a wanted size in device pixels into pixels.  Three PNG resources may
// exist for a name: the plain file ("<name>.png"), the double-density one
// ("<name>@2x.png") and exact-size ones ("<name><w>x<h>.png"); dark
// variants add "_darkbg" to the name.  The display scale S = g x ppmm
// picks among them (S = 4 is one plain-file pixel per device pixel, S = 8
// one double-density pixel); without an exact file the nearest is scaled.
// Every loaded image stays in a process-wide cache.  All of it runs on the
// UI thread: the cache has no lock.

#include <memory>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LinkedPtr.h"
#include "qocore/base/qoutil/PngFile.h"
#include "qocore/base/rfb/ImageLoader.h"
#include "qocore/base/rfb/PixelBuffer.h"

namespace qoutil {

// Variants of an image that disagree in size, or a size out of range.
class NamedImageBadSize : public plat::Exception {
 public:
  explicit NamedImageBadSize(const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));
};

// No usable variant of an image exists.
class NamedImageNotFound : public plat::Exception {
 public:
  explicit NamedImageNotFound(const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));
};

// The toolkit-wide image scale g: the display's integer backing scale
// factor, 1 until the application loop records it at start.
int imageScale() noexcept;
void setImageScale(int g) noexcept;

class NamedImageFinder {
 public:
  virtual ~NamedImageFinder() = default;
  // Looks for the resource "<name>.png"; when it exists it becomes the
  // held file.  A resource that is no usable PNG throws PngException and
  // keeps the old file.
  virtual bool find(const char* name) = 0;
  // The held file's size.
  [[nodiscard]] virtual rfb::Size getFoundSize() const = 0;
  [[nodiscard]] virtual bool found() const = 0;

  // Chooses the file for `name` at `size` (0x0: the natural size at the
  // display scale) and leaves it held; size becomes the size to deliver.
  // Throws NamedImageNotFound or NamedImageBadSize.
  void resolve(const char* name, rfb::Size& size);
};

class NamedImagePixelBuffer;

class NamedImageLoader : public rfb::ImageLoader, public NamedImageFinder {
 public:
  // Resolves at once; its exceptions leave the constructor.
  NamedImageLoader(const char* name, rfb::Size size, bool premultiply);
  ~NamedImageLoader() override;

  [[nodiscard]] rfb::Size getSize() const override { return resolvedSize; }
  [[nodiscard]] const rfb::PixelFormat* getPf() const override { return file->getPf(); }
  // The held file, scaled to the resolved size when its own differs.
  void load(rfb::WritablePixelBuffer* pb, rfb::Point at) override;

  bool find(const char* name) override;
  [[nodiscard]] rfb::Size getFoundSize() const override { return file->getSize(); }
  [[nodiscard]] bool found() const override { return file != nullptr; }

  // The UI toolkit's entry: the image for the current appearance, its
  // dark variant first when the appearance is dark; size in device pixels
  // (already multiplied by g), 0x0 for the natural size.  Callers compare
  // the pointer with the one they hold to see a change.
  static plat::LinkedPtr<NamedImagePixelBuffer> loadThemed(const char* name, rfb::Size size);

 private:
  rfb::Size resolvedSize;
  std::unique_ptr<PngFile> file;
  bool premultiply;
};

// A named image's premultiplied pixels; empty (a zero-sized rectangle)
// when it could not be loaded.
class NamedImagePixelBuffer : public rfb::ManagedPixelBuffer {
 public:
  // Failures are logged through "NamedImagePixelBuffer": bad sizes always
  // at error level, the others at debug level when `report` is set.
  NamedImagePixelBuffer(const char* name, rfb::Size size, bool report);

  // Whether the buffer was asked for the image's natural size.
  [[nodiscard]] bool isDefaultSize() const noexcept { return defaultSize; }

 private:
  void loadImage(const char* name, rfb::Size size);

  bool defaultSize;
};

// The cached image for name and size, loaded on the first request.  A
// request is served by an earlier one of the same name and size, failed
// or not, or by an image of the same name that has exactly the size asked.
plat::LinkedPtr<NamedImagePixelBuffer> getNamedImage(const char* name, rfb::Size size, bool report);

}  // namespace qoutil
