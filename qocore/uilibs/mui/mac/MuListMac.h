#pragma once
// mui::MuListMac: the macOS list element.  A table of text and image
// columns in a bezelled scroll view; AppKit reads the rows from the core's
// row store through the table bridge, which is installed with the row
// height question so that image columns can make the rows higher.  User
// selections, clicks and double clicks become element events; selections
// the program makes are not reported back.
//
// Main thread only.

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TableColumns.h"
#include "platform/objc/Ref.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/ui/mac/ActionTarget.h"
#include "qocore/uilibs/ui/mac/DelegateBridges.h"

namespace mui {

// A list's text cell: its text sits centred in the row's height, inset by
// two points at either side, over the row style's background when the
// list gives it one.
class TextFieldCellOC : public appkit::TextFieldCell {
 public:
  // The platform's title rectangle, moved so that the one-line height of
  // the attributed value is centred in the bounds.
  appkit::Rect titleRectForBounds(appkit::Rect bounds) const override;
  void drawInteriorWithFrame(appkit::Rect frame, appkit::View* view) override;

 protected:
  ~TextFieldCellOC() override = default;
};

class MuListMac : public MuList, public ui::TableViewDelegate, public ui::ActionCallback {
 public:
  // The creator hook's signature.
  static MuList* create(MuContainer* parent, const char* id, uint32_t flags, Callback* callback);

  MuListMac(MuContainer* parent, const char* id, uint32_t flags, Callback* callback);
  ~MuListMac() override;

  void setSize(Size size) override;
  int32_t widthForHeight(int32_t height) override;
  void setSelected(int32_t row) override;
  int32_t getSelected() override;
  void addColumn(int32_t key, uint32_t type, const char* header, int32_t width) override;
  void insertRow(int32_t index) override;
  void removeRow(int32_t index) override;
  void removeAllRows() override;
  void setCell(int32_t row, int32_t columnKey, const char* text) override;
  void scrollToRow(int32_t row);
  // A negative row redraws every row.
  void refreshRow(int32_t row);

  double rowHeightOf(appkit::TableView* table, long row) override;
  bool shouldEditColumn(appkit::TableView*, appkit::TableColumn*, long) override { return false; }
  bool shouldSelectRow(appkit::TableView* table, long row) override;
  bool selectionShouldChange(appkit::TableView* table) override;
  bool shouldSelectColumn(appkit::TableView*, appkit::TableColumn*) override { return false; }
  void selectionDidChange(appkit::TableView* table) override;
  objc::Object* toolTipFor(appkit::TableView*, appkit::TableColumn*, long) override { return nullptr; }
  int32_t numberOfRows(appkit::TableView* table) override;
  objc::Object* cellValue(appkit::TableView* table, appkit::TableColumn* column, long row) override;
  void setCellValue(appkit::TableView*, appkit::TableColumn*, long, objc::Object*) override {}
  void willDisplayCell(objc::Object* cell, appkit::TableColumn* column, long row) override;

  void action(objc::Object* sender) override;
  void doubleClick(objc::Object* sender) override;

  appkit::ScrollView* scrollView() const noexcept { return scrollView_; }
  appkit::RowTableView* tableView() const noexcept { return tableView_; }
  ui::TableViewDelegateOC* bridge() const noexcept { return tableDelegate_->bridge(); }
  double rowHeight() const noexcept { return rowHeight_; }

 private:
  appkit::SizedTableColumn* columnAt(size_t index) const;
  // The widest cell text of a column, in the cell font at the row height.
  int32_t widestText(size_t column);
  void shareFreeWidth();
  // The table as wide as the visible area and as high as its rows.
  void fitTable();
  void sizeTextColumnsToContent();

  // The rows' height, raised by image columns taller than it.
 protected:
  double rowHeight_;

 private:
  objc::Ref<appkit::ScrollView> scrollView_;
  objc::Ref<appkit::RowTableView> tableView_;
  std::unique_ptr<ui::TableViewDelegateHolder> tableDelegate_;
  std::unique_ptr<ui::ActionTarget> actionTarget_;
  std::vector<int32_t> columnWidths_;
  bool selectingInCode_ = false;
};

}  // namespace mui
