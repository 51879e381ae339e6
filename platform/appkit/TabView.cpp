#include "platform/appkit/TabView.h"

#include <algorithm>

namespace appkit {

namespace {

// The height the row of tabs takes above the content.
constexpr double kTabRowHeight = 26;

}  // namespace

void TabViewItem::setView(View* view) { view_ = view; }

TabViewItem::~TabViewItem() = default;

TabView::~TabView() {
  for (TabViewItem* item : items_) item->tabView_ = nullptr;
}

void TabView::addTabViewItem(TabViewItem* item) {
  if (!item) return;
  items_.push_back(item);
  item->tabView_ = this;
  if (!selected_) select(item);
}

void TabView::removeTabViewItem(TabViewItem* item) {
  const size_t at = items_.indexOf(item);
  if (at == items_.size()) return;
  const long index = static_cast<long>(at);
  // The list's reference, dropped once the item is out.
  objc::Ref<TabViewItem> held = items_.take(at);
  if (item == selected_) {
    if (item->view()) item->view()->removeFromSuperview();
    selected_ = nullptr;
    if (!items_.empty()) select(items_[static_cast<size_t>(std::min<long>(index, numberOfTabViewItems() - 1))]);
  }
  item->tabView_ = nullptr;
}

TabViewItem* TabView::tabViewItemAtIndex(long index) const noexcept {
  return index >= 0 && index < numberOfTabViewItems() ? items_[static_cast<size_t>(index)] : nullptr;
}

long TabView::indexOfTabViewItem(const TabViewItem* item) const noexcept {
  const size_t i = items_.indexOf(item);
  return i == items_.size() ? -1 : static_cast<long>(i);
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
