#include "qocore/uilibs/mui/mac/MuImageMac.h"

#include <algorithm>

#include "platform/appkit/Screen.h"
#include "qocore/uilibs/ui/mac/ImageRepPixelBuffer.h"

namespace mui {

namespace {

constexpr int kNoImageScaling = 2;

}  // namespace

int32_t displayScaleFactor() {
  appkit::Screen* screen = appkit::Screen::mainScreen();
  const double scale = screen ? screen->backingScaleFactor() : 1;
  return std::max(1, static_cast<int32_t>(scale));
}

MuImage* MuImageMac::create(MuContainer* parent, const char* id, const char* name, Size size) {
  return new MuImageMac(parent, id, name, size);
}

MuImageMac::MuImageMac(MuContainer* parent, const char* id, const char* name, Size size)
    : MuImage(parent, id, name, size) {
  imageView_ = objc::adopt(new appkit::ImageView(appkit::makeRect(0, 0, 1, 1)));
  imageView_->setClipsToBounds(true);
  imageView_->setImageScaling(kNoImageScaling);
  setPeer(std::make_unique<MuCommonMac>(this, imageView_));
  setImageName(name, size);
}

MuImageMac::~MuImageMac() {
  dropNative();
  delete ownedImage_;
}

void MuImageMac::dropNative() { nativeImage_.reset(); }

void MuImageMac::show() {
  if (!nativeImage_ && image_) nativeImage_ = ui::nsImageFromPixelBuffer(*image_);
  imageView_->setImage(nativeImage_);
}

Size MuImageMac::imageSize() {
  if (image_) {
    const int32_t scale = displayScaleFactor();
    return {image_->width() / scale, image_->height() / scale};
  }
  if (nativeImage_) {
    const appkit::Size s = nativeImage_->size();
    return {truncToInt32(s.width), truncToInt32(s.height)};
  }
  return {0, 0};
}

int32_t MuImageMac::widthForHeight(int32_t) { return imageSize().width; }

int32_t MuImageMac::heightForWidth(int32_t) { return imageSize().height; }

void MuImageMac::setImage(const char* name, Size size) { setImageName(name, size); }

bool MuImageMac::setImageName(const char* name, Size size) {
  MuImage::setImage(name, size);
  const bool found = name && *name && holder_.load(name, size, true);
  if (ownedImage_ && ownedImage_ != holder_.image()) {
    delete ownedImage_;
    ownedImage_ = nullptr;
  }
  image_ = found ? holder_.image() : nullptr;
  dropNative();
  show();
  return found;
}

void MuImageMac::setPixelImage(rfb::PixelBuffer* image, bool take) {
  MuImage::setImage(nullptr, {});
  image_ = image;
  dropNative();
  // Shown again without being handed over, an image already handed over
  // stays the element's to delete.
  const bool owned = take || (image && ownedImage_ == image);
  if (ownedImage_ && ownedImage_ != image) delete ownedImage_;
  ownedImage_ = owned ? image : nullptr;
  show();
}

}  // namespace mui
