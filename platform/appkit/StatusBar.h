#pragma once
// Stands in for the platform's status bar (the items at the right of the
// menu bar) and the application's Dock tile.  Both are recorded only: the
// items the bar holds with their length, menu and image, and the tile's
// badge text.

#include <vector>

#include "platform/objc/Object.h"
#include "platform/objc/Ref.h"
#include "qocore/base/plat/CharArray.h"

namespace appkit {

class Image;
class Menu;
class StatusBar;

// Status item lengths: as wide as its content, or square.
constexpr double kVariableStatusItemLength = -1;
constexpr double kSquareStatusItemLength = -2;

class StatusItem : public objc::Object {
 public:
  // The length asked for (or one of the two constants above).
  double length() const noexcept { return length_; }
  // The width it takes in the bar: a square item is as wide as the bar is
  // thick (Metrics.h); a variable one as wide as its image (0 without).
  double width() const;
  // The menu shown when the item is clicked, retained.
  Menu* menu() const noexcept { return menu_; }
  void setMenu(Menu* menu);
  // The image shown, retained.
  Image* image() const noexcept { return image_; }
  void setImage(Image* image);
  // The bar holding it; null once removed.
  StatusBar* statusBar() const noexcept { return bar_; }

 protected:
  ~StatusItem() override;

 private:
  friend class StatusBar;
  StatusItem(StatusBar* bar, double length) : length_(length), bar_(bar) {}
  double length_;
  objc::Ref<Menu> menu_;
  objc::Ref<Image> image_;
  StatusBar* bar_;
};

class StatusBar {
 public:
  // The system's bar, made on first use and never destroyed.
  static StatusBar& systemStatusBar();
  double thickness() const noexcept;
  // statusItemWithLength:: a new item at the end of the bar, autoreleased;
  // the bar keeps its own reference until the item is removed.
  StatusItem* statusItemWithLength(double length);
  // Takes the item off the bar (dropping the bar's reference); nothing for
  // an item that is not on it.
  void removeStatusItem(StatusItem* item);
  const std::vector<StatusItem*>& items() const noexcept { return items_.items(); }

 private:
  StatusBar() = default;
  objc::RefVector<StatusItem> items_;
};

class DockTile : public objc::Object {
 public:
  DockTile() = default;
  // The badge text; "" when none.  A null text clears it.
  const char* badgeLabel() const noexcept { return badge_.c_str(); }
  void setBadgeLabel(const char* label) { badge_ = plat::CharArray(label ? label : ""); }

 protected:
  ~DockTile() override = default;

 private:
  plat::CharArray badge_;
};

}  // namespace appkit
