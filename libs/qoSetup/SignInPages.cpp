#include "libs/qoSetup/SignInPages.h"

#include "libs/qoSetup/SetupDlg.h"

namespace qoSetup {

SignInChoosePage::SignInChoosePage(SetupDlg* dlg, bool timedOut) : Page(dlg, "signInChoose"), timedOut_(timedOut) {}

SignInChoosePage::~SignInChoosePage() = default;

SigningInPage::SigningInPage(SetupDlg* dlg, bool trial) : Page(dlg, "signingIn"), trial_(trial), timer_(this) {}

SigningInPage::~SigningInPage() = default;

void SigningInPage::deactivate() noexcept {
  timer_.cancel();
  Page::deactivate();
}

bool SigningInPage::timerExpired(plat::Timer*) { return false; }

}  // namespace qoSetup
