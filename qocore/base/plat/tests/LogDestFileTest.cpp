#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "qocore/base/os/HostName.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/File.h"
#include "qocore/base/plat/LogDestFile.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/UniqueFd.h"
#include "testing/FileFixtures.h"
#include "testing/StderrCapture.h"

namespace {

using testing::HasSubstr;
using testing::MatchesRegex;
using testing::StartsWith;
using yarl_test::readFile;
using yarl_test::TempDir;

// 2024-01-02T03:04:05.678Z
plat::TimeValue fixedNow() { return plat::dateToTimeChecked(2024, 1, 2, 3, 4, 5) + 678 * plat::kTicksPerMs; }

std::string pid() { return std::to_string(getpid()); }

void setParam(const char* name, const char* value, int priority) {
  ASSERT_TRUE(plat::Configuration::global().setParam(name, value, priority)) << name;
}

// A fixed host name and wall clock, and a folder for log files; the log
// parameters go back to their defaults afterwards.
class LogDestFileTest : public testing::Test {
 protected:
  void SetUp() override {
    previousHost_ = os::setLocalHostNameOverride("testhost");
    previousClock_ = plat::setWallClock(&fixedNow);
  }
  void TearDown() override {
    for (const char* name : {"LogDir", "LogFile", "LogKeepDays", "CompactLog"}) {
      plat::Configuration::global().findParam(name)->resetToDefault();
    }
    setParam("LogDir", "", 0);
    setParam("LogFile", "", 0);
    plat::setLogBanner(nullptr);
    plat::setWallClock(previousClock_);
    os::setLocalHostNameOverride(previousHost_);
  }

  std::string line(int priority, const char* source, const char* text, const std::string& process = pid()) {
    return "<" + std::to_string(priority) + "> 2024-01-02T03:04:05.678Z testhost prog[" + process + "]: " + source +
           ": " + text + "\n";
  }

  TempDir dir_;
  const char* previousHost_ = nullptr;
  plat::WallClockFn previousClock_ = nullptr;
};

// ---- Line formats ----

TEST_F(LogDestFileTest, FullLineCarriesPriorityTimeHostProgramAndProcess) {
  std::string path = dir_ / "out.log";
  plat::LogDestFile dest(nullptr, "prog", fopen(path.c_str(), "w"), true);
  const std::pair<int, int> levelToPriority[] = {{0, 11},  {1, 12},  {5, 12},  {6, 13},  {10, 13},
                                                 {11, 14}, {30, 14}, {31, 15}, {110, 15}};
  std::string expected;
  for (const auto& [level, priority] : levelToPriority) {
    dest.write(level, "Src", "message");
    expected += line(priority, "Src", "message");
  }
  EXPECT_EQ(readFile(path), expected);
  EXPECT_FALSE(dest.isColour());
}

// The zone is read once per process, before the first local time, so this
// runs in a fresh process; it ends with exit(), so it keeps no folder.
class LogDestFileDeathTest : public testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

void writeCompactLine() {
  setenv("TZ", "XST-5:30", 1);
  plat::setWallClock(&fixedNow);
  EXPECT_TRUE(plat::Configuration::global().setParam("CompactLog", "1", plat::ConfigParameter::kPreference));
  char path[] = "/tmp/yarl-compact-XXXXXX";
  int fd = mkstemp(path);
  {
    plat::LogDestFile dest(nullptr, "prog", fdopen(fd, "w"), true);
    dest.write(0, "Src", "compact");
  }
  fputs(readFile(path).c_str(), stderr);
  unlink(path);
  exit(0);
}

TEST_F(LogDestFileDeathTest, CompactLineUsesLocalTime) {
  EXPECT_EXIT(writeCompactLine(), testing::ExitedWithCode(0), testing::Eq("08:34:05.678 Src: compact\n"));
}

TEST_F(LogDestFileTest, BannerStartsEachNewFile) {
  std::string banner = "Product 1.2.3 " + std::string(70, 'x') + " built today";
  plat::setLogBanner(banner.c_str());
  plat::LogDestFile dest(nullptr, "prog");
  for (const char* name : {"first.log", "second.log"}) {
    dest.setPath((dir_ / name).c_str());
    dest.write(30, "Src", "one");
    dest.write(30, "Src", "two");
    EXPECT_EQ(readFile(dir_ / name), "Product 1.2.3\n" + std::string(70, 'x') + " built\ntoday\n" +
                                         line(14, "Src", "one") + line(14, "Src", "two"))
        << name;
  }
}

// The process id is kept between lines; a forked child, and its own forked
// child, must still stamp their lines with their own ids, after the parent
// has logged (and so kept its id).
TEST_F(LogDestFileTest, AForkedChildWritesItsOwnProcessId) {
  std::string path = dir_ / "fork.log";
  plat::LogDestFile dest(nullptr, "prog");
  dest.setPath(path.c_str());
  dest.write(30, "Src", "parent");
  std::string ids = yarl_test::inChild([&] {
    dest.write(30, "Src", "child");
    std::string grandchild = yarl_test::inChild([&] {
      dest.write(30, "Src", "grandchild");
      return pid();
    });
    return pid() + " " + grandchild;
  });
  size_t space = ids.find(' ');
  ASSERT_NE(space, std::string::npos) << ids;
  std::string child = ids.substr(0, space), grandchild = ids.substr(space + 1);
  EXPECT_NE(child, pid());
  EXPECT_NE(grandchild, child);
  EXPECT_EQ(readFile(path),
            line(14, "Src", "parent") + line(14, "Src", "child", child) + line(14, "Src", "grandchild", grandchild));
}

// ---- Opening, rotating and pruning ----

void setMtime(const std::string& path, plat::TimeValue when) { plat::fileSetTime(path.c_str(), when); }

// The rotation stamp of a time, read with the C library directly: the
// process's first local-time conversion fixes its zone, and a time test
// forks children that set their own.
std::string localStamp(plat::TimeValue when) {
  time_t seconds = static_cast<time_t>(when / plat::kTicksPerSecond - plat::kUnixEpochSeconds);
  tm fields;
  localtime_r(&seconds, &fields);
  char text[32];
  strftime(text, sizeof text, "%Y%m%d%H%M%S", &fields);
  return text;
}

// Runs fn, which rotates a log file (a local-time conversion), in a forked
// child for the same reason; fn answers what went wrong, or nothing.
void rotatingInChild(const std::function<std::string()>& fn) { EXPECT_EQ(yarl_test::inChild(fn), ""); }

TEST_F(LogDestFileTest, OpeningRotatesTheOldFileAndPrunesOnlyOldRotatedCopies) {
  plat::TimeValue now = plat::getTime();
  plat::TimeValue old = now - 40 * plat::kTicksPerDay;
  plat::TimeValue recent = now - plat::kTicksPerDay;
  plat::TimeValue previousRun = plat::dateToTimeChecked(2023, 5, 6, 7, 8, 9);
  std::string stamp = localStamp(previousRun);

  dir_.write("app.log", "previous run\n");
  setMtime(dir_ / "app.log", previousRun);
  // Holds the rotated name already, so the previous run becomes "(1)".
  dir_.write("app.log." + stamp, "older run\n");
  struct Existing {
    const char* name;
    plat::TimeValue modified;
    bool survives;
  } existing[] = {
      {"app.log.20200101000000", old, false},   {"app.log(3).20200101000000", old, false},
      {"app.log.20240101000000", recent, true}, {"app.log.keep", old, true},
      {"app.log.2020010100000", old, true},  // 13 digits
      {"app.log.20200101000000x", old, true},   {"app.logx.20200101000000", old, true},
      {"other.log.20200101000000", old, true},
  };
  for (const Existing& e : existing) {
    dir_.write(e.name, "x");
    setMtime(dir_ / e.name, e.modified);
  }

  rotatingInChild([&]() -> std::string {
    plat::LogDestFile dest(nullptr, "prog");
    dest.setPath((dir_ / "app.log").c_str());
    if (!dest.open()) return "not opened";
    dest.write(30, "Src", "new run");
    std::string got = readFile(dir_ / "app.log");
    return got == line(14, "Src", "new run") ? "" : got;
  });

  EXPECT_EQ(readFile(dir_ / ("app.log(1)." + stamp)), "previous run\n");
  EXPECT_EQ(readFile(dir_ / ("app.log." + stamp)), "older run\n");
  for (const Existing& e : existing) EXPECT_EQ(plat::pathExists((dir_ / e.name).c_str()), e.survives) << e.name;
}

TEST_F(LogDestFileTest, KeepDaysZeroPrunesEveryOlderRotatedCopy) {
  setParam("LogKeepDays", "0", plat::ConfigParameter::kPreference);
  dir_.write("app.log.20240101000000", "x");
  setMtime(dir_ / "app.log.20240101000000", plat::getTime() - plat::kTicksPerSecond);
  plat::LogDestFile dest(nullptr, "prog");
  dest.setPath((dir_ / "app.log").c_str());
  EXPECT_TRUE(dest.open());
  EXPECT_FALSE(plat::pathExists((dir_ / "app.log.20240101000000").c_str()));
}

// A keep period that reaches back past the start of the clock keeps every
// rotated copy, however old.
TEST_F(LogDestFileTest, KeepDaysNearTheTopOfTheRangeKeepsEveryRotatedCopy) {
  for (const char* days : {"2147483647", "1000000000", "10675200", "10675199"}) {
    setParam("LogKeepDays", days, plat::ConfigParameter::kPreference);
    dir_.write("app.log.20000101000000", "x");
    setMtime(dir_ / "app.log.20000101000000", plat::dateToTimeChecked(2000, 1, 1, 0, 0, 0));
    plat::LogDestFile dest(nullptr, "prog");
    dest.setPath((dir_ / "app.log").c_str());
    EXPECT_TRUE(dest.open()) << days;
    EXPECT_TRUE(plat::pathExists((dir_ / "app.log.20000101000000").c_str())) << days;
  }
}

TEST_F(LogDestFileTest, MissingFoldersAreCreated) {
  plat::LogDestFile dest(nullptr, "prog");
  dest.setPath((dir_ / "a/b/c.log").c_str());
  dest.write(0, "Src", "deep");
  EXPECT_EQ(readFile(dir_ / "a/b/c.log"), line(11, "Src", "deep"));
}

TEST_F(LogDestFileTest, AFailedOpenFallsBackToTheDefaultPath) {
  // A regular file where a folder should be: creating the folder fails with
  // ENOTDIR (as root, permissions never do).
  dir_.write("blocker", "");
  setParam("LogDir", (dir_ / "default").c_str(), 0);
  setParam("LogFile", "app.log", 0);
  setParam("LogDir", (dir_ / "blocker/sub").c_str(), plat::ConfigParameter::kPreference);

  plat::LogDestFile dest(nullptr, "prog");
  dest.setPath((dir_ / "blocker/sub/app.log").c_str());
  yarl_test::StderrCapture capturedErr;
  dest.write(30, "Src", "after the fallback");
  std::string err = capturedErr.stop();

  std::string failure = "[System-" + std::to_string(ENOTDIR) + "] mkDir(" + (dir_ / "blocker/sub") +
                        "): " + strerror(ENOTDIR) + " (" + std::to_string(ENOTDIR) + ")";
  EXPECT_EQ(err, "Error opening log file: " + failure + "\nReverting to default log file " +
                     (dir_ / "default/app.log") + "\n");
  EXPECT_EQ(readFile(dir_ / "default/app.log"),
            line(11, "LogDestFile: Error opening log file", failure.c_str()) + line(14, "Src", "after the fallback"));
}

TEST_F(LogDestFileTest, WithoutConfiguredPathsAFailedOpenGivesUpOnce) {
  dir_.write("blocker", "");
  setParam("LogDir", (dir_ / "blocker/sub").c_str(), 0);
  setParam("LogFile", "app.log", 0);
  struct Case {
    const char* overrideDir;  // null: only the defaults are set
    const char* lastLine;
  } cases[] = {
      {nullptr, "Error opening log file: "},
      // The default is the same broken folder: the fallback fails too.
      {"blocker/other", "Error opening default log file: "},
  };
  for (const Case& c : cases) {
    if (c.overrideDir) setParam("LogDir", (dir_ / c.overrideDir).c_str(), plat::ConfigParameter::kPreference);
    plat::LogDestFile dest(nullptr, "prog");
    dest.setPath((dir_ / "blocker/sub/app.log").c_str());
    yarl_test::StderrCapture capturedErr;
    dest.write(0, "Src", "lost");
    dest.write(0, "Src", "lost again");
    std::vector<std::string> lines;
    std::string err = capturedErr.stop();
    for (size_t at = 0, end; (end = err.find('\n', at)) != std::string::npos; at = end + 1)
      lines.push_back(err.substr(at, end - at));
    ASSERT_FALSE(lines.empty());
    EXPECT_THAT(lines.front(), StartsWith("Error opening log file: "));
    EXPECT_THAT(lines.back(), StartsWith(c.lastLine));
    EXPECT_EQ(lines.size(), c.overrideDir ? 3u : 1u) << err;
    EXPECT_TRUE(dest.ready());
  }
}

// ---- Failures while writing ----

TEST_F(LogDestFileTest, AFullDiskIsReportedOnceAndLaterLinesAreDropped) {
  std::string report = "Error writing log file: [System-" + std::to_string(ENOSPC) + "] fflush: " + strerror(ENOSPC) +
                       " (" + std::to_string(ENOSPC) + ")\n";
  for (bool owned : {true, false}) {
    FILE* full = fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    {
      plat::LogDestFile dest(nullptr, "prog", full, owned);
      yarl_test::StderrCapture capturedErr;
      EXPECT_NO_THROW({
        dest.write(0, "Src", "first");
        dest.write(0, "Src", "second");
        dest.write(0, "Src", "third");
      });
      // A borrowed stream (standard error) ignores its own failures.
      EXPECT_EQ(capturedErr.stop(), owned ? report : "") << owned;
      EXPECT_EQ(dest.ready(), !owned);
    }
    if (!owned) fclose(full);
  }
}

// The descriptor this process has open on `path`, or -1.
int descriptorOn(const std::string& path) {
  for (int fd = 0; fd < 1024; ++fd) {
    char link[PATH_MAX];
    ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), link, sizeof link);
    if (n > 0 && std::string(link, n) == path) return fd;
  }
  return -1;
}

TEST_F(LogDestFileTest, SettingThePathAgainResumesAfterAWriteFailure) {
  std::string path = dir_ / "resume.log";
  plat::LogDestFile dest(nullptr, "prog");
  dest.setPath(path.c_str());
  dest.write(0, "Src", "one");
  // The same path set again while the file is fine changes nothing.
  dest.setPath(path.c_str());
  dest.write(0, "Src", "two");
  EXPECT_EQ(readFile(path), line(11, "Src", "one") + line(11, "Src", "two"));

  // The disk fills up under the open file: the log's descriptor now leads
  // to a full device.
  int fd = descriptorOn(path);
  ASSERT_GE(fd, 0);
  plat::UniqueFd full(open("/dev/full", O_WRONLY | O_CLOEXEC));
  ASSERT_TRUE(full);
  ASSERT_EQ(dup3(full.get(), fd, O_CLOEXEC), fd);
  yarl_test::StderrCapture capturedErr;
  dest.write(0, "Src", "lost");
  dest.write(0, "Src", "dropped while stopped");
  EXPECT_THAT(capturedErr.stop(), StartsWith("Error writing log file: [System-" + std::to_string(ENOSPC) + "] "));
  EXPECT_EQ(descriptorOn(path), -1);

  // Setting the path again opens it anew: the old file is rotated away and
  // lines reach the new one.
  rotatingInChild([&]() -> std::string {
    dest.setPath(path.c_str());
    dest.write(0, "Src", "three");
    std::string got = readFile(path);
    return got == line(11, "Src", "three") ? "" : got;
  });
  std::vector<std::string> rotated;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    std::string name = entry.path().filename();
    if (name.starts_with("resume.log.")) rotated.push_back(readFile(entry.path()));
  }
  EXPECT_THAT(rotated, testing::ElementsAre(line(11, "Src", "one") + line(11, "Src", "two")));
}

class CountingLimit : public plat::LogSizeLimitCallback {
 public:
  void logSizeLimitReached(plat::LogDestFile&) override { ++calls; }
  int calls = 0;
};

TEST_F(LogDestFileTest, SizeLimitStopsWritingUntilItIsSetAgain) {
  std::string path = dir_ / "limited.log";
  int lineSize = static_cast<int>(line(11, "Src", "0123456789").size());
  CountingLimit limit;
  plat::LogDestFile dest(nullptr, "prog");
  dest.setPath(path.c_str());
  dest.setSizeLimit(2 * lineSize + 1, &limit);
  for (int i = 0; i < 5; ++i) dest.write(0, "Src", "0123456789");
  EXPECT_EQ(limit.calls, 1);
  EXPECT_EQ(plat::fileGetSize(path.c_str()), 3 * lineSize);

  // Setting the limit again resumes: the next line starts a new file.  The
  // child's line carries the child's process id, whose digits may be more
  // or fewer than the parent's, so its length is measured there.
  rotatingInChild([&] {
    dest.setSizeLimit(0, nullptr);
    dest.write(0, "Src", "0123456789");
    const auto expected = static_cast<int64_t>(line(11, "Src", "0123456789").size());
    const int64_t size = plat::fileGetSize(path.c_str());
    return size == expected ? std::string() : "size " + std::to_string(size) + ", expected " + std::to_string(expected);
  });
}

TEST_F(LogDestFileTest, AMovedFileIsReopened) {
  std::string path = dir_ / "app.log";
  plat::LogDestFile dest(nullptr, "prog");
  dest.setPath(path.c_str());
  dest.write(0, "Src", "one");
  dest.reopenIfMoved();  // still in place: nothing happens
  ASSERT_EQ(rename(path.c_str(), (dir_ / "moved.log").c_str()), 0);
  dest.reopenIfMoved();
  dest.write(0, "Src", "two");
  EXPECT_EQ(readFile(dir_ / "moved.log"), line(11, "Src", "one"));
  EXPECT_EQ(readFile(path), line(11, "Src", "two"));
}

TEST_F(LogDestFileTest, StandardErrorCanFollowTheLogFile) {
  std::string path = dir_ / "redirect.log";
  std::string got = yarl_test::inChild([&] {
    plat::LogDestFile dest(nullptr, "prog");
    dest.setRedirectStderr(true);
    dest.setPath(path.c_str());
    dest.write(0, "Src", "logged");
    fputs("written to stderr\n", stderr);
    return readFile(path) == line(11, "Src", "logged") + "written to stderr\n" ? "ok" : readFile(path);
  });
  EXPECT_EQ(got, "ok");
}

// ---- The "file" destination and its parameters ----

TEST_F(LogDestFileTest, TheFileDestinationFollowsLogDirAndLogFile) {
  plat::LogDestFile* file = plat::LogDestFile::fileDest("prog", false);
  ASSERT_EQ(plat::LogDestFile::fileDest("other", false), file);
  EXPECT_EQ(plat::findLogDest("FILE"), file);
  EXPECT_FALSE(file->ready());

  setenv("YARL_LOGTEST_DIR", dir_.c_str(), 1);
  setParam("LogDir", "${YARL_LOGTEST_DIR}/logs", plat::ConfigParameter::kPreference);
  setParam("LogFile", "one.log", plat::ConfigParameter::kPreference);
  plat::setLogToFile(true);
  plat::setLogToFile(true);
  EXPECT_STREQ(file->path().get(), (dir_ / "logs/one.log").c_str());
  EXPECT_TRUE(file->ready());

  setParam("LogFile", (dir_ / "abs.log").c_str(), plat::ConfigParameter::kPreference);
  EXPECT_STREQ(file->path().get(), (dir_ / "abs.log").c_str());
  file->write(0, "Src", "to the file");
  EXPECT_EQ(readFile(dir_ / "abs.log"), line(11, "Src", "to the file"));

  yarl_test::StderrCapture capturedErr;
  setParam("LogDir", "$YARL_LOGTEST_UNSET_VARIABLE", plat::ConfigParameter::kPreference);
  setParam("LogFile", "two.log", plat::ConfigParameter::kPreference);
  EXPECT_EQ(capturedErr.stop(),
            "Error opening log file: unknown environment variable: YARL_LOGTEST_UNSET_VARIABLE\n"
            "Error opening log file: unknown environment variable: YARL_LOGTEST_UNSET_VARIABLE\n");
  EXPECT_EQ(file->path().get(), nullptr);

  plat::setLogToFile(false);
  setParam("LogDir", dir_.c_str(), plat::ConfigParameter::kPreference);
  EXPECT_EQ(file->path().get(), nullptr);
  EXPECT_FALSE(file->ready());
  unsetenv("YARL_LOGTEST_DIR");
}

// ---- Colours ----

TEST_F(LogDestFileTest, ColourTerminalsGetLinesColouredByLevel) {
  int master = -1, slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  termios raw;
  tcgetattr(slave, &raw);
  cfmakeraw(&raw);
  tcsetattr(slave, TCSANOW, &raw);
  const char* term = getenv("TERM");
  std::string savedTerm = term ? term : "";
  setenv("TERM", "xterm-256color", 1);
  {
    plat::LogDestFile dest(nullptr, "prog", fdopen(slave, "w"), true);
    EXPECT_TRUE(dest.isColour());
    const std::pair<int, const char*> cases[] = {{0, "31;1"}, {5, "31;1"}, {6, "31"}, {10, "31"},
                                                 {11, "36"},  {30, "36"},  {31, "0"}, {100, "0"}};
    for (const auto& [level, colour] : cases) {
      dest.write(level, "Src", "tinted");
      std::string expected = std::string("\033[") + colour + "m" +
                             line(level < 6    ? (level == 0 ? 11 : 12)
                                  : level < 11 ? 13
                                  : level < 31 ? 14
                                               : 15,
                                  "Src", "tinted") +
                             "\033[0m";
      std::string got(expected.size(), '\0');
      size_t have = 0;
      while (have < got.size()) {
        ssize_t n = read(master, got.data() + have, got.size() - have);
        if (n <= 0) break;
        have += static_cast<size_t>(n);
      }
      EXPECT_EQ(got, expected) << level;
    }
  }
  if (term) {
    setenv("TERM", savedTerm.c_str(), 1);
  } else {
    unsetenv("TERM");
  }
  close(master);
}

}  // namespace
