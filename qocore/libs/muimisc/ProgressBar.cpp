#include "qocore/libs/muimisc/ProgressBar.h"

#include <algorithm>

#include "qocore/base/plat/Colors.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/uilibs/mui/Adopt.h"

namespace muimisc {

ProgressBar* (*progressBarFactory)(mui::MuContainer* parent, const char* id) = nullptr;

ProgressBar* ProgressBar::create(mui::MuContainer* parent, const char* id) {
  PLAT_ASSERT(progressBarFactory);
  return mui::adopt(parent, progressBarFactory(parent, id));
}

ProgressBar::ProgressBar(mui::MuContainer* parent, const char* id) : MuElement(parent, id, nullptr) {}

int32_t ProgressBar::fillFor(uint16_t value, int32_t width) noexcept {
  // In 64 bits: 65535 times a width above 32767 does not fit 32.
  return static_cast<int32_t>(int64_t{value} * width / kFull);
}

void ProgressBar::setSize(mui::Size size) {
  MuElement::setSize(size);
  filled_ = fillFor(value_, getSize().width);
}

int32_t ProgressBar::widthForHeight(int32_t) { return plat::ppmm.getValue(); }

int32_t ProgressBar::heightForWidth(int32_t) { return plat::ppmm.getValue(); }

plat::DString ProgressBar::listItems() {
  const float percent = static_cast<float>(value_) * 100.0f / static_cast<float>(kFull);
  return plat::DString("%d%%", static_cast<int>(percent));
}

void ProgressBar::setValue(uint16_t value) {
  const mui::Size size = getSize();
  const int32_t before = fillFor(value_, size.width);
  const int32_t after = fillFor(value, size.width);
  value_ = value;
  filled_ = after;
  if (after != before) invalidateRect(mui::Rect(0, 0, size.width, size.height));
}

void ProgressBar::setColours(const char* fill, const char* track) {
  fillColour_ = plat::CharArray(fill ? fill : "");
  trackColour_ = plat::CharArray(track ? track : "");
}

mui::Rect ProgressBar::filledRect() {
  const mui::Size size = getSize();
  return mui::Rect(0, 0, std::min(filled_, size.width), size.height);
}

mui::Rect ProgressBar::trackRect() {
  const mui::Size size = getSize();
  return mui::Rect(std::min(filled_, size.width), 0, size.width, size.height);
}

}  // namespace muimisc
