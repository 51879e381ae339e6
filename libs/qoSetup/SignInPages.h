#pragma once
// The sign-in pages: qoSetup::SignInChoosePage ("signInChoose") offers a
// free trial, sign-in with an existing account or no sign-in;
// qoSetup::SigningInPage ("signingIn") opens the browser at the portal and
// waits for its callback, for "Go back" or for the time-out.

#include "libs/qoSetup/Page.h"
#include "qocore/base/plat/Timer.h"

namespace qoSetup {

class SignInChoosePage : public Page {
 public:
  // With timedOut the heading says that the last attempt timed out.
  SignInChoosePage(SetupDlg* dlg, bool timedOut);
  ~SignInChoosePage() override;

  bool timedOut() const noexcept { return timedOut_; }

 private:
  bool timedOut_;
};

class SigningInPage : public Page, public plat::Timer::Callback {
 public:
  // Builds the page and opens the browser at once.
  SigningInPage(SetupDlg* dlg, bool trial);
  ~SigningInPage() override;

  void deactivate() noexcept override;
  bool timerExpired(plat::Timer* timer) override;

  bool trial() const noexcept { return trial_; }

 protected:
  bool trial_;
  plat::Timer timer_;
};

}  // namespace qoSetup
