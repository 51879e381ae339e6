#include "qocore/uilibs/mui/MuAnimation.h"

#include "qocore/base/plat/Colors.h"
#include "qocore/base/plat/DString.h"
#include "qocore/uilibs/mui/MuControls.h"

namespace mui {

MuAnimation::MuAnimation(MuContainer* parent, const char* id, int32_t interval, const char* firstImage, Size size)
    : image_(MuImage::create(parent, id, firstImage, size)), size_(size), timer_(this), interval_(interval) {}

MuAnimation::~MuAnimation() { timer_.cancel(); }

bool MuAnimation::timerExpired(plat::Timer*) {
  if (frames_.empty()) return false;
  if (image_->isVisible() && image_->flags() == 0) {
    index_ = (index_ + 1) % static_cast<int32_t>(frames_.size());
    image_->setImage(frames_[index_].get(), size_);
    image_->layoutNow();
  }
  return true;
}

void MuAnimation::setFrame(int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= frames_.size()) return;
  index_ = index;
  image_->setImage(frames_[index_].get(), size_);
}

namespace {

plat::CharArray spinnerImage(bool black, int frame) {
  return plat::DString::format("spinner%s%02d", black ? "black" : "", frame);
}

}  // namespace

MuSpinner::MuSpinner(MuContainer* parent, int32_t colour, Size size)
    : MuAnimation(parent, "spinner", 100, spinnerImage(colour == 1, 0).get(), size) {
  // On a dark background the light spinner shows and the black one not.
  const bool black = (colour == 1) != plat::isDarkMode();
  for (int frame = 0; frame < 12; ++frame) frames_.push_back(spinnerImage(black, frame));
  image()->setVisible(false);
}

void MuSpinner::setVisible(bool visible) {
  image()->setVisible(visible);
  if (visible) {
    timer().start(interval());
  } else {
    timer().cancel();
    setFrame(0);
  }
}

}  // namespace mui
