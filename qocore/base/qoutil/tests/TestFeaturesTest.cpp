#include <gtest/gtest.h>

#include <string>

#include "qocore/base/os/AppDirs.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/qoutil/TestFeatures.h"
#include "testing/FileFixtures.h"
#include "testing/LogCapture.h"

namespace {

using yarl_test::TempDir;

// The key whose digest the test build carries (data/TestFeaturesEnableKey,
// compiled in by the build).
std::string testKey() { return YARL_TEST_FEATURES_KEY; }

// The decision is made once per process: every case runs in its own child.
// The data folder is data/, the store folder user/app.d; `files` are
// written (path under the temporary folder, contents) before the first
// call.  The child answers the two calls' results and the log lines.
std::string runSwitch(const TempDir& tmp, const std::vector<std::pair<std::string, std::string>>& files,
                      const std::string& laterFile = "") {
  return yarl_test::inChild([&] {
    std::filesystem::create_directories(tmp / "data");
    std::filesystem::create_directories(tmp / "user/app.d");
    os::init("app", "Corvane", "yarl", nullptr, nullptr);
    os::setConfiguredDataDir((tmp / "data").c_str());
    os::setConfigBase((tmp / "user").c_str());
    for (const auto& [path, contents] : files) tmp.write(path, contents);
    yarl_test::LogCapture capture("TestFeaturesEnableKey:capture:110");
    std::string out = std::to_string(qoutil::testFeaturesEnabled());
    if (!laterFile.empty()) tmp.write(laterFile, testKey());
    out += std::to_string(qoutil::testFeaturesEnabled());
    for (const auto& record : capture.records()) out += " | " + record.text;
    return out;
  });
}

TEST(TestFeaturesTest, TheKeyFileDecidesOnce) {
  const std::string key = testKey();
  ASSERT_EQ(key.size(), 1025u) << "the test key is as long as a key may be";
  TempDir tmp;
  const std::string tooLarge = tmp / "data/TestFeaturesEnableKey";
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"no key file", {}, "00 | Enabled 0"},
      {"an empty file", {{"data/TestFeaturesEnableKey", ""}}, "00 | Enabled 0"},
      {"the key (1025 bytes)", {{"data/TestFeaturesEnableKey", key}}, "11 | Enabled 1"},
      {"the key in the store folder", {{"user/app.d/TestFeaturesEnableKey", key}}, "11 | Enabled 1"},
      {"another key of 1025 bytes", {{"data/TestFeaturesEnableKey", std::string(1025, 'k')}}, "00 | Enabled 0"},
      {"1026 bytes",
       {{"data/TestFeaturesEnableKey", key + "x"}},
       "00 | Error reading '" + tooLarge + "': Error: file is too large (1026 > 1025) | Enabled 0"},
      // The data folders come first: a wrong key there hides the right one.
      {"the first file found is used",
       {{"data/TestFeaturesEnableKey", "wrong"}, {"user/app.d/TestFeaturesEnableKey", key}},
       "00 | Enabled 0"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(tmp / "data");
    std::filesystem::remove_all(tmp / "user");
    EXPECT_EQ(runSwitch(tmp, c.files), c.expected) << c.what;
  }
}

TEST(TestFeaturesTest, ALaterKeyFileIsNotSeen) {
  TempDir tmp;
  EXPECT_EQ(runSwitch(tmp, {}, "data/TestFeaturesEnableKey"), "00 | Enabled 0");
}

}  // namespace
