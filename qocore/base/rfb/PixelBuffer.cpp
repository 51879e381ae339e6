#include "qocore/base/rfb/PixelBuffer.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/rfb/ImageLoader.h"
#include "qocore/base/rfb/PixelAccess.h"

namespace rfb {

namespace {

// A rectangle's text for assertion details, alive until the end of the
// full expression.
struct RectText {
  explicit RectText(const Rect& r) { r.print(buf); }
  char buf[Rect::kPrintSize];
};

// Each coordinate clamped into the 16-bit range of the region type.
Rect clampTo16(const Rect& r) {
  auto c = [](int32_t v) { return std::clamp<int32_t>(v, INT16_MIN, INT16_MAX); };
  return Rect(c(r.x1), c(r.y1), c(r.x2), c(r.y2));
}

}  // namespace

const char* Rect::print(char (&buf)[kPrintSize]) const noexcept {
  buf[0] = '\0';
  plat::safeSnprintfAppend(buf, kPrintSize, "%d,%d to %d,%d", x1, y1, x2, y2);
  return buf;
}

void copyRows(const void* src, void* dst, Size size, int bytesPerPixel, int32_t srcStride, int32_t dstStride) noexcept {
  if (size.width <= 0 || size.height <= 0 || bytesPerPixel <= 0) return;
  if (srcStride == 0) srcStride = size.width;
  if (dstStride == 0) dstStride = size.width;
  const size_t rowBytes = size_t(size.width) * size_t(bytesPerPixel);
  const ptrdiff_t srcStep = ptrdiff_t{srcStride} * bytesPerPixel;
  const ptrdiff_t dstStep = ptrdiff_t{dstStride} * bytesPerPixel;
  auto* s = static_cast<const uint8_t*>(src);
  auto* d = static_cast<uint8_t*>(dst);
  for (int32_t y = 0; y < size.height; ++y, s += srcStep, d += dstStep) std::memcpy(d, s, rowBytes);
}

// ---- PixelBuffer ----

void PixelBuffer::regionChanged(const RegionRec&) {}

void PixelBuffer::bufferChanged() { rectChanged(rect); }

void PixelBuffer::rectChanged(const Rect& r) {
  const Rect c = clampTo16(r);
  RegionRec region;
  miRegionInit(&region, BoxRec{static_cast<int16_t>(c.x1), static_cast<int16_t>(c.y1), static_cast<int16_t>(c.x2),
                               static_cast<int16_t>(c.y2)});
  const plat::ScopeExit release([&region] { miRegionUninit(&region); });
  regionChanged(region);
}

void PixelBuffer::getImage(void* dst, const Rect& r, int32_t dstStride) const {
  int32_t srcStride = 0;
  const uint8_t* src = getPixelsR(r, &srcStride);
  if (!src) return;
  copyRows(src, dst, {static_cast<int32_t>(r.width()), static_cast<int32_t>(r.height())}, pf_.bpp / 8, srcStride,
           dstStride);
}

uint32_t PixelBuffer::pixelFromRGB(uint32_t r, uint32_t g, uint32_t b) const noexcept {
  // Straight-alpha colours may exceed 255 after compositing; a larger
  // value would spill into the neighbouring channel.
  r = std::min(r, 255u);
  g = std::min(g, 255u);
  b = std::min(b, 255u);
  uint32_t p;
  if (pf_.trueColour) {
    if (pf_.redMax != 255 || pf_.greenMax != 255 || pf_.blueMax != 255) {
      r = (r * pf_.redMax + 127) / 255;
      g = (g * pf_.greenMax + 127) / 255;
      b = (b * pf_.blueMax + 127) / 255;
    }
    p = shiftLeft(r, pf_.redShift) | shiftLeft(g, pf_.greenShift) | shiftLeft(b, pf_.blueShift);
  } else {
    const ColourMap* cm = getColourMap();
    p = cm ? cm->pixelFor(r, g, b, 255) : 0;
  }
  return pf_.bigEndian ? swapPixel(p, pf_.bpp) : p;
}

// ---- WritablePixelBuffer ----

void WritablePixelBuffer::imageRect(const Rect& r, const void* src, int32_t srcStride) {
  const Rect c = r.intersect(rect);
  if (c.isEmpty()) return;
  if (srcStride == 0) srcStride = static_cast<int32_t>(r.width());
  const int bytes = pf_.bpp / 8;
  const ptrdiff_t skip = ((ptrdiff_t{c.y1} - r.y1) * srcStride + (ptrdiff_t{c.x1} - r.x1)) * bytes;
  int32_t dstStride = 0;
  uint8_t* dst = getPixelsRW(c, &dstStride);
  copyRows(static_cast<const uint8_t*>(src) + skip, dst,
           {static_cast<int32_t>(c.width()), static_cast<int32_t>(c.height())}, bytes, srcStride, dstStride);
}

// ---- FullFramePixelBuffer ----

FullFramePixelBuffer::FullFramePixelBuffer(const PixelFormat& pf, const Rect& r, const ColourMap* cm, uint8_t* data_,
                                           int32_t stride_)
    : WritablePixelBuffer(pf, r, cm), data(data_), stride(stride_ ? stride_ : static_cast<int32_t>(r.width())) {}

FullFramePixelBuffer::FullFramePixelBuffer(WritablePixelBuffer& o, const Rect& r)
    : WritablePixelBuffer(o.getPf(), Rect(), o.getColourMap()), data(nullptr), stride(0) {
  const Rect c = r.intersect(o.getRect());
  rect = Rect(clampTo32(int64_t{c.x1} - r.x1), clampTo32(int64_t{c.y1} - r.y1), clampTo32(int64_t{c.x2} - r.x1),
              clampTo32(int64_t{c.y2} - r.y1));
  data = o.getPixelsRW(c, &stride);
}

uint8_t* FullFramePixelBuffer::getPixelsRW(const Rect& r, int32_t* stride_) {
  if (stride_) *stride_ = stride;
  if (r.isEmpty()) return nullptr;
  PLAT_ASSERT_MSG(rect.encloses(r), "getPixelsRW out of bounds: %s outside %s", RectText(r).buf, RectText(rect).buf);
  return data + byteOffset(r.tl());
}

uint32_t FullFramePixelBuffer::getPixel(Point p) const noexcept {
  return readPixel(data + byteOffset(p), pf_.bpp % 8 == 0 ? pf_.bpp / 8 : 0);
}

void FullFramePixelBuffer::setPixel(Point p, uint32_t value) noexcept {
  writePixel(data + byteOffset(p), pf_.bpp % 8 == 0 ? pf_.bpp / 8 : 0, value);
}

// ---- ManagedPixelBuffer ----

ManagedPixelBuffer::ManagedPixelBuffer(const PixelFormat& pf, const Rect& r, const ColourMap* cm)
    : ConfigurablePixelBuffer(pf, r, cm, nullptr, 0) {
  updateStorage();
}

ManagedPixelBuffer::ManagedPixelBuffer(ImageLoader* loader)
    : ConfigurablePixelBuffer(PixelFormat(), Rect(), nullptr, nullptr, 0) {
  pf_.setBGR233();
  if (!loader) return;
  // A loader that fails leaves no buffer: the destructor does not run for
  // an object whose constructor throws.
  plat::ScopeExit release([this] { delete[] data; });
  setPF(*loader->getPf());
  setSize(loader->getSize());
  loader->load(this, Point{});
  release.dismiss();
}

ManagedPixelBuffer::~ManagedPixelBuffer() { delete[] data; }

size_t ManagedPixelBuffer::sizeBytes() const noexcept {
  if (rect.width() < 0 || rect.height() < 0) return 0;
  return size_t{pf_.bpp / 8u} * size_t(rect.width()) * size_t(rect.height());
}

void ManagedPixelBuffer::updateStorage() {
  stride = static_cast<int32_t>(rect.width());
  const size_t needed = sizeBytes();
  if (needed == 0) {
    delete[] data;
    data = nullptr;
    capacity_ = 0;
    return;
  }
  if (needed <= capacity_) return;
  PLAT_ASSERT_TEXT(clampTo16(rect) == rect, "Rect(RgnRect(rect)) == rect");
  uint8_t* fresh = new uint8_t[needed];
  delete[] data;
  data = fresh;
  capacity_ = needed;
}

void ManagedPixelBuffer::setPF(const PixelFormat& pf) {
  if (pf.equal(pf_)) return;
  pf_ = pf;
  updateStorage();
  if (data) std::memset(data, 0, capacity_);
}

void ManagedPixelBuffer::setSize(Size size) {
  if (size.width == rect.width() && size.height == rect.height()) return;
  const Rect oldRect = rect;
  uint8_t* oldData = data;
  const size_t oldCapacity = capacity_;
  const int32_t oldStride = stride;
  capacity_ = 0;
  data = nullptr;
  stride = 0;
  rect.x2 = clampTo32(int64_t{rect.x1} + size.width);
  rect.y2 = clampTo32(int64_t{rect.y1} + size.height);
  // A failed allocation leaves the buffer as it was.
  plat::ScopeExit restore([&] {
    rect = oldRect;
    data = oldData;
    capacity_ = oldCapacity;
    stride = oldStride;
  });
  updateStorage();
  restore.dismiss();
  if (data) std::memset(data, 0, capacity_);
  if (preserveOnResize && oldData) imageRect(oldRect, oldData, 0);
  delete[] oldData;
}

uint8_t* ManagedPixelBuffer::releaseData() noexcept {
  uint8_t* d = data;
  capacity_ = 0;
  rect = Rect(rect.x1, rect.y1, rect.x1, rect.y1);
  data = nullptr;
  stride = 0;
  return d;
}

void ManagedPixelBuffer::adoptData(uint8_t* data_, size_t capacity) {
  PLAT_ASSERT_TEXT(capacity >= sizeBytes(), "capacity_ >= sizeBytes()");
  delete[] data;
  data = data_;
  capacity_ = capacity;
  stride = static_cast<int32_t>(rect.width());
}

void ManagedPixelBuffer::adoptData(uint8_t* data_, size_t capacity, const Rect& r) {
  rect = r;
  adoptData(data_, capacity);
}

// ---- SubPixelBuffer ----

SubPixelBuffer::SubPixelBuffer(const PixelBuffer& parent_, const Rect& r, bool originAtRect)
    : PixelBuffer(parent_.getPf(), Rect(), parent_.getColourMap()),
      parent(parent_),
      offset(originAtRect ? r.tl() : Point{}) {
  const Rect c = r.intersect(parent.getRect());
  rect = Rect(clampTo32(int64_t{c.x1} - offset.x), clampTo32(int64_t{c.y1} - offset.y),
              clampTo32(int64_t{c.x2} - offset.x), clampTo32(int64_t{c.y2} - offset.y));
}

const uint8_t* SubPixelBuffer::getPixelsR(const Rect& r, int32_t* stride) const {
  if (r.isEmpty()) return nullptr;
  PLAT_ASSERT_MSG(rect.encloses(r), "getPixelsR out of bounds: %s outside %s", RectText(r).buf, RectText(rect).buf);
  return parent.getPixelsR(r.translate(offset), stride);
}

}  // namespace rfb
