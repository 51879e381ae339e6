// The run's work folder and the files made in it, on real folders.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "libs/qoSetup/WorkDir.h"
#include "qocore/base/os/AppDirs.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/ExecutablePath.h"
#include "qocore/base/os/unix/NamedPipeListener.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/File.h"
#include "qocore/base/plat/Path.h"
#include "testing/FailureOf.h"
#include "testing/FileFixtures.h"

extern char** environ;

namespace {

using yarl_test::failureOf;

// Where a run of this executable started by the test below writes the
// name of its work folder.
constexpr const char kNameOutEnv[] = "YARL_TEST_WORKDIR_NAME_OUT";

mode_t modeOf(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return 0;
  return info.st_mode & 07777;
}

class WorkDirTest : public testing::Test {
 protected:
  void SetUp() override {
    os::init("vuzovuvivovevada", "Corvane", "yarl", nullptr, nullptr);
    os::setTempDir(tmp_.c_str());
  }
  void TearDown() override { os::setTempDir(nullptr); }

  yarl_test::TempDir tmp_;
};

TEST_F(WorkDirTest, TheRunsFolderIsNamedOnceAndMadeOnEveryCall) {
  const std::string installer = qoSetup::installerDir().c_str();
  EXPECT_EQ(installer, std::string(os::getUserTempPath(nullptr).c_str()) + "/installer");
  EXPECT_EQ(installer.rfind(tmp_.path() + "/", 0), 0u) << installer;

  const std::string first = qoSetup::setupWorkDir().c_str();
  const std::string name = plat::baseName(first.c_str()).c_str();
  EXPECT_EQ(name.size(), 16u);
  EXPECT_EQ(name.find_first_not_of("0123456789abcdef"), std::string::npos) << name;
  EXPECT_EQ(first, installer + "/" + name);
  EXPECT_TRUE(plat::isDirectory(first.c_str()));
  EXPECT_EQ(modeOf(first), 0700u);
  EXPECT_EQ(modeOf(installer), 0700u);

  // The wizard removes the whole "installer" folder when it starts again:
  // the next call makes it afresh, under the same name.
  plat::rmDir(installer.c_str(), true);
  EXPECT_EQ(qoSetup::setupWorkDir().c_str(), first);
  EXPECT_TRUE(plat::isDirectory(first.c_str()));
}

// Also the other half of the next test: with the variable set, the run
// writes its folder's name there.
TEST_F(WorkDirTest, NameOfThisRun) {
  const std::string name = plat::baseName(qoSetup::setupWorkDir().c_str()).c_str();
  ASSERT_EQ(name.size(), 16u);
  if (const char* out = std::getenv(kNameOutEnv)) qoSetup::writeNewFile(out, name.data(), name.size(), 0644);
}

TEST_F(WorkDirTest, EachRunHasAFolderOfItsOwn) {
  std::vector<std::string> names;
  for (int run = 0; run < 2; ++run) {
    const std::string out = tmp_ / ("name" + std::to_string(run));
    const std::string filter = "--gtest_filter=WorkDirTest.NameOfThisRun";
    const std::string variable = std::string(kNameOutEnv) + "=" + out;
    std::vector<char*> env;
    for (char** e = environ; *e; ++e) env.push_back(*e);
    env.push_back(const_cast<char*>(variable.c_str()));
    env.push_back(nullptr);
    char* argv[] = {const_cast<char*>(os::getExecutablePath()), const_cast<char*>(filter.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    ASSERT_EQ(posix_spawn_file_actions_init(&actions), 0);
    // Its report stays out of this run's output.
    ASSERT_EQ(posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0), 0);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv, env.data());
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(spawned, 0);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    names.push_back(yarl_test::readFile(out));
    EXPECT_EQ(names.back().size(), 16u) << names.back();
  }
  EXPECT_NE(names[0], names[1]);
  EXPECT_NE(names[0], plat::baseName(qoSetup::setupWorkDir().c_str()).c_str());
}

TEST_F(WorkDirTest, FileNamesAreMadeSafeAndUnique) {
  const std::string dir = qoSetup::setupWorkDir().c_str();
  struct Case {
    const char* name;
    const char* first;
    const char* second;
  };
  // clang-format off
  const Case cases[] = {
      {"Setup.pkg", "Setup.pkg", "Setup(1).pkg"},
      {"svrToken", "svrToken", "svrToken(1)"},
      // A URI whose path ends in "/" has an empty last segment: the folder
      // itself is taken, so the counter starts.
      {"", "(1)", "(2)"},
      {"a\x01z.pkg", "a-z.pkg", "a-z(1).pkg"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first);
    const std::string first = qoSetup::uniqueWorkFile(c.name).c_str();
    EXPECT_EQ(first, dir + "/" + c.first);
    qoSetup::writeNewFile(first.c_str(), "x", 1, 0644);
    EXPECT_EQ(qoSetup::uniqueWorkFile(c.name).c_str(), dir + "/" + c.second);
  }
  qoSetup::writeNewFile((dir + "/many").c_str(), "", 0, 0644);
  for (int i = 1; i <= 99; ++i) qoSetup::writeNewFile((dir + "/many(" + std::to_string(i) + ")").c_str(), "", 0, 0644);
  EXPECT_EQ(failureOf<plat::Exception>([] { (void)qoSetup::uniqueWorkFile("many"); }), "Too many files with same name");
}

TEST_F(WorkDirTest, ANewFileIsNeverAnExistingOneNorALink) {
  const std::string secret = tmp_.write("secret", "keep");
  const std::string link = tmp_ / "link";
  ASSERT_EQ(::symlink(secret.c_str(), link.c_str()), 0);
  const std::string existing = tmp_.write("existing", "old");
  for (const std::string& path : {link, existing}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(failureOf<plat::SystemException>([&] { qoSetup::writeNewFile(path.c_str(), "new", 3, 0600); }),
              "fileOpenFd(" + path + "): File exists (17)");
  }
  EXPECT_EQ(yarl_test::readFile(secret), "keep");
  EXPECT_EQ(yarl_test::readFile(existing), "old");

  const std::string token = tmp_ / "token";
  qoSetup::writeNewFile(token.c_str(), "t0k3n", 5, 0600);
  EXPECT_EQ(yarl_test::readFile(token), "t0k3n");
  EXPECT_EQ(modeOf(token), 0600u);
}

TEST_F(WorkDirTest, AFailedWriteLeavesNoFile) {
  const std::string path = tmp_ / "big";
  // In a child whose files may not grow past 4 bytes.
  const std::string outcome = yarl_test::inChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4, 4};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return std::string("setrlimit failed");
    try {
      qoSetup::writeNewFile(path.c_str(), "0123456789", 10, 0644);
    } catch (const plat::SystemException& e) {
      return std::string(e.str());
    }
    return std::string("(nothing thrown)");
  });
  EXPECT_EQ(outcome, "write(" + path + "): File too large (27)");
  EXPECT_EQ(yarl_test::readFile(path), "<missing>");
}

}  // namespace
