#pragma once
// Stands in for the platform's immutable string object.  It keeps UTF-8
// bytes; like the platform's, building one from bytes that are not valid
// UTF-8 answers null rather than a string, which callers must handle.

#include <cstddef>
#include <utility>

#include "platform/objc/Object.h"
#include "qocore/base/plat/CharArray.h"

namespace objc {

class String : public Object {
 public:
  // initWithBytes:length:encoding: with UTF-8: a new string (one
  // reference, the caller's), or null when the bytes are malformed.
  static String* create(const char* bytes, size_t length);
  // stringWithUTF8String:: an autoreleased string of a NUL-terminated
  // text; null for a null or malformed text.
  static String* withUtf8(const char* text);

  // The UTF-8 text, NUL-terminated; valid while the string lives.
  const char* utf8() const noexcept { return text_.c_str(); }
  size_t length() const noexcept { return length_; }
  // Strings are immutable: a copy is the same object with one more
  // reference.
  String* copy() noexcept { return static_cast<String*>(retain()); }

 private:
  String(plat::CharArray text, size_t length) noexcept : text_(std::move(text)), length_(length) {}
  // `length_` bytes (NULs among them kept) and a terminating NUL.
  plat::CharArray text_;
  size_t length_;
};

}  // namespace objc
