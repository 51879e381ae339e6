#include "libs/qoSetup/ApplyTokenPage.h"

#include <cstring>

#include "libs/qoSetup/SetupDlg.h"
#include "libs/qoSetup/SetupTexts.h"
#include "libs/qoSetup/SignInPages.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/Markup.h"
#include "qocore/uilibs/mui/MuAnimation.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/MuText.h"
#include "qocore/uilibs/mui/mac/MuDialogMac.h"
#include "qocore/uilibs/ui/mac/WindowGlue.h"

namespace qoSetup {

namespace {

[[maybe_unused]] const bool textsRegistered = (registerSetupTexts(), true);

constexpr const char kEndpoint[] = "install";
constexpr const char kStateParam[] = "state";
constexpr const char kServerParam[] = "server";
constexpr int32_t kSpinnerColour = 0;
constexpr int32_t kSpinnerSize = 24;

}  // namespace

ApplyTokenPage::ApplyTokenPage(SetupDlg* dlg, const char* uri) : Page(dlg, "applyToken"), timer_(this) {
  addSpacer(80);
  text_ = addText("text", centredBlock(loc::translate("qoSetup_applytoken_wait"), plat::Markup::Style::kNormalSize,
                                       plat::Markup::Style::kNormalWeight)
                              .c_str());
  addSpacer(40);
  spinner_ =
      std::make_unique<mui::MuSpinner>(root(), kSpinnerColour, mui::Size{units(kSpinnerSize), units(kSpinnerSize)});
  centre(root(), spinner_->image());
  spinner_->setVisible(true);
  // Back in front of the browser the user signed in with.
  if (mui::MuDialog* dialog = dlg->dialog())
    if (appkit::Window* window = mui::fromNativeWindow(dialog->nativeWindow())) ui::activateWindow(window);

  const io::Uri parsed = io::parseUri(uri);
  if (std::strcmp(parsed.path.c_str(), kEndpoint) != 0 || !parsed.path) throw plat::Exception("Bad URI endpoint");
  query_ = io::parseUriQuery(parsed.query.get(), false);
  const auto state = query_.find(kStateParam);
  const char* expected = SigningInPage::state();
  const bool sameState =
      state == query_.end() ? !expected : expected && std::strcmp(state->second.c_str(), expected) == 0;
  if (!sameState) throw plat::Exception("Bad signingInState");
  if (query_.find(kServerParam) == query_.end()) throw plat::Exception("Missing server param");

  if (dlg->packageCount() == 0) {
    // The dialog hears of the end only once this page stands.
    timer_.start(0);
  } else {
    nextPackage();
  }
  if (SigningInPage* signingIn = dlg->signingInPage()) signingIn->stopTimeout();
}

ApplyTokenPage::~ApplyTokenPage() = default;

void ApplyTokenPage::deactivate() noexcept {
  timer_.cancel();
  if (spinner_) spinner_->setVisible(false);
  Page::deactivate();
}

void ApplyTokenPage::nextPackage() {
  ++pkgIdx_;
  if (!isFailure(result_) && static_cast<size_t>(pkgIdx_) < dlg()->packageCount()) {
    hostedremoteaccess::CapsClient* caps = dlg()->capsClient();
    // A failure to start reports from inside, and the timer goes on.
    dlg()->package(static_cast<size_t>(pkgIdx_))->startTicketRedeem(this, caps, query_);
    return;
  }
  // The dialog may drop this page: nothing of it is touched afterwards.
  dlg()->tokenApplied(result_);
}

void ApplyTokenPage::tokenApplied(Pkg*, const plat::Exception& error) {
  result_ = error;
  timer_.start(0);
}

bool ApplyTokenPage::timerExpired(plat::Timer*) {
  nextPackage();
  return false;
}

}  // namespace qoSetup
