#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Cursor.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/Window.h"
#include "qocore/base/plat/Timer.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/mac/MuSplitterMac.h"
#include "qocore/uilibs/mui/tests/MacPeerTestSupport.h"
#include "qocore/uilibs/ui/mac/SysColorsMac.h"

namespace mui {
namespace {

using Pane = mui_test::ViewLeaf;
using appkit::makeRect;

class MuSplitterMacTest : public mui_test::MacPeerTest {
 protected:
  void SetUp() override {
    MacPeerTest::SetUp();
    muSplitterFactory = MuSplitterMac::create;
  }
  MuSplitterMac* splitter(int panes, Pane** out) {
    auto* s = static_cast<MuSplitterMac*>(MuSplitter::create(dialog_.get(), "sp", 0, 0, 0));
    for (int i = 0; i < panes; ++i) {
      out[i] = new Pane(s, ("p" + std::to_string(i)).c_str());
      s->addChild(out[i]);
    }
    s->setSize({300, 100});
    return s;
  }
  // The columns of a drawing that hold any painted pixel, with the pixel
  // of their first painted row.
  static std::vector<std::pair<int, uint32_t>> paintedColumns(const mui_test::Drawn& d) {
    std::vector<std::pair<int, uint32_t>> columns;
    for (int x = 0; x < d.width; ++x)
      for (int y = 0; y < d.height; ++y)
        if (d.at(x, y)) {
          columns.push_back({x, d.at(x, y)});
          break;
        }
    return columns;
  }
  static std::vector<int> paintedRows(const mui_test::Drawn& d) {
    std::vector<int> rows;
    for (int y = 0; y < d.height; ++y)
      for (int x = 0; x < d.width; ++x)
        if (d.at(x, y)) {
          rows.push_back(y);
          break;
        }
    return rows;
  }
  static std::vector<appkit::Rect> cursorRects(appkit::View* view, int cursor) {
    std::vector<appkit::Rect> rects;
    for (const appkit::View::CursorRect& r : view->cursorRects()) {
      EXPECT_EQ(r.cursor, cursor);
      rects.push_back(r.rect);
    }
    return rects;
  }
};

TEST_F(MuSplitterMacTest, EachDividerGetsAResizeCursorExceptWhileDragging) {
  Pane* panes[2];
  MuSplitterMac* s = splitter(2, panes);
  EXPECT_EQ(panes[0]->view()->superview(), s->splitterView());
  ASSERT_EQ(s->dividerRects().size(), 1u);
  const appkit::Rect d = s->dividerRects()[0];
  EXPECT_EQ(d.size.width, s->dividerThickness());
  EXPECT_EQ(d.size.height, 100);
  ASSERT_EQ(s->splitterView()->cursorRects().size(), 1u);
  EXPECT_EQ(s->splitterView()->cursorRects()[0].cursor, appkit::kCursorResizeLeftRight);
  appkit::Window* window = s->splitterView()->window();
  ASSERT_NE(window, nullptr);
  s->beginDrag();
  EXPECT_FALSE(window->areCursorRectsEnabled());
  s->endDrag();
  EXPECT_TRUE(window->areCursorRectsEnabled());
  EXPECT_EQ(s->splitterView()->cursorRects().size(), 1u);
}

TEST_F(MuSplitterMacTest, OnePaneHasNoDividerAndHiddenPanesLeaveTheViewTree) {
  Pane* one[1];
  MuSplitterMac* single = splitter(1, one);
  EXPECT_TRUE(single->dividerRects().empty());
  EXPECT_TRUE(single->splitterView()->cursorRects().empty());

  Pane* panes[2];
  MuSplitterMac* s = splitter(2, panes);
  s->setPaneVisible(false, 1);
  EXPECT_EQ(panes[1]->view()->superview(), nullptr);
  EXPECT_FALSE(panes[1]->isVisible());
  s->setPaneVisible(true, 1);
  EXPECT_EQ(panes[1]->view()->superview(), s->splitterView());
  s->removeChild(panes[0]);
  EXPECT_EQ(s->childCount(), 1);
}

TEST_F(MuSplitterMacTest, DividersArePaintedInTheirStyle) {
  const uint32_t divider = mui_test::pixelOf(ui::getColour("disabledText"));
  const uint32_t border = mui_test::pixelOf(ui::getColour("contentBg"));
  ASSERT_NE(divider, border);
  Pane* panes[3];
  MuSplitterMac* s = splitter(3, panes);
  const int32_t x0 = s->getDividerPosition(0);
  const int32_t x1 = s->getDividerPosition(1);
  ASSERT_EQ(s->dividerThickness(), 5);
  struct Case {
    uint32_t style;
    std::vector<uint32_t> columns;  // across one divider, left to right
  };
  const Case cases[] = {{0, {divider, divider, divider, divider, divider}},
                        {1, {divider, divider, divider, divider, divider}},
                        {2, {border, divider, divider, divider, border}}};
  for (const Case& c : cases) {
    s->setStyle(c.style);
    const mui_test::Drawn d = mui_test::drawView(s->splitterView(), 1, s->splitterView()->bounds());
    std::vector<std::pair<int, uint32_t>> expected;
    for (int32_t x : {x0, x1})
      for (int i = 0; i < 5; ++i) expected.push_back({x + i, c.columns[i]});
    EXPECT_EQ(paintedColumns(d), expected) << c.style;
    EXPECT_EQ(paintedRows(d).size(), 100u) << c.style;
  }

  // Only the dirty rectangle's rows are painted.
  s->setStyle(2);
  const mui_test::Drawn d = mui_test::drawView(s->splitterView(), 1, makeRect(0, 10, 300, 20));
  EXPECT_EQ(paintedRows(d).front(), 10);
  EXPECT_EQ(paintedRows(d).back(), 29);
  EXPECT_EQ(paintedColumns(d).size(), 10u);
}

TEST_F(MuSplitterMacTest, NothingIsPaintedForOnePaneOrAfterAHiddenPane) {
  Pane* one[1];
  MuSplitterMac* single = splitter(1, one);
  EXPECT_TRUE(paintedColumns(mui_test::drawView(single->splitterView(), 1, single->splitterView()->bounds())).empty());

  // A hidden pane has no divider of its own, not even its border columns.
  Pane* panes[3];
  MuSplitterMac* s = splitter(3, panes);
  s->setStyle(2);
  s->setPaneVisible(false, 1);
  const int32_t x = s->getDividerPosition(0);
  const std::vector<std::pair<int, uint32_t>> painted =
      paintedColumns(mui_test::drawView(s->splitterView(), 1, s->splitterView()->bounds()));
  ASSERT_EQ(painted.size(), 5u);
  EXPECT_EQ(painted.front().first, x);
  EXPECT_EQ(painted.back().first, x + 4);
  EXPECT_EQ(cursorRects(s->splitterView(), appkit::kCursorResizeLeftRight),
            (std::vector<appkit::Rect>{makeRect(x, 0, 5, 100)}));
}

TEST_F(MuSplitterMacTest, CursorRectanglesFollowTheDividersAndTheSize) {
  Pane* panes[3];
  MuSplitterMac* s = splitter(3, panes);
  auto expected = [&](double height) {
    return std::vector<appkit::Rect>{makeRect(s->getDividerPosition(0), 0, 5, height),
                                     makeRect(s->getDividerPosition(1), 0, 5, height)};
  };
  EXPECT_EQ(cursorRects(s->splitterView(), appkit::kCursorResizeLeftRight), expected(100));
  EXPECT_EQ(s->dividerRects(), expected(100));
  s->setSize({400, 60});
  EXPECT_EQ(cursorRects(s->splitterView(), appkit::kCursorResizeLeftRight), expected(60));

  // The window asks the splitter again for them.
  s->splitterView()->discardCursorRects();
  s->splitterView()->window()->resetCursorRects();
  EXPECT_EQ(cursorRects(s->splitterView(), appkit::kCursorResizeLeftRight), expected(60));

  // Moves over the whole view reach the splitter, also in an inactive window.
  ASSERT_EQ(s->splitterView()->trackingAreas().size(), 1u);
  const appkit::TrackingArea* area = s->splitterView()->trackingAreas()[0];
  EXPECT_EQ(area->options(), 0x283u);
  EXPECT_EQ(area->owner(), s->splitterView());
}

TEST_F(MuSplitterMacTest, DraggingADividerWithdrawsTheCursorRectanglesUntilRelease) {
  plat::TimerManager timers;
  Pane* panes[2];
  MuSplitterMac* s = splitter(2, panes);
  appkit::View* view = s->splitterView();
  appkit::Window* window = view->window();
  ASSERT_NE(window, nullptr);
  window->makeKeyAndOrderFront(nullptr);
  const int32_t x = s->getDividerPosition(0);
  auto base = [&](double vx) { return view->convertPointToView({vx, 50}, nullptr); };

  appkit::inject::mouseDown(window, base(x + 2));
  appkit::inject::handleQueued();
  EXPECT_TRUE(s->dragging());
  EXPECT_FALSE(window->areCursorRectsEnabled());

  appkit::inject::mouseUp(window, base(x + 2));
  appkit::inject::handleQueued();
  EXPECT_FALSE(s->dragging());
  EXPECT_TRUE(window->areCursorRectsEnabled());
  EXPECT_EQ(cursorRects(view, appkit::kCursorResizeLeftRight), s->dividerRects());
}

TEST_F(MuSplitterMacTest, AShownPaneComesBackInItsPlace) {
  Pane* panes[3];
  MuSplitterMac* s = splitter(3, panes);
  auto order = [&] {
    std::vector<int> out;
    for (appkit::View* v : s->splitterView()->subviews())
      for (int i = 0; i < 3; ++i)
        if (panes[i]->view() == v) out.push_back(i);
    return out;
  };
  struct Step {
    bool visible;
    int index;
    std::vector<int> order;
  };
  const Step steps[] = {
      {false, 1, {0, 2}},   {true, 1, {0, 1, 2}},  // after the pane before it
      {false, 0, {1, 2}},   {true, 0, {0, 1, 2}},  // behind the first pane
      {false, 1, {0, 2}},   {false, 0, {2}},       //
      {true, 1, {1, 2}},                           // no shown pane before it: behind all
      {true, 0, {0, 1, 2}},
  };
  for (const Step& step : steps) {
    s->splitterView()->setNeedsDisplay(false);
    s->setPaneVisible(step.visible, step.index);
    EXPECT_EQ(order(), step.order) << step.visible << " " << step.index;
    EXPECT_EQ(panes[step.index]->isVisible(), step.visible);
    EXPECT_TRUE(s->splitterView()->needsDisplay());
  }
  EXPECT_EQ(s->dividerRects().size(), 2u);
}

}  // namespace
}  // namespace mui
