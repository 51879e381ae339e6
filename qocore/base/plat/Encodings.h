#pragma once
// Conversions between bytes and text: Base64, hexadecimal, a hex dump for
// debugging, words from a built-in list (for random strings a person can
// read out) and random version-4 UUID bytes.  The number parsers are in
// NumberParse.h.
//
// New text comes back as a CharArray; binary values as MBuf<unsigned char>.

#include <cstdint>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/MBuf.h"

namespace plat {

// ---- Base64 ----

// The standard alphabet ("+/") with "=" padding, or the URL-safe one ("-_")
// with the padding left out.  Empty input gives "".
CharArray base64Encode(const void* bytes, int length, bool urlSafe);

// Decodes either alphabet (even mixed) into `out`, replacing its contents;
// a secure `out` keeps the result secure.  Refuses (false, `out` as it
// was) a null text, a length of 4k + 1, a byte outside both alphabets, and
// "=" anywhere but as the last one or two characters of a group that ends
// the text.  Unpadded endings are accepted.
[[nodiscard]] bool base64Decode(const char* text, MBuf<unsigned char>& out);

// ---- Hexadecimal ----

// '0'-'9', 'a'-'f'; any other value throws AssertionFail.
char hexDigit(int i);

// 2 * length lower-case digits, high nibble first; length <= 0 gives "".
CharArray binToHex(int length, const void* bytes);

// The value of a hexadecimal digit (either case), or -1 for any other
// character.  Every hex decoder reads its digits through this.
constexpr int hexNibble(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// For a hexadecimal digit (either case), sets *accumulator to
// *accumulator * 16 + its value and returns true; any other character
// returns false and leaves the accumulator alone.
[[nodiscard]] bool hexDigitValue(char c, uint64_t* accumulator) noexcept;

// Decodes hex digits (either case, two per byte, high nibble first) into
// `out`, replacing its contents; the empty text gives an empty buffer.  A
// null text, an odd length, a text of more bytes than a buffer can count
// (2^32 digits and up) or a non-hex character returns false and leaves
// `out` as it was.
[[nodiscard]] bool hexToBuffer(const char* text, MBuf<unsigned char>& out);

// Decodes exactly n bytes from the first 2n digits of text into out.  False
// at the first bad digit (including the text ending early), with the bytes
// before it already written; n < 1 is true and writes nothing.
[[nodiscard]] bool hexDecodeInto(const char* text, int n, unsigned char* out);

// hexToBuffer's result, or Exception "Bad hex string".
MBuf<unsigned char> hexToBin(const char* text);

// Writes the bytes to stderr, 16 to a line: each "%02x ", an extra blank
// after every fourth, then the printable characters ('.' for the rest).
// The first line starts with firstPrefix and later ones with nextPrefix; a
// null prefix is replaced by the line's offset as "%04x ".
void hexDump(const MBuf<unsigned char>& buffer, const char* firstPrefix, const char* nextPrefix);

// ---- Words ----

// The word table: entry 0 is null, entries 1 to kMainWords are the main
// words, and the last kMarkerWords entries (all of three letters) mark a
// final group of three bytes.
constexpr int kMainWords = 1626;
constexpr int kMarkerWords = 7;
constexpr int kWordTableSize = 1 + kMainWords + kMarkerWords;
extern const char* const kWordTable[kWordTableSize];

// The bytes as words: each group of four bytes (read little-endian) gives
// three words, which carry 1626^3 > 2^32 values; a final group of 1, 2 or
// 3 bytes gives 1, 2 or 3 words, the third of these from the marker words
// so that three bytes and four bytes never read alike.  (3n + 3) / 4 words.
CharArrayList wordEncode(const void* bytes, int length);

// Word `index` of that encoding without building the rest; null (the
// table's entry 0) when index is out of range.
const char* wordAt(const void* bytes, int length, int index);

// ---- UUIDs ----

// 16 random bytes from crypto::RandomStream with the version-4 and variant
// bits set (RFC 4122): byte 6 = 0x4X, byte 8 = 0b10XXXXXX.
void makeUuid(unsigned char* out);

// Copies the first 16 bytes of `bytes` (zero-filling when there are fewer)
// and sets the same bits.
void setUuidBits(unsigned char* out, const MBuf<unsigned char>& bytes);

}  // namespace plat
