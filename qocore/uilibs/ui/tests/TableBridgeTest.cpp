#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/Window.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/uilibs/ui/mac/DelegateBridges.h"
#include "testing/LogCapture.h"

namespace ui {
namespace {

// A list of six rows; odd rows may not be selected.
class List : public TableViewDelegate {
 public:
  double rowHeightOf(appkit::TableView*, long row) override { return 10.0 + static_cast<double>(row); }
  bool shouldEditColumn(appkit::TableView*, appkit::TableColumn*, long) override { return false; }
  bool shouldSelectRow(appkit::TableView*, long row) override {
    asked.push_back(row);
    return row % 2 == 0;
  }
  bool selectionShouldChange(appkit::TableView*) override { return allowEmpty; }
  bool shouldSelectColumn(appkit::TableView*, appkit::TableColumn*) override { return false; }
  void selectionDidChange(appkit::TableView* table) override {
    changes.push_back(table->selectedRow());
    if (fail) throw plat::Exception("list broke");
  }
  objc::Object* toolTipFor(appkit::TableView*, appkit::TableColumn*, long) override { return nullptr; }
  int32_t numberOfRows(appkit::TableView*) override { return 6; }
  objc::Object* cellValue(appkit::TableView*, appkit::TableColumn*, long row) override {
    return objc::String::withUtf8(("row " + std::to_string(row)).c_str());
  }
  void setCellValue(appkit::TableView*, appkit::TableColumn*, long, objc::Object*) override {}
  void willDisplayCell(objc::Object*, appkit::TableColumn*, long) override {}

  std::vector<long> asked;
  std::vector<long> changes;
  bool allowEmpty = false;
  bool fail = false;
};

class TableBridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    appkit::Application::reset();
    appkit::inject::mainDisplay(1440, 900, 1);
    window_ = new appkit::Window(appkit::makeRect(100, 100, 200, 200), appkit::kWindowStyleTitled);
    window_->setReleasedWhenClosed(false);
    window_->makeKeyAndOrderFront(nullptr);
    table_ = new appkit::TableView(appkit::makeRect(0, 0, 200, 200));
    window_->contentView()->addSubview(table_);
  }
  void TearDown() override {
    table_->release();
    window_->release();
    appkit::Application::reset();
  }
  // Clicks row `row` (rows are 19 points from the table's top).
  void clickRow(long row) {
    double y = static_cast<double>(row) * appkit::kTableRowHeight + 5;
    appkit::inject::click(window_, {20, 200 - y});
    appkit::inject::handleQueued();
  }
  appkit::IndexSet* rows(std::initializer_list<size_t> indexes) {
    appkit::IndexSet* s = appkit::IndexSet::make();
    for (size_t i : indexes) s->addIndex(i);
    return s;
  }

  objc::AutoreleasePool pool_;
  appkit::Window* window_ = nullptr;
  appkit::TableView* table_ = nullptr;
};

TEST_F(TableBridgeTest, ProposedSelectionsPassEveryRowOrKeepTheOldOne) {
  List list;
  TableViewDelegateHolder holder(&list, table_, false);
  EXPECT_EQ(table_->numberOfRows(), 6);
  TableViewDelegateOC* bridge = holder.bridge();
  table_->selectRowIndexes(rows({4}), false);
  EXPECT_EQ(list.changes, (std::vector<long>{4}));

  // {2, 5}: 5 is refused, so the old selection stays.
  appkit::IndexSet* answer = bridge->selectionIndexesForProposedSelection(table_, rows({2, 5}));
  EXPECT_TRUE(answer->isEqual(*rows({4})));
  EXPECT_EQ(list.asked, (std::vector<long>{2, 5}));
  appkit::IndexSet* proposed = rows({0, 2});
  EXPECT_EQ(bridge->selectionIndexesForProposedSelection(table_, proposed), proposed);
  // An empty selection only when the receiver allows it.
  EXPECT_TRUE(bridge->selectionIndexesForProposedSelection(table_, rows({}))->isEqual(*rows({4})));
  list.allowEmpty = true;
  EXPECT_EQ(bridge->selectionIndexesForProposedSelection(table_, rows({}))->count(), 0u);

  // Clicks go the same way.
  list.allowEmpty = false;
  list.changes.clear();
  clickRow(2);
  EXPECT_EQ(table_->selectedRow(), 2);
  clickRow(3);
  EXPECT_EQ(table_->selectedRow(), 2);
  clickRow(9);  // below the rows: an empty proposal, refused
  EXPECT_EQ(table_->selectedRow(), 2);
  list.allowEmpty = true;
  clickRow(9);
  EXPECT_EQ(table_->selectedRow(), -1);
  EXPECT_EQ(list.changes, (std::vector<long>{2, -1}));
}

TEST_F(TableBridgeTest, ReceiverExceptionsAreLoggedAndHoldersDetach) {
  yarl_test::LogCapture log;
  List list;
  list.fail = true;
  auto holder = std::make_unique<TableViewDelegateHolder>(&list, table_, true);
  table_->selectRowIndexes(rows({0}), false);
  EXPECT_EQ(log.from("TableViewDelegate"),
            (std::vector<yarl_test::LogRecord>{{"TableViewDelegate", 0, "Unhandled exception: list broke"}}));
  auto* hor = dynamic_cast<TableViewDelegateHorOC*>(holder->bridge());
  ASSERT_NE(hor, nullptr);
  EXPECT_DOUBLE_EQ(hor->heightOfRow(table_, 3), 13);
  EXPECT_STREQ(static_cast<objc::String*>(holder->bridge()->objectValue(table_, nullptr, 1))->utf8(), "row 1");

  TableViewDelegateOC* bridge = holder->bridge();
  bridge->retain();
  holder.reset();
  EXPECT_EQ(table_->delegate(), nullptr);
  EXPECT_EQ(table_->dataSource(), nullptr);
  EXPECT_EQ(table_->numberOfRows(), 0);
  // A late call on the bridge reaches no one.
  EXPECT_EQ(bridge->numberOfRowsInTableView(table_), 0);
  EXPECT_TRUE(bridge->shouldSelectRow(table_, 1));
  bridge->tableViewSelectionDidChange(table_);
  bridge->release();
  EXPECT_EQ(list.changes.size(), 1u);
}

}  // namespace
}  // namespace ui
