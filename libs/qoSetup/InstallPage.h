#pragma once
// qoSetup::InstallPage ("install"): installs the downloaded packages one
// after the other through the admin helper, with a text line, a progress
// bar and "Cancel", and reports once to the wizard dialog
// (installFinished, with the first failure's text and the commands'
// output).  The dialog shows the elevating text while the helper starts
// and tells the page when the helper is ready.

#include <cstdint>

#include "libs/qoSetup/Page.h"
#include "libs/qoSetup/Pkg.h"
#include "qocore/base/plat/Timer.h"

namespace qoSetup {

class InstallPage : public Page, public Pkg::InstallCallback, public plat::Timer::Callback {
 public:
  explicit InstallPage(SetupDlg* dlg);
  ~InstallPage() override;

  // The text line says that the helper is being started.
  void showElevating();
  // The helper runs (or is not needed): the first package starts.  No
  // package may have started yet.
  void helperReady();
  // A package is being installed; the dialog refuses to close meanwhile.
  bool isInstalling() const noexcept;

  void deactivate() noexcept override;
  void installDone(Pkg* pkg, const char* error) override;
  void installOutput(Pkg* pkg, int length, const uint8_t* data) override;
  bool timerExpired(plat::Timer* timer) override;

 protected:
  int32_t pkgIdx_ = -1;
  plat::Timer timer_;
};

}  // namespace qoSetup
