#pragma once
// qoSetup::PkgSvr: the package of the remote-access server, the one
// package the wizard creates.  Beyond what every package does it knows
// where the installed server lies ("yarlserver" in "/Library/yarl"), joins
// it to the cloud with the redeemed "server-join" token (written to a
// private file "svrToken" in the run's work folder, removed once the join
// has run), reads the joined server's capability features through the
// helper, and at the end opens the server's status display.
//
// The download address is the hidden `_SvrUri` (also `SvrUri`), whose
// default the program's start-up sets.

#include "libs/qoSetup/AdminHelperClient.h"
#include "libs/qoSetup/Pkg.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Strings.h"

namespace qoSetup {

// "_SvrUri".
extern plat::StringParameter svrUri;

// The joined server's capability features, byte-wise ordered: empty at
// start, replaced by each reply after a join.  Main thread only.
plat::StringSet& capsFeatures();

class PkgSvr : public Pkg, public AdminHelperClient::GetCapsFeaturesCallback {
 public:
  // Reports one helper command of the package back to it.
  class RunCmdHelper : public AdminHelperClient::RunCmdCallback {
   public:
    enum Kind { kJoin, kStatus };
    RunCmdHelper(PkgSvr* pkg, Kind kind) noexcept : pkg_(pkg), kind_(kind) {}
    void cmdResult(int exitStatus, const plat::Exception& error) override;
    void cmdOutput(int length, const uint8_t* data) override;

   private:
    PkgSvr* pkg_;
    Kind kind_;
  };

  // Both borrowed; see Pkg.
  PkgSvr(AdminHelperClient* helper, http::HttpClient* httpsClient);
  // Removes a token file that is still there.
  ~PkgSvr() override;

  // Runs the server's status display through the helper; throws "No
  // server executable found" when the server is not there.
  void launch() override;
  // Writes the token file and runs the join through the helper; throws "No
  // server exe found" (before anything is written) when the server is not
  // there.
  void applyToken() override;
  bool postInstall() override { return false; }
  // Replaces the process-wide features, then ends the apply-token step.
  void capsFeaturesResult(const plat::Exception& error, const plat::StringSet& features) override;

  // The token file's path; empty when there is none.
  const char* tokenFile() const noexcept { return tokenFile_.c_str(); }

 private:
  // The join's result: the token file goes, then the features are asked.
  void joinResult(int exitStatus, const plat::Exception& error);
  void removeTokenFile() noexcept;

  RunCmdHelper joinHelper_{this, RunCmdHelper::kJoin};
  RunCmdHelper statusHelper_{this, RunCmdHelper::kStatus};
  plat::CharArray tokenFile_;
};

}  // namespace qoSetup
