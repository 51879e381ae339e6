#include "libs/qoSetup/InitialPage.h"

#include <string>
#include <string_view>
#include <vector>

#include "libs/qoSetup/SetupDlg.h"
#include "libs/qoSetup/SetupTexts.h"
#include "qocore/base/http/ProductUrl.h"
#include "qocore/base/loc/Format.h"
#include "qocore/base/loc/LocaleNames.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Resource.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/MuText.h"

namespace qoSetup {

namespace {

[[maybe_unused]] const bool textsRegistered = (registerSetupTexts(), true);

PLAT_LOG_SOURCE(vlog, "InitialPage");

constexpr int32_t kEulaSize = 120;

// The non-empty pieces of a resource between the separators.
std::vector<plat::CharArray> resourcePieces(const char* name, std::string_view separators) {
  std::vector<plat::CharArray> pieces;
  const plat::Resource resource = plat::getResource(name);
  if (!resource.data) return pieces;
  const std::string_view text(reinterpret_cast<const char*>(resource.data), resource.size);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(separators, start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) pieces.emplace_back(std::string(text.substr(start, end - start)).c_str());
    start = end + 1;
  }
  return pieces;
}

// The locale search list: the active locales, each followed by its
// language, then "en_US" and "en".
std::vector<std::string> localeSearchList() {
  std::vector<std::string> active;
  const plat::CharArray joined = loc::Localize::instance().getLocales();
  const std::string_view text(joined.c_str());
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(':', start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) active.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::vector<std::string> expanded;
  loc::expandLocaleList(active, expanded);
  return expanded;
}

// The product's address followed by the path, with one "/" between them
// whether or not the address ends in one.
plat::CharArray productLink(const char* path) {
  const plat::CharArray bare = http::makeProductUrl("");
  const std::string_view base(bare.c_str());
  return http::makeProductUrl(!base.empty() && base.back() == '/' && *path == '/' ? path + 1 : path);
}

}  // namespace

InitialPage::InitialPage(SetupDlg* dlg) : Page(dlg, "initial") {
  codes_ = resourcePieces("langs.txt", " \t\r\n");
  descriptions_ = resourcePieces("langDescs.txt", "\n");

  addSpacer(40);
  image_ = mui::MuImage::create(root(), "setupImg", "setupImg", {});
  addSpacer(4);
  eula_ = addText("eula", "", nullptr, true);
  addSpacer(14);
  install_ = std::make_unique<SetupButton>(root(), "install", nullptr, SetupButton::kBlue);
  addSpacer(6);
  langs_ = mui::MuChoice::create(root(), "langs", nullptr, 0);
  addSpacer(16);

  for (const plat::CharArray& description : descriptions_) langs_->insertItem(-1, description.c_str());
  int32_t selected = 0;
  bool found = false;
  for (const std::string& locale : localeSearchList()) {
    for (size_t i = 0; i < codes_.size() && !found; ++i) {
      if (locale == codes_[i].c_str()) {
        selected = static_cast<int32_t>(i);
        found = true;
      }
    }
    if (found) break;
  }
  langs_->setSelected(selected);
  if (codes_.empty()) langs_->setVisible(false);

  updateTexts();
  centre(root(), install_->button());
  centre(root(), langs_);
}

InitialPage::~InitialPage() = default;

void InitialPage::updateTexts() {
  dlg()->dialog()->setTitle(loc::translate("qoSetup_setupdlg_title"));
  const plat::CharArray eulaUrl = productLink("/legal/#eulas");
  const plat::CharArray privacyUrl = productLink("/legal/#privacy");
  plat::DString eula;
  loc::formatArgs(eula, loc::translate("qoSetup_initial_eula_pp_html_fmt", nullptr, 0, true),
                  loc::ArgList().str(eulaUrl.c_str()).str(privacyUrl.c_str()).first());
  (void)eula_->setText(centredMarkup(eula.c_str(), kEulaSize, plat::Markup::Style::kNormalWeight).c_str());
  install_->button()->setText(loc::translate("qoSetup_initial_accept_and_install"));
  relayoutDialog();
}

void InitialPage::onClicked(mui::MuElement* element) {
  if (element == install_->button()) dlg()->startDownload();
}

void InitialPage::onChanged(mui::MuElement* element) {
  if (element != langs_ || codes_.empty()) return;
  int32_t index = langs_->getSelected();
  if (index < 0) index = 0;
  if (static_cast<size_t>(index) >= codes_.size()) index = static_cast<int32_t>(codes_.size()) - 1;
  const char* code = codes_[static_cast<size_t>(index)].c_str();
  vlog().info("Language %s chosen", code);
  if (!plat::Configuration::global().setParam("Locale", code, plat::ConfigParameter::kPolicy))
    vlog().error("Locale %s not taken", code);
  updateTexts();
}

}  // namespace qoSetup
