#include "qocore/uilibs/mui/mac/MuButtonHyperlinkMac.h"

#include "platform/appkit/Constants.h"
#include "platform/appkit/Event.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Markup.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/ui/mac/AttrString.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"

namespace mui {

MuButtonHyperlinkMac::MuButtonHyperlinkMac(MuContainer* parent, const char* id, const char* label, uint32_t type,
                                           uint32_t flags, uint32_t option)
    : MuButton(parent, id, label, type, flags, option) {
  // Selectable, as the platform follows links only in selectable text;
  // the selection itself is refused.
  textView_ = std::make_unique<ui::TextView>(this, true, true);
  delegate_ = std::make_unique<ui::TextViewDelegateHolder>(this, textView_->view());
  showLabel();
  setPeer(std::make_unique<MuCommonMac>(this, textView_->view()));
}

MuButtonHyperlinkMac::~MuButtonHyperlinkMac() { delegate_.reset(); }

void MuButtonHyperlinkMac::setText(const char* text) {
  MuButton::setText(text);
  showLabel();
}

void MuButtonHyperlinkMac::showLabel() {
  plat::CharArray shown(label() ? label() : "");
  plat::stripMnemonic(shown.get());
  ui::AttrString link(shown.c_str(), true, 0);
  // The link names no target: a click reaches this element only.
  link.setLink("", nullptr, "linkText");
  link.setAlignment(appkit::kTextAlignmentLeft);
  textView_->textStorage()->setAttributedString(link.get());
  textView_->view()->setSelectedRange(appkit::Range{0, 0});
}

int32_t MuButtonHyperlinkMac::widthForHeight(int32_t height) { return textView_->widthForHeight(height); }

int32_t MuButtonHyperlinkMac::heightForWidth(int32_t width) { return textView_->heightForWidth(width); }

void MuButtonHyperlinkMac::click() {
  // A text view is no control that the platform disables: a disabled or
  // locked link stays clickable unless it refuses here.
  if (flags() == 0) MuButton::click();
}

void MuButtonHyperlinkMac::linkClicked(objc::Object*) { click(); }

bool MuButtonHyperlinkMac::refuseSelectionChange(appkit::TextView*, const std::vector<appkit::Range>&,
                                                 const std::vector<appkit::Range>&) {
  return true;
}

bool MuButtonHyperlinkMac::acceptsFirstResponder(ui::TextView*) {
  return !(buttonFlags() & kNotFocusable) && ui::fullKeyboardAccess();
}

bool MuButtonHyperlinkMac::keyDown(ui::TextView*, appkit::Event* event) {
  if (!event || event->keyCode() != kSpaceKeyCode) return false;
  click();
  return true;
}

}  // namespace mui
