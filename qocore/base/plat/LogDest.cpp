#include "qocore/base/plat/LogDest.h"

#include <strings.h>

#include "qocore/base/plat/LogSrc.h"

namespace plat {

constinit Mutex logRegistryMutex;

namespace {
constinit LogDest* firstDest PLAT_GUARDED_BY(logRegistryMutex) = nullptr;
constinit log_dest_hooks::IpcFn ipcHook = nullptr;
}  // namespace

namespace log_dest_hooks {
void setIpc(IpcFn fn) noexcept { ipcHook = fn; }
}  // namespace log_dest_hooks

LogDest::LogDest(const char* name) noexcept : name_(name) {
  if (!name_) return;
  MutexLock guard(logRegistryMutex);
  next_ = firstDest;
  firstDest = this;
}

LogDest::~LogDest() {
  {
    MutexLock guard(logRegistryMutex);
    for (LogDest** p = &firstDest; *p; p = &(*p)->next_) {
      if (*p == this) {
        *p = next_;
        break;
      }
    }
  }
  LogSrc::unbindDest(this);
}

void LogDest::setLevel(int level) {
  level_.store(level, std::memory_order_relaxed);
  recomputeLogLevels();
}

LogDest* LogDest::first() noexcept {
  MutexLock guard(logRegistryMutex);
  return firstDest;
}

LogDest* findLogDest(const char* name) noexcept {
  if (!name) return nullptr;
  {
    MutexLock guard(logRegistryMutex);
    for (LogDest* dest = firstDest; dest; dest = dest->next()) {
      if (strcasecmp(dest->name(), name) == 0) return dest;
    }
  }
  // The channel destination is made on first lookup, so that a `Log` value
  // naming it binds before any channel exists.
  if (ipcHook && strcasecmp(name, "ipc") == 0) return &ipcHook();
  return nullptr;
}

void listLogDests(FILE* out) {
  MutexLock guard(logRegistryMutex);
  for (LogDest* dest = firstDest; dest; dest = dest->next()) fprintf(out, "  %s\n", dest->name());
}

}  // namespace plat
