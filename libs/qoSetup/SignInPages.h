#pragma once
// The sign-in pages: qoSetup::SignInChoosePage ("signInChoose") offers a
// free trial, sign-in with an existing account or no sign-in;
// qoSetup::SigningInPage ("signingIn") opens the browser at the portal and
// waits for its callback, for "Go back" or for the time-out.
//
// The browser's callback carries the state value the signing-in page sent
// to the portal: 8 random bytes in URL-safe Base64 without padding (11
// characters), made once per process, so that a callback that no sign-in
// of this run started is refused (ApplyTokenPage.h).

#include <cstdint>
#include <memory>

#include "libs/qoSetup/Page.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Timer.h"

namespace mui {
class MuButton;
class MuLayout;
class MuSpacer;
class MuText;
}  // namespace mui

namespace qoSetup {

// "_SignInTimeoutSecs": how long the signing-in page waits for the
// browser's callback.
extern plat::IntParameter signInTimeoutSecs;

class SignInChoosePage : public Page {
 public:
  // A horizontal row with its id: the tag text, free space and the button
  // "btn".
  struct ButtonRow {
    ButtonRow(mui::MuLayout* parent, const char* id, const char* tag, const char* button, int32_t style);

    mui::MuLayout* row;
    mui::MuText* tag;
    mui::MuSpacer* spacer;
    SetupButton btn;
  };

  // With timedOut the heading says that the last attempt timed out.
  SignInChoosePage(SetupDlg* dlg, bool timedOut);
  ~SignInChoosePage() override;

  // The two rows' buttons choose the trial or the sign-in, "noSignIn"
  // launches the server without.
  void onClicked(mui::MuElement* element) override;

  bool timedOut() const noexcept { return timedOut_; }
  const ButtonRow& trialRow() const noexcept { return *trial_; }
  const ButtonRow& signInRow() const noexcept { return *signIn_; }

 private:
  bool timedOut_;
  mui::MuText* text_ = nullptr;
  mui::MuLayout* choices_ = nullptr;
  std::unique_ptr<ButtonRow> trial_;
  std::unique_ptr<ButtonRow> signIn_;
  mui::MuButton* noSignIn_ = nullptr;
};

class SigningInPage : public Page, public plat::Timer::Callback {
 public:
  // The version the trial sign-up names.
  static constexpr const char kTrialVersion[] = "serversetupapp2.4.0";
  // The longest time-out: the timer's milliseconds must fit in an int.
  static constexpr int kMaxTimeoutMs = 0x7fffffff;

  // Builds the page, opens the browser at once and starts the time-out.
  SigningInPage(SetupDlg* dlg, bool trial);
  ~SigningInPage() override;

  // The process's state value, made on the first call.
  static const char* makeState();
  // The state value, or null before the first signing-in page.
  static const char* state() noexcept;
  // The portal address a sign-in (or, with trial, a sign-up) opens.
  static plat::CharArray portalUrl(bool trial);
  // The time-out's milliseconds for the seconds.
  static int timeoutMs(int seconds) noexcept;

  // A callback was accepted: the time-out no longer applies.
  void stopTimeout() noexcept;

  void deactivate() noexcept override;
  // "Go back" ends this attempt.
  void onClicked(mui::MuElement* element) override;
  // The time-out brings the choice back.
  bool timerExpired(plat::Timer* timer) override;

  bool trial() const noexcept { return trial_; }
  const plat::Timer& timer() const noexcept { return timer_; }

 protected:
  bool trial_;
  plat::Timer timer_;

 private:
  mui::MuText* text1_ = nullptr;
  mui::MuText* text2_ = nullptr;
  mui::MuButton* goBack_ = nullptr;
};

}  // namespace qoSetup
