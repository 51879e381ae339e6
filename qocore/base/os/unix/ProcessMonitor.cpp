#include "qocore/base/os/unix/ProcessMonitor.h"

#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "qocore/base/io/FdManager.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Time.h"

namespace os {

namespace {

PLAT_LOG_SOURCE(vlog, "ProcessMonitor");

void pollSleep(int ms) {
  // An interrupting signal only ends this pause early; the caller looks
  // again and sleeps for what is left.
  plat::pollMs(nullptr, 0, &ms, false);
}

constinit std::atomic<PidCleanup::SleepFn> sleepFn{&pollSleep};

// Logs how a child ended; a clean exit with 0 is not worth a line.
void logExit(pid_t pid, const char* name, int status) {
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return;
  char value[16];
  const char* how = "status";
  const char* text = value;
  if (WIFSIGNALED(status)) {
    how = "signal";
    text = signalName(WTERMSIG(status));
    if (!text) {
      std::snprintf(value, sizeof value, "%d", WTERMSIG(status));
      text = value;
    }
  } else {
    std::snprintf(value, sizeof value, "%d", WIFEXITED(status) ? WEXITSTATUS(status) : status);
  }
  vlog().debug("child %lu (%s) exited with %s %s", static_cast<unsigned long>(pid), name, how, text);
}

pid_t waitpidRetrying(pid_t pid, int* status, int options) {
  pid_t rv;
  do {
    rv = ::waitpid(pid, status, options);
  } while (rv < 0 && errno == EINTR);
  return rv;
}

// Collects the children that nobody waits for.
class PidManager : public SignalHandler::Callback {
 public:
  static PidManager& instance() {
    // Never destroyed: it stays registered for SIGCHLD until the end.
    static PidManager* inst = new PidManager;
    return *inst;
  }

  void add(pid_t pid) {
    // SIGCHLD reaches the reaper through the caller's loop, also when the
    // loop it registered on first has gone since.
    SignalHandler::instance().addCallback(SIGCHLD, this, false);
    SignalHandler::instance().addCallback(SIGCHLD, this, true);
    pids_.push_back(pid);
    reap();
  }

  void handleSignal(int /*sig*/) override { reap(); }

 private:
  PidManager() { SignalHandler::instance().addCallback(SIGCHLD, this, true); }

  void reap() {
    std::erase_if(pids_, [](pid_t pid) {
      int status = 0;
      pid_t rv = waitpidRetrying(pid, &status, WNOHANG);
      if (rv == 0) return false;
      if (rv < 0) {
        plat::SystemException e("waitpid", errno);
        vlog().error("waitpid(%lu) detached: %s", static_cast<unsigned long>(pid), e.str());
        return true;
      }
      logExit(pid, "<detached>", status);
      return true;
    });
  }

  std::vector<pid_t> pids_;
};

}  // namespace

int exitCodeFromStatus(int status) noexcept {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return -WTERMSIG(status);
  return -1;
}

PidCleanup::~PidCleanup() {
  if (pid_ < 0) return;
  try {
    int status;
    (void)wait(status, 0);
  } catch (const plat::Exception& e) {
    vlog().error("~PidCleanup: %s", e.str());
  }
}

void PidCleanup::set(pid_t pid, const char* name) {
  pid_ = pid;
  name_ = plat::CharArray(name);
}

pid_t PidCleanup::release() noexcept {
  pid_t pid = pid_;
  pid_ = -1;
  return pid;
}

bool PidCleanup::wait(int& status, int options) {
  if (pid_ < 0) return false;
  pid_t rv = waitpidRetrying(pid_, &status, options);
  if (rv == 0) return false;
  pid_t pid = release();
  if (rv < 0) throw plat::SystemException("waitpid", errno);
  logExit(pid, name_ ? name_.get() : "<unknown>", status);
  return true;
}

bool PidCleanup::waitWithTimeout(int& status, int timeoutMs) {
  // The reaper's SIGCHLD registration makes a child's exit interrupt the
  // pause below.
  if (io::FdManager::current()) PidManager::instance();
  if (timeoutMs == 0) return wait(status, WNOHANG);
  if (timeoutMs < 0) return wait(status, 0);
  int interval = std::max(std::min(timeoutMs / 10, 1000), 50);
  plat::TimeValue deadline = plat::getMonotonicTime() + plat::TimeValue(timeoutMs) * plat::kTicksPerMs;
  for (;;) {
    if (wait(status, WNOHANG)) return true;
    plat::TimeValue left = deadline - plat::getMonotonicTime();
    if (left <= 0) return false;
    // Whole milliseconds, rounded up.
    int remaining = static_cast<int>((left + plat::kTicksPerMs - 1) / plat::kTicksPerMs);
    sleepFn.load(std::memory_order_relaxed)(std::min(remaining, interval));
  }
}

PidCleanup::SleepFn PidCleanup::setSleepForTest(SleepFn fn) noexcept {
  return sleepFn.exchange(fn ? fn : &pollSleep, std::memory_order_relaxed);
}

ProcessMonitor::ProcessMonitor(pid_t pid, Callback* callback, const char* name)
    : cleanup_(pid, name), callback_(callback), timer_(this) {
  SignalHandler::instance().addCallback(SIGCHLD, this, true);
  timer_.start(0);
}

ProcessMonitor::~ProcessMonitor() {
  SignalHandler::instance().addCallback(SIGCHLD, this, false);
  timer_.cancel();
}

void ProcessMonitor::kill(int sig) {
  if (cleanup_.pid() < 0) return;
  try {
    sendSignal(cleanup_.pid(), sig);
  } catch (const plat::Exception& e) {
    vlog().error("%s", e.str());
    callback_ = nullptr;
    addChildToReap(cleanup_.release());
  }
}

void ProcessMonitor::release() {
  callback_ = nullptr;
  pid_t pid = cleanup_.release();
  if (pid >= 0) addChildToReap(pid);
}

void ProcessMonitor::handleSignal(int /*sig*/) { check(); }

bool ProcessMonitor::timerExpired(plat::Timer* /*timer*/) {
  check();
  return false;
}

void ProcessMonitor::check() {
  try {
    int status = 0;
    if (cleanup_.wait(status, WNOHANG) && callback_) callback_->processExited(this, exitCodeFromStatus(status));
  } catch (const plat::Exception& e) {
    vlog().error("%s", e.str());
  }
}

void addChildToReap(pid_t pid) {
  if (!io::FdManager::current()) return;
  PidManager::instance().add(pid);
}

}  // namespace os
