#include "qocore/uilibs/ui/Menu.h"

#include <algorithm>
#include <cstring>

#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/uilibs/ui/UiStrings.h"

namespace ui {

namespace {

bool sameText(const plat::CharArray& have, const char* text) {
  if (have.isNull() || !text) return have.isNull() && !text;
  return std::strcmp(have.get(), text) == 0;
}

}  // namespace

Menu::ActionCallback::~ActionCallback() = default;
Menu::ItemManager::~ItemManager() = default;

// ---- Item ----

Menu::Item::Item(Menu* menu, ActionCallback* callback, const char* title, const char* imageName)
    : menu_(menu), callback_(callback), title_(title), imageName_(imageName) {}

Menu::Item::~Item() = default;

void Menu::Item::setTitle(const char* title) {
  if (!sameText(title_, title)) title_ = plat::CharArray(title);
}

void Menu::Item::setKey(uint32_t, uint32_t) {}

void Menu::Item::setImageName(const char* imageName) {
  if (!sameText(imageName_, imageName)) imageName_ = plat::CharArray(imageName);
}

void Menu::Item::setEnabled(bool) {}
bool Menu::Item::isEnabled() { return true; }
bool Menu::Item::isSeparator() { return title_.isNull() && imageName_.isNull(); }
void Menu::Item::setChecked(bool) {}
bool Menu::Item::isChecked() { return false; }
Menu* Menu::Item::submenu() { return nullptr; }

// ---- Menu ----

Menu::Menu(ItemManager* manager, ActionCallback* callback) : manager_(manager), callback_(callback) {}

Menu::~Menu() {
  for (Item* item : items_) delete item;
  items_.clear();
}

Menu::Item* Menu::addItem(const char* title, const char* imageName, Item* position, ActionCallback* callback,
                          int kind) {
  Item* item = manager_->createItem(title, imageName, position, callback, kind);
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(findItem(position)), item);
  manager_->menuChanged();
  return item;
}

size_t Menu::findItem(const Item* item) const noexcept {
  return static_cast<size_t>(std::find(items_.begin(), items_.end(), item) - items_.begin());
}

void Menu::removeItem(Item*& item) {
  if (!item) return;
  size_t at = findItem(item);
  if (at == items_.size()) return;
  if (remembered_ == item) remembered_ = nullptr;
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(at));
  manager_->removeNativeItem(item);
  delete item;
  item = nullptr;
  manager_->menuChanged();
}

void Menu::removeAll() {
  while (!items_.empty()) {
    Item* item = items_.back();
    removeItem(item);
  }
  remembered_ = nullptr;
}

std::vector<Menu::Item*> Menu::collectItems() const {
  std::vector<Item*> leaves;
  for (Item* item : items_) {
    if (Menu* sub = item->submenu()) {
      std::vector<Item*> inner = sub->collectItems();
      leaves.insert(leaves.end(), inner.begin(), inner.end());
    } else if (!item->isSeparator()) {
      leaves.push_back(item);
    }
  }
  return leaves;
}

Menu::ActionCallback* Menu::callbackFor(const Item* item) noexcept {
  if (!item) return nullptr;
  if (item->actionCallback()) return item->actionCallback();
  for (Menu* m = item->menu(); m; m = m->parentMenu())
    if (m->actionCallback()) return m->actionCallback();
  return nullptr;
}

// ---- Grouped menus ----

namespace {

// The index of the group's marker in the menu; the menu's size for none.
size_t markerAt(const GroupedMenu& grouped, size_t group) {
  Menu::Item* marker = group < grouped.markers.size() ? grouped.markers[group] : nullptr;
  return marker ? grouped.menu->findItem(marker) : grouped.menu->count();
}

// The first group after `group` that has a marker; markers.size() if none.
size_t nextMarked(const GroupedMenu& grouped, size_t group) {
  size_t g = group + 1;
  while (g < grouped.markers.size() && !grouped.markers[g]) ++g;
  return g;
}

}  // namespace

Menu::Item* insertInGroup(GroupedMenu& grouped, int group, const char* title, const char* imageName,
                          Menu::ActionCallback* callback, int kind) {
  PLAT_ASSERT(group >= 0);
  auto g = static_cast<size_t>(group);
  if (grouped.markers.size() <= g) grouped.markers.resize(g + 1, nullptr);
  Menu& menu = *grouped.menu;
  size_t later = nextMarked(grouped, g);
  Menu::Item* point = later < grouped.markers.size() ? grouped.markers[later] : nullptr;
  if (grouped.markers[g]) return menu.addItem(title, imageName, point, callback, kind);
  bool earlier = std::any_of(grouped.markers.begin(), grouped.markers.begin() + static_cast<std::ptrdiff_t>(g),
                             [](Menu::Item* m) { return m != nullptr; });
  if (earlier) {
    grouped.markers[g] = menu.addItem(nullptr, nullptr, point, nullptr, 0);
    return menu.addItem(title, imageName, point, callback, kind);
  }
  if (point) {
    // This group becomes the first: the later group now needs a separator.
    Menu::Item* separator = menu.addItem(nullptr, nullptr, point, nullptr, 0);
    grouped.markers[later] = separator;
    Menu::Item* item = menu.addItem(title, imageName, separator, callback, kind);
    grouped.markers[g] = item;
    return item;
  }
  Menu::Item* item = menu.addItem(title, imageName, nullptr, callback, kind);
  grouped.markers[g] = item;
  return item;
}

void removeFromGroup(GroupedMenu& grouped, Menu::Item*& item) {
  if (!item || !grouped.menu) return;
  Menu& menu = *grouped.menu;
  size_t at = menu.findItem(item);
  if (at == menu.count()) return;
  // The group holding the item: the last marked group that starts at or
  // before it.
  size_t group = grouped.markers.size();
  for (size_t g = 0; g < grouped.markers.size(); ++g)
    if (grouped.markers[g] && markerAt(grouped, g) <= at) group = g;
  if (group < grouped.markers.size()) {
    size_t begin = markerAt(grouped, group);
    size_t next = nextMarked(grouped, group);
    size_t end = markerAt(grouped, next);
    bool first = std::none_of(grouped.markers.begin(), grouped.markers.begin() + static_cast<std::ptrdiff_t>(group),
                              [](Menu::Item* m) { return m != nullptr; });
    if (first) {
      if (grouped.markers[group] == item) {
        if (at + 1 < end) {
          grouped.markers[group] = menu.items()[at + 1];
        } else {
          grouped.markers[group] = nullptr;
          if (next < grouped.markers.size()) {
            // The next group now leads: its separator goes, its first item
            // marks it.
            Menu::Item* separator = grouped.markers[next];
            size_t sepAt = menu.findItem(separator);
            grouped.markers[next] =
                sepAt + 1 < markerAt(grouped, nextMarked(grouped, next)) ? menu.items()[sepAt + 1] : nullptr;
            menu.removeItem(separator);
          }
        }
      }
    } else if (end - begin == 2 && at == begin + 1) {
      // The only item of a later group: its separator goes with it.
      Menu::Item* separator = grouped.markers[group];
      grouped.markers[group] = nullptr;
      menu.removeItem(separator);
    }
  }
  menu.removeItem(item);
}

// ---- MenuBar ----

MenuBar* MenuBar::inst_ = nullptr;

MenuBar::MenuBar() {
  PLAT_ASSERT_TEXT(!inst_, "!inst_");
  inst_ = this;
  registerMessages();
}

MenuBar::~MenuBar() {
  if (inst_ == this) inst_ = nullptr;
}

GroupedMenu& MenuBar::groupsOf(GroupedMenu& grouped, Menu::Item* top) {
  if (!grouped.menu && top) grouped.menu = top->submenu();
  return grouped;
}

GroupedMenu& MenuBar::fileGroups() { return groupsOf(fileGroups_, fileMenu()); }
GroupedMenu& MenuBar::editGroups() { return groupsOf(editGroups_, editMenu()); }
GroupedMenu& MenuBar::viewGroups() { return groupsOf(viewGroups_, viewMenu()); }
GroupedMenu& MenuBar::windowGroups() { return groupsOf(windowGroups_, windowMenu()); }
GroupedMenu& MenuBar::helpGroups() { return groupsOf(helpGroups_, helpMenu()); }

Menu::Item* MenuBar::fileMenu() {
  if (!file_) file_ = createMenu(loc::translate("ui_menu_file"), nullptr);
  return file_;
}

Menu::Item* MenuBar::editMenu() {
  if (!edit_) edit_ = createMenu(loc::translate("ui_menu_edit"), nullptr);
  return edit_;
}

Menu::Item* MenuBar::viewMenu() {
  if (!view_) view_ = createMenu(loc::translate("ui_menu_view"), nullptr);
  return view_;
}

Menu::Item* MenuBar::windowMenu() {
  if (!window_) window_ = createMenu(loc::translate("ui_menu_window"), nullptr);
  return window_;
}

Menu::Item* MenuBar::helpMenu() {
  if (!help_) help_ = createMenu(loc::translate("ui_menu_help"), nullptr);
  return help_;
}

Menu::Item* MenuBar::aboutItem(int group) {
  if (!about_) about_ = insertInGroup(helpGroups(), group, loc::translate("ui_menu_about"), nullptr, nullptr, 0);
  return about_;
}

Menu::Item* MenuBar::preferencesItem(const char* title, int group) {
  if (!preferences_) preferences_ = insertInGroup(fileGroups(), group, title, nullptr, nullptr, 0);
  return preferences_;
}

Menu::Item* MenuBar::secondAppItem(const char* title, int group) {
  if (!secondApp_) secondApp_ = insertInGroup(fileGroups(), group, title, nullptr, nullptr, 0);
  return secondApp_;
}

Menu::Item* MenuBar::addAppItem(const char* title, int fileGroup, int, Menu::ActionCallback* callback) {
  return insertInGroup(fileGroups(), fileGroup, title, nullptr, callback, 0);
}

}  // namespace ui
