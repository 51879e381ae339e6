#pragma once
// plat::LogDestFile: a destination that writes one text line per message to
// a stream: the process's standard error ("stderr") or the log file
// ("file", whose path the `LogDir` and `LogFile` parameters name).
//
// Lines read "<priority> <UTC time> <host> <program>[<pid>]: <source>:
// <message>", or with `CompactLog` "<local hh:mm:ss.mmm> <source>:
// <message>"; on a colour terminal they are coloured by level.  The log
// file is opened on the first message after its path is set: the folder
// is created, rotated files older than `LogKeepDays` days are removed, an
// existing file is renamed after its modification time, and a new file is
// started (with the banner, when one is set).  When that fails, the
// default path (the priority-0 values of the two parameters) is tried.
//
// Logging never fails the code that logs: when a write to the log file
// fails (a full disk), the file is closed, "Error writing log file" is
// reported once on stderr and further lines are dropped until the path is
// set again or the file is switched off and on.  The stderr destination
// ignores its own failures.

#include <cstdint>
#include <cstdio>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/FilePtr.h"
#include "qocore/base/plat/LogDest.h"
#include "qocore/base/plat/Mutex.h"
#include "qocore/base/plat/Time.h"

namespace plat {

class LogDestFile;

// Told when a log file reaches its size limit (writing has stopped).
class LogSizeLimitCallback {
 public:
  virtual ~LogSizeLimitCallback() = default;
  virtual void logSizeLimitReached(LogDestFile& dest) = 0;
};

class LogDestFile : public LogDest {
 public:
  // `name` as for LogDest.  The program name is copied; the host name is
  // read now.  With a stream the destination writes to it from the start
  // (and closes it at the end when it owns it); the colour flag is set when
  // the stream is a colour terminal.
  LogDestFile(const char* name, const char* programName, FILE* stream = nullptr, bool ownStream = false);
  ~LogDestFile() override;

  // The "stderr" destination, made on the first call.
  static LogDestFile* stderrDest(const char* programName);
  // The "file" destination, made on the first call with no file, together
  // with the manager that follows `LogDir` and `LogFile`; with
  // logToFileNow it is switched on and the file opened at once.
  static LogDestFile* fileDest(const char* programName, bool logToFileNow);
  // A text applied in place of the `Log` parameter's value while set (null
  // goes back to the parameter); setting or clearing it re-applies the
  // bindings at once.
  static void setLogOverride(const char* text);

  void write(int level, const char* source, const char* text) override;
  // True when a path is set or a stream is open.
  bool ready() override;

  // A new path (null for none) closes the open file; the next message
  // opens it.  Also resumes writing stopped by the size limit or a write
  // failure.
  void setPath(const char* path);
  CharArray path();
  // Opens the file now when a path is set and nothing is open; true when a
  // file is open afterwards.
  bool open();
  // When the open file is no longer the one the path names (moved away or
  // replaced), closes it and opens the path again.
  void reopenIfMoved();
  // With a limit (0 = none), writing stops and the file closes once it
  // reaches that many bytes; the callback is then told.  Setting it
  // resumes writing.
  void setSizeLimit(int64_t bytes, LogSizeLimitCallback* callback);
  // After each open, make descriptor 2 a copy of the log file's.
  void setRedirectStderr(bool on);
  bool isColour() const noexcept { return colour_; }

 private:
  void openLocked() PLAT_REQUIRES(mutex_);
  void openPath(const char* path) PLAT_REQUIRES(mutex_);
  void closeLocked() noexcept PLAT_REQUIRES(mutex_);
  void writeLineLocked(int level, const char* source, const char* text) PLAT_REQUIRES(mutex_);
  // A failed write or flush: an owned file is closed and reported once,
  // a borrowed stream is left alone.
  void writeFailed(const char* call, int error) PLAT_REQUIRES(mutex_);
  void updateReady() noexcept PLAT_REQUIRES(mutex_);
  // timeText_ becomes the UTC time of a full line for `now`.
  void updateTimeText(TimeValue now) PLAT_REQUIRES(mutex_);

  CharArray programName_;
  CharArray hostName_;
  Mutex mutex_;
  CharArray path_ PLAT_GUARDED_BY(mutex_);
  // What the open file was opened as (the default path after a fallback).
  CharArray openPath_ PLAT_GUARDED_BY(mutex_);
  DString timeText_ PLAT_GUARDED_BY(mutex_);
  // The whole second timeText_ was last formatted for in full; -1 for
  // none.
  TimeValue timeTextSecond_ PLAT_GUARDED_BY(mutex_) = -1;
  FilePtr file_ PLAT_GUARDED_BY(mutex_);  // an owned stream
  FILE* const borrowed_;                  // a stream the destination does not own (stderr)
  bool stopped_ PLAT_GUARDED_BY(mutex_) = false;
  int64_t sizeLimit_ PLAT_GUARDED_BY(mutex_) = 0;
  LogSizeLimitCallback* sizeLimitCallback_ PLAT_GUARDED_BY(mutex_) = nullptr;
  bool bannerWritten_ PLAT_GUARDED_BY(mutex_) = false;
  bool colour_ = false;
  bool redirectStderr_ PLAT_GUARDED_BY(mutex_) = false;
  std::atomic<bool> ready_{false};
};

// Switches the "file" destination on (its path follows `LogDir` and
// `LogFile`) or off (no path, file closed).  A call that changes nothing
// does nothing; before the destination exists the state is remembered.
void setLogToFile(bool on);

// Text written at the top of each log file (word-wrapped at 79 columns);
// null for none.
void setLogBanner(const char* text);

}  // namespace plat
