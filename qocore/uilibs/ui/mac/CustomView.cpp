#include "qocore/uilibs/ui/mac/CustomView.h"

#include "platform/appkit/Constants.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"

namespace ui {

// Press, drag, move and release reach the plain view only when the
// handler took them; entering, leaving and the right button only when it
// did not.
void CustomViewOC::mouseDown(appkit::Event* e) {
  if (!cxx || cxx->mouseHandler().mouseEvent(e)) View::mouseDown(e);
}
void CustomViewOC::mouseDragged(appkit::Event* e) {
  if (!cxx || cxx->mouseHandler().mouseEvent(e)) View::mouseDragged(e);
}
void CustomViewOC::mouseMoved(appkit::Event* e) {
  if (!cxx || cxx->mouseHandler().mouseEvent(e)) View::mouseMoved(e);
}
void CustomViewOC::mouseUp(appkit::Event* e) {
  if (!cxx || cxx->mouseHandler().mouseEvent(e)) View::mouseUp(e);
}
void CustomViewOC::mouseEntered(appkit::Event* e) {
  if (!cxx || !cxx->mouseHandler().mouseEvent(e)) View::mouseEntered(e);
}
void CustomViewOC::mouseExited(appkit::Event* e) {
  if (!cxx || !cxx->mouseHandler().mouseEvent(e)) View::mouseExited(e);
}
void CustomViewOC::rightMouseDown(appkit::Event* e) {
  if (!cxx || !cxx->mouseHandler().mouseEvent(e)) View::rightMouseDown(e);
}
void CustomViewOC::rightMouseUp(appkit::Event* e) {
  if (!cxx || !cxx->mouseHandler().mouseEvent(e)) View::rightMouseUp(e);
}

appkit::Menu* CustomViewOC::menuForEvent(appkit::Event* e) {
  if (cxx && cxx->mouseHandler().contextMenu(e)) return nullptr;
  return View::menuForEvent(e);
}

bool CustomViewOC::acceptsFirstResponder() { return cxx && cxx->callback()->acceptsFirstResponder(cxx); }
bool CustomViewOC::becomeFirstResponder() { return cxx && cxx->callback()->focusChanged(cxx, true); }
bool CustomViewOC::resignFirstResponder() { return cxx && cxx->callback()->focusChanged(cxx, false); }
bool CustomViewOC::isFlipped() const { return cxx && cxx->callback()->isFlipped(cxx); }

void CustomViewOC::drawRect(appkit::Rect dirty) {
  if (!cxx) return;
  int32_t x1 = truncToInt32(dirty.origin.x);
  int32_t y1 = truncToInt32(dirty.origin.y);
  rfb::Rect r(x1, y1, truncToInt32(x1 + dirty.size.width), truncToInt32(y1 + dirty.size.height));
  if (!r.isEmpty()) cxx->callback()->draw(cxx, r);
}

void CustomViewOC::cancelOperation(objc::Object* sender) {
  if (cxx) cxx->callback()->cancelOperation(cxx, sender);
}

void CustomViewOC::keyDown(appkit::Event* e) {
  if (!cxx || !cxx->callback()->handleKeyEvent(cxx, e)) View::keyDown(e);
}
void CustomViewOC::keyUp(appkit::Event* e) {
  if (!cxx || !cxx->callback()->handleKeyEvent(cxx, e)) View::keyUp(e);
}

void CustomViewOC::resetCursorRects() {
  if (cxx) cxx->callback()->resetCursorRects(cxx);
}

unsigned long CustomViewOC::draggingEntered(appkit::DraggingSession* info) {
  DragDropMac* controller = cxx ? cxx->dragDrop() : nullptr;
  return controller ? controller->draggingEntered(info) : appkit::kDragOperationNone;
}

unsigned long CustomViewOC::draggingUpdated(appkit::DraggingSession* info) {
  DragDropMac* controller = cxx ? cxx->dragDrop() : nullptr;
  return controller ? controller->draggingUpdated(info) : appkit::kDragOperationNone;
}

bool CustomViewOC::performDragOperation(appkit::DraggingSession* info) {
  DragDropMac* controller = cxx ? cxx->dragDrop() : nullptr;
  return controller && controller->performDragOperation(info);
}

// The pointer has left the view with the drag, dropped or not.
void CustomViewOC::draggingEnded(appkit::DraggingSession* info) {
  if (!cxx) return;
  if (DragDropMac* controller = cxx->dragDrop()) controller->draggingEnded(info);
  cxx->mouseHandler().notify(MouseHandlerMac::kExited, cxx->mouseHandler().lastPoint());
}

void CustomViewOC::draggingExited(appkit::DraggingSession*) {
  if (cxx) cxx->mouseHandler().notify(MouseHandlerMac::kExited, cxx->mouseHandler().lastPoint());
}

unsigned long CustomViewOC::sourceOperationMask(appkit::DraggingSession*, long context) {
  return cxx && cxx->dragDrop() ? DragDropMac::sourceOperationMask(context) : appkit::kDragOperationNone;
}

bool CustomView::Callback::handleKeyEvent(CustomView* view, appkit::Event* event) {
  return event->type() == appkit::kEventKeyDown && keyDown(view, event);
}

CustomView::Callback::~Callback() = default;

CustomView::CustomView(Callback* callback, qoutil::MouseCallback* mouseCallback, DragDropMac::Callback* dragCallback,
                       DragDropMac::ImageProvider* imageProvider)
    : view_(objc::adopt(new CustomViewOC(appkit::makeRect(0, 0, 1, 1)))),
      callback_(callback),
      mouseCallback_(mouseCallback),
      dragCallback_(dragCallback),
      imageProvider_(imageProvider),
      mouse_(view_, mouseCallback) {
  view_->setClipsToBounds(true);
  view_->cxx = this;
}

CustomView::~CustomView() {
  mouse_.stopTimer();
  mouse_.setDragSource(nullptr);
  dragDrop_.reset();
  view_->cxx = nullptr;
}

void CustomView::enableDragDrop(const char* dragType, const std::vector<const char*>& acceptedTypes) {
  mouse_.setDragSource(nullptr);
  dragDrop_ = std::make_unique<DragDropMac>(dragCallback_, imageProvider_, view_);
  dragDrop_->setTypes(dragType, acceptedTypes);
  mouse_.setDragSource(dragDrop_.get());
}

void CustomView::paint(const rfb::Rect& rect) {
  if (!rect.isEmpty()) callback_->draw(this, rect);
}

void CustomView::invalidate(const rfb::Rect& rect) {
  if (rect.isEmpty()) return;
  view_->setNeedsDisplayInRect(nativeRect(rect));
}

}  // namespace ui
