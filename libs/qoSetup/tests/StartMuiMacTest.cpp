#include <gtest/gtest.h>

#include "libs/qoSetup/StartMuiMac.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Injector.h"
#include "qocore/libs/muimisc/ProgressBar.h"
#include "qocore/libs/muimisc/mac/ProgressBarMac.h"
#include "qocore/uilibs/mui/MuAutoHider.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/Mui.h"
#include "qocore/uilibs/mui/mac/MuAutoHiderMac.h"
#include "qocore/uilibs/mui/mac/MuButtonHyperlinkMac.h"
#include "qocore/uilibs/mui/mac/MuButtonMac.h"
#include "qocore/uilibs/mui/mac/MuChoiceMac.h"
#include "qocore/uilibs/mui/mac/MuCommonMac.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/mac/MuEditMac.h"
#include "qocore/uilibs/mui/mac/MuFrameMac.h"
#include "qocore/uilibs/mui/mac/MuImageMac.h"
#include "qocore/uilibs/mui/mac/MuListMac.h"
#include "qocore/uilibs/mui/mac/MuPagerMac.h"
#include "qocore/uilibs/mui/mac/MuPopupMenuMac.h"
#include "qocore/uilibs/mui/mac/MuScrollSliderMac.h"
#include "qocore/uilibs/mui/mac/MuSplitterMac.h"
#include "qocore/uilibs/mui/mac/MuStaticMac.h"
#include "qocore/uilibs/mui/mac/MuSuperboxMac.h"
#include "qocore/uilibs/mui/mac/MuTextMac.h"
#include "qocore/uilibs/mui/mac/MuiMac.h"

namespace {

TEST(StartMuiMacTest, InstallsTheBackendWithItsMetrics) {
  qoSetup::startMuiMac();
  mui::Mui* backend = mui::Mui::instance();
  ASSERT_NE(dynamic_cast<mui::MuiMac*>(backend), nullptr);
  EXPECT_EQ(mui::Mui::displayScale(), 8);
  const mui::Mui::Metrics expected = {20, 8, 32, 24, 48, 136, 32, 38};
  EXPECT_EQ(backend->rawMetrics(), expected);
  for (int i = 0; i < mui::Mui::kMetricCount; ++i) EXPECT_EQ(backend->metric(mui::Mui::Metric(i)), expected[i]) << i;

  // Once per process: a second start installs the same singleton.
  qoSetup::startMuiMac();
  EXPECT_EQ(mui::Mui::instance(), backend);
}

TEST(StartMuiMacTest, FillsTheHooksOfTheMacPeers) {
  qoSetup::startMuiMac();
  EXPECT_EQ(mui::muDialogFactory, &mui::MuDialogMac::create);
  EXPECT_EQ(mui::muFrameFactory, &mui::MuFrameMac::create);
  EXPECT_EQ(mui::muLayoutFactory, &mui::MuLayoutMac::create);
  EXPECT_EQ(mui::muLineFactory, &mui::MuLineMac::create);
  EXPECT_EQ(mui::muButtonFactory, &mui::MuButtonMac::create);
  EXPECT_EQ(mui::muCheckFactory, &mui::MuCheckMac::create);
  EXPECT_EQ(mui::muChoiceFactory, &mui::MuChoiceMac::create);
  EXPECT_EQ(mui::muAutoHiderFactory, &mui::MuAutoHiderMac::create);
  EXPECT_EQ(mui::muEditFactory, &mui::MuEditMac::create);
  EXPECT_EQ(mui::muImageFactory, &mui::MuImageMac::create);
  EXPECT_EQ(mui::muListFactory, &mui::MuListMac::create);
  EXPECT_EQ(mui::muPagerFactory, &mui::MuPagerMac::create);
  EXPECT_EQ(mui::muPopupMenuFactory, &mui::MuPopupMenuMac::create);
  EXPECT_EQ(mui::muScrollFactory, &mui::MuScrollMac::create);
  EXPECT_EQ(mui::muSliderFactory, &mui::MuSliderMac::create);
  EXPECT_EQ(mui::muSplitterFactory, &mui::MuSplitterMac::create);
  EXPECT_EQ(mui::muStaticFactory, &mui::MuStaticMac::create);
  EXPECT_EQ(mui::muSuperboxFactory, &mui::MuSuperboxMac::create);
  EXPECT_EQ(mui::muTextFactory, &mui::MuTextMac::create);
  EXPECT_EQ(muimisc::progressBarFactory, &muimisc::ProgressBarMac::create);
}

TEST(StartMuiMacTest, ElementsMadeThroughTheHooksAreMacPeers) {
  appkit::Application::reset();
  appkit::inject::mainDisplay(1440, 900, 1);
  qoSetup::startMuiMac();
  std::unique_ptr<mui::MuDialog> dialog(mui::MuDialog::create("d", "T", {200, 100}, 0, nullptr, nullptr));
  ASSERT_NE(dynamic_cast<mui::MuDialogMac*>(dialog.get()), nullptr);
  mui::MuLayout* layout = mui::MuLayout::create(dialog.get(), "l", 0);
  mui::MuLine* line = mui::MuLine::create(layout, "line", true, 0, 1);
  mui::MuFrame* frame = mui::MuFrame::create(layout, "f", "", 0);
  for (mui::MuElement* e :
       {static_cast<mui::MuElement*>(layout), static_cast<mui::MuElement*>(line), static_cast<mui::MuElement*>(frame)})
    EXPECT_NE(mui::MuCommonMac::viewOf(e, true), nullptr) << e->typeName();
  muimisc::ProgressBar* bar = muimisc::ProgressBar::create(layout, "bar");
  EXPECT_NE(dynamic_cast<muimisc::ProgressBarMac*>(bar), nullptr);
  EXPECT_EQ(mui::MuCommonMac::viewOf(bar, true)->superview(), mui::MuCommonMac::viewOf(layout, true));
  // Buttons of the hyperlink type are hyperlinks; the others push buttons.
  EXPECT_NE(dynamic_cast<mui::MuButtonHyperlinkMac*>(
                mui::MuButton::create(layout, "link", "Help", mui::MuButton::kHyperlink, 0, 0)),
            nullptr);
  EXPECT_NE(dynamic_cast<mui::MuButtonMac*>(mui::MuButton::create(layout, "ok", "OK", mui::MuButton::kNormal, 0, 0)),
            nullptr);
  std::unique_ptr<mui::MuAutoHider> hider(mui::MuAutoHider::create("tools", {120, 40}, 0, nullptr));
  auto* macHider = dynamic_cast<mui::MuAutoHiderMac*>(hider.get());
  ASSERT_NE(macHider, nullptr);
  hider->attach(dialog->nativeWindow());
  EXPECT_EQ(macHider->viewHider()->view()->window(), mui::fromNativeWindow(dialog->nativeWindow()));
  hider.reset();
  EXPECT_NE(dynamic_cast<mui::MuSuperboxMac*>(mui::MuSuperbox::create(layout, "box", "Find", nullptr, 80)), nullptr);
  dialog.reset();
  appkit::Application::reset();
}

}  // namespace
