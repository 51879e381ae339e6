#include "platform/appkit/TableView.h"

#include <algorithm>

#include "platform/appkit/Metrics.h"

namespace appkit {

IndexSet* IndexSet::make() { return static_cast<IndexSet*>((new IndexSet)->autorelease()); }

IndexSet* IndexSet::withIndex(size_t index) {
  IndexSet* s = make();
  s->addIndex(index);
  return s;
}

IndexSet* IndexSet::copy() const {
  auto* s = new IndexSet;
  s->indexes_ = indexes_;
  return s;
}

bool IndexSet::containsIndex(size_t index) const noexcept {
  return std::binary_search(indexes_.begin(), indexes_.end(), index);
}

size_t IndexSet::indexGreaterThanIndex(size_t index) const noexcept {
  auto it = std::upper_bound(indexes_.begin(), indexes_.end(), index);
  return it == indexes_.end() ? kNotFound : *it;
}

void IndexSet::addIndex(size_t index) {
  auto it = std::lower_bound(indexes_.begin(), indexes_.end(), index);
  if (it == indexes_.end() || *it != index) indexes_.insert(it, index);
}

void IndexSet::removeIndex(size_t index) {
  auto it = std::lower_bound(indexes_.begin(), indexes_.end(), index);
  if (it != indexes_.end() && *it == index) indexes_.erase(it);
}

TableView::TableView(Rect frame) : Control(frame), selected_(objc::adopt(new IndexSet)), rowHeight_(kTableRowHeight) {}

TableView::~TableView() = default;

void TableView::addTableColumn(TableColumn* column) {
  if (column) columns_.push_back(column);
}

long TableView::numberOfRows() {
  long n = dataSource_ ? dataSource_->numberOfRowsInTableView(this) : 0;
  return n < 0 ? 0 : n;
}

void TableView::reloadData() {
  long n = numberOfRows();
  objc::Ref<IndexSet> kept = objc::adopt(selected_->copy());
  for (size_t i = kept->firstIndex(); i != kNotFound; i = kept->indexGreaterThanIndex(i))
    if (static_cast<long>(i) >= n) kept->removeIndex(i);
  setSelection(kept);
}

long TableView::rowAtPoint(Point point) {
  if (point.y < 0 || rowHeight_ <= 0) return -1;
  long row = static_cast<long>(point.y / rowHeight_);
  return row < numberOfRows() ? row : -1;
}

long TableView::selectedRow() const noexcept {
  size_t first = selected_->firstIndex();
  return first == kNotFound ? -1 : static_cast<long>(first);
}

void TableView::setSelection(IndexSet* indexes) {
  if (indexes->isEqual(*selected_)) return;
  selected_ = objc::adopt(indexes->copy());
  if (delegate_) delegate_->tableViewSelectionDidChange(this);
}

void TableView::selectRowIndexes(IndexSet* indexes, bool extend) {
  objc::AutoreleasePool pool;
  IndexSet* next = extend ? selected_->copy() : new IndexSet;
  next->autorelease();
  long n = numberOfRows();
  if (indexes)
    for (size_t i = indexes->firstIndex(); i != kNotFound; i = indexes->indexGreaterThanIndex(i))
      if (static_cast<long>(i) < n) next->addIndex(i);
  setSelection(next);
}

void TableView::deselectAll(objc::Object*) {
  objc::AutoreleasePool pool;
  setSelection(IndexSet::make());
}

void TableView::mouseDown(Event* e) {
  if (!isEnabled()) return;
  objc::AutoreleasePool pool;
  long row = rowAtPoint(convertPointFromView(e->locationInWindow(), nullptr));
  IndexSet* proposed = row >= 0 ? IndexSet::withIndex(static_cast<size_t>(row)) : IndexSet::make();
  IndexSet* chosen = delegate_ ? delegate_->selectionIndexesForProposedSelection(this, proposed) : proposed;
  if (chosen) setSelection(chosen);
  if (e->clickCount() == 2 && doubleAction())
    sendAction(doubleAction(), target());
  else if (action())
    sendAction(action(), target());
}

}  // namespace appkit
