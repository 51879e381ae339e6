#pragma once
// ui::MouseHandlerMac: turns the mouse events of one native view into the
// toolkit's mouse notices for an element's callback, in the view's
// coordinates: press (0), click (1), the second click of a double click
// (2), a click that no second click followed within the double-click
// interval plus 100 ms (3), move or drag (4), leaving the view (5) and a
// context-menu request (6).  The wait for a second click runs on a plat
// timer, so it follows the thread's (replaceable) monotonic clock.  A
// drag source, when the view has one, sees the press and the left drags
// instead of the callback.
//
// Main thread only.

#include <cstdint>
#include <memory>

#include "platform/appkit/Event.h"
#include "platform/appkit/View.h"
#include "qocore/base/plat/Timer.h"
#include "qocore/base/qoutil/MouseCallback.h"
#include "qocore/base/rfb/Rect.h"
#include "qocore/uilibs/ui/mac/MouseForward.h"

namespace ui {

class DragDropMac;

class MouseHandlerMac : public plat::Timer::Callback, public MouseReceiver {
 public:
  // Notice kinds.
  enum Kind : int32_t {
    kPressed = 0,
    kClicked = 1,
    kDoubleClicked = 2,
    kClickConfirmed = 3,
    kMoved = 4,
    kExited = 5,
    kContextMenu = 6,
  };

  // Neither the view nor the callback (which may be null) is owned; both
  // must outlive the handler.
  MouseHandlerMac(appkit::View* view, qoutil::MouseCallback* callback, DragDropMac* dragSource = nullptr) noexcept
      : mouseCallback_(callback), view_(view), dragSource_(dragSource) {}
  ~MouseHandlerMac() override;
  MouseHandlerMac(const MouseHandlerMac&) = delete;
  MouseHandlerMac& operator=(const MouseHandlerMac&) = delete;

  bool mouseEvent(appkit::Event* event) override;
  bool contextMenu(appkit::Event* event) override;
  // Sends a notice of the kind at the point; the callback's answer, false
  // without a callback.
  bool notify(int32_t kind, rfb::Point point);

  void setDragSource(DragDropMac* source) noexcept { dragSource_ = source; }
  DragDropMac* dragSource() const noexcept { return dragSource_; }
  // Forgets a click that still waits for its confirmation.
  void stopTimer() { callbackTimer_.cancel(); }
  rfb::Point lastPoint() const noexcept { return lastPoint_; }
  bool leftPressed() const noexcept { return leftPressed_; }

  bool timerExpired(plat::Timer* timer) override;

 private:
  // The event's position in the view, truncated.
  rfb::Point pointOf(appkit::Event* event) const;

  plat::Timer callbackTimer_{this};
  rfb::Point lastPoint_;
  bool leftPressed_ = false;
  qoutil::MouseCallback* mouseCallback_;
  appkit::View* view_;
  DragDropMac* dragSource_;
};

// The maker that the plain containers' views use (makeMouseReceiver).
std::unique_ptr<MouseReceiver> makeMouseHandler(appkit::View* view, qoutil::MouseCallback* callback);

}  // namespace ui
