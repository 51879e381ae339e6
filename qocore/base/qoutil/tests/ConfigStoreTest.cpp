#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "qocore/base/os/AppDirs.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/ExecutablePath.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/qoutil/ConfigStore.h"
#include "qocore/base/qoutil/SystemPath.h"
#include "testing/FileFixtures.h"

namespace {

using yarl_test::TempDir;

// A program laid out in a temporary folder: its executable in bin/ (found
// through a link that stands in for /proc/self/exe), the system folders
// under sys/ and the user's configuration directory in user/config.d.
class ConfigStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(tmp_ / "bin/yarl/config.d");
    std::filesystem::create_directories(tmp_ / "bin/yarl/policy.d");
    std::filesystem::create_directories(tmp_ / "sys/etc/yarl/config.d");
    std::filesystem::create_directories(tmp_ / "sys/etc/yarl/policy.d");
    std::filesystem::create_directories(tmp_ / "user/config.d");
    tmp_.write("bin/prog", "");
    link_ = tmp_ / "exe";
    std::filesystem::create_symlink(tmp_ / "bin/prog", link_);
    os::setExecutablePathSource(link_.c_str());
    os::init("app", "Corvane", "yarl", nullptr, nullptr);
    qoutil::setSystemRoot((tmp_ / "sys").c_str());
    os::setConfigBase((tmp_ / "user/config.d").c_str());
    conf_.addString("Log", "log setting", "default");
    conf_.addString("Other", "another setting", "other");
    conf_.addString("Guarded", "no policy", "guarded", false, "noPolicy");
  }
  void TearDown() override {
    os::setExecutablePathSource(nullptr);
    qoutil::setSystemRoot(nullptr);
    os::setConfigBase(nullptr);
  }

  void loadAll() {
    qoutil::ConfigStoreFile store;
    store.loadAll(true, &conf_);
  }
  std::string value(const char* name) { return conf_.findParam(name)->getValueStr().get(); }
  int priority(const char* name) { return conf_.findParam(name)->getPriority(); }

  TempDir tmp_;
  std::string link_;
  plat::Configuration conf_{"store-test"};
};

TEST_F(ConfigStoreTest, ListsTheFilesInReadingOrder) {
  qoutil::ConfigStoreFile store;
  auto texts = [](const std::vector<plat::CharArray>& list) {
    std::vector<std::string> out;
    for (const auto& path : list) out.emplace_back(path.get());
    return out;
  };
  std::string prog = tmp_ / "bin/yarl", sys = tmp_ / "sys/etc/yarl", user = tmp_ / "user/config.d";
  EXPECT_EQ(texts(store.files().at(10)),
            (std::vector<std::string>{prog + "/config.d/common", prog + "/config.d/common.custom",
                                      prog + "/config.d/app", sys + "/config.d/common", sys + "/config.d/common.custom",
                                      sys + "/config.d/app", user + "/common", user + "/app"}));
  EXPECT_EQ(texts(store.files().at(30)), (std::vector<std::string>{prog + "/policy.d/common", prog + "/policy.d/app",
                                                                   sys + "/policy.d/common", sys + "/policy.d/app"}));
  EXPECT_EQ(store.files().size(), 2u);

  // Without a known executable there is no folder beside it.
  link_ = tmp_ / "no-such-link";  // the seam does not copy the path
  os::setExecutablePathSource(link_.c_str());
  qoutil::ConfigStoreFile alone;
  EXPECT_EQ(texts(alone.files().at(10)).front(), sys + "/config.d/common");
  EXPECT_EQ(texts(alone.files().at(30)).front(), sys + "/policy.d/common");
}

TEST_F(ConfigStoreTest, WithoutFilesEveryParameterKeepsItsDefault) {
  loadAll();
  EXPECT_EQ(value("Log"), "default");
  EXPECT_EQ(priority("Log"), 0);
}

// Which file wins: later files at the same priority, and policy over all.
TEST_F(ConfigStoreTest, LaterFilesWinAndPolicyWinsOverAll) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> files;  // path under tmp, contents
    std::string expected;
    int priority;
  };
  const std::vector<Case> cases = {
      {{{"user/config.d/common", "Log=common\n"}, {"user/config.d/app", "Log=app\n"}}, "app", 10},
      {{{"sys/etc/yarl/config.d/app", "Log=system\n"}, {"user/config.d/common", "Log=user\n"}}, "user", 10},
      {{{"bin/yarl/config.d/app", "Log=beside\n"}, {"sys/etc/yarl/config.d/common", "Log=system\n"}}, "system", 10},
      {{{"sys/etc/yarl/policy.d/common", "Log=policy\n"}, {"user/config.d/app", "Log=user\n"}}, "policy", 30},
      {{{"sys/etc/yarl/policy.d/app", "Log=system\n"}, {"bin/yarl/policy.d/app", "Log=beside\n"}}, "system", 30},
      {{{"sys/etc/yarl/config.d/common.custom", "Log=custom\n"}}, "custom", 10},
      {{{"bin/yarl/config.d/common.custom", "Log=custom\n"}}, "custom", 10},
      // Not read: common.custom belongs to the system-wide config.d folders.
      {{{"user/config.d/common.custom", "Log=custom\n"}, {"bin/yarl/policy.d/common.custom", "Log=custom\n"}},
       "default",
       0},
  };
  for (const Case& c : cases) {
    std::string described;
    for (const auto& [path, contents] : c.files) {
      tmp_.write(path, contents);
      described += path + " ";
    }
    loadAll();
    EXPECT_EQ(value("Log"), c.expected) << described;
    EXPECT_EQ(priority("Log"), c.priority) << described;
    for (const auto& file : c.files) std::filesystem::remove(tmp_ / file.first);
    conf_.findParam("Log")->resetToDefault(false);
  }
}

TEST_F(ConfigStoreTest, RefusedAndUnknownNamesAreSkipped) {
  tmp_.write("sys/etc/yarl/policy.d/common", "Guarded=forced\nNoSuchName=1\nOther=policy\n");
  loadAll();
  EXPECT_EQ(value("Guarded"), "guarded");
  EXPECT_EQ(value("Other"), "policy");
  EXPECT_EQ(priority("Other"), 30);
}

TEST_F(ConfigStoreTest, AFileWhereAFolderShouldBeIsSkipped) {
  std::filesystem::remove_all(tmp_ / "sys/etc/yarl/config.d");
  tmp_.write("sys/etc/yarl/config.d", "Log=not a folder\n");
  tmp_.write("user/config.d/app", "Log=user\n");
  loadAll();
  EXPECT_EQ(value("Log"), "user");
}

TEST_F(ConfigStoreTest, AnUnreadableFileStopsLoadingAndKeepsEarlierValues) {
  tmp_.write("bin/yarl/config.d/common", "Other=first\n");
  // As root no read fails on permissions: a folder named like the file
  // cannot be read either (EISDIR).
  std::filesystem::create_directory(tmp_ / "sys/etc/yarl/config.d/app");
  tmp_.write("user/config.d/app", "Log=never read\n");
  qoutil::ConfigStoreFile store;
  std::string error;
  try {
    store.load(10, &conf_);
  } catch (const plat::Exception& e) {
    error = e.str();
  }
  std::string prefix = "Error reading " + (tmp_ / "sys/etc/yarl/config.d/app") + ": ";
  EXPECT_EQ(error.substr(0, prefix.size()), prefix) << error;
  EXPECT_NE(error.find("Is a directory"), std::string::npos) << error;
  EXPECT_EQ(value("Other"), "first");
  EXPECT_EQ(value("Log"), "default");
}

TEST_F(ConfigStoreTest, WritesSettingsIntoTheUsersOwnFile) {
  qoutil::ConfigStoreFile store;
  std::string file = tmp_ / "user/config.d/app";
  EXPECT_FALSE(store.exists());
  ASSERT_TRUE(conf_.setParam("Log", "line\nbreak", 10));
  store.saveParam(*conf_.findParam("Log"));
  EXPECT_TRUE(store.exists());
  store.saveParam(*conf_.findParam("Other"));
  EXPECT_EQ(yarl_test::readFile(file), "Log=line\\nbreak\nOther=other\n");
  store.removeParam(*conf_.findParam("Log"));
  EXPECT_EQ(yarl_test::readFile(file), "Other=other\n");

  // save writes what differs from the reference.
  plat::Configuration reference(conf_);
  ASSERT_TRUE(conf_.setParam("Other", "changed", 10));
  EXPECT_TRUE(store.save(reference, &conf_));
  EXPECT_EQ(yarl_test::readFile(file), "Other=changed\n");
}

TEST_F(ConfigStoreTest, UserFilePathsJoinWithOneSlash) {
  EXPECT_STREQ(qoutil::joinPath("x").get(), (tmp_ / "user/config.d/x").c_str());
  os::setConfigBase("/base/");
  plat::CharArray out;
  qoutil::joinPath(out, "x");
  EXPECT_STREQ(out.get(), "/base/x");
  os::setConfigBase(nullptr);
  EXPECT_TRUE(qoutil::joinPath("x").isNull());
  EXPECT_THROW(qoutil::userConfigFile(), plat::Exception);
}

TEST_F(ConfigStoreTest, SetParametersWritesEachPairIntoAnotherFile) {
  std::string file = tmp_ / "other/config";
  std::filesystem::create_directory(tmp_ / "other");
  tmp_.write("other/config", "Keep=1\nGone=2\n");
  plat::CaseMap map;
  map.findOrInsert("Added")->second = plat::CharArray("3");
  map.findOrInsert("Gone")->second = plat::CharArray();
  qoutil::setParameters(file.c_str(), map);
  qoutil::setParameter(file.c_str(), "Keep", "4");
  EXPECT_EQ(yarl_test::readFile(file), "Added=3\nKeep=4\n");
}

}  // namespace
