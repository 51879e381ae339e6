#pragma once
// Free helpers on NUL-terminated UTF-8 strings.  They accept null where a
// text is expected unless said otherwise; a length of -1 (any negative
// value) means up to the NUL.

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>

#include "qocore/base/plat/CharArray.h"

namespace plat {

class DString;

int strLen(const char* s) noexcept;
// Length up to the first NUL but at most n; n < 0 means unbounded.
int strNLen(const char* s, int n) noexcept;
// A new copy of s, or of its first n bytes (stopping at a NUL).
CharArray strDup(const char* s, int n = -1);
// The same with malloc, for C interfaces that release with free().
char* strDupMalloc(const char* s);
// strcmp order; null sorts first, two nulls are equal.
int strCompare(const char* a, const char* b) noexcept;

// Fixed-buffer helpers.  They never allocate and never split a UTF-8
// sequence: text that does not fit is cut back to the last whole
// character, and the buffer always stays NUL-terminated.
//
// Copies at most size-1 bytes; returns the source length, so truncation
// shows as a result >= size.
int safeStrCopy(char* dst, const char* src, int size) noexcept;
// Appends to the text in dst (a buffer of `size` bytes); returns the new
// length.
int safeStrAppend(char* dst, int size, const char* src, int len = -1) noexcept;
// printf-style append; returns the new length.
int safeVsnprintfAppend(char* dst, int size, const char* format, va_list args) noexcept;
int safeSnprintfAppend(char* dst, int size, const char* format, ...) noexcept __attribute__((format(printf, 3, 4)));
// Appends the character `n` times, as many whole copies as fit.
int safeCharsAppend(char* dst, int size, int32_t codepoint, int n) noexcept;
// Appends to the text already in a 256- or 64-byte buffer.
int snprintfBuf(char (&buf)[256], const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));
int snprintfBuf64(char (&buf)[64], const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));
// Formats into a cleared 16-byte buffer.
int formatInto16(char (&buf)[16], const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));

// A null prefix is true; a null s matches only an empty prefix.
bool startsWith(const char* s, const char* prefix) noexcept;
bool startsWithNoCase(const char* s, const char* prefix) noexcept;
bool endsWith(const char* s, const char* suffix) noexcept;
bool endsWithNoCase(const char* s, const char* suffix) noexcept;
// Case-insensitive search; an empty or null needle returns hay.
const char* strCaseFind(const char* hay, const char* needle) noexcept;
// Whether the byte c occurs in s before end.
bool containsCharBefore(const char* s, const char* end, char c) noexcept;
// 64-bit FNV-1a; each byte is sign-extended before the XOR.
uint64_t strHashFnv1a(const char* s) noexcept;

// True when any character is not space, tab, LF or CR.
bool hasNonSpace(const char* s) noexcept;
// Remove leading / trailing space, tab, LF and CR in place.
void trimLeft(char* s) noexcept;
void trimRight(char* s) noexcept;
// Delete every character found in `set`, in place.
void strRemoveChars(char* s, const char* set) noexcept;
// Replaces the held string by a copy with `sep` inserted before every
// position that is a multiple of n (not before the first); n = 0 leaves it.
void insertEvery(CharArray& s, char sep, int n);
// Fold only A-Z / a-z.
void toUpperAscii(char* s) noexcept;
void toLowerAscii(char* s) noexcept;
// Fold with the C library's locale tables.
void toUpperInPlace(char* s) noexcept;
void toLowerInPlace(char* s) noexcept;

// Tokenisers.  Each cuts the token at *cursor in place (the separator is
// overwritten with NUL), advances the cursor past it and returns the
// token; the cursor becomes null after the last token, and a null cursor
// gives null.  With skipRuns, runs of separators at either side of a token
// are skipped and a text of separators only yields null.
char* strNextToken(char** cursor, char sep, bool skipRuns = false) noexcept;
// Any character of `seps` separates; *which receives the one that ended the
// token (0 at the end of the text).
char* strNextTokenAny(char** cursor, const char* seps, char* which, bool skipRuns = false) noexcept;
// At a multi-character separator.
char* strNextTokenStr(char** cursor, const char* sepText, bool skipRuns = false) noexcept;
// Cuts at the last c and returns the tail; *cursor keeps the head.  Without
// c, *cursor becomes null and the whole text is returned.
char* strSplitLast(char** cursor, char c) noexcept;

// Case-insensitive ordering of strings (null sorts as "").
struct CaseLess {
  using is_transparent = void;
  bool operator()(const char* a, const char* b) const noexcept;
  bool operator()(const CharArray& a, const CharArray& b) const noexcept { return (*this)(a.get(), b.get()); }
  bool operator()(const CharArray& a, const char* b) const noexcept { return (*this)(a.get(), b); }
  bool operator()(const char* a, const CharArray& b) const noexcept { return (*this)(a, b.get()); }
};

// Ordinary byte ordering of owned strings (null sorts first).
struct StrLess {
  using is_transparent = void;
  bool operator()(const char* a, const char* b) const noexcept { return strCompare(a, b) < 0; }
  bool operator()(const CharArray& a, const CharArray& b) const noexcept { return strCompare(a.get(), b.get()) < 0; }
  bool operator()(const CharArray& a, const char* b) const noexcept { return strCompare(a.get(), b) < 0; }
  bool operator()(const char* a, const CharArray& b) const noexcept { return strCompare(a, b.get()) < 0; }
};

using StringSet = std::set<CharArray, StrLess>;

// Splits a copy of text at every c; every piece, empty ones included, is
// collected.
void strSplitList(const char* text, char c, CharArrayList& list);
StringSet splitToSet(const char* text, char c);
// Appends the strings of [first, last) to out with sep between them.
void joinStrings(DString& out, StringSet::const_iterator first, StringSet::const_iterator last, const char* sep);
// Appends a copy of s unless an equal string is present.
void addUniqueStr(CharArrayList& list, const char* s);

// A map from owned names, compared without regard to case, to owned values
// (a value may be null).
class CaseMap : public std::map<CharArray, CharArray, CaseLess> {
 public:
  // The entry for key, inserted with a copied key and a null value when
  // absent.
  iterator findOrInsert(const char* key);
};

// Zeroes n bytes in a way the optimiser may not remove.
void secureZero(void* p, size_t n) noexcept;
// A byte copy that is never turned into a library call.
void secureCopy(void* dst, const void* src, size_t n) noexcept;
// Compares n bytes in time independent of where they differ; n = 0 is
// equal.
bool constTimeEquals(const void* a, const void* b, size_t n) noexcept;
// Zero the held string, free it and store the replacement.
void secureFreeStr(CharArray& s, CharArray replacement = CharArray()) noexcept;
// Zero and free the held string, then store a copy of text (null gives
// null).
void secureAssignStr(CharArray& s, const char* text, int len = -1);

}  // namespace plat
