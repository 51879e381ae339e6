#pragma once
// ui::Menu: the platform-neutral half of the toolkit's menus.  A menu keeps
// the ordered list of its items and leaves making and removing the native
// items to its item manager (ui::MenuMac on macOS).  ui::MenuBar is the
// process's single menu bar with the standard File, Edit, View, Window and
// Help menus, whose items it arranges in numbered groups separated by
// separators.

#include <cstdint>
#include <vector>

#include "qocore/base/plat/CharArray.h"

namespace ui {

class Menu {
 public:
  class Item;

  // Told which item the user chose.
  class ActionCallback {
   public:
    virtual ~ActionCallback();
    virtual void menuAction(Item* item) = 0;
  };

  // The native side: makes and removes the native items.
  class ItemManager {
   public:
    virtual ~ItemManager();
    // A new item (see `addItem` for the arguments).
    virtual Item* createItem(const char* title, const char* imageName, Item* position, ActionCallback* callback,
                             int kind) = 0;
    virtual void removeNativeItem(Item* item) = 0;
    // Called after every change of the item list.
    virtual void menuChanged() = 0;
  };

  // One entry of a menu; a null title and image name make a separator.
  class Item {
   public:
    Item(Menu* menu, ActionCallback* callback, const char* title, const char* imageName);
    virtual ~Item();
    Item(const Item&) = delete;
    Item& operator=(const Item&) = delete;

    // The base keeps the texts; the native item shows them.
    virtual void setTitle(const char* title);
    // The key that chooses the item: a keysym and the toolkit's key flags.
    virtual void setKey(uint32_t keysym, uint32_t flags);
    virtual void setImageName(const char* imageName);
    virtual void setEnabled(bool enabled);
    virtual bool isEnabled();
    virtual bool isSeparator();
    virtual void setChecked(bool checked);
    virtual bool isChecked();
    virtual Menu* submenu();

    Menu* menu() const noexcept { return menu_; }
    ActionCallback* actionCallback() const noexcept { return callback_; }
    // Null for a separator.
    const char* title() const noexcept { return title_.get(); }
    const char* imageName() const noexcept { return imageName_.get(); }

   protected:
    Menu* menu_;
    ActionCallback* callback_;
    plat::CharArray title_;
    plat::CharArray imageName_;
  };

  // The kind bit that gives an item a submenu.
  static constexpr int kSubmenu = 4;

  Menu(ItemManager* manager, ActionCallback* callback);
  // Releases every item.
  virtual ~Menu();
  Menu(const Menu&) = delete;
  Menu& operator=(const Menu&) = delete;

  // A new item from the manager, put in front of `position` (at the end
  // when it is null or not in this menu); a null title makes a separator,
  // kind kSubmenu an item with a submenu.  The item's own callback may be
  // null: the menu's (or an enclosing menu's) then answers for it.
  Item* addItem(const char* title, const char* imageName, Item* position, ActionCallback* callback, int kind);
  // The item's place in the list; the list's size when it is not there.
  size_t findItem(const Item* item) const noexcept;
  // Removes and deletes the item and nulls the pointer; an item that is
  // not in this menu is left alone, a null pointer is nothing.
  void removeItem(Item*& item);
  void removeAll();
  // The leaf items in menu order: a submenu's leaves stand in the place of
  // its item; separators are left out.
  std::vector<Item*> collectItems() const;

  const std::vector<Item*>& items() const noexcept { return items_; }
  size_t count() const noexcept { return items_.size(); }
  ActionCallback* actionCallback() const noexcept { return callback_; }
  // The menu whose item opens this one; null for a top-level menu.
  Menu* parentMenu() const noexcept { return parent_; }
  void setParentMenu(Menu* parent) noexcept { parent_ = parent; }
  // One item the native side may remember; forgotten when it is removed.
  Item* rememberedItem() const noexcept { return remembered_; }
  void setRememberedItem(Item* item) noexcept { remembered_ = item; }

  // The callback that answers for the item: its own, else its menu's, else
  // that of the menu's parents in turn; null when none has one.
  static ActionCallback* callbackFor(const Item* item) noexcept;

 private:
  ItemManager* manager_;
  ActionCallback* callback_;
  Menu* parent_ = nullptr;
  std::vector<Item*> items_;
  Item* remembered_ = nullptr;
};

// A standard menu seen as numbered groups of items.  The marker of a group
// is its first entry: the separator in front of it when an earlier group
// has entries, else its first item; an empty group has none.
struct GroupedMenu {
  Menu* menu = nullptr;
  std::vector<Menu::Item*> markers;
};

// A new item at the end of the group: the groups stay in ascending order,
// every non-empty group after the first begins with one separator and no
// separator leads or closes the menu.
Menu::Item* insertInGroup(GroupedMenu& grouped, int group, const char* title, const char* imageName,
                          Menu::ActionCallback* callback, int kind);
// Removes the item, with the separator that only it kept apart, and nulls
// the pointer.
void removeFromGroup(GroupedMenu& grouped, Menu::Item*& item);

// The process's menu bar: made once, lives until its owner destroys it.
// The standard menus and the cached items are made on first request.
class MenuBar {
 public:
  MenuBar();
  virtual ~MenuBar();
  MenuBar(const MenuBar&) = delete;
  MenuBar& operator=(const MenuBar&) = delete;

  // The one menu bar; null when none exists.
  static MenuBar* instance() noexcept { return inst_; }

  virtual GroupedMenu& fileGroups();
  virtual GroupedMenu& editGroups();
  virtual GroupedMenu& viewGroups();
  virtual GroupedMenu& windowGroups();
  virtual GroupedMenu& helpGroups();
  // The top-level item of each standard menu.
  virtual Menu::Item* fileMenu();
  virtual Menu::Item* editMenu();
  virtual Menu::Item* viewMenu();
  virtual Menu::Item* windowMenu();
  virtual Menu::Item* helpMenu();
  virtual Menu::Item* aboutItem(int group);
  virtual Menu::Item* preferencesItem(const char* title, int group);
  virtual Menu::Item* secondAppItem(const char* title, int group);
  virtual Menu::Item* addAppItem(const char* title, int fileGroup, int appGroup, Menu::ActionCallback* callback);
  // A new top-level menu in front of the position item.
  virtual Menu::Item* createMenu(const char* title, Menu::Item* position) = 0;
  // The leaf items of every menu.
  virtual std::vector<Menu::Item*> collectItems() = 0;

 protected:
  // The grouped view of a standard menu, made from its top-level item.
  GroupedMenu& groupsOf(GroupedMenu& grouped, Menu::Item* top);

  Menu::Item* file_ = nullptr;
  Menu::Item* edit_ = nullptr;
  Menu::Item* view_ = nullptr;
  Menu::Item* window_ = nullptr;
  Menu::Item* help_ = nullptr;
  Menu::Item* about_ = nullptr;
  Menu::Item* preferences_ = nullptr;
  Menu::Item* secondApp_ = nullptr;
  GroupedMenu fileGroups_;
  GroupedMenu editGroups_;
  GroupedMenu viewGroups_;
  GroupedMenu windowGroups_;
  GroupedMenu helpGroups_;

 private:
  static MenuBar* inst_;
};

}  // namespace ui
