#pragma once
// Starting child programs: os::LaunchProcess forks and execs one child
// described by an os::LaunchConfig, with descriptor redirection, the
// environment, errors reported by the child before exec, waiting and
// detaching; and the helpers a launch needs (closing descriptors, account
// lookup, the PATH search).
//
// Everything the child needs between fork and exec is built before the
// fork: the program forks while other threads run (name resolution), so
// the child allocates nothing, takes no lock and lists no folder.  Signals
// that have handlers are blocked from before the fork until the child has
// reset its handlers and the parent has resumed.

#include <pwd.h>
#include <sys/types.h>

#include <map>
#include <memory>
#include <set>
#include <vector>

#include "qocore/base/os/LaunchConfig.h"
#include "qocore/base/os/unix/ProcessMonitor.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/UniqueFd.h"
#include "qocore/base/rdr/FdInStream.h"

namespace os {

class LaunchProcess {
 public:
  // Called in the child after the redirections, before exec.  Must be
  // async-signal-safe: allocate nothing.
  class PreExecHook {
   public:
    virtual void preExec(LaunchProcess& process) noexcept = 0;

   protected:
    ~PreExecHook() = default;
  };

  explicit LaunchProcess(const LaunchConfig& cfg);
  // Detach level 1 hands a running child to the reaper, level 0 waits for
  // it; the parent's redirection descriptors are closed.
  ~LaunchProcess();
  LaunchProcess(const LaunchProcess&) = delete;
  LaunchProcess& operator=(const LaunchProcess&) = delete;

  // Starts the child (once: the assertion "!used").  Throws SystemException
  // for "fork", a program not found in PATH ("%s does not exist or is not
  // executable", ENOENT) and every failure the child reports before exec,
  // with the child's errno (for example "execve(<path>)").
  bool launch();
  // A close-on-exec socket pair whose child end becomes the first listed
  // child descriptor (and each further one a copy of it); launches and
  // wraps the parent's end in an io::FdIo.  No listed descriptor: no io.
  LaunchedIo launchWithSocketPair();

  // The parent's parentFd becomes childFd in the child (replacing an
  // earlier redirection of childFd); the object owns parentFd from now on.
  void redirect(int childFd, int parentFd);
  // childFd toChild becomes a copy of what fromChild is redirected to.
  void redirectDup2(int fromChild, int toChild);
  // A close-on-exec pipe; the parent keeps the write end (parentWrites) or
  // the read end, which is closed in the child and owned by the caller.
  // The other end becomes childFd in the child; a negative childFd keeps
  // the end's own number, which is stored into childFd.
  [[nodiscard]] int pipeForChild(bool parentWrites, int& childFd);
  // The same with a Unix stream socket pair: the parent keeps the first.
  [[nodiscard]] int socketPairForChild(int& childFd);
  // The descriptors of launchWithSocketPair without the launch: the
  // parent's socket, or -1 for an empty list.
  plat::UniqueFd socketPairForChildren(const std::vector<int32_t>& childFds);
  // Opens path (read-only for input, else write-only, created 0600,
  // appended or truncated) as childFd of the child; returns the parent's
  // descriptor, which the object owns.
  int redirectToFile(bool input, int childFd, const char* path, bool append);
  // Standard output into path, standard error a copy of it.
  void redirectOutputToFile(const char* path, bool append);

  // The child's standard output as a stream (standard error goes to
  // /dev/null); launches.
  rdr::FdInStreamOwn launchCapturingOutput();
  // Everything the child writes to its standard output, NUL-terminated,
  // and its exit code.  Throws plat::TimedOut "Timed out waiting for
  // process to exit" when it outlives timeoutMs after closing its output.
  plat::CharArray runAndCapture(int& exitCode, int timeoutMs);

  // False while the child runs after timeoutMs (0: do not wait; negative:
  // wait without limit).  Throws plat::Exception "LaunchProcess: process
  // detached or not started" without a child.
  [[nodiscard]] bool waitForExit(int& exitCode, int timeoutMs);
  // Gives the child up to a monitor that reports its exit (same
  // exception); the detach level becomes 2.
  std::unique_ptr<ProcessMonitor> detach(ProcessMonitor::Callback* callback);
  // Raises the detach level (never lowers it: an assertion); at 2 a running
  // child is handed to the reaper at once.
  void setDetachLevel(int dl);

  void setPreExecHook(PreExecHook* hook) noexcept { hook_ = hook; }
  pid_t pid() const noexcept { return child_.pid(); }
  const LaunchConfig& config() const noexcept { return cfg_; }

  // Runs args with standard output shared with the caller's, waits and
  // answers the exit code.
  static int runAndWait(const plat::CharArrayList& args);
  // Starts args detached, its standard input reading from a new pipe
  // whose write end is returned, standard output and error to /dev/null.
  static plat::UniqueFd launchWithInputPipe(const plat::CharArrayList& args);
  // Detaches the calling process: fork, setsid, fork again.  The
  // grandchild answers true; the first process waits for the middle one
  // and answers false.  Throws "fork".  When the second fork fails the
  // middle process reports errno and "fork" on statusPipe (>= 0) or writes
  // "fork error <text>" to stderr, and exits with 1.
  static bool daemonize(int statusPipe);

 private:
  LaunchConfig cfg_;
  PreExecHook* hook_ = nullptr;
  // Child descriptor number -> the parent's descriptor that becomes it.
  std::map<int, plat::UniqueFd> childDup_;
  // The parent's descriptors that the child closes first.
  std::set<int> closeInChild_;
  PidCleanup child_;
  bool used_ = false;
};

// Reads the child's standard output: childFd (-1 at first) receives the
// number under which the child sees the pipe, and stream owns the parent's
// end.  Made before the launch.
struct ChildPipeIn {
  explicit ChildPipeIn(LaunchProcess& process);
  int childFd = -1;
  rdr::FdInStreamOwn stream;
};

// ---- Descriptors ----

// Closes every descriptor from minFd up (close_range; where the kernel
// lacks it, every number up to the descriptor limit).  Async-signal-safe.
void closeFdsFrom(int minFd) noexcept;
// Closes every descriptor from minFd up that is not in keep.
void closeFdsExcept(int minFd, const std::set<int>& keep) noexcept;
// Points each closed standard descriptor (0, 1, 2) at /dev/null,
// inheritable.  Throws "fileOpenFd(/dev/null)", "dup2" or "setInheritable".
void ensureStdioOpen();

// ---- Accounts ----

// An account record and the text it points into.
struct UserInfo {
  passwd entry{};
  std::vector<char> storage;
};
// getpwnam_r (byName) or getpwuid_r into result.  Throws SystemException
// "getpwnam(<name>): account not found", "getpwuid(<uid>): account not
// found", "getpwnam(<null>): null name" (EINVAL) or the system's error.
void lookupUser(UserInfo& result, bool byName, const char* name, uid_t uid);
void lookupUser(UserInfo& result, uid_t uid);
// The account name of uid (held by result), or defaultName.
const char* getUserName(UserInfo& result, uid_t uid, const char* defaultName);

// ---- Programs ----

// The absolute path of an executable regular file: a name with "/" as it
// is; otherwise, with searchPath, the first PATH element holding the name.
// Null when not found.  Throws plat::Exception "PATH contains invalid '~'
// character".
plat::CharArray findInPath(const char* name, bool searchPath);
// Null name: the running program.  A relative name is tried in the
// running program's folder, then through findInPath.  Nothing found with
// mustExist: SystemException "<name> does not exist or is not executable"
// (ENOENT).
plat::CharArray getModuleRelativePath(const char* name, bool mustExist, bool searchPath);

}  // namespace os
