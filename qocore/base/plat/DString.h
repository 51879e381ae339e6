#pragma once
// plat::DString: a growable NUL-terminated UTF-8 string.  The buffer is
// null until something is stored (and reads as "" everywhere); every growth
// takes the smallest power of two that fits, at least 8 bytes.
//
// The string keeps its length, so appending costs the appended bytes
// only, however long the text already is.

#include <cstdarg>
#include <cstdint>

#include "qocore/base/plat/CharArray.h"

namespace plat {

class DString {
 public:
  DString() noexcept = default;
  // Starts with room for `capacity` bytes (NUL included).
  explicit DString(int capacity);
  // Starts with the printf-style formatting of the arguments.
  DString(const char* format, ...) __attribute__((format(printf, 2, 3)));
  DString(const DString& other);
  DString(DString&& other) noexcept;
  DString& operator=(const DString& other);
  DString& operator=(DString&& other) noexcept;
  ~DString() { delete[] buf_; }

  // A new heap string made by printf-style formatting.
  static CharArray format(const char* format, ...) __attribute__((format(printf, 1, 2)));

  const char* c_str() const noexcept { return buf_ ? buf_ : ""; }
  // The buffer itself (null while nothing was stored); writable up to
  // capacity() - 1 bytes, NUL-terminated by the writer.  Handing it out
  // makes the string measure its text again at its next use, so write
  // through it before calling any other member.
  char* buf() noexcept {
    len_ = kUnmeasured;
    return buf_;
  }
  int capacity() const noexcept { return capacity_; }
  int length() const noexcept {
    if (len_ == kUnmeasured) measure();
    return len_;
  }
  bool empty() const noexcept { return !buf_ || !*buf_; }

  // Makes room for n bytes, NUL included; text is kept.
  void reserve(int n);
  // Appends the first len bytes of text (an embedded NUL ends the copy); a
  // null text changes nothing.
  DString& append(const char* text, int len = -1);
  DString& appendf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  DString& vappendf(const char* format, va_list args);
  // Appends a code point n times as UTF-8; n < 1 appends nothing.
  DString& appendChars(int32_t codepoint, int n = 1);
  // Replaces bytes [from, to) by the first `length` bytes of text; does
  // nothing unless 0 <= from <= to <= length().
  void splice(int from, int to, const char* text, int length = -1);
  // Appends to out a copy of text with every occurrence of needle replaced,
  // left to right without overlap.  An empty needle is a fatal assertion.
  static void replaceAll(DString& out, const char* text, const char* needle, const char* replacement);
  void replaceAll(const char* needle, const char* replacement);
  // Replaces invalid UTF-8 by its sanitised copy (capacity then the exact
  // size); true when a repair was needed.
  bool makeValidUtf8();
  // Re-flows the text at `width` code points, continuing lines with
  // `indent` blanks.
  void wordWrap(int width, int indent);
  void assign(const DString& other);
  void assign(const char* text, int len = -1);
  void clear() noexcept;
  // Hands the buffer to the caller and leaves the string empty.
  CharArray release() noexcept;

 private:
  // Ensures room for a text of newLen bytes plus the NUL.
  void grow(int newLen);

  static constexpr int32_t kUnmeasured = -1;
  // Sets len_ from the text (after writes through buf()).
  void measure() const noexcept;

  char* buf_ = nullptr;
  int32_t capacity_ = 0;
  // The text's length, or kUnmeasured.
  mutable int32_t len_ = 0;
};

}  // namespace plat
