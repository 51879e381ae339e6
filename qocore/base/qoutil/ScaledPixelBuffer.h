#pragma once
// The users of qoutil::Scaler:
//   ScaledImageLoader  another image loader presented at a different size
//   ScaledPixelBuffer  a source buffer presented at another size and
//                      format, with a cache of scaled pixels refreshed
//                      region by region
//   scaleRect          one rectangle of a buffer scaled into another
//   scalePixels        a buffer drawn into a rectangle of any size with
//                      fixed borders (corners unscaled, edges stretched
//                      along their length, the centre both ways)

#include <cstdint>

#include "qocore/base/qoutil/ImageScaler.h"
#include "qocore/base/rfb/ImageLoader.h"
#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/base/rfb/PixelTrans.h"

namespace qoutil {

class ScaledImageLoader : public rfb::ImageLoader {
 public:
  // `il` is not owned and must outlive this loader.
  ScaledImageLoader(rfb::ImageLoader* il_, rfb::Size size) : il(il_), targetSize(size) {}

  [[nodiscard]] rfb::Size getSize() const override { return targetSize; }
  [[nodiscard]] const rfb::PixelFormat* getPf() const override { return il->getPf(); }
  // Loads the inner image whole and scales it into pb's rectangle at `at`
  // with the target size.
  void load(rfb::WritablePixelBuffer* pb, rfb::Point at) override;

 private:
  rfb::ImageLoader* il;
  rfb::Size targetSize;
};

class ScaledPixelBuffer : public rfb::PixelBuffer {
 public:
  // Presents `source` (not owned; it must outlive this buffer) at `size`,
  // or at its own size when size is 0x0, in its own format.  With
  // renderNow the whole cache is filled at once.
  ScaledPixelBuffer(rfb::PixelBuffer* source, rfb::Size size, bool renderNow);
  ~ScaledPixelBuffer() override = default;
  ScaledPixelBuffer(const ScaledPixelBuffer&) = delete;
  ScaledPixelBuffer& operator=(const ScaledPixelBuffer&) = delete;

  // A new source; with takeFormat this buffer takes its format.  Without a
  // size of its own, the buffer presents the source at the source's size.
  void setSource(rfb::PixelBuffer* pb, bool takeFormat);
  void setFormat(const rfb::PixelFormat& pf, const rfb::ColourMap* cm);
  void setScaledSize(rfb::Size size);

  // The source's own pixels when passing through, else the cache's (as
  // fresh as the last regionChanged).
  const uint8_t* getPixelsR(const rfb::Rect& r, int32_t* stride) const override;
  // Passes the source pixels under the region on to the source's
  // regionChanged (so a chain of buffers refreshes from the bottom up),
  // then rescales the region's extents into the cache.
  void regionChanged(const RegionRec& region) override;

  // Whether pixels come straight from the source (same size and format).
  [[nodiscard]] bool isPassThrough() const noexcept { return passThrough; }

 private:
  // Sizes the cache: none when passing through, else the presented size.
  void sizeCache();

  rfb::PixelBuffer* source = nullptr;
  rfb::ManagedPixelBuffer cache;
  Scaler scaler;
  bool passThrough = true;
};

// Scales srcRect of src into dstRect of dst, combining with op.  Nothing
// happens when either rectangle has no pixels or srcRect lies outside src.
void scaleRect(const rfb::PixelBuffer& src, const rfb::Rect& srcRect, rfb::WritablePixelBuffer& dst,
               const rfb::Rect& dstRect, rfb::CompositeOp op);

// Draws all of src into dstRect of dst with fixed borders (left, top,
// right, bottom, in pixels of both), combining with op.
void scalePixels(int32_t left, int32_t top, int32_t right, int32_t bottom, const rfb::PixelBuffer& src,
                 rfb::WritablePixelBuffer& dst, const rfb::Rect& dstRect, rfb::CompositeOp op);

}  // namespace qoutil
