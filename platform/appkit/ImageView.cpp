#include "platform/appkit/ImageView.h"

namespace appkit {

void ImageView::setImage(Image* image) {
  image_ = image;
  setNeedsDisplay(true);
}

ImageView::~ImageView() = default;

}  // namespace appkit
