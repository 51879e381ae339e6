#pragma once
// Stands in for the platform's responder: the base of views, windows and
// the application, chained by `nextResponder`.  An event a responder does
// not handle passes to the next one; an action message goes to the first
// responder along the chain that answers it.

#include <functional>
#include <map>

#include "platform/appkit/Event.h"
#include "platform/appkit/Selector.h"
#include "platform/objc/Object.h"
#include "platform/objc/Ref.h"

namespace appkit {

// Any object that can be the target of an action: answers whether it
// responds to a selector and performs it with the sender.
class ActionTarget {
 public:
  virtual ~ActionTarget() = default;
  virtual bool respondsToAction(Sel action) const = 0;
  // Performs the action; an action the object does not answer is ignored.
  virtual void performAction(Sel action, objc::Object* sender) = 0;
};

class Responder : public objc::Object, public ActionTarget {
 public:
  Responder* nextResponder() const noexcept { return next_; }
  void setNextResponder(Responder* next) noexcept { next_ = next; }

  virtual bool acceptsFirstResponder() { return false; }
  virtual bool becomeFirstResponder() { return true; }
  virtual bool resignFirstResponder() { return true; }

  // The event messages; each passes the event on to the next responder.
  virtual void mouseDown(Event* e) { pass(&Responder::mouseDown, e); }
  virtual void mouseUp(Event* e) { pass(&Responder::mouseUp, e); }
  virtual void mouseDragged(Event* e) { pass(&Responder::mouseDragged, e); }
  virtual void mouseMoved(Event* e) { pass(&Responder::mouseMoved, e); }
  virtual void mouseEntered(Event* e) { pass(&Responder::mouseEntered, e); }
  virtual void mouseExited(Event* e) { pass(&Responder::mouseExited, e); }
  virtual void rightMouseDown(Event* e) { pass(&Responder::rightMouseDown, e); }
  virtual void rightMouseUp(Event* e) { pass(&Responder::rightMouseUp, e); }
  virtual void scrollWheel(Event* e) { pass(&Responder::scrollWheel, e); }
  virtual void keyDown(Event* e) { pass(&Responder::keyDown, e); }
  virtual void keyUp(Event* e) { pass(&Responder::keyUp, e); }
  virtual void flagsChanged(Event* e) { pass(&Responder::flagsChanged, e); }
  // A key equivalent the responder consumes answers true.
  virtual bool performKeyEquivalent(Event*) { return false; }
  // The end of the chain for an unhandled key: the platform beeps.
  virtual void noResponderFor(Event*);

  // Actions answered through handlers set on the object, as a class would
  // implement them as methods.
  void setActionHandler(Sel action, std::function<void(objc::Object* sender)> handler);
  bool respondsToAction(Sel action) const override;
  void performAction(Sel action, objc::Object* sender) override;
  // tryToPerform:with:: this responder or the first one after it that
  // answers the action performs it.
  bool tryToPerform(Sel action, objc::Object* sender);

 protected:
  ~Responder() override = default;

 private:
  void pass(void (Responder::*message)(Event*), Event* e) {
    // The next responder is held for the call: its handler may let go of
    // the chain.
    if (objc::Ref<Responder> next = next_)
      (next.get()->*message)(e);
    else
      noResponderFor(e);
  }

  Responder* next_ = nullptr;
  std::map<Sel, std::function<void(objc::Object*)>> actions_;
};

}  // namespace appkit
