#include "libs/qoSetup/InstallPage.h"

#include "libs/qoSetup/SetupDlg.h"
#include "libs/qoSetup/SetupTexts.h"
#include "qocore/base/loc/Format.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/libs/muimisc/ProgressBar.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/MuWidgets.h"

namespace qoSetup {

namespace {

[[maybe_unused]] const bool textsRegistered = (registerSetupTexts(), true);

// The bar's rise over the first bytes of output, and the bytes that
// follow.
constexpr uint64_t kFastBytes = 49;
constexpr uint64_t kFastRise = 58981;
constexpr uint64_t kSlowTop = 65534;
constexpr uint64_t kSlowScale = 1474500;

}  // namespace

InstallPage::InstallPage(SetupDlg* dlg) : Page(dlg, "install"), timer_(this) {
  addSpacer(60);
  mui::MuFrame* frame = mui::MuFrame::create(root(), nullptr, nullptr, mui::MuFrame::kPlain);
  mui::MuLayout* inner = mui::MuLayout::create(frame, nullptr, mui::MuLayout::kVertical);
  text_ = mui::MuStatic::create(inner, "text", "", mui::MuStatic::kCenteredText);
  progress_ = muimisc::ProgressBar::create(inner, "progress");
  addSpacer(30, inner);
  cancel_ = std::make_unique<SetupButton>(inner, "cancel", loc::translate("qoSetup_cancel"), SetupButton::kBlue);
  centre(inner, cancel_->button());
}

InstallPage::~InstallPage() = default;

void InstallPage::showElevating() { text_->setText(loc::translate("qoSetup_install_elevating"), false, 0); }

void InstallPage::helperReady() {
  PLAT_ASSERT_TEXT(pkgIdx_ == -1, "pkgIdx == -1");
  nextPackage();
}

bool InstallPage::isInstalling() const noexcept {
  return pkgIdx_ >= 0 && static_cast<size_t>(pkgIdx_) < dlg()->packageCount();
}

void InstallPage::deactivate() noexcept {
  timer_.cancel();
  Page::deactivate();
}

uint16_t InstallPage::barValue(uint64_t count) noexcept {
  if (count <= kFastBytes) return static_cast<uint16_t>(kStartValue + count * kFastRise / 100);
  return static_cast<uint16_t>(kSlowTop - kSlowScale / count);
}

void InstallPage::nextPackage() {
  ++pkgIdx_;
  if (!error_ && static_cast<size_t>(pkgIdx_) < dlg()->packageCount()) {
    Pkg* pkg = dlg()->package(static_cast<size_t>(pkgIdx_));
    outputCount_ = 0;
    progress_->setValue(kStartValue);
    plat::DString label;
    loc::formatArgs(label, loc::translate("qoSetup_install_installing_fmt", nullptr, 0, true),
                    loc::ArgList().str(pkg->name()).first());
    text_->setText(label.c_str(), false, 0);
    // A failure to start reports from inside, and the timer goes on.
    pkg->startInstall(this);
    return;
  }
  finish();
}

void InstallPage::finish() {
  if (reported_) return;
  reported_ = true;
  timer_.cancel();
  progress_->setVisible(false);
  relayoutDialog();
  pkgIdx_ = -1;
  const plat::CharArray output = output_.takeString();
  // The dialog may drop this page: nothing of it is touched afterwards.
  dlg()->installFinished(error_ ? error_.c_str() : nullptr, output.c_str());
}

void InstallPage::onClicked(mui::MuElement* element) {
  if (element != cancel_->button() || reported_) return;
  error_ = plat::CharArray(loc::translate("qoSetup_install_cancelled"));
  finish();
}

void InstallPage::installOutput(Pkg*, int length, const uint8_t* data) {
  if (length <= 0) return;
  outputCount_ += static_cast<uint64_t>(length);
  progress_->setValue(barValue(outputCount_));
  if (length <= kMaxOutput - output_.length()) output_.writeBytes(data, length);
}

void InstallPage::installDone(Pkg*, const char* error) {
  error_ = error ? plat::CharArray(error) : plat::CharArray();
  timer_.start(0);
}

bool InstallPage::timerExpired(plat::Timer*) {
  nextPackage();
  return false;
}

}  // namespace qoSetup
