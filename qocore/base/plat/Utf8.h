#pragma once
// UTF-8 text: the one decoder every layer steps through text with, the
// encoder, validation and repair, display width, ISO-8859-1 conversion, a
// visible escaping of control characters, and the exception for bad text.
//
// Ranges take a start and an end pointer; a null end means up to the NUL,
// and a NUL code point always ends the text.  Valid UTF-8 here excludes
// overlong forms, surrogates, code points above U+10FFFF and the
// noncharacters U+FDD0..U+FDEF and U+xxFFFE/U+xxFFFF.

#include <cstdint>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/MBuf.h"

namespace plat {

class DString;

// Decodes the sequence whose lead byte (0x80 or above) was just read;
// *cursor is on the byte after the lead, and `available` counts the bytes
// from the lead on (4 when the end is unknown).  Advances *cursor past
// every continuation byte accepted.  Returns -1 when malformed.
int32_t utf8Decode(unsigned char lead, const char** cursor, int available) noexcept;
// Writes the 2, 3 or 4 bytes of a code point of U+0080 or above and
// advances *cursor; above U+10FFFF throws Exception "Unicode out of range".
void utf8Encode(int32_t codepoint, char** cursor);
// Steps back to the first byte of the previous character, never before
// limit and at most four bytes (a null limit allows four).
void utf8Prev(const char** cursor, const char* limit) noexcept;
bool isValidUtf8(const char* start, const char* end = nullptr) noexcept;
// Appends a copy of the text with U+FFFD for each malformed sequence,
// stopping at a NUL; with maxBytes >= 0 it stops before the first character
// that would take the appended output past maxBytes bytes.
void utf8Sanitise(DString& out, const char* start, const char* end = nullptr, int maxBytes = -1);
// Moves a byte range of a NUL-terminated text onto whole characters.
void utf8AdjustRange(const char* text, int* start, int* length) noexcept;
// The number of characters: bytes that are not continuation bytes, up to
// end or the NUL (a malformed sequence counts by its lead bytes).  Text
// layout (word wrap, help columns) measures widths this way.
int utf8CharCount(const char* start, const char* end = nullptr) noexcept;
// The sum of wcwidth over the code points (1 where it is negative); stops
// at a NUL or a malformed sequence.  Depends on the thread's LC_CTYPE.
int utf8DisplayWidth(const char* start, const char* end = nullptr) noexcept;

// One byte per character: U+20AC becomes 0x80, code points below 256 that
// byte, anything else '?'.  The result is NUL-terminated; its count
// excludes the NUL.
MBuf<unsigned char> utf8ToLatin1(const char* text, int length = -1);
// 0x80 becomes U+20AC; reads up to length bytes or the first NUL.  The
// result is NUL-terminated; its count excludes the NUL.
MBuf<unsigned char> latin1ToUtf8(const unsigned char* bytes, int length = -1);
// Printable ASCII and valid characters from U+0080 up stay; the escape
// character is doubled; control characters become escape '^' (c ^ 64);
// each byte of a malformed sequence becomes escape, 'M' when its top bit is
// set, then '^' and (b ^ 64) for b < 33 or 127, otherwise '-' and b.
CharArray utf8Visible(const char* text, char escape);

// '*' matches any run of characters; every other byte matches itself
// (compared with tolower unless caseSensitive).  A null pattern or text is
// false.
bool wildcardMatch(const char* pattern, const char* text, bool caseSensitive) noexcept;

// Text that is not valid UTF-8.  When the debugging switch is on,
// constructing one is a fatal assertion whose detail is the message.
class BadUtf8 : public Exception {
 public:
  explicit BadUtf8(const char* message) noexcept;
  // printf-style (at least one argument after the format).
  template <typename... Args>
  requires(sizeof...(Args) > 0) BadUtf8(const char* format, Args... args)
  noexcept {
    formatMessage(format, args...);
    checkAssert();
  }

 private:
  void checkAssert() const noexcept;
};

// The debugging switch behind BadUtf8: the hidden `_BadUtf8Assert`
// parameter once the configuration exists.
bool badUtf8AssertEnabled() noexcept;

}  // namespace plat
