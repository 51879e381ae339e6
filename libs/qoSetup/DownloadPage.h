#pragma once
// qoSetup::DownloadPage ("download"): downloads the wizard's packages one
// after the other, with a text line, a progress bar and "Cancel", and
// reports once to the wizard dialog: downloadFinished with the first
// failure (or an empty one when every package downloaded), or
// downloadCancelled.  A package's end is only stored; a 0 ms timer then
// goes on with the next package, never from inside the package's call.

#include <cstdint>
#include <memory>

#include "libs/qoSetup/Page.h"
#include "libs/qoSetup/Pkg.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Timer.h"

namespace mui {
class MuStatic;
}

namespace muimisc {
class ProgressBar;
}

namespace qoSetup {

class DownloadPage : public Page, public Pkg::DownloadCallback, public plat::Timer::Callback {
 public:
  // Builds the page and starts the first package at once.
  explicit DownloadPage(SetupDlg* dlg);
  ~DownloadPage() override;

  void deactivate() noexcept override;
  void onClicked(mui::MuElement* element) override;
  void downloadProgress(Pkg* pkg, int64_t received, int64_t total) override;
  void downloadDone(Pkg* pkg, const plat::Exception& error) override;
  bool timerExpired(plat::Timer* timer) override;

  // The bar's value for a progress report: the fraction rounded to the
  // nearest of 65535 units, 0 without a size.
  static uint16_t barValue(int64_t received, int64_t total) noexcept;

 private:
  void nextPackage();

  mui::MuStatic* text_ = nullptr;
  muimisc::ProgressBar* progress_ = nullptr;
  std::unique_ptr<SetupButton> cancel_;
  int32_t pkgIdx_ = -1;
  plat::Exception result_;
  plat::Timer timer_;
};

}  // namespace qoSetup
