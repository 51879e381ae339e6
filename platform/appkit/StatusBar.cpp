#include "platform/appkit/StatusBar.h"

#include <algorithm>

#include "platform/appkit/Image.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Metrics.h"

namespace appkit {

StatusItem::~StatusItem() {
  if (menu_) menu_->release();
  if (image_) image_->release();
}

double StatusItem::width() const {
  if (length_ == kSquareStatusItemLength) return kStatusBarThickness;
  if (length_ == kVariableStatusItemLength) return image_ ? image_->size().width : 0;
  return length_;
}

void StatusItem::setMenu(Menu* menu) { objc::setRetained(menu_, menu); }

void StatusItem::setImage(Image* image) { objc::setRetained(image_, image); }

StatusBar& StatusBar::systemStatusBar() {
  // Never destroyed: items may be removed by code running at exit.
  static StatusBar* bar = new StatusBar;
  return *bar;
}

double StatusBar::thickness() const noexcept { return kStatusBarThickness; }

StatusItem* StatusBar::statusItemWithLength(double length) {
  auto* item = new StatusItem(this, length);
  items_.push_back(item);
  item->retain()->autorelease();
  return item;
}

void StatusBar::removeStatusItem(StatusItem* item) {
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it == items_.end()) return;
  items_.erase(it);
  item->bar_ = nullptr;
  item->release();
}

}  // namespace appkit
