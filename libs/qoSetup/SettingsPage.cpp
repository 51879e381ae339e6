#include "libs/qoSetup/SettingsPage.h"

#include "libs/qoSetup/SetupDlg.h"

namespace qoSetup {

SettingsPage::SettingsPage(SetupDlg* dlg) : Page(dlg, "settings") {}

SettingsPage::~SettingsPage() = default;

void SettingsPage::deactivate() noexcept {
  dlg()->helperClient()->forget(this);
  Page::deactivate();
}

void SettingsPage::svrSettingsResult(const plat::Exception&) {}

}  // namespace qoSetup
