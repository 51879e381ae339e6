#include "platform/appkit/ImageView.h"

namespace appkit {

void ImageView::setImage(Image* image) {
  objc::setRetained(image_, image);
  setNeedsDisplay(true);
}

ImageView::~ImageView() {
  if (image_) image_->release();
}

}  // namespace appkit
