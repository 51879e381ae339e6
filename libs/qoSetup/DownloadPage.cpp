#include "libs/qoSetup/DownloadPage.h"

#include "libs/qoSetup/SetupDlg.h"
#include "libs/qoSetup/SetupTexts.h"
#include "qocore/base/loc/Format.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/libs/muimisc/ProgressBar.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/MuWidgets.h"

namespace qoSetup {

namespace {

[[maybe_unused]] const bool textsRegistered = (registerSetupTexts(), true);

}  // namespace

DownloadPage::DownloadPage(SetupDlg* dlg) : Page(dlg, "download"), timer_(this) {
  addSpacer(60);
  mui::MuFrame* frame = mui::MuFrame::create(root(), nullptr, nullptr, mui::MuFrame::kPlain);
  mui::MuLayout* inner = mui::MuLayout::create(frame, nullptr, mui::MuLayout::kVertical);
  text_ = mui::MuStatic::create(inner, "text", "", mui::MuStatic::kCenteredText);
  progress_ = muimisc::ProgressBar::create(inner, "progress");
  addSpacer(30);
  cancel_ = std::make_unique<SetupButton>(root(), "cancel", loc::translate("qoSetup_cancel"), SetupButton::kBlue);
  centre(root(), cancel_->button());
  nextPackage();
}

DownloadPage::~DownloadPage() = default;

void DownloadPage::deactivate() noexcept {
  timer_.cancel();
  Page::deactivate();
}

uint16_t DownloadPage::barValue(int64_t received, int64_t total) noexcept {
  if (total <= 0) return 0;
  // received x 65535 stays within 64 bits for any size a download may
  // have (at most 1 GiB), and a report beyond the total is clamped.
  const int64_t value = static_cast<int32_t>((received * muimisc::ProgressBar::kFull + total / 2) / total);
  if (value < 0) return 0;
  if (value > muimisc::ProgressBar::kFull) return muimisc::ProgressBar::kFull;
  return static_cast<uint16_t>(value);
}

void DownloadPage::nextPackage() {
  ++pkgIdx_;
  if (!isFailure(result_) && static_cast<size_t>(pkgIdx_) < dlg()->packageCount()) {
    Pkg* pkg = dlg()->package(static_cast<size_t>(pkgIdx_));
    plat::DString label;
    loc::formatArgs(label, loc::translate("qoSetup_download_downloading_fmt", nullptr, 0, true),
                    loc::ArgList().str(pkg->name()).first());
    text_->setText(label.c_str(), false, 0);
    pkg->startDownload(this);
    return;
  }
  dlg()->downloadFinished(result_);
}

void DownloadPage::onClicked(mui::MuElement* element) {
  if (element == cancel_->button()) dlg()->downloadCancelled();
}

void DownloadPage::downloadProgress(Pkg*, int64_t received, int64_t total) {
  progress_->setValue(barValue(received, total));
}

void DownloadPage::downloadDone(Pkg*, const plat::Exception& error) {
  result_ = error;
  timer_.start(0);
}

bool DownloadPage::timerExpired(plat::Timer*) {
  nextPackage();
  return false;
}

}  // namespace qoSetup
