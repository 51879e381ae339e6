#include "qocore/base/plat/LogSrc.h"

#include <cstdio>
#include <cstring>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Strings.h"

namespace plat {

namespace {
// Constant-initialised, so sources built by any static initialiser can
// link themselves in and log.
constinit LogSrc* firstSource = nullptr;
constinit log_sink::SinkFn sink = &log_sink::defaultSink;
}  // namespace

namespace log_sink {
SinkFn set(SinkFn fn) noexcept {
  SinkFn old = sink;
  sink = fn ? fn : &defaultSink;
  return old;
}

SinkFn get() noexcept { return sink; }

void defaultSink(const char* source, int level, const char* text) {
  if (level <= 10) fprintf(stderr, "%s: %s\n", source, text);
}
}  // namespace log_sink

LogSrc::LogSrc(const char* name) noexcept : name_(name), level_(0x7fffffff), next_(firstSource), constructed_(true) {
  firstSource = this;
}

LogSrc::~LogSrc() {
  for (LogSrc** p = &firstSource; *p; p = &(*p)->next_) {
    if (*p == this) {
      *p = next_;
      break;
    }
  }
  constructed_ = false;
}

LogSrc* LogSrc::first() noexcept { return firstSource; }

void LogSrc::error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vlog(kError, format, args);
  va_end(args);
}

void LogSrc::info(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vlog(kInfo, format, args);
  va_end(args);
}

void LogSrc::debug(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vlog(kDebug, format, args);
  va_end(args);
}

void LogSrc::verbose(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vlog(kVerbose, format, args);
  va_end(args);
}

void LogSrc::write(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vlog(level, format, args);
  va_end(args);
}

void LogSrc::vlog(int level, const char* format, va_list args) {
  char text[kMaxMessage];
  text[0] = '\0';
  safeVsnprintfAppend(text, sizeof text, format, args);
  deliver(level, text);
}

void LogSrc::writeLines(int level, const char* text) {
  if (!text) return;
  while (*text) {
    const char* end = strchr(text, '\n');
    int len = end ? int(end - text) : int(strlen(text));
    if (len > 0) write(level, "%.*s", len, text);
    text += len;
    if (*text == '\n') ++text;
  }
}

void LogSrc::deliver(int level, const char* text) {
  // A source used by another static initialiser before its own ran.
  bool constructed = constructed_;
  PLAT_ASSERT(constructed);
  sink(name_, level, text);
}

}  // namespace plat
