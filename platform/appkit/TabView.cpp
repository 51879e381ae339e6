#include "platform/appkit/TabView.h"

#include <algorithm>

namespace appkit {

namespace {

// The height the row of tabs takes above the content.
constexpr double kTabRowHeight = 26;

}  // namespace

void TabViewItem::setView(View* view) { objc::setRetained(view_, view); }

TabViewItem::~TabViewItem() {
  if (view_) view_->release();
}

TabView::~TabView() {
  for (TabViewItem* item : items_) {
    item->tabView_ = nullptr;
    item->release();
  }
}

void TabView::addTabViewItem(TabViewItem* item) {
  if (!item) return;
  item->retain();
  item->tabView_ = this;
  items_.push_back(item);
  if (!selected_) select(item);
}

void TabView::removeTabViewItem(TabViewItem* item) {
  auto i = std::find(items_.begin(), items_.end(), item);
  if (i == items_.end()) return;
  const long index = i - items_.begin();
  items_.erase(i);
  if (item == selected_) {
    if (item->view()) item->view()->removeFromSuperview();
    selected_ = nullptr;
    if (!items_.empty()) select(items_[static_cast<size_t>(std::min<long>(index, numberOfTabViewItems() - 1))]);
  }
  item->tabView_ = nullptr;
  item->release();
}

TabViewItem* TabView::tabViewItemAtIndex(long index) const noexcept {
  return index >= 0 && index < numberOfTabViewItems() ? items_[static_cast<size_t>(index)] : nullptr;
}

long TabView::indexOfTabViewItem(const TabViewItem* item) const noexcept {
  auto i = std::find(items_.begin(), items_.end(), item);
  return i == items_.end() ? -1 : i - items_.begin();
}

void TabView::selectTabViewItemAtIndex(long index) {
  if (TabViewItem* item = tabViewItemAtIndex(index)) select(item);
}

Rect TabView::contentRect() const noexcept {
  const Size s = bounds().size;
  return {{0, kTabRowHeight}, {s.width, std::max(0.0, s.height - kTabRowHeight)}};
}

void TabView::select(TabViewItem* item) {
  if (item == selected_) return;
  if (selected_ && selected_->view()) selected_->view()->removeFromSuperview();
  selected_ = item;
  if (View* view = item->view()) {
    addSubview(view);
    view->setFrame(contentRect());
  }
  if (delegate_) delegate_->didSelectTabViewItem(this, item);
}

void TabView::resizeSubviewsWithOldSize(Size) {
  if (selected_ && selected_->view()) selected_->view()->setFrame(contentRect());
}

}  // namespace appkit
