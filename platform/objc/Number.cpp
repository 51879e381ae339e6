#include "platform/objc/Number.h"

namespace objc {

Number* Number::withLong(long value) {
  auto* n = new Number;
  n->long_ = value;
  return static_cast<Number*>(n->autorelease());
}

Number* Number::withDouble(double value) {
  auto* n = new Number;
  n->double_ = value;
  n->isDouble_ = true;
  return static_cast<Number*>(n->autorelease());
}

bool Number::isEqual(const Number& other) const noexcept {
  if (!isDouble_ && !other.isDouble_) return long_ == other.long_;
  return doubleValue() == other.doubleValue();
}

}  // namespace objc
