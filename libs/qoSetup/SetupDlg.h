#pragma once
// qoSetup::SetupDlg: the wizard.  One toolkit dialog ("SetupDlg") with a
// banner and a pager, one page object per wizard step, the packages of the
// run, the client of the elevated admin helper, the HTTPS client with its
// trusted certificates and, on demand, the cloud client.
//
// Pages never switch to each other: each reports its outcome here, and the
// dialog decides the next page.  Every transition builds a fresh page
// object and shows it; the earlier object of that kind is dropped only
// once the new one stands (a constructor that throws leaves the pages as
// they were).  Only the initial page lives as long as the dialog.
//
// Pages and packages are dropped while their own callbacks may still run
// (a click on a page's button, the automation server's click, a package's
// report, the helper's report, a modal box opened inside a package's
// callback): a dropped page is deactivated at once (Page.h) and a dropped
// package abandoned (Pkg.h); both are freed from a 0 ms timer, once no
// modal loop runs, and at the latest in the destructor.
//
// Every failure ends on the error page (showError), which drops every page
// but the initial one and every package.  The dialog refuses to close
// while an installation runs, and ends the application loop 100 ms after
// it has been closed or 500 ms after it has launched the server.
// Everything runs on the main thread.

#include <memory>
#include <vector>

#include "libs/qoSetup/AdminHelperClient.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/LinkedPtr.h"
#include "qocore/base/plat/Timer.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuElement.h"
#include "qocore/uilibs/ui/Menu.h"

namespace hosted {
class HostedClient;
class HostedEndpoint;
}  // namespace hosted

namespace hostedremoteaccess {
class CapsClient;
}

namespace http {
class HttpClient;
}

namespace mui {
class MuAboutDialog;
class MuImage;
class MuPager;
}  // namespace mui

namespace os {
class UrlSchemeRegistration;
}

namespace plat {
class Exception;
}

namespace qoSetup {

class ApplyTokenPage;
class DownloadPage;
class ErrorPage;
class InitialPage;
class InstallPage;
class Page;
class Pkg;
class SettingsPage;
class SignInChoosePage;
class SigningInPage;

// "_CertsPem": a PEM file of trusted certificates used instead of the
// built-in ones while test features are on.
extern plat::StringParameter certsPem;
// "_ForceSignInAvailable": offer sign-in even when it would not be.
extern plat::BoolParameter forceSignInAvailable;

// The cloud endpoint of the process (null until the start-up sets it),
// which the wizard's cloud client copies.
plat::LinkedPtr<hosted::HostedEndpoint>& cloudEndpoint();

class SetupDlg : public mui::MuObserver,
                 public mui::MuDialog::CloseCallback,
                 public ui::Menu::ActionCallback,
                 public AdminHelperClient::Callback,
                 public plat::Timer::Callback {
 public:
  // Builds the dialog, its banner, pager and initial page; shows nothing.
  SetupDlg();
  ~SetupDlg() override;
  SetupDlg(const SetupDlg&) = delete;
  SetupDlg& operator=(const SetupDlg&) = delete;

  // Removes the work folders of earlier runs and shows the dialog.
  void show();

  // Page outcomes.
  void startDownload();
  void downloadFinished(const plat::Exception& result);
  void downloadCancelled();
  void installFinished(const char* error, const char* detail);
  void signInChosen(bool trial);
  // Only while the signing-in page shows; otherwise nothing happens.
  void signingInEnded(bool timedOut);
  // Accepted only while the signing-in page shows; otherwise, or when the
  // apply-token page refuses the URI, throws and changes no page.
  void uriReceived(const char* uri);
  void tokenApplied(const plat::Exception& result);
  void launch();
  // The error page with the message and detail (both may be null).
  void showError(const char* message, const char* detail);
  void backToInitial();

  // The capability client, made on first use over the process's cloud
  // endpoint; throws "No cloud endpoint" when there is none.
  hostedremoteaccess::CapsClient* capsClient();
  bool signInOffered();

  // mui::MuObserver: "dialog closed" starts the quit timer.
  void notify(mui::MuElement* element, mui::MuEvent event) override;
  // Refused while the install page installs.
  bool queryClose(mui::MuDialog* dialog) override;
  // Any item shows the about box.
  void menuAction(ui::Menu::Item* item) override;
  void helperLaunched() override;
  void helperLaunchFailed(const plat::Exception& error) override;
  bool timerExpired(plat::Timer* timer) override;

  http::HttpClient* httpClient() const noexcept { return httpClient_.get(); }
  AdminHelperClient* helperClient() const noexcept { return helperClient_.get(); }
  // The packages of this run, in creation order (dropped ones not).
  std::vector<Pkg*> livePackages() const;
  size_t packageCount() const noexcept { return packages_.size(); }
  Pkg* package(size_t index) const noexcept { return packages_[index].get(); }
  mui::MuDialog* dialog() const noexcept { return dialog_.get(); }
  mui::MuPager* pager() const noexcept { return pager_; }
  mui::MuAboutDialog* aboutDialog() const noexcept { return aboutDialog_.get(); }

  // The pages now current of each kind (null when none).
  InitialPage* initialPage() const noexcept { return initialPage_.get(); }
  DownloadPage* downloadPage() const noexcept { return downloadPage_.get(); }
  InstallPage* installPage() const noexcept { return installPage_.get(); }
  SignInChoosePage* signInChoosePage() const noexcept { return signInChoosePage_.get(); }
  SigningInPage* signingInPage() const noexcept { return signingInPage_.get(); }
  ApplyTokenPage* applyTokenPage() const noexcept { return applyTokenPage_.get(); }
  SettingsPage* settingsPage() const noexcept { return settingsPage_.get(); }
  ErrorPage* errorPage() const noexcept { return errorPage_.get(); }
  // Dropped pages and packages not freed yet.
  size_t pendingFrees() const noexcept { return droppedPages_.size() + droppedPackages_.size(); }

 private:
  void loadTrustedCerts();
  // Makes the page's root the pager's current page.
  void showPage(Page* page);
  // Puts the new page in its slot; the one it replaces is dropped.
  template <typename P>
  void replace(std::unique_ptr<P>& slot, std::unique_ptr<P> page);
  template <typename P>
  void drop(std::unique_ptr<P>& slot) noexcept;
  void dropPackages() noexcept;
  // Frees what was dropped; a running modal loop defers it.
  void freeDropped() noexcept;
  void scheduleFree() noexcept;

  std::unique_ptr<http::HttpClient> httpClient_;
  plat::LinkedPtr<hosted::HostedClient> hostedClient_;
  std::unique_ptr<hostedremoteaccess::CapsClient> capsClient_;
  std::unique_ptr<mui::MuDialog> dialog_;
  mui::MuImage* banner_ = nullptr;
  mui::MuPager* pager_ = nullptr;
  std::unique_ptr<InitialPage> initialPage_;
  std::unique_ptr<DownloadPage> downloadPage_;
  std::unique_ptr<InstallPage> installPage_;
  std::unique_ptr<SignInChoosePage> signInChoosePage_;
  std::unique_ptr<SigningInPage> signingInPage_;
  std::unique_ptr<ApplyTokenPage> applyTokenPage_;
  std::unique_ptr<SettingsPage> settingsPage_;
  std::unique_ptr<ErrorPage> errorPage_;
  std::unique_ptr<os::UrlSchemeRegistration> urlScheme_;
  std::vector<std::unique_ptr<Pkg>> packages_;
  std::unique_ptr<mui::MuAboutDialog> aboutDialog_;
  std::unique_ptr<AdminHelperClient> helperClient_;
  plat::Timer quitTimer_;
  std::vector<std::unique_ptr<Page>> droppedPages_;
  std::vector<std::unique_ptr<Pkg>> droppedPackages_;
  plat::Timer freeTimer_;
};

}  // namespace qoSetup
