#pragma once
// Where the views of plain containers send their mouse events: a receiver
// that turns them into the toolkit's mouse notices for the element's mouse
// callback.  The mouse handler (click and double-click discrimination,
// drag sources) implements it and puts its maker in makeMouseReceiver;
// until it does, no receiver is made and the views behave as plain views.

#include <memory>

#include "platform/appkit/Event.h"
#include "platform/appkit/View.h"
#include "qocore/base/qoutil/MouseCallback.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"

namespace ui {

class MouseReceiver {
 public:
  virtual ~MouseReceiver();
  // One mouse event of the view; the answer is the notice's (false when
  // no notice was sent).
  virtual bool mouseEvent(appkit::Event* event) = 0;
  // A context-menu request at the event: true when the callback took it
  // and no menu is shown.
  virtual bool contextMenu(appkit::Event* event) = 0;
};

// Makes the receiver for a view's events, reporting to the callback in
// the view's coordinates; null leaves the view without one.
extern std::unique_ptr<MouseReceiver> (*makeMouseReceiver)(appkit::View* view, qoutil::MouseCallback* callback);

// A flipped view that hands its mouse events to a receiver first.  Press,
// drag, move and release reach the view's superclass only when the
// receiver answers true; entering, leaving and the right button only when
// it answers false.  Without a receiver every event goes to the
// superclass.
class MouseForwardingView : public NSViewFlipped {
 public:
  using NSViewFlipped::NSViewFlipped;

  void mouseDown(appkit::Event* event) override;
  void mouseDragged(appkit::Event* event) override;
  void mouseMoved(appkit::Event* event) override;
  void mouseUp(appkit::Event* event) override;
  void mouseEntered(appkit::Event* event) override;
  void mouseExited(appkit::Event* event) override;
  void rightMouseDown(appkit::Event* event) override;
  void rightMouseUp(appkit::Event* event) override;

  // Not owned; cleared by the owner before the receiver goes.
  MouseReceiver* receiver = nullptr;

 protected:
  ~MouseForwardingView() override = default;
};

}  // namespace ui
