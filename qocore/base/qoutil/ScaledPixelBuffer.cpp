#include "qocore/base/qoutil/ScaledPixelBuffer.h"

#include <algorithm>

#include "qocore/base/plat/Exception.h"

namespace qoutil {

namespace {

using rfb::clampTo32;

rfb::Rect rectOf(int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
  return {clampTo32(x1), clampTo32(y1), clampTo32(x2), clampTo32(y2)};
}

rfb::Size sizeOf(const rfb::Rect& r) { return {clampTo32(r.width()), clampTo32(r.height())}; }

}  // namespace

// ---- ScaledImageLoader ----

void ScaledImageLoader::load(rfb::WritablePixelBuffer* pb, rfb::Point at) {
  if (il->getSize() == targetSize) {
    il->load(pb, at);
    return;
  }
  PLAT_ASSERT_TEXT(pb->getPf().equal(*il->getPf()), "pb->getPf().equal(*il->getPf())");
  rfb::ManagedPixelBuffer whole(il);
  const rfb::Rect r = rectOf(at.x, at.y, int64_t{at.x} + targetSize.width, int64_t{at.y} + targetSize.height);
  int32_t stride = 0;
  uint8_t* dst = pb->getPixelsRW(r, &stride);
  Scaler scaler;
  scaler.dstPf = pb->getPf();
  scaler.dstCm = pb->getColourMap();
  scaler.coords_.dstSz = {targetSize.width, targetSize.height};
  scaler.setSource(&whole, false);
  // The scaler is asked for the whole scaled image and writes it at r.
  scaler.getImage(dst, rfb::Rect(0, 0, targetSize.width, targetSize.height), stride);
}

// ---- ScaledPixelBuffer ----

ScaledPixelBuffer::ScaledPixelBuffer(rfb::PixelBuffer* source_, rfb::Size size, bool renderNow)
    : rfb::PixelBuffer(rfb::PixelFormat(), rfb::Rect(), nullptr), cache(rfb::PixelFormat(), rfb::Rect()) {
  setScaledSize(size);
  setSource(source_, true);
  if (renderNow) bufferChanged();
}

void ScaledPixelBuffer::setSource(rfb::PixelBuffer* pb, bool takeFormat) {
  source = pb;
  colourMap = pb->getColourMap();
  scaler.setSource(pb, takeFormat);
  if (takeFormat) setFormat(pb->getPf(), pb->getColourMap());
  if (cache.getRect().width() == 0 && cache.getRect().height() == 0) setScaledSize(sizeOf(pb->getRect()));
}

void ScaledPixelBuffer::setFormat(const rfb::PixelFormat& pf, const rfb::ColourMap* cm) {
  pf_ = pf;
  colourMap = cm;
  scaler.dstPf = pf;
  scaler.dstCm = cm;
  cache.setPF(pf);
  cache.setColourMap(cm);
  scaler.chooseKernel();
  sizeCache();
}

void ScaledPixelBuffer::setScaledSize(rfb::Size size) {
  rect = rectOf(rect.x1, rect.y1, int64_t{rect.x1} + size.width, int64_t{rect.y1} + size.height);
  scaler.coords_.dstSz = {size.width, size.height};
  scaler.chooseKernel();
  sizeCache();
}

void ScaledPixelBuffer::sizeCache() {
  const rfb::Size presented = sizeOf(rect);
  const rfb::Size sourceSize = source ? sizeOf(source->getRect()) : rfb::Size{};
  passThrough = presented == sourceSize && (!source || source->getPf().equal(pf_));
  cache.setSize(passThrough ? rfb::Size{} : presented);
}

const uint8_t* ScaledPixelBuffer::getPixelsR(const rfb::Rect& r, int32_t* stride) const {
  const rfb::PixelBuffer* pb = source;
  PLAT_ASSERT(pb);
  if (passThrough) {
    const rfb::Point stl = pb->getRect().tl();
    return pb->getPixelsR(rectOf(int64_t{r.x1} - rect.x1 + stl.x, int64_t{r.y1} - rect.y1 + stl.y,
                                 int64_t{r.x2} - rect.x1 + stl.x, int64_t{r.y2} - rect.y1 + stl.y),
                          stride);
  }
  return cache.getPixelsR(
      rectOf(int64_t{r.x1} - rect.x1, int64_t{r.y1} - rect.y1, int64_t{r.x2} - rect.x1, int64_t{r.y2} - rect.y1),
      stride);
}

void ScaledPixelBuffer::regionChanged(const RegionRec& region) {
  if (!miRegionNotEmpty(&region) || !source) return;
  // Only the part inside this buffer has scaled pixels to refresh.
  const BoxRec& b = region.extents;
  const rfb::Rect clipped = rfb::Rect(b.x1, b.y1, b.x2, b.y2).intersect(rect);
  if (clipped.isEmpty()) return;
  const rfb::Rect e = rectOf(int64_t{clipped.x1} - rect.x1, int64_t{clipped.y1} - rect.y1,
                             int64_t{clipped.x2} - rect.x1, int64_t{clipped.y2} - rect.y1);
  const rfb::Point ss = scaler.coords_.srcSz, ds = scaler.coords_.dstSz;
  const rfb::Point stl = source->getRect().tl();
  source->rectChanged(rectOf(int64_t{e.x1} * ss.x / ds.x + stl.x, int64_t{e.y1} * ss.y / ds.y + stl.y,
                             (int64_t{e.x2} * ss.x + ds.x - 1) / ds.x + stl.x,
                             (int64_t{e.y2} * ss.y + ds.y - 1) / ds.y + stl.y));
  // An empty source leaves nothing to scale: the cache keeps its zeros.
  if (passThrough || ss.x <= 0 || ss.y <= 0) return;
  int32_t stride = 0;
  uint8_t* dst = cache.getPixelsRW(e, &stride);
  scaler.getImage(dst, e, stride);
}

// ---- Drawing ----

void scaleRect(const rfb::PixelBuffer& src, const rfb::Rect& srcRect, rfb::WritablePixelBuffer& dst,
               const rfb::Rect& dstRect, rfb::CompositeOp op) {
  // A rectangle without pixels (a source narrower than its borders, say)
  // has nothing to scale.
  if (srcRect.isEmpty() || dstRect.isEmpty()) return;
  rfb::SubPixelBuffer sub(src, srcRect, true);
  if (sub.getRect().isEmpty()) return;
  // The rectangle may be far larger than the destination (a bordered
  // drawing stretched past the screen): only the part that shows is
  // scaled, at the scale of the whole rectangle, and the working buffers
  // are that part's size.
  const rfb::Size whole = sizeOf(dstRect);
  const rfb::Rect shown = dstRect.intersect(dst.getRect())
                              .intersect(rectOf(dstRect.x1, dstRect.y1, int64_t{dstRect.x1} + whole.width,
                                                int64_t{dstRect.y1} + whole.height));
  if (shown.isEmpty()) return;
  // The same part in the coordinates of the scaled image.
  const rfb::Rect part = rectOf(int64_t{shown.x1} - dstRect.x1, int64_t{shown.y1} - dstRect.y1,
                                int64_t{shown.x2} - dstRect.x1, int64_t{shown.y2} - dstRect.y1);
  Scaler scaler;
  scaler.coords_.dstSz = {whole.width, whole.height};
  scaler.setSource(&sub, true);
  const rfb::Size size = sizeOf(shown);
  rfb::ManagedPixelBuffer scaled(sub.getPf(), rfb::Rect(0, 0, size.width, size.height), sub.getColourMap());
  int32_t stride = 0;
  scaler.getImage(scaled.getPixelsRW(scaled.getRect(), &stride), part, stride);
  rfb::transRect(scaled, rfb::Point{}, dst, shown, op);
}

void scalePixels(int32_t l, int32_t t, int32_t r, int32_t b, const rfb::PixelBuffer& src, rfb::WritablePixelBuffer& dst,
                 const rfb::Rect& d, rfb::CompositeOp op) {
  const rfb::Rect& s = src.getRect();
  if (s.isEmpty()) return;
  // Outer and inner corners of source and destination, in 64 bits.
  const int64_t sx1 = s.x1, sy1 = s.y1, sx2 = s.x2, sy2 = s.y2;
  const int64_t six1 = sx1 + l, siy1 = sy1 + t, six2 = sx2 - r, siy2 = sy2 - b;
  const int64_t dx1 = d.x1, dy1 = d.y1, dx2 = d.x2, dy2 = d.y2;
  const int64_t dix1 = dx1 + l, diy1 = dy1 + t, dix2 = dx2 - r, diy2 = dy2 - b;
  auto corner = [&](int64_t fromX, int64_t fromY, const rfb::Rect& to) {
    rfb::transRect(src, {clampTo32(fromX), clampTo32(fromY)}, dst, to, op);
  };
  corner(sx1, sy1, rectOf(dx1, dy1, dix1, diy1));
  corner(six2, sy1, rectOf(dix2, dy1, dx2, diy1));
  corner(sx1, siy2, rectOf(dx1, diy2, dix1, dy2));
  corner(six2, siy2, rectOf(dix2, diy2, dx2, dy2));
  scaleRect(src, rectOf(six1, sy1, six2, siy1), dst, rectOf(dix1, dy1, dix2, diy1), op);
  scaleRect(src, rectOf(sx1, siy1, six1, siy2), dst, rectOf(dx1, diy1, dix1, diy2), op);
  scaleRect(src, rectOf(six2, siy1, sx2, siy2), dst, rectOf(dix2, diy1, dx2, diy2), op);
  scaleRect(src, rectOf(six1, siy2, six2, sy2), dst, rectOf(dix1, diy2, dix2, dy2), op);
  scaleRect(src, rectOf(six1, siy1, six2, siy2), dst, rectOf(dix1, diy1, dix2, diy2), op);
}

}  // namespace qoutil
