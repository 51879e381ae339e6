// The server package end to end against its real collaborators: the
// installer downloaded from the mock cloud over HTTPS and run by the real
// admin helper, the ticket redeemed at the mock cloud, the join and the
// status display run by the helper on the fake installed server.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "libs/hosted/HostedClient.h"
#include "libs/hosted/HostedEndpoint.h"
#include "libs/hostedremoteaccess/CapsClient.h"
#include "libs/qoSetup/AdminHelperClient.h"
#include "libs/qoSetup/PkgSvr.h"
#include "libs/qoSetup/WorkDir.h"
#include "libs/qoSetup/tests/SetupTestSupport.h"
#include "qocore/base/http/HttpClient.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/libs/ssl/SslCertificate.h"
#include "qocore/libs/ssl/SslConnFactory.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsCertificate.h"
#include "testing/FailureOf.h"
#include "testing/LogCapture.h"
#include "testing/MockCloud.h"

namespace {

using testing::ElementsAre;
using testing::IsEmpty;
using testing::StartsWith;

// The installer prints what it was asked to do and ends with the status in
// the file beside it (0 when there is none).
constexpr const char kInstallerScript[] =
    "#!/bin/sh\n"
    "echo \"installing $2\"\n"
    "echo \"to $4\" >&2\n"
    "dir=$(dirname \"$0\")\n"
    "echo \"$@\" > \"$dir/installed\"\n"
    "exit $(cat \"$dir/status\" 2>/dev/null || echo 0)\n";

// The wizard's part of the helper: launch reports only.
struct Launches : qoSetup::AdminHelperClient::Callback {
  void helperLaunched() override { launched++; }
  void helperLaunchFailed(const plat::Exception&) override { failed++; }
  int launched = 0;
  int failed = 0;
};

using setup_test::entriesOf;

std::vector<std::string> sorted(const plat::StringSet& set) {
  std::vector<std::string> out;
  for (const plat::CharArray& s : set) out.push_back(s.c_str());
  return out;
}

class PkgSvrTest : public setup_test::HelperTest {
 protected:
  void SetUp() override {
    HelperTest::SetUp();
    setup_test::writeFileAt(root_ + "/usr/sbin/installer", kInstallerScript, 0755);
    https_ = setup_test::testPkiHttpsClient();
    helper_ = std::make_unique<qoSetup::AdminHelperClient>(&launches_);
  }
  void TearDown() override {
    if (HasFailure() && cloud_) std::fprintf(stderr, "mock cloud log:\n%s\n", cloud_->log().c_str());
    pkg_.reset();
    capsClient_.reset();
    hostedClient_.reset();
    endpoint_ = plat::LinkedPtr<hosted::HostedEndpoint>();
    helper_.reset();
    https_.reset();
    cloud_.reset();
    plat::Configuration::global().findParam("_SvrUri")->unsetParam(plat::ConfigParameter::kPolicy);
    HelperTest::TearDown();
  }

  // The mock cloud with the script, serving the installer at
  // "/dl/YarlServer.pkg", which becomes the package's URI; the caps client
  // knows its authentication service already, so a redemption is one POST.
  void startCloud(const std::string& script = "{}") {
    yarl_test::MockCloud::Options options;
    options.script = script;
    cloud_ = std::make_unique<yarl_test::MockCloud>(options);
    setup_test::writeFileAt(cloud_->folder() + "/www/dl/YarlServer.pkg", "the server's installer");
    ASSERT_TRUE(
        qoSetup::svrUri.setParam((cloud_->base() + "/dl/YarlServer.pkg").c_str(), plat::ConfigParameter::kPolicy));
    const std::string package = yarl_test::readFile(cloud_->folder() + "/CloudConfig.pkg");
    endpoint_ = plat::LinkedPtr<hosted::HostedEndpoint>(new hosted::HostedEndpoint(
        nullptr, static_cast<int32_t>(package.size()), package.data(), nullptr, nullptr, nullptr, nullptr));
    hostedClient_ = std::make_unique<hosted::HostedClient>(endpoint_, nullptr);
    capsClient_ = std::make_unique<hostedremoteaccess::CapsClient>(endpoint_, hostedClient_.get());
    capsClient_->recordServiceUrl(hostedremoteaccess::CapsClient::kAuth, (cloud_->base() + "/node1").c_str(), 60, {});
  }
  void launchHelper() {
    const int before = launches_.launched;
    helper_->launch();
    ASSERT_TRUE(runUntil([&] { return launches_.launched > before; }));
  }
  // A new package, its installer downloaded.
  void downloaded() {
    pkg_ = std::make_unique<qoSetup::PkgSvr>(helper_.get(), https_.get());
    reports_ = setup_test::Reports();
    pkg_->startDownload(&reports_);
    ASSERT_TRUE(runUntil([&] { return reports_.done > 0; }));
    ASSERT_THAT(reports_.ends(), ElementsAre("download "));
  }
  // Each step waits for its one report.
  std::string install() {
    const int before = reports_.done;
    pkg_->startInstall(&reports_);
    EXPECT_TRUE(runUntil([&] { return reports_.done > before; }));
    return reports_.log.back();
  }
  std::string redeem(const io::UriParams& query) {
    const int before = reports_.done;
    pkg_->startTicketRedeem(&reports_, capsClient_.get(), query);
    EXPECT_TRUE(runUntil([&] { return reports_.done > before; }));
    settle();
    EXPECT_EQ(reports_.done, before + 1);
    return reports_.log.back();
  }
  static io::UriParams query(const char* ticket) {
    io::UriParams params;
    params[plat::CharArray("state")] = plat::CharArray("s");
    if (ticket) params[plat::CharArray("server")] = plat::CharArray(ticket);
    return params;
  }
  // The redeem route answering with the JSON text.
  static std::string redeemAnswer(const std::string& json) {
    return R"({"routes": {"POST /node1/authentication/1.1/tickets/redeem": [{"status": 200, "json": )" + json + "}]}}";
  }
  std::string workDir() { return qoSetup::setupWorkDir().c_str(); }

  Launches launches_;
  std::unique_ptr<qoSetup::AdminHelperClient> helper_;
  std::unique_ptr<http::NativeHttpClient> https_;
  std::unique_ptr<yarl_test::MockCloud> cloud_;
  plat::LinkedPtr<hosted::HostedEndpoint> endpoint_;
  std::unique_ptr<hosted::HostedClient> hostedClient_;
  std::unique_ptr<hostedremoteaccess::CapsClient> capsClient_;
  std::unique_ptr<qoSetup::PkgSvr> pkg_;
  setup_test::Reports reports_;
};

// ---- Install ----

TEST_F(PkgSvrTest, TheInstallerRunsThroughTheHelperWithItsOutputAndResult) {
  startCloud();
  launchHelper();
  downloaded();
  const std::string file = workDir() + "/YarlServer.pkg";
  struct Case {
    const char* status;
    const char* report;
  };
  const Case cases[] = {{"0", "install ok"}, {"3", "install Error code: 3"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    setup_test::writeFileAt(root_ + "/usr/sbin/status", c.status);
    reports_.output.clear();
    EXPECT_EQ(install(), c.report);
    EXPECT_EQ(reports_.output, "installing " + file + "\nto /\n");
    EXPECT_EQ(yarl_test::readFile(root_ + "/usr/sbin/installed"), "-pkg " + file + " -target /\n");
  }
}

TEST_F(PkgSvrTest, WithNoInstallTheCommandIsOnlyEchoed) {
  startCloud();
  launchHelper();
  downloaded();
  ASSERT_TRUE(qoSetup::noInstall.setParam("1", plat::ConfigParameter::kPolicy));
  const std::string report = install();
  qoSetup::noInstall.unsetParam(plat::ConfigParameter::kPolicy);
  EXPECT_EQ(report, "install ok");
  EXPECT_EQ(reports_.output, root_ + "/usr/sbin/installer -pkg " + workDir() + "/YarlServer.pkg -target /\n");
  EXPECT_EQ(yarl_test::readFile(root_ + "/usr/sbin/installed"), "<missing>");
}

TEST_F(PkgSvrTest, AnInstallThatCannotRunFailsWithItsReason) {
  startCloud();
  launchHelper();
  downloaded();
  yarl_test::LogCapture capture("Pkg:capture:30");
  // The helper cannot start the installer.
  setup_test::writeFileAt(root_ + "/usr/sbin/installer", "#!/nonexistent/shell\n", 0755);
  const std::string execFailure = "execve(" + root_ + "/usr/sbin/installer): No such file or directory (2)";
  EXPECT_EQ(install(), "install " + execFailure);
  EXPECT_EQ(capture.from("Pkg").back().text, "install pkg error: [System-2] " + execFailure);
  // No installer at all: refused before the helper is asked.
  ASSERT_EQ(::unlink((root_ + "/usr/sbin/installer").c_str()), 0);
  const int before = reports_.done;
  pkg_->startInstall(&reports_);
  EXPECT_EQ(reports_.done, before + 1);
  EXPECT_EQ(reports_.log.back(), "install No suitable install command found");
  EXPECT_EQ(capture.from("Pkg").back().text, "doInstall failed: No suitable install command found");
}

// ---- Ticket, join and status display ----

TEST_F(PkgSvrTest, TheRedeemedTokenJoinsTheServerWhoseFeaturesAreKept) {
  startCloud();
  elevation_->setVariable("YARL_FAKE_SERVER_FEATURES", "SYSTEM_AUTH,REMOTE_PRINT");
  launchHelper();
  downloaded();
  EXPECT_EQ(redeem(query("t1")), "token ");
  // The server was given the token as redeemed, in a file that is gone.
  EXPECT_EQ(yarl_test::readFile(serverDir_ + "/joincloud.token"), "join-token:t1");
  EXPECT_STREQ(pkg_->tokenFile(), "");
  EXPECT_THAT(entriesOf(workDir()), ElementsAre("YarlServer.pkg"));
  EXPECT_THAT(sorted(qoSetup::capsFeatures()), ElementsAre("REMOTE_PRINT", "SYSTEM_AUTH"));
  const std::vector<yarl_test::MockCloudRequest> requests = cloud_->requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].method + " " + requests[1].path, "POST /node1/authentication/1.1/tickets/redeem");
  EXPECT_THAT(requests[1].body, testing::HasSubstr(R"("ticket":"t1")"));

  // At the end, the status display.
  pkg_->launch();
  EXPECT_TRUE(runUntil([&] { return yarl_test::readFile(serverDir_ + "/showexistingstatus") != "<missing>"; }));
  EXPECT_EQ(yarl_test::readFile(serverDir_ + "/showexistingstatus"), "showexistingstatus\n");
}

TEST_F(PkgSvrTest, AJoinThatLeavesNoCredentialsFailsAndEmptiesTheFeatures) {
  // An empty token: the server's join ends with 1 and writes nothing.
  startCloud(redeemAnswer(R"({"type": "server-join", "value": ""})"));
  launchHelper();
  downloaded();
  qoSetup::capsFeatures() = {plat::CharArray("EARLIER")};
  yarl_test::LogCapture capture("PkgSvr:capture:100");
  EXPECT_EQ(redeem(query("t")), "token Server is not cloud joined");
  EXPECT_THAT(sorted(qoSetup::capsFeatures()), IsEmpty());
  EXPECT_EQ(yarl_test::readFile(serverDir_ + "/joincloud.token"), "<missing>");
  EXPECT_THAT(entriesOf(workDir()), ElementsAre("YarlServer.pkg"));
  std::vector<std::string> lines;
  for (const yarl_test::LogRecord& r : capture.from("PkgSvr")) lines.push_back(r.text);
  // The command's output is logged line by line.
  EXPECT_THAT(
      lines, ElementsAre("Applying join token", "Joining server to cloud",
                         "fake_installed_server: no join token in " + workDir() + "/svrToken", "RunCmd exit status 1"));
}

TEST_F(PkgSvrTest, AnEmptyFeatureListEmptiesTheFeatures) {
  startCloud();
  elevation_->setVariable("YARL_FAKE_SERVER_FEATURES", "");
  launchHelper();
  downloaded();
  qoSetup::capsFeatures() = {plat::CharArray("EARLIER")};
  EXPECT_EQ(redeem(query("t")), "token ");
  EXPECT_THAT(sorted(qoSetup::capsFeatures()), IsEmpty());
}

TEST_F(PkgSvrTest, WithoutTheServerNothingIsWritten) {
  startCloud();
  launchHelper();
  downloaded();
  ASSERT_EQ(::unlink((root_ + "/Library/yarl/yarlserver").c_str()), 0);
  EXPECT_EQ(redeem(query("t")), "token No server exe found");
  EXPECT_THAT(entriesOf(workDir()), ElementsAre("YarlServer.pkg"));
  EXPECT_EQ(yarl_test::failureOf<plat::Exception>([&] { pkg_->launch(); }), "No server executable found");
}

TEST_F(PkgSvrTest, RedemptionsThatGiveNoJoinToken) {
  startCloud(redeemAnswer(R"({"type": "other", "value": "v"})"));
  launchHelper();
  downloaded();
  yarl_test::LogCapture capture("Pkg:capture:30");
  // No ticket in the callback URI: nothing is asked of the cloud.
  EXPECT_EQ(redeem(query(nullptr)), "token No ticket for server");
  EXPECT_EQ(capture.from("Pkg").back().text, "Error starting ticket redeem: No ticket for server");
  EXPECT_EQ(cloud_->requests().size(), 1u);
  // A token of another kind.
  EXPECT_EQ(redeem(query("t")), "token Bad ticket redeem type");
  EXPECT_EQ(capture.from("Pkg").back().text, "Unexpected ticket redeem type: other");
  EXPECT_THAT(entriesOf(workDir()), ElementsAre("YarlServer.pkg"));
}

// A join the helper cannot start ends the step; its token file stays until
// the next token replaces it or the package goes.
TEST_F(PkgSvrTest, AJoinThatCannotRunKeepsItsTokenFileUntilThePackageGoes) {
  startCloud();
  launchHelper();
  downloaded();
  const std::string exe = root_ + "/Library/yarl/yarlserver";
  ASSERT_EQ(::unlink(exe.c_str()), 0);
  setup_test::writeFileAt(exe, "#!/nonexistent/shell\n", 0755);
  const std::string failure = "token execve(" + exe + "): No such file or directory (2)";
  EXPECT_EQ(redeem(query("first")), failure);
  EXPECT_EQ(pkg_->tokenFile(), workDir() + "/svrToken");
  EXPECT_EQ(yarl_test::readFile(pkg_->tokenFile()), "join-token:first");
  struct stat info {};
  ASSERT_EQ(::lstat(pkg_->tokenFile(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);

  EXPECT_EQ(redeem(query("second")), failure);
  EXPECT_EQ(pkg_->tokenFile(), workDir() + "/svrToken(1)");
  EXPECT_EQ(yarl_test::readFile(pkg_->tokenFile()), "join-token:second");
  EXPECT_THAT(entriesOf(workDir()), ElementsAre("YarlServer.pkg", "svrToken(1)"));
  pkg_.reset();
  EXPECT_THAT(entriesOf(workDir()), ElementsAre("YarlServer.pkg"));
}

}  // namespace
