#pragma once
// plat::Regex: the program's own regular-expression engine.
//
// A pattern in an ECMAScript-like syntax is compiled into a small program
// of 32-bit words, which a thread-list (Pike) machine runs over UTF-8 text
// in a single pass without backtracking: matching time is bounded by the
// text length times the program size, whatever the pattern, so patterns and
// texts from outside cannot make it hang.  The price is that counted
// quantifiers, backreferences and lookahead are refused when compiling.
// A search goes straight to the places where a match can start (found with
// memchr or memmem when the pattern starts with a fixed byte or literal),
// so text that cannot hold a match costs little more than a scan.
//
// Matching works on code points.  Malformed UTF-8 is what the platform's
// decoder refuses, noncharacters included: in a pattern it is refused with
// BadUtf8; in a text each such sequence is one character that no literal
// or class range accepts (only "." and the negated classes do).  With an
// explicit end a NUL byte is an ordinary character, without one it ends
// the text.  Case folding (flag i) covers the ASCII letters only.
//
// The machine keeps one thread per instruction and position, so a pass of
// a loop that comes back to where it began ends there, and "x?" is the
// alternation of x and nothing: where the repeated or optional atom can
// match empty, the pass preferred may differ from a backtracking engine's
// (which only refuses empty passes).
//
// A compiled pattern is read-only while matching; each match keeps its
// state on the caller's stack, so one pattern serves several threads.

#include <cstdint>
#include <memory>

#include "qocore/base/plat/CharArray.h"

namespace plat {

class DString;

class Regex {
 public:
  enum Flag : uint32_t {
    kDotAll = 1,      // 's': "." also matches line terminators
    kMultiLine = 2,   // 'm': "^" and "$" also match at line terminators
    kIgnoreCase = 4,  // 'i': ASCII letters match either case
  };

  // Compiles a NUL-terminated pattern with the flag bits above.  Throws
  // Exception with the reason on any error, BadUtf8 on malformed UTF-8.
  Regex(const char* pattern, uint32_t flags);
  // Compiles the literal form "/body/flags" at *cursor and advances the
  // cursor past the flag letters, so the caller can read on.
  explicit Regex(const char** cursor);
  // Compiles the substitution form "s/body/replacement/flags" at *cursor,
  // advancing it past the flag letters.  The replacement part is stored
  // in `replacement` for replace(), with each "\/" turned back into "/".
  Regex(const char** cursor, CharArray& replacement);
  ~Regex();
  Regex(const Regex&) = delete;
  Regex& operator=(const Regex&) = delete;

  [[nodiscard]] int groupCount() const noexcept;
  [[nodiscard]] uint32_t flags() const noexcept;

  // True when the whole text matches, from its start to its end (a null
  // end: up to the NUL).
  [[nodiscard]] bool matches(const char* text, const char* end = nullptr) const;
  // True when a match exists anywhere in the text.
  [[nodiscard]] bool search(const char* text, const char* end = nullptr) const;
  // The leftmost match (greedy or lazy as the pattern says): returns its
  // start, or null when there is none.  *endInOut gives the text end (a
  // null endInOut or *endInOut: up to the NUL) and receives the match end.
  // The first n groups (at most groupCount()) are written to groupStarts
  // and groupEnds, null for a group that took no part; groupEnds may be
  // null.
  [[nodiscard]] const char* find(const char* text, const char** endInOut, const char** groupStarts = nullptr,
                                 const char** groupEnds = nullptr, int n = 0) const;
  // A copy of group 1 of the leftmost match in a NUL-terminated text; null
  // when nothing matches or group 1 took no part.
  [[nodiscard]] CharArray matchText(const char* text) const;

  // Replaces up to maxCount matches in a NUL-terminated text by the
  // template and appends the result to out.  In the template "$$" is a
  // dollar sign, "$&" the match, "$`" the text before it, "$'" the text
  // after it and "$" with decimal digits (all of them, as one number) that
  // group when it exists (empty when it took no part); any other "$" stays
  // as it is.  After an empty match the next search starts one character
  // later.  With write false nothing is appended, which counts the matches.
  // Returns the number of matches replaced.  Each match is a search of its
  // own that may read on to the end of the text, so the worst case is
  // quadratic in the text length.
  int replace(const char* text, const char* replacement, DString& out, bool write, int maxCount) const;
  int replaceFirst(const char* text, const char* replacement, DString& out) const {
    return replace(text, replacement, out, true, 1);
  }
  int replaceAll(const char* text, const char* replacement, DString& out) const {
    return replace(text, replacement, out, true, 0x7fffffff);
  }

  // A pattern that matches the text literally; `delimited` makes it fit
  // between the slashes of the literal form.
  [[nodiscard]] static CharArray escape(const char* text, bool delimited);

  // The compiled program, opaque outside the implementation.
  struct Program;

 private:
  std::unique_ptr<Program> prog_;
};

}  // namespace plat
