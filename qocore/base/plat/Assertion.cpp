// The fatal and non-fatal assertion handlers.

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/StackTrace.h"
#include "qocore/base/plat/Strings.h"

namespace plat {

const char* volatile lastAssertionMessage = nullptr;

namespace {

PLAT_LOG_SOURCE(assertionLog, "Assertion");

void logLine(const char* line) { assertionLog().error("%s", line); }

constinit assertion_hooks::LogFn logHook = &logLine;
constinit assertion_hooks::FlushFn flushHook = nullptr;

// Set by the first fatal assertion and never cleared: a failure while the
// handler runs (inside logging, say) ends the process at once.
constinit std::atomic<bool> handling{false};

[[noreturn]] void endProcess(const AssertionFail& assertion) noexcept {
  lastAssertionMessage = assertion.str();
  abort();
}

}  // namespace

namespace assertion_hooks {
void setLog(LogFn fn) noexcept { logHook = fn ? fn : &logLine; }
void setFlush(FlushFn fn) noexcept { flushHook = fn; }
}  // namespace assertion_hooks

void assertionFailed(const AssertionFail& assertion) noexcept {
  if (handling.exchange(true)) endProcess(assertion);

  fprintf(stderr, "%s\n", assertion.str());
  try {
    logHook(assertion.str());
    CharArrayList frames;
    captureStackTrace(frames);
    for (const CharArray& frame : frames) {
      char line[Exception::kMsgSize * 2] = "stacktrace: ";
      safeStrAppend(line, sizeof line, frame.get());
      logHook(line);
    }
    if (flushHook) flushHook();
  } catch (...) {
    // Nothing may stop the process from ending now.
  }
  endProcess(assertion);
}

void assertionWarning(const AssertionFail& assertion) noexcept {
  try {
    char line[Exception::kMsgSize + 16] = "Warning: ";
    safeStrAppend(line, sizeof line, assertion.str());
    logHook(line);
  } catch (...) {
    // A warning never stops the caller.
  }
}

}  // namespace plat
