// A package's download against real servers: the mock cloud over HTTPS,
// and a scripted plain-HTTP server for the answers the mock cannot give.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "libs/qoSetup/AdminHelperClient.h"
#include "libs/qoSetup/PkgSvr.h"
#include "libs/qoSetup/WorkDir.h"
#include "libs/qoSetup/tests/SetupTestSupport.h"
#include "qocore/base/http/HttpClient.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/libs/ssl/SslCertificate.h"
#include "qocore/libs/ssl/SslConnFactory.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsCertificate.h"
#include "qocore/uilibs/mui/MuDialog.h"
#include "qocore/uilibs/mui/MuText.h"
#include "testing/LogCapture.h"
#include "testing/MockCloud.h"
#include "testing/ScriptedServer.h"
#include "testing/ui/MuTestBackend.h"

namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::StartsWith;
using yarl_test::ScriptedServer;

constexpr const char kInstallerScript[] = "#!/bin/sh\nexit 0\n";

// A helper client that is never launched: the download does not need one.
struct NoHelper : qoSetup::AdminHelperClient::Callback {
  void helperLaunched() override {}
  void helperLaunchFailed(const plat::Exception&) override {}
};

using setup_test::entriesOf;

class PkgDownloadTest : public setup_test::SetupTest {
 protected:
  void SetUp() override {
    SetupTest::SetUp();
    setup_test::writeFileAt(root_ + "/usr/sbin/installer", kInstallerScript, 0755);
    https_ = setup_test::testPkiHttpsClient();
    // The box of a file without an install command is answered with OK,
    // and its text kept.
    backend_.modalScript = [this](yarl_test::MuTestDialog& dialog) {
      auto* text = static_cast<mui::MuText*>(dialog.findElement("main.frame.split.info.msg"));
      boxes_.push_back(text ? text->text() : "(no text)");
      mui::MuElement* ok = dialog.findElement("main.buttons.ok");
      ASSERT_NE(ok, nullptr);
      EXPECT_TRUE(ok->performAction("click", nullptr));
    };
  }
  void TearDown() override {
    backend_.modalScript = nullptr;
    pkg_.reset();
    https_.reset();
    svrUri_.reset();
    SetupTest::TearDown();
  }

  // A new server package for the URI (given by the parameter's second
  // name, as a configuration file may), downloading through `client`.
  void download(const std::string& uri, http::HttpClient& client) {
    svrUri_.reset();
    EXPECT_TRUE(plat::Configuration::global().setParam("SvrUri", uri.c_str(), plat::ConfigParameter::kPolicy));
    EXPECT_EQ(qoSetup::svrUri.getValue(), uri);
    svrUri_.reset(&qoSetup::svrUri);
    reports_ = setup_test::Reports();
    pkg_ = std::make_unique<qoSetup::PkgSvr>(&helper_, &client);
    pkg_->startDownload(&reports_);
    ASSERT_TRUE(runUntil([&] { return reports_.done > 0; }));
    settle();
    EXPECT_EQ(reports_.done, 1);
  }
  std::string workDir() { return qoSetup::setupWorkDir().c_str(); }

  // The package URI's value goes when the test ends.
  struct Unset {
    void operator()(plat::StringParameter* p) const { p->unsetParam(plat::ConfigParameter::kPolicy); }
  };
  std::unique_ptr<plat::StringParameter, Unset> svrUri_;
  yarl_test::MuTestBackend& backend_ = yarl_test::MuTestBackend::install();
  std::vector<std::string> boxes_;
  NoHelper noHelper_;
  qoSetup::AdminHelperClient helper_{&noHelper_};
  std::unique_ptr<http::NativeHttpClient> https_;
  std::unique_ptr<qoSetup::PkgSvr> pkg_;
  setup_test::Reports reports_;
};

TEST_F(PkgDownloadTest, AnInstallerFromTheMockCloudIsSavedInTheWorkFolder) {
  yarl_test::MockCloud cloud;
  std::string body;
  for (int i = 0; body.size() < 200000; i++) body += "package line " + std::to_string(i) + "\n";
  setup_test::writeFileAt(cloud.folder() + "/www/dl/YarlServer.pkg", body);
  // Downloaded twice, the second copy gets a name of its own.
  for (const char* name : {"YarlServer.pkg", "YarlServer(1).pkg"}) {
    SCOPED_TRACE(name);
    download(cloud.base() + "/dl/YarlServer.pkg", *https_);
    ASSERT_GE(reports_.log.size(), 2u);
    // The bar is full at the end.
    EXPECT_EQ(reports_.log[reports_.log.size() - 2], "progress 1/1");
    EXPECT_EQ(reports_.log.back(), "download ");
    const std::string saved = workDir() + "/" + name;
    EXPECT_EQ(pkg_->localFile(), saved);
    EXPECT_EQ(yarl_test::readFile(saved), body);
    struct stat info {};
    ASSERT_EQ(::lstat(saved.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
  }
  EXPECT_TRUE(boxes_.empty());
  const std::vector<yarl_test::MockCloudRequest> requests = cloud.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method + " " + requests[0].path, "GET /dl/YarlServer.pkg");
}

// The progress timer reports what has arrived every second until the end.
TEST_F(PkgDownloadTest, ProgressIsReportedEverySecond) {
  std::promise<void> rest;
  std::future<void> restWanted = rest.get_future();
  ScriptedServer server({[&](ScriptedServer::Conn& c) {
    c.readUntil("\r\n\r\n");
    c.send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123");
    if (restWanted.wait_for(std::chrono::seconds(5)) != std::future_status::ready) return;
    c.send("456789");
  }});
  https_->setAllowPlainHttp(true);
  EXPECT_TRUE(
      qoSetup::svrUri.setParam(("http://" + server.endpoint() + "/x.pkg").c_str(), plat::ConfigParameter::kPolicy));
  svrUri_.reset(&qoSetup::svrUri);
  pkg_ = std::make_unique<qoSetup::PkgSvr>(&helper_, https_.get());
  pkg_->startDownload(&reports_);
  // Each second that passes brings a report; the first bytes show once the
  // client has read them.
  for (int second = 0; second < 100; ++second) {
    setup_test::skewTicks += 1000 * plat::kTicksPerMs;
    const size_t before = reports_.log.size();
    ASSERT_TRUE(runUntil([&] { return reports_.log.size() > before; }));
    if (reports_.log.back() == "progress 4/10") break;
  }
  ASSERT_EQ(reports_.log.back(), "progress 4/10");
  // Before the head has been read the size is not known.
  for (const std::string& entry : reports_.log)
    EXPECT_THAT(entry, testing::AnyOf("progress 0/-1", "progress 0/10", "progress 4/10"));
  rest.set_value();
  ASSERT_TRUE(runUntil([&] { return reports_.done > 0; }));
  EXPECT_THAT(reports_.ends(), ElementsAre("download "));
  EXPECT_EQ(reports_.log[reports_.log.size() - 2], "progress 1/1");
  EXPECT_EQ(yarl_test::readFile(workDir() + "/x.pkg"), "0123456789");
  // No report after the end.
  const size_t after = reports_.log.size();
  setup_test::skewTicks += 5000 * plat::kTicksPerMs;
  settle();
  EXPECT_EQ(reports_.log.size(), after);
}

// A file the system cannot install is saved, then refused with a box.
TEST_F(PkgDownloadTest, AFileWithoutAnInstallCommandIsRefusedWithABox) {
  yarl_test::MockCloud::Options options;
  // The path ends in "/": an empty name, made unique like any other.
  options.script = R"({"routes": {"GET /dl/": [{"status": 200, "body": "index"}]}})";
  yarl_test::MockCloud cloud(options);
  setup_test::writeFileAt(cloud.folder() + "/www/dl/notes.txt", "notes");
  setup_test::writeFileAt(cloud.folder() + "/www/dl/YarlServer.pkg", "package");
  struct Case {
    const char* path;
    bool installer;
    const char* saved;
  };
  const Case cases[] = {
      {"/dl/", true, "(1)"},
      {"/dl/notes.txt", true, "notes.txt"},
      // A ".pkg" file, but no installer on the system.
      {"/dl/YarlServer.pkg", false, "YarlServer.pkg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    if (!c.installer) {
      ASSERT_EQ(::unlink((root_ + "/usr/sbin/installer").c_str()), 0);
    }
    boxes_.clear();
    yarl_test::LogCapture capture("Pkg:capture:30");
    download(cloud.base() + c.path, *https_);
    EXPECT_EQ(reports_.log.back(), "download No suitable install command found");
    EXPECT_THAT(boxes_, ElementsAre("No suitable install command found"));
    EXPECT_EQ(pkg_->localFile(), workDir() + "/" + c.saved);
    EXPECT_TRUE(std::filesystem::exists(pkg_->localFile()));
    EXPECT_EQ(capture.from("Pkg").back().text, "Error getting file: No suitable install command found");
  }
}

TEST_F(PkgDownloadTest, FailedDownloadsLeaveNoFile) {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: ";
  struct Case {
    const char* what;
    ScriptedServer::Script script;
    const char* failure;
  };
  const Case cases[] = {
      {"not found",
       [](ScriptedServer::Conn& c) {
         c.readUntil("\r\n\r\n");
         c.send("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found");
         c.peerClosed();
       },
       "[HttpStatus404] HTTP status 404 (Not Found)"},
      {"reset mid-body",
       [&](ScriptedServer::Conn& c) {
         c.readUntil("\r\n\r\n");
         c.send(head + "100\r\n\r\n0123456789");
         c.waitSent();
         c.resetOnClose();
         c.close();
       },
       "[System-104] Error reading response: read: Connection reset by peer (104)"},
      // Announced, never sent: the limit is checked against the length.
      {"over 1 GiB",
       [&](ScriptedServer::Conn& c) {
         c.readUntil("\r\n\r\n");
         c.send(head + "1073741825\r\n\r\n");
         c.peerClosed();
       },
       "Error reading response: Maximum body size of 1073741824 bytes exceeded"},
  };
  https_->setAllowPlainHttp(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedServer server({c.script});
    yarl_test::LogCapture capture("Pkg:capture:30");
    download("http://" + server.endpoint() + "/YarlServer.pkg", *https_);
    ASSERT_EQ(reports_.ends().size(), 1u);
    // The log line carries the failure's type, the report its message.
    ASSERT_FALSE(capture.from("Pkg").empty());
    EXPECT_THAT(capture.from("Pkg").back().text, StartsWith(std::string("HTTP error: ") + c.failure));
    const std::string failure = c.failure;
    const std::string message = failure[0] == '[' ? failure.substr(failure.find(']') + 2) : failure;
    EXPECT_EQ(reports_.ends()[0], "download " + message);
    EXPECT_TRUE(entriesOf(workDir()).empty());
    EXPECT_STREQ(pkg_->localFile(), "");
    server.wait();
  }
}

// Plain http only where the client allows it: otherwise the request is
// refused before anything is sent, and that is the download's failure.
TEST_F(PkgDownloadTest, PlainHttpIsRefusedUnlessTheClientAllowsIt) {
  ScriptedServer server({});
  yarl_test::LogCapture capture("Pkg:capture:30");
  EXPECT_TRUE(
      qoSetup::svrUri.setParam(("http://" + server.endpoint() + "/x.pkg").c_str(), plat::ConfigParameter::kPolicy));
  svrUri_.reset(&qoSetup::svrUri);
  pkg_ = std::make_unique<qoSetup::PkgSvr>(&helper_, https_.get());
  pkg_->startDownload(&reports_);
  // At once, from inside the start.
  ASSERT_EQ(reports_.ends().size(), 1u);
  EXPECT_THAT(reports_.ends()[0], StartsWith("download Assertion 'allowed' failed at "));
  ASSERT_FALSE(capture.from("Pkg").empty());
  EXPECT_THAT(capture.from("Pkg").back().text,
              StartsWith("Error starting download: [AssertionFail] Assertion 'allowed' failed at "));
  server.wait();
  EXPECT_EQ(server.accepted(), 0);
}

}  // namespace
