#pragma once
// Stands in for the platform's immutable string object.  It keeps UTF-8
// bytes; like the platform's, building one from bytes that are not valid
// UTF-8 answers null rather than a string, which callers must handle.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

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
  // The byte length of the UTF-8 text (lengthOfBytesUsingEncoding:).
  size_t length() const noexcept { return length_; }
  size_t byteLength() const noexcept { return length_; }

  // The platform indexes strings by UTF-16 units: `utf16Length` is its
  // `length`, `characterAt` its characterAtIndex: (0 past the end).
  size_t utf16Length() const { return units().size(); }
  uint16_t characterAt(size_t index) const;
  // The whole text as UTF-16 units (getCharacters:).
  const std::vector<uint16_t>& characters() const { return units(); }
  // substringWithRange:: an autoreleased string of the units from
  // `location`; null when the range does not fit or splits a surrogate
  // pair.
  String* substring(size_t location, size_t count) const;
  // A new string (one reference, the caller's) of UTF-16 units; null
  // when they hold a lone surrogate.
  static String* fromUtf16(const uint16_t* units, size_t count);
  // Strings are immutable: a copy is the same object with one more
  // reference.
  String* copy() noexcept { return static_cast<String*>(retain()); }

 private:
  String(plat::CharArray text, size_t length) noexcept : text_(std::move(text)), length_(length) {}
  // `length_` bytes (NULs among them kept) and a terminating NUL.
  const std::vector<uint16_t>& units() const;

  plat::CharArray text_;
  size_t length_;
  // The UTF-16 form, made on first use.
  mutable std::vector<uint16_t> units_;
  mutable bool haveUnits_ = false;
};

}  // namespace objc
