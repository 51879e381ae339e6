#include "qocore/uilibs/mui/mac/MuSuperboxMac.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/Constants.h"
#include "platform/appkit/Window.h"
#include "qocore/base/qoutil/mac/MacKeyboard.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"

namespace mui {

namespace {

// The platform's "other" (middle and further) mouse button press.
constexpr int kEventOtherMouseDown = 25;

bool isPress(int type) noexcept {
  return type == appkit::kEventLeftMouseDown || type == appkit::kEventRightMouseDown || type == kEventOtherMouseDown;
}

// The fitting height of a default text field, rounded up.  The metrics do
// not change while the process runs.
int32_t standardFieldHeight() {
  static const int32_t height = ui::truncToInt32(std::ceil(ui::editFieldSize().height));
  return height;
}

}  // namespace

MuSuperbox* MuSuperboxMac::create(MuContainer* parent, const char* id, const char* label, KeyCallback* keyCallback,
                                  int32_t popupHeight) {
  return new MuSuperboxMac(parent, id, label, keyCallback, popupHeight);
}

MuSuperboxMac::MuSuperboxMac(MuContainer* parent, const char* id, const char* label, KeyCallback* keyCallback,
                             int32_t popupHeight)
    : MuSuperbox(parent, id, label, keyCallback, popupHeight) {
  const MuInsets insets{0, -1, 0, -1};
  appkit::TextField* f = field();
  f->setSelectable(true);
  f->setEditable(true);
  f->textCell()->setUsesSingleLineMode(true);
  labelled_ = objc::adopt(new LabelledControl(label, insets));
  labelled_->addControl(f);
  labelled_->setWidths(0, fieldWidth_);
  delegate_ = std::make_unique<ui::TextFieldDelegateHolder>(this, f);
  setPeer(std::make_unique<MuCommonMac>(this, labelled_, insets));
  ui::AppEventFilter::setEnabled(true);
}

MuSuperboxMac::~MuSuperboxMac() {
  ui::AppEventFilter::setEnabled(false);
  delegate_.reset();
}

void MuSuperboxMac::setFocus() {
  appkit::TextField* f = field();
  if (f->acceptsFirstResponder() && f->window()) f->window()->makeFirstResponder(f);
  if (MuDialog* dialog = dynamic_cast<MuDialog*>(getRoot(this))) dialog->elementFocused(this);
}

bool MuSuperboxMac::hasFocus() { return ui::isFirstResponder(field()); }

int32_t MuSuperboxMac::heightForWidth(int32_t width) {
  return std::max(labelled_->labelHeightFor(width), standardFieldHeight() + 2);
}

void MuSuperboxMac::setLabelWidth(int32_t width, int32_t extra) {
  labelWidth_ = width;
  fieldWidth_ = extra;
  // The label column stays natural: only the field's width is the
  // superbox's to set.
  labelled_->setWidths(0, extra);
}

void MuSuperboxMac::enabledChanged() { labelled_->setEnabled(flags() == 0); }

const char* MuSuperboxMac::getText() {
  text_ = plat::CharArray(field()->stringValue());
  return text_.get();
}

void MuSuperboxMac::setText(const char* text) { ui::setControlText(field(), text); }

void MuSuperboxMac::setPlaceholder(const char* text) { field()->textCell()->setPlaceholderString(text); }

Rect MuSuperboxMac::fieldRect() {
  appkit::TextField* f = field();
  const appkit::Rect frame = f->frame();
  double top = frame.origin.y, bottom = frame.maxY();
  if (const appkit::View* superview = f->superview(); superview && !superview->isFlipped()) {
    const double height = superview->bounds().size.height;
    top = height - frame.maxY();
    bottom = height - frame.origin.y;
  }
  return Rect(ui::truncToInt32(frame.origin.x), ui::truncToInt32(top), ui::truncToInt32(frame.maxX()),
              ui::truncToInt32(bottom));
}

void MuSuperboxMac::textDidChange(appkit::TextField*) {
  showPopup(true);
  notifyObservers(this, kEventChanged);
}

bool MuSuperboxMac::filterAppEvent(appkit::Event* event) {
  if (!event) return false;
  const int type = event->type();
  appkit::TextField* f = field();
  if (type == appkit::kEventKeyDown && f->window() && event->window() == f->window() && ui::isFirstResponder(f)) {
    if (const uint32_t keysym = qoutil::macModifierKeysym(event->keyCode())) return handleKey(keysym);
  }
  if (!popup()->isVisible()) return false;
  // The popup's own events are the user working the list.
  if (event->window() && event->window() == fromNativeWindow(popup()->nativeWindow())) return false;
  if (type == appkit::kEventAppKitDefined && event->subtype() == appkit::kSubtypeApplicationDeactivated) {
    showPopup(false);
    return true;
  }
  if (isPress(type)) {
    // The press only closes the list; it does nothing else.
    showPopup(false);
    return true;
  }
  return type == appkit::kEventScrollWheel;
}

uint64_t MuSuperboxMac::appEventMask() {
  return appkit::eventMaskFor(appkit::kEventLeftMouseDown) | appkit::eventMaskFor(appkit::kEventRightMouseDown) |
         appkit::eventMaskFor(kEventOtherMouseDown);
}

void MuSuperboxMac::filterNotice(appkit::Event* event) {
  if (event && isPress(event->type())) showPopup(false);
}

void MuSuperboxMac::menuTrackingBegan() { showPopup(false); }

}  // namespace mui
