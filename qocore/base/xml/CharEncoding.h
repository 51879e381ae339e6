#pragma once
// Character encodings of XML text and the process-wide parse options.
//
// The parser and the writers step through text one character at a time
// with the lead-byte table of the current encoding, so that no byte inside
// a multi-byte character is ever taken for markup.  The options are one set
// for the whole process and unguarded: parsing belongs to one thread.

namespace xml {

enum Encoding : int {
  kEncodingUnknown = 0,  // only as a guess
  kUtf8 = 1,
  kSingleByte = 2,  // every byte one character
  kShiftJis = 3,
  kGb2312 = 4,
  kBig5 = 5,
  kGbk = 6,
};

struct Options {
  int encoding = kUtf8;
  // Kept as an option; text is always read as bytes.
  bool guessWideChars = true;
  // Trim texts and drop texts of white space alone.
  bool dropWhiteSpace = true;
  // Fold "text, comment, text" into one text.
  bool removeComments = true;
};

// The options in force.
const Options& globalOptions() noexcept;

// Sets the three flags, and the encoding when it lies within 1 to 6
// (returning 0); any other encoding is left as it was and 1 is returned.
int setGlobalOptions(int encoding, bool guessWideChars, bool dropWhiteSpace, bool removeComments) noexcept;

namespace detail {
// Character length by lead byte, per encoding (row 0 stands in for an
// unknown encoding and reads every byte alone); 0 for the NUL.
struct LeadTables {
  unsigned char len[7][256];
};
extern const LeadTables kLeadLength;

// The same tables as escaping reads them, so that one look-up per byte
// finds where a run of text copied as it is ends: 0 for a byte that is a
// character alone and stands for itself, kEscapeStop for the NUL and the
// five characters with an entity (& < > " '), otherwise the length of the
// character it begins (2 to 4).
inline constexpr unsigned char kEscapeStop = 1;
extern const LeadTables kEscapeKind;
}  // namespace detail

// The length of the character that begins at p in the given encoding: 1
// to 4 by its lead byte, cut short at a NUL so that stepping never passes
// the end of the text; 0 at the NUL itself.  p must not be null.
inline int charLength(int encoding, const char* p) noexcept {
  const int row = (encoding >= kUtf8 && encoding <= kGbk) ? encoding : 0;
  const int n = detail::kLeadLength.len[row][static_cast<unsigned char>(p[0])];
  if (n <= 1) return n;
  for (int i = 1; i < n; ++i) {
    if (p[i] == '\0') return i;
  }
  return n;
}

}  // namespace xml
