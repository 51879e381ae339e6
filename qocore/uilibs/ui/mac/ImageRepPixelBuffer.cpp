#include "qocore/uilibs/ui/mac/ImageRepPixelBuffer.h"

#include "qocore/base/plat/Exception.h"
#include "qocore/base/qoutil/NamedImage.h"
#include "qocore/base/rfb/PixelTrans.h"

namespace ui {

ImageRepPixelBuffer::ImageRepPixelBuffer(const rfb::Rect& r)
    : rfb::ConfigurablePixelBuffer(rfb::PixelFormat::rgbaBytes(), rfb::Rect(r.x1, r.y1, r.x1, r.y1), nullptr, nullptr,
                                   0) {
  setSize(rfb::Size{static_cast<int32_t>(r.width()), static_cast<int32_t>(r.height())});
}

ImageRepPixelBuffer::~ImageRepPixelBuffer() = default;

void ImageRepPixelBuffer::setPF(const rfb::PixelFormat& pf) { PLAT_ASSERT_TEXT(pf.equal(pf_), "pf.equal(pf_)"); }

void ImageRepPixelBuffer::setSize(rfb::Size size) {
  if (size.width == width() && size.height == height()) return;
  // The new representation is made before anything changes, so that a
  // failure leaves the buffer as it was.
  objc::Ref<appkit::BitmapImageRep> made = objc::adopt(appkit::BitmapImageRep::create(
      nullptr, size.width, size.height, 8, 4, true, false, appkit::kDeviceRGBColorSpace, int64_t{size.width} * 4, 32));
  if (!made) throw plat::Exception("Cannot make a %dx%d image representation", size.width, size.height);

  const rfb::Rect oldRect = rect;
  const objc::Ref<appkit::BitmapImageRep> old = std::move(rep_);
  rep_ = std::move(made);
  rect = rfb::Rect(rect.x1, rect.y1, rfb::clampTo32(int64_t{rect.x1} + size.width),
                   rfb::clampTo32(int64_t{rect.y1} + size.height));
  data = rep_->bitmapData();
  stride = size.width;
  if (!old) return;
  if (preserveOnResize) {
    // Both rectangles share the top-left corner, so the old pixels start
    // there too.
    const rfb::Rect kept = oldRect.intersect(rect);
    if (!kept.isEmpty()) imageRect(kept, old->bitmapData(), static_cast<int32_t>(oldRect.width()));
  }
}

appkit::Image* ImageRepPixelBuffer::makeImage(appkit::Size size) const {
  if (size.width == 0 && size.height == 0) {
    const int g = qoutil::imageScale() > 0 ? qoutil::imageScale() : 1;
    size = appkit::Size{static_cast<double>(width() / g), static_cast<double>(height() / g)};
  }
  auto* image = new appkit::Image(size);
  image->addRepresentation(rep_);
  return static_cast<appkit::Image*>(image->autorelease());
}

appkit::Image* nsImageFromPixelBuffer(const rfb::PixelBuffer& pb, appkit::Size size) {
  ImageRepPixelBuffer copy(pb.getRect());
  rfb::transRect(pb, rfb::Point{pb.getRect().x1, pb.getRect().y1}, copy, pb.getRect(), rfb::opCopy);
  // The image keeps the representation when the buffer goes.
  return copy.makeImage(size);
}

}  // namespace ui
