#pragma once
// The macOS menu bar: the application menu (About, Preferences, Hide, Hide
// Others, Show All, Quit), the Edit menu and the Window menu with their
// standard actions and key equivalents, and the File, View and Help menus
// on request.  Items with an action have no target, so they go to the
// first responder (Quit to the application); items without one report
// their choice through the main menu's action callback.

#include <cstdint>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/uilibs/ui/Menu.h"
#include "qocore/uilibs/ui/mac/MenuMac.h"

namespace ui {

// Registers the application-menu texts; only the first call adds them.
void registerAppMenuTexts();

class AppMenuBar : public MenuBar {
 public:
  // Which optional items of the application menu to make.
  enum Option : unsigned { kShowAbout = 0x1, kShowPreferences = 0x2, kShowHide = 0x4 };

  // Makes the menus and installs them as the application's menu bar; the
  // callback answers for the items that have no action.
  AppMenuBar(Menu::ActionCallback* callback, unsigned options);
  ~AppMenuBar() override;

  Menu::Item* fileMenu() override;
  Menu::Item* viewMenu() override;
  Menu::Item* helpMenu() override;
  // Made once, in the application menu's group 1, whatever group is asked.
  Menu::Item* aboutItem(int group) override;
  // Made once, in the application menu's group 2, with Command-comma.
  Menu::Item* preferencesItem(const char* title, int group) override;
  // None on macOS: null.
  Menu::Item* secondAppItem(const char* title, int group) override;
  // A new item in the application menu at the application group.
  Menu::Item* addAppItem(const char* title, int fileGroup, int appGroup, Menu::ActionCallback* callback) override;
  // A new top-level menu in front of the position item, or of the Window
  // menu without one; its items are not auto-enabled.
  Menu::Item* createMenu(const char* title, Menu::Item* position) override;
  std::vector<Menu::Item*> collectItems() override;

  // A top-level item with a submenu titled without mnemonic markers.
  Menu::Item* addMenu(const char* title, Menu::Item* position, bool autoEnable);

  MenuMac* mainMenu() const noexcept { return main_; }
  const char* appName() const noexcept { return appName_.c_str(); }
  Menu::Item* appMenu() const noexcept { return appMenu_; }
  GroupedMenu& appGroups() noexcept { return appGroups_; }
  Menu::Item* quitItem() const noexcept { return quit_; }

 private:
  MenuMac* main_;
  plat::CharArray appName_;
  Menu::Item* appMenu_ = nullptr;
  GroupedMenu appGroups_;
  Menu::Item* quit_ = nullptr;
};

}  // namespace ui
