#pragma once
// Stands in for the platform's boxed number: an integer or a floating-point
// value in an object, as attribute and property values take them.

#include "platform/objc/Object.h"

namespace objc {

class Number : public Object {
 public:
  // numberWithLong: and numberWithDouble:: autoreleased numbers.
  static Number* withLong(long value);
  static Number* withDouble(double value);

  long longValue() const noexcept { return isDouble_ ? static_cast<long>(double_) : long_; }
  double doubleValue() const noexcept { return isDouble_ ? double_ : static_cast<double>(long_); }
  // isEqualToNumber:: the same value, compared as the wider kind.
  bool isEqual(const Number& other) const noexcept;

 private:
  Number() = default;
  ~Number() override = default;

  long long_ = 0;
  double double_ = 0;
  bool isDouble_ = false;
};

}  // namespace objc
