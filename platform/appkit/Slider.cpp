#include "platform/appkit/Slider.h"

#include <algorithm>
#include <cmath>

namespace appkit {

double Slider::closestTickMarkValueToValue(double value) const noexcept {
  if (ticks_ < 2 || max_ <= min_) return ticks_ == 1 ? (min_ + max_) / 2 : value;
  const double step = (max_ - min_) / static_cast<double>(ticks_ - 1);
  const double index = std::round((value - min_) / step);
  return min_ + std::clamp(index, 0.0, static_cast<double>(ticks_ - 1)) * step;
}

void Slider::setDoubleValue(double value) noexcept {
  if (std::isnan(value)) value = min_;
  value = std::clamp(value, std::min(min_, max_), std::max(min_, max_));
  if (ticksOnly_) value = closestTickMarkValueToValue(value);
  value_ = value;
}

void Slider::setMinValue(double value) noexcept {
  min_ = value;
  setDoubleValue(value_);
}

void Slider::setMaxValue(double value) noexcept {
  max_ = value;
  setDoubleValue(value_);
}

void Slider::setNumberOfTickMarks(long count) noexcept {
  ticks_ = std::max(0L, count);
  setDoubleValue(value_);
}

void Slider::setAllowsTickMarkValuesOnly(bool only) noexcept {
  ticksOnly_ = only;
  setDoubleValue(value_);
}

void Slider::userMovesTo(double value) {
  if (!isEnabled()) return;
  setDoubleValue(value);
  if (action()) sendAction(action(), target());
}

}  // namespace appkit
