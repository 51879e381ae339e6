#include "qocore/uilibs/mui/NamedImageHolder.h"

namespace mui {

bool NamedImageHolder::load(const char* name, Size size, bool scaled) {
  if (scaled) {
    const int64_t g = qoutil::imageScale();
    size = Size{rfb::clampTo32(size.width * g), rfb::clampTo32(size.height * g)};
  }
  image_ = qoutil::NamedImageLoader::loadThemed(name, size);
  return image_.get() && !image_->getRect().isEmpty();
}

}  // namespace mui
