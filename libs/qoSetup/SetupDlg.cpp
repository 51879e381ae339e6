#include "libs/qoSetup/SetupDlg.h"

#include <utility>

#include "libs/hosted/HostedClient.h"
#include "libs/hosted/HostedEndpoint.h"
#include "libs/hostedremoteaccess/CapsClient.h"
#include "libs/qoSetup/ApplyTokenPage.h"
#include "libs/qoSetup/DownloadPage.h"
#include "libs/qoSetup/ErrorPage.h"
#include "libs/qoSetup/InitialPage.h"
#include "libs/qoSetup/InstallPage.h"
#include "libs/qoSetup/PkgSvr.h"
#include "libs/qoSetup/SettingsPage.h"
#include "libs/qoSetup/SetupComms.h"
#include "libs/qoSetup/SetupTexts.h"
#include "libs/qoSetup/SignInPages.h"
#include "libs/qoSetup/WorkDir.h"
#include "platform/appkit/Application.h"
#include "qocore/base/http/HttpClient.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/os/AppLoop.h"
#include "qocore/base/os/mac/OpenUrl.h"
#include "qocore/base/plat/Colors.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/File.h"
#include "qocore/base/plat/FilePtr.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Resource.h"
#include "qocore/base/qoutil/TestFeatures.h"
#include "qocore/libs/ssl/SslCertificate.h"
#include "qocore/libs/ssl/SslConnFactory.h"
#include "qocore/uilibs/mui/MuControls.h"
#include "qocore/uilibs/mui/MuLayout.h"
#include "qocore/uilibs/mui/MuMessageBox.h"
#include "qocore/uilibs/mui/MuPager.h"
#include "qocore/uilibs/mui/Mui.h"

namespace qoSetup {

namespace {

[[maybe_unused]] const bool textsRegistered = (registerSetupTexts(), true);

PLAT_LOG_SOURCE(vlog, "SetupDlg");

constexpr const char kDialogId[] = "SetupDlg";
constexpr const char kBanner[] = "yarlconnectbanner";
constexpr const char kCertsResource[] = "cacerts.pem";
constexpr int kMaxCertsFile = 0x1000000;
constexpr int32_t kWidth = 1020;
constexpr int32_t kHeight = 720;
constexpr int32_t kBannerHeight = 120;
constexpr uint32_t kDialogFlags = 3;
constexpr int32_t kFontSize = 120;
constexpr int32_t kFontWeight = 400;
constexpr int kCloseQuitMs = 100;
constexpr int kLaunchQuitMs = 500;
// A dropped object waits for a running modal loop to end; the loop may
// have been opened inside the object's own callback.
constexpr int kModalRetryMs = 50;

// A length of the dialog itself: units scaled by the text size factor.
int32_t dialogUnits(int32_t n) { return mui::Mui::unitsToPoints(plat::textSizeFactor.getValue() * n / 100); }

// The work folders of this run and of earlier ones.
void removeInstallerDir() {
  const plat::CharArray dir = installerDir();
  try {
    if (plat::pathExists(dir.c_str())) plat::rmDir(dir.c_str(), true);
  } catch (const plat::Exception& e) {
    vlog().error("Error removing %s: %s", dir.c_str(), plat::FormattedText(e).text);
  }
}

bool insideModalLoop() {
  appkit::Application* app = appkit::Application::current();
  return app && app->modalWindow();
}

}  // namespace

plat::StringParameter certsPem("_CertsPem", "", "", true);
plat::BoolParameter forceSignInAvailable("_ForceSignInAvailable", "", false, true);

plat::LinkedPtr<hosted::HostedEndpoint>& cloudEndpoint() {
  // Never destroyed: the endpoint may be asked for during exit.
  static auto* endpoint = new plat::LinkedPtr<hosted::HostedEndpoint>;
  return *endpoint;
}

SetupDlg::SetupDlg() : helperClient_(std::make_unique<AdminHelperClient>(this)), quitTimer_(this), freeTimer_(this) {
  loadTrustedCerts();
  const char* title = loc::translate("qoSetup_setupdlg_title");
  dialog_.reset(mui::MuDialog::create(kDialogId, title, {dialogUnits(kWidth), dialogUnits(kHeight)}, kDialogFlags,
                                      nullptr, nullptr));
  banner_ = mui::MuImage::create(dialog_.get(), nullptr, kBanner, {dialogUnits(kWidth), dialogUnits(kBannerHeight)});
  pager_ = mui::MuPager::create(dialog_.get(), nullptr, 1);
  aboutDialog_ = std::make_unique<mui::MuAboutDialog>(dialog_.get(), nullptr, nullptr);
  dialog_->addObserver(this);
  dialog_->setCloseCallback(this);

  mui::MuFont& font = dialog_->font();
  font.size = kFontSize;
  font.weight = kFontWeight;
  dialog_->setBackgroundColour("contentBg");
  dialog_->setColour("contentText");
  dialog_->setPanelMode(banner_, mui::MuDialog::kTopPanel);

  initialPage_ = std::make_unique<InitialPage>(this);
  showPage(initialPage_.get());
  dialog_->layoutNow();

  if (ui::MenuBar* bar = dialog_->appMenuBar()) (void)bar->aboutItem(0);
}

SetupDlg::~SetupDlg() {
  quitTimer_.cancel();
  freeTimer_.cancel();
  // Nothing reaches a page from here on: its timers, packages and helper
  // requests are forgotten before what they refer to goes.
  for (Page* page : std::initializer_list<Page*>{errorPage_.get(), settingsPage_.get(), applyTokenPage_.get(),
                                                 signingInPage_.get(), signInChoosePage_.get(), installPage_.get(),
                                                 downloadPage_.get(), initialPage_.get()}) {
    if (page) page->deactivate();
  }
  helperClient_.reset();
  dialog_->addObserverNoexcept(this);
  dialog_->setCloseCallback(nullptr);
  aboutDialog_.reset();
  while (!packages_.empty()) packages_.pop_back();
  while (!droppedPackages_.empty()) droppedPackages_.pop_back();
  urlScheme_.reset();
  errorPage_.reset();
  settingsPage_.reset();
  applyTokenPage_.reset();
  signingInPage_.reset();
  signInChoosePage_.reset();
  installPage_.reset();
  downloadPage_.reset();
  initialPage_.reset();
  droppedPages_.clear();
  dialog_.reset();
  capsClient_.reset();
  hostedClient_ = plat::LinkedPtr<hosted::HostedClient>();
  httpClient_.reset();
}

void SetupDlg::loadTrustedCerts() {
  auto lookup = std::make_unique<ssl::SslCertLookupCustom>();
  const char* file = certsPem.getValue();
  if (qoutil::testFeaturesEnabled() && file && *file) {
    vlog().debug("Using trusted certs from %s", file);
    plat::FilePtr in;
    in.open(file, plat::FilePtr::kRead);
    const plat::MBuf<unsigned char> text = in.readAll(kMaxCertsFile);
    for (const auto& cert : ssl::SslCertificate::loadPemFile(reinterpret_cast<const char*>(text.data()),
                                                             static_cast<size_t>(text.count())))
      lookup->addCertificate(cert);
  } else {
    vlog().debug("Using trusted certs from built-in resource");
    const plat::Resource resource = plat::getResource(kCertsResource);
    if (resource.data) {
      for (const auto& cert :
           ssl::SslCertificate::loadPemFile(reinterpret_cast<const char*>(resource.data), resource.size))
        lookup->addCertificate(cert);
    }
  }
  std::unique_ptr<http::NativeHttpClient> client(http::createHttpClient(std::move(lookup)));
  client->setAllowPlainHttp(qoutil::testFeaturesEnabled());
  httpClient_ = std::move(client);
}

void SetupDlg::show() {
  removeInstallerDir();
  dialog_->setVisible(true);
  banner_->setFocus();
}

std::vector<Pkg*> SetupDlg::livePackages() const {
  std::vector<Pkg*> live;
  for (const std::unique_ptr<Pkg>& pkg : packages_) live.push_back(pkg.get());
  return live;
}

// ---- Pages ----

void SetupDlg::showPage(Page* page) {
  const int32_t count = pager_->childCount();
  int32_t index = 0;
  while (index < count && pager_->childAt(index) != static_cast<mui::MuElement*>(page->root())) ++index;
  pager_->setPage(index);
}

template <typename P>
void SetupDlg::drop(std::unique_ptr<P>& slot) noexcept {
  if (!slot) return;
  slot->deactivate();
  droppedPages_.push_back(std::move(slot));
  scheduleFree();
}

template <typename P>
void SetupDlg::replace(std::unique_ptr<P>& slot, std::unique_ptr<P> page) {
  drop(slot);
  slot = std::move(page);
  showPage(slot.get());
}

void SetupDlg::dropPackages() noexcept {
  while (!packages_.empty()) {
    packages_.back()->abandon();
    droppedPackages_.push_back(std::move(packages_.back()));
    packages_.pop_back();
  }
  scheduleFree();
}

void SetupDlg::scheduleFree() noexcept {
  if (!droppedPages_.empty() || !droppedPackages_.empty()) freeTimer_.start(0);
}

void SetupDlg::freeDropped() noexcept {
  if (insideModalLoop()) {
    freeTimer_.start(kModalRetryMs);
    return;
  }
  droppedPages_.clear();
  while (!droppedPackages_.empty()) droppedPackages_.pop_back();
}

// ---- Transitions ----

void SetupDlg::startDownload() {
  packages_.push_back(std::make_unique<PkgSvr>(helperClient_.get(), httpClient_.get()));
  replace(downloadPage_, std::make_unique<DownloadPage>(this));
}

void SetupDlg::downloadFinished(const plat::Exception& result) {
  if (isFailure(result)) {
    showError(result.str(), nullptr);
    return;
  }
  replace(installPage_, std::make_unique<InstallPage>(this));
  bool install = false;
  for (const std::unique_ptr<Pkg>& pkg : packages_) install = install || pkg->installFlag();
  if (install) {
    installPage_->showElevating();
    // A launch that fails at once reports from inside, and the error page
    // then replaces the install page.
    helperClient_->launch();
  } else {
    installPage_->helperReady();
  }
}

void SetupDlg::downloadCancelled() { showError(loc::translate("qoSetup_download_cancelled"), nullptr); }

void SetupDlg::helperLaunched() {
  if (installPage_) installPage_->helperReady();
}

void SetupDlg::helperLaunchFailed(const plat::Exception& error) {
  vlog().error("Helper launch failed: %s", plat::FormattedText(error).text);
  showError(loc::translate("qoSetup_install_elevation_failed"), nullptr);
}

void SetupDlg::installFinished(const char* error, const char* detail) {
  if (error) {
    showError(error, detail);
  } else if (signInOffered()) {
    replace(signInChoosePage_, std::make_unique<SignInChoosePage>(this, false));
  } else {
    launch();
  }
}

bool SetupDlg::signInOffered() {
  if (forceSignInAvailable.getValue()) return true;
  if (packages_.empty()) return false;
  return !helperClient_->haveCloudCredsSvr();
}

void SetupDlg::signInChosen(bool trial) {
  vlog().info("Sign in chosen, trial %d", trial ? 1 : 0);
  if (!urlScheme_) {
    try {
      urlScheme_ = std::make_unique<os::UrlSchemeRegistration>(kUrlScheme, 1);
    } catch (const plat::Exception& e) {
      vlog().error("Error registering URL scheme: %s", plat::FormattedText(e).text);
      showError(e.str(), nullptr);
      return;
    }
  }
  replace(signingInPage_, std::make_unique<SigningInPage>(this, trial));
}

void SetupDlg::signingInEnded(bool timedOut) {
  // Only the attempt that shows may end: a late time-out of a page the
  // user has left (or that a callback has moved on from) changes nothing.
  if (!signingInPage_ || !signingInPage_->root()->isVisible()) return;
  vlog().info("Signing in/up %s", timedOut ? "timed out" : "abandoned");
  replace(signInChoosePage_, std::make_unique<SignInChoosePage>(this, timedOut));
}

void SetupDlg::uriReceived(const char* uri) {
  if (!signingInPage_ || !signingInPage_->root()->isVisible())
    throw plat::Exception("URI received when not showing SigningInPage");
  // The page checks the URI as it is built: a refusal leaves every page
  // as it was.
  auto page = std::make_unique<ApplyTokenPage>(this, uri);
  replace(applyTokenPage_, std::move(page));
}

void SetupDlg::tokenApplied(const plat::Exception& result) {
  if (isFailure(result)) {
    showError(result.str(), nullptr);
    return;
  }
  replace(settingsPage_, std::make_unique<SettingsPage>(this));
}

void SetupDlg::launch() {
  try {
    vlog().info("Launching");
    for (const std::unique_ptr<Pkg>& pkg : packages_) pkg->launch();
    dialog_->setVisible(false);
    vlog().info("Exiting");
    quitTimer_.start(kLaunchQuitMs);
  } catch (const plat::Exception& e) {
    vlog().error("Error launching: %s", plat::FormattedText(e).text);
    showError(e.str(), nullptr);
  }
}

void SetupDlg::showError(const char* message, const char* detail) {
  replace(errorPage_, std::make_unique<ErrorPage>(this));
  if (message) errorPage_->setMessage(message, detail);
  drop(downloadPage_);
  drop(installPage_);
  drop(signInChoosePage_);
  drop(signingInPage_);
  drop(applyTokenPage_);
  drop(settingsPage_);
  dropPackages();
  helperClient_->cancel();
}

void SetupDlg::backToInitial() {
  removeInstallerDir();
  showPage(initialPage_.get());
}

hostedremoteaccess::CapsClient* SetupDlg::capsClient() {
  if (capsClient_) return capsClient_.get();
  plat::LinkedPtr<hosted::HostedEndpoint> endpoint = cloudEndpoint();
  // The entry fills it from the cloud configuration; a client over none
  // would fail on its first use, far from the cause.
  if (!endpoint) throw plat::Exception("No cloud endpoint");
  hostedClient_ = plat::LinkedPtr<hosted::HostedClient>(new hosted::HostedClient(endpoint, nullptr));
  capsClient_ = std::make_unique<hostedremoteaccess::CapsClient>(endpoint, hostedClient_.get());
  return capsClient_.get();
}

// ---- Closing and ending ----

void SetupDlg::notify(mui::MuElement* element, mui::MuEvent event) {
  if (event != mui::kEventDialogClosed || element != dialog_.get()) return;
  vlog().info("Dialog closed");
  quitTimer_.start(kCloseQuitMs);
}

bool SetupDlg::queryClose(mui::MuDialog*) { return !(installPage_ && installPage_->isInstalling()); }

void SetupDlg::menuAction(ui::Menu::Item*) { aboutDialog_->dialog()->setVisible(true); }

bool SetupDlg::timerExpired(plat::Timer* timer) {
  if (timer == &freeTimer_) {
    freeDropped();
  } else {
    os::AppLoop::quit(0);
  }
  return false;
}

}  // namespace qoSetup
