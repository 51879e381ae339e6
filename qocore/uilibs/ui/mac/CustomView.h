#pragma once
// ui::CustomView: an owner-drawn native view.  Its view hands drawing,
// focus, keys, mouse events and drag and drop to a callback (and the mouse
// events through a ui::MouseHandlerMac to the element's mouse callback).
// Destroying it clears the view's back pointer before letting the view
// go, so messages that reach the view later get the plain view's answers.
//
// Main thread only.

#include <memory>
#include <vector>

#include "platform/appkit/Dragging.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/View.h"
#include "platform/objc/Ref.h"
#include "qocore/base/qoutil/MouseCallback.h"
#include "qocore/base/rfb/Rect.h"
#include "qocore/uilibs/ui/mac/DragDropMac.h"
#include "qocore/uilibs/ui/mac/MouseHandlerMac.h"

namespace ui {

class CustomView;

// The native view of a custom view.
class CustomViewOC : public appkit::View, public appkit::DraggingSource, public appkit::DraggingDestination {
 public:
  explicit CustomViewOC(appkit::Rect frame) : appkit::View(frame) {}

  void mouseDown(appkit::Event* e) override;
  void mouseDragged(appkit::Event* e) override;
  void mouseMoved(appkit::Event* e) override;
  void mouseUp(appkit::Event* e) override;
  void mouseEntered(appkit::Event* e) override;
  void mouseExited(appkit::Event* e) override;
  void rightMouseDown(appkit::Event* e) override;
  void rightMouseUp(appkit::Event* e) override;
  appkit::Menu* menuForEvent(appkit::Event* e) override;
  bool acceptsFirstResponder() override;
  bool becomeFirstResponder() override;
  bool resignFirstResponder() override;
  bool isFlipped() const override;
  void drawRect(appkit::Rect dirty) override;
  void cancelOperation(objc::Object* sender) override;
  void keyDown(appkit::Event* e) override;
  void keyUp(appkit::Event* e) override;
  void resetCursorRects() override;

  unsigned long draggingEntered(appkit::DraggingSession* info) override;
  unsigned long draggingUpdated(appkit::DraggingSession* info) override;
  bool performDragOperation(appkit::DraggingSession* info) override;
  void draggingEnded(appkit::DraggingSession* info) override;
  void draggingExited(appkit::DraggingSession* info) override;
  unsigned long sourceOperationMask(appkit::DraggingSession* session, long context) override;

  // The owner; null once it has gone.
  CustomView* cxx = nullptr;

 protected:
  ~CustomViewOC() override = default;
};

class CustomView {
 public:
  class Callback {
   public:
    virtual bool acceptsFirstResponder(CustomView*) { return true; }
    // True: the focus change is accepted.
    virtual bool focusChanged(CustomView*, bool /*gained*/) { return true; }
    virtual bool isFlipped(CustomView*) { return true; }
    // The dirty rectangle in the view's integer coordinates.
    virtual void draw(CustomView*, const rfb::Rect& /*dirty*/) {}
    virtual void cancelOperation(CustomView*, objc::Object* /*sender*/) {}
    // Key-down events go to keyDown; others are not handled.
    virtual bool handleKeyEvent(CustomView* view, appkit::Event* event);
    virtual bool keyDown(CustomView*, appkit::Event*) { return false; }
    virtual void resetCursorRects(CustomView*) {}
    virtual ~Callback();
  };

  // The callback must outlive the view; the mouse callback, drag callback
  // and image provider may be null.
  CustomView(Callback* callback, qoutil::MouseCallback* mouseCallback, DragDropMac::Callback* dragCallback = nullptr,
             DragDropMac::ImageProvider* imageProvider = nullptr);
  ~CustomView();
  CustomView(const CustomView&) = delete;
  CustomView& operator=(const CustomView&) = delete;

  CustomViewOC* view() const noexcept { return view_; }
  Callback* callback() const noexcept { return callback_; }
  qoutil::MouseCallback* mouseCallback() const noexcept { return mouseCallback_; }
  MouseHandlerMac& mouseHandler() noexcept { return mouse_; }
  // Null until drag and drop is enabled.
  DragDropMac* dragDrop() const noexcept { return dragDrop_.get(); }

  // Makes the view a drag source of the type and a drop target of the
  // accepted types (replacing an earlier controller).
  void enableDragDrop(const char* dragType, const std::vector<const char*>& acceptedTypes);
  // Draws a non-empty rectangle at once.
  void paint(const rfb::Rect& rect);
  // Marks the rectangle for redrawing.
  void invalidate(const rfb::Rect& rect);

 private:
  objc::Ref<CustomViewOC> view_;
  Callback* callback_;
  qoutil::MouseCallback* mouseCallback_;
  DragDropMac::Callback* dragCallback_;
  DragDropMac::ImageProvider* imageProvider_;
  std::unique_ptr<DragDropMac> dragDrop_;
  MouseHandlerMac mouse_;
};

}  // namespace ui
