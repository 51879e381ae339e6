#include "qocore/base/plat/LogDest.h"

#include <pthread.h>
#include <strings.h>

#include "qocore/base/plat/LogSrc.h"

namespace plat {

namespace {
// Constant-initialised and never destroyed, so sources and destinations
// made by any static initialiser, or still logging at exit, can use it.
// Recursive: a replay or a level recomputation may make a function-local
// source on the same thread.
constinit pthread_mutex_t registryMutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
constinit LogDest* firstDest = nullptr;
}  // namespace

namespace log_registry {
void lock() noexcept { pthread_mutex_lock(&registryMutex); }
void unlock() noexcept { pthread_mutex_unlock(&registryMutex); }
}  // namespace log_registry

LogDest::LogDest(const char* name) noexcept : name_(name) {
  if (!name_) return;
  log_registry::Guard guard;
  next_ = firstDest;
  firstDest = this;
}

LogDest::~LogDest() {
  {
    log_registry::Guard guard;
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
  log_registry::Guard guard;
  return firstDest;
}

LogDest* findLogDest(const char* name) noexcept {
  if (!name) return nullptr;
  log_registry::Guard guard;
  for (LogDest* dest = firstDest; dest; dest = dest->next()) {
    if (strcasecmp(dest->name(), name) == 0) return dest;
  }
  return nullptr;
}

void listLogDests(FILE* out) {
  log_registry::Guard guard;
  for (LogDest* dest = firstDest; dest; dest = dest->next()) fprintf(out, "  %s\n", dest->name());
}

}  // namespace plat
