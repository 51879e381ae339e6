#pragma once
// qoSetup::InitialPage: the wizard's first page ("initial"): a picture,
// the links to the end-user agreement and the privacy policy, the
// "Accept and Install" button and the choice of the interface language.
// It lives as long as the wizard dialog.
//
// The languages are the resources "langs.txt" (codes separated by blanks)
// and "langDescs.txt" (one description per line, in the same order); a
// missing resource gives no languages and a hidden choice.  Choosing one
// sets `Locale` at policy priority and shows every text again; the pages
// built later use the new language.

#include <memory>
#include <vector>

#include "libs/qoSetup/Page.h"
#include "qocore/base/plat/CharArray.h"

namespace mui {
class MuChoice;
class MuImage;
class MuText;
}  // namespace mui

namespace qoSetup {

class InitialPage : public Page {
 public:
  explicit InitialPage(SetupDlg* dlg);
  ~InitialPage() override;

  // Sets every text of the page (and the dialog's title) in the current
  // language, then lays the dialog out.
  void updateTexts();

  void onClicked(mui::MuElement* element) override;
  void onChanged(mui::MuElement* element) override;

  const std::vector<plat::CharArray>& codes() const noexcept { return codes_; }
  const std::vector<plat::CharArray>& descriptions() const noexcept { return descriptions_; }

 private:
  std::vector<plat::CharArray> codes_;
  std::vector<plat::CharArray> descriptions_;
  mui::MuImage* image_ = nullptr;
  mui::MuText* eula_ = nullptr;
  std::unique_ptr<SetupButton> install_;
  mui::MuChoice* langs_ = nullptr;
};

}  // namespace qoSetup
