#include "qocore/libs/muimisc/ClearTextPassword.h"

#include <mutex>

#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/SecretText.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuLayout.h"

namespace muimisc {

namespace {

// Flags of the image buttons: borderless.
constexpr uint32_t kImageButtonFlags = mui::MuButton::kBorderless;

// Columns: key, de, es, fr, en, pt.  The field shows only the clipboard
// tip; the other keys belong to settings panels this program does not
// build and carry an English gloss in every language.
#define MUIMISC_GLOSS(key, text) \
  { key, text, text, text, text, text }
constexpr loc::BuiltinText kRows[] = {
    {"muimisc_cleartextpassword_clipboard_tip", "Passwort in die Zwischenablage kopieren",
     "Copiar contraseña en el portapapeles", "Copier le mot de passe dans le presse-papiers",
     "Copy password to clipboard", "Copiar senha para a área de transferência"},
    MUIMISC_GLOSS("muimisc_configdlg_help_policy", "This setting is fixed by policy."),
    MUIMISC_GLOSS("muimisc_expsec_filter", "Filter:"),
    MUIMISC_GLOSS("muimisc_expsec_help_app", "Value set by the application."),
    MUIMISC_GLOSS("muimisc_expsec_help_conn", "Value set for this connection."),
    MUIMISC_GLOSS("muimisc_expsec_help_default", "Default value."),
    MUIMISC_GLOSS("muimisc_expsec_help_modified", "Value changed by the user."),
    MUIMISC_GLOSS("muimisc_expsec_help_policy", "Value fixed by policy."),
    MUIMISC_GLOSS("muimisc_expsec_more_info_uri", "https://www.example.com/parameters"),
    MUIMISC_GLOSS("muimisc_expsec_name", "Name"),
    MUIMISC_GLOSS("muimisc_expsec_parameter_heading", "Parameter"),
    MUIMISC_GLOSS("muimisc_expsec_reset_app", "Reset to application value"),
    MUIMISC_GLOSS("muimisc_expsec_reset_app_tip", "Return the parameter to the application's value."),
    MUIMISC_GLOSS("muimisc_expsec_reset_def", "Reset to default"),
    MUIMISC_GLOSS("muimisc_expsec_reset_def_tip", "Return the parameter to its default value."),
    MUIMISC_GLOSS("muimisc_expsec_set_param_failed_fmt", "Could not set %S."),
    MUIMISC_GLOSS("muimisc_expsec_set_param_succeeded_fmt", "%S was set."),
    MUIMISC_GLOSS("muimisc_expsec_set_params", "Set parameters"),
    MUIMISC_GLOSS("muimisc_expsec_title", "Expert"),
    MUIMISC_GLOSS("muimisc_expsec_value", "Value:"),
    MUIMISC_GLOSS("muimisc_expsec_value_binary", "Binary value"),
    MUIMISC_GLOSS("muimisc_expsec_value_binary_placeholder", "Hexadecimal bytes"),
    MUIMISC_GLOSS("muimisc_expsec_value_choice_false", "False"),
    MUIMISC_GLOSS("muimisc_expsec_value_choice_tip", "Choose the value."),
    MUIMISC_GLOSS("muimisc_expsec_value_choice_true", "True"),
    MUIMISC_GLOSS("muimisc_expsec_value_heading", "Value"),
    MUIMISC_GLOSS("muimisc_expsec_value_numeric_tip", "Enter a whole number."),
    MUIMISC_GLOSS("muimisc_expsec_value_text_tip", "Enter the text."),
    MUIMISC_GLOSS("muimisc_loggingsection_custom", "Custom"),
    MUIMISC_GLOSS("muimisc_loggingsection_custom_tip", "Log what the setting below names."),
    MUIMISC_GLOSS("muimisc_loggingsection_default", "Default"),
    MUIMISC_GLOSS("muimisc_loggingsection_default_tip", "Log the usual messages."),
    MUIMISC_GLOSS("muimisc_loggingsection_full", "Full"),
    MUIMISC_GLOSS("muimisc_loggingsection_full_tip", "Log everything, for troubleshooting."),
    MUIMISC_GLOSS("muimisc_loggingsection_open", "Open log folder"),
    MUIMISC_GLOSS("muimisc_loggingsection_open_tip", "Show the folder that holds the log files."),
    MUIMISC_GLOSS("muimisc_loggingsection_outputinfo_fmt", "Logging to %S"),
    MUIMISC_GLOSS("muimisc_loggingsection_value_tip", "The log setting."),
    MUIMISC_GLOSS("muimisc_proxysection_proxy", "Proxy"),
    MUIMISC_GLOSS("muimisc_proxysection_proxy_disable", "No proxy"),
    MUIMISC_GLOSS("muimisc_proxysection_proxy_disable_tip", "Connect directly."),
    MUIMISC_GLOSS("muimisc_proxysection_proxy_mac_tip", "Use the proxy of the system's network settings."),
    MUIMISC_GLOSS("muimisc_proxysection_proxy_manual", "Manual proxy"),
    MUIMISC_GLOSS("muimisc_proxysection_proxy_manual_tip", "Use the proxy given below."),
    MUIMISC_GLOSS("muimisc_proxysection_proxy_msie", "Browser proxy settings"),
    MUIMISC_GLOSS("muimisc_proxysection_proxy_msie_tip", "Use the browser's proxy settings."),
    MUIMISC_GLOSS("muimisc_proxysection_proxy_password", "Password:"),
    MUIMISC_GLOSS("muimisc_proxysection_proxy_password_tip", "The proxy password."),
    MUIMISC_GLOSS("muimisc_proxysection_proxy_server", "Server:"),
    MUIMISC_GLOSS("muimisc_proxysection_proxy_server_tip", "The proxy server as host:port."),
    MUIMISC_GLOSS("muimisc_proxysection_proxy_system", "System proxy settings"),
    MUIMISC_GLOSS("muimisc_proxysection_proxy_type", "Type:"),
    MUIMISC_GLOSS("muimisc_proxysection_proxy_type_http", "HTTP"),
    MUIMISC_GLOSS("muimisc_proxysection_proxy_type_socks", "SOCKS"),
    MUIMISC_GLOSS("muimisc_proxysection_proxy_type_tip", "The kind of proxy server."),
    MUIMISC_GLOSS("muimisc_proxysection_proxy_unix_tip", "Use the proxy of the environment."),
    MUIMISC_GLOSS("muimisc_proxysection_proxy_username", "User name:"),
    MUIMISC_GLOSS("muimisc_proxysection_proxy_username_tip", "The proxy user name."),
    MUIMISC_GLOSS("muimisc_proxysection_validate_proxyserver", "Enter the proxy server as host:port."),
};
#undef MUIMISC_GLOSS
static_assert(std::size(kRows) == 59);

[[maybe_unused]] const bool kRegistered = (ClearTextPassword::registerTexts(), true);

}  // namespace

void ClearTextPassword::registerTexts() {
  static constinit std::once_flag once;
  std::call_once(once, [] { loc::addBuiltinTexts(kRows); });
}

ClearTextPassword::ClearTextPassword(mui::MuContainer* parent, const char* id, const char* label, bool withCopyButton) {
  registerTexts();
  row_ = mui::MuLayout::create(parent, id, mui::MuLayout::kHorizontal);
  hiddenEdit_ = mui::MuEdit::create(row_, "hidden", label, mui::MuEdit::kPassword, 0);
  clearEdit_ = mui::MuEdit::create(row_, "clear", label, mui::MuEdit::kText, 0);
  eyeButton_ = mui::MuButton::create(row_, "clearObsBtn", nullptr, mui::MuButton::kCustom, kImageButtonFlags, 1);
  if (withCopyButton) {
    copyButton_ = mui::MuButton::create(row_, "clipboardBtn", nullptr, mui::MuButton::kCustom, kImageButtonFlags, 1);
  }
  row_->addObserver(this, true);
  row_->setChildLayout(hiddenEdit_, mui::MuLayout::kWeighted, 1);
  row_->setChildLayout(clearEdit_, mui::MuLayout::kWeighted, 1);
  clearEdit_->setVisible(false);
  if (copyButton_) {
    copyButton_->setImage("copyToClipboard", imageSize(), 0);
    copyButton_->setToolTip(loc::translate("muimisc_cleartextpassword_clipboard_tip"));
  }
  refreshEyeImage();
}

ClearTextPassword::~ClearTextPassword() { row_->addObserverNoexcept(this); }

mui::Size ClearTextPassword::imageSize() const {
  const int32_t side = hiddenEdit_->heightForWidth(-1);
  return mui::Size{side, side};
}

mui::MuEdit* ClearTextPassword::currentEdit() const { return clearEdit_->isVisible() ? clearEdit_ : hiddenEdit_; }

void ClearTextPassword::refreshEyeImage() {
  eyeButton_->setImage(clearEdit_->isVisible() ? "eyeOpen" : "eyeClosed", imageSize(), 0);
}

void ClearTextPassword::swapTo(bool shown) {
  mui::MuEdit* left = currentEdit();
  const plat::SecretText text(left->getText());
  hiddenEdit_->setVisible(!shown);
  clearEdit_->setVisible(shown);
  refreshEyeImage();
  mui::MuEdit* now = currentEdit();
  now->setText(text.c_str());
  // The text moves: the hidden edit keeps no copy of the password.
  if (left != now) left->setText("");
  row_->layoutNow();
}

void ClearTextPassword::setTextShown(bool shown) { swapTo(shown); }

void ClearTextPassword::setEnabled(bool enabled) {
  hiddenEdit_->setEnabled(enabled);
  clearEdit_->setEnabled(enabled);
  eyeButton_->setEnabled(enabled);
}

void ClearTextPassword::setPlaceholder(const char* text) {
  hiddenEdit_->setPlaceholder(text);
  clearEdit_->setPlaceholder(text);
}

void ClearTextPassword::setLabelWidth(int32_t width, int32_t extra) {
  hiddenEdit_->setLabelWidth(width, extra);
  clearEdit_->setLabelWidth(width, extra);
}

void ClearTextPassword::notify(mui::MuElement* element, mui::MuEvent event) {
  if (event != mui::kEventClicked || !element) return;
  if (copyButton_ && element == copyButton_) {
    copyButton_->setImage("copiedToClipboard", imageSize(), 0);
    row_->layoutNow();
    if (auto* dialog = dynamic_cast<mui::MuDialog*>(mui::MuElement::getRoot(copyButton_))) {
      const plat::SecretText text(currentEdit()->getText());
      dialog->copyToPasteboard(text.c_str());
    }
  } else if (element == eyeButton_) {
    int32_t start = 0;
    int32_t length = 0;
    currentEdit()->getSelection(start, length);
    swapTo(!clearEdit_->isVisible());
    mui::MuEdit* now = currentEdit();
    now->setFocus();
    now->setSelection(start, length);
  }
}

}  // namespace muimisc
