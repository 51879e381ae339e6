#include "libs/qoSetup/SignInPages.h"

#include <algorithm>

#include "libs/hosted/VendorConfig.h"
#include "libs/qoSetup/SetupDlg.h"
#include "libs/qoSetup/SetupTexts.h"
#include "qocore/base/crypto/RandomStream.h"
#include "qocore/base/http/ProductUrl.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/os/mac/OpenUrl.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Markup.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/MuSpacer.h"
#include "qocore/uilibs/mui/MuText.h"

namespace qoSetup {

namespace {

[[maybe_unused]] const bool textsRegistered = (registerSetupTexts(), true);

PLAT_LOG_SOURCE(vlog, "SigningInPage");

constexpr int32_t kBoldWeight = plat::Markup::Style::kBoldWeight;
constexpr int32_t kNormalWeight = plat::Markup::Style::kNormalWeight;
constexpr int32_t kTagSize = 140;
constexpr int32_t kTimeoutSize = 130;
constexpr int32_t kSuccessSize = 160;
constexpr int32_t kBrowserSize = 130;
constexpr int32_t kTroubleSize = 120;
constexpr int kStateBytes = 8;
constexpr const char kSignInPath[] = "%s/auth/download_first";
constexpr const char kTrialPath[] = "%s/auth/sign_up/software_trial";

// Made once, kept to the end of the process.
plat::CharArray& stateValue() {
  static auto* value = new plat::CharArray;
  return *value;
}

}  // namespace

plat::IntParameter signInTimeoutSecs("_SignInTimeoutSecs", "", 600, 0, 2147483647, true);

// ---- SignInChoosePage ----

SignInChoosePage::ButtonRow::ButtonRow(mui::MuLayout* parent, const char* id, const char* tagText, const char* button,
                                       int32_t style)
    : row(mui::MuLayout::create(parent, id, mui::MuLayout::kHorizontal)),
      tag(mui::MuText::create(row, "tag", nullptr, nullptr, 0)),
      spacer(mui::MuSpacer::create(row, units(10), 0)),
      btn(row, "btn", button, style) {
  (void)tag->setText(centredBlock(tagText, kTagSize, kBoldWeight).c_str());
  row->setChildLayout(tag, mui::MuLayout::kNatural | mui::MuLayout::kAlignCentre, 0);
  row->setChildLayout(spacer, mui::MuLayout::kWeighted, 1);
}

SignInChoosePage::SignInChoosePage(SetupDlg* dlg, bool timedOut) : Page(dlg, "signInChoose"), timedOut_(timedOut) {
  addSpacer(80);
  text_ =
      timedOut_
          ? addText("text",
                    centredBlock(loc::translate("qoSetup_signinchoose_timeout"), kTimeoutSize, kBoldWeight).c_str())
          : addText("text", centredBlock(loc::translate("qoSetup_install_success"), kSuccessSize, kBoldWeight).c_str());
  addSpacer(50);
  choices_ = mui::MuLayout::create(root(), nullptr, mui::MuLayout::kVertical);
  trial_ = std::make_unique<ButtonRow>(choices_, "trial", loc::translate("qoSetup_signinchoose_trial_tag"),
                                       loc::translate("qoSetup_signinchoose_trial_btn"), SetupButton::kBlue);
  (void)mui::MuLine::create(choices_, nullptr, true, 0, 1);
  signIn_ = std::make_unique<ButtonRow>(choices_, "signIn", loc::translate("qoSetup_signinchoose_signin_tag"),
                                        loc::translate("qoSetup_signinchoose_signin_btn"), SetupButton::kWhite);
  addSpacer(50, choices_);
  noSignIn_ = mui::MuButton::create(choices_, "noSignIn", loc::translate("qoSetup_signinchoose_nosignin_btn"),
                                    mui::MuButton::kHyperlink, 0, 0);

  // Both buttons as wide as the wider one, whatever the language.
  const int32_t width = std::max(trial_->btn.button()->widthForHeight(1), signIn_->btn.button()->widthForHeight(1));
  for (ButtonRow* row : {trial_.get(), signIn_.get()})
    row->row->setChildLayout(row->btn.button(), mui::MuLayout::kFixed, width);
  centre(root(), choices_);
  choices_->setChildLayout(noSignIn_, mui::MuLayout::kNatural | mui::MuLayout::kAlignStart, 0);
}

SignInChoosePage::~SignInChoosePage() = default;

void SignInChoosePage::onClicked(mui::MuElement* element) {
  // The dialog may drop this page: nothing of it is touched afterwards.
  if (element == trial_->btn.button()) {
    dlg()->signInChosen(true);
  } else if (element == signIn_->btn.button()) {
    dlg()->signInChosen(false);
  } else if (element == noSignIn_) {
    dlg()->launch();
  }
}

// ---- SigningInPage ----

SigningInPage::SigningInPage(SetupDlg* dlg, bool trial) : Page(dlg, "signingIn"), trial_(trial), timer_(this) {
  addSpacer(80);
  text1_ = addText("text1",
                   centredBlock(loc::translate("qoSetup_signingin_goto_browser"), kBrowserSize, kBoldWeight).c_str());
  addSpacer(50);
  text2_ = addText(
      "text2", centredBlock(loc::translate("qoSetup_signingin_browser_trouble"), kTroubleSize, kNormalWeight).c_str());
  goBack_ = mui::MuButton::create(root(), "goback", loc::translate("qoSetup_signingin_go_back"),
                                  mui::MuButton::kHyperlink, 0, 0);
  centre(root(), goBack_);

  const plat::CharArray url = portalUrl(trial_);
  vlog().debug("Opening URL %s", url.c_str());
  // A failure is logged there; the page then waits for "Go back" or the
  // time-out.
  (void)os::openUrl(url.c_str());
  timer_.start(timeoutMs(signInTimeoutSecs.getValue()));
}

SigningInPage::~SigningInPage() = default;

const char* SigningInPage::makeState() {
  plat::CharArray& value = stateValue();
  if (!value) {
    unsigned char bytes[kStateBytes];
    {
      crypto::RandomStream random;
      random.readBytes(bytes, kStateBytes);
    }
    value = plat::base64Encode(bytes, kStateBytes, true);
  }
  return value.c_str();
}

const char* SigningInPage::state() noexcept {
  const plat::CharArray& value = stateValue();
  return value ? value.c_str() : nullptr;
}

plat::CharArray SigningInPage::portalUrl(bool trial) {
  const plat::CharArray base = plat::DString::format(trial ? kTrialPath : kSignInPath, hosted::portalUri.getValue());
  http::UrlBuilder url(base.c_str(), true);
  url.addQueryParameter("state", makeState());
  if (trial) url.addQueryParameter("version", kTrialVersion);
  return url.release();
}

int SigningInPage::timeoutMs(int seconds) noexcept {
  return seconds < kMaxTimeoutMs / 1000 + 1 ? seconds * 1000 : kMaxTimeoutMs;
}

void SigningInPage::stopTimeout() noexcept { timer_.cancel(); }

void SigningInPage::deactivate() noexcept {
  timer_.cancel();
  Page::deactivate();
}

void SigningInPage::onClicked(mui::MuElement* element) {
  if (element != goBack_) return;
  timer_.cancel();
  dlg()->signingInEnded(false);
}

bool SigningInPage::timerExpired(plat::Timer*) {
  dlg()->signingInEnded(true);
  return false;
}

}  // namespace qoSetup
