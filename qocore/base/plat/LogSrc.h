#pragma once
// plat::LogSrc: a named log source.  Every component declares one from its
// static initialiser and writes printf-style messages, each at a level
// (lower is more important): 0 error, 30 information, 100 debug, 110
// verbose.
//
// Where messages go is decided by the `Log` parameter, a comma-separated
// list of "<log>:<target>:<level>" entries: <log> is a source name pattern
// ("*" matches any run of characters, case is ignored), <target> names a
// destination (plat::LogDest) and a message reaches a binding when its
// level is at most the binding's.  Each change of the value re-binds every
// existing source; sources made later stay unbound until the next change.
//
// Until plat::finishLogSetup is called every message is formatted, and
// what no binding takes is kept in the memory store (at most 500
// messages) to be replayed once the bindings are known.  From then on a
// message above the source's level costs one relaxed load and a compare,
// inline in the caller.
//
// Any thread may log, and the bindings may be re-applied while others do:
// each source's bindings are an immutable table that is replaced whole,
// and old tables are kept for the life of the process (`Log` changes
// rarely), so a writer never reads freed memory.

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "qocore/base/plat/Mutex.h"

namespace plat {

class LogDest;

// The lock that guards the lists of sources and destinations and the
// replacement of binding tables.  Recursive (a replay or a level
// recomputation may make a function-local source on the same thread),
// constant-initialised and never destroyed, so sources and destinations
// made by any static initialiser, or still logging at exit, can use it.
// For the logging classes themselves.
extern Mutex logRegistryMutex;

struct LogBindings;

class LogSrc {
 public:
  static constexpr int kError = 0;
  static constexpr int kInfo = 30;
  static constexpr int kDebug = 100;
  static constexpr int kVerbose = 110;
  // Messages are formatted into a buffer of this size, cut at a whole
  // UTF-8 sequence.
  static constexpr int kMaxMessage = 4096;

  // `name` is static text; it is not copied.  The source links itself at
  // the head of the process-wide list.
  explicit LogSrc(const char* name) noexcept;
  // Unlinks the source.
  virtual ~LogSrc();
  LogSrc(const LogSrc&) = delete;
  LogSrc& operator=(const LogSrc&) = delete;

  // Sets the level from the bindings: the largest over them of the smaller
  // of the binding's level and its destination's ceiling; -1 without
  // bindings.
  virtual void recomputeLevel();

  // The fixed-level writers test the level before the call, so a disabled
  // message costs no call and no formatting.  That needs g++'s way of
  // passing "..." on from an inlined function; clang (which builds only
  // the fuzz targets) takes the plain out-of-line call instead.
#if defined(__clang__)
  [[gnu::format(printf, 2, 3)]] void error(const char* format, ...);
  [[gnu::format(printf, 2, 3)]] void info(const char* format, ...);
  [[gnu::format(printf, 2, 3)]] void debug(const char* format, ...);
  [[gnu::format(printf, 2, 3)]] void verbose(const char* format, ...);
  [[gnu::format(printf, 3, 4)]] void write(int level, const char* format, ...);
#else
  [[gnu::always_inline, gnu::format(printf, 2, 3)]] void error(const char* format, ...) {
    if (enabled(kError)) writeEnabled(kError, format, __builtin_va_arg_pack());
  }
  [[gnu::always_inline, gnu::format(printf, 2, 3)]] void info(const char* format, ...) {
    if (enabled(kInfo)) writeEnabled(kInfo, format, __builtin_va_arg_pack());
  }
  [[gnu::always_inline, gnu::format(printf, 2, 3)]] void debug(const char* format, ...) {
    if (enabled(kDebug)) writeEnabled(kDebug, format, __builtin_va_arg_pack());
  }
  [[gnu::always_inline, gnu::format(printf, 2, 3)]] void verbose(const char* format, ...) {
    if (enabled(kVerbose)) writeEnabled(kVerbose, format, __builtin_va_arg_pack());
  }
  [[gnu::always_inline, gnu::format(printf, 3, 4)]] void write(int level, const char* format, ...) {
    if (enabled(level)) writeEnabled(level, format, __builtin_va_arg_pack());
  }
#endif
  void vlog(int level, const char* format, va_list args);
  // One message per line of text; empty lines are skipped.
  void writeLines(int level, const char* text);

  // Whether a message at the level gets past the quick check: always until
  // logging is configured, then when it is at most the bound level.
  bool enabled(int level) const noexcept { return level <= gate_.load(std::memory_order_relaxed); }

  const char* name() const noexcept { return name_; }
  // The level above which messages are dropped before formatting
  // (0x7fffffff until logging is configured).  Callers test it to skip
  // building expensive arguments.
  int level() const noexcept { return gate_.load(std::memory_order_relaxed); }
  // The level the bindings give (0x7fffffff before the first application,
  // -1 without bindings).
  int boundLevel() const noexcept { return level_.load(std::memory_order_relaxed); }
  LogSrc* next() const noexcept PLAT_REQUIRES(logRegistryMutex) { return next_; }
  // The process-wide list of sources, newest first.
  static LogSrc* first() noexcept;

 protected:
  // The largest level at which any binding would deliver, -1 without any.
  int levelFromBindings() const noexcept;
  // Stores the level; the quick check follows it once logging is
  // configured.
  void setLevel(int level) noexcept;
  // Formats and delivers a message that passed the quick check.
  void vlogEnabled(int level, const char* format, va_list args);
  // Hands one formatted message on.
  void deliver(int level, const char* text);

  const char* name_;

 private:
  friend class LogDest;
  friend void applyLogSetting(const char* value);
  friend void finishLogSetup();

  [[gnu::format(printf, 3, 4)]] void writeEnabled(int level, const char* format, ...);
  // Replaces the bindings (the old table is retired, never freed) and
  // recomputes the level.  Under the registry lock.
  void replaceBindings(const LogBindings* table) PLAT_REQUIRES(logRegistryMutex);
  // Makes the quick check follow the level.  Under the registry lock.
  void updateGate() noexcept;
  // Removes every binding to a destination that is going away.
  static void unbindDest(const LogDest* dest);

  std::atomic<int32_t> level_;
  std::atomic<int32_t> gate_;
  std::atomic<const LogBindings*> bindings_{nullptr};
  LogSrc* next_ PLAT_GUARDED_BY(logRegistryMutex);
  bool constructed_;
};

// Parses a `Log` value and binds every existing source accordingly, then
// replays stored messages to the destinations that every source ("*")
// is bound to.  Bad entries are reported on stderr and skipped.  Changes
// of the `Log` parameter call it.
void applyLogSetting(const char* value);

// Marks logging as configured (only the first call acts): stored messages
// are replayed to the destinations that every source is bound to, the
// store is emptied and the quick level check takes effect.
void finishLogSetup();
bool isLogConfigured() noexcept;

// Recomputes the level of every source (after a destination's ceiling
// changed).
void recomputeLogLevels();

// Writes the source names separated by ", " after two blanks, breaking to
// ",\n  " before a name that would pass width - 2 columns, then "\n".
void listLogNames(int width, FILE* out);

}  // namespace plat

// PLAT_LOG_SOURCE(accessor, "Name") defines `plat::LogSrc& accessor()`, the
// one way to declare a log source.  The source is made on first use, so
// code in any static initialiser may log through it, and it is never
// destroyed, so code that runs during exit may too.  A static reference
// beside it makes the source at start-up as well, so that `-help` lists it
// and a `Log` value binds it before its first message.  Use it at namespace
// scope: in an unnamed namespace for a source of one file, in a named one
// (with a declaration in a header) for a source several files share.
//
// PLAT_LOG_SOURCE_OF(Type, accessor, "Name") is the same for a source of a
// class derived from plat::LogSrc whose constructor takes the name
// (`Type& accessor()`).
#define PLAT_LOG_SOURCE_OF(type, accessor, name) \
  type& accessor() noexcept {                    \
    static type* const source = new type(name);  \
    return *source;                              \
  }                                              \
  [[maybe_unused]] static type& accessor##Registered_ = accessor()

#define PLAT_LOG_SOURCE(accessor, name) PLAT_LOG_SOURCE_OF(::plat::LogSrc, accessor, name)
