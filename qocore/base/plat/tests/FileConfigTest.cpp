#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/FileConfig.h"
#include "qocore/base/plat/FilePtr.h"
#include "testing/FileFixtures.h"
#include "testing/LogCapture.h"

namespace {

using yarl_test::readFile;
using yarl_test::TempDir;

constexpr const char* kMissing = "<missing>";

struct stat statOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st;
}

class FileConfigTest : public testing::Test {
 protected:
  void SetUp() override { savedMask_ = umask(022); }
  void TearDown() override { umask(savedMask_); }

  // The file's path, written with `contents` unless that is kMissing.
  std::string prepare(const std::string& contents) {
    if (contents == kMissing) return dir_ / "app.conf";
    return dir_.write("app.conf", contents);
  }

  TempDir dir_;
  mode_t savedMask_ = 0;
};

TEST_F(FileConfigTest, ReadLoadsTheFileAtThePriorityAndLogsWhereItLooked) {
  plat::Configuration conf("Viewer");
  plat::IntParameter* port = conf.addInt("Port", "Port", 5900, 1, 65535);
  plat::StringParameter* host = conf.addString("Host", "Host", "none");
  const std::string path = dir_.write("viewer.conf", "port=80\nHost=a\\nb\n");

  yarl_test::LogCapture capture("FileConfig:capture:110");
  EXPECT_TRUE(plat::FileConfig::read(conf, path.c_str(), plat::ConfigParameter::kPolicy));
  EXPECT_EQ(port->getValue(), 80);
  EXPECT_EQ(port->getPriority(), plat::ConfigParameter::kPolicy);
  EXPECT_STREQ(host->getValue(), "a\nb");
  EXPECT_EQ(
      capture.from("FileConfig"),
      (std::vector<yarl_test::LogRecord>{{"FileConfig", plat::LogSrc::kVerbose, "Looking for Viewer config in " + path},
                                         {"FileConfig", plat::LogSrc::kDebug, "Reading Viewer config from " + path}}));
}

TEST_F(FileConfigTest, ReadSkipsMissingFilesAndReportsOtherFailures) {
  plat::Configuration conf("Viewer");
  plat::IntParameter* port = conf.addInt("Port", "Port", 5900, 1, 65535);
  const std::string plain = dir_.write("plain", "x");

  for (const std::string& path : {dir_ / "absent.conf", dir_ / "nodir/absent.conf", plain + "/under-a-file"}) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(plat::FileConfig::read(conf, path.c_str(), plat::ConfigParameter::kPreference));
  }
  EXPECT_EQ(port->getPriority(), plat::ConfigParameter::kDefault);

  // A folder opens but cannot be read.
  EXPECT_THROW(plat::FileConfig::read(conf, dir_.c_str(), plat::ConfigParameter::kPreference), plat::Exception);

  // readConfigFile reports a missing file too.
  plat::CaseMap map;
  try {
    plat::readConfigFile((dir_ / "absent.conf").c_str(), map);
    ADD_FAILURE() << "no exception";
  } catch (const plat::SystemException& e) {
    EXPECT_EQ(e.error(), ENOENT);
  }
}

TEST_F(FileConfigTest, SingleSettingChangesRewriteOnlyWhenTheSettingsChange) {
  enum Op { kUpdate, kAdd, kRemove };
  struct Case {
    const char* what;
    std::string before;
    Op op;
    const char* name;
    const char* value;
    bool rewritten;
    std::string after;
  };
  for (const Case& c : std::vector<Case>{
           {"update into a missing file", kMissing, kUpdate, "Port", "80", true, "Port=80\n"},
           {"update changes a value found ignoring case", "port=1\nHost=h\n", kUpdate, "PORT", "2", true,
            "Host=h\nport=2\n"},
           {"update adds a new name in order", "b=1\n", kUpdate, "a", "x\ny", true, "a=x\\ny\nb=1\n"},
           {"update with the value already there", "Port=80\n", kUpdate, "port", "80", false, "Port=80\n"},
           {"update with null removes", "a=1\nb=2\n", kUpdate, "A", nullptr, true, "b=2\n"},
           {"update with null on a missing name", "b=2\n", kUpdate, "a", nullptr, false, "b=2\n"},
           {"update with null on a bare name", "a\n", kUpdate, "a", nullptr, false, "a\n"},
           {"add a missing name", "b=2\n", kAdd, "a", "1", true, "a=1\nb=2\n"},
           {"add never replaces", "a=0\n", kAdd, "A", "1", false, "a=0\n"},
           {"add into a missing file", kMissing, kAdd, "a", "1", true, "a=1\n"},
           {"remove an entry", "a=1\nb=2\n", kRemove, "B", nullptr, true, "a=1\n"},
           {"remove a missing name", "a=1\n", kRemove, "b", nullptr, false, "a=1\n"},
           {"remove from a missing file", kMissing, kRemove, "b", nullptr, false, kMissing},
       }) {
    SCOPED_TRACE(c.what);
    const std::string path = prepare(c.before);
    bool rewritten = false;
    switch (c.op) {
      case kUpdate:
        rewritten = plat::updateConfigFile(path.c_str(), c.name, c.value);
        break;
      case kAdd:
        rewritten = plat::addConfigFileValue(path.c_str(), c.name, c.value);
        break;
      case kRemove:
        rewritten = plat::removeConfigFileValue(path.c_str(), c.name);
        break;
    }
    EXPECT_EQ(rewritten, c.rewritten);
    EXPECT_EQ(readFile(path), c.after);
    EXPECT_EQ(readFile(path + ".tmp"), kMissing);
    ::unlink(path.c_str());
  }
}

TEST_F(FileConfigTest, UnchangedFileKeepsItsInodeAndModificationTime) {
  const std::string path = dir_.write("app.conf", "Port=80\nHost=h\n");
  // An old time, so that a rewrite within the same clock tick would show.
  const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
  const struct stat before = statOf(path);

  EXPECT_FALSE(plat::updateConfigFile(path.c_str(), "HOST", "h"));
  EXPECT_FALSE(plat::addConfigFileValue(path.c_str(), "port", "81"));
  EXPECT_FALSE(plat::removeConfigFileValue(path.c_str(), "Missing"));

  const struct stat after = statOf(path);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);

  EXPECT_TRUE(plat::updateConfigFile(path.c_str(), "Host", "other"));
  EXPECT_NE(statOf(path).st_mtim.tv_sec, before.st_mtim.tv_sec);
}

TEST_F(FileConfigTest, RewritesKeepOrNarrowTheMode) {
  const std::string path = dir_.write("app.conf", "a=1\n", 0640);
  ASSERT_TRUE(plat::updateConfigFile(path.c_str(), "a", "2"));
  EXPECT_EQ(statOf(path).st_mode & 07777, 0640u);
  ASSERT_TRUE(plat::updateConfigFile(path.c_str(), "a", "3", plat::FilePtr::kPrivate));
  EXPECT_EQ(statOf(path).st_mode & 07777, 0600u);
  EXPECT_EQ(readFile(path), "a=3\n");
}

TEST_F(FileConfigTest, MergeWritesTheSettingsThatDifferFromTheReference) {
  plat::Configuration reference("Ref");
  reference.addInt("Port", "d", 5900, 1, 65535);
  reference.addString("Host", "d", "none");
  reference.addBool("Quiet", "d", false);
  plat::Configuration conf(reference);
  ASSERT_TRUE(conf.findParam("Port")->setParam("80", plat::ConfigParameter::kPreference));
  ASSERT_TRUE(conf.findParam("Quiet")->setParam("yes", plat::ConfigParameter::kPreference));

  // The file holds Port=80 already and a setting of its own.
  const std::string path = dir_.write("app.conf", "Port=80\nOther=x\n");
  EXPECT_TRUE(plat::mergeConfigFile(conf, path.c_str(), reference));
  EXPECT_EQ(readFile(path), "Other=x\nPort=80\nQuiet=1\n");

  const struct stat before = statOf(path);
  EXPECT_FALSE(plat::mergeConfigFile(conf, path.c_str(), reference));
  EXPECT_FALSE(plat::mergeConfigFile(reference, (dir_ / "untouched.conf").c_str(), reference));
  EXPECT_EQ(statOf(path).st_ino, before.st_ino);
  EXPECT_EQ(readFile(dir_ / "untouched.conf"), kMissing);
}

// Under kNoThrow a change that cannot be written answers false with a log
// line and leaves the file as it was; without it the failure throws.  The
// temporary name is held by a folder with a file in it, which nothing (not
// even root) can replace by a file.
TEST_F(FileConfigTest, NoThrowChangesThatCannotBeWrittenAnswerFalseAndLog) {
  plat::Configuration reference("Ref");
  reference.addInt("Port", "d", 5900, 1, 65535);
  plat::Configuration conf(reference);
  ASSERT_TRUE(conf.findParam("Port")->setParam("80", plat::ConfigParameter::kPreference));

  const std::string path = dir_.write("app.conf", "Host=h\n");
  ASSERT_EQ(::mkdir((path + ".tmp").c_str(), 0755), 0);
  dir_.write("app.conf.tmp/keep", "x");
  const int noThrow = plat::FilePtr::kNoThrow;
  struct Case {
    const char* what;
    std::function<bool(int flags)> change;
  };
  const Case cases[] = {
      {"update", [&](int flags) { return plat::updateConfigFile(path.c_str(), "Host", "other", flags); }},
      {"add", [&](int flags) { return plat::addConfigFileValue(path.c_str(), "Port", "81", flags); }},
      {"remove", [&](int flags) { return plat::removeConfigFileValue(path.c_str(), "Host", flags); }},
      {"merge", [&](int flags) { return plat::mergeConfigFile(conf, path.c_str(), reference, flags); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    yarl_test::LogCapture capture("FileConfig:capture:100");
    EXPECT_FALSE(c.change(noThrow));
    EXPECT_EQ(readFile(path), "Host=h\n");
    const auto logged = capture.from("FileConfig");
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].text.rfind("Unable to change " + path + ": Error opening", 0), 0u) << logged[0].text;
    EXPECT_THROW(c.change(0), plat::SystemException);
  }
}

// Two processes changing one file at once: each read, change and rename
// runs whole before the other's, so no change is lost or refused.
TEST_F(FileConfigTest, TwoWritingProcessesKeepEverySetting) {
  const std::string path = dir_ / "shared.conf";
  constexpr int kEach = 200;
  const char writers[] = {'a', 'b'};
  // Both children wait on the pipe, so that they start together when the
  // parent closes its end.
  int start[2];
  ASSERT_EQ(::pipe2(start, O_CLOEXEC), 0);
  std::vector<pid_t> children;
  for (char writer : writers) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(start[1]);
      char go;
      if (::read(start[0], &go, 1) < 0) ::_exit(100);
      int refused = 0;
      for (int i = 0; i < kEach; ++i) {
        const std::string name = std::string(1, writer) + std::to_string(i);
        if (!plat::updateConfigFile(path.c_str(), name.c_str(), "set", plat::FilePtr::kNoThrow)) ++refused;
      }
      ::_exit(std::min(refused, 99));
    }
    children.push_back(pid);
  }
  ::close(start[0]);
  ::close(start[1]);
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "changes refused";
  }

  plat::CaseMap map;
  plat::readConfigFile(path.c_str(), map);
  EXPECT_EQ(map.size(), 2u * kEach);
  std::vector<std::string> lost;
  for (char writer : writers) {
    for (int i = 0; i < kEach; ++i) {
      const std::string name = std::string(1, writer) + std::to_string(i);
      if (!map.contains(name.c_str())) lost.push_back(name);
    }
  }
  EXPECT_EQ(lost, std::vector<std::string>{});
  EXPECT_EQ(readFile(path + ".tmp"), kMissing);
}

// The lock file's name may hold a link someone planted (the folder may be
// writable by others): it is never followed, and the change is refused.
TEST_F(FileConfigTest, ALinkAtTheLockNameIsRefusedNotFollowed) {
  const std::string path = dir_.write("app.conf", "Host=h\n");
  const std::string target = dir_ / "elsewhere";
  ASSERT_EQ(::symlink(target.c_str(), (path + ".lock").c_str()), 0);
  yarl_test::LogCapture capture("FileConfig:capture:100");
  EXPECT_FALSE(plat::updateConfigFile(path.c_str(), "Host", "other", plat::FilePtr::kNoThrow));
  const auto logged = capture.from("FileConfig");
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].text.rfind("Unable to change " + path + ": Error opening \"" + path + ".lock\"", 0), 0u)
      << logged[0].text;
  EXPECT_EQ(readFile(path), "Host=h\n");
  EXPECT_EQ(readFile(target), kMissing);
}

TEST_F(FileConfigTest, WrittenMapReadsBackEqual) {
  plat::CaseMap map;
  map.findOrInsert("Log")->second = plat::CharArray("*:file:30");
  map.findOrInsert("Motd")->second = plat::CharArray(" two\nlines\\ ");
  map.findOrInsert("Bare");
  const std::string path = dir_ / "written.conf";
  plat::writeConfigFile(path.c_str(), map);

  plat::CaseMap back;
  plat::readConfigFile(path.c_str(), back);
  ASSERT_EQ(back.size(), 3u);
  EXPECT_TRUE(back.find("bare")->second.isNull());
  EXPECT_STREQ(back.find("log")->second.get(), "*:file:30");
  // Only the blank at the line's end is lost: the format trims lines.
  EXPECT_STREQ(back.find("MOTD")->second.get(), " two\nlines\\");
}

}  // namespace
