#include "libs/qoSetup/Pkg.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "libs/qoSetup/SetupTexts.h"
#include "libs/qoSetup/WorkDir.h"
#include "qocore/base/loc/Format.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/os/unix/LaunchProcess.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/JsonValue.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Path.h"
#include "qocore/base/qoutil/SystemPath.h"
#include "qocore/uilibs/mui/MuMessageBox.h"

namespace qoSetup {

namespace {

[[maybe_unused]] const bool textsRegistered = (registerSetupTexts(), true);

PLAT_LOG_SOURCE(vlog, "Pkg");

constexpr const char kInstaller[] = "/usr/sbin/installer";
constexpr const char kEcho[] = "/bin/echo";
constexpr const char kNoInstallCmdKey[] = "qoSetup_error_no_install_cmd";
// The downloaded file is read by the helper (root) only; the folder is
// private in any case.
constexpr mode_t kDownloadMode = 0644;

bool endsWith(const char* text, const char* end) {
  const std::string_view t(text), e(end);
  return t.size() >= e.size() && t.compare(t.size() - e.size(), e.size(), e) == 0;
}

// The last "/"-separated segment of the URI's path ("" when the path ends
// in "/" or there is none).
std::string lastPathSegment(const char* uri) {
  const io::Uri parsed = io::parseUri(uri);
  const std::string path = parsed.path.c_str();
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

plat::BoolParameter noInstall("_NoInstall", "", false, true);

Pkg::DownloadCallback::~DownloadCallback() = default;
Pkg::InstallCallback::~InstallCallback() = default;
Pkg::ApplyTokenCallback::~ApplyTokenCallback() = default;

void logCommandOutput(plat::LogSrc& log, int length, const uint8_t* data) {
  if (length <= 0 || !log.enabled(plat::LogSrc::kDebug)) return;
  const std::string text(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
  log.writeLines(plat::LogSrc::kDebug, text.c_str());
}

Pkg::Pkg(const char* name, AdminHelperClient* helper, http::HttpClient* httpsClient, const char* uri)
    : name_(name), localFile_(""), helper_(helper), httpsClient_(httpsClient), uri_(uri ? uri : "") {}

Pkg::~Pkg() = default;

void Pkg::forget(DownloadCallback* callback) noexcept {
  if (downloadCb_ == callback) downloadCb_ = nullptr;
}

void Pkg::forget(InstallCallback* callback) noexcept {
  if (installCb_ == callback) installCb_ = nullptr;
}

void Pkg::forget(ApplyTokenCallback* callback) noexcept {
  if (applyTokenCb_ == callback) applyTokenCb_ = nullptr;
}

void Pkg::abandon() noexcept {
  downloadCb_ = nullptr;
  installCb_ = nullptr;
  applyTokenCb_ = nullptr;
  download_.reset();
  redeemer_.reset();
}

// ---- Download ----

void Pkg::startDownload(DownloadCallback* callback) {
  vlog().info("Downloading %s from %s", name_.c_str(), uri_.c_str());
  downloadCb_ = callback;
  try {
    download_ = std::make_unique<Download>(this, httpsClient_, uri_.c_str());
  } catch (const plat::Exception& e) {
    vlog().error("Error starting download: %s", plat::FormattedText(e).text);
    callback->downloadDone(this, e);
  }
}

bool Pkg::acceptStatus(http::HttpRequest&, int32_t status) { return status == 200; }

void Pkg::downloadProgress(http::HttpRequest&, int64_t received, int64_t total) {
  if (downloadCb_) downloadCb_->downloadProgress(this, received, total);
}

void Pkg::onSucceeded(http::HttpRequest& request) {
  downloadProgress(request, 1, 1);
  plat::Exception failure;
  try {
    http::SharedBody body = request.responseBody();
    // Done with the request: the body lives on in `body` until it is
    // written, and not beyond.
    download_.reset();
    plat::CharArray path = uniqueWorkFile(lastPathSegment(uri_.c_str()).c_str());
    writeNewFile(path.c_str(), body ? body->data() : nullptr, body ? static_cast<size_t>(body->count()) : 0,
                 kDownloadMode);
    body.reset();
    localFile_ = std::move(path);
    checkInstallCmd();
  } catch (const plat::Exception& e) {
    vlog().error("Error getting file: %s", plat::FormattedText(e).text);
    failure = e;
  }
  if (downloadCb_) downloadCb_->downloadDone(this, failure);
}

void Pkg::onFailed(http::HttpRequest&, const plat::Exception& error) {
  vlog().error("HTTP error: %s", plat::FormattedText(error).text);
  if (downloadCb_) downloadCb_->downloadDone(this, error);
}

plat::CharArrayList Pkg::installCommand(const char* file) {
  plat::CharArrayList command;
  if (!endsWith(file, ".pkg")) return command;
  plat::CharArray installer = os::findInPath(qoutil::systemPath(kInstaller).c_str(), false);
  if (!installer) return command;
  command.push_back(std::move(installer));
  command.emplace_back("-pkg");
  command.emplace_back(file);
  command.emplace_back("-target");
  command.emplace_back("/");
  return command;
}

void Pkg::checkInstallCmd() {
  if (!installCommand(localFile_.c_str()).empty()) return;
  const char* text = loc::translate(kNoInstallCmdKey);
  mui::MuMessageBox box(text, mui::MuMessageBox::kOk | mui::MuMessageBox::kIconError, nullptr, nullptr, true, nullptr);
  (void)box.show();
  throw plat::Exception(text);
}

plat::CharArray Pkg::findExecutable(const char*, const char* fileName) {
  std::vector<const char*> dirs;
  for (const plat::CharArray& dir : exeDirs_) dirs.push_back(dir.c_str());
  return plat::findFileInDirs(fileName, dirs);
}

// ---- Install ----

void Pkg::startInstall(InstallCallback* callback) {
  vlog().info("Installing %s from %s", name_.c_str(), localFile_.c_str());
  installCb_ = callback;
  try {
    doInstall();
  } catch (const plat::Exception& e) {
    vlog().error("doInstall failed: %s", plat::FormattedText(e).text);
    callback->installDone(this, e.str());
  }
}

void Pkg::doInstall() {
  plat::CharArrayList command = installCommand(localFile_.c_str());
  if (command.empty()) throw plat::Exception(loc::translate(kNoInstallCmdKey));
  for (const plat::CharArray& arg : extraInstallArgs_) command.push_back(arg);
  if (noInstall.getValue()) command.insert(command.begin(), plat::CharArray(kEcho));
  helper_->runCmd(command, this);
}

bool Pkg::postInstall() { return false; }

void Pkg::cmdOutput(int length, const uint8_t* data) {
  logCommandOutput(vlog(), length, data);
  if (installCb_) installCb_->installOutput(this, length, data);
}

void Pkg::cmdResult(int exitStatus, const plat::Exception& error) {
  if (*error.str()) {
    vlog().error("install pkg error: %s", plat::FormattedText(error).text);
    finishInstall(error.str());
    return;
  }
  vlog().info("Install %s done, rc %d", name_.c_str(), exitStatus);
  if (exitStatus != 0) {
    const plat::CharArray text = loc::formatNew(loc::translate("qoSetup_install_errorcode_fmt", nullptr, 0, true),
                                                loc::ArgList().num(exitStatus).first());
    finishInstall(text.c_str());
    return;
  }
  finishInstall(nullptr);
}

void Pkg::finishInstall(const char* error) {
  plat::Exception failure;
  if (!error) {
    try {
      if (postInstall()) return;
    } catch (const plat::Exception& e) {
      vlog().error("postInstall failed: %s", plat::FormattedText(e).text);
      failure = e;
      error = failure.str();
    }
  }
  if (installCb_) installCb_->installDone(this, error);
}

// ---- Ticket and token ----

void Pkg::startTicketRedeem(ApplyTokenCallback* callback, hostedremoteaccess::CapsClient* capsClient,
                            const io::UriParams& query) {
  vlog().info("Getting token for %s", name_.c_str());
  applyTokenCb_ = callback;
  try {
    const auto ticket = query.find(ticketParam_.c_str());
    if (ticket == query.end()) throw plat::Exception("No ticket for %s", ticketParam_.c_str());
    redeemer_ = std::make_unique<hostedremoteaccess::TicketRedeemer>(capsClient, this);
    redeemer_->start(ticket->second.c_str());
  } catch (const plat::Exception& e) {
    vlog().error("Error starting ticket redeem: %s", plat::FormattedText(e).text);
    callback->tokenApplied(this, e);
  }
}

void Pkg::onTicketRedeemed(hostedremoteaccess::TicketRedeemer*, const plat::JsonRef& answer) {
  // Nothing thrown here may reach the redeemer (which would not know what
  // to do with it): every failure, applyToken's included, is the step's.
  plat::Exception failure;
  try {
    const plat::JsonObjectRef object = answer.asObject();
    const plat::JsonRef type = object->find("type");
    const auto* typeText = dynamic_cast<const plat::JsonString*>(type.get());
    if (!typeText || std::string_view(typeText->c_str()) != tokenType_.c_str()) {
      vlog().error("Unexpected ticket redeem type: %s", typeText ? typeText->c_str() : "(none)");
      failure = plat::Exception("Bad ticket redeem type");
    } else {
      token_ = plat::SecretText(object->get("value")->asString().c_str());
      vlog().info("Got %s token (%d bytes)", tokenType_.c_str(), static_cast<int>(token_.length()));
      applyToken();
      return;
    }
  } catch (const plat::Exception& e) {
    vlog().error("Error applying token: %s", plat::FormattedText(e).text);
    failure = e;
  }
  tellTokenApplied(failure);
}

void Pkg::onTicketRedeemError(hostedremoteaccess::TicketRedeemer*, const plat::Exception& error) {
  vlog().error("Error redeeming ticket: %s", plat::FormattedText(error).text);
  tellTokenApplied(error);
}

void Pkg::tellTokenApplied(const plat::Exception& error) {
  if (applyTokenCb_) applyTokenCb_->tokenApplied(this, error);
}

}  // namespace qoSetup
