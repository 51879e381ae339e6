#include "qocore/uilibs/mui/MuWidgets.h"

#include <cstdlib>
#include <cstring>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/rfb/Keysym.h"
#include "qocore/uilibs/mui/Adopt.h"
#include "qocore/uilibs/mui/MuDialog.h"

namespace mui {

MuSlider* (*muSliderFactory)(MuContainer*, const char*, uint32_t) = nullptr;
MuStatic* (*muStaticFactory)(MuContainer*, const char*, const char*, uint32_t) = nullptr;
MuSuperbox* (*muSuperboxFactory)(MuContainer*, const char*, const char*, MuSuperbox::KeyCallback*, int32_t) = nullptr;
MuPopupMenu* (*muPopupMenuFactory)(const char*, ui::Menu::ActionCallback*) = nullptr;

namespace {

constexpr uint32_t kTab = 0xFF09;
constexpr uint32_t kReturn = 0xFF0D;
constexpr uint32_t kEscape = 0xFF1B;
// The dialog flag of a superbox's popup list.
constexpr uint32_t kPopupFlags = 32;

}  // namespace

// ---- MuSlider ----

MuSlider* MuSlider::create(MuContainer* parent, const char* id, uint32_t style) {
  PLAT_ASSERT(muSliderFactory);
  return adopt(parent, muSliderFactory(parent, id, style));
}

plat::DString MuSlider::describe() {
  plat::DString text = MuElement::describe();
  text.appendf("element Slider\nvalue %d\nmin %d\nmax %d\n", getValue(), getMin(), getMax());
  return text;
}

bool MuSlider::performAction(const char* action, const char* argument) {
  if (!acceptsActions() || !isShown() || std::strcmp(action, "click") != 0 || !argument) return false;
  setValue(std::atoi(argument));
  click();
  return true;
}

void MuSlider::click() { notifyObservers(this, kEventChanged); }

// ---- MuStatic ----

MuStatic* MuStatic::create(MuContainer* parent, const char* id, const char* text, uint32_t type) {
  PLAT_ASSERT(muStaticFactory);
  return adopt(parent, muStaticFactory(parent, id, text, type));
}

MuStatic::MuStatic(MuContainer* parent, const char* id, const char* text, uint32_t type)
    : MuElement(parent, id, text), type_(type) {}

plat::DString MuStatic::describe() {
  static const char* const kTypes[] = {"Text",    "LeftText", "CenteredText", "RightText",
                                       "Heading", "Detail",   "Selectable"};
  plat::DString text = MuElement::describe();
  text.appendf("element Static\ntype %s\nbold %d\n", type_ < std::size(kTypes) ? kTypes[type_] : "Unknown",
               getFont().weight >= 550 ? 1 : 0);
  return text;
}

void MuStatic::setText(const char* text, bool bold, uint32_t extra) {
  if (plat::strCompare(text, label()) != 0) setLabel(text);
  extra_ = extra;
  if (bold && type_ != kHeading) font().weight = 700;
}

// ---- MuSuperbox ----

MuSuperbox::KeyCallback::~KeyCallback() = default;

MuSuperbox* MuSuperbox::create(MuContainer* parent, const char* id, const char* label, KeyCallback* keyCallback,
                               int32_t popupHeight) {
  PLAT_ASSERT(muSuperboxFactory);
  return adopt(parent, muSuperboxFactory(parent, id, label, keyCallback, popupHeight));
}

MuSuperbox::MuSuperbox(MuContainer* parent, const char* id, const char* label, KeyCallback* keyCallback,
                       int32_t popupHeight)
    : MuElement(parent, id, label), keyCallback_(keyCallback) {
  MuElement* root = getRoot(this);
  plat::DString popupId("%s_%s_popup", root->id() ? root->id() : "", path(this).c_str());
  popupId.replaceAll(".", "_");
  popup_ =
      MuDialog::create(popupId.c_str(), "", Size{1, popupHeight}, kPopupFlags, dynamic_cast<MuDialog*>(root), nullptr);
}

MuSuperbox::~MuSuperbox() { delete popup_; }

plat::DString MuSuperbox::describe() {
  plat::DString text = MuElement::describe();
  const char* value = getText();
  text.appendf("element Superbox\nvalue %s\npopup-dialogid %s\n", value ? value : "", popup_->id());
  return text;
}

bool MuSuperbox::performAction(const char* action, const char* argument) {
  if (!acceptsActions()) return false;
  if (std::strcmp(action, "settext") == 0 && argument) {
    setText(argument);
    notifyObservers(this, kEventChanged);
    return true;
  }
  if (std::strcmp(action, "pressenter") == 0) {
    handleKey(kReturn);
    return true;
  }
  return false;
}

void MuSuperbox::showPopup(bool show) {
  if (!show) {
    popup_->setVisible(false);
    return;
  }
  const Point at = absolutePosition();
  const Rect text = textRect();
  popup_->setPosition(Point{at.x + text.x1, at.y + text.y2});
  popup_->setSize(Size{static_cast<int32_t>(text.width()), popup_->getSize().height});
  popup_->setVisible(true);
}

bool MuSuperbox::handleKey(uint32_t keysym) {
  const uint32_t key = rfb::canonicalKeysym(keysym);
  if (keyCallback_ && keyCallback_->superboxKey(this, key)) return true;
  if (key != kTab && key != kReturn && key != kEscape) return false;
  const bool wasOpen = popup_->isVisible();
  showPopup(false);
  return key == kEscape && wasOpen;
}

// ---- MuPopupMenu ----

MuPopupMenu::~MuPopupMenu() = default;

MuPopupMenu* MuPopupMenu::create(const char* id, ui::Menu::ActionCallback* actionCallback) {
  PLAT_ASSERT(muPopupMenuFactory);
  return muPopupMenuFactory(id, actionCallback);
}

void MuPopupMenu::showForElement(MuPopupMenu* menu, MuElement* element, int32_t alignment, int32_t menuWidth) {
  const Point at = element->absolutePosition();
  const Size size = element->getSize();
  // In 64 bits: a wide element times the alignment must not wrap.
  const int64_t offset = (int64_t{size.width} - menuWidth) * alignment / 2;
  menu->showAt(Point{rfb::clampTo32(at.x + offset), at.y + size.height});
}

}  // namespace mui
