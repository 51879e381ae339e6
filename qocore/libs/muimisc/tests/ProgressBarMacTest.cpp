#include <gtest/gtest.h>

#include <cstdint>

#include "platform/appkit/Geometry.h"
#include "platform/appkit/View.h"
#include "qocore/libs/muimisc/ProgressBar.h"
#include "qocore/libs/muimisc/mac/ProgressBarMac.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/mui/tests/MacPeerTestSupport.h"

namespace muimisc {
namespace {

using appkit::makeRect;

constexpr uint32_t kFillPixel = 0xfff48c28;   // "#288cf4"
constexpr uint32_t kTrackPixel = 0xffd0d0d0;  // "#d0d0d0"
constexpr uint32_t kGreyPixel = 0xff808080;   // "#808080"

// A bar in other colours.
class TintedBar : public ProgressBarMac {
 public:
  using ProgressBar::setColours;
  using ProgressBarMac::ProgressBarMac;
};

class ProgressBarMacTest : public mui_test::MacPeerTest {
 protected:
  void SetUp() override {
    MacPeerTest::SetUp();
    progressBarFactory = ProgressBarMac::create;
    bar_ = static_cast<ProgressBarMac*>(ProgressBar::create(dialog_.get(), "bar"));
    bar_->setSize({200, 10});
  }
  appkit::View* view() { return bar_->customView()->view(); }

  // The columns of the drawing's rows that are not in `left` up to
  // `edge` (device pixels) and in `right` after it.
  static int wrongPixels(const mui_test::Drawn& d, int edge, uint32_t left, uint32_t right) {
    int wrong = 0;
    for (int y = 0; y < d.height; ++y)
      for (int x = 0; x < d.width; ++x) wrong += d.at(x, y) != (x < edge ? left : right);
    return wrong;
  }

  ProgressBarMac* bar_ = nullptr;
};

TEST_F(ProgressBarMacTest, PaintsTheFilledPartAndTheTrackAtEachScale) {
  struct Case {
    uint16_t value;
    double scale;
    int edge;  // device pixels
  };
  const Case cases[] = {{0, 1, 0}, {32768, 1, 100}, {65535, 1, 200}, {1, 1, 0},
                        {0, 2, 0}, {16384, 2, 100}, {65535, 2, 400}};
  for (const Case& c : cases) {
    bar_->setValue(c.value);
    const mui_test::Drawn d = mui_test::drawView(view(), c.scale, view()->bounds());
    ASSERT_EQ(d.width, 200 * c.scale);
    EXPECT_EQ(wrongPixels(d, c.edge, kFillPixel, kTrackPixel), 0) << c.value << " at " << c.scale;
  }
}

TEST_F(ProgressBarMacTest, ColourTextsThatDoNotParsePaintGrey) {
  auto* tinted = new TintedBar(dialog_.get(), "tinted");
  dialog_->addChild(tinted);
  tinted->setSize({100, 8});
  tinted->setValue(32768);
  tinted->setColours("no such colour", "#12345");
  appkit::View* v = tinted->customView()->view();
  EXPECT_EQ(wrongPixels(mui_test::drawView(v, 1, v->bounds()), 50, kGreyPixel, kGreyPixel), 0);
  tinted->setColours("#ff0000", "#00ff00");
  EXPECT_EQ(wrongPixels(mui_test::drawView(v, 1, v->bounds()), 50, 0xff0000ff, 0xff00ff00), 0);
}

TEST_F(ProgressBarMacTest, RedrawsWhenTheFillEdgeMovesOrTheViewChangesSize) {
  view()->setNeedsDisplay(false);
  bar_->setValue(1);
  EXPECT_FALSE(view()->needsDisplay());
  bar_->setValue(328);
  EXPECT_TRUE(view()->needsDisplay());
  EXPECT_EQ(view()->dirtyRect(), makeRect(0, 0, 200, 10));

  // A new frame redraws the whole bar.
  view()->setNeedsDisplay(false);
  bar_->setSize({150, 12});
  EXPECT_TRUE(view()->needsDisplay());
  EXPECT_EQ(view()->dirtyRect(), makeRect(0, 0, 150, 12));
  EXPECT_EQ(mui::MuCommonMac::viewOf(bar_, true), view());
}

}  // namespace
}  // namespace muimisc
