#include "platform/appkit/Menu.h"

#include <algorithm>
#include <bit>

#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/Window.h"
#include "platform/objc/NotificationCenter.h"
#include "qocore/base/plat/Exception.h"

namespace appkit {

const char* const kMenuDidBeginTrackingNotification = "NSMenuDidBeginTrackingNotification";

namespace {

Menu* lastPoppedUp = nullptr;

constexpr uint64_t kKeyEquivalentModifiers = kModifierShift | kModifierControl | kModifierOption | kModifierCommand;

// The key equivalent's one character, lower-cased when it is an ASCII
// letter; `upper` tells whether it was an upper-case letter.  0 when the
// text is not exactly one character.
uint32_t keyChar(const char* text, bool* upper) {
  *upper = false;
  if (!text || !*text) return 0;
  auto b = static_cast<unsigned char>(text[0]);
  uint32_t c;
  int len;
  if (b < 0x80) {
    c = b;
    len = 1;
  } else if ((b & 0xE0) == 0xC0) {
    c = b & 0x1F;
    len = 2;
  } else if ((b & 0xF0) == 0xE0) {
    c = b & 0x0F;
    len = 3;
  } else if ((b & 0xF8) == 0xF0) {
    c = b & 0x07;
    len = 4;
  } else {
    return 0;
  }
  for (int i = 1; i < len; ++i) {
    auto n = static_cast<unsigned char>(text[i]);
    if ((n & 0xC0) != 0x80) return 0;
    c = (c << 6) | (n & 0x3F);
  }
  if (text[len] != '\0') return 0;
  if (c >= 'A' && c <= 'Z') {
    *upper = true;
    c += 'a' - 'A';
  }
  return c;
}

// The text's length in UTF-16 units, as the platform measures strings.
double utf16Units(const char* text) {
  double units = 0;
  for (const char* p = text; p && *p; ++p) {
    auto b = static_cast<unsigned char>(*p);
    if ((b & 0xC0) != 0x80) units += b >= 0xF0 ? 2 : 1;
  }
  return units;
}

void postBeginTracking() {
  objc::NotificationCenter::defaultCenter().post(kMenuDidBeginTrackingNotification, Application::shared().mainMenu());
}

}  // namespace

// ---- MenuItem ----

MenuItem::MenuItem(const char* title, Sel action, const char* keyEquivalent)
    : title_(title ? title : ""),
      action_(action),
      key_(keyEquivalent ? keyEquivalent : ""),
      keyMask_(kModifierCommand) {}

MenuItem* MenuItem::separatorItem() {
  auto* item = new MenuItem;
  item->title_ = plat::CharArray("");
  item->key_ = plat::CharArray("");
  item->separator_ = true;
  item->enabled_ = false;
  item->autorelease();
  return item;
}

MenuItem::~MenuItem() {
  if (submenu_) submenu_->supermenu_ = nullptr;
}

void MenuItem::setImage(Image* image) { image_ = image; }

void MenuItem::setSubmenu(Menu* submenu) {
  if (submenu == submenu_) return;
  if (submenu) submenu->supermenu_ = menu_;
  if (submenu_) submenu_->supermenu_ = nullptr;
  submenu_ = submenu;
}

// ---- Menu ----

Menu::Menu(const char* title) : title_(title ? title : "") {}

Menu::~Menu() {
  if (lastPoppedUp == this) lastPoppedUp = nullptr;
  removeAllItems();
}

MenuItem* Menu::itemAtIndex(long index) const noexcept {
  if (index < 0 || index >= numberOfItems()) return nullptr;
  return items_[static_cast<size_t>(index)];
}

long Menu::indexOfItem(const MenuItem* item) const noexcept {
  const size_t i = items_.indexOf(item);
  return i == items_.size() ? -1 : static_cast<long>(i);
}

void Menu::insertItem(MenuItem* item, long index) {
  if (!item) throw plat::Exception("Menu: inserting a null item");
  if (item->menu_) throw plat::Exception("Menu: item \"%s\" is already in a menu", item->title());
  if (index < 0 || index > numberOfItems())
    throw plat::Exception("Menu: index %ld beyond the %ld items", index, numberOfItems());
  items_.insert(static_cast<size_t>(index), item);
  item->menu_ = this;
  if (item->submenu_) item->submenu_->supermenu_ = this;
}

void Menu::removeItem(MenuItem* item) { removeItemAtIndex(indexOfItem(item)); }

void Menu::removeItemAtIndex(long index) {
  if (!itemAtIndex(index)) return;
  objc::Ref<MenuItem> item = items_.take(static_cast<size_t>(index));
  item->menu_ = nullptr;
  if (item->submenu_) item->submenu_->supermenu_ = nullptr;
}

void Menu::removeAllItems() {
  while (!items_.empty()) removeItemAtIndex(numberOfItems() - 1);
}

void Menu::update() {
  if (!autoenables_) return;
  Application& app = Application::shared();
  for (MenuItem* item : items_) {
    if (item->separator_) continue;
    if (item->submenu_)
      item->enabled_ = true;
    else if (!item->action_)
      item->enabled_ = false;
    else if (item->target_)
      item->enabled_ = item->target_->respondsToAction(item->action_);
    else
      item->enabled_ = app.targetForAction(item->action_) != nullptr;
  }
}

bool Menu::performKeyEquivalent(Event* event) {
  if (!event || event->type() != kEventKeyDown) return false;
  objc::String* chars = event->charactersIgnoringModifiers();
  bool shifted;
  uint32_t typed = keyChar(chars ? chars->utf8() : nullptr, &shifted);
  if (!typed) return false;
  uint64_t flags = event->modifierFlags() & kKeyEquivalentModifiers;
  update();
  // Held: an action may change the menu and free its items.
  std::vector<objc::Ref<MenuItem>> items = items_.snapshot();
  for (const objc::Ref<MenuItem>& item : items) {
    if (objc::Ref<Menu> submenu = item->submenu_) {
      if (submenu->performKeyEquivalent(event)) return true;
      continue;
    }
    bool upper;
    uint32_t key = keyChar(item->keyEquivalent(), &upper);
    if (!key || key != typed) continue;
    uint64_t mask = (item->keyMask_ & kKeyEquivalentModifiers) | (upper ? uint64_t{kModifierShift} : 0);
    if (mask != flags || !item->enabled_) continue;
    if (Application::shared().sendAction(item->action_, item->target_, item)) return true;
  }
  return false;
}

bool Menu::performActionForItemAtIndex(long index) {
  objc::Ref<MenuItem> item = itemAtIndex(index);
  if (!item || item->separator_ || item->submenu_ || !item->enabled_) return false;
  return Application::shared().sendAction(item->action_, item->target_, item);
}

bool Menu::popUpMenuPositioningItem(MenuItem* item, Point location, View* view) {
  postBeginTracking();
  update();
  Point screen = location;
  if (view) {
    screen = view->convertPointToView(location, nullptr);
    if (view->window()) screen = view->window()->convertBaseToScreen(screen);
  }
  lastPopUp_ = PopUp{item, location, view, screen};
  ++popUps_;
  lastPoppedUp = this;
  return false;
}

Menu* Menu::lastPoppedUpMenu() noexcept { return lastPoppedUp; }

Size Menu::size() const {
  double widest = 0;
  double height = 2 * kMenuVerticalInset;
  for (const MenuItem* item : items_) {
    if (item->separator_) {
      height += kMenuSeparatorHeight;
      continue;
    }
    height += kMenuItemHeight;
    double width = utf16Units(item->title()) * kCharacterWidth;
    if (item->image_) width += kMenuImageWidth;
    bool upper;
    if (keyChar(item->keyEquivalent(), &upper)) {
      uint64_t mask = (item->keyMask_ & kKeyEquivalentModifiers) | (upper ? uint64_t{kModifierShift} : 0);
      width += kMenuKeyGap + (std::popcount(mask) + 1) * kCharacterWidth;
    }
    if (item->submenu_) width += kMenuKeyGap;
    widest = std::max(widest, width);
  }
  return Size{kMenuLeftMargin + widest + kMenuRightMargin, height};
}

namespace inject {

bool pickItem(MenuItem* item) {
  if (!item) return false;
  // Whoever hears the notification may drop the menu.
  objc::Ref<MenuItem> held(item);
  postBeginTracking();
  objc::Ref<Menu> menu = item->menu();
  if (!menu) return false;
  menu->update();
  return menu->performActionForItemAtIndex(menu->indexOfItem(item));
}

}  // namespace inject

}  // namespace appkit
