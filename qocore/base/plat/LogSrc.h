#pragma once
// plat::LogSrc: a named log source.  Every component declares one from its
// static initialiser and writes printf-style messages, each at a level
// (lower is more important): 0 error, 30 information, 100 debug, 110
// verbose.
//
// Until configurable destinations exist, every message goes to one sink, a
// constant-initialised function pointer that is valid during static
// initialisation.  The default sink writes "<source>: <message>" to stderr
// for levels up to 10 and drops the rest; tests install their own.

#include <cstdarg>
#include <cstdint>

namespace plat {

class LogSrc {
 public:
  static constexpr int kError = 0;
  static constexpr int kInfo = 30;
  static constexpr int kDebug = 100;
  static constexpr int kVerbose = 110;
  // Messages are formatted into a buffer of this size, cut at a whole
  // UTF-8 sequence.
  static constexpr int kMaxMessage = 4096;

  // `name` is static text; it is not copied.
  explicit LogSrc(const char* name) noexcept;
  virtual ~LogSrc();
  LogSrc(const LogSrc&) = delete;
  LogSrc& operator=(const LogSrc&) = delete;

  void error(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void info(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void debug(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void verbose(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void write(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void vlog(int level, const char* format, va_list args);
  // One message per line of text; empty lines are skipped.
  void writeLines(int level, const char* text);

  const char* name() const noexcept { return name_; }
  int level() const noexcept { return level_; }
  LogSrc* next() const noexcept { return next_; }
  // The process-wide list of sources, newest first.
  static LogSrc* first() noexcept;

 protected:
  // Hands one formatted message on.
  void deliver(int level, const char* text);

  const char* name_;
  int32_t level_;
  LogSrc* next_;
  bool constructed_;
};

namespace log_sink {
using SinkFn = void (*)(const char* source, int level, const char* text);
// Installs a sink (null restores the default) and returns the previous one.
SinkFn set(SinkFn sink) noexcept;
SinkFn get() noexcept;
void defaultSink(const char* source, int level, const char* text);
}  // namespace log_sink

}  // namespace plat
