#include "qocore/uilibs/mui/MuButtonBar.h"

#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/MuSpacer.h"
#include "qocore/uilibs/mui/Mui.h"
#include "qocore/uilibs/ui/UiStrings.h"

namespace mui {

namespace {

struct Standard {
  uint32_t bit;
  const char* id;
  const char* key;
};

// In the order the bar places them after back, next and the gap.
constexpr Standard kStandard[] = {
    {MuButtonBar::kBack, "back", "ui_button_back"},    {MuButtonBar::kNext, "next", "ui_button_next"},
    {MuButtonBar::kApply, "apply", "ui_button_apply"}, {MuButtonBar::kCancel, "cancel", "ui_button_cancel"},
    {MuButtonBar::kNo, "no", "ui_button_no"},          {MuButtonBar::kSave, "save", "ui_button_save"},
    {MuButtonBar::kOpen, "open", "ui_button_open"},    {MuButtonBar::kOk, "ok", "ui_button_ok"},
    {MuButtonBar::kYes, "yes", "ui_button_yes"},       {MuButtonBar::kContinue, "continue", "ui_button_continue"},
};

const Standard* standard(uint32_t bit) {
  for (const Standard& s : kStandard) {
    if (s.bit == bit) return &s;
  }
  return nullptr;
}

// The texts are there before any bar is built.
[[maybe_unused]] const bool kRegistered = (MuButtonBar::registerTexts(), true);

}  // namespace

// The labels are the ui library's button texts.
void MuButtonBar::registerTexts() { ui::registerMessages(); }

MuButtonBar::MuButtonBar(MuContainer* parent, uint32_t buttons, bool setDefaults) : parent_(parent) {
  PLAT_ASSERT(!(buttons & kCustom));
  PLAT_ASSERT(parent);
  registerTexts();
  if (MuElement::getRoot(parent) == parent) {
    footer_ = MuFrame::create(parent, "buttons", nullptr, MuFrame::kFooter);
    if (auto* d = dynamic_cast<MuDialog*>(parent)) d->setPanelMode(footer_, MuDialog::kBottomPanel);
    layout_ = MuLayout::create(footer_, "layout", MuLayout::kHorizontal);
  } else {
    layout_ = MuLayout::create(parent, "buttons", MuLayout::kHorizontal);
  }
  setButtons(buttons, setDefaults);
}

MuButtonBar::~MuButtonBar() {
  forgetDialogButtons();
  MuElement* outer = footer_ ? static_cast<MuElement*>(footer_) : layout_;
  parent_->removeChild(outer);
}

MuDialog* MuButtonBar::dialog() const { return dynamic_cast<MuDialog*>(MuElement::getRoot(parent_)); }

void MuButtonBar::forgetDialogButtons() noexcept {
  MuDialog* d = dialog();
  if (!d) return;
  for (const auto& [button, bit] : buttons_) d->forgetButton(button);
}

void MuButtonBar::setButtons(uint32_t buttons, bool setDefaults) {
  forgetDialogButtons();
  buttons_.clear();
  layout_->removeAll();
  leading_ = MuSpacer::create(layout_, 0, 0);
  layout_->setChildLayout(leading_, MuLayout::kWeighted, 1);
  insertion_ = leading_;
  gap_ = nullptr;
  for (const Standard& s : kStandard) {
    if (s.bit == kApply && (buttons & (kCancel | kBack | kNext))) {
      const int32_t gap = Mui::instance()->metric(Mui::kLayoutSpacing);
      gap_ = MuSpacer::create(layout_, gap, gap);
      layout_->setChildLayout(gap_, MuLayout::kFixed, gap);
    }
    if (buttons & s.bit) addStandard(s.bit);
  }
  if (setDefaults) chooseDefaults();
}

MuButton* MuButtonBar::addStandard(uint32_t bit) {
  const Standard* s = standard(bit);
  MuButton* button = MuButton::create(layout_, s->id, loc::translate(s->key), MuButton::kNormal, 0, 1);
  buttons_[button] = bit;
  return button;
}

MuButton* MuButtonBar::addButton(uint32_t bit, const char* id, const char* label) {
  if (standard(bit)) return addStandard(bit);
  if (bit != kCustom) return nullptr;
  MuButton* button = MuButton::create(layout_, id, label, MuButton::kNormal, 0, 1);
  buttons_[button] = kCustom;
  layout_->moveChild(button, MuLayout::kBefore, insertion_);
  insertion_ = button;
  return button;
}

void MuButtonBar::chooseDefaults() {
  MuDialog* d = dialog();
  if (!d) return;
  setDialogButton(kDefaultButton, {kOk, kYes, kContinue, kNext, kSave, kOpen});
  setDialogButton(kCancelButton, {kCancel, kNo});
}

void MuButtonBar::setDialogButton(DialogButton index, std::initializer_list<uint32_t> bits) {
  MuDialog* d = dialog();
  if (!d) return;
  for (uint32_t bit : bits) {
    if (bit == 0) break;
    if (MuButton* button = findButton(bit, nullptr)) {
      d->setButton(index, button);
      return;
    }
  }
}

uint32_t MuButtonBar::buttonBit(MuElement* element) const {
  for (const auto& [button, bit] : buttons_) {
    if (button == element) return bit;
  }
  return 0;
}

MuButton* MuButtonBar::findButton(uint32_t bit, const char* id) const {
  for (const auto& [button, b] : buttons_) {
    if (b == bit && (bit != kCustom || plat::strCompare(button->id(), id) == 0)) return button;
  }
  return nullptr;
}

void MuButtonBar::setEnabled(bool enabled) {
  for (const auto& [button, bit] : buttons_) button->setEnabled(enabled);
}

}  // namespace mui
