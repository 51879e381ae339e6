#include "qocore/base/os/unix/LaunchProcess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "qocore/base/io/FdIo.h"
#include "qocore/base/os/ExecutablePath.h"
#include "qocore/base/os/LaunchWithPipe.h"
#include "qocore/base/os/SocketUtil.h"
#include "qocore/base/os/unix/SignalHandler.h"
#include "qocore/base/plat/CommandLine.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/File.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Path.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/rdr/MemOutStream.h"

extern char** environ;

namespace os {

namespace {

PLAT_LOG_SOURCE(vlog, "LaunchProcess");

// The longest text a child's error report carries.
constexpr int kMaxReportText = 255;
// The exec failure's text is cut here.
constexpr int kMaxExecText = 128;
// The descriptor limit counted when the kernel cannot close a range.
constexpr long kMinFdScan = 10240;
constexpr long kMaxFdScan = 100000;

bool isAbsolutePath(const plat::CharArray& path) { return plat::isAbsolutePath(path.get()); }

bool isExecutableFile(const char* path) {
  struct stat info {};
  return ::stat(path, &info) == 0 && S_ISREG(info.st_mode) && ::access(path, X_OK) == 0;
}

// In a child before exec: sends errno and a text to the parent, then
// ends.  Async-signal-safe.
[[noreturn]] void reportAndExit(int pipeFd, int error, const char* text) noexcept {
  unsigned char report[5 + kMaxReportText];
  size_t len = ::strnlen(text, kMaxReportText);
  report[0] = static_cast<unsigned char>(uint32_t(error) >> 24);
  report[1] = static_cast<unsigned char>(uint32_t(error) >> 16);
  report[2] = static_cast<unsigned char>(uint32_t(error) >> 8);
  report[3] = static_cast<unsigned char>(error);
  report[4] = static_cast<unsigned char>(len);
  std::memcpy(report + 5, text, len);
  size_t done = 0;
  while (done < 5 + len) {
    ssize_t n = ::write(pipeFd, report + done, 5 + len - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::_exit(1);
}

// Everything the child needs, built before the fork.
struct ChildPlan {
  struct Dup {
    int from;
    int to;
  };
  std::vector<char*> argv;
  std::vector<char*> envp;
  std::vector<Dup> dups;
  std::vector<int> closeFirst;
  std::set<int> keepOpen;
  // Above every descriptor the plan names.
  int firstFree = 3;
  // Not the number of any target.
  int errorPipe = -1;
  int closeFrom = -1;
  char execText[kMaxExecText + 1] = {};
  SignalHandler::ForkBlock* block = nullptr;
  LaunchProcess::PreExecHook* hook = nullptr;
  LaunchProcess* process = nullptr;
};

// The child's side of the launch: from the fork to exec.  Allocates
// nothing and takes no lock.
[[noreturn]] void runChild(ChildPlan& plan) noexcept {
  plan.block->resetInChild();
  plan.block->restore();
  for (int fd : plan.closeFirst) ::close(fd);
  // A source that another entry's target would overwrite moves out of
  // the way first.
  for (ChildPlan::Dup& d : plan.dups) {
    for (const ChildPlan::Dup& other : plan.dups) {
      if (&other == &d || d.from != other.to) continue;
      int moved = ::fcntl(d.from, F_DUPFD_CLOEXEC, plan.firstFree);
      if (moved < 0) reportAndExit(plan.errorPipe, errno, "fcntl");
      d.from = moved;
      break;
    }
  }
  for (const ChildPlan::Dup& d : plan.dups) {
    if (d.from != d.to) {
      int rv;
      do {
        rv = ::dup2(d.from, d.to);
      } while (rv < 0 && (errno == EINTR || errno == EBUSY));
      if (rv < 0) reportAndExit(plan.errorPipe, errno, "dup2");
    }
    if (::fcntl(d.to, F_SETFD, 0) != 0) reportAndExit(plan.errorPipe, errno, "fcntl");
  }
  if (plan.closeFrom >= 0) closeFdsExcept(plan.closeFrom, plan.keepOpen);
  if (plan.hook) plan.hook->preExec(*plan.process);
  if (plan.argv.size() <= 1) ::_exit(0);
  resetChildProcessState(true);
  ::execve(plan.argv[0], plan.argv.data(), plan.envp.data());
  reportAndExit(plan.errorPipe, errno, plan.execText);
}

// Reads the child's error report; true with error and text when there was
// one.
bool readReport(int fd, int& error, plat::DString& text) {
  unsigned char buf[5 + kMaxReportText];
  size_t got = 0;
  for (;;) {
    ssize_t n = ::read(fd, buf + got, sizeof buf - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      plat::SystemException e("read", errno);
      vlog().error("Reading the launched child's report: %s", e.str());
      return false;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
    if (got == sizeof buf) break;
  }
  if (got == 0) return false;
  if (got < 5) {
    vlog().error("Short report from the launched child (%zu bytes)", got);
    return false;
  }
  error = static_cast<int>(uint32_t(buf[0]) << 24 | uint32_t(buf[1]) << 16 | uint32_t(buf[2]) << 8 | buf[3]);
  size_t len = std::min<size_t>(buf[4], got - 5);
  text.assign(reinterpret_cast<const char*>(buf + 5), static_cast<int>(len));
  return true;
}

}  // namespace

LaunchProcess::LaunchProcess(const LaunchConfig& cfg) : cfg_(cfg) {}

LaunchProcess::~LaunchProcess() {
  if (cfg_.dl == 1 && child_.pid() >= 0) addChildToReap(child_.release());
  childDup_.clear();
}

bool LaunchProcess::launch() {
  PLAT_ASSERT_TEXT(!used_, "!used");
  used_ = true;

  if (!cfg_.args.empty()) {
    if (cfg_.searchPath) {
      plat::CharArray found = findInPath(cfg_.args[0].get(), true);
      if (!found) throw plat::SystemExceptionFmt("%s does not exist or is not executable", ENOENT, cfg_.args[0].get());
      cfg_.args[0] = std::move(found);
    }
    PLAT_ASSERT_TEXT(isAbsolutePath(cfg_.args[0]), "isAbsolutePath(cfg.args[0])");
  }
  if (::geteuid() != 0) PLAT_ASSERT_TEXT(!cfg_.requireElevation(), "!cfg.requireElevation()");
  if (cfg_.runAsUid != 0) {
    PLAT_ASSERT(getuid() == 0 && geteuid() == 0);
    const char* self = getExecutablePath();
    if (!self) throw plat::SystemException("getExecutablePath", ENOENT);
    plat::CharArrayList args;
    args.emplace_back(self);
    args.emplace_back("-setuidhelper");
    args.push_back(plat::DString::format("%u", cfg_.runAsUid));
    for (plat::CharArray& a : cfg_.args) args.push_back(std::move(a));
    cfg_.args = std::move(args);
  }

  if (vlog().enabled(plat::LogSrc::kDebug)) {
    plat::DString line;
    for (const plat::CharArray& a : cfg_.args) {
      if (!line.empty()) line.append(" ");
      plat::appendQuotedArg(line, a.get());
    }
    vlog().debug("Launching %s", cfg_.args.empty() ? "(fork)" : line.c_str());
  }

  // The environment.
  plat::CharArrayList envText;
  if (!cfg_.cleanEnvironment) {
    for (char** e = environ; e && *e; ++e) {
      const char* eq = std::strchr(*e, '=');
      plat::CharArray name(*e, eq ? static_cast<int>(eq - *e) : -1);
      if (cfg_.env.count(name)) continue;
      bool unset = std::any_of(cfg_.unset.begin(), cfg_.unset.end(),
                               [&](const plat::CharArray& u) { return plat::strCompare(u.get(), name.get()) == 0; });
      if (!unset) envText.emplace_back(*e);
    }
  }
  for (const auto& [name, value] : cfg_.env) envText.push_back(plat::DString::format("%s=%s", name.get(), value.get()));

  // Standard descriptors the launch does not name read and write nothing.
  for (int fd = 0; fd <= 2; ++fd) {
    if (childDup_.count(fd)) continue;
    int flags = fd == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC;
    redirect(fd, plat::fileOpenFd("/dev/null", flags, 0600));
  }

  int errorPipe[2];
  pipeCloexec(errorPipe);
  plat::UniqueFd errorRead(errorPipe[0]), errorWrite(errorPipe[1]);
  // The child writes its report here after the redirections: no target
  // may take its number.
  int highest = errorWrite.get();
  for (const auto& [to, from] : childDup_) highest = std::max({highest, to, from.get()});
  for (int fd : closeInChild_) highest = std::max(highest, fd);
  if (childDup_.count(errorWrite.get())) {
    int moved = ::fcntl(errorWrite.get(), F_DUPFD_CLOEXEC, highest + 1);
    if (moved < 0) throw plat::SystemException("fcntl", errno);
    errorWrite.reset(moved);
    highest = moved;
  }

  ChildPlan plan;
  for (const plat::CharArray& a : cfg_.args) plan.argv.push_back(a.get());
  plan.argv.push_back(nullptr);
  for (const plat::CharArray& e : envText) plan.envp.push_back(e.get());
  plan.envp.push_back(nullptr);
  for (const auto& [to, from] : childDup_) {
    plan.dups.push_back({from.get(), to});
    plan.keepOpen.insert(to);
  }
  plan.closeFirst.assign(closeInChild_.begin(), closeInChild_.end());
  // The error pipe stays open until exec closes it.
  plan.keepOpen.insert(errorWrite.get());
  plan.firstFree = highest + 1;
  plan.errorPipe = errorWrite.get();
  plan.closeFrom = cfg_.closeFrom;
  if (!cfg_.args.empty()) std::snprintf(plan.execText, sizeof plan.execText, "execve(%s)", cfg_.args[0].get());
  SignalHandler::ForkBlock block;
  plan.block = &block;
  plan.hook = hook_;
  plan.process = this;

  block.block();
  pid_t pid = -1;
  {
    plat::ScopeExit unblock([&] { block.restore(); });
    if (cfg_.dl == 2) {
      if (daemonize(errorWrite.get())) runChild(plan);
    } else {
      pid = ::fork();
      if (pid < 0) throw plat::SystemException("fork", errno);
      if (pid == 0) runChild(plan);
    }
  }

  errorWrite.reset();
  childDup_.clear();
  closeInChild_.clear();
  if (pid > 0) child_.set(pid, cfg_.args.empty() ? "<forked>" : cfg_.args[0].get());

  int error = 0;
  plat::DString text;
  if (readReport(errorRead.get(), error, text)) {
    // The child ends right after its report: collect it.
    int status;
    try {
      (void)child_.wait(status, 0);
    } catch (const plat::Exception& e) {
      vlog().error("%s", e.str());
    }
    throw plat::SystemException(text.c_str(), error);
  }
  return true;
}

LaunchedIo LaunchProcess::launchWithSocketPair() {
  plat::UniqueFd parentEnd = socketPairForChildren(cfg_.childDescriptors);
  launch();
  // The connection owns the descriptor from its first step on.
  int fd = parentEnd.release();
  return LaunchedIo(new io::FdIo(fd, true, false, -1, -1, fd >= 0), false, false);
}

void LaunchProcess::redirect(int childFd, int parentFd) {
  plat::UniqueFd& slot = childDup_[childFd];
  if (slot.get() != parentFd) slot.reset(parentFd);
}

void LaunchProcess::redirectDup2(int fromChild, int toChild) {
  auto i = childDup_.find(fromChild);
  PLAT_ASSERT_TEXT(i != childDup_.end(), "i != childDup.end()", "redirectDup2: fd %d not redirected", fromChild);
  int copy = ::fcntl(i->second.get(), F_DUPFD_CLOEXEC, 0);
  if (copy < 0) throw plat::SystemException("dup", errno);
  redirect(toChild, copy);
}

int LaunchProcess::pipeForChild(bool parentWrites, int& childFd) {
  int fds[2];
  pipeCloexec(fds);
  int parentEnd = parentWrites ? fds[1] : fds[0];
  int childEnd = parentWrites ? fds[0] : fds[1];
  if (childFd < 0) childFd = childEnd;
  redirect(childFd, childEnd);
  closeInChild_.insert(parentEnd);
  return parentEnd;
}

int LaunchProcess::socketPairForChild(int& childFd) {
  int sv[2];
  socketPairCloexec(sv);
  if (childFd < 0) childFd = sv[1];
  redirect(childFd, sv[1]);
  closeInChild_.insert(sv[0]);
  return sv[0];
}

plat::UniqueFd LaunchProcess::socketPairForChildren(const std::vector<int32_t>& childFds) {
  if (childFds.empty()) return plat::UniqueFd();
  int first = childFds[0];
  plat::UniqueFd parentEnd(socketPairForChild(first));
  for (size_t i = 1; i < childFds.size(); ++i) redirectDup2(first, childFds[i]);
  return parentEnd;
}

int LaunchProcess::redirectToFile(bool input, int childFd, const char* path, bool append) {
  int flags = input ? O_RDONLY : O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC);
  int fd = plat::fileOpenFd(path, flags, 0600);
  redirect(childFd, fd);
  return fd;
}

void LaunchProcess::redirectOutputToFile(const char* path, bool append) {
  (void)redirectToFile(false, 1, path, append);
  redirectDup2(1, 2);
}

rdr::FdInStreamOwn LaunchProcess::launchCapturingOutput() {
  redirect(2, plat::fileOpenFd("/dev/null", O_WRONLY | O_CREAT | O_TRUNC, 0600));
  int childFd = 1;
  rdr::FdInStreamOwn stream(pipeForChild(false, childFd));
  setBlocking(stream.fd(), false);
  launch();
  return stream;
}

plat::CharArray LaunchProcess::runAndCapture(int& exitCode, int timeoutMs) {
  rdr::FdInStreamOwn in = launchCapturingOutput();
  rdr::MemOutStream out;
  // The stream waits for data, so the copy ends only with the output.
  (void)LaunchWithPipe::writeAll(in, out, true);
  if (!waitForExit(exitCode, timeoutMs)) throw plat::TimedOut("Timed out waiting for process to exit");
  return out.takeString();
}

bool LaunchProcess::waitForExit(int& exitCode, int timeoutMs) {
  if (child_.pid() < 0) throw plat::Exception("LaunchProcess: process detached or not started");
  int status = 0;
  if (!child_.waitWithTimeout(status, timeoutMs)) return false;
  exitCode = exitCodeFromStatus(status);
  return true;
}

std::unique_ptr<ProcessMonitor> LaunchProcess::detach(ProcessMonitor::Callback* callback) {
  if (child_.pid() < 0) throw plat::Exception("LaunchProcess: process detached or not started");
  cfg_.dl = 2;
  const char* name = cfg_.args.empty() ? "<forked>" : cfg_.args[0].get();
  return std::make_unique<ProcessMonitor>(child_.release(), callback, name);
}

void LaunchProcess::setDetachLevel(int dl) {
  PLAT_ASSERT_TEXT(dl >= cfg_.dl, "dl >= cfg.dl");
  cfg_.dl = dl;
  if (dl == 2 && child_.pid() >= 0) addChildToReap(child_.release());
}

int LaunchProcess::runAndWait(const plat::CharArrayList& args) {
  LaunchConfig cfg;
  cfg.args = args;
  LaunchProcess process(cfg);
  process.redirect(1, dupCloexec(1));
  process.launch();
  int exitCode = -1;
  (void)process.waitForExit(exitCode, -1);
  return exitCode;
}

plat::UniqueFd LaunchProcess::launchWithInputPipe(const plat::CharArrayList& args) {
  LaunchConfig cfg;
  cfg.args = args;
  cfg.dl = 2;
  cfg.closeFrom = -1;
  cfg.searchPath = false;
  LaunchProcess process(cfg);
  int childFd = 0;
  plat::UniqueFd writeEnd(process.pipeForChild(true, childFd));
  process.launch();
  return writeEnd;
}

bool LaunchProcess::daemonize(int statusPipe) {
  pid_t pid = ::fork();
  if (pid < 0) throw plat::SystemException("fork", errno);
  if (pid == 0) {
    ::setsid();
    pid_t second = ::fork();
    if (second < 0) {
      int error = errno;
      if (statusPipe >= 0) reportAndExit(statusPipe, error, "fork");
      std::fprintf(stderr, "fork error %s\n", std::strerror(error));
      ::_exit(1);
    }
    if (second > 0) ::_exit(0);
    return true;
  }
  int status;
  pid_t rv;
  do {
    rv = ::waitpid(pid, &status, 0);
  } while (rv < 0 && errno == EINTR);
  PLAT_ASSERT(rv > 0);
  return false;
}

ChildPipeIn::ChildPipeIn(LaunchProcess& process) : stream(process.pipeForChild(false, childFd)) {}

// ---- Descriptors ----

void closeFdsFrom(int minFd) noexcept {
  if (minFd >= 0) ::close(minFd);
  unsigned first = static_cast<unsigned>(std::max(minFd, 1));
  if (::close_range(first, ~0u, 0) == 0) return;
  long limit = ::sysconf(_SC_OPEN_MAX);
  limit = std::clamp(limit, kMinFdScan, kMaxFdScan);
  for (long fd = first; fd < limit; ++fd) ::close(static_cast<int>(fd));
}

void closeFdsExcept(int minFd, const std::set<int>& keep) noexcept {
  int next = minFd;
  for (int kept : keep) {
    if (kept < next) continue;
    for (int fd = next; fd < kept; ++fd) ::close(fd);
    next = kept + 1;
  }
  closeFdsFrom(next);
}

void ensureStdioOpen() {
  plat::UniqueFd devNull;
  // A /dev/null that took a standard number stays; any other is closed.
  plat::ScopeExit keepStandard([&] {
    if (devNull.valid() && devNull.get() <= 2) (void)devNull.release();
  });
  for (int fd = 0; fd <= 2; ++fd) {
    struct stat info {};
    if (::fstat(fd, &info) == 0 || errno != EBADF) continue;
    if (!devNull) devNull.reset(plat::fileOpenFd("/dev/null", O_RDWR));
    if (devNull.get() != fd) dup2Checked(devNull.get(), fd);
    setInheritable(fd, true);
  }
}

// ---- Accounts ----

void lookupUser(UserInfo& result, bool byName, const char* name, uid_t uid) {
  const char* call = byName ? "getpwnam" : "getpwuid";
  char uidText[16];
  std::snprintf(uidText, sizeof uidText, "%u", static_cast<unsigned>(uid));
  const char* what = byName ? name : uidText;
  if (byName && !name) throw plat::SystemExceptionFmt("%s(%s): null name", EINVAL, call, "<null>");
  // Account records are short; a buffer past this is not worth trying.
  constexpr size_t kMaxBuffer = size_t(1) << 20;
  for (size_t size = 1024;; size *= 2) {
    result.storage.assign(size, '\0');
    passwd* found = nullptr;
    int rc = byName ? ::getpwnam_r(name, &result.entry, result.storage.data(), size, &found)
                    : ::getpwuid_r(uid, &result.entry, result.storage.data(), size, &found);
    if (rc == ERANGE && size < kMaxBuffer) continue;
    if (rc != 0) throw plat::SystemExceptionFmt("%s(%s)", rc, call, what);
    if (!found) throw plat::SystemExceptionFmt("%s(%s): account not found", ENOENT, call, what);
    return;
  }
}

void lookupUser(UserInfo& result, uid_t uid) { lookupUser(result, false, nullptr, uid); }

const char* getUserName(UserInfo& result, uid_t uid, const char* defaultName) {
  try {
    lookupUser(result, uid);
    return result.entry.pw_name;
  } catch (const plat::Exception&) {
    return defaultName;
  }
}

// ---- Programs ----

plat::CharArray findInPath(const char* name, bool searchPath) {
  if (std::strchr(name, '/')) return isExecutableFile(name) ? plat::absolutePath(name) : plat::CharArray();
  if (!searchPath) return plat::CharArray();
  const char* path = std::getenv("PATH");
  if (!path) return plat::CharArray();
  plat::CharArray copy(path);
  char* cursor = copy.get();
  while (char* element = plat::strNextToken(&cursor, ':')) {
    if (element[0] == '~') throw plat::Exception("PATH contains invalid '~' character");
    plat::CharArray candidate = plat::DString::format("%s/%s", element, name);
    struct stat info {};
    if (::stat(candidate.get(), &info) != 0) continue;
    return isExecutableFile(candidate.get()) ? plat::absolutePath(candidate.get()) : plat::CharArray();
  }
  return plat::CharArray();
}

plat::CharArray getModuleRelativePath(const char* name, bool mustExist, bool searchPath) {
  plat::CharArray result;
  if (!name) {
    result = plat::CharArray(getExecutablePath());
  } else if (!plat::isAbsolutePath(name)) {
    plat::CharArray dir = getExecutableDir();
    if (dir) {
      plat::CharArray candidate = plat::DString::format("%s/%s", dir.get(), name);
      if (isExecutableFile(candidate.get())) result = std::move(candidate);
    }
    if (!result) result = findInPath(name, searchPath);
  } else {
    result = findInPath(name, searchPath);
  }
  if (!result && mustExist)
    throw plat::SystemExceptionFmt("%s does not exist or is not executable", ENOENT, name ? name : "<null>");
  return result;
}

}  // namespace os
