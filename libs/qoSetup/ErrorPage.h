#pragma once
// qoSetup::ErrorPage: the page every failure ends on ("error"): the
// failure's text, a button that shows the install command's output when
// there is any, a link to the online help and "Try again", which goes back
// to the initial page.

#include <memory>

#include "libs/qoSetup/Page.h"
#include "qocore/base/plat/CharArray.h"

namespace mui {
class MuButton;
class MuMessageBox;
class MuText;
}  // namespace mui

namespace qoSetup {

// The address of the online help article on failed installations.
extern const char* const kInstallHelpUrl;

class ErrorPage : public Page {
 public:
  explicit ErrorPage(SetupDlg* dlg);
  ~ErrorPage() override;

  // Shows the message (escaped) and keeps the detail (null stays null);
  // the output button shows exactly when the detail is not empty.
  void setMessage(const char* message, const char* detail);

  void onClicked(mui::MuElement* element) override;

  const char* detail() const noexcept { return detail_.get(); }

 private:
  mui::MuText* text1_ = nullptr;
  mui::MuText* text2_ = nullptr;
  mui::MuText* detailText_ = nullptr;
  mui::MuButton* cmdOutBtn_ = nullptr;
  mui::MuText* support_ = nullptr;
  std::unique_ptr<SetupButton> retry_;
  plat::CharArray detail_;
  std::unique_ptr<mui::MuMessageBox> cmdOutBox_;
  // The output box's modal loop runs.
  bool showingOutput_ = false;
};

}  // namespace qoSetup
