#include "qocore/base/plat/ProcessId.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>

namespace plat {

namespace {

// 0 until read; constant-initialised, so a static initialiser of any file
// may ask before this file's own initialisers have run.
constinit std::atomic<pid_t> knownPid{0};

// Runs in the child after fork(): only the forking thread exists there, so
// a plain store is all it may do.
void forgetPid() noexcept { knownPid.store(0, std::memory_order_relaxed); }

}  // namespace

pid_t processId() noexcept {
  pid_t pid = knownPid.load(std::memory_order_relaxed);
  if (pid != 0) return pid;
  // The handler is in place before the id is kept, so no fork can copy a
  // kept id into a child that nothing will tell.  Registered on first use,
  // and once: a second registration would run the handler twice.  Without
  // it (the system refused) nothing is kept and every call asks.
  static const bool handled = pthread_atfork(nullptr, nullptr, &forgetPid) == 0;
  pid = getpid();
  if (handled) knownPid.store(pid, std::memory_order_relaxed);
  return pid;
}

}  // namespace plat
