#pragma once
// Watching and reaping child processes.
//
// os::PidCleanup records one child and waits for it; os::ProcessMonitor
// tells its owner on the loop thread when that child exits (on SIGCHLD,
// and once from a 0 ms timer for a child that was gone before the monitor
// existed); os::addChildToReap hands a child nobody waits for to the
// process-wide reaper, which collects it on the next SIGCHLD.
//
// Exit codes everywhere: the exit status (0-255) of a normal exit, minus
// the signal number of a child killed by a signal, -1 otherwise.

#include <sys/types.h>

#include "qocore/base/os/unix/SignalHandler.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Timer.h"

namespace os {

// The exit code for a waitpid status.
int exitCodeFromStatus(int status) noexcept;

class PidCleanup {
 public:
  PidCleanup() = default;
  PidCleanup(pid_t pid, const char* name) : pid_(pid), name_(name) {}
  // Waits (blocking) for a child still recorded; a failure is logged as
  // "~PidCleanup: <text>".
  ~PidCleanup();
  PidCleanup(const PidCleanup&) = delete;
  PidCleanup& operator=(const PidCleanup&) = delete;

  void set(pid_t pid, const char* name);
  // Gives the child up without waiting; answers its id.
  pid_t release() noexcept;
  pid_t pid() const noexcept { return pid_; }
  const char* name() const noexcept { return name_.get(); }

  // waitpid with `options` (WNOHANG: do not wait), repeated after EINTR.
  // False without a child or while it runs.  When it has exited: forgets
  // it, logs the exit at debug level (not a clean exit with 0) and answers
  // true with the waitpid status.  A failing waitpid forgets the child and
  // throws SystemException "waitpid".
  [[nodiscard]] bool wait(int& status, int options);
  // Waits at most timeoutMs (0: one look; negative: without limit),
  // looking every min(timeoutMs / 10, 1000) ms but at least every 50 ms.
  // False when the child is still running at the end.
  [[nodiscard]] bool waitWithTimeout(int& status, int timeoutMs);

  // Test seam: the pause between two looks of waitWithTimeout (null
  // restores the real one, a poll without descriptors).  Returns the
  // previous one.
  using SleepFn = void (*)(int ms);
  static SleepFn setSleepForTest(SleepFn fn) noexcept;

 private:
  pid_t pid_ = -1;
  plat::CharArray name_;
};

class ProcessMonitor : public SignalHandler::Callback, public plat::Timer::Callback {
 public:
  class Callback {
   public:
    // The child has exited.  The monitor may be destroyed inside this call.
    virtual void processExited(ProcessMonitor* monitor, int exitCode) = 0;

   protected:
    ~Callback() = default;
  };

  // Starts watching pid on the calling (loop) thread.
  ProcessMonitor(pid_t pid, Callback* callback, const char* name);
  // Stops watching and then WAITS for a child that has not been reported:
  // an owner that does not want to block kills the child or detaches it
  // first.
  ~ProcessMonitor() override;
  ProcessMonitor(const ProcessMonitor&) = delete;
  ProcessMonitor& operator=(const ProcessMonitor&) = delete;

  // Sends sig to the child (nothing once it is gone).  A failure is logged;
  // the callback is then cleared and the child handed to the reaper.
  void kill(int sig);
  // No more reports; the child is still waited for.
  void clearCallback() noexcept { callback_ = nullptr; }
  // Gives the child up: no more reports, the process-wide reaper collects
  // it, and the destructor no longer waits for it (for a child that may
  // ignore the signal it was sent).
  void release();
  pid_t pid() const noexcept { return cleanup_.pid(); }

  void handleSignal(int sig) override;
  bool timerExpired(plat::Timer* timer) override;

 private:
  // Reports an exit; `this` may be gone afterwards.
  void check();

  PidCleanup cleanup_;
  Callback* callback_;
  plat::Timer timer_;
};

// Hands a child nobody waits for to the reaper.  Only on a thread with a
// descriptor loop (elsewhere nothing happens).
void addChildToReap(pid_t pid);

}  // namespace os
