#include "libs/qoSetup/StartMuiMac.h"

#include "qocore/uilibs/mui/MuAutoHider.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/mac/MuButtonMac.h"
#include "qocore/uilibs/mui/mac/MuChoiceMac.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/mui/mac/MuFrameMac.h"
#include "qocore/uilibs/mui/mac/MuiMac.h"

namespace qoSetup {

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
  // muAutoHiderFactory: filled by the auto-hider peers
  // progressBarFactory: filled by the progress bar peers
  // muEditFactory: filled by the edit peers
  // muImageFactory: filled by the image peers
  // muListFactory: filled by the list peers
  // muPagerFactory: filled by the pager peers
  // muPopupMenuFactory: filled by the popup menu peers
  // muScrollFactory: filled by the scroll peers
  // muSliderFactory: filled by the slider peers
  // muSplitterFactory: filled by the splitter peers
  // muStaticFactory: filled by the static peers
  // muSuperboxFactory: filled by the superbox peers
  // muTextFactory: filled by the rich text peers
}

}  // namespace qoSetup
