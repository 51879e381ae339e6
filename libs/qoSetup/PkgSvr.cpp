#include "libs/qoSetup/PkgSvr.h"

#include "libs/qoSetup/SetupTexts.h"
#include "libs/qoSetup/WorkDir.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/File.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/qoutil/SystemPath.h"

namespace qoSetup {

namespace {

[[maybe_unused]] const bool textsRegistered = (registerSetupTexts(), true);

PLAT_LOG_SOURCE(vlog, "PkgSvr");

constexpr const char kDisplayName[] = "Yarl Server";
constexpr const char kExecutable[] = "yarlserver";
constexpr const char kExeDir[] = "/Library/yarl";
constexpr const char kTokenFileName[] = "svrToken";
// The token is a secret: only its owner reads the file.
constexpr mode_t kTokenMode = 0600;

}  // namespace

plat::StringParameter svrUri("_SvrUri", "", "", true);
plat::ParameterAlias svrUriAlias("SvrUri", svrUri);

plat::StringSet& capsFeatures() {
  static plat::StringSet* const features = new plat::StringSet;
  return *features;
}

PkgSvr::PkgSvr(AdminHelperClient* helper, http::HttpClient* httpsClient)
    : Pkg(kDisplayName, helper, httpsClient, svrUri.getValue()) {
  ticketParam_ = plat::CharArray("server");
  tokenType_ = plat::CharArray("server-join");
  exeDirs_.push_back(qoutil::systemPath(kExeDir));
}

PkgSvr::~PkgSvr() { removeTokenFile(); }

void PkgSvr::applyToken() {
  vlog().info("Applying join token");
  plat::CharArray exe = findExecutable(kDisplayName, kExecutable);
  if (!exe) throw plat::Exception("No server exe found");
  vlog().info("Joining server to cloud");
  plat::CharArray path = uniqueWorkFile(kTokenFileName);
  writeNewFile(path.c_str(), token_.c_str(), token_.length(), kTokenMode);
  removeTokenFile();
  tokenFile_ = std::move(path);
  plat::CharArrayList args;
  args.push_back(std::move(exe));
  args.emplace_back("-service");
  args.emplace_back("-joincloud");
  args.push_back(tokenFile_);
  helper_->runCmd(args, &joinHelper_);
}

void PkgSvr::launch() {
  plat::CharArray exe = findExecutable(kDisplayName, kExecutable);
  if (!exe) throw plat::Exception("No server executable found");
  vlog().info("Showing server status dialog");
  plat::CharArrayList args;
  args.push_back(std::move(exe));
  args.emplace_back("-service");
  args.emplace_back("-showexistingstatus");
  helper_->runCmd(args, &statusHelper_);
}

void PkgSvr::RunCmdHelper::cmdResult(int exitStatus, const plat::Exception& error) {
  if (kind_ == kJoin) {
    pkg_->joinResult(exitStatus, error);
    return;
  }
  if (*error.str()) {
    vlog().error("RunCmd failed: %s", plat::FormattedText(error).text);
  } else {
    vlog().debug("RunCmd exit status %d", exitStatus);
  }
}

void PkgSvr::RunCmdHelper::cmdOutput(int length, const uint8_t* data) { logCommandOutput(vlog(), length, data); }

void PkgSvr::joinResult(int exitStatus, const plat::Exception& error) {
  if (*error.str()) {
    vlog().error("RunCmd failed: %s", plat::FormattedText(error).text);
    tellTokenApplied(error);
    return;
  }
  // The join's outcome shows in the features: a server that holds no
  // credentials afterwards answers "Server is not cloud joined".
  vlog().debug("RunCmd exit status %d", exitStatus);
  removeTokenFile();
  try {
    helper_->getCapsFeatures(this);
  } catch (const plat::Exception& e) {
    vlog().error("GetCapsFeatures failed: %s", plat::FormattedText(e).text);
    tellTokenApplied(e);
  }
}

void PkgSvr::capsFeaturesResult(const plat::Exception& error, const plat::StringSet& features) {
  capsFeatures() = features;
  tellTokenApplied(error);
}

void PkgSvr::removeTokenFile() noexcept {
  if (tokenFile_.c_str()[0] == '\0') return;
  if (!plat::removeFile(tokenFile_.c_str())) vlog().error("Cannot remove %s", tokenFile_.c_str());
  tokenFile_ = plat::CharArray();
}

}  // namespace qoSetup
