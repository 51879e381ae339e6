#pragma once
// qoSetup::Pkg: one installable product, handled from start to end: its
// installer file is downloaded over HTTPS into the run's work folder
// (WorkDir.h), checked for an install command, installed through the
// admin helper, and then the browser's sign-in ticket is redeemed for a
// token that the product applies.  Pkg does the steps every package
// shares; a package class adds where its executables lie, how it is
// launched at the end and what it does with its token (PkgSvr.h).
//
// Each step starts with its start function and ends with exactly one
// done-call on the callback given there (download done, install done,
// token applied), carrying the failure or an empty error.  A package runs
// one step at a time.  Callers may delete the package inside those
// callbacks: nothing of it is touched after a done-call.
//
// The hidden `_NoInstall` switch puts "/bin/echo" before the install
// command, so the helper only echoes it.

#include <cstdint>
#include <memory>
#include <vector>

#include "libs/hostedremoteaccess/TicketRedeemer.h"
#include "libs/qoSetup/AdminHelperClient.h"
#include "libs/qoSetup/Download.h"
#include "qocore/base/io/EndpointUri.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/SecretText.h"

namespace hostedremoteaccess {
class CapsClient;
}

namespace plat {
class LogSrc;
}

namespace qoSetup {

// "_NoInstall".
extern plat::BoolParameter noInstall;

class Pkg : public Download::Callback,
            public AdminHelperClient::RunCmdCallback,
            public hostedremoteaccess::TicketRedeemer::Callback {
 public:
  // The download page.  total is negative when the answer gives no size.
  class DownloadCallback {
   public:
    virtual void downloadProgress(Pkg* pkg, int64_t received, int64_t total) = 0;
    virtual void downloadDone(Pkg* pkg, const plat::Exception& error) = 0;
    virtual ~DownloadCallback();
  };

  // The install page.  A null error means success.
  class InstallCallback {
   public:
    virtual void installDone(Pkg* pkg, const char* error) = 0;
    virtual void installOutput(Pkg* pkg, int length, const uint8_t* data) = 0;
    virtual ~InstallCallback();
  };

  // The apply-token page.
  class ApplyTokenCallback {
   public:
    virtual void tokenApplied(Pkg* pkg, const plat::Exception& error) = 0;
    virtual ~ApplyTokenCallback();
  };

  // The helper and the HTTPS client are borrowed and must outlive the
  // package.  Every package starts with its install flag set.
  Pkg(const char* name, AdminHelperClient* helper, http::HttpClient* httpsClient, const char* uri);
  ~Pkg() override;
  Pkg(const Pkg&) = delete;
  Pkg& operator=(const Pkg&) = delete;

  // Downloads the package file into the run's work folder.
  void startDownload(DownloadCallback* callback);
  // Installs the downloaded file through the helper.
  void startInstall(InstallCallback* callback);
  // Redeems the ticket that the query's ticket parameter carries.  The
  // caps client is borrowed.
  void startTicketRedeem(ApplyTokenCallback* callback, hostedremoteaccess::CapsClient* capsClient,
                         const io::UriParams& query);

  // The page that was told of a step forgets it: that callback hears
  // nothing more of this package.
  void forget(DownloadCallback* callback) noexcept;
  void forget(InstallCallback* callback) noexcept;
  void forget(ApplyTokenCallback* callback) noexcept;
  // The wizard dropped the package: no step reports any more, and a
  // download or redemption under way stops.  Not for the download's or the
  // redemption's own callbacks before they have dropped it.
  void abandon() noexcept;

  // Starts the installed product after setup.
  virtual void launch() = 0;
  // Shows an error box and throws when the saved file has no install
  // command.
  virtual void checkInstallCmd();
  // The first existing file of that name in the executable folders, or
  // null; the display name is for the packages' messages.
  virtual plat::CharArray findExecutable(const char* displayName, const char* fileName);
  // Sends the install command to the helper.
  virtual void doInstall();
  // After a successful install: true when the package reports the end
  // itself, false when install done follows at once.
  virtual bool postInstall();
  // Does what the package does with its token.
  virtual void applyToken() = 0;

  // The install command of a file ("/usr/sbin/installer" with "-pkg", the
  // file, "-target", "/"), or an empty list: only a ".pkg" file has one,
  // and only when the installer is there.
  static plat::CharArrayList installCommand(const char* file);

  const char* name() const noexcept { return name_.c_str(); }
  const char* uri() const noexcept { return uri_.c_str(); }
  // Empty until the download is saved.
  const char* localFile() const noexcept { return localFile_.c_str(); }
  bool installFlag() const noexcept { return install_; }
  void setInstallFlag(bool install) noexcept { install_ = install; }

  // The download (Download::Callback).  Only status 200 is accepted.
  bool acceptStatus(http::HttpRequest& request, int32_t status) override;
  void onSucceeded(http::HttpRequest& request) override;
  void onFailed(http::HttpRequest& request, const plat::Exception& error) override;
  void downloadProgress(http::HttpRequest& request, int64_t received, int64_t total) override;
  // The install command (AdminHelperClient::RunCmdCallback).
  void cmdResult(int exitStatus, const plat::Exception& error) override;
  void cmdOutput(int length, const uint8_t* data) override;
  // The redemption (TicketRedeemer::Callback).  Whatever fails here,
  // applyToken included, ends in token applied with the failure.
  void onTicketRedeemed(hostedremoteaccess::TicketRedeemer* redeemer, const plat::JsonRef& answer) override;
  void onTicketRedeemError(hostedremoteaccess::TicketRedeemer* redeemer, const plat::Exception& error) override;

 protected:
  // Install done without error, or with the error's text.
  void finishInstall(const char* error);
  void tellTokenApplied(const plat::Exception& error);

  plat::CharArray name_;
  plat::CharArray localFile_;
  bool install_ = true;
  AdminHelperClient* helper_;
  http::HttpClient* httpsClient_;
  plat::CharArray uri_;
  DownloadCallback* downloadCb_ = nullptr;
  InstallCallback* installCb_ = nullptr;
  ApplyTokenCallback* applyTokenCb_ = nullptr;
  std::unique_ptr<Download> download_;
  std::unique_ptr<hostedremoteaccess::TicketRedeemer> redeemer_;
  std::vector<plat::CharArray> exeDirs_;
  plat::CharArrayList extraInstallArgs_;
  plat::CharArray ticketParam_;
  plat::CharArray tokenType_;
  plat::SecretText token_;
};

// Logs a command's output as text at level 100, one log line per line.
void logCommandOutput(plat::LogSrc& log, int length, const uint8_t* data);

}  // namespace qoSetup
