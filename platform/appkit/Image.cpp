#include "platform/appkit/Image.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "platform/appkit/Graphics.h"

namespace appkit {

const char* const kDeviceRGBColorSpace = "NSDeviceRGBColorSpace";

namespace {
std::atomic<long> bitmapsMade{0};
}

BitmapImageRep::BitmapImageRep(long wide, long high)
    : ImageRep(wide, high), data_(static_cast<size_t>(wide) * static_cast<size_t>(high) * 4, 0) {}

BitmapImageRep* BitmapImageRep::create(uint8_t** planes, long pixelsWide, long pixelsHigh, long bitsPerSample,
                                       long samplesPerPixel, bool hasAlpha, bool isPlanar, const char* colorSpaceName,
                                       long bytesPerRow, long bitsPerPixel) {
  if (planes != nullptr || bitsPerSample != 8 || samplesPerPixel != 4 || !hasAlpha || isPlanar) return nullptr;
  if (!colorSpaceName || std::strcmp(colorSpaceName, kDeviceRGBColorSpace) != 0) return nullptr;
  if (pixelsWide < 1 || pixelsHigh < 1 || (bitsPerPixel != 0 && bitsPerPixel != 32)) return nullptr;
  constexpr long kMaxBytes = std::numeric_limits<int32_t>::max();
  if (pixelsWide > kMaxBytes / 4 || pixelsHigh > kMaxBytes / (pixelsWide * 4)) return nullptr;
  if (bytesPerRow != 0 && bytesPerRow != pixelsWide * 4) return nullptr;
  BitmapImageRep* rep;
  try {
    rep = new BitmapImageRep(pixelsWide, pixelsHigh);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  ++bitmapsMade;
  return rep;
}

uint32_t BitmapImageRep::pixelAt(long x, long y) const noexcept {
  if (x < 0 || y < 0 || x >= pixelsWide() || y >= pixelsHigh()) return 0;
  const uint8_t* p = data_.data() + (y * pixelsWide() + x) * 4;
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

long BitmapImageRep::madeCount() noexcept { return bitmapsMade.load(); }

Image::~Image() { unlockFocus(); }

void Image::lockFocus() {
  if (focus_) return;
  BitmapImageRep* rep = bitmap();
  if (!rep) {
    const long wide = static_cast<long>(std::ceil(std::clamp(size_.width, 1.0, 65536.0)));
    const long high = static_cast<long>(std::ceil(std::clamp(size_.height, 1.0, 65536.0)));
    objc::Ref<BitmapImageRep> made =
        objc::adopt(BitmapImageRep::create(nullptr, wide, high, 8, 4, true, false, kDeviceRGBColorSpace, wide * 4, 32));
    if (!made) return;
    addRepresentation(made);
    rep = made;
  }
  GraphicsContext* context = GraphicsContext::withBitmap(rep);
  if (!context) return;
  focus_ = context;
  unfocused_ = GraphicsContext::current();
  GraphicsContext::setCurrent(focus_);
}

void Image::unlockFocus() {
  if (!focus_) return;
  GraphicsContext::setCurrent(unfocused_);
  unfocused_.reset();
  focus_.reset();
}

void Image::addRepresentation(ImageRep* rep) {
  if (rep) reps_.push_back(rep);
}

void Image::removeRepresentation(ImageRep* rep) { reps_.remove(rep); }

BitmapImageRep* Image::bitmap() const noexcept {
  for (ImageRep* rep : reps_)
    if (auto* b = dynamic_cast<BitmapImageRep*>(rep)) return b;
  return nullptr;
}

void Image::drawInRect(Rect dst, Rect src, int operation, double fraction, bool respectFlipped, const void*) const {
  GraphicsContext* c = GraphicsContext::current();
  BitmapImageRep* rep = bitmap();
  if (!c || !rep || size_.width <= 0 || size_.height <= 0) return;
  // The source rectangle is in the image's points, bottom-up; the
  // representation's rows run top to bottom.
  double sx = rep->pixelsWide() / size_.width, sy = rep->pixelsHigh() / size_.height;
  Rect srcPixels;
  if (src.size.width > 0 && src.size.height > 0)
    srcPixels = makeRect(src.minX() * sx, (size_.height - src.maxY()) * sy, src.size.width * sx, src.size.height * sy);
  bool upsideDown = c->isFlipped() && !respectFlipped;
  c->drawPixels(rep->bitmapData(), rep->pixelsWide(), rep->pixelsHigh(), rep->bytesPerRow(), srcPixels,
                c->toDevice(dst), operation, fraction, upsideDown);
}

}  // namespace appkit
