#pragma once
// Stands in for the platform's slider: a value within a range that the
// user drags, optionally held to tick marks.  Setting the value or the
// range in code sends no action.

#include "platform/appkit/View.h"

namespace appkit {

class Slider : public Control {
 public:
  // initWithFrame: (one reference, the caller's): range 0 to 1.
  explicit Slider(Rect frame = {}) : Control(frame) {}

  double doubleValue() const noexcept { return value_; }
  // Held to the range, and to a tick mark when only those are allowed.
  void setDoubleValue(double value) noexcept;
  int intValue() const noexcept { return static_cast<int>(value_); }
  void setIntValue(int value) noexcept { setDoubleValue(value); }
  double minValue() const noexcept { return min_; }
  void setMinValue(double value) noexcept;
  double maxValue() const noexcept { return max_; }
  void setMaxValue(double value) noexcept;
  long numberOfTickMarks() const noexcept { return ticks_; }
  void setNumberOfTickMarks(long count) noexcept;
  bool allowsTickMarkValuesOnly() const noexcept { return ticksOnly_; }
  void setAllowsTickMarkValuesOnly(bool only) noexcept;
  // The tick mark value nearest to a value (the value without marks).
  double closestTickMarkValueToValue(double value) const noexcept;

  // The user drags to a value: it is set and the action sent.
  void userMovesTo(double value);

 protected:
  ~Slider() override = default;

 private:
  double value_ = 0;
  double min_ = 0;
  double max_ = 1;
  long ticks_ = 0;
  bool ticksOnly_ = false;
};

}  // namespace appkit
