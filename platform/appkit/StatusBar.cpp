#include "platform/appkit/StatusBar.h"

#include <algorithm>

#include "platform/appkit/Image.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Metrics.h"

namespace appkit {

StatusItem::~StatusItem() = default;

double StatusItem::width() const {
  if (length_ == kSquareStatusItemLength) return kStatusBarThickness;
  if (length_ == kVariableStatusItemLength) return image_ ? image_->size().width : 0;
  return length_;
}

void StatusItem::setMenu(Menu* menu) { menu_ = menu; }

void StatusItem::setImage(Image* image) { image_ = image; }

StatusBar& StatusBar::systemStatusBar() {
  // Never destroyed: items may be removed by code running at exit.
  static StatusBar* bar = new StatusBar;
  return *bar;
}

double StatusBar::thickness() const noexcept { return kStatusBarThickness; }

StatusItem* StatusBar::statusItemWithLength(double length) {
  // The bar's reference, and an autoreleased one for the caller.
  objc::Ref<StatusItem> item = objc::adopt(new StatusItem(this, length));
  items_.push_back(item);
  return objc::autoreleased(std::move(item));
}

void StatusBar::removeStatusItem(StatusItem* item) {
  if (objc::Ref<StatusItem> gone = items_.remove(item)) gone->bar_ = nullptr;
}

}  // namespace appkit
