#pragma once
// xml::TextBuffer: a reusable holder of an escaped text, for callers that
// escape many values one after another.  Escaping replaces "&", "<", ">",
// the double quote and the apostrophe by their entities and copies every
// other character whole.

#include <cstddef>

namespace xml {

class TextBuffer {
 public:
  TextBuffer() noexcept = default;
  ~TextBuffer() { clear(); }
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  // Fills the holder with the escaped form of text, after repairing text
  // that is not valid UTF-8 (each malformed sequence becomes U+FFFD), and
  // returns it.  A null text leaves an empty text.  The held block is
  // reused while its capacity exceeds the escaped length.
  const char* setEscaped(const char* text);
  // Wipes and frees the held text; the capacity becomes 0.
  void clear() noexcept;

  // The held text, or null.
  const char* text() const noexcept { return text_; }
  // Its block size in bytes.
  int capacity() const noexcept { return capacity_; }

 private:
  char* text_ = nullptr;
  int capacity_ = 0;
};

namespace detail {
// The escaped length of a NUL-terminated text stepped through in the given
// encoding.
size_t escapedLength(const char* text, int encoding) noexcept;
// Writes the escaped form (escapedLength bytes, no NUL) and returns the
// end of what it wrote.
char* writeEscaped(char* out, const char* text, int encoding) noexcept;
}  // namespace detail

}  // namespace xml
