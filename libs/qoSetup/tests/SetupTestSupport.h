#pragma once
// What the setup application's package and helper tests share: the event
// loop on a monotonic clock the tests may move forward, the folders the
// program's fixed system paths and per-user temporary folder point into,
// and recorders for a package's reports.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "libs/qoSetup/Pkg.h"
#include "qocore/base/http/HttpClient.h"
#include "qocore/base/io/IpResolver.h"
#include "qocore/base/io/mac/IoRunLoopManager.h"
#include "qocore/base/os/AppDirs.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/qoutil/SystemPath.h"
#include "qocore/libs/ssl/SslConnFactory.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsCertificate.h"
#include "testing/BootstrapFixture.h"
#include "testing/FakeElevation.h"
#include "testing/FileFixtures.h"
#include "testing/RunUntil.h"

namespace setup_test {

// The host's monotonic clock moved forward by the waits the tests skip.
inline plat::TimeValue skewTicks = 0;
inline plat::TimeValue skewedClock(plat::TimeValue, bool* jumped) {
  if (jumped) *jumped = false;
  timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return plat::timespecToTime(now.tv_sec, now.tv_nsec) + skewTicks;
}

inline void makeDirs(const std::string& path) {
  std::string prefix;
  for (size_t at = 1; at != std::string::npos; at = path.find('/', at + 1)) {
    prefix = path.substr(0, at);
    ::mkdir(prefix.c_str(), 0755);
  }
  ::mkdir(path.c_str(), 0755);
}

// Writes a file at path (its folders made) with that mode.
inline void writeFileAt(const std::string& path, const std::string& text, mode_t mode = 0644) {
  makeDirs(path.substr(0, path.rfind('/')));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  ASSERT_TRUE(out) << path;
  ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

// The failure's text as the reports are compared: "" for success.
inline std::string textOf(const plat::Exception& e) { return e.str(); }

// The entries of a folder, sorted; none when it does not exist.
inline std::vector<std::string> entriesOf(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ignored))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// An HTTPS client that trusts the test PKI's root only, as the mock cloud's
// clients do.
inline std::unique_ptr<http::NativeHttpClient> testPkiHttpsClient() {
  auto lookup = std::make_unique<ssl::SslCertLookupCustom>();
  lookup->addCertificate(ssl::MbedTlsCertificate::create(yarl_test::testPkiFile("root.pem").c_str()));
  return std::unique_ptr<http::NativeHttpClient>(http::createHttpClient(std::move(lookup)));
}

// Records a package's reports, in order, as text:
//   "progress <received>/<total>", "download <error>", "install <error or
//   "ok">", "output <bytes>", "token <error>".
struct Reports : qoSetup::Pkg::DownloadCallback, qoSetup::Pkg::InstallCallback, qoSetup::Pkg::ApplyTokenCallback {
  void downloadProgress(qoSetup::Pkg*, int64_t received, int64_t total) override {
    log.push_back("progress " + std::to_string(received) + "/" + std::to_string(total));
  }
  void downloadDone(qoSetup::Pkg*, const plat::Exception& error) override {
    log.push_back("download " + textOf(error));
    done++;
  }
  void installDone(qoSetup::Pkg*, const char* error) override {
    log.push_back(std::string("install ") + (error ? error : "ok"));
    done++;
  }
  void installOutput(qoSetup::Pkg*, int length, const uint8_t* data) override {
    output.append(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
  }
  void tokenApplied(qoSetup::Pkg*, const plat::Exception& error) override {
    log.push_back("token " + textOf(error));
    done++;
  }

  // The entries that are not progress.
  std::vector<std::string> ends() const {
    std::vector<std::string> out;
    for (const std::string& entry : log)
      if (entry.rfind("progress ", 0) != 0) out.push_back(entry);
    return out;
  }

  std::vector<std::string> log;
  std::string output;
  int done = 0;
};

// The loop on the skewed clock, the program's identity, and a temporary
// tree: "root" stands for "/" of the fixed system paths, "tmp" holds the
// per-user temporary folder (and the run's work folder in it).
class SetupTest : public testing::Test {
 protected:
  void SetUp() override {
    skewTicks = 0;
    previousClock_ = plat::setMonotonicClock(&skewedClock);
    os::init("vuzovuvivovevada", "Corvane", "yarl", nullptr, nullptr);
    makeDirs(root_);
    makeDirs(tmpDir_);
    qoutil::setSystemRoot(root_.c_str());
    os::setTempDir(tmpDir_.c_str());
    manager_ = std::make_unique<io::IoRunLoopManager>();
  }
  void TearDown() override {
    io::IpResolverMgr::shutdown();
    manager_.reset();
    os::setTempDir(nullptr);
    qoutil::setSystemRoot(nullptr);
    plat::setMonotonicClock(previousClock_);
  }

  template <typename Pred>
  bool runUntil(Pred done) {
    return yarl_test::runUntil(manager_->runLoop(), done, std::chrono::seconds(10));
  }
  // Serves what the loop has now, waiting a little for loopback events.
  void settle() {
    for (int i = 0; i < 20; i++) manager_->runLoop().runOnce(10);
  }

  yarl_test::TempDir tmp_;
  const std::string root_ = tmp_ / "root";
  const std::string tmpDir_ = tmp_ / "tmp";
  plat::MonotonicClockFn previousClock_ = nullptr;
  std::unique_ptr<io::IoRunLoopManager> manager_;
};

// A helper launched for real: this executable started again as "-helper"
// through the fake elevation command, which hands it the folders it uses
// in place of root's (TestMain.cpp).  Root's home is "home": the
// installed server's store and settings are "home/.yarl/config.d", where
// the fake installed server works too.  The fake server stands at
// "root/Library/yarl/yarlserver" and the fake installer at
// "root/usr/sbin/installer".
class HelperTest : public SetupTest {
 protected:
  void SetUp() override {
    SetupTest::SetUp();
    makeDirs(home_);
    makeDirs(serverDir_);
    makeDirs(channels_);
    makeDirs(root_ + "/Library/yarl");
    ASSERT_EQ(::symlink(YARL_FAKE_INSTALLED_SERVER, (root_ + "/Library/yarl/yarlserver").c_str()), 0);
    elevation_ = std::make_unique<yarl_test::FakeElevation>(
        tmp_.path(), std::map<std::string, std::string>{{"YARL_TEST_HELPER_HOME", home_},
                                                        {"YARL_TEST_HELPER_ROOT", root_},
                                                        {"YARL_TEST_HELPER_TMP", channels_},
                                                        {"YARL_FAKE_SERVER_DIR", serverDir_},
                                                        {"YARL_FAKE_SERVER_TMP", channels_}});
  }
  void TearDown() override {
    // Every helper ends once its pipe has closed; the reaper collects it.
    for (const yarl_test::FakeElevation::Launch& launch : elevation_->launches())
      EXPECT_TRUE(runUntil([&] { return !exists(static_cast<pid_t>(launch.pid)); })) << launch.pid;
    elevation_.reset();
    SetupTest::TearDown();
  }

  // Whether a process of that id is still there (a zombie counts).
  static bool exists(pid_t pid) { return pid > 0 && ::kill(pid, 0) == 0; }

  const std::string home_ = tmp_ / "home";
  const std::string serverDir_ = home_ + "/.yarl/config.d";
  const std::string channels_ = tmp_ / "channels";
  std::unique_ptr<yarl_test::FakeElevation> elevation_;
};

}  // namespace setup_test
