#include "libs/qoSetup/InstallPage.h"

#include "libs/qoSetup/SetupDlg.h"
#include "qocore/base/plat/Exception.h"

namespace qoSetup {

InstallPage::InstallPage(SetupDlg* dlg) : Page(dlg, "install"), timer_(this) {}

InstallPage::~InstallPage() = default;

void InstallPage::showElevating() {}

void InstallPage::helperReady() { PLAT_ASSERT(pkgIdx_ == -1); }

bool InstallPage::isInstalling() const noexcept {
  return pkgIdx_ >= 0 && static_cast<size_t>(pkgIdx_) < dlg()->packageCount();
}

void InstallPage::deactivate() noexcept {
  timer_.cancel();
  Page::deactivate();
}

void InstallPage::installDone(Pkg*, const char*) {}

void InstallPage::installOutput(Pkg*, int, const uint8_t*) {}

bool InstallPage::timerExpired(plat::Timer*) { return false; }

}  // namespace qoSetup
