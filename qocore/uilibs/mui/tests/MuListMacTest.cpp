#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/Metrics.h"
#include "platform/objc/String.h"
#include "qocore/uilibs/mui/NamedImageHolder.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/mac/MuListMac.h"
#include "qocore/uilibs/mui/tests/MacPeerTestSupport.h"

namespace mui {
namespace {

struct Events : MuObserver {
  void notify(MuElement*, MuEvent event) override { seen.push_back(event); }
  std::vector<int> seen;
};

struct OddRowsOnly : MuList::Callback {
  bool canSelect(MuList*, int32_t row) override { return row % 2 == 1; }
  bool rowStyle(MuList*, int32_t row, int32_t, MuFont& style) override {
    if (row != 1) return false;
    style.background = plat::CharArray("#102030");
    return true;
  }
};

class MuListMacTest : public mui_test::MacPeerTest {
 protected:
  void SetUp() override {
    MacPeerTest::SetUp();
    muListFactory = MuListMac::create;
  }
  MuListMac* list(uint32_t flags, MuList::Callback* callback = nullptr) {
    auto* l = static_cast<MuListMac*>(MuList::create(dialog_.get(), "l", flags, callback));
    l->addObserver(&events_);
    return l;
  }
  static void fill(MuList* l, int rows) {
    for (int r = 0; r < rows; ++r) {
      l->insertRow(-1);
      l->setCell(r, 7, ("row " + std::to_string(r)).c_str());
    }
  }
  // A user click on a row of a shown list.
  void click(MuListMac* l, long row, int count = 1) {
    appkit::RowTableView* t = l->tableView();
    const appkit::Point inTable{5, (row + 0.5) * t->rowHeight()};
    appkit::Point base = t->convertPointToView(inTable, nullptr);
    for (int i = 0; i < count; ++i) appkit::inject::click(t->window(), base);
    appkit::inject::handleQueued();
  }

  Events events_;
};

TEST_F(MuListMacTest, TheTableSitsInABezelledScrollViewAndReadsTheRowStore) {
  MuListMac* l = list(0);
  l->addColumn(7, 0, "Name", -1);
  fill(l, 3);
  EXPECT_EQ(nativeViewOf(l), l->scrollView());
  EXPECT_EQ(l->scrollView()->documentView(), l->tableView());
  EXPECT_EQ(l->scrollView()->borderType(), appkit::kBezelBorder);
  EXPECT_TRUE(l->scrollView()->hasVerticalScroller());
  EXPECT_TRUE(l->scrollView()->autohidesScrollers());
  EXPECT_FALSE(l->tableView()->hasHeaderView());
  EXPECT_TRUE(list(MuList::kHeader)->tableView()->hasHeaderView());
  // The horizontal bridge: the one that answers each row's height.
  EXPECT_NE(dynamic_cast<ui::TableViewDelegateHorOC*>(l->bridge()), nullptr);
  EXPECT_EQ(l->tableView()->numberOfRows(), 3);
  auto* column = static_cast<appkit::SizedTableColumn*>(l->tableView()->tableColumns()[0]);
  EXPECT_STREQ(column->identifier(), "0");
  EXPECT_STREQ(column->headerTitle(), "Name");
  auto* value = dynamic_cast<objc::String*>(l->bridge()->objectValue(l->tableView(), column, 2));
  ASSERT_NE(value, nullptr);
  EXPECT_STREQ(value->utf8(), "row 2");
  l->removeRow(0);
  EXPECT_EQ(l->tableView()->numberOfRows(), 2);
  l->removeAllRows();
  EXPECT_EQ(l->tableView()->numberOfRows(), 0);
}

// A list whose rows start lower than the image cells.
class LowRows : public MuListMac {
 public:
  LowRows(MuContainer* parent) : MuListMac(parent, "low", 0, nullptr) { rowHeight_ = listImageSize - 6; }
};

TEST_F(MuListMacTest, AnImageColumnMakesEveryRowImageSizePlusFourHigh) {
  // Rows as high as the image cells or higher keep their height.
  MuListMac* high = list(0);
  ASSERT_GE(high->rowHeight(), listImageSize);
  const double before = high->rowHeight();
  high->addColumn(1, MuList::kImageColumn, nullptr, -1);
  EXPECT_EQ(high->rowHeight(), before);

  auto* l = new LowRows(dialog_.get());
  dialog_->addChild(l);
  l->addColumn(1, MuList::kImageColumn, nullptr, -1);
  l->addColumn(7, 0, nullptr, 50);
  fill(l, 2);
  EXPECT_EQ(l->rowHeight(), listImageSize + 4);
  EXPECT_EQ(l->tableView()->heightOfRow(1), listImageSize + 4);
  EXPECT_EQ(l->tableView()->rectOfRow(1).origin.y, listImageSize + 4);
  auto* image = static_cast<appkit::SizedTableColumn*>(l->tableView()->tableColumns()[0]);
  EXPECT_EQ(image->width(), listImageSize);
  EXPECT_EQ(image->resizingMask(), 0u);
  EXPECT_NE(dynamic_cast<appkit::ImageCell*>(image->dataCell()), nullptr);
  // No image of that name: the cell shows nothing.
  l->setCell(0, 1, "no-such-image");
  EXPECT_EQ(l->bridge()->objectValue(l->tableView(), image, 0), nullptr);
  auto* text = static_cast<appkit::SizedTableColumn*>(l->tableView()->tableColumns()[1]);
  EXPECT_EQ(text->width(), 50);
  EXPECT_EQ(text->resizingMask(), 0u);
}

TEST_F(MuListMacTest, AutoColumnsShareTheFreeWidthAndTheLastIsLeftToAppKit) {
  MuListMac* l = list(0);
  l->addColumn(1, 0, nullptr, 100);
  l->addColumn(2, 0, nullptr, -1);
  l->addColumn(3, 0, nullptr, -1);
  // A content width of 300 inside the one-point bezel and the scroller.
  l->setSize({302 + static_cast<int32_t>(appkit::kScrollerWidth), 100});
  ASSERT_EQ(l->scrollView()->contentView()->bounds().size.width, 300);
  const auto& columns = l->tableView()->tableColumns();
  EXPECT_EQ(static_cast<appkit::SizedTableColumn*>(columns[1])->width(), 100);
  EXPECT_EQ(static_cast<appkit::SizedTableColumn*>(columns[2])->width(), 100);  // the default, untouched
  l->setSize({402 + static_cast<int32_t>(appkit::kScrollerWidth), 100});
  EXPECT_EQ(static_cast<appkit::SizedTableColumn*>(columns[1])->width(), 150);
}

TEST_F(MuListMacTest, ProgramSelectionsAreNotReportedUserClicksAre) {
  OddRowsOnly odd;
  MuListMac* l = list(0, &odd);
  l->addColumn(7, 0, nullptr, -1);
  fill(l, 4);
  l->setSize({200, 200});
  dialog_->setVisible(true);

  l->setSelected(1);
  EXPECT_EQ(l->getSelected(), 1);
  EXPECT_EQ(l->tableView()->lastScrolledRow(), 1);
  l->setSelected(2);  // refused by the callback
  EXPECT_EQ(l->getSelected(), -1);
  l->setSelected(9);
  EXPECT_EQ(l->getSelected(), -1);
  EXPECT_TRUE(events_.seen.empty());

  click(l, 3);
  EXPECT_EQ(l->getSelected(), 3);
  EXPECT_EQ(events_.seen, (std::vector<int>{kEventChanged, kEventClicked}));
  events_.seen.clear();
  click(l, 0);  // refused: the selection stays
  EXPECT_EQ(l->getSelected(), 3);
}

TEST_F(MuListMacTest, AFixedSelectionListIgnoresClicksButNotTheProgram) {
  MuListMac* l = list(MuList::kFixedSelection);
  l->addColumn(7, 0, nullptr, -1);
  fill(l, 3);
  l->setSize({200, 200});
  dialog_->setVisible(true);
  l->setSelected(0);
  click(l, 2);
  EXPECT_EQ(l->getSelected(), 0);
  l->setSelected(2);
  EXPECT_EQ(l->getSelected(), 2);
}

TEST_F(MuListMacTest, StyledRowsGetTheirBackgroundAndSelectedTextColour) {
  OddRowsOnly odd;
  MuListMac* l = list(0, &odd);
  l->addColumn(7, 0, nullptr, -1);
  fill(l, 2);
  auto* column = l->tableView()->tableColumns()[0];
  auto* cell = static_cast<TextFieldCellOC*>(static_cast<appkit::SizedTableColumn*>(column)->dataCell());
  l->bridge()->willDisplayCell(l->tableView(), cell, column, 1);
  EXPECT_TRUE(cell->drawsBackground());
  EXPECT_NE(cell->backgroundColor(), nullptr);
  l->bridge()->willDisplayCell(l->tableView(), cell, column, 0);
  EXPECT_FALSE(cell->drawsBackground());

  l->setSelected(1);
  auto* styled = dynamic_cast<appkit::AttributedString*>(l->bridge()->objectValue(l->tableView(), column, 1));
  ASSERT_NE(styled, nullptr);
  EXPECT_STREQ(styled->string()->utf8(), "row 1");
}

TEST_F(MuListMacTest, SizeToContentWidensTextColumnsToTheirTexts) {
  MuListMac* l = list(MuList::kSizeToContent);
  l->addColumn(7, 0, nullptr, -1);
  l->insertRow(-1);
  l->setCell(0, 7, "a");
  auto* column = static_cast<appkit::SizedTableColumn*>(l->tableView()->tableColumns()[0]);
  const double narrow = column->width();
  l->setCell(0, 7, "a much longer text than before");
  EXPECT_GT(column->width(), narrow);
  EXPECT_EQ(column->resizingMask(), 0u);
  EXPECT_GT(l->widthForHeight(20), static_cast<int32_t>(column->width()));
}

}  // namespace
}  // namespace mui
