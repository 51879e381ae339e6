#include "platform/appkit/Responder.h"

#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"

namespace appkit {

void Responder::noResponderFor(Event* e) {
  if (e && e->type() == kEventKeyDown) Application::shared().beep();
}

void Responder::setActionHandler(Sel action, std::function<void(objc::Object*)> handler) {
  if (handler)
    actions_[action] = std::move(handler);
  else
    actions_.erase(action);
}

bool Responder::respondsToAction(Sel action) const { return action && actions_.count(action) != 0; }

void Responder::performAction(Sel action, objc::Object* sender) {
  auto it = actions_.find(action);
  if (it == actions_.end()) return;
  // A copy: the handler may replace itself.
  std::function<void(objc::Object*)> handler = it->second;
  handler(sender);
}

bool Responder::tryToPerform(Sel action, objc::Object* sender) {
  for (Responder* r = this; r; r = r->next_) {
    if (r->respondsToAction(action)) {
      r->performAction(action, sender);
      return true;
    }
  }
  return false;
}

}  // namespace appkit
