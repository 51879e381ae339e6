#pragma once
// Stands in for the platform's menus and menu items: the menu bar's menu
// and its submenus, context menus, key equivalents and the enabling of
// items from their targets.
//
// Nothing here draws or tracks the pointer.  Popping a menu up records
// where and returns at once (no item chosen), so no test and no run
// without a display ever blocks in a menu; the user's choice comes from
// the pick-item injector below.  Popping up and picking post the main
// menu's begin-tracking notification first, as the platform does when the
// user opens a menu, so that transient windows that close on it do.
//
// A menu's size follows a fixed rule from Metrics.h (see `size`).

#include <cstdint>
#include <vector>

#include "platform/appkit/Geometry.h"
#include "platform/appkit/Responder.h"
#include "platform/appkit/Selector.h"
#include "platform/appkit/View.h"
#include "platform/objc/Object.h"
#include "platform/objc/Ref.h"
#include "qocore/base/plat/CharArray.h"

namespace appkit {

class Event;
class Image;
class Menu;

// Posted with the main menu as object when the user starts working a menu.
extern const char* const kMenuDidBeginTrackingNotification;

// Menu item states.
enum ControlState : int { kStateMixed = -1, kStateOff = 0, kStateOn = 1 };

class MenuItem : public objc::Object, public TitleSetter, public KeyEquivalentSetter {
 public:
  // initWithTitle:action:keyEquivalent: (one reference, the caller's); the
  // key equivalent's modifier mask starts as Command, as the platform's.
  MenuItem(const char* title, Sel action, const char* keyEquivalent);
  // separatorItem: an autoreleased separator.
  static MenuItem* separatorItem();

  bool isSeparatorItem() const noexcept { return separator_; }
  const char* title() const noexcept { return title_.c_str(); }
  void setTitle(const char* title) override { title_ = plat::CharArray(title ? title : ""); }
  Sel action() const noexcept { return action_; }
  void setAction(Sel action) noexcept { action_ = action; }
  // Not retained; null sends the action along the responder chain.
  ActionTarget* target() const noexcept { return target_; }
  void setTarget(ActionTarget* target) noexcept { target_ = target; }
  // The key equivalent: one character, "" for none.  An upper-case letter
  // asks for Shift as well.
  const char* keyEquivalent() const noexcept { return key_.c_str(); }
  void setKeyEquivalent(const char* key) override { key_ = plat::CharArray(key ? key : ""); }
  uint64_t keyEquivalentModifierMask() const noexcept { return keyMask_; }
  void setKeyEquivalentModifierMask(uint64_t mask) noexcept { keyMask_ = mask; }
  bool isEnabled() const noexcept { return enabled_; }
  void setEnabled(bool enabled) noexcept { enabled_ = enabled; }
  int state() const noexcept { return state_; }
  void setState(int state) noexcept { state_ = state; }
  // The item's image, retained.
  Image* image() const noexcept { return image_; }
  void setImage(Image* image);
  // The submenu, retained; it learns this item's menu as its supermenu.
  Menu* submenu() const noexcept { return submenu_; }
  bool hasSubmenu() const noexcept { return submenu_ != nullptr; }
  void setSubmenu(Menu* submenu);
  // The menu holding the item; null while it is in none.
  Menu* menu() const noexcept { return menu_; }

 protected:
  ~MenuItem() override;

 private:
  friend class Menu;
  MenuItem() = default;

  plat::CharArray title_;
  Sel action_ = nullptr;
  ActionTarget* target_ = nullptr;
  plat::CharArray key_;
  uint64_t keyMask_ = 0;
  objc::Ref<Image> image_;
  objc::Ref<Menu> submenu_;
  Menu* menu_ = nullptr;
  int state_ = kStateOff;
  bool enabled_ = true;
  bool separator_ = false;
};

class Menu : public objc::Object {
 public:
  // initWithTitle: (one reference, the caller's).
  explicit Menu(const char* title = "");

  const char* title() const noexcept { return title_.c_str(); }
  void setTitle(const char* title) { title_ = plat::CharArray(title ? title : ""); }

  // Items.  A menu retains its items; an item is in at most one menu.
  long numberOfItems() const noexcept { return static_cast<long>(items_.size()); }
  const std::vector<MenuItem*>& itemArray() const noexcept { return items_.items(); }
  // Null out of range.
  MenuItem* itemAtIndex(long index) const noexcept;
  // -1 when the item is not in the menu.
  long indexOfItem(const MenuItem* item) const noexcept;
  // Inserting out of range, or an item that is already in a menu, is the
  // caller's fault: throws plat::Exception as the platform raises.
  void insertItem(MenuItem* item, long index);
  void addItem(MenuItem* item) { insertItem(item, numberOfItems()); }
  void removeItem(MenuItem* item);
  void removeItemAtIndex(long index);
  void removeAllItems();

  // The menu of the item whose submenu this is; null for a top menu.
  Menu* supermenu() const noexcept { return supermenu_; }

  // Whether `update` sets the items' enabled state from their targets.
  bool autoenablesItems() const noexcept { return autoenables_; }
  void setAutoenablesItems(bool autoenables) noexcept { autoenables_ = autoenables; }
  bool showsStateColumn() const noexcept { return showsStateColumn_; }
  void setShowsStateColumn(bool shows) noexcept { showsStateColumn_ = shows; }

  // With auto-enabling: an item with a submenu is enabled; an item with
  // an action is enabled when its target (or, without one, the target the
  // application finds for the action) answers the action; an item without
  // an action is disabled.  Without auto-enabling nothing changes.
  void update();

  // Looks for an enabled item (here or in a submenu) whose key equivalent
  // and modifier mask are those of the key-down event and sends its action;
  // true when one did.  Characters compare case-blind; Shift, Control,
  // Option and Command must match exactly (an upper-case key equivalent
  // implies Shift).
  bool performKeyEquivalent(Event* event);
  // Sends the item's action to its target (or along the responder chain)
  // with the item as sender, as choosing the item does; false for an index
  // out of range, a disabled item, a separator or an item with a submenu.
  bool performActionForItemAtIndex(long index);

  // popUpMenuPositioningItem:atLocation:inView:: posts the begin-tracking
  // notification, records the request and returns at once with no item
  // chosen (false).  The location is in the view's coordinates, or the
  // screen's without a view.
  bool popUpMenuPositioningItem(MenuItem* item, Point location, View* view);
  // What the last pop-up of this menu asked for.
  struct PopUp {
    MenuItem* positioningItem = nullptr;  // not retained
    Point location;
    View* view = nullptr;  // not retained
    Point screenLocation;
  };
  int popUpCount() const noexcept { return popUps_; }
  const PopUp& lastPopUp() const noexcept { return lastPopUp_; }
  // The menu popped up last in the process; null when it has gone.
  static Menu* lastPoppedUpMenu() noexcept;

  // The menu's size as it would show:
  //   width  = kMenuLeftMargin + widest item + kMenuRightMargin, where an
  //            item is its title (kCharacterWidth per UTF-16 unit), plus
  //            kMenuImageWidth with an image, plus kMenuKeyGap and one
  //            kCharacterWidth per modifier and for the key with a key
  //            equivalent, plus kMenuKeyGap with a submenu (its arrow);
  //   height = 2 * kMenuVerticalInset + kMenuItemHeight per item and
  //            kMenuSeparatorHeight per separator.
  Size size() const;

 protected:
  ~Menu() override;

 private:
  plat::CharArray title_;
  objc::RefVector<MenuItem> items_;
  Menu* supermenu_ = nullptr;
  bool autoenables_ = true;
  bool showsStateColumn_ = true;
  int popUps_ = 0;
  PopUp lastPopUp_;
  friend class MenuItem;
};

namespace inject {
// The user opens the menus and chooses the item: the main menu's
// begin-tracking notification, then the item's menu updates and an enabled
// item sends its action (nothing for a separator or an item with a
// submenu).  Answers whether the action was sent.
bool pickItem(MenuItem* item);
}  // namespace inject

}  // namespace appkit
