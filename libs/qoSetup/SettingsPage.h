#pragma once
// qoSetup::SettingsPage ("settings"): the last page of the sign-in road.
// The user chooses how connections are authenticated and whether the
// server sends usage data and checks for updates; "Launch" sends the
// settings to the admin helper, and after its answer the wizard launches
// the server.

#include "libs/qoSetup/AdminHelperClient.h"
#include "libs/qoSetup/Page.h"

namespace qoSetup {

class SettingsPage : public Page, public AdminHelperClient::SvrSettingsCallback {
 public:
  explicit SettingsPage(SetupDlg* dlg);
  ~SettingsPage() override;

  void deactivate() noexcept override;
  void svrSettingsResult(const plat::Exception& error) override;
};

}  // namespace qoSetup
