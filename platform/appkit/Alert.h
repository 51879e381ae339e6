#pragma once
// Stands in for the platform's alerts: a message, an informative text, an
// optional icon and buttons in a panel, run application-modal or as a
// sheet on a window.  The first button added returns 1000 and answers the
// Return key, each further one the next code.
//
// No one sits at a display here, so an alert answers as a test script
// says when one is set (see inject::setAlertScript): the script is asked
// from inside the alert's modal loop, which serves the run loop like any
// other (timers, descriptors and signals go on), and its answer presses
// that button.  A script may also answer nothing, leaving the alert up
// until a click on a button or the end of its loop.  Without a script the
// alert writes its message and informative text to standard error, one a
// line, and gives its first button: runModal returns at once, a sheet ends
// from the loop that waits for it.

#include <functional>
#include <vector>

#include "platform/appkit/Responder.h"
#include "platform/appkit/Selector.h"
#include "platform/objc/Object.h"
#include "platform/objc/Ref.h"
#include "qocore/base/plat/CharArray.h"

namespace appkit {

class Alert;
class Button;
class Event;
class Window;

// The message a sheet's modal delegate receives when the sheet ends
// (alertDidEnd:returnCode:contextInfo:).
class AlertDidEndReceiver {
 public:
  virtual void alertDidEnd(Alert* alert, long returnCode, void* contextInfo) = 0;

 protected:
  ~AlertDidEndReceiver() = default;
};

class Alert : public objc::Object, public ActionTarget {
 public:
  // alloc, init: one reference, the caller's.
  Alert();

  const char* messageText() const noexcept { return message_.c_str(); }
  void setMessageText(const char* text) { message_ = plat::CharArray(text ? text : ""); }
  const char* informativeText() const noexcept { return informative_.c_str(); }
  void setInformativeText(const char* text) { informative_ = plat::CharArray(text ? text : ""); }
  // Retained; null for the platform's default alert icon.
  objc::Object* icon() const noexcept { return icon_; }
  void setIcon(objc::Object* icon);

  // A new button with the title at the end of the row (owned by the
  // alert's panel).
  Button* addButtonWithTitle(const char* title);
  const std::vector<Button*>& buttons() const noexcept { return buttons_; }
  // The panel that shows the alert.
  Window* window() const noexcept { return panel_; }
  // The window the alert runs as a sheet on, null otherwise.
  Window* sheetParent() const noexcept { return sheetParent_; }

  // Runs application-modal; answers the pressed button's code, or the
  // modal response that ended the loop otherwise (kModalResponseStop).
  long runModal();
  // Shows the alert as a sheet on the window and returns at once; the
  // delegate hears didEndSelector, when it is
  // "alertDidEnd:returnCode:contextInfo:" and the delegate an
  // AlertDidEndReceiver, once a button ends the sheet.
  void beginSheetModalForWindow(Window* window, objc::Object* modalDelegate, Sel didEndSelector, void* contextInfo);

  // The buttons' action.
  bool respondsToAction(Sel action) const override;
  void performAction(Sel action, objc::Object* sender) override;

  // The scripted answer arrives (the panel's event).
  void scriptEvent(Event* e);

 protected:
  ~Alert() override;

 private:
  bool hasScript() const;
  void report() const;
  void postScriptEvent();
  void cancelScriptEvent();
  void finish(long code);

  plat::CharArray message_;
  plat::CharArray informative_;
  objc::Ref<objc::Object> icon_;
  objc::Ref<Window> panel_;
  // Held by the panel's content view.
  std::vector<Button*> buttons_;
  Window* sheetParent_ = nullptr;
  objc::Object* delegate_ = nullptr;
  Sel didEnd_ = nullptr;
  void* context_ = nullptr;
  objc::Ref<Event> pending_;
  bool modal_ = false;
};

namespace inject {

// The test script that answers alerts: called with each alert once it
// runs, inside its loop; answers the code of the button to press, or 0
// for none.  An empty function removes the script.
void setAlertScript(std::function<long(Alert*)> script);

}  // namespace inject
}  // namespace appkit
