#pragma once
// qoSetup::SettingsPage ("settings"): the last page of the sign-in road.
// The user chooses how connections are authenticated (the server's own
// password or the computer's system accounts, the latter only when the
// joined server has the "SYSTEM_AUTH" capability), may change the proposed
// password (four random words, shown in clear), and chooses whether the
// server sends usage data and checks for updates.  "Launch" refuses a
// password shorter than 6 bytes in the "info" frame and otherwise sends the
// settings to the admin helper ("SvrSettings"); after its answer (a
// failure is shown in a box and does not stop it) the wizard launches the
// server.

#include <memory>

#include "libs/qoSetup/AdminHelperClient.h"
#include "libs/qoSetup/Page.h"
#include "qocore/base/plat/CharArray.h"

namespace mui {
class InfoFrame;
class MuCheck;
class MuText;
}  // namespace mui

namespace muimisc {
class ClearTextPassword;
}

namespace qoSetup {

// The address of the help article on system authentication.
extern const char* const kSysAuthHelpUrl;

class SettingsPage : public Page, public AdminHelperClient::SvrSettingsCallback {
 public:
  // The settings sent, by name.  The four names sort alike byte-wise and
  // without regard to case: "Authentication", "EnableAnalytics",
  // "EnableAutoUpdateChecks", "Password".
  using Values = AdminHelperClient::Settings;

  // The shortest password accepted, in bytes.
  static constexpr size_t kMinPassword = 6;

  explicit SettingsPage(SetupDlg* dlg);
  ~SettingsPage() override;

  // Forgets an outstanding "SvrSettings".
  void deactivate() noexcept override;
  // Changes follow the authentication choice; "Launch" sends.
  void notify(mui::MuElement* element, mui::MuEvent event) override;
  // Shows a failure in a box; then, when this page is still the current
  // one, launches.
  void svrSettingsResult(const plat::Exception& error) override;

  // The settings of the page as it stands, or false (with the refusal
  // shown) for a password that is too short.
  [[nodiscard]] bool collect(Values& values);
  // The description of the system-account scheme, coloured as enabled or
  // not.
  static plat::DString sysAuthMarkup(bool selected);

  muimisc::ClearTextPassword* password() const noexcept { return pwd_.get(); }
  mui::MuText* sysAuthText() const noexcept { return sysAuthDesc_; }
  bool sending() const noexcept { return sending_; }

 private:
  // Enables the password field and recolours the description after the
  // authentication choice.
  void followChoice();

  mui::MuText* text1_ = nullptr;
  mui::MuText* text2_ = nullptr;
  mui::MuCheck* yarlAuth_ = nullptr;
  std::unique_ptr<muimisc::ClearTextPassword> pwd_;
  mui::MuCheck* sysAuth_ = nullptr;
  mui::MuText* sysAuthDesc_ = nullptr;
  mui::MuCheck* analytics_ = nullptr;
  mui::MuCheck* updates_ = nullptr;
  std::unique_ptr<SetupButton> launch_;
  std::unique_ptr<mui::InfoFrame> info_;
  // "SvrSettings" is out: a second "Launch" waits for its answer.
  bool sending_ = false;
};

}  // namespace qoSetup
