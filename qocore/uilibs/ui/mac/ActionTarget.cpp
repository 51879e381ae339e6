#include "qocore/uilibs/ui/mac/ActionTarget.h"

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"

namespace ui {

namespace {
PLAT_LOG_SOURCE(vlog, "ActionCxx");

const appkit::Sel kAction = appkit::selector("action:");
const appkit::Sel kDoubleClick = appkit::selector("doubleClick:");
}  // namespace

ActionCallback::~ActionCallback() = default;

bool ActionOC::respondsToAction(appkit::Sel action) const { return action == kAction || action == kDoubleClick; }

void ActionOC::performAction(appkit::Sel action, objc::Object* sender) {
  if (!cxx) return;
  try {
    if (action == kAction)
      cxx->action(sender);
    else if (action == kDoubleClick)
      cxx->doubleClick(sender);
  } catch (const plat::Exception& e) {
    vlog().error("Unhandled exception: %s", e.str());
  }
}

ActionTarget::ActionTarget(ActionCallback* callback, appkit::Control* control) : oc_(objc::adopt(new ActionOC)) {
  oc_->cxx = callback;
  if (control) attach(control);
}

// Controls may still name the object as their target: it outlives this
// as long as they hold it, and does nothing.
ActionTarget::~ActionTarget() { oc_->cxx = nullptr; }

void ActionTarget::attach(appkit::Control* control) {
  control->setTarget(oc_);
  control->setAction(kAction);
}

}  // namespace ui
