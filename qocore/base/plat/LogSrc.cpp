#include "qocore/base/plat/LogSrc.h"

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogDest.h"
#include "qocore/base/plat/LogDestFile.h"
#include "qocore/base/plat/LogDestMem.h"
#include "qocore/base/plat/PlatStrings.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/Utf8.h"

namespace plat {

struct LogBinding {
  LogDest* dest;
  int32_t level;
};

// One source's bindings; never changed once published.
struct LogBindings {
  std::vector<LogBinding> items;
};

namespace {

// The list of sources and the retired tables are guarded by the registry
// lock.  Constant-initialised, so sources built by any static initialiser
// can link themselves in.
constinit LogSrc* firstSource PLAT_GUARDED_BY(logRegistryMutex) = nullptr;
constinit std::vector<const LogBindings*>* retiredTables PLAT_GUARDED_BY(logRegistryMutex) = nullptr;
constinit std::atomic<bool> configured{false};

// Serialises applications of the `Log` value and the end of set-up.
constinit Mutex applyMutex;

// One parsed `Log` entry.  The destination is kept by name, since the
// entries outlive the application (set-up replays with them later).
struct LogEntry {
  std::string pattern;
  std::string target;
  int level;
};

// The entries of the value applied last.
std::vector<LogEntry>& appliedEntries() PLAT_REQUIRES(applyMutex) {
  static auto* entries = new std::vector<LogEntry>;
  return *entries;
}

// A whole non-negative decimal number that fits 32 bits.
bool parseLevel(const char* text, int& out) {
  if (!*text) return false;
  long long value = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
    if (value > INT_MAX) return false;
  }
  out = static_cast<int>(value);
  return true;
}

std::vector<LogEntry> parseLogValue(const char* value) {
  std::vector<LogEntry> entries;
  if (!value) return entries;
  CharArrayList items;
  strSplitList(value, ',', items);
  for (const CharArray& item : items) {
    const char* text = item.get();
    if (!*text) continue;
    const char* colon1 = strchr(text, ':');
    const char* colon2 = colon1 ? strchr(colon1 + 1, ':') : nullptr;
    int level = 0;
    if (!colon2 || !parseLevel(colon2 + 1, level)) {
      fprintf(stderr, "Failed to parse log param element: '%s'\n", text);
      continue;
    }
    std::string target(colon1 + 1, colon2);
    if (target.empty()) continue;
    if (!findLogDest(target.c_str())) {
      fprintf(stderr, "No LogDest found: '%s'\n", target.c_str());
      continue;
    }
    entries.push_back({std::string(text, colon1), std::move(target), level});
  }
  return entries;
}

// Replays the memory store to each ready destination that every source is
// bound to, then drops what those replays covered.
void replayStored(const std::vector<LogEntry>& entries) {
  LogDestMem& store = LogDestMem::instance();
  int covered = -1;
  for (const LogEntry& entry : entries) {
    if (entry.pattern != "*") continue;
    LogDest* dest = findLogDest(entry.target.c_str());
    if (!dest || !dest->ready()) continue;
    store.replay(*dest, entry.level);
    if (entry.level > covered) covered = entry.level;
  }
  if (covered >= 0) store.removeUpTo(covered);
}

// Bytes outside 32..125 (126 is the escape character itself) make the
// text need escaping.
bool needsEscaping(const char* text) noexcept {
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    if (*p < 32 || *p > 125) return true;
  }
  return false;
}

// The description below is a key of the platform texts: register them first.
[[maybe_unused]] const bool platStringsReady = (ensurePlatStrings(), true);

// The `Log` parameter: every change re-applies the bindings.
StringParameter logParam("Log", LocDesc{"plat_param_log"}, "");

// While set, applied in place of the parameter's value.  Changed on the
// main thread only, as the parameter is.
std::string& logOverride() {
  static std::string* text = new std::string;
  return *text;
}
bool logOverridden = false;

void applyCurrentLogValue() { applyLogSetting(logOverridden ? logOverride().c_str() : logParam.getValue()); }

class LogParamWatcher : public ParameterChangedCallback {
 public:
  LogParamWatcher() { logParam.addCallback(this); }
  void parameterChanged(ConfigParameter*, int) override { applyCurrentLogValue(); }
};
LogParamWatcher logParamWatcher;

}  // namespace

// ---- Sources ----

LogSrc::LogSrc(const char* name) noexcept
    : name_(name), level_(0x7fffffff), gate_(0x7fffffff), next_(nullptr), constructed_(true) {
  MutexLock guard(logRegistryMutex);
  next_ = firstSource;
  firstSource = this;
}

LogSrc::~LogSrc() {
  MutexLock guard(logRegistryMutex);
  for (LogSrc** p = &firstSource; *p; p = &(*p)->next_) {
    if (*p == this) {
      *p = next_;
      break;
    }
  }
  constructed_ = false;
  // No writer may use a source while it is destroyed, so its own table
  // can go.
  delete bindings_.exchange(nullptr);
}

LogSrc* LogSrc::first() noexcept {
  MutexLock guard(logRegistryMutex);
  return firstSource;
}

int LogSrc::levelFromBindings() const noexcept {
  const LogBindings* table = bindings_.load(std::memory_order_acquire);
  int level = -1;
  if (!table) return level;
  for (const LogBinding& binding : table->items) {
    int bound = binding.level < binding.dest->level() ? binding.level : binding.dest->level();
    if (bound > level) level = bound;
  }
  return level;
}

void LogSrc::recomputeLevel() { setLevel(levelFromBindings()); }

void LogSrc::setLevel(int level) noexcept {
  level_.store(level, std::memory_order_relaxed);
  updateGate();
}

void LogSrc::updateGate() noexcept {
  gate_.store(configured.load(std::memory_order_acquire) ? level_.load(std::memory_order_relaxed) : 0x7fffffff,
              std::memory_order_relaxed);
}

void LogSrc::replaceBindings(const LogBindings* table) {
  const LogBindings* old = bindings_.exchange(table, std::memory_order_acq_rel);
  if (old) {
    // Another thread may be delivering through the old table right now.
    if (!retiredTables) retiredTables = new std::vector<const LogBindings*>;
    retiredTables->push_back(old);
  }
  recomputeLevel();
}

void LogSrc::unbindDest(const LogDest* dest) {
  MutexLock guard(logRegistryMutex);
  for (LogSrc* src = firstSource; src; src = src->next_) {
    const LogBindings* table = src->bindings_.load(std::memory_order_acquire);
    if (!table) continue;
    auto kept = std::make_unique<LogBindings>();
    for (const LogBinding& binding : table->items) {
      if (binding.dest != dest) kept->items.push_back(binding);
    }
    if (kept->items.size() == table->items.size()) continue;
    if (kept->items.empty()) kept.reset();
    src->replaceBindings(kept.release());
  }
}

// ---- Writing ----

void LogSrc::writeEnabled(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vlogEnabled(level, format, args);
  va_end(args);
}

#if defined(__clang__)
#define PLAT_LOG_WRITER(fn, lvl)             \
  void LogSrc::fn(const char* format, ...) { \
    if (!enabled(lvl)) return;               \
    va_list args;                            \
    va_start(args, format);                  \
    vlogEnabled(lvl, format, args);          \
    va_end(args);                            \
  }
PLAT_LOG_WRITER(error, kError)
PLAT_LOG_WRITER(info, kInfo)
PLAT_LOG_WRITER(debug, kDebug)
PLAT_LOG_WRITER(verbose, kVerbose)
#undef PLAT_LOG_WRITER

void LogSrc::write(int level, const char* format, ...) {
  if (!enabled(level)) return;
  va_list args;
  va_start(args, format);
  vlogEnabled(level, format, args);
  va_end(args);
}
#endif

void LogSrc::vlog(int level, const char* format, va_list args) {
  if (enabled(level)) vlogEnabled(level, format, args);
}

void LogSrc::vlogEnabled(int level, const char* format, va_list args) {
  char text[kMaxMessage];
  text[0] = '\0';
  safeVsnprintfAppend(text, sizeof text, format, args);
  deliver(level, text);
}

void LogSrc::writeLines(int level, const char* text) {
  if (!text || !enabled(level)) return;
  while (*text) {
    const char* end = strchr(text, '\n');
    int len = end ? int(end - text) : int(strlen(text));
    if (len > 0) writeEnabled(level, "%.*s", len, text);
    text += len;
    if (*text == '\n') ++text;
  }
}

void LogSrc::deliver(int level, const char* text) {
  // A source used by another static initialiser before its own ran.
  PLAT_ASSERT_TEXT(constructed_, "constructed");
  const LogBindings* table = bindings_.load(std::memory_order_acquire);
  if (!table && configured.load(std::memory_order_acquire)) return;

  CharArray escaped;
  if (needsEscaping(text)) {
    escaped = utf8Visible(text, '~');
    text = escaped.get();
  }

  bool delivered = false;
  if (table) {
    for (const LogBinding& binding : table->items) {
      if (binding.level >= level && binding.dest->ready()) {
        binding.dest->write(level, name_, text);
        delivered = true;
      }
    }
  }
  if (!delivered) LogDestMem::instance().write(level, name_, text);
}

// ---- Applying the `Log` value ----

void LogDestFile::setLogOverride(const char* text) {
  logOverridden = text != nullptr;
  logOverride() = text ? text : "";
  applyCurrentLogValue();
}

void applyLogSetting(const char* value) {
  MutexLock applying(applyMutex);
  std::vector<LogEntry> entries = parseLogValue(value);
  {
    MutexLock guard(logRegistryMutex);
    for (LogSrc* src = firstSource; src; src = src->next_) {
      std::unique_ptr<LogBindings> table;
      for (const LogEntry& entry : entries) {
        if (!wildcardMatch(entry.pattern.c_str(), src->name_, false)) continue;
        // Resolved under the registry lock, so the destination is still
        // listed.
        LogDest* dest = findLogDest(entry.target.c_str());
        if (!dest) continue;
        if (!table) table = std::make_unique<LogBindings>();
        bool replaced = false;
        for (LogBinding& binding : table->items) {
          if (binding.dest == dest) {
            binding.level = entry.level;
            replaced = true;
          }
        }
        if (!replaced) table->items.push_back({dest, entry.level});
      }
      src->replaceBindings(table.release());
    }
  }
  appliedEntries() = entries;
  replayStored(entries);
}

void finishLogSetup() {
  MutexLock applying(applyMutex);
  if (configured.load(std::memory_order_acquire)) return;
  configured.store(true, std::memory_order_release);
  replayStored(appliedEntries());
  LogDestMem::instance().clear();
  MutexLock guard(logRegistryMutex);
  for (LogSrc* src = firstSource; src; src = src->next_) src->updateGate();
}

bool isLogConfigured() noexcept { return configured.load(std::memory_order_acquire); }

void recomputeLogLevels() {
  MutexLock guard(logRegistryMutex);
  for (LogSrc* src = LogSrc::first(); src; src = src->next()) src->recomputeLevel();
}

void listLogNames(int width, FILE* out) {
  MutexLock guard(logRegistryMutex);
  std::string text = "  ";
  int column = 2;
  for (LogSrc* src = firstSource; src; src = src->next()) {
    int len = strLen(src->name());
    if (src != firstSource) {
      if (column + 2 + len > width - 2) {
        text += ",\n  ";
        column = 2;
      } else {
        text += ", ";
        column += 2;
      }
    }
    text += src->name();
    column += len;
  }
  text += "\n";
  fputs(text.c_str(), out);
}

}  // namespace plat
