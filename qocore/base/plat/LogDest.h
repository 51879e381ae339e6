#pragma once
// plat::LogDest: where log messages go.  The `Log` parameter binds sources
// to destinations by name ("stderr", "file", ...), each binding with a
// level; a destination also has a ceiling of its own that caps the level
// of every source bound to it.
//
// Named destinations join a process-wide list (newest first) that the
// `Log` parser searches, ignoring case.  The program's destinations are
// made on first use and never destroyed, since code may log until the
// process ends; a destination with a shorter life (a test's) leaves the
// list and every binding to it when destroyed.

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "qocore/base/plat/LogSrc.h"

namespace plat {

class LogDest {
 public:
  // `name` is static text, not copied; null makes an unnamed destination
  // that no `Log` entry can name.
  explicit LogDest(const char* name) noexcept;
  virtual ~LogDest();
  LogDest(const LogDest&) = delete;
  LogDest& operator=(const LogDest&) = delete;

  // One message of a source.  The text is valid UTF-8 without control
  // characters (the source escapes it).
  virtual void write(int level, const char* source, const char* text) = 0;
  // Whether the destination takes messages now; messages that no ready
  // destination takes are kept in the memory store.
  virtual bool ready() { return true; }

  const char* name() const noexcept { return name_; }
  LogDest* next() const noexcept PLAT_REQUIRES(logRegistryMutex) { return next_; }
  int level() const noexcept { return level_.load(std::memory_order_relaxed); }
  // Sets the ceiling and recomputes the level of every source.
  void setLevel(int level);

  // The newest named destination.
  static LogDest* first() noexcept;

 private:
  const char* name_;
  LogDest* next_ PLAT_GUARDED_BY(logRegistryMutex) = nullptr;
  std::atomic<int32_t> level_{0x7fffffff};
};

// The named destination, ignoring case; null when there is none.  The
// channel destination "ipc" is made by its first lookup.
LogDest* findLogDest(const char* name) noexcept;

// Hooks that later layers fill.  Constant-initialised, so valid during
// static initialisation.
namespace log_dest_hooks {
// Makes the channel destination "ipc" on its first call and returns it
// (plat::LogDestIpc::instance, which io fills in from the destination's
// own static initialiser).  Until it is filled "ipc" names nothing.
using IpcFn = LogDest& (*)();
void setIpc(IpcFn fn) noexcept;
}  // namespace log_dest_hooks

// Writes each destination name as "  %s\n".
void listLogDests(FILE* out);

}  // namespace plat
