#pragma once
// The failure types of the platform core.
//
// plat::Exception is a root class of its own (not std::exception): a
// self-contained value with a fixed 256-byte message and 64-byte type name,
// so throwing never allocates and a long text is cut silently at a whole
// UTF-8 sequence.  Handlers catch by class and print the text form that
// format() writes.

#include <cstdarg>
#include <cstdint>

namespace plat {

class Exception {
 public:
  static constexpr int kMsgSize = 256;
  static constexpr int kTypeSize = 64;

  Exception() noexcept;
  // Copies the message; null gives an empty message.
  explicit Exception(const char* message) noexcept;
  // printf-style message (at least one argument after the format; a lone
  // text is always taken as it stands).
  template <typename... Args>
  requires(sizeof...(Args) > 0) Exception(const char* format, Args... args)
  noexcept : Exception() { formatMessage(format, args...); }
  virtual ~Exception();

  Exception(const Exception&) noexcept = default;
  Exception& operator=(const Exception&) noexcept = default;

  const char* str() const noexcept { return msg_; }
  const char* typeName() const noexcept { return type_; }

  // The text form: "[type] message" when a type is set, else the message;
  // an empty message is replaced by `fallback` when given.  `out` is
  // cleared first and always NUL-terminated.
  void format(char (&out)[kMsgSize], const char* fallback = nullptr) const noexcept;

  // Appends printf-style text to the message of an exception under
  // construction.
  void formatMessage(const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));
  void vformatMessage(const char* format, va_list args) noexcept;

 protected:
  void setMessage(const char* message) noexcept;
  void appendMessage(const char* text) noexcept;
  void setType(const char* type) noexcept;
  void setTypef(const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));

  char msg_[kMsgSize];
  char type_[kTypeSize];
};

// A failed internal invariant: "Assertion '%s' failed at %s:%d".
class AssertionFail : public Exception {
 public:
  AssertionFail(const char* expression, const char* file, int line) noexcept;

  // Appends ": " and the formatted detail to the message.
  void appendf(const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));

  const char* expression() const noexcept { return expr_; }
  const char* file() const noexcept { return file_; }
  int32_t line() const noexcept { return line_; }

 private:
  const char* expr_;  // static text, borrowed
  const char* file_;  // static text, borrowed
  int32_t line_;
};

// A failing system call: the message names the call, the type is
// "System-<errno>" and the message ends in ": <error text> (<errno>)".
class SystemException : public Exception {
 public:
  SystemException(const char* message, int error) noexcept;
  int error() const noexcept { return err_; }

 protected:
  struct FromErrno {};
  // Takes the error number from errno before anything else can change it.
  explicit SystemException(FromErrno) noexcept;
  explicit SystemException(int error) noexcept;
  // Stores the error number, writes the type name and appends the C
  // library's text for it.
  void setError(int error) noexcept;

  int32_t err_;
};

class SystemExceptionFmt : public SystemException {
 public:
  SystemExceptionFmt(const char* format, int error, ...) noexcept __attribute__((format(printf, 2, 4)));
};

// A failing C library call; the error number is errno at construction.
class StdlibException : public SystemException {
 public:
  explicit StdlibException(const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));
};

// A number that failed to parse; no type name.
class BadNum : public Exception {
 public:
  explicit BadNum(const char* message) noexcept;
};

class TimedOut : public Exception {
 public:
  explicit TimedOut(const char* message) noexcept;
};

// Exception::format's text in a buffer of its own, for a log line or a
// reply: "[type] message" when a type is set, else the message.
struct FormattedText {
  explicit FormattedText(const Exception& e) noexcept { e.format(text); }
  char text[Exception::kMsgSize];
};

// A plain exception with a printf-formatted message and no type.
class ExceptionFmt : public Exception {
 public:
  ExceptionFmt(const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));
};

// The fatal handler: writes the failure to stderr and the log with a stack
// trace and aborts.  A failure while it runs aborts at once.
[[noreturn]] void assertionFailed(const AssertionFail& assertion) noexcept;

// The non-fatal form: logs "Warning: <message>" and returns.
void assertionWarning(const AssertionFail& assertion) noexcept;

// Hooks that later layers fill.  Both are constant-initialised, so they are
// valid during static initialisation.
namespace assertion_hooks {
// Logs one line at level 0 through the "Assertion" source.  May throw; the
// handlers swallow it.
using LogFn = void (*)(const char* line);
// Flushes a child process's log channel to its parent before the end.
using FlushFn = void (*)();
void setLog(LogFn fn) noexcept;
void setFlush(FlushFn fn) noexcept;
}  // namespace assertion_hooks

// The text of the last fatal assertion, kept for post-mortem inspection
// (null until one fails).
extern const char* volatile lastAssertionMessage;

}  // namespace plat

// Assertion points.  The file name is relative to the repository (the
// build maps the source root away).
#define PLAT_ASSERT(expr)                                                        \
  do {                                                                           \
    if (!(expr)) [[unlikely]]                                                    \
      ::plat::assertionFailed(::plat::AssertionFail(#expr, __FILE__, __LINE__)); \
  } while (0)

// With a printf-style detail appended after ": ".
#define PLAT_ASSERT_MSG(expr, ...)                                        \
  do {                                                                    \
    if (!(expr)) [[unlikely]] {                                           \
      ::plat::AssertionFail plat_assert_fail_(#expr, __FILE__, __LINE__); \
      plat_assert_fail_.appendf(__VA_ARGS__);                             \
      ::plat::assertionFailed(plat_assert_fail_);                         \
    }                                                                     \
  } while (0)

// Assertion points whose text is part of the behaviour (a message the
// design documents, or one callers and tests match): the text is given,
// printed exactly, and free of the expression's spelling, which is
// evaluated as written.  An optional printf-style detail is appended after
// ": ", as with PLAT_ASSERT_MSG.  The text is a string literal: the
// exception borrows it.
//
// PLAT_ASSERT_TEXT is fatal, like PLAT_ASSERT.
#define PLAT_ASSERT_TEXT(expr, text, ...)                                   \
  do {                                                                      \
    if (!(expr)) [[unlikely]] {                                             \
      ::plat::AssertionFail plat_assert_fail_(text "", __FILE__, __LINE__); \
      __VA_OPT__(plat_assert_fail_.appendf(__VA_ARGS__);)                   \
      ::plat::assertionFailed(plat_assert_fail_);                           \
    }                                                                       \
  } while (0)

// PLAT_REQUIRE_TEXT is for misuse the caller handles as an ordinary
// failure: it throws the plat::AssertionFail and logs nothing.
#define PLAT_REQUIRE_TEXT(expr, text, ...)                                  \
  do {                                                                      \
    if (!(expr)) [[unlikely]] {                                             \
      ::plat::AssertionFail plat_assert_fail_(text "", __FILE__, __LINE__); \
      __VA_OPT__(plat_assert_fail_.appendf(__VA_ARGS__);)                   \
      throw plat_assert_fail_;                                              \
    }                                                                       \
  } while (0)
