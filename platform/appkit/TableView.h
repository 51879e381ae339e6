#pragma once
// Stands in for the platform's table view, as far as a list needs it: rows
// counted by the data source, a selection of row indexes that the user
// changes by clicking (each proposal put to the delegate first, and the
// delegate told of every change), and the index sets that carry it.  Rows
// are the table's row height apart, top-down from its top edge.

#include <cstddef>
#include <vector>

#include "platform/appkit/Geometry.h"
#include "platform/appkit/View.h"
#include "platform/objc/Ref.h"
#include "qocore/base/plat/CharArray.h"

namespace appkit {

// A sorted set of indexes.
class IndexSet : public objc::Object {
 public:
  // indexSet and indexSetWithIndex:: autoreleased.
  static IndexSet* make();
  static IndexSet* withIndex(size_t index);
  // A copy (one reference, the caller's).
  IndexSet* copy() const;

  size_t count() const noexcept { return indexes_.size(); }
  bool containsIndex(size_t index) const noexcept;
  // kNotFound when empty.
  size_t firstIndex() const noexcept { return indexes_.empty() ? kNotFound : indexes_.front(); }
  // The next index above `index`, or kNotFound.
  size_t indexGreaterThanIndex(size_t index) const noexcept;
  void addIndex(size_t index);
  void removeIndex(size_t index);
  void removeAllIndexes() noexcept { indexes_.clear(); }
  bool isEqual(const IndexSet& other) const noexcept { return indexes_ == other.indexes_; }

 protected:
  ~IndexSet() override = default;

 private:
  std::vector<size_t> indexes_;
};

class TableColumn : public objc::Object {
 public:
  // initWithIdentifier: (one reference, the caller's).
  explicit TableColumn(const char* identifier) : identifier_(identifier ? identifier : "") {}
  const char* identifier() const noexcept { return identifier_.c_str(); }

 protected:
  ~TableColumn() override = default;

 private:
  plat::CharArray identifier_;
};

class TableView;

// The data source's messages.
class TableViewDataSource {
 public:
  virtual ~TableViewDataSource() = default;
  virtual long numberOfRowsInTableView(TableView* table) = 0;
  virtual objc::Object* objectValue(TableView* table, TableColumn* column, long row) = 0;
  virtual void setObjectValue(TableView*, objc::Object* /*value*/, TableColumn*, long /*row*/) {}
};

// The delegate's messages, each with the platform's answer when the
// delegate does not implement it.
class TableViewDelegate {
 public:
  virtual ~TableViewDelegate() = default;
  virtual bool shouldSelectRow(TableView*, long /*row*/) { return true; }
  virtual bool shouldSelectTableColumn(TableView*, TableColumn*) { return true; }
  virtual bool shouldEditTableColumn(TableView*, TableColumn*, long /*row*/) { return true; }
  // tableView:selectionIndexesForProposedSelection:: the rows to select
  // (an autoreleased or the proposed set).
  virtual IndexSet* selectionIndexesForProposedSelection(TableView*, IndexSet* proposed) { return proposed; }
  // tableViewSelectionDidChange:, whose notification's object is the
  // table.
  virtual void tableViewSelectionDidChange(TableView*) {}
  virtual objc::Object* toolTipForRow(TableView*, TableColumn*, long /*row*/) { return nullptr; }
  // tableView:willDisplayCell:forTableColumn:row:: a data cell, its value
  // set for the row, is about to be drawn; the delegate may set it up.
  virtual void willDisplayCell(TableView*, objc::Object* /*cell*/, TableColumn*, long /*row*/) {}
};

// A delegate that sets each row's height (tableView:heightOfRow:).
class TableViewRowHeightDelegate {
 public:
  virtual ~TableViewRowHeightDelegate() = default;
  virtual double heightOfRow(TableView* table, long row) = 0;
};

class TableView : public Control {
 public:
  // initWithFrame: (one reference, the caller's).
  explicit TableView(Rect frame = {});

  TableViewDataSource* dataSource() const noexcept { return dataSource_; }
  // Neither is retained.
  void setDataSource(TableViewDataSource* source) noexcept { dataSource_ = source; }
  TableViewDelegate* delegate() const noexcept { return delegate_; }
  void setDelegate(TableViewDelegate* delegate) noexcept { delegate_ = delegate; }

  // Retained.
  void addTableColumn(TableColumn* column);
  const std::vector<TableColumn*>& tableColumns() const noexcept { return columns_.items(); }

  // The data source's count (0 without one, or for a negative answer).
  long numberOfRows();
  // Drops selected rows past the end.
  void reloadData();
  double rowHeight() const noexcept { return rowHeight_; }
  void setRowHeight(double height) noexcept { rowHeight_ = height; }
  // The row under a point of the table (flipped), -1 below the rows;
  // clicks find their row through it.
  virtual long rowAtPoint(Point point);
  bool isFlipped() const override { return true; }

  // The current selection (the table's own set; copy it to keep it).
  IndexSet* selectedRowIndexes() const noexcept { return selected_; }
  long selectedRow() const noexcept;
  // selectRowIndexes:byExtendingSelection:: as the program selects, no
  // delegate question; the delegate hears of a change.
  void selectRowIndexes(IndexSet* indexes, bool extend);
  void deselectAll(objc::Object* sender);

  // A click proposes its row (or, below the rows, no row) to the delegate
  // and selects what it answers.
  void mouseDown(Event* e) override;

 protected:
  ~TableView() override;

 private:
  void setSelection(IndexSet* indexes);

  TableViewDataSource* dataSource_ = nullptr;
  TableViewDelegate* delegate_ = nullptr;
  objc::RefVector<TableColumn> columns_;
  objc::Ref<IndexSet> selected_;
  double rowHeight_;
};

}  // namespace appkit
