#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Graphics.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/Metrics.h"
#include "platform/appkit/TextMetrics.h"
#include "platform/appkit/TextSystem.h"
#include "platform/objc/String.h"
#include "qocore/base/plat/Resource.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/qoutil/tests/PngWriter.h"
#include "qocore/base/rfb/PixelBuffer.h"
#include "qocore/uilibs/mui/NamedImageHolder.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/mac/MuListMac.h"
#include "qocore/uilibs/mui/tests/MacPeerTestSupport.h"
#include "qocore/uilibs/ui/mac/SysColorsMac.h"
#include "testing/FileFixtures.h"

namespace mui {
namespace {

// Clicks are single or double by the time between them: a clock the
// tests move on.
plat::TimeValue fakeNow = 7'000'000'000;
plat::TimeValue fakeClock(plat::TimeValue, bool*) { return fakeNow; }

uint32_t pixelOf(appkit::Color* colour) {
  const plat::Rgb rgb = ui::rgbFromColour(colour);
  return 0xff000000u | uint32_t(rgb.blue) << 16 | uint32_t(rgb.green) << 8 | uint32_t(rgb.red);
}

// A view drawn into pixels as the window draws it, top row first, and the
// text it drew.
class Drawing {
 public:
  explicit Drawing(appkit::View* view)
      : buffer_(rfb::PixelFormat::rgbaBytes(), rfb::Rect(0, 0, static_cast<int>(view->bounds().size.width),
                                                         static_cast<int>(view->bounds().size.height))) {
    int32_t stride = 0;
    uint8_t* p = buffer_.getPixelsRW(buffer_.getRect(), &stride);
    std::fill(p, p + static_cast<size_t>(stride) * 4 * buffer_.height(), 0);
    appkit::clearTextDrawings();
    auto* context = new appkit::GraphicsContext(buffer_, 1, true);
    view->displayRectIgnoringOpacity(view->bounds(), context);
    context->release();
  }
  uint32_t at(int x, int y) const { return buffer_.getPixel(rfb::Point{x, y}); }
  // The colour a text was drawn in (null: the default text colour).
  static appkit::Color* colourOf(const char* text) {
    for (const appkit::TextDrawing& d : appkit::textDrawings())
      if (std::strcmp(d.text.get(), text) == 0) return static_cast<appkit::Color*>(d.colour);
    ADD_FAILURE() << "not drawn: " << text;
    return nullptr;
  }

 private:
  rfb::ManagedPixelBuffer buffer_;
};

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
    previousClock_ = plat::setMonotonicClock(fakeClock);
  }
  void TearDown() override {
    plat::setMonotonicClock(previousClock_);
    MacPeerTest::TearDown();
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
    const appkit::Rect r = l->tableView()->rectOfRow(row);
    clickAt(l, {5, r.origin.y + r.size.height / 2}, count);
  }
  // `count` clicks in quick succession at a point of the table, well after
  // any earlier click.
  void clickAt(MuListMac* l, appkit::Point inTable, int count = 1) {
    appkit::RowTableView* t = l->tableView();
    fakeNow += (appkit::kDoubleClickIntervalMs + 1) * plat::kTicksPerMs;
    appkit::Point base = t->convertPointToView(inTable, nullptr);
    for (int i = 0; i < count; ++i) appkit::inject::click(t->window(), base);
    appkit::inject::handleQueued();
  }

  Events events_;
  plat::MonotonicClockFn previousClock_ = nullptr;
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

TEST_F(MuListMacTest, ImageCellsDrawTheirImageCentredAtItsOwnSize) {
  static std::string folder;
  yarl_test::TempDir dir;
  folder = dir.path();
  const plat::resource_dir::DirFn previous = plat::resource_dir::set([] { return plat::CharArray(folder.c_str()); });
  plat::ScopeExit restore([&] { plat::resource_dir::set(previous); });
  qoutil_test::TestPng png;
  png.width = listImageSize;
  png.height = listImageSize;
  const std::vector<uint8_t> bytes = qoutil_test::encodePng(png);
  dir.write("listdot.png", std::string(bytes.begin(), bytes.end()));

  auto* l = new LowRows(dialog_.get());
  dialog_->addChild(l);
  l->addColumn(1, MuList::kImageColumn, nullptr, -1);
  l->addColumn(7, 0, nullptr, 50);
  fill(l, 2);
  l->setCell(0, 1, "no-such-image");
  l->setCell(1, 1, "listdot");
  l->setSize({200, 200});
  Drawing d(l->tableView());
  const uint32_t plain = pixelOf(appkit::Color::textBackgroundColor());
  const int top = listImageSize + 4 + 2;  // the second row's, and the margin above the image
  for (int y : {0, 7, listImageSize - 1})
    for (int x : {0, 9, listImageSize - 1}) {
      const uint32_t want = 0xff000000u | png.sample(uint32_t(x), uint32_t(y), 2) << 16 |
                            png.sample(uint32_t(x), uint32_t(y), 1) << 8 | png.sample(uint32_t(x), uint32_t(y), 0);
      EXPECT_EQ(d.at(x, top + y), want) << x << "," << y;
    }
  EXPECT_EQ(d.at(8, top - 1), plain);
  EXPECT_EQ(d.at(8, top + listImageSize), plain);
  // A missing image draws nothing.
  EXPECT_EQ(d.at(8, 10), plain);
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
  // The click itself still reaches the program; no change does.
  EXPECT_EQ(events_.seen, (std::vector<int>{kEventClicked}));
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

TEST_F(MuListMacTest, TheTableDrawsStyledBackgroundsAndTheSelectedStyledTextInTheSelectedTextColour) {
  OddRowsOnly odd;  // styles row 1 with a background only
  MuListMac* l = list(0, &odd);
  l->addColumn(7, 0, nullptr, 80);
  fill(l, 3);
  l->setSize({200, 200});
  const int h = static_cast<int>(l->tableView()->heightOfRow(0));
  const uint32_t styled = 0xff302010;  // "#102030"
  const uint32_t plain = pixelOf(appkit::Color::textBackgroundColor());
  {
    Drawing d(l->tableView());
    EXPECT_EQ(d.at(40, h + h / 2), styled);
    EXPECT_EQ(d.at(40, h / 2), plain);
    EXPECT_EQ(d.at(120, h + h / 2), plain);  // beyond the cell
    EXPECT_EQ(Drawing::colourOf("row 0"), nullptr);
    appkit::Color* text = Drawing::colourOf("row 1");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(pixelOf(text), pixelOf(appkit::Color::textColor()));
  }
  l->setSelected(1);
  {
    Drawing d(l->tableView());
    // The cell's background over the selected row's.
    EXPECT_EQ(d.at(40, h + h / 2), styled);
    EXPECT_EQ(d.at(120, h + h / 2), pixelOf(appkit::Color::alternateSelectedControlColor()));
    EXPECT_EQ(d.at(40, h / 2), plain);
    appkit::Color* text = Drawing::colourOf("row 1");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(pixelOf(text), pixelOf(appkit::Color::alternateSelectedControlTextColor()));
  }
}

TEST_F(MuListMacTest, TextCellsCentreTheirTextAndDrawItTwoPointsIn) {
  struct Case {
    const char* what;
    double points;  // 0: a plain string in the system font
  };
  // clang-format off
  const Case cases[] = {
      {"plain string", 0},
      {"large styled text", 30},
  };
  // clang-format on
  const appkit::Rect bounds = appkit::makeRect(10, 20, 80, 40);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    objc::AutoreleasePool pool;
    auto* cell = new TextFieldCellOC;
    appkit::Font* font = appkit::Font::systemFontOfSize(c.points);
    if (c.points == 0) {
      cell->setObjectValue(objc::String::withUtf8("Hi"));
    } else {
      appkit::Attributes a;
      a.set(appkit::kFontAttributeName, font);
      cell->setObjectValue(appkit::AttributedString::withUtf8("Hi", a));
    }
    const double textHeight = appkit::textMetrics().lineHeight(*font);
    const appkit::Rect platform = cell->appkit::TextFieldCell::titleRectForBounds(bounds);
    const appkit::Rect title = cell->titleRectForBounds(bounds);
    EXPECT_EQ(title.origin.x, platform.origin.x);
    EXPECT_EQ(title.size, platform.size);
    EXPECT_DOUBLE_EQ(title.origin.y, 20 - 0.5 + (40 - textHeight) * 0.5);

    rfb::ManagedPixelBuffer buffer(rfb::PixelFormat::rgbaBytes(), rfb::Rect(0, 0, 100, 70));
    auto* context = new appkit::GraphicsContext(buffer, 1, true);
    appkit::GraphicsContext::setCurrent(context);
    appkit::clearTextDrawings();
    cell->drawWithFrame(bounds, nullptr);
    appkit::GraphicsContext::setCurrent(nullptr);
    context->release();
    ASSERT_EQ(appkit::textDrawings().size(), 1u);
    EXPECT_EQ(appkit::textDrawings()[0].rect.origin.x, platform.origin.x + 2);
    EXPECT_DOUBLE_EQ(appkit::textDrawings()[0].rect.origin.y, title.origin.y);
    cell->release();
  }
}

TEST_F(MuListMacTest, ClicksFindTheirRowByTheRowHeightsTheListGives) {
  auto* l = new LowRows(dialog_.get());
  dialog_->addChild(l);
  l->addObserver(&events_);
  l->addColumn(1, MuList::kImageColumn, nullptr, -1);
  l->addColumn(7, 0, nullptr, -1);
  fill(l, 3);
  l->setSize({200, 200});
  dialog_->setVisible(true);
  const double h = listImageSize + 4;
  ASSERT_GT(h, l->tableView()->rowHeight());
  EXPECT_EQ(l->tableView()->rectOfRow(1), appkit::makeRect(0, h, l->tableView()->bounds().size.width, h));

  // Just above the third row: rows of the table's own height would put
  // the point in the third.
  const appkit::Point second{30, 2 * h - 1};
  clickAt(l, second);
  EXPECT_EQ(l->getSelected(), 1);
  EXPECT_EQ(events_.seen, (std::vector<int>{kEventChanged, kEventClicked}));
  events_.seen.clear();
  clickAt(l, second, 2);
  EXPECT_EQ(l->getSelected(), 1);
  EXPECT_EQ(events_.seen, (std::vector<int>{kEventClicked, kEventItemActivated}));
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
