#pragma once
// Helpers for the tests of signals, child monitoring and launching: forked
// children that the test controls, and a loop to turn.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <string>

#include "qocore/base/io/FdSelectManager.h"
#include "qocore/base/plat/UniqueFd.h"
#include "testing/Descriptors.h"
#include "testing/RunUntil.h"

namespace os_test {

// A forked child that waits until the test closes `release`, then exits
// with `code`.  The child only calls async-signal-safe functions.
struct HeldChild {
  explicit HeldChild(int code) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    pid = ::fork();
    if (pid == 0) {
      ::close(fds[1]);
      char byte;
      while (::read(fds[0], &byte, 1) < 0 && errno == EINTR) {
      }
      ::_exit(code);
    }
    ::close(fds[0]);
    release.reset(fds[1]);
  }
  // Lets the child exit.
  void letGo() { release.reset(); }

  pid_t pid = -1;
  plat::UniqueFd release;
};

// A child that has exited already (a zombie nobody has collected yet).
inline pid_t exitedChild(int code) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(code);
  siginfo_t info{};
  while (::waitid(P_PID, pid, &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
  }
  return pid;
}

// Collects a child the test itself started, if it is still there.
inline void reap(pid_t pid) {
  int status;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

// Everything a descriptor delivers until its end (SIGCHLD may interrupt
// the reads).
inline std::string readAll(int fd) { return yarl_test::readToEnd(fd); }

// Turns the loop until done() holds or about five seconds have passed.
inline bool turnUntil(io::FdSelectManager& loop, const std::function<bool()>& done) {
  return yarl_test::runUntil(loop, done, std::chrono::seconds(5));
}

}  // namespace os_test
