#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/appkit/Application.h"
#include "platform/appkit/Constants.h"
#include "platform/appkit/Injector.h"
#include "platform/appkit/Metrics.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/mac/MuScrollSliderMac.h"
#include "qocore/uilibs/mui/tests/MacPeerTestSupport.h"

namespace mui {
namespace {

using Tall = mui_test::ViewLeaf;

using mui_test::Changes;

class MuScrollSliderMacTest : public mui_test::MacPeerTest {
 protected:
  void SetUp() override {
    MacPeerTest::SetUp();
    muScrollFactory = MuScrollMac::create;
    muSliderFactory = MuSliderMac::create;
  }
};

TEST_F(MuScrollSliderMacTest, ABorderedScrollGivesItsChildTheViewportLessTwiceTheBorder) {
  for (uint32_t style : {MuScroll::kVertical, MuScroll::kVertical | MuScroll::kBordered}) {
    SCOPED_TRACE(style);
    auto* s = static_cast<MuScrollMac*>(MuScroll::create(dialog_.get(), "s", style));
    auto* child = new Tall(s, "tall", {50, 500});
    s->addChild(child);
    EXPECT_EQ(s->scrollView()->documentView(), nativeViewOf(child));
    s->setSize({200, 100});
    const bool bordered = style & MuScroll::kBordered;
    const int32_t border = bordered ? static_cast<int32_t>(appkit::kBezelBorderWidth) : 0;
    EXPECT_EQ(s->borderSize(), (Size{border, border}));
    EXPECT_EQ(s->scrollView()->borderType(), bordered ? appkit::kBezelBorder : appkit::kNoBorder);
    EXPECT_TRUE(s->scrollView()->hasVerticalScroller());
    EXPECT_FALSE(s->scrollView()->hasHorizontalScroller());
    const int32_t bar = s->verticalScrollbarWidth();
    EXPECT_EQ(bar, static_cast<int32_t>(appkit::kScrollerWidth));
    EXPECT_EQ(child->getSize().width, 200 - 2 * border - bar);
    EXPECT_EQ(child->getSize().height, 500);
    s->setScrollPosition({0, 40});
    EXPECT_EQ(s->scrollPosition(), (Point{0, 40}));
    EXPECT_EQ(s->childOrigin(), (Point{0, -40}));
    // Overlay scrollers take no room from the child.
    s->scrollView()->setScrollerStyle(appkit::kScrollerStyleOverlay);
    EXPECT_EQ(s->verticalScrollbarWidth(), 0);
    EXPECT_EQ(s->horizontalScrollbarHeight(), 0);
    s->removeChild(child);
    EXPECT_EQ(s->scrollView()->documentView(), nullptr);
  }
}

TEST_F(MuScrollSliderMacTest, TheScrollDrawsItsBackgroundOnceStyled) {
  auto* s = static_cast<MuScrollMac*>(MuScroll::create(dialog_.get(), "s", MuScroll::kVertical));
  s->setSize({40, 30});
  // Until styled the scroll view draws nothing of its own.
  EXPECT_EQ(mui_test::drawnPixel(s->scrollView(), 5, 5), 0u);
  s->refreshStyle();
  EXPECT_EQ(mui_test::drawnPixel(s->scrollView(), 5, 5), mui_test::pixelOf(ui::getColour("contentBg")));
  s->setBackgroundColour("#00ff00");
  EXPECT_EQ(mui_test::drawnPixel(s->scrollView(), 5, 5), 0xff00ff00u);
}

TEST_F(MuScrollSliderMacTest, ASliderStopsOnWholeValuesAndReportsOnlyTheUser) {
  auto* s = static_cast<MuSliderMac*>(MuSlider::create(dialog_.get(), "s", 0));
  Changes changes;
  s->addObserver(&changes);
  s->setRange(0, 10);
  EXPECT_EQ(s->slider()->numberOfTickMarks(), 11);
  EXPECT_TRUE(s->slider()->allowsTickMarkValuesOnly());
  EXPECT_EQ(s->getMin(), 0);
  EXPECT_EQ(s->getMax(), 10);
  s->setValue(7);
  EXPECT_EQ(s->getValue(), 7);
  EXPECT_EQ(changes.count, 0);
  s->slider()->userMovesTo(3.4);
  EXPECT_EQ(s->slider()->doubleValue(), 3);
  EXPECT_EQ(s->getValue(), 3);
  EXPECT_EQ(changes.count, 1);
  s->setValue(99);
  EXPECT_EQ(s->getValue(), 10);
  EXPECT_EQ(s->heightForWidth(100), 28);
  EXPECT_EQ(s->widthForHeight(100), 0);
  auto* v = MuSlider::create(dialog_.get(), "v", MuSliderMac::kVerticalStyle);
  EXPECT_EQ(v->heightForWidth(100), 0);
  EXPECT_EQ(v->widthForHeight(100), 28);
}

}  // namespace
}  // namespace mui
