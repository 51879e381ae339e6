#include "qocore/base/plat/LogDestFile.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "qocore/base/os/HostName.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Console.h"
#include "qocore/base/plat/Env.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/File.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Path.h"
#include "qocore/base/plat/PlatStrings.h"
#include "qocore/base/plat/ProcessId.h"
#include "qocore/base/plat/Time.h"

namespace plat {

namespace {

// The descriptions below are keys of the platform texts: register them first.
[[maybe_unused]] const bool platStringsReady = (ensurePlatStrings(), true);

StringParameter logDir("LogDir", LocDesc{"plat_param_logdir"}, "");
StringParameter logFile("LogFile", LocDesc{"plat_param_logfile"}, "");
IntParameter logKeepDays("LogKeepDays", LocDesc{"plat_param_log_keep_days"}, 30, 0, 2147483647);
BoolParameter compactLog("CompactLog",
                         "Whether to produce more compact logging lines for readability.  Also produces times in "
                         "local timezone instead of UTC",
                         false);

// Any thread may write a line or open the file, while parameters change
// only on the main thread: the values the destinations read are copied
// here whenever a parameter changes.
constinit Mutex settingsMutex;
struct Settings {
  CharArray dir, file;                // the values in force
  CharArray defaultDir, defaultFile;  // the priority-0 values
  bool overridden = false;            // either holds a value above priority 0
};
Settings& settings() PLAT_REQUIRES(settingsMutex) {
  static auto* values = new Settings;
  return *values;
}
constinit std::atomic<bool> compactLines{false};
constinit std::atomic<int> keepDays{30};

constinit Mutex bannerMutex;
CharArray& bannerText() PLAT_REQUIRES(bannerMutex) {
  static auto* text = new CharArray;
  return *text;
}

// The "file" destination and whether it is switched on.
constinit Mutex fileStateMutex;
constinit LogDestFile* theFileDest PLAT_GUARDED_BY(fileStateMutex) = nullptr;
constinit bool logToFile PLAT_GUARDED_BY(fileStateMutex) = false;

// The log path from a directory and a file name, with environment
// references expanded (an unknown one throws); null without a file name.
CharArray joinLogPath(const char* dir, const char* file) {
  DString dirText, fileText;
  expandEnvVars(dirText, dir, nullptr, true, true);
  expandEnvVars(fileText, file, nullptr, true, true);
  if (fileText.empty()) return CharArray();
  if (dirText.empty()) return CharArray(fileText.c_str());
  CharArray path;
  joinPath(path, dirText.c_str(), fileText.c_str(), true);
  return path;
}

// The path the "file" destination should have now; null when the file
// name is empty or cannot be expanded (reported on stderr).
CharArray currentLogPath() {
  CharArray dir, file;
  {
    MutexLock lock(settingsMutex);
    dir = settings().dir;
    file = settings().file;
  }
  try {
    return joinLogPath(dir.get(), file.get());
  } catch (const Exception& e) {
    char text[Exception::kMsgSize];
    e.format(text);
    fprintf(stderr, "Error opening log file: %s\n", text);
    fflush(stderr);
    return CharArray();
  }
}

// Follows LogDir and LogFile (and keeps the copies above current).
class LogFileManager : public ParameterChangedCallback {
 public:
  LogFileManager() {
    for (ConfigParameter* param :
         {static_cast<ConfigParameter*>(&logDir), static_cast<ConfigParameter*>(&logFile),
          static_cast<ConfigParameter*>(&logKeepDays), static_cast<ConfigParameter*>(&compactLog)}) {
      param->addCallback(this);
    }
    snapshot();
  }

  void parameterChanged(ConfigParameter* param, int) override {
    snapshot();
    if (param != &logDir && param != &logFile) return;
    MutexLock lock(fileStateMutex);
    if (logToFile && theFileDest) theFileDest->setPath(currentLogPath().get());
  }

 private:
  static void snapshot() {
    MutexLock lock(settingsMutex);
    Settings& s = settings();
    s.dir = logDir.getValue();
    s.file = logFile.getValue();
    s.defaultDir = logDir.getValueStrAt(ConfigParameter::kDefault);
    s.defaultFile = logFile.getValueStrAt(ConfigParameter::kDefault);
    s.overridden =
        logDir.getPriority() > ConfigParameter::kDefault || logFile.getPriority() > ConfigParameter::kDefault;
    compactLines.store(compactLog.getValue(), std::memory_order_relaxed);
    keepDays.store(logKeepDays.getValue(), std::memory_order_relaxed);
  }
};
LogFileManager fileManager;

// The syslog-style priority of a level.
int priorityOf(int level) noexcept {
  if (level <= 0) return 11;
  if (level <= 5) return 12;
  if (level <= 10) return 13;
  if (level <= 30) return 14;
  return 15;
}

// A full line assembled in a buffer on the stack and handed to the stream
// in one fwrite: a printf straight into the stream pays the stream's
// bookkeeping once for every piece.  Pieces are copied as printf's "%s"
// and "%d" would write them; a line that does not fit marks the builder
// overflowed and is written with printf instead.
class LineBuilder {
 public:
  void text(const char* piece) noexcept {
    if (!piece) piece = "(null)";
    bytes(piece, strlen(piece));
  }
  void number(long long value) noexcept {
    char digits[24];
    std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, value);
    bytes(digits, static_cast<size_t>(r.ptr - digits));
  }
  void bytes(const char* piece, size_t n) noexcept {
    if (n > static_cast<size_t>(line_ + sizeof line_ - at_)) {
      overflowed_ = true;
      return;
    }
    std::memcpy(at_, piece, n);
    at_ += n;
  }
  bool overflowed() const noexcept { return overflowed_; }
  const char* data() const noexcept { return line_; }
  size_t size() const noexcept { return static_cast<size_t>(at_ - line_); }

 private:
  // Room for the longest message a log source formats and the line's
  // other fields.
  char line_[LogSrc::kMaxMessage + 512];
  char* at_ = line_;
  bool overflowed_ = false;
};

const char* colourOf(int level) noexcept {
  if (level < 6) return "31;1";
  if (level < 11) return "31";
  if (level < 31) return "36";
  return "0";
}

// The base name followed by an optional "(n)", "." and fourteen digits:
// the names rotation gives.  Nothing else is ever pruned.
bool isRotatedName(const char* name, const char* base) noexcept {
  size_t baseLen = strlen(base);
  if (strncmp(name, base, baseLen) != 0) return false;
  const char* p = name + baseLen;
  if (*p == '(') {
    const char* digits = ++p;
    while (*p >= '0' && *p <= '9') ++p;
    if (p == digits || *p != ')') return false;
    ++p;
  }
  if (*p++ != '.') return false;
  for (int i = 0; i < 14; ++i, ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  return *p == '\0';
}

// The modification time before which rotated copies go.  A keep period
// that reaches back past the start of the clock keeps every copy.
TimeValue pruneCutoff(TimeValue now, int days) noexcept {
  TimeValue keep, cutoff;
  if (__builtin_mul_overflow(TimeValue(days), kTicksPerDay, &keep) || __builtin_sub_overflow(now, keep, &cutoff) ||
      cutoff < 0)
    return INT64_MIN;
  return cutoff;
}

// Removes the rotated copies of `base` in dir last modified before
// `cutoff`.  A file that cannot be removed stays; logging goes on.
void pruneRotated(const char* dir, const char* base, TimeValue cutoff) {
  DIR* listing = opendir(dir);
  if (!listing) throw SystemExceptionFmt("opendir(%s)", errno, dir);
  while (dirent* entry = readdir(listing)) {
    if (!isRotatedName(entry->d_name, base)) continue;
    CharArray path;
    joinPath(path, dir, entry->d_name);
    struct stat st;
    if (lstat(path.get(), &st) != 0) continue;
    if (timespecToTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec) < cutoff) removeFile(path.get());
  }
  closedir(listing);
}

}  // namespace

// ---- Construction ----

LogDestFile::LogDestFile(const char* name, const char* programName, FILE* stream, bool ownStream)
    : LogDest(name),
      programName_(programName ? programName : ""),
      hostName_(os::getLocalHostName()),
      file_(ownStream ? stream : nullptr),
      borrowed_(ownStream ? nullptr : stream) {
  if (!hostName_) hostName_ = CharArray("-");
  file_.setLogCloseErrors(false);
  colour_ = stream && isColourTerminal(fileno(stream));
  updateReady();
}

LogDestFile::~LogDestFile() = default;

LogDestFile* LogDestFile::stderrDest(const char* programName) {
  // Never destroyed: code may log until the process ends.
  static LogDestFile* dest = new LogDestFile("stderr", programName, stderr, false);
  return dest;
}

LogDestFile* LogDestFile::fileDest(const char* programName, bool logToFileNow) {
  static LogDestFile* dest = [programName] {
    auto* made = new LogDestFile("file", programName);
    MutexLock lock(fileStateMutex);
    theFileDest = made;
    if (logToFile) made->setPath(currentLogPath().get());
    return made;
  }();
  if (logToFileNow) {
    setLogToFile(true);
    dest->open();
  }
  return dest;
}

void setLogToFile(bool on) {
  MutexLock lock(fileStateMutex);
  if (on == logToFile) return;
  logToFile = on;
  if (theFileDest) theFileDest->setPath(on ? currentLogPath().get() : nullptr);
}

void setLogBanner(const char* text) {
  MutexLock lock(bannerMutex);
  bannerText() = text;
}

// ---- State ----

bool LogDestFile::ready() { return ready_.load(std::memory_order_acquire); }

void LogDestFile::updateReady() noexcept { ready_.store(path_ || file_ || borrowed_, std::memory_order_release); }

void LogDestFile::setPath(const char* path) {
  MutexLock lock(mutex_);
  bool same = path && path_ && strcmp(path, path_.get()) == 0;
  if (same && file_ && !stopped_) return;
  closeLocked();
  path_ = path;
  stopped_ = false;
  updateReady();
}

CharArray LogDestFile::path() {
  MutexLock lock(mutex_);
  return path_;
}

bool LogDestFile::open() {
  MutexLock lock(mutex_);
  if (!file_ && !stopped_) openLocked();
  return bool(file_);
}

void LogDestFile::reopenIfMoved() {
  MutexLock lock(mutex_);
  if (!file_ || !openPath_) return;
  bool same = false;
  try {
    same = fileIsSameAsFd(fileno(file_.get()), openPath_.get());
  } catch (const Exception&) {
    // Treated as moved: the open below reports what is wrong.
  }
  if (same) return;
  closeLocked();
  openLocked();
}

void LogDestFile::setSizeLimit(int64_t bytes, LogSizeLimitCallback* callback) {
  MutexLock lock(mutex_);
  sizeLimit_ = bytes;
  sizeLimitCallback_ = callback;
  stopped_ = false;
}

void LogDestFile::setRedirectStderr(bool on) {
  MutexLock lock(mutex_);
  redirectStderr_ = on;
}

void LogDestFile::closeLocked() noexcept {
  try {
    file_.close();
  } catch (const Exception&) {
    // Lines that could not be written are lost either way.
  }
  openPath_.reset();
  updateReady();
}

// ---- Opening ----

void LogDestFile::openLocked() {
  if (!path_) return;
  try {
    openPath(path_.get());
    return;
  } catch (const Exception& e) {
    char failure[Exception::kMsgSize];
    e.format(failure);
    fprintf(stderr, "Error opening log file: %s\n", failure);
    fflush(stderr);

    CharArray defaultDir, defaultFile;
    bool overridden;
    {
      MutexLock lock(settingsMutex);
      defaultDir = settings().defaultDir;
      defaultFile = settings().defaultFile;
      overridden = settings().overridden;
    }
    // Giving up stops writing until the path is set again, so the failure
    // is not repeated for every line.
    stopped_ = true;
    if (!overridden) return;
    try {
      CharArray fallback = joinLogPath(defaultDir.get(), defaultFile.get());
      if (!fallback) throw Exception("no default log file");
      fprintf(stderr, "Reverting to default log file %s\n", fallback.get());
      fflush(stderr);
      openPath(fallback.get());
      writeLineLocked(LogSrc::kError, "LogDestFile: Error opening log file", failure);
    } catch (const Exception& again) {
      char text[Exception::kMsgSize];
      again.format(text);
      fprintf(stderr, "Error opening default log file: %s\n", text);
      fflush(stderr);
      stopped_ = true;
    }
  }
}

void LogDestFile::openPath(const char* path) {
  CharArray dir = dirName(path);
  CharArray base = baseName(path);
  mkDirs(dir.get());

  pruneRotated(dir.get(), base.get(), pruneCutoff(getTime(), keepDays.load(std::memory_order_relaxed)));

  if (fileExists(path)) {
    tm fields;
    toCalendarLocal(fields, fileGetTime(path));
    CharArray rotated =
        DString::format("%s.%04d%02d%02d%02d%02d%02d", base.get(), fields.tm_year + 1900, fields.tm_mon + 1,
                        fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec);
    CharArray target = makeUniqueName(dir.get(), rotated.get(), "(", ")", 99);
    fileRename(path, target.get());
  }

  file_.open(path, FilePtr::kWrite);
  openPath_ = path;
  stopped_ = false;
  bannerWritten_ = false;
  updateReady();
  if (redirectStderr_) {
    fflush(stderr);
    dup2(fileno(file_.get()), STDERR_FILENO);
  }
}

// ---- Writing ----

void LogDestFile::write(int level, const char* source, const char* text) {
  MutexLock lock(mutex_);
  if (stopped_) return;
  if (!file_ && !borrowed_) {
    openLocked();
    if (!file_) return;
  }
  writeLineLocked(level, source, text);
}

void LogDestFile::writeLineLocked(int level, const char* source, const char* text) {
  FILE* fp = file_ ? file_.get() : borrowed_;
  bool failed = false;

  if (!bannerWritten_) {
    DString banner;
    {
      MutexLock lock(bannerMutex);
      banner.append(bannerText().get());
    }
    if (!banner.empty()) {
      banner.wordWrap(79, 0);
      failed |= fprintf(fp, "%s\n", banner.c_str()) < 0;
    }
    bannerWritten_ = true;
  }

  if (colour_) setTerminalAttr(fp, colourOf(level), false);
  TimeValue now = getTime();
  if (compactLines.load(std::memory_order_relaxed)) {
    tm fields;
    toCalendarLocal(fields, now);
    int millis = static_cast<int>(((now % kTicksPerSecond) + kTicksPerSecond) % kTicksPerSecond / kTicksPerMs);
    failed |= fprintf(fp, "%02d:%02d:%02d.%03d %s: %s\n", fields.tm_hour, fields.tm_min, fields.tm_sec, millis, source,
                      text) < 0;
  } else {
    updateTimeText(now);
    const long long pid = processId();
    LineBuilder line;
    line.bytes("<", 1);
    line.number(priorityOf(level));
    line.bytes("> ", 2);
    line.text(timeText_.c_str());
    line.bytes(" ", 1);
    line.text(hostName_.get());
    line.bytes(" ", 1);
    line.text(programName_.get());
    line.bytes("[", 1);
    line.number(pid);
    line.bytes("]: ", 3);
    line.text(source);
    line.bytes(": ", 2);
    line.text(text);
    line.bytes("\n", 1);
    if (!line.overflowed()) {
      failed |= fwrite(line.data(), 1, line.size(), fp) != line.size();
    } else {
      failed |= fprintf(fp, "<%d> %s %s %s[%lld]: %s: %s\n", priorityOf(level), timeText_.c_str(), hostName_.get(),
                        programName_.get(), pid, source, text) < 0;
    }
  }
  if (colour_) setTerminalAttr(fp, "0", false);

  const char* call = "fprintf";
  int error = failed ? errno : 0;
  if (fflush(fp) != 0) {
    call = "fflush";
    error = errno;
    failed = true;
  } else if (ferror(fp)) {
    if (!error) error = EIO;
    failed = true;
  }
  if (failed) {
    writeFailed(call, error);
    return;
  }

  if (sizeLimit_ > 0) {
    struct stat st;
    if (fstat(fileno(fp), &st) == 0 && st.st_size >= sizeLimit_) {
      stopped_ = true;
      if (file_) {
        try {
          file_.close();
        } catch (const Exception& e) {
          char failure[Exception::kMsgSize];
          e.format(failure);
          fprintf(stderr, "Error closing log file: %s\n", failure);
        }
        openPath_.reset();
        updateReady();
      }
      if (sizeLimitCallback_) sizeLimitCallback_->logSizeLimitReached(*this);
    }
  }
}

void LogDestFile::updateTimeText(TimeValue now) {
  // Lines come many to a second: within the second of the last full
  // formatting only the milliseconds change.  Times before the clock's
  // start are formatted in full every time.
  const TimeValue second = now / kTicksPerSecond;
  if (now >= 0 && second == timeTextSecond_) {
    // "...ss.mmmZ"
    int millis = static_cast<int>(now % kTicksPerSecond / kTicksPerMs);
    const int length = timeText_.length();
    char* end = timeText_.buf() + length;
    end[-4] = static_cast<char>('0' + millis / 100);
    end[-3] = static_cast<char>('0' + millis / 10 % 10);
    end[-2] = static_cast<char>('0' + millis % 10);
    return;
  }
  const bool formatted = formatIsoDateUtc(timeText_, now, true);
  timeTextSecond_ = formatted && now >= 0 ? second : -1;
}

void LogDestFile::writeFailed(const char* call, int error) {
  if (!file_) {
    // Standard error has nowhere to report to; the next line tries again.
    clearerr(borrowed_);
    return;
  }
  SystemException failure(call, error);
  char text[Exception::kMsgSize];
  failure.format(text);
  closeLocked();
  stopped_ = true;
  fprintf(stderr, "Error writing log file: %s\n", text);
  fflush(stderr);
}

}  // namespace plat
