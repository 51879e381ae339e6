#include "platform/appkit/PopUpButton.h"

#include <algorithm>
#include <cmath>

#include "platform/appkit/Font.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/TextMetrics.h"
#include "qocore/base/plat/Utf8.h"

namespace appkit {

namespace {

double widestTitle(const ItemList& items) {
  double widest = 0;
  for (long i = 0; i < items.numberOfItems(); ++i)
    widest = std::max(widest, static_cast<double>(plat::utf8CharCount(items.itemTitleAtIndex(i))) * kCharacterWidth);
  return widest;
}

}  // namespace

PopUpButtonCell::PopUpButtonCell() {
  objc::AutoreleasePool pool;
  font_ = Font::systemFontOfSize(0);
}

PopUpButtonCell::~PopUpButtonCell() = default;

Rect PopUpButtonCell::titleRectForBounds(Rect bounds) const {
  const double line = std::ceil(textMetrics().lineHeight(*font_));
  return makeRect(bounds.origin.x + kButtonPadding, bounds.origin.y + std::floor((bounds.size.height - line) / 2),
                  bounds.size.width - kButtonPadding - kPopUpArrowWidth, line);
}

const char* ItemList::itemTitleAtIndex(long index) const noexcept {
  return index >= 0 && index < numberOfItems() ? items_[static_cast<size_t>(index)].c_str() : nullptr;
}

void ItemList::addItem(const char* title) { items_.emplace_back(title ? title : ""); }

void ItemList::insertItem(const char* title, long index) {
  const long at = std::clamp(index, 0L, numberOfItems());
  items_.emplace(items_.begin() + at, title ? title : "");
  if (selected_ >= at) ++selected_;
}

void ItemList::removeItemAtIndex(long index) {
  if (index < 0 || index >= numberOfItems()) return;
  items_.erase(items_.begin() + index);
  if (selected_ == index)
    selected_ = -1;
  else if (selected_ > index)
    --selected_;
}

void ItemList::removeAllItems() noexcept {
  items_.clear();
  selected_ = -1;
}

void ItemList::selectIndex(long index) noexcept { selected_ = index >= 0 && index < numberOfItems() ? index : -1; }

void PopUpButton::addItemWithTitle(const char* title) {
  addItem(title);
  if (indexOfSelectedItem() < 0) selectItemAtIndex(0);
}

void PopUpButton::insertItemWithTitle(const char* title, long index) {
  insertItem(title, index);
  selectItemAtIndex(indexOfSelectedItem() < 0 ? 0 : indexOfSelectedItem());
}

void PopUpButton::selectItemAtIndex(long index) {
  selectIndex(index);
  const char* t = itemTitleAtIndex(indexOfSelectedItem());
  setTitle(t ? t : "");
}

void PopUpButton::removeItemAtIndex(long index) {
  ItemList::removeItemAtIndex(index);
  selectItemAtIndex(indexOfSelectedItem());
}

void PopUpButton::removeAllItems() {
  ItemList::removeAllItems();
  setTitle("");
}

void PopUpButton::chooseItem(long index) {
  if (!isEnabled() || index < 0 || index >= numberOfItems()) return;
  selectItemAtIndex(index);
  sendAction(action(), target());
}

Size PopUpButton::fittingSize() const {
  return {widestTitle(*this) + kPopUpArrowWidth + 2 * kButtonPadding, kPopUpHeight};
}

void ComboBox::selectItemAtIndex(long index) {
  selectIndex(index);
  if (const char* t = itemTitleAtIndex(indexOfSelectedItem())) Control::setStringValue(t);
}

void ComboBox::setStringValue(const char* value) {
  selectIndex(-1);
  Control::setStringValue(value);
}

void ComboBox::chooseItem(long index) {
  if (!isEnabled() || index < 0 || index >= numberOfItems()) return;
  selectItemAtIndex(index);
  sendAction(action(), target());
}

void ComboBox::typeText(const char* text) {
  if (!isEnabled() || !editable_) return;
  setStringValue(text);
  sendAction(action(), target());
}

Size ComboBox::fittingSize() const {
  const double text =
      std::max(widestTitle(*this), static_cast<double>(plat::utf8CharCount(stringValue())) * kCharacterWidth);
  return {text + kPopUpArrowWidth + 4, kTextFieldHeight + 2};
}

}  // namespace appkit
