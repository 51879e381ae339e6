#pragma once
// The pixel-buffer classes: rectangles of pixels in one rfb::PixelFormat.
//
//   ImageGetter            a source of pixel rectangles
//   PixelBuffer            readable, with a format, an extent and a colour map
//   WritablePixelBuffer    writable
//   FullFramePixelBuffer   over one contiguous frame of memory it does not own
//   ConfigurablePixelBuffer  whose format and size can change
//   ManagedPixelBuffer     owning its memory
//   SubPixelBuffer         a window onto part of another buffer
//
// Asking a buffer for pixels outside its rectangle is a caller's fault
// (callers clip first) and fails an assertion.  Strides are in pixels;
// byte offsets are computed in ptrdiff_t, since a 65535 x 65535 buffer
// does not fit 32-bit arithmetic.

#include <cstddef>
#include <cstdint>

#include "qocore/base/region/miregion.h"
#include "qocore/base/rfb/PixelFormat.h"
#include "qocore/base/rfb/Rect.h"

namespace rfb {

// Turns colour-map pixels into colours and back.
class ImageLoader;

class ColourMap {
 public:
  virtual ~ColourMap() = default;
  // The red, green and blue values (0..255) of a pixel value.
  virtual void lookup(uint32_t pixel, uint32_t* r, uint32_t* g, uint32_t* b) const = 0;
  // The pixel value for a colour.
  virtual uint32_t pixelFor(uint32_t r, uint32_t g, uint32_t b, uint32_t a) const = 0;
};

// Copies size.height rows of size.width pixels; strides in pixels, 0
// meaning the width.  Rows that overlap are not allowed.
void copyRows(const void* src, void* dst, Size size, int bytesPerPixel, int32_t srcStride = 0,
              int32_t dstStride = 0) noexcept;

class ImageGetter {
 public:
  virtual ~ImageGetter() = default;
  // Copies the pixels of r into dst, whose stride is in pixels (0 = the
  // width of r).
  virtual void getImage(void* dst, const Rect& r, int32_t dstStride = 0) const = 0;
};

class PixelBuffer : public ImageGetter {
 public:
  PixelBuffer(const PixelFormat& pf, const Rect& r, const ColourMap* cm) noexcept : pf_(pf), rect(r), colourMap(cm) {}

  void getImage(void* dst, const Rect& r, int32_t dstStride = 0) const override;
  [[nodiscard]] virtual const ColourMap* getColourMap() const { return colourMap; }
  // The pixels of r (null when r is empty) and the stride in pixels.
  virtual const uint8_t* getPixelsR(const Rect& r, int32_t* stride) const = 0;
  // The pixels under the region have changed; buffers that keep derived
  // pixels (a scaled view) bring them up to date.  Nothing in the base.
  virtual void regionChanged(const RegionRec& region);
  // regionChanged for the whole extent, its coordinates clamped into the
  // region's 16-bit range.
  void bufferChanged();
  // regionChanged for one rectangle, clamped the same way (an empty
  // region when nothing is left).
  void rectChanged(const Rect& r);

  const PixelFormat& getPf() const noexcept { return pf_; }
  const Rect& getRect() const noexcept { return rect; }
  int32_t width() const noexcept { return static_cast<int32_t>(rect.width()); }
  int32_t height() const noexcept { return static_cast<int32_t>(rect.height()); }
  // The pixel value of a colour (0..255 channels, larger ones are taken as
  // 255) in this buffer's format.
  [[nodiscard]] uint32_t pixelFromRGB(uint32_t r, uint32_t g, uint32_t b) const noexcept;

 protected:
  PixelFormat pf_;
  Rect rect;
  const ColourMap* colourMap;
};

class WritablePixelBuffer : public PixelBuffer {
 public:
  using PixelBuffer::PixelBuffer;

  const uint8_t* getPixelsR(const Rect& r, int32_t* stride) const override {
    return const_cast<WritablePixelBuffer*>(this)->getPixelsRW(r, stride);
  }
  // Writable pixels of r (null when r is empty); the stride in pixels.
  virtual uint8_t* getPixelsRW(const Rect& r, int32_t* stride) = 0;
  // Copies the part of r inside this buffer from src, whose first pixel is
  // r's top-left corner (stride in pixels, 0 = the width of r).
  void imageRect(const Rect& r, const void* src, int32_t srcStride = 0);
};

class FullFramePixelBuffer : public WritablePixelBuffer {
 public:
  // A stride of 0 means the rectangle's width.
  FullFramePixelBuffer(const PixelFormat& pf, const Rect& r, const ColourMap* cm, uint8_t* data, int32_t stride);
  // The part of o that r covers, with r's top-left corner at 0,0; shares
  // o's memory.
  FullFramePixelBuffer(WritablePixelBuffer& o, const Rect& r);

  uint8_t* getPixelsRW(const Rect& r, int32_t* stride) override;

  // No bounds test; 8, 16, 24 and 32 bpp (a 24 bpp pixel is three bytes,
  // least significant first); others read 0 and write nothing.
  [[nodiscard]] uint32_t getPixel(Point p) const noexcept;
  void setPixel(Point p, uint32_t value) noexcept;

  int32_t getStride() const noexcept { return stride; }

 protected:
  // The byte offset of p from the top-left corner.
  ptrdiff_t byteOffset(Point p) const noexcept {
    return ptrdiff_t{pf_.bpp / 8} * ((ptrdiff_t{p.x} - rect.x1) + (ptrdiff_t{p.y} - rect.y1) * stride);
  }

  uint8_t* data;
  int32_t stride;
};

class ConfigurablePixelBuffer : public FullFramePixelBuffer {
 public:
  using FullFramePixelBuffer::FullFramePixelBuffer;

  virtual void setPF(const PixelFormat& pf) = 0;
  virtual void setSize(Size size) = 0;
  virtual void setColourMap(const ColourMap* cm) { colourMap = cm; }

  // When set, setSize keeps the old pixels that still fit.
  bool preserveOnResize = false;
};

class ManagedPixelBuffer : public ConfigurablePixelBuffer {
 public:
  ManagedPixelBuffer(const PixelFormat& pf, const Rect& r, const ColourMap* cm = nullptr);
  // The loader's image at 0,0 in the loader's format; without a loader an
  // empty bgr233 buffer.
  explicit ManagedPixelBuffer(ImageLoader* loader);
  ~ManagedPixelBuffer() override;
  ManagedPixelBuffer(const ManagedPixelBuffer&) = delete;
  ManagedPixelBuffer& operator=(const ManagedPixelBuffer&) = delete;

  // A format equal to the current one keeps the pixels; another clears
  // them.
  void setPF(const PixelFormat& pf) override;
  // Keeps the top-left corner; the new pixels are zero unless
  // preserveOnResize keeps the old ones that fit.
  void setSize(Size size) override;

  // Hands the array (allocated with new[]) to the caller; the buffer
  // becomes empty.
  [[nodiscard]] uint8_t* releaseData() noexcept;
  // Takes ownership of an array from new[] of `capacity` bytes.
  void adoptData(uint8_t* data, size_t capacity);
  void adoptData(uint8_t* data, size_t capacity, const Rect& r);

  // bytes per pixel x width x height; 0 for a negative width or height.
  [[nodiscard]] size_t sizeBytes() const noexcept;
  [[nodiscard]] size_t capacity() const noexcept { return capacity_; }

 protected:
  // Makes the array fit the rectangle; grows only when it must.
  void updateStorage();

  size_t capacity_ = 0;
};

class SubPixelBuffer : public PixelBuffer {
 public:
  // offset is r's top-left corner when originAtRect, else 0,0; the
  // buffer's rect is r clipped to the parent's, moved by minus offset.
  SubPixelBuffer(const PixelBuffer& parent, const Rect& r, bool originAtRect);

  const uint8_t* getPixelsR(const Rect& r, int32_t* stride) const override;

 private:
  const PixelBuffer& parent;
  Point offset;
};

}  // namespace rfb
