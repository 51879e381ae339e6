#include "qocore/uilibs/ui/mac/MouseForward.h"

namespace ui {

MouseReceiver::~MouseReceiver() = default;

std::unique_ptr<MouseReceiver> (*makeMouseReceiver)(appkit::View* view, qoutil::MouseCallback* callback) = nullptr;

namespace {

// Whether the superclass gets the event: when the receiver's answer is
// `passOn`, or when there is no receiver.
bool passes(MouseReceiver* receiver, appkit::Event* event, bool passOn) {
  return !receiver || receiver->mouseEvent(event) == passOn;
}

}  // namespace

void MouseForwardingView::mouseDown(appkit::Event* event) {
  if (passes(receiver, event, true)) NSViewFlipped::mouseDown(event);
}
void MouseForwardingView::mouseDragged(appkit::Event* event) {
  if (passes(receiver, event, true)) NSViewFlipped::mouseDragged(event);
}
void MouseForwardingView::mouseMoved(appkit::Event* event) {
  if (passes(receiver, event, true)) NSViewFlipped::mouseMoved(event);
}
void MouseForwardingView::mouseUp(appkit::Event* event) {
  if (passes(receiver, event, true)) NSViewFlipped::mouseUp(event);
}
void MouseForwardingView::mouseEntered(appkit::Event* event) {
  if (passes(receiver, event, false)) NSViewFlipped::mouseEntered(event);
}
void MouseForwardingView::mouseExited(appkit::Event* event) {
  if (passes(receiver, event, false)) NSViewFlipped::mouseExited(event);
}
void MouseForwardingView::rightMouseDown(appkit::Event* event) {
  if (passes(receiver, event, false)) NSViewFlipped::rightMouseDown(event);
}
void MouseForwardingView::rightMouseUp(appkit::Event* event) {
  if (passes(receiver, event, false)) NSViewFlipped::rightMouseUp(event);
}

}  // namespace ui
