#pragma once
// Detects the start of a mouse drag: the pointer has moved from where the
// button went down by more than a threshold that grows with the display's
// density (the `ppmm` parameter, read at each call), 5 pixels at the
// default of 4 units per millimetre.  The start is reported once.
//
// Main thread only.

#include "qocore/base/rfb/Rect.h"

namespace qoutil {

class DragDetector {
 public:
  // Remembers where the button went down.
  explicit DragDetector(rfb::Point press) noexcept : press_(press) {}

  // True the first time the position lies further than the threshold from
  // the press position along either axis; false before and ever after.
  bool dragStarted(rfb::Point position);

  // (10 * ppmm + 4) / 8 pixels.
  static int threshold();

 private:
  rfb::Point press_;
  bool started_ = false;
};

}  // namespace qoutil
