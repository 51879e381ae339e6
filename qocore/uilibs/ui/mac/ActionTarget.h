#pragma once
// Control actions into the program: a ui::ActionTarget owns the platform
// object (ActionOC) that controls name as their target; its `action:` and
// `doubleClick:` reach a ui::ActionCallback.  The platform keeps targets
// unretained, so the owner holds the object until it is destroyed; an
// object whose back pointer is null does nothing.  An exception out of a callback is logged
// ("ActionCxx": "Unhandled exception: %s") and goes no further.

#include "platform/appkit/Responder.h"
#include "platform/appkit/View.h"
#include "platform/objc/Ref.h"

namespace ui {

class ActionCallback {
 public:
  virtual ~ActionCallback();
  // `sender` is the control (or other object) that sent the action.
  virtual void action(objc::Object* sender) = 0;
  virtual void doubleClick(objc::Object* sender) = 0;
};

// The target object: answers `action:` and `doubleClick:`.
class ActionOC : public objc::Object, public appkit::ActionTarget {
 public:
  ActionOC() = default;
  bool respondsToAction(appkit::Sel action) const override;
  void performAction(appkit::Sel action, objc::Object* sender) override;

  // Not owned; null does nothing.
  ActionCallback* cxx = nullptr;

 protected:
  ~ActionOC() override = default;
};

class ActionTarget {
 public:
  // With a control, makes the object its target and `action:` its action.
  explicit ActionTarget(ActionCallback* callback, appkit::Control* control = nullptr);
  ~ActionTarget();
  ActionTarget(const ActionTarget&) = delete;
  ActionTarget& operator=(const ActionTarget&) = delete;

  // One more control served by the same target.
  void attach(appkit::Control* control);
  ActionOC* object() const noexcept { return oc_; }

 private:
  objc::Ref<ActionOC> oc_;
};

}  // namespace ui
