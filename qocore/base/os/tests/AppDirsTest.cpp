#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "qocore/base/os/AppDirs.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/ExecutablePath.h"
#include "testing/FileFixtures.h"

namespace {

// The data directories, one a line.
std::string dataDirs() {
  std::string out;
  for (const plat::CharArray& dir : os::getDataDirs()) out += std::string(dir.c_str()) + "\n";
  return out;
}

// The application identity cannot be unset again, so tests that set it run
// in a forked child; the directory settings are put back after each test.
class AppDirsTest : public testing::Test {
 protected:
  void TearDown() override {
    os::setConfigBase(nullptr);
    os::setConfiguredDataDir(nullptr);
    os::setExecutablePathSource(nullptr);
  }

  // A link standing in for /proc/self/exe that names `target`.
  void fakeExecutable(const std::string& target) {
    link_ = tmp_ / "exe";
    ::unlink(link_.c_str());
    ASSERT_EQ(::symlink(target.c_str(), link_.c_str()), 0);
    os::setExecutablePathSource(link_.c_str());
  }

  yarl_test::TempDir tmp_;
  std::string link_;
};

TEST_F(AppDirsTest, ConfigDir) {
  std::string result = yarl_test::inChild([] {
    std::string out;
    os::setAppName("viewer");
    os::setConfigBase("/home/u/.config/yarl");
    out += std::string(os::getConfigDir("server").c_str()) + "|";
    out += std::string(os::getConfigDir(nullptr).c_str()) + "|";
    os::setConfigBase(nullptr);
    out += os::getConfigDir("server").isNull() ? "null" : "set";
    return out;
  });
  EXPECT_EQ(result, "/home/u/.config/yarl/server.d|/home/u/.config/yarl/viewer.d|null");
}

TEST_F(AppDirsTest, DataDirsFromTheProgramsFolderUpwards) {
  struct Case {
    const char* executable;
    const char* configured;
    const char* expected;
  };
  const Case cases[] = {
      {"/opt/yarl/bin/prog", "/srv/data",
       "/srv/data\n/opt/yarl/bin\n/opt/yarl/bin/yarl\n/opt/yarl/bin/share/yarl\n/opt/yarl/yarl\n"
       "/opt/yarl/share/yarl\n/opt/yarl\n/opt/share/yarl\n"},
      {"/usr/bin/prog", nullptr,
       "/usr/bin\n/usr/bin/yarl\n/usr/bin/share/yarl\n/usr/yarl\n/usr/share/yarl\n/yarl\n/share/yarl\n"},
      {"/prog", nullptr, "/\n/yarl\n/share/yarl\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.executable);
    fakeExecutable(c.executable);
    os::setConfiguredDataDir(c.configured);
    EXPECT_EQ(yarl_test::inChild([] {
                os::init("viewer", "maker", "yarl", nullptr, nullptr);
                return dataDirs();
              }),
              c.expected);
  }
}

TEST_F(AppDirsTest, DataDirsWithoutABaseOrPathComponent) {
  os::setConfiguredDataDir("/srv/data");
  std::string missing = tmp_ / "no-such-link";
  os::setExecutablePathSource(missing.c_str());
  EXPECT_EQ(dataDirs(), "/srv/data\n");

  fakeExecutable("/usr/bin/prog");
  EXPECT_EQ(yarl_test::inChild([] {
              os::init("viewer", "maker", nullptr, nullptr, nullptr);
              return dataDirs();
            }),
            "/srv/data\n/usr/bin\n");
}

TEST_F(AppDirsTest, BaseIsTheRunningProgramsFolder) {
  std::string folder = std::filesystem::read_symlink("/proc/self/exe").parent_path();
  std::vector<plat::CharArray> dirs = os::getDataDirs();
  ASSERT_FALSE(dirs.empty());
  EXPECT_EQ(dirs[0].c_str(), folder);
  EXPECT_STREQ(os::getTempDir(), "/tmp");
}

}  // namespace
