#include "qocore/uilibs/ui/mac/MenuMac.h"

#include <string>

#include "platform/appkit/Application.h"
#include "platform/appkit/Event.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Utf8.h"
#include "qocore/base/qoutil/mac/MacKeyboard.h"
#include "qocore/uilibs/ui/mac/CocoaUtil.h"
#include "qocore/uilibs/ui/mac/NamedImageMac.h"

namespace ui {

namespace {

PLAT_LOG_SOURCE(vlog, "MenuMac");

const appkit::Sel kItemClicked = appkit::selector("itemClicked:");

// One character as UTF-8; "" for 0.
std::string charText(uint32_t ch) {
  if (ch == 0 || ch > 0x10FFFF) return {};
  char buf[5] = {};
  char* p = buf;
  plat::utf8Encode(static_cast<int32_t>(ch), &p);
  return std::string(buf, static_cast<size_t>(p - buf));
}

}  // namespace

// ---- MenuMac::Item ----

MenuMac::Item::Item(MenuMac* owner, const char* title, const char* imageName, ActionCallback* callback, int kind)
    : Menu::Item(owner, callback, title, imageName), owner_(owner) {
  if (!title) {
    native_ = appkit::MenuItem::separatorItem();
    return;
  }
  target_ = objc::adopt(new MenuItemOC);
  target_->cxx = this;
  native_ = objc::adopt(new appkit::MenuItem("", kItemClicked, ""));
  if (imageName) {
    // The item retains the image; the cache may let its entry go.
    plat::LinkedPtr<NamedImage> image = loadNamedImage(imageName, 16, 16);
    if (image) native_->setImage(image->image);
  }
  if (kind & kSubmenu) {
    submenu_ = new MenuMac(callback, owner->mnemonicKeys(), nullptr);
    submenu_->setParentMenu(owner);
    native_->setSubmenu(submenu_->nsMenu());
  }
  native_->setTarget(target_);
  native_->setKeyEquivalentModifierMask(0);
  setTitle(title);
}

MenuMac::Item::~Item() {
  delete submenu_;
  if (target_) target_->cxx = nullptr;
}

void MenuMac::Item::setTitle(const char* title) {
  Menu::Item::setTitle(title);
  std::string text(title ? title : "");
  uint32_t marked = mnemonicChar(text.data());
  text.resize(std::char_traits<char>::length(text.c_str()));
  if (owner_->mnemonicKeys() && marked) native_->setKeyEquivalent(charText(marked).c_str());
  setControlText(native_, text.c_str());
}

void MenuMac::Item::setKey(uint32_t keysym, uint32_t flags) {
  native_->setKeyEquivalent(charText(qoutil::keysymToMacChar(keysym & 0x1FFFFFF)).c_str());
  native_->setKeyEquivalentModifierMask(qoutil::keyFlagsToMacModifierFlags(flags));
}

void MenuMac::Item::setEnabled(bool enabled) { native_->setEnabled(enabled); }
bool MenuMac::Item::isEnabled() { return native_->isEnabled(); }
void MenuMac::Item::setChecked(bool checked) { native_->setState(checked ? appkit::kStateOn : appkit::kStateOff); }
bool MenuMac::Item::isChecked() { return native_->state() != appkit::kStateOff; }
Menu* MenuMac::Item::submenu() { return submenu_; }

// ---- MenuMac ----

MenuMac::MenuMac(ActionCallback* callback, bool mnemonicKeys, appkit::Menu* menu)
    : Menu(this, callback), menu_(menu), mnemonicKeys_(mnemonicKeys) {
  if (!menu_) menu_ = objc::adopt(new appkit::Menu);
  menu_->setAutoenablesItems(false);
}

MenuMac::~MenuMac() { removeAll(); }

Menu::Item* MenuMac::createItem(const char* title, const char* imageName, Menu::Item* position,
                                ActionCallback* callback, int kind) {
  auto* item = new Item(this, title, imageName, callback, kind);
  long index = position ? menu_->indexOfItem(nativeItem(position)) : menu_->numberOfItems();
  // A position item that is not in this menu means the end, as for the
  // item list.
  if (index < 0) index = menu_->numberOfItems();
  menu_->insertItem(item->native_, index);
  return item;
}

void MenuMac::removeNativeItem(Menu::Item* item) { menu_->removeItem(nativeItem(item)); }

appkit::MenuItem* MenuMac::nativeItem(Menu::Item* item) noexcept {
  return item ? static_cast<Item*>(item)->native_.get() : nullptr;
}

void MenuMac::popUpAtMouse() { menu_->popUpMenuPositioningItem(nullptr, appkit::Event::mouseLocation(), nullptr); }

void MenuMac::popUpAt(double x, double y) { menu_->popUpMenuPositioningItem(nullptr, appkit::Point{x, y}, nullptr); }

int32_t MenuMac::width() const { return static_cast<int32_t>(menu_->size().width); }

Menu::Item* MenuMac::addGroupedItem(GroupedMenu& grouped, int group, const char* title, appkit::Sel action,
                                    appkit::ActionTarget* target, const char* keyEquivalent, uint64_t modifierMask,
                                    const char* imageName) {
  Menu::Item* item = insertInGroup(grouped, group, title, imageName, nullptr, 0);
  appkit::MenuItem* native = nativeItem(item);
  if (action) {
    native->setAction(action);
    native->setTarget(target);
  }
  if (keyEquivalent) {
    native->setKeyEquivalent(keyEquivalent);
    native->setKeyEquivalentModifierMask(modifierMask);
  }
  return item;
}

// ---- MenuItemOC ----

bool MenuItemOC::respondsToAction(appkit::Sel action) const { return action == kItemClicked; }

void MenuItemOC::performAction(appkit::Sel action, objc::Object* sender) {
  if (action == kItemClicked) itemClicked(sender);
}

void MenuItemOC::itemClicked(objc::Object*) {
  if (!cxx) return;
  appkit::Application::shared().activateIgnoringOtherApps(true);
  Menu::ActionCallback* callback = Menu::callbackFor(cxx);
  if (!callback || !cxx->isEnabled()) return;
  try {
    callback->menuAction(cxx);
  } catch (const plat::Exception& e) {
    char text[plat::Exception::kMsgSize];
    e.format(text);
    vlog().error("Unhandled exception: %s", text);
  }
}

}  // namespace ui
