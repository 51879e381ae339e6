#include "qocore/uilibs/ui/mac/AppMenuBar.h"

#include <string>

#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "qocore/base/loc/Format.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/plat/Markup.h"
#include "qocore/base/qoutil/InteractionTexts.h"

namespace ui {

namespace {

constexpr uint64_t kCommand = appkit::kModifierCommand;
constexpr uint64_t kCommandOption = appkit::kModifierCommand | appkit::kModifierOption;
constexpr uint64_t kCommandShift = appkit::kModifierCommand | appkit::kModifierShift;

enum class Which { kApp, kEdit, kWindow };

// The items every menu bar has, in the order they are made.
struct StandardItem {
  Which menu;
  int group;
  const char* key;
  const char* action;
  const char* keyEquivalent;
  uint64_t mask;
};

// clang-format off
constexpr StandardItem kStandardItems[] = {
    {Which::kApp,    3, "ui_appmenubar_appmenu_hideothers",         "hideOtherApplications:", "h",     kCommandOption},
    {Which::kApp,    3, "ui_appmenubar_appmenu_showall",            "unhideAllApplications:", nullptr, 0},
    {Which::kEdit,   1, "ui_appmenubar_editmenu_undo",              "undo:",                  "z",     kCommand},
    {Which::kEdit,   1, "ui_appmenubar_editmenu_redo",              "redo:",                  "z",     kCommandShift},
    {Which::kEdit,   2, "qoutil_editmenu_cut",                      "cut:",                   "x",     kCommand},
    {Which::kEdit,   2, "qoutil_editmenu_copy",                     "copy:",                  "c",     kCommand},
    {Which::kEdit,   2, "qoutil_editmenu_paste",                    "paste:",                 "v",     kCommand},
    {Which::kEdit,   2, "ui_appmenubar_editmenu_delete",            "delete:",                nullptr, 0},
    {Which::kEdit,   2, "qoutil_editmenu_select_all",               "selectAll:",             "a",     kCommand},
    {Which::kWindow, 1, "ui_appmenubar_windowmenu_close",           "performClose:",          "w",     kCommand},
    {Which::kWindow, 1, "ui_appmenubar_windowmenu_minimize",        "performMiniaturize:",    "m",     kCommand},
    {Which::kWindow, 1, "ui_appmenubar_windowmenu_zoom",            "performZoom:",           nullptr, 0},
    {Which::kWindow, 2, "ui_appmenubar_windowmenu_bringalltofront", "arrangeInFront:",        nullptr, 0},
};
// clang-format on

// The key's text with the application name for "%S".
std::string withName(const char* key, const char* name) {
  loc::ArgList args;
  args.str(name);
  plat::DString out;
  loc::formatArgs(out, loc::translate(key, nullptr, 0, true), args.first());
  return out.c_str();
}

appkit::Menu* nsMenuOf(Menu::Item* top) { return static_cast<MenuMac*>(top->submenu())->nsMenu(); }

}  // namespace

AppMenuBar::AppMenuBar(Menu::ActionCallback* callback, unsigned options)
    : main_(new MenuMac(callback, false, nullptr)), appName_(os::getDisplayName(true)) {
  registerAppMenuTexts();
  qoutil::registerMessages();
  appMenu_ = addMenu(appName_.c_str(), nullptr, true);
  appGroups_.menu = appMenu_->submenu();
  quit_ = MenuMac::addGroupedItem(appGroups_, 4, withName("ui_appmenubar_appmenu_quit", appName_.c_str()).c_str(),
                                  appkit::selector("terminate:"), nullptr, "q", kCommand, nullptr);
  window_ = addMenu(loc::translate("ui_menu_window"), nullptr, true);
  windowGroups_.menu = window_->submenu();
  edit_ = addMenu(loc::translate("ui_menu_edit"), window_, true);
  editGroups_.menu = edit_->submenu();

  appkit::Application& app = appkit::Application::shared();
  app.setMainMenu(main_->nsMenu());
  app.setAppleMenu(nsMenuOf(appMenu_));
  app.setWindowsMenu(nsMenuOf(window_));

  if (options & kShowAbout) aboutItem(0);
  if (options & kShowPreferences) preferencesItem(nullptr, 0);
  if (options & kShowHide)
    MenuMac::addGroupedItem(appGroups_, 3, withName("ui_appmenubar_appmenu_hide", appName_.c_str()).c_str(),
                            appkit::selector("hide:"), nullptr, "h", kCommand, nullptr);
  for (const StandardItem& s : kStandardItems) {
    GroupedMenu& grouped = s.menu == Which::kApp ? appGroups_ : s.menu == Which::kEdit ? editGroups_ : windowGroups_;
    MenuMac::addGroupedItem(grouped, s.group, loc::translate(s.key), appkit::selector(s.action), nullptr,
                            s.keyEquivalent, s.mask, nullptr);
  }
}

AppMenuBar::~AppMenuBar() { delete main_; }

Menu::Item* AppMenuBar::addMenu(const char* title, Menu::Item* position, bool autoEnable) {
  Menu::Item* top = main_->addItem(title, nullptr, position, nullptr, Menu::kSubmenu);
  MenuMac::nativeItem(top)->setTarget(nullptr);
  std::string plain(title ? title : "");
  plat::stripMnemonic(plain.data());
  appkit::Menu* menu = nsMenuOf(top);
  menu->setTitle(plain.c_str());
  menu->setAutoenablesItems(autoEnable);
  menu->setShowsStateColumn(true);
  return top;
}

Menu::Item* AppMenuBar::fileMenu() {
  if (!file_) file_ = addMenu(loc::translate("ui_menu_file"), editMenu(), false);
  return file_;
}

Menu::Item* AppMenuBar::viewMenu() {
  if (!view_) view_ = addMenu(loc::translate("ui_menu_view"), windowMenu(), true);
  return view_;
}

Menu::Item* AppMenuBar::helpMenu() {
  if (!help_) help_ = addMenu(loc::translate("ui_menu_help"), nullptr, false);
  return help_;
}

Menu::Item* AppMenuBar::aboutItem(int) {
  if (!about_)
    about_ = MenuMac::addGroupedItem(appGroups_, 1, withName("ui_appmenubar_appmenu_about", appName_.c_str()).c_str(),
                                     nullptr, nullptr, nullptr, 0, nullptr);
  return about_;
}

Menu::Item* AppMenuBar::preferencesItem(const char*, int) {
  if (!preferences_)
    preferences_ = MenuMac::addGroupedItem(appGroups_, 2, loc::translate("ui_appmenubar_appmenu_preferences"), nullptr,
                                           nullptr, ",", kCommand, nullptr);
  return preferences_;
}

Menu::Item* AppMenuBar::secondAppItem(const char*, int) { return nullptr; }

Menu::Item* AppMenuBar::addAppItem(const char* title, int, int appGroup, Menu::ActionCallback* callback) {
  return insertInGroup(appGroups_, appGroup, title ? title : "", nullptr, callback, 0);
}

Menu::Item* AppMenuBar::createMenu(const char* title, Menu::Item* position) {
  return addMenu(title, position ? position : windowMenu(), false);
}

std::vector<Menu::Item*> AppMenuBar::collectItems() { return main_->collectItems(); }

}  // namespace ui
