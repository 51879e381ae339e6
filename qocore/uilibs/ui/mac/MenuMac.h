#pragma once
// The macOS side of the toolkit's menus: ui::MenuMac is the item manager of
// a ui::Menu over a native menu, and ui::MenuMac::Item a menu item over a
// native item.  A click on an item reaches the program's
// ui::Menu::ActionCallback through a small target object, MenuItemOC.
// Main thread only.

#include <cstdint>

#include "platform/appkit/Menu.h"
#include "platform/appkit/Responder.h"
#include "platform/objc/Ref.h"
#include "qocore/uilibs/ui/Menu.h"

namespace ui {

class MenuItemOC;

class MenuMac : public Menu::ItemManager, public Menu {
 public:
  class Item : public Menu::Item {
   public:
    // The native item: a separator without title, else an item whose
    // target is a new MenuItemOC; kind kSubmenu adds a submenu.
    Item(MenuMac* owner, const char* title, const char* imageName, ActionCallback* callback, int kind);
    ~Item() override;

    // Keeps the text, strips its mnemonic markers for the native title and,
    // when the menu asks for it, makes the marked character the key.
    void setTitle(const char* title) override;
    void setKey(uint32_t keysym, uint32_t flags) override;
    void setEnabled(bool enabled) override;
    bool isEnabled() override;
    void setChecked(bool checked) override;
    bool isChecked() override;
    Menu* submenu() override;

   private:
    friend class MenuMac;
    MenuMac* owner_;
    objc::Ref<MenuItemOC> target_;
    objc::Ref<appkit::MenuItem> native_;
    MenuMac* submenu_ = nullptr;
  };

  // Retains the given native menu or makes a new one; its items are not
  // auto-enabled.  With `mnemonicKeys` an item's title mnemonic becomes its
  // key equivalent.
  MenuMac(ActionCallback* callback, bool mnemonicKeys, appkit::Menu* menu = nullptr);
  ~MenuMac() override;

  Menu::Item* createItem(const char* title, const char* imageName, Menu::Item* position, ActionCallback* callback,
                         int kind) override;
  void removeNativeItem(Menu::Item* item) override;
  void menuChanged() override {}

  appkit::Menu* nsMenu() const noexcept { return menu_; }
  bool mnemonicKeys() const noexcept { return mnemonicKeys_; }
  // The native item of one of this kind's items; null for null.
  static appkit::MenuItem* nativeItem(Menu::Item* item) noexcept;

  // Pops the menu up at the pointer, or at a point on the screen.
  void popUpAtMouse();
  void popUpAt(double x, double y);
  // The menu's width, truncated.
  int32_t width() const;

  // A new item at the end of the group with no callback of its own; with
  // an action it goes to the target (null: along the responder chain),
  // with a key equivalent that key and mask.
  static Menu::Item* addGroupedItem(GroupedMenu& grouped, int group, const char* title, appkit::Sel action,
                                    appkit::ActionTarget* target, const char* keyEquivalent, uint64_t modifierMask,
                                    const char* imageName);

 private:
  objc::Ref<appkit::Menu> menu_;
  bool mnemonicKeys_;
};

// The native items' click target: forwards itemClicked: to its item while
// `cxx` is set.
class MenuItemOC : public objc::Object, public appkit::ActionTarget {
 public:
  bool respondsToAction(appkit::Sel action) const override;
  void performAction(appkit::Sel action, objc::Object* sender) override;
  // Brings the application forward and calls the callback that answers for
  // the item when the item is enabled; exceptions are logged.
  void itemClicked(objc::Object* sender);

  MenuMac::Item* cxx = nullptr;

 protected:
  ~MenuItemOC() override = default;
};

}  // namespace ui
