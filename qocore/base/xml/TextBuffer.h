#pragma once
// xml::TextBuffer: a reusable holder of an escaped text, for callers that
// escape many values one after another.  Escaping replaces "&", "<", ">",
// the double quote and the apostrophe by their entities and copies every
// other character whole.

#include <cstddef>
#include <cstring>

#include "qocore/base/xml/CharEncoding.h"

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

// The row of kEscapeKind for an encoding.
inline const unsigned char* escapeKinds(int encoding) noexcept {
  return kEscapeKind.len[(encoding >= kUtf8 && encoding <= kGbk) ? encoding : 0];
}

// The end of the run from p that escaping copies as it is: the first NUL
// or character with an entity.  A character of several bytes is stepped
// over whole, as charLength steps (cut short at a NUL), so that none of
// its bytes is taken for markup.
inline const char* plainRunEnd(const char* p, const unsigned char* kinds) noexcept {
  for (;;) {
    // Most text is runs of plain bytes: four at a time, stopping at the
    // first byte that is not (so never reading past the NUL).
    while (kinds[static_cast<unsigned char>(p[0])] == 0) {
      if (kinds[static_cast<unsigned char>(p[1])] != 0) {
        p += 1;
        break;
      }
      if (kinds[static_cast<unsigned char>(p[2])] != 0) {
        p += 2;
        break;
      }
      if (kinds[static_cast<unsigned char>(p[3])] != 0) {
        p += 3;
        break;
      }
      p += 4;
    }
    const unsigned kind = kinds[static_cast<unsigned char>(*p)];
    if (kind == 0) continue;
    if (kind == kEscapeStop) return p;
    const char* end = p + kind;
    for (++p; p < end && *p; ++p) {
    }
  }
}

// The room putEntity needs (the longest entity is 6 bytes).
inline constexpr size_t kEntityRoom = 8;

// Writes the entity of one of the five characters that have one and
// returns its end; out has room for kEntityRoom bytes, all of which may
// be overwritten.
inline char* putEntity(char* out, char c) noexcept {
  // Each entity padded to the 8 bytes copied at once, its length last.
  static constexpr char kEntities[5][8] = {
      {'&', 'a', 'm', 'p', ';', 0, 0, 5},   {'&', 'l', 't', ';', 0, 0, 0, 4},     {'&', 'g', 't', ';', 0, 0, 0, 4},
      {'&', 'q', 'u', 'o', 't', ';', 0, 6}, {'&', 'a', 'p', 'o', 's', ';', 0, 6},
  };
  const int i = c == '&' ? 0 : c == '<' ? 1 : c == '>' ? 2 : c == '"' ? 3 : 4;
  std::memcpy(out, kEntities[i], kEntityRoom);
  return out + kEntities[i][7];
}
}  // namespace detail

}  // namespace xml
