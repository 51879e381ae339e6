#include "platform/appkit/Alert.h"

#include <cstdio>

#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "qocore/base/plat/ScopeExit.h"

namespace appkit {

namespace {

// The AppKit-defined event that asks the script for an alert's answer.
constexpr short kSubtypeAlertScript = 0x7a11;
constexpr double kPanelWidth = 420;
constexpr double kPanelHeight = 130;
constexpr double kPanelMargin = 20;

std::function<long(Alert*)>& script() {
  static std::function<long(Alert*)> s;
  return s;
}

const Sel kPressed = selector("alertButtonPressed:");

// The alert's panel: hands the alert its scripted answer.
class AlertPanel : public Window {
 public:
  AlertPanel(Alert* alert)
      : Window(makeRect(0, 0, kPanelWidth, kPanelHeight), kWindowStyleTitled | kWindowStyleDocModal), alert_(alert) {}
  void sendEvent(Event* e) override {
    if (e->type() == kEventAppKitDefined && e->subtype() == kSubtypeAlertScript)
      alert_->scriptEvent(e);
    else
      Window::sendEvent(e);
  }

 private:
  Alert* alert_;
};

}  // namespace

Alert::Alert() : panel_(objc::adopt(new AlertPanel(this))) {
  panel_->setReleasedWhenClosed(false);
  panel_->setLevel(kWindowLevelModalPanel);
}

Alert::~Alert() {
  cancelScriptEvent();
  if (sheetParent_) Application::shared().endSheet(panel_);
  panel_->orderOut(nullptr);
}

void Alert::setIcon(objc::Object* icon) { icon_ = icon; }

Button* Alert::addButtonWithTitle(const char* title) {
  objc::Ref<Button> button = objc::adopt(new Button);
  button->setTitle(title);
  button->setTarget(this);
  button->setAction(kPressed);
  button->sizeToFit();
  // The first button sits at the right edge; each further one to the left
  // of the one before.
  double right = buttons_.empty() ? kPanelWidth - kPanelMargin : buttons_.back()->frame().origin.x;
  Size size = button->frame().size;
  button->setFrame(makeRect(right - size.width, kPanelMargin, size.width, kButtonHeight));
  if (buttons_.empty()) {
    button->setKeyEquivalent("\r");
    panel_->setDefaultButton(button);
  }
  panel_->contentView()->addSubview(button);
  buttons_.push_back(button);
  return button;
}

bool Alert::hasScript() const { return static_cast<bool>(script()); }

void Alert::report() const {
  for (const char* text : {messageText(), informativeText()})
    if (*text) std::fprintf(stderr, "%s\n", text);
  std::fflush(stderr);
}

void Alert::postScriptEvent() {
  cancelScriptEvent();
  Event* e = Event::otherEvent(kEventAppKitDefined, {}, 0, 0, 0, kSubtypeAlertScript, 0, 0);
  e->setWindow(panel_);
  pending_ = e;
  Application::shared().postEvent(e, false);
}

void Alert::cancelScriptEvent() {
  if (!pending_) return;
  // The queue may still hold it: without a window it goes nowhere.
  pending_->setWindow(nullptr);
  pending_.reset();
}

void Alert::scriptEvent(Event* e) {
  if (e != pending_) return;
  cancelScriptEvent();
  // Held through the script's call and the button's action.
  objc::Ref<Alert> self(this);
  long code = kAlertFirstButtonReturn;
  if (hasScript()) {
    // A copy: the script may replace itself.
    std::function<long(Alert*)> answer = script();
    code = answer(this);
  }
  long index = code - kAlertFirstButtonReturn;
  if (index >= 0 && index < static_cast<long>(buttons_.size()))
    objc::Ref<Button>(buttons_[static_cast<size_t>(index)])->performClick();
}

long Alert::runModal() {
  if (buttons_.empty()) addButtonWithTitle("OK");
  if (!hasScript()) {
    report();
    return kAlertFirstButtonReturn;
  }
  objc::Ref<Alert> self(this);
  modal_ = true;
  plat::ScopeExit done([this] {
    modal_ = false;
    cancelScriptEvent();
    panel_->orderOut(nullptr);
  });
  panel_->center();
  postScriptEvent();
  return Application::shared().runModalForWindow(panel_);
}

void Alert::beginSheetModalForWindow(Window* window, objc::Object* modalDelegate, Sel didEndSelector,
                                     void* contextInfo) {
  if (!window) return;
  if (buttons_.empty()) addButtonWithTitle("OK");
  sheetParent_ = window;
  delegate_ = modalDelegate;
  didEnd_ = didEndSelector;
  context_ = contextInfo;
  Application::shared().beginSheet(panel_, window);
  if (!hasScript()) report();
  postScriptEvent();
}

bool Alert::respondsToAction(Sel action) const { return action == kPressed; }

void Alert::performAction(Sel action, objc::Object* sender) {
  if (action != kPressed) return;
  for (size_t i = 0; i < buttons_.size(); ++i)
    if (buttons_[i] == sender) finish(kAlertFirstButtonReturn + static_cast<long>(i));
}

void Alert::finish(long code) {
  Application& app = Application::shared();
  if (modal_) {
    // This alert's loop, also when another runs inside it.
    app.stopModalForWindowWithCode(panel_, code);
    return;
  }
  if (!sheetParent_) return;
  objc::Ref<Alert> self(this);
  cancelScriptEvent();
  app.endSheet(panel_);
  sheetParent_ = nullptr;
  auto* receiver = dynamic_cast<AlertDidEndReceiver*>(delegate_);
  if (receiver && didEnd_ == selector("alertDidEnd:returnCode:contextInfo:"))
    receiver->alertDidEnd(this, code, context_);
}

namespace inject {

void setAlertScript(std::function<long(Alert*)> s) { script() = std::move(s); }

}  // namespace inject
}  // namespace appkit
