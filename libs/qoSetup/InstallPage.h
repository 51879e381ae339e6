#pragma once
// qoSetup::InstallPage ("install"): installs the downloaded packages one
// after the other through the admin helper, with a text line, a progress
// bar and "Cancel", and reports once to the wizard dialog
// (installFinished, with the first failure's text and the commands'
// output).  The dialog shows the elevating text while the helper starts
// and tells the page when the helper is ready.  A package's end is only
// stored; a 0 ms timer then goes on with the next package, never from
// inside the package's call.
//
// The bar starts each package at a tenth and moves with the bytes of
// installer output, quickly over the first 49 and then ever closer to
// full without reaching it: an installer says nothing of how far it is.

#include <cstdint>
#include <memory>

#include "libs/qoSetup/Page.h"
#include "libs/qoSetup/Pkg.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Timer.h"
#include "qocore/base/rdr/MemOutStream.h"

namespace mui {
class MuStatic;
}

namespace muimisc {
class ProgressBar;
}

namespace qoSetup {

class InstallPage : public Page, public Pkg::InstallCallback, public plat::Timer::Callback {
 public:
  // The bar's value as a package's install starts.
  static constexpr uint16_t kStartValue = 6553;
  // The most command output kept for the error page; later output still
  // moves the bar.
  static constexpr int32_t kMaxOutput = 16 << 20;

  explicit InstallPage(SetupDlg* dlg);
  ~InstallPage() override;

  // The text line says that the helper is being started.
  void showElevating();
  // The helper runs (or is not needed): the first package starts.  No
  // package may have started yet ("pkgIdx == -1").
  void helperReady();
  // A package is being installed; the dialog refuses to close meanwhile.
  bool isInstalling() const noexcept;

  void deactivate() noexcept override;
  // "Cancel" ends the walk at once with "Installation cancelled"; the
  // dialog's error handling cancels the running command.
  void onClicked(mui::MuElement* element) override;
  void installDone(Pkg* pkg, const char* error) override;
  void installOutput(Pkg* pkg, int length, const uint8_t* data) override;
  bool timerExpired(plat::Timer* timer) override;

  // The bar's value after `count` bytes of a package's output.
  static uint16_t barValue(uint64_t count) noexcept;

  muimisc::ProgressBar* progress() const noexcept { return progress_; }

 protected:
  int32_t pkgIdx_ = -1;
  plat::Timer timer_;

 private:
  void nextPackage();
  // Reports to the dialog (once): the stored error text, or null, and the
  // output collected so far.
  void finish();

  mui::MuStatic* text_ = nullptr;
  muimisc::ProgressBar* progress_ = nullptr;
  std::unique_ptr<SetupButton> cancel_;
  uint64_t outputCount_ = 0;
  rdr::MemOutStream output_;
  plat::CharArray error_;
  bool reported_ = false;
};

}  // namespace qoSetup
