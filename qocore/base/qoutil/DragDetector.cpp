#include "qocore/base/qoutil/DragDetector.h"

#include <cstdint>
#include <cstdlib>

#include "qocore/base/plat/Colors.h"

namespace qoutil {

int DragDetector::threshold() { return (10 * plat::ppmm.getValue() + 4) / 8; }

bool DragDetector::dragStarted(rfb::Point position) {
  if (started_) return false;
  const int64_t limit = threshold();
  // 64-bit differences: the two points may lie 2^32 apart.
  if (std::llabs(int64_t{position.x} - press_.x) > limit || std::llabs(int64_t{position.y} - press_.y) > limit) {
    started_ = true;
    return true;
  }
  return false;
}

}  // namespace qoutil
