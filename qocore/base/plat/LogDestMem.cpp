#include "qocore/base/plat/LogDestMem.h"

#include <algorithm>

#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/ScopeExit.h"

namespace plat {

namespace {
constexpr char kStoreName[] = "LogDestMem";
}  // namespace

LogDestMem& LogDestMem::instance() {
  // Never destroyed: code may log until the process ends.
  static LogDestMem* store = new LogDestMem;
  return *store;
}

void LogDestMem::write(int level, const char* source, const char* text) {
  MutexLock lock(mutex_);
  if (replaying_ || full_) return;
  if (entries_.size() >= kMaxMessages) {
    entries_.push_back(
        {LogSrc::kError, CharArray(kStoreName), CharArray("Too many messages, discarding further ones")});
    full_ = true;
    return;
  }
  entries_.push_back({level, CharArray(source), CharArray(text)});
}

void LogDestMem::replay(LogDest& to, int level) {
  MutexLock lock(mutex_);
  replaying_ = true;
  // Runs before `lock` goes, so under the mutex; the analysis cannot see
  // that through the guard's destructor.
  ScopeExit replayed([this]() PLAT_NO_THREAD_SAFETY_ANALYSIS { replaying_ = false; });
  bool started = false;
  for (const Entry& entry : entries_) {
    if (entry.level > level) continue;
    if (!started) {
      to.write(level, kStoreName, "Start replaying stored messages");
      started = true;
    }
    to.write(entry.level, entry.source.get(), entry.text.get());
  }
  if (started) to.write(level, kStoreName, "Finished replaying stored messages");
}

void LogDestMem::removeUpTo(int level) {
  MutexLock lock(mutex_);
  std::erase_if(entries_, [level](const Entry& entry) { return entry.level <= level; });
  // The warning is a level-0 entry: once it goes, the store takes
  // messages again.
  if (level >= LogSrc::kError) full_ = false;
}

void LogDestMem::clear() {
  MutexLock lock(mutex_);
  entries_.clear();
  full_ = false;
}

int LogDestMem::count() {
  MutexLock lock(mutex_);
  return static_cast<int>(entries_.size());
}

}  // namespace plat
