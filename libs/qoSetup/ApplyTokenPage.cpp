#include "libs/qoSetup/ApplyTokenPage.h"

#include "libs/qoSetup/SetupDlg.h"

namespace qoSetup {

ApplyTokenPage::ApplyTokenPage(SetupDlg* dlg, const char*) : Page(dlg, "applyToken"), timer_(this) {}

ApplyTokenPage::~ApplyTokenPage() = default;

void ApplyTokenPage::deactivate() noexcept {
  timer_.cancel();
  Page::deactivate();
}

void ApplyTokenPage::tokenApplied(Pkg*, const plat::Exception&) {}

bool ApplyTokenPage::timerExpired(plat::Timer*) { return false; }

}  // namespace qoSetup
