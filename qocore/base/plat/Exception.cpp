#include "qocore/base/plat/Exception.h"

#include <cerrno>
#include <cstring>

#include "qocore/base/plat/Strings.h"

namespace plat {

Exception::Exception() noexcept {
  msg_[0] = '\0';
  type_[0] = '\0';
}

Exception::Exception(const char* message) noexcept : Exception() { setMessage(message); }

Exception::~Exception() = default;

void Exception::format(char (&out)[kMsgSize], const char* fallback) const noexcept {
  out[0] = '\0';
  if (type_[0]) safeSnprintfAppend(out, kMsgSize, "[%s] ", type_);
  safeStrAppend(out, kMsgSize, msg_[0] ? msg_ : fallback);
}

void Exception::formatMessage(const char* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  vformatMessage(format, args);
  va_end(args);
}

void Exception::vformatMessage(const char* format, va_list args) noexcept {
  safeVsnprintfAppend(msg_, kMsgSize, format, args);
}

void Exception::setMessage(const char* message) noexcept {
  msg_[0] = '\0';
  safeStrAppend(msg_, kMsgSize, message);
}

void Exception::appendMessage(const char* text) noexcept { safeStrAppend(msg_, kMsgSize, text); }

void Exception::setType(const char* type) noexcept {
  type_[0] = '\0';
  safeStrAppend(type_, kTypeSize, type);
}

void Exception::setTypef(const char* format, ...) noexcept {
  type_[0] = '\0';
  va_list args;
  va_start(args, format);
  safeVsnprintfAppend(type_, kTypeSize, format, args);
  va_end(args);
}

AssertionFail::AssertionFail(const char* expression, const char* file, int line) noexcept
    : expr_(expression), file_(file), line_(line) {
  setType("AssertionFail");
  formatMessage("Assertion '%s' failed at %s:%d", expression, file, line);
}

void AssertionFail::appendf(const char* format, ...) noexcept {
  appendMessage(": ");
  va_list args;
  va_start(args, format);
  vformatMessage(format, args);
  va_end(args);
}

SystemException::SystemException(const char* message, int error) noexcept : Exception(message), err_(error) {
  setError(error);
}

SystemException::SystemException(FromErrno) noexcept : err_(errno) {}

SystemException::SystemException(int error) noexcept : err_(error) {}

void SystemException::setError(int error) noexcept {
  err_ = error;
  setTypef("System-%d", error);
  if (msg_[0]) appendMessage(": ");
  if (error == 0) {
    appendMessage("Success");
  } else {
    // glibc's strerror_r under g++ is the GNU form: it returns the text,
    // which may be a static string rather than our buffer.
    char text[kMsgSize];
    text[0] = '\0';
    const char* s = strerror_r(error, text, sizeof text);
    appendMessage(s && *s ? s : "Unknown error");
  }
  char code[24];
  code[0] = '\0';
  safeSnprintfAppend(code, sizeof code, " (%d)", error);
  appendMessage(code);
}

SystemExceptionFmt::SystemExceptionFmt(const char* format, int error, ...) noexcept : SystemException(error) {
  va_list args;
  va_start(args, error);
  vformatMessage(format, args);
  va_end(args);
  setError(error);
}

StdlibException::StdlibException(const char* format, ...) noexcept : SystemException(FromErrno{}) {
  int error = err_;
  va_list args;
  va_start(args, format);
  vformatMessage(format, args);
  va_end(args);
  setError(error);
}

BadNum::BadNum(const char* message) noexcept : Exception(message) {}

TimedOut::TimedOut(const char* message) noexcept : Exception(message) { setType("TimedOut"); }

ExceptionFmt::ExceptionFmt(const char* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  vformatMessage(format, args);
  va_end(args);
}

}  // namespace plat
