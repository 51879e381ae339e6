#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <memory>

#include "qocore/base/plat/Colors.h"
#include "qocore/libs/muimisc/ProgressBar.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "testing/ui/MuTestBackend.h"

namespace {

using yarl_test::MuTestBackend;

class ProgressBarTest : public testing::Test {
 protected:
  yarl_test::MuTestBackend& backend = MuTestBackend::install();
  std::unique_ptr<mui::MuDialog> dialog{mui::MuDialog::create("dlg", "", {300, 100}, 0, nullptr, nullptr)};
  muimisc::ProgressBar* bar = muimisc::ProgressBar::create(dialog.get(), "progress");

  size_t redraws() { return MuTestBackend::peerOf(bar)->invalidated.size(); }
};

TEST_F(ProgressBarTest, FillFollowsTheValueAndRedrawsOnWholeUnits) {
  bar->setSize({200, 10});
  struct Case {
    uint16_t value;
    int32_t filled;
    bool redraw;
  };
  const Case cases[] = {{1, 0, false},      {328, 1, true},     {32768, 100, true}, {32767, 99, true},
                        {32766, 99, false}, {65535, 200, true}, {0, 0, true}};
  for (const Case& c : cases) {
    const size_t before = redraws();
    bar->setValue(c.value);
    EXPECT_EQ(bar->filled(), c.filled) << c.value;
    EXPECT_EQ(redraws() > before, c.redraw) << c.value;
  }
  EXPECT_EQ(MuTestBackend::peerOf(bar)->invalidated.back(), mui::Rect(0, 0, 200, 10));
}

TEST_F(ProgressBarTest, WideBarsDoNotOverflow) {
  // 65535 x 40000 exceeds 32 bits.
  bar->setSize({40000, 10});
  bar->setValue(65535);
  EXPECT_EQ(bar->filled(), 40000);
  bar->setValue(32768);
  EXPECT_EQ(bar->filled(), 20000);
  EXPECT_EQ(muimisc::ProgressBar::fillFor(65535, 0x7FFFFFFF), 0x7FFFFFFF);
}

TEST_F(ProgressBarTest, ResizingRecomputesTheFillWithoutRedrawing) {
  bar->setValue(65535);
  EXPECT_EQ(bar->filled(), 0);
  bar->setSize({100, 10});
  EXPECT_EQ(bar->filled(), 100);
  EXPECT_EQ(redraws(), 0u);
  EXPECT_EQ(bar->filledRect(), mui::Rect(0, 0, 100, 10));
  EXPECT_EQ(bar->trackRect(), mui::Rect(100, 0, 100, 10));
  bar->setValue(16384);
  EXPECT_EQ(bar->filledRect(), mui::Rect(0, 0, 25, 10));
  EXPECT_EQ(bar->trackRect(), mui::Rect(25, 0, 100, 10));
}

TEST_F(ProgressBarTest, PercentagesAndMeasures) {
  struct Case {
    uint16_t value;
    const char* text;
  };
  const Case cases[] = {{0, "0%"}, {32767, "49%"}, {32768, "50%"}, {65535, "100%"}};
  for (const Case& c : cases) {
    bar->setValue(c.value);
    EXPECT_STREQ(bar->listItems().c_str(), c.text) << c.value;
  }
  EXPECT_EQ(bar->widthForHeight(50), plat::ppmm.getValue());
  EXPECT_EQ(bar->heightForWidth(-1), plat::ppmm.getValue());
  EXPECT_STREQ(bar->typeName(), "progressBar");
  EXPECT_FALSE(bar->performAction("click", nullptr));
  EXPECT_STREQ(bar->fillColour(), "#288cf4");
  EXPECT_STREQ(bar->trackColour(), "#d0d0d0");
}

TEST_F(ProgressBarTest, CreatingWithoutTheHookIsFatal) {
  EXPECT_EXIT(
      {
        muimisc::progressBarFactory = nullptr;
        muimisc::ProgressBar::create(dialog.get(), "x");
      },
      testing::KilledBySignal(SIGABRT), "progressBarFactory");
}

}  // namespace
