#include "libs/qoSetup/StartMuiMac.h"

#include "libs/qoSetup/SetupTexts.h"
#include "qocore/libs/muimisc/mac/ProgressBarMac.h"
#include "qocore/uilibs/mui/MuAutoHider.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/mac/MuAutoHiderMac.h"
#include "qocore/uilibs/mui/mac/MuButtonMac.h"
#include "qocore/uilibs/mui/mac/MuChoiceMac.h"
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

namespace qoSetup {

namespace {
[[maybe_unused]] const bool textsRegistered = (registerSetupTexts(), true);
}  // namespace

void startMuiMac() {
  static mui::MuiMac backend;
  mui::Mui::setInstance(&backend);

  mui::muDialogFactory = mui::MuDialogMac::create;
  mui::muFrameFactory = mui::MuFrameMac::create;
  mui::muLayoutFactory = mui::MuLayoutMac::create;
  mui::muLineFactory = mui::MuLineMac::create;
  mui::muButtonFactory = mui::MuButtonMac::create;
  mui::muCheckFactory = mui::MuCheckMac::create;
  mui::muChoiceFactory = mui::MuChoiceMac::create;
  mui::muAutoHiderFactory = mui::MuAutoHiderMac::create;
  muimisc::progressBarFactory = muimisc::ProgressBarMac::create;
  mui::muEditFactory = mui::MuEditMac::create;
  mui::muImageFactory = mui::MuImageMac::create;
  mui::muListFactory = mui::MuListMac::create;
  mui::muPagerFactory = mui::MuPagerMac::create;
  mui::muPopupMenuFactory = mui::MuPopupMenuMac::create;
  mui::muScrollFactory = mui::MuScrollMac::create;
  mui::muSliderFactory = mui::MuSliderMac::create;
  mui::muSplitterFactory = mui::MuSplitterMac::create;
  mui::muStaticFactory = mui::MuStaticMac::create;
  mui::muSuperboxFactory = mui::MuSuperboxMac::create;
  mui::muTextFactory = mui::MuTextMac::create;
}

}  // namespace qoSetup
