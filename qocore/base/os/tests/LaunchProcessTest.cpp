#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "qocore/base/os/ExecutablePath.h"
#include "qocore/base/os/tests/ChildHelpers.h"
#include "qocore/base/os/unix/LaunchProcess.h"
#include "qocore/base/plat/Exception.h"
#include "testing/FailureOf.h"
#include "testing/FileFixtures.h"

namespace {

using yarl_test::failureOf;

plat::CharArrayList argList(std::initializer_list<const char*> args) {
  plat::CharArrayList out;
  for (const char* a : args) out.emplace_back(a);
  return out;
}

os::LaunchConfig configFor(std::initializer_list<const char*> args) {
  os::LaunchConfig cfg;
  cfg.args = argList(args);
  return cfg;
}

// What a descriptor of another process refers to, or "" when closed.
std::string fdTarget(pid_t pid, int fd) {
  std::error_code error;
  auto target = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd), error);
  return error ? "" : target.string();
}

// The open descriptor numbers of a process.
std::set<int> openFds(pid_t pid) {
  std::set<int> fds;
  std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    int fd = std::stoi(entry.path().filename().string());
    // Not the listing's own descriptor.
    if (pid != ::getpid() || fdTarget(pid, fd) != dir) fds.insert(fd);
  }
  return fds;
}

// Whether the process reached an interruptible sleep within 20 s.
bool waitUntilAsleep(pid_t pid) {
  for (int i = 0; i < 2000; ++i) {
    std::string stat = yarl_test::readFile("/proc/" + std::to_string(pid) + "/stat");
    size_t end = stat.rfind(')');
    if (end != std::string::npos && stat.compare(end, 4, ") S ") == 0) return true;
    ::usleep(10000);
  }
  return false;
}

// This process's descriptors from 3 up that a child would inherit (the
// test's own, and any the test runner left open).
std::set<int> inheritableFds() {
  std::set<int> fds;
  for (int fd : openFds(::getpid())) {
    int flags = ::fcntl(fd, F_GETFD);
    if (fd >= 3 && flags >= 0 && !(flags & FD_CLOEXEC)) fds.insert(fd);
  }
  return fds;
}

// Restores a variable of the test process's environment at the end.
class EnvRestore {
 public:
  explicit EnvRestore(const char* name) : name_(name) {
    const char* value = std::getenv(name);
    if (value) saved_ = value;
    had_ = value != nullptr;
  }
  ~EnvRestore() {
    if (had_)
      ::setenv(name_, saved_.c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::string saved_;
  bool had_ = false;
};

TEST(LaunchProcessTest, AMissingProgramFailsWithTheChildsErrno) {
  os::LaunchProcess process(configFor({"/nonexistent/prog", "-x"}));
  try {
    process.launch();
    ADD_FAILURE() << "launched";
  } catch (const plat::SystemException& e) {
    EXPECT_STREQ(e.str(), "execve(/nonexistent/prog): No such file or directory (2)");
    EXPECT_EQ(e.error(), ENOENT);
  }
  // The child that reported has been collected.
  int status;
  EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  // Looked up in PATH, a missing program fails before any fork.
  os::LaunchConfig cfg = configFor({"no-such-program-here"});
  cfg.searchPath = true;
  os::LaunchProcess searched(cfg);
  EXPECT_EQ(failureOf<plat::SystemException>([&] { searched.launch(); }),
            "no-such-program-here does not exist or is not executable: No such file or directory (2)");
}

TEST(LaunchProcessTest, ProgramsAreFoundThroughPathWhichMayNotHoldATilde) {
  yarl_test::TempDir tmp;
  std::string bin = tmp / "bin";
  std::filesystem::create_directory(bin);
  tmp.write("bin/yarl-probe", "#!/bin/sh\necho found \"$1\"\n", 0755);
  tmp.write("bin/not-executable", "text", 0644);
  EnvRestore restore("PATH");
  ::setenv("PATH", ("/nonexistent:" + bin + ":/usr/bin:/bin").c_str(), 1);

  os::LaunchConfig cfg = configFor({"yarl-probe", "it"});
  cfg.searchPath = true;
  os::LaunchProcess process(cfg);
  int exitCode = -1;
  EXPECT_STREQ(process.runAndCapture(exitCode, -1).get(), "found it\n");
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(process.config().args[0].c_str(), bin + "/yarl-probe");

  // The first element that has the name ends the search.
  EXPECT_TRUE(os::findInPath("not-executable", true).isNull());
  EXPECT_TRUE(os::findInPath("yarl-probe", false).isNull());
  EXPECT_STREQ(os::findInPath((bin + "/yarl-probe").c_str(), false).get(), (bin + "/yarl-probe").c_str());

  ::setenv("PATH", ("/usr/bin:~/bin:" + bin).c_str(), 1);
  EXPECT_EQ(failureOf<plat::Exception>([] { (void)os::findInPath("yarl-probe", true); }),
            "PATH contains invalid '~' character");
}

TEST(LaunchProcessTest, StandardDescriptorsAndTheCloseFromBound) {
  // An inheritable descriptor of the parent reaches the child unless the
  // launch closes from 3 up.
  plat::UniqueFd inheritable(::open("/dev/zero", O_RDONLY));
  ASSERT_TRUE(inheritable.valid());
  struct Case {
    int closeFrom;
    bool keepsExtra;
  };
  for (const Case& c : {Case{3, false}, Case{-1, true}}) {
    SCOPED_TRACE(c.closeFrom);
    os::LaunchConfig cfg = configFor({"/bin/sleep", "30"});
    cfg.closeFrom = c.closeFrom;
    os::LaunchProcess process(cfg);
    process.launch();
    pid_t pid = process.pid();
    std::set<int> expected{0, 1, 2};
    if (c.keepsExtra) expected.merge(inheritableFds());
    // Once asleep the program has finished starting (and let go of the
    // files it opens on the way).
    ASSERT_TRUE(waitUntilAsleep(pid));
    EXPECT_EQ(openFds(pid), expected);
    for (int fd = 0; fd <= 2; ++fd) EXPECT_EQ(fdTarget(pid, fd), "/dev/null") << fd;
    os::sendSignal(pid, SIGKILL);
    int exitCode = 0;
    EXPECT_TRUE(process.waitForExit(exitCode, 5000));
    EXPECT_EQ(exitCode, -SIGKILL);
    EXPECT_EQ(failureOf<plat::Exception>([&] { (void)process.waitForExit(exitCode, 0); }),
              "LaunchProcess: process detached or not started");
  }
}

TEST(LaunchProcessTest, RedirectedDescriptorsCrossOver) {
  // Child 1 gets what the parent had as 2 and the reverse: each source is
  // another entry's target.
  yarl_test::TempDir tmp;
  std::string out = tmp / "out", err = tmp / "err";
  os::LaunchProcess process(configFor({"/bin/sh", "-c", "echo to-out; echo to-err >&2; echo on-5 >&5"}));
  (void)process.redirectToFile(false, 2, out.c_str(), false);
  (void)process.redirectToFile(false, 1, err.c_str(), false);
  process.redirectDup2(1, 5);
  process.launch();
  int exitCode = -1;
  EXPECT_TRUE(process.waitForExit(exitCode, -1));
  EXPECT_EQ(yarl_test::readFile(out), "to-err\n");
  EXPECT_EQ(yarl_test::readFile(err), "to-out\non-5\n");
}

TEST(LaunchProcessTest, EnvironmentSetUnsetAndClean) {
  EnvRestore restore("YARL_LAUNCH_TEST");
  ::setenv("YARL_LAUNCH_TEST", "parent", 1);
  struct Case {
    const char* name;
    bool clean;
    std::vector<const char*> unset;
    std::vector<std::pair<const char*, const char*>> env;
    const char* script;
    const char* expected;
  };
  const Case cases[] = {
      {"inherited", false, {}, {}, "echo \"[$YARL_LAUNCH_TEST]\"", "[parent]\n"},
      {"unset", false, {"YARL_LAUNCH_TEST"}, {}, "echo \"${YARL_LAUNCH_TEST-unset}\"", "unset\n"},
      {"replaced", false, {}, {{"YARL_LAUNCH_TEST", "child"}}, "echo \"[$YARL_LAUNCH_TEST]\"", "[child]\n"},
      {"clean", true, {}, {{"ONLY", "this"}}, "/usr/bin/env", "ONLY=this\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    os::LaunchConfig cfg = configFor({"/bin/sh", "-c", c.script});
    if (c.clean) cfg.args = argList({"/usr/bin/env"});
    cfg.cleanEnvironment = c.clean;
    for (const char* name : c.unset) cfg.unset.emplace_back(name);
    for (const auto& [name, value] : c.env) cfg.env[plat::CharArray(name)] = plat::CharArray(value);
    os::LaunchProcess process(cfg);
    int exitCode = -1;
    EXPECT_STREQ(process.runAndCapture(exitCode, -1).get(), c.expected);
    EXPECT_EQ(exitCode, 0);
  }
}

TEST(LaunchProcessTest, RunAsAnotherUserThroughTheSetuidHelper) {
  ASSERT_EQ(::geteuid(), 0u) << "run-as needs root";
  yarl_test::User nobody = yarl_test::nobody();
  os::LaunchConfig cfg = configFor({"/bin/sh", "-c", "id -u; id -g; id -G"});
  cfg.runAsUid = nobody.uid;
  os::LaunchProcess process(cfg);
  int exitCode = -1;
  std::string id = std::to_string(nobody.uid), gid = std::to_string(nobody.gid);
  EXPECT_EQ(std::string(process.runAndCapture(exitCode, -1).c_str()), id + "\n" + gid + "\n" + gid + "\n");
  EXPECT_EQ(exitCode, 0);
  ASSERT_EQ(process.config().args.size(), 6u);
  EXPECT_STREQ(process.config().args[0].get(), os::getExecutablePath());
  EXPECT_STREQ(process.config().args[1].get(), "-setuidhelper");
  EXPECT_EQ(process.config().args[2].c_str(), id);

  // The helper refuses a command it cannot run as that user.
  os::LaunchConfig missing = configFor({"/nonexistent/prog"});
  missing.runAsUid = nobody.uid;
  os::LaunchProcess failing(missing);
  EXPECT_STREQ(failing.runAndCapture(exitCode, -1).get(), "");
  EXPECT_EQ(exitCode, 127);
}

TEST(LaunchProcessTest, RunAndCapture) {
  os::LaunchProcess process(configFor({"/bin/sh", "-c", "echo one line; echo to-stderr >&2; exit 3"}));
  int exitCode = -1;
  EXPECT_STREQ(process.runAndCapture(exitCode, 5000).get(), "one line\n");
  EXPECT_EQ(exitCode, 3);

  // A child that closes its output but keeps running outlives the wait.
  os::LaunchProcess lingering(configFor({"/bin/sh", "-c", "echo done; exec >&-; exec sleep 30"}));
  EXPECT_EQ(failureOf<plat::TimedOut>([&] { (void)lingering.runAndCapture(exitCode, 100); }),
            "Timed out waiting for process to exit");
  os::sendSignal(lingering.pid(), SIGKILL);
}

TEST(LaunchProcessTest, ADetachedChildReadsTheInputPipe) {
  yarl_test::TempDir tmp;
  std::string out = tmp / "out";
  plat::UniqueFd input =
      os::LaunchProcess::launchWithInputPipe(argList({"/bin/sh", "-c", "cat > \"$0\"", out.c_str()}));
  ASSERT_TRUE(input.valid());
  ASSERT_EQ(::write(input.get(), "bytes\n", 6), 6);
  input.reset();
  for (int i = 0; i < 500 && yarl_test::readFile(out) != "bytes\n"; ++i) ::usleep(10000);
  EXPECT_EQ(yarl_test::readFile(out), "bytes\n");
}

TEST(LaunchProcessTest, DetachHandsTheChildToAMonitor) {
  io::FdSelectManager loop(false);
  struct Exits : os::ProcessMonitor::Callback {
    void processExited(os::ProcessMonitor*, int exitCode) override { codes.push_back(exitCode); }
    std::vector<int> codes;
  } exits;
  os::LaunchProcess process(configFor({"/bin/sh", "-c", "exit 9"}));
  process.launch();
  std::unique_ptr<os::ProcessMonitor> monitor = process.detach(&exits);
  EXPECT_EQ(process.config().dl, 2);
  ASSERT_TRUE(os_test::turnUntil(loop, [&] { return !exits.codes.empty(); }));
  EXPECT_EQ(exits.codes, std::vector<int>{9});
}

TEST(DescriptorHelpersTest, CloseFdsExceptKeepsTheListedOnes) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  plat::UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
  pid_t pid = ::fork();
  if (pid == 0) {
    // The report goes out through 7, one of the kept descriptors.
    if (writeEnd.get() != 7) ::dup2(writeEnd.get(), 7);
    for (int fd = 3; fd <= 12; ++fd)
      if (fd != 7) ::dup2(0, fd);
    os::closeFdsExcept(3, {5, 7});
    std::string open;
    for (int fd = 0; fd <= 12; ++fd)
      if (::fcntl(fd, F_GETFD) >= 0) open += std::to_string(fd) + " ";
    ssize_t ignored = ::write(7, open.data(), open.size());
    (void)ignored;
    ::_exit(0);
  }
  writeEnd.reset();
  EXPECT_EQ(os_test::readAll(readEnd.get()), "0 1 2 5 7 ");
  os_test::reap(pid);
}

TEST(DescriptorHelpersTest, EnsureStdioOpenFillsAClosedStandardDescriptor) {
  std::string result = yarl_test::inChild([] {
    ::close(1);
    std::set<int> before = openFds(::getpid());
    os::ensureStdioOpen();
    std::set<int> after = openFds(::getpid());
    std::string out = fdTarget(::getpid(), 1);
    out += ::fcntl(1, F_GETFD) == 0 ? " inheritable" : " close-on-exec";
    before.insert(1);
    if (after != before) out += " other descriptors changed";
    return out;
  });
  EXPECT_EQ(result, "/dev/null inheritable");
}

TEST(AccountsTest, LookupUser) {
  os::UserInfo info;
  os::lookupUser(info, true, "root", 0);
  EXPECT_EQ(info.entry.pw_uid, 0u);
  os::lookupUser(info, 0);
  EXPECT_STREQ(info.entry.pw_name, "root");

  // A uid no account has.
  const uid_t none = 3999999;
  EXPECT_EQ(failureOf<plat::SystemException>([&] { os::lookupUser(info, none); }),
            "getpwuid(3999999): account not found: No such file or directory (2)");
  EXPECT_EQ(failureOf<plat::SystemException>([&] { os::lookupUser(info, true, "no-such-user-here", 0); }),
            "getpwnam(no-such-user-here): account not found: No such file or directory (2)");
  EXPECT_EQ(failureOf<plat::SystemException>([&] { os::lookupUser(info, true, nullptr, 0); }),
            "getpwnam(<null>): null name: Invalid argument (22)");
  EXPECT_STREQ(os::getUserName(info, none, "fallback"), "fallback");
  EXPECT_STREQ(os::getUserName(info, 0, "fallback"), "root");
}

TEST(ExecutablePathTest, ALongPathIsReadWholeAndKept) {
  yarl_test::TempDir tmp;
  std::string link = tmp / "exe";
  std::string target = "/" + std::string(3000, 'd') + "/prog";
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  os::setExecutablePathSource(link.c_str());
  EXPECT_EQ(os::getExecutablePath(), target);
  // Read once: a changed link is not read again.
  ::unlink(link.c_str());
  ASSERT_EQ(::symlink("/elsewhere/prog", link.c_str()), 0);
  EXPECT_EQ(os::getExecutablePath(), target);
  EXPECT_EQ(os::getExecutableDir().c_str(), "/" + std::string(3000, 'd'));
  os::setExecutablePathSource(nullptr);
  EXPECT_EQ(os::getExecutablePath(), std::filesystem::read_symlink("/proc/self/exe").string());
}

}  // namespace
