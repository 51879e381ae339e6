#pragma once
// qoutil::MouseCallback: the receiver of an element's mouse notices.  The
// backend's mouse handler turns the platform's events into notices (press,
// click, double click, move, exit...) in the receiving view's coordinates,
// y growing downwards, and hands itself along so the receiver can ask it
// for more (the pressed buttons, a drag start).

#include <cstdint>

#include "qocore/base/rfb/Rect.h"

namespace ui {
class MouseHandlerMac;
}  // namespace ui

namespace qoutil {

class MouseCallback {
 public:
  // True when the receiver took the notice; the handler then does nothing
  // more with it.
  virtual bool mouseEvent(int32_t kind, rfb::Point point, ui::MouseHandlerMac* handler) = 0;
  virtual ~MouseCallback();
};

}  // namespace qoutil
