#include "libs/qoSetup/ErrorPage.h"

#include <cstring>

#include "libs/qoSetup/SetupDlg.h"
#include "libs/qoSetup/SetupTexts.h"
#include "qocore/base/loc/Format.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/Markup.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/MuMessageBox.h"
#include "qocore/uilibs/mui/MuText.h"

namespace qoSetup {

namespace {

[[maybe_unused]] const bool textsRegistered = (registerSetupTexts(), true);

constexpr int32_t kHeadingSize = 140;
constexpr int32_t kNormalSize = 120;
constexpr int32_t kNormalWeight = plat::Markup::Style::kNormalWeight;
constexpr int32_t kBoldWeight = plat::Markup::Style::kBoldWeight;

}  // namespace

const char* const kInstallHelpUrl = "https://help.corvane.example/articles/server-setup-failed";

ErrorPage::ErrorPage(SetupDlg* dlg) : Page(dlg, "error") {
  addSpacer(60);
  text1_ =
      addText("text1", centredBlock(loc::translate("qoSetup_error_install_failed"), kHeadingSize, kBoldWeight).c_str());
  addSpacer(20);
  text2_ = addText(
      "text2", centredBlock(loc::translate("qoSetup_error_install_failed_more"), kNormalSize, kNormalWeight).c_str());
  addSpacer(10);
  detailText_ = addText("detail", "");
  addSpacer(10);
  cmdOutBtn_ = mui::MuButton::create(root(), "cmdOutBtn", loc::translate("qoSetup_error_cmdoutbtn"),
                                     mui::MuButton::kNormal, 0, 0);
  addSpacer(20);
  plat::DString support;
  loc::formatArgs(support, loc::translate("qoSetup_error_support_html_fmt", nullptr, 0, true),
                  loc::ArgList().str(kInstallHelpUrl).first());
  support_ = addText("support", centredMarkup(support.c_str(), kNormalSize, kNormalWeight).c_str(), nullptr, true);
  addSpacer(40);
  retry_ = std::make_unique<SetupButton>(root(), "retry", loc::translate("qoSetup_error_retrybtn"), SetupButton::kBlue);
  cmdOutBtn_->setVisible(false);
  centre(root(), cmdOutBtn_);
  centre(root(), retry_->button());
}

ErrorPage::~ErrorPage() = default;

void ErrorPage::setMessage(const char* message, const char* detail) {
  const bool same = detail ? detail_ && std::strcmp(detail_.c_str(), detail) == 0 : detail_.isNull();
  if (!same) detail_ = detail ? plat::CharArray(detail) : plat::CharArray();
  (void)detailText_->setText(centredBlock(message, kNormalSize, kNormalWeight).c_str());
  cmdOutBtn_->setVisible(detail_ && *detail_.c_str());
  relayoutDialog();
}

void ErrorPage::onClicked(mui::MuElement* element) {
  if (element == retry_->button()) {
    dlg()->backToInitial();
    return;
  }
  if (element != cmdOutBtn_ || showingOutput_) return;
  // The box is this page's: while its loop runs a second click is
  // refused, and the dialog frees a dropped page only after the loop.
  cmdOutBox_ = std::make_unique<mui::MuMessageBox>(detail_.c_str(), mui::MuMessageBox::kOk, dlg()->dialog(),
                                                   loc::translate("qoSetup_error_cmdout"), true, nullptr);
  cmdOutBox_->dialog()->setSize({units(1200), units(800)});
  showingOutput_ = true;
  plat::ScopeExit done([this] { showingOutput_ = false; });
  (void)cmdOutBox_->show();
}

}  // namespace qoSetup
