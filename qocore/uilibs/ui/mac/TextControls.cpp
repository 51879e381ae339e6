#include "qocore/uilibs/ui/mac/TextControls.h"

#include "platform/appkit/Constants.h"
#include "platform/appkit/Graphics.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"

namespace ui {

TextField::TextField(bool secure) {
  if (secure) {
    secure_ = objc::adopt(new TextFieldSecureOC(appkit::makeRect(0, 0, 1, 1)));
    secure_->setClipsToBounds(true);
    secure_->cxx = this;
  } else {
    plain_ = objc::adopt(new TextFieldOC(appkit::makeRect(0, 0, 1, 1)));
    plain_->setClipsToBounds(true);
    plain_->cxx = this;
  }
}

TextField::~TextField() {
  if (plain_) plain_->cxx = nullptr;
  if (secure_) secure_->cxx = nullptr;
}

bool TextViewOC::acceptsFirstResponder() {
  if (cxx && cxx->callback()) return cxx->callback()->acceptsFirstResponder(cxx);
  return appkit::TextView::acceptsFirstResponder();
}

bool TextViewOC::canBecomeKeyView() {
  if (cxx && cxx->callback()) return cxx->callback()->canBecomeKeyView(cxx);
  return !isHiddenOrHasHiddenAncestor() && acceptsFirstResponder();
}

void TextViewOC::keyDown(appkit::Event* event) {
  if (!cxx) return;
  if (cxx->callback() && cxx->callback()->keyDown(cxx, event)) return;
  appkit::TextView::keyDown(event);
}

bool TextViewOC::repaintIf(bool answer) {
  if (answer) setNeedsDisplay(true);
  return answer;
}

bool TextViewOC::becomeFirstResponder() { return repaintIf(appkit::TextView::becomeFirstResponder()); }

bool TextViewOC::resignFirstResponder() { return repaintIf(appkit::TextView::resignFirstResponder()); }

void TextViewOC::drawRect(appkit::Rect dirty) {
  appkit::TextView::drawRect(dirty);
  if (!cxx || !cxx->focusRing() || !isFirstResponder(this)) return;
  // The ring goes around the text, not around the whole view.
  appkit::Rect used = layoutManager() ? layoutManager()->usedRectForTextContainer(textContainer()) : appkit::Rect{};
  if (appkit::GraphicsContext* context = appkit::GraphicsContext::current()) context->drawFocusRing(used);
}

TextView::TextView(Callback* callback, bool selectable, bool label)
    : view_(objc::adopt(new TextViewOC(appkit::makeRect(0, 0, 1, 1)))),
      measurer_(appkit::kTypesetterLatestBehavior),
      callback_(callback) {
  view_->setClipsToBounds(true);
  view_->cxx = this;
  view_->setContinuousSpellCheckingEnabled(false);
  view_->setSelectable(selectable);
  if (label) {
    view_->textContainer()->setLineFragmentPadding(0.0);
    view_->setDrawsBackground(false);
    view_->setEditable(false);
    if (auto* r = dynamic_cast<appkit::RolloverButtonSetter*>(static_cast<appkit::View*>(view_)))
      r->setUsesRolloverButtonForSelection(false);
  }
}

TextView::~TextView() { view_->cxx = nullptr; }

int TextView::widthForHeight(int height) {
  return measurer_.widthForHeight(textStorage(), height, static_cast<int>(lineFragmentPadding()));
}

int TextView::heightForWidth(int width) {
  return measurer_.heightForWidth(textStorage(), width, static_cast<int>(lineFragmentPadding()));
}

}  // namespace ui
