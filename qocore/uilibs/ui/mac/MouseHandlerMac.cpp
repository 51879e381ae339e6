#include "qocore/uilibs/ui/mac/MouseHandlerMac.h"

#include "platform/appkit/Constants.h"
#include "qocore/uilibs/ui/mac/DragDropMac.h"

namespace ui {

namespace {

// How long a click waits for a second one before it is confirmed.
int confirmDelayMs() { return static_cast<int>(appkit::Event::doubleClickInterval() * 1000) + 100; }

}  // namespace

MouseHandlerMac::~MouseHandlerMac() { callbackTimer_.cancel(); }

rfb::Point MouseHandlerMac::pointOf(appkit::Event* event) const {
  return viewPointFromBase(view_, event->locationInWindow());
}

bool MouseHandlerMac::notify(int32_t kind, rfb::Point point) {
  return mouseCallback_ && mouseCallback_->mouseEvent(kind, point, this);
}

bool MouseHandlerMac::mouseEvent(appkit::Event* event) {
  lastPoint_ = pointOf(event);
  switch (event->type()) {
    case appkit::kEventLeftMouseDown:
      leftPressed_ = true;
      if (dragSource_) dragSource_->mousePressed(lastPoint_);
      return notify(kPressed, lastPoint_);
    case appkit::kEventLeftMouseUp:
      if (!leftPressed_) return false;
      leftPressed_ = false;
      if (event->clickCount() >= 3) return notify(kClicked, lastPoint_);
      if (event->clickCount() == 2) {
        callbackTimer_.cancel();
        if (notify(kDoubleClicked, lastPoint_)) return false;
      }
      callbackTimer_.start(confirmDelayMs());
      return notify(kClicked, lastPoint_);
    case appkit::kEventLeftMouseDragged:
      if (dragSource_) {
        dragSource_->mouseDragged(event, lastPoint_);
        return false;
      }
      return notify(kMoved, lastPoint_);
    case appkit::kEventMouseMoved:
      return notify(kMoved, lastPoint_);
    case appkit::kEventMouseExited:
      return notify(kExited, lastPoint_);
    default:
      return false;
  }
}

bool MouseHandlerMac::contextMenu(appkit::Event* event) { return notify(kContextMenu, pointOf(event)); }

bool MouseHandlerMac::timerExpired(plat::Timer*) {
  notify(kClickConfirmed, lastPoint_);
  return false;
}

std::unique_ptr<MouseReceiver> makeMouseHandler(appkit::View* view, qoutil::MouseCallback* callback) {
  return std::make_unique<MouseHandlerMac>(view, callback);
}

}  // namespace ui
