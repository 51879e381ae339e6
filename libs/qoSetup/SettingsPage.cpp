#include "libs/qoSetup/SettingsPage.h"

#include "libs/qoSetup/PkgSvr.h"
#include "libs/qoSetup/SetupDlg.h"
#include "libs/qoSetup/SetupTexts.h"
#include "libs/smisc/SmiscMessages.h"
#include "qocore/base/loc/Format.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Markup.h"
#include "qocore/base/plat/SecretText.h"
#include "qocore/base/qoutil/RandomString.h"
#include "qocore/libs/muimisc/ClearTextPassword.h"
#include "qocore/libs/svr/SAuthentication.h"
#include "qocore/libs/svr/YarlAuthUtil.h"
#include "qocore/uilibs/mui/InfoFrame.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/MuMessageBox.h"
#include "qocore/uilibs/mui/MuSpacer.h"
#include "qocore/uilibs/mui/MuText.h"

namespace qoSetup {

namespace {

[[maybe_unused]] const bool textsRegistered = (registerSetupTexts(), smisc::registerMessages(), true);

PLAT_LOG_SOURCE(vlog, "SettingsPage");

constexpr int32_t kHeadingSize = 140;
constexpr int32_t kBoldWeight = plat::Markup::Style::kBoldWeight;
// The help frame of the wizard's pages.
constexpr uint32_t kInfoFrameType = 4;
// The indent of the lines under the radio buttons: a share of the width.
constexpr int32_t kIndentWeight = 1;
constexpr int32_t kLineWeight = 19;
constexpr const char kSystemAuthFeature[] = "SYSTEM_AUTH";

// A row that indents its one element under the radio button above.
mui::MuLayout* indentedRow(mui::MuLayout* parent) {
  mui::MuLayout* row = mui::MuLayout::create(parent, nullptr, mui::MuLayout::kHorizontal);
  row->setChildLayout(mui::MuSpacer::create(row, 0, 0), mui::MuLayout::kWeighted, kIndentWeight);
  return row;
}

}  // namespace

const char* const kSysAuthHelpUrl = "https://help.corvane.example/articles/server-system-authentication";

SettingsPage::SettingsPage(SetupDlg* dlg) : Page(dlg, "settings") {
  addSpacer(40);
  mui::MuFrame* frame = mui::MuFrame::create(root(), nullptr, nullptr, mui::MuFrame::kPlain);
  frame->setMargins({units(100), 0});
  mui::MuLayout* inner = mui::MuLayout::create(frame, nullptr, mui::MuLayout::kVertical);

  text1_ = addText("text1", centredBlock(loc::translate("qoSetup_settings_text1"), kHeadingSize, kBoldWeight).c_str(),
                   inner);
  addSpacer(10, inner);
  {
    plat::DString escaped;
    plat::Markup::appendEscaped(escaped, loc::translate("qoSetup_settings_text2"));
    text2_ = addText("text2", escaped.c_str(), inner);
  }
  yarlAuth_ = mui::MuCheck::create(inner, "yarlAuth", svr::displayName(svr::kAuthYarlAuth).c_str(),
                                   mui::MuCheck::kRadio, nullptr, nullptr);
  mui::MuLayout* pwdRow = indentedRow(inner);
  pwd_ = std::make_unique<muimisc::ClearTextPassword>(pwdRow, "pwd", nullptr, false);
  pwdRow->setChildLayout(pwd_->row(), mui::MuLayout::kWeighted, kLineWeight);
  sysAuth_ = mui::MuCheck::create(inner, "sysAuth", svr::displayName(svr::kAuthSystemAuth).c_str(),
                                  mui::MuCheck::kRadio, yarlAuth_, nullptr);
  mui::MuLayout* descRow = indentedRow(inner);
  sysAuthDesc_ = addText(nullptr, "", descRow, true);
  descRow->setChildLayout(sysAuthDesc_, mui::MuLayout::kWeighted, kLineWeight);
  analytics_ = mui::MuCheck::create(inner, "analytics", loc::translate("qoSetup_settings_analytics"),
                                    mui::MuCheck::kNormal, nullptr, nullptr);
  updates_ = mui::MuCheck::create(inner, "updates", loc::translate("qoSetup_settings_updates"), mui::MuCheck::kNormal,
                                  nullptr, nullptr);
  addSpacer(20, inner);
  launch_ = std::make_unique<SetupButton>(inner, "launch", loc::translate("qoSetup_launch"), SetupButton::kBlue);
  info_ = std::make_unique<mui::InfoFrame>(inner, "info", nullptr, kInfoFrameType);

  yarlAuth_->setValue(true);
  sysAuth_->setValue(false);
  {
    // Shown in clear: the user is to see (and may note) what was chosen.
    const plat::SecretText proposal = plat::SecretText::adopt(qoutil::randomString(4, "-"));
    pwd_->setTextShown(true);
    pwd_->currentEdit()->setText(proposal.c_str());
  }
  sysAuth_->setEnabled(capsFeatures().count(kSystemAuthFeature) != 0);
  (void)sysAuthDesc_->setText(sysAuthMarkup(false).c_str());
  centre(inner, launch_->button());
  analytics_->setValue(true);
  updates_->setValue(true);
}

SettingsPage::~SettingsPage() = default;

void SettingsPage::deactivate() noexcept {
  dlg()->helperClient()->forget(this);
  Page::deactivate();
}

plat::DString SettingsPage::sysAuthMarkup(bool selected) {
  plat::DString text;
  loc::formatArgs(text, loc::translate("qoSetup_settings_sysauth_desc_html_fmt", nullptr, 0, true),
                  loc::ArgList().str(svr::platformName()).str(kSysAuthHelpUrl).first());
  plat::Markup::Style style;
  if (!selected) style.color = plat::CharArray("disabledText");
  plat::DString out;
  plat::Markup::span(out, text.c_str(), style);
  return out;
}

void SettingsPage::followChoice() {
  const bool password = yarlAuth_->getValue();
  pwd_->setEnabled(password);
  (void)sysAuthDesc_->setText(sysAuthMarkup(sysAuth_->getValue()).c_str());
}

bool SettingsPage::collect(Values& values) {
  const bool password = yarlAuth_->getValue();
  if (password) {
    const plat::SecretText typed(pwd_->currentEdit()->getText());
    if (typed.length() < kMinPassword) {
      plat::DString message;
      plat::Markup::appendEscaped(message, loc::translate("smisc_yarlauthuserdlg_info_too_short"));
      info_->setInfo(mui::InfoFrame::kError, message.c_str(), nullptr);
      relayoutDialog();
      return false;
    }
    values.insert_or_assign(plat::CharArray("Password"),
                            plat::SecretText::adopt(svr::encodePasswordParam(typed.c_str(), false)));
  }
  const svr::SAuthentication scheme = password ? svr::kAuthYarlAuth : svr::kAuthSystemAuth;
  values.insert_or_assign(plat::CharArray("Authentication"), plat::SecretText(svr::parameterText(scheme, nullptr)));
  values.insert_or_assign(plat::CharArray("EnableAnalytics"), plat::SecretText(analytics_->getValue() ? "1" : "0"));
  values.insert_or_assign(plat::CharArray("EnableAutoUpdateChecks"),
                          plat::SecretText(updates_->getValue() ? "1" : "0"));
  return true;
}

void SettingsPage::notify(mui::MuElement* element, mui::MuEvent event) {
  if (event == mui::kEventChanged) {
    followChoice();
    return;
  }
  if (event != mui::kEventClicked || element != launch_->button() || sending_) return;
  Values values;
  if (!collect(values)) return;
  vlog().info("Sending %d server settings", static_cast<int>(values.size()));
  sending_ = true;
  dlg()->helperClient()->svrSettings(values, this);
}

void SettingsPage::svrSettingsResult(const plat::Exception& error) {
  sending_ = false;
  if (isFailure(error)) {
    vlog().error("Error writing server settings: %s", plat::FormattedText(error).text);
    mui::MuMessageBox box(error.str(), mui::MuMessageBox::kOk | mui::MuMessageBox::kIconError, dlg()->dialog(), nullptr,
                          true, nullptr);
    (void)box.show();
    // The box's loop served other events: the dialog may have moved on.
    if (!isActive() || !root()->isVisible()) return;
  }
  dlg()->launch();
}

}  // namespace qoSetup
