#include "qocore/base/plat/Regex.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/SmallVector.h"
#include "qocore/base/plat/Utf8.h"

namespace plat {

// The compiled program.  Each instruction is an opcode word followed by its
// operands; a word that is zero or negative is a jump to the word index
// minus its value, and reaching the index past the last word is a match.
//
// Layout: word 0 consumes any character and falls into word 1, the search
// entry, a fork that prefers starting a match here (save slot 0, jump to
// the body) over skipping one more character through word 0.  The body is
// followed by the save of slot 1.  Slots 2k and 2k+1 hold the start and end
// of group k, -1 while unset.
struct Regex::Program {
  std::vector<int32_t> code;
  int32_t anchoredEntry = -1;
  int32_t searchEntry = -1;
  int32_t groupCount = 0;
  uint32_t flags = 0;
  // Parser state.
  int32_t depth = 0;
  bool delimited = false;
  // Upper bounds for the matcher's lists: every instruction is added at
  // most once per position.
  int32_t consumers = 0;
  int32_t forks = 0;
  // Where a match can start, so that a search skips the text in between
  // instead of starting a thread at every character: no skipping when a
  // match can be empty or start with a malformed sequence (which can start
  // with any byte); else the bytes every match starts with (memmem, at
  // least two of them), the one byte every match starts with (memchr) or
  // the set of bytes its first character can start with.  Never a UTF-8
  // continuation byte: every other byte starts a character wherever the
  // decoding began, so the search lands where a character starts.
  enum class Start : uint8_t { kAnywhere, kPrefix, kByte, kByteSet } start = Start::kAnywhere;
  struct ByteSet {
    uint64_t bits[4] = {};
    void add(int b) noexcept { bits[b >> 6] |= uint64_t{1} << (b & 63); }
    bool has(int b) const noexcept { return (bits[b >> 6] >> (b & 63)) & 1; }
  };
  std::string prefix;
  int startByte = 0;
  ByteSet startBytes;
  // Per instruction that starts a branch of a fork, the index in
  // branchBytes of the bytes a character the branch takes first can start
  // with; negative where that is not known (the branch can match empty,
  // take any character, or is too large to look through).  A branch whose
  // bytes lack the next byte of the text would only die, so the matcher
  // does not follow it.
  std::vector<int32_t> branch;
  std::vector<ByteSet> branchBytes;
  // Per consuming instruction, the index in asciiSets of the ASCII
  // characters it takes.
  std::vector<int32_t> asciiSet;
  std::vector<ByteSet> asciiSets;
};

namespace {

enum Op : int32_t {
  kAnyButLineEnd = 1,
  kAny = 2,
  kChar = 3,
  kCharFold = 4,
  kClass = 5,
  kNotClass = 6,
  kLineStart = 11,
  kLineEnd = 12,
  kWordBoundary = 13,
  kNotWordBoundary = 14,
  kFork = 21,      // target first, then the next instruction
  kForkNext = 22,  // the next instruction first, then target
  kSave = 23,
  kOpenGroup = 24,    // slot, count: save and reset the `count` slots after it
  kResetGroups = 25,  // slot, count: reset `count` slots from slot on
};

constexpr int32_t kMaxDepth = 16;
// No character: before the start or past the end of the text.
constexpr int32_t kNoChar = -1;
// A malformed sequence: above every range a pattern can write.
constexpr int32_t kBadChar = 0x7FFFFFFF;
constexpr int32_t kMaxCodePoint = 0x10FFFF;

struct Range {
  int32_t lo, hi;
};

constexpr Range kDigitRanges[] = {{0x30, 0x39}};
constexpr Range kWordRanges[] = {{0x30, 0x39}, {0x61, 0x7A}, {0x41, 0x5A}, {0x5F, 0x5F}};
constexpr Range kSpaceRanges[] = {{0x09, 0x0D},     {0x20, 0x20},     {0xA0, 0xA0},     {0x1680, 0x1680},
                                  {0x180E, 0x180E}, {0x2000, 0x200A}, {0x2028, 0x2029}, {0x202F, 0x202F},
                                  {0x205F, 0x205F}, {0x3000, 0x3000}, {0xFEFF, 0xFEFF}};

bool isLineTerminator(int32_t c) noexcept { return c == '\n' || c == '\r' || c == 0x2028 || c == 0x2029; }

bool isWordChar(int32_t c) noexcept {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool isAsciiLetter(int32_t c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The raw line breaks a one-line literal may not hold: LF, CR, U+2028 and
// U+2029 (E2 80 A8/A9).  The text is NUL-terminated, so reading ahead stops
// at the first byte that differs.
int lineBreakLength(const char* p) noexcept {
  if (*p == '\n' || *p == '\r') return 1;
  if (static_cast<unsigned char>(p[0]) == 0xE2 && static_cast<unsigned char>(p[1]) == 0x80 &&
      (static_cast<unsigned char>(p[2]) == 0xA8 || static_cast<unsigned char>(p[2]) == 0xA9))
    return 3;
  return 0;
}

// Decodes the sequence of two or more bytes at p (p < end) and sets *next
// past it.
int32_t decodeSequence(const char* p, const char* end, const char** next) noexcept {
  const char* q = p + 1;
  int32_t c = utf8Decode(static_cast<unsigned char>(*p), &q, static_cast<int>(std::min<ptrdiff_t>(end - p, 4)));
  *next = q;
  return c < 0 ? kBadChar : c;
}

// Decodes the character at p (p < end) and sets *next past it.
inline int32_t decodeAt(const char* p, const char* end, const char** next) noexcept {
  if (static_cast<unsigned char>(*p) < 0x80) {
    *next = p + 1;
    return static_cast<unsigned char>(*p);
  }
  return decodeSequence(p, end, next);
}

// The character that ends right before pos, or kNoChar at the start.
int32_t decodeBefore(const char* begin, const char* pos, const char* end) noexcept {
  if (pos == begin) return kNoChar;
  const char* start = pos;
  utf8Prev(&start, begin);
  const char* next;
  int32_t c = decodeAt(start, end, &next);
  return next == pos ? c : kBadChar;
}

// The number of words of the instruction at pc.
inline int32_t instructionSize(const int32_t* code, int32_t pc) noexcept {
  switch (code[pc]) {
    case kChar:
    case kCharFold:
    case kFork:
    case kForkNext:
    case kSave:
      return 2;
    case kClass:
    case kNotClass:
      return 2 + 2 * code[pc + 1];
    case kOpenGroup:
    case kResetGroups:
      return 3;
    default:
      return 1;
  }
}

// Whether the class at pc holds c.
bool inClass(const int32_t* code, int32_t pc, int32_t c, bool fold) noexcept {
  const int32_t n = code[pc + 1];
  const int32_t* ranges = code + pc + 2;
  auto in = [&](int32_t v) {
    for (int32_t i = 0; i < 2 * n; i += 2)
      if (v >= ranges[i] && v <= ranges[i + 1]) return true;
    return false;
  };
  // Case folding goes both ways: [a-z] takes "A" as [A-Z] takes "a".
  return in(c) || (fold && isAsciiLetter(c) && in(c ^ 0x20));
}

// Whether the consuming instruction at pc takes the character c.
bool takes(const int32_t* code, int32_t pc, int32_t c, bool fold) noexcept {
  switch (code[pc]) {
    case kAnyButLineEnd:
      return !isLineTerminator(c);
    case kAny:
      return true;
    case kChar:
      return c == code[pc + 1];
    case kCharFold: {
      int32_t x = code[pc + 1];
      return c == x || (fold && isAsciiLetter(x) && (c ^ 0x20) == x);
    }
    case kClass:
      return inClass(code, pc, c, fold);
    case kNotClass:
      return !inClass(code, pc, c, fold);
    default:
      return false;
  }
}

// The first byte of the UTF-8 form of the code point c; it grows with c.
int leadByte(int32_t c) noexcept {
  if (c < 0x80) return c;
  if (c < 0x800) return 0xC0 | (c >> 6);
  if (c < 0x10000) return 0xE0 | (c >> 12);
  return 0xF0 | (std::min(c, kMaxCodePoint) >> 18);
}

// Adds to `bytes` the first bytes of the characters lo to hi, and with
// fold the other case of the ASCII letters among them.
void addRangeStartBytes(int32_t lo, int32_t hi, bool fold, Regex::Program::ByteSet& bytes) noexcept {
  for (int32_t c = std::max(lo, 0); c <= std::min(hi, 0x7F); ++c) {
    bytes.add(c);
    if (fold && isAsciiLetter(c)) bytes.add(c ^ 0x20);
  }
  if (hi >= 0x80 && lo <= hi) {
    for (int b = leadByte(std::max(lo, 0x80)); b <= leadByte(hi); ++b) bytes.add(b);
  }
}

// Adds to `bytes` the first bytes of the characters a class holds.
void addClassStartBytes(const int32_t* code, int32_t pc, bool fold, Regex::Program::ByteSet& bytes) noexcept {
  for (int32_t i = 0; i < code[pc + 1]; ++i)
    addRangeStartBytes(code[pc + 2 + 2 * i], code[pc + 3 + 2 * i], fold, bytes);
}

// Adds to `bytes` every byte that can start a character the consuming
// instruction at pc accepts; false when it accepts a malformed sequence,
// which can start with any byte.
bool addStartBytes(const int32_t* code, int32_t pc, bool fold, Regex::Program::ByteSet& bytes) noexcept {
  switch (code[pc]) {
    case kChar:
      addRangeStartBytes(code[pc + 1], code[pc + 1], false, bytes);
      return true;
    case kCharFold:
      addRangeStartBytes(code[pc + 1], code[pc + 1], fold, bytes);
      return true;
    case kClass:
      addClassStartBytes(code, pc, fold, bytes);
      return true;
    default:
      // Any character, or one outside a class: malformed text included.
      return false;
  }
}

// Exactly the ASCII characters the consuming instruction at pc takes.
Regex::Program::ByteSet asciiTaken(const int32_t* code, int32_t pc, bool fold) noexcept {
  Regex::Program::ByteSet taken;
  switch (code[pc]) {
    case kAny:
    case kAnyButLineEnd:
      for (int32_t c = 0; c < 0x80; ++c)
        if (takes(code, pc, c, fold)) taken.add(c);
      return taken;
    case kNotClass:
      addClassStartBytes(code, pc, fold, taken);
      taken.bits[0] = ~taken.bits[0];
      taken.bits[1] = ~taken.bits[1];
      break;
    default:
      addStartBytes(code, pc, fold, taken);
      break;
  }
  // The first bytes of the other characters are not ASCII.
  taken.bits[2] = taken.bits[3] = 0;
  return taken;
}

// For every instruction, the bytes that can start the first character the
// code from there takes: those of the consuming instructions it reaches
// without consuming, assertions taken as passed.  "Any" where it can reach
// the end that way (a match can be empty) or a consuming instruction it
// reaches takes malformed text.
class FirstBytes {
 public:
  explicit FirstBytes(const Regex::Program& prog)
      : code_(prog.code.data()),
        size_(static_cast<int32_t>(prog.code.size())),
        fold_(prog.flags & Regex::kIgnoreCase),
        bytes_(prog.code.size()),
        any_(prog.code.size()) {
    // A consuming instruction's bytes are its own; the others follow.
    std::vector<int32_t> starts;
    for (int32_t pc = 0; pc < size_; pc += instructionSize(code_, pc)) {
      if (code_[pc] >= kAnyButLineEnd && code_[pc] <= kNotClass) {
        any_[pc] = !addStartBytes(code_, pc, fold_, bytes_[pc]);
      } else {
        starts.push_back(pc);
      }
    }
    // The least solution of the equations below, by passes from the end
    // backwards: code without loops settles in one pass, each loop the
    // closure runs around takes one more.  Past the limit nothing is known.
    constexpr int kMaxPasses = 64;
    for (int pass = 0; pass < kMaxPasses; ++pass) {
      bool changed = false;
      for (auto pc = starts.rbegin(); pc != starts.rend(); ++pc) changed |= update(*pc);
      if (!changed) {
        solved_ = true;
        return;
      }
    }
  }

  // The bytes from pc on; false when they are not known or any byte can
  // do.
  bool at(int32_t pc, Regex::Program::ByteSet& bytes) const noexcept {
    if (!solved_ || pc >= size_ || any_[pc]) return false;
    bytes = bytes_[pc];
    return true;
  }

 private:
  // Recomputes the bytes at pc, which consumes nothing, from those of the
  // instructions after it; true when they grew.
  bool update(int32_t pc) noexcept {
    Regex::Program::ByteSet bytes;
    bool any = false;
    auto from = [&](int32_t next) {
      if (next >= size_ || any_[next]) {
        any = true;
        return;
      }
      for (int i = 0; i < 4; ++i) bytes.bits[i] |= bytes_[next].bits[i];
    };
    const int32_t op = code_[pc];
    if (op <= 0) {
      from(-op);
    } else {
      if (op == kFork || op == kForkNext) from(code_[pc + 1]);
      from(pc + instructionSize(code_, pc));
    }
    if (any_[pc]) return false;
    if (any) {
      any_[pc] = true;
      return true;
    }
    bool grew = false;
    for (int i = 0; i < 4; ++i) {
      grew |= (bytes.bits[i] & ~bytes_[pc].bits[i]) != 0;
      bytes_[pc].bits[i] |= bytes.bits[i];
    }
    return grew;
  }

  const int32_t* code_;
  int32_t size_;
  bool fold_;
  std::vector<Regex::Program::ByteSet> bytes_;
  std::vector<char> any_;
  bool solved_ = false;
};

// Works out where a match of the finished program can start and which
// bytes each branch of a fork can start with (see Program).
void findStarts(Regex::Program& prog) {
  const int32_t* code = prog.code.data();
  const int32_t size = static_cast<int32_t>(prog.code.size());
  const bool fold = prog.flags & Regex::kIgnoreCase;

  prog.asciiSet.assign(prog.code.size(), -1);
  prog.asciiSets.reserve(prog.consumers);
  for (int32_t pc = 0; pc < size; pc += instructionSize(code, pc)) {
    if (code[pc] < kAnyButLineEnd || code[pc] > kNotClass) continue;
    prog.asciiSet[pc] = static_cast<int32_t>(prog.asciiSets.size());
    prog.asciiSets.push_back(asciiTaken(code, pc, fold));
  }

  const FirstBytes first(prog);
  prog.branch.assign(prog.code.size() + 1, -2);
  prog.branchBytes.reserve(2 * static_cast<size_t>(prog.forks));
  for (int32_t pc = 0; pc < size; pc += instructionSize(code, pc)) {
    if (code[pc] != kFork && code[pc] != kForkNext) continue;
    for (int32_t target : {code[pc + 1], pc + 2}) {
      if (target >= size || prog.branch[target] != -2) continue;
      Regex::Program::ByteSet bytes;
      if (first.at(target, bytes)) {
        prog.branch[target] = static_cast<int32_t>(prog.branchBytes.size());
        prog.branchBytes.push_back(bytes);
      } else {
        prog.branch[target] = -1;
      }
    }
  }

  Regex::Program::ByteSet bytes;
  if (!first.at(prog.anchoredEntry, bytes)) return;
  int count = 0;
  for (int b = 0; b < 256; ++b) count += bytes.has(b);
  for (int b = 0x80; b < 0xC0; ++b)
    if (bytes.has(b)) return;

  // The literal every match starts with: the characters on the one path
  // from the entry, up to the first fork or the first character that may
  // be either case.
  std::string prefix;
  for (int32_t pc = prog.anchoredEntry, steps = 0; pc < size && steps < size; ++steps) {
    const int32_t op = code[pc];
    if (op <= 0) {
      pc = -op;
    } else if (op == kSave || op == kOpenGroup || op == kResetGroups || (op >= kLineStart && op <= kNotWordBoundary)) {
      pc += instructionSize(code, pc);
    } else if ((op == kChar || op == kCharFold) && code[pc + 1] >= 0 && code[pc + 1] <= kMaxCodePoint &&
               !(fold && isAsciiLetter(code[pc + 1]))) {
      char utf8[4];
      char* end = utf8;
      utf8Encode(code[pc + 1], &end);
      prefix.append(utf8, end);
      pc += 2;
    } else {
      break;
    }
  }

  prog.startBytes = bytes;
  if (prefix.size() >= 2) {
    prog.start = Regex::Program::Start::kPrefix;
    prog.prefix = std::move(prefix);
  } else if (count == 1) {
    prog.start = Regex::Program::Start::kByte;
    while (!bytes.has(prog.startByte)) ++prog.startByte;
  } else {
    prog.start = Regex::Program::Start::kByteSet;
  }
}

// --------------------------------------------------------------------------
// Compiler: recursive descent over the pattern, writing code as it goes.
// Quantifiers and alternatives open with a fork or jump that is inserted in
// front of code already written, moving the targets inside it along.

class Compiler {
 public:
  Compiler(Regex::Program& prog, const char* pattern, const char* end) : prog_(prog), p_(pattern), end_(end) {}

  // Compiles the whole pattern; `bodyEnd` is where a delimited body ends
  // (its closing slash), null for a plain pattern.
  void compile(const char* bodyEnd) {
    std::vector<int32_t>& code = prog_.code;
    code.reserve(4 * static_cast<size_t>(end_ - p_) + 56);
    const int32_t bodyStart = 6;
    code = {kAny, kForkNext, 0, kSave, 0, -bodyStart};
    prog_.searchEntry = 1;
    prog_.anchoredEntry = bodyStart;

    alternation();
    if (!bodyEnd) bodyEnd = end_;
    if (p_ < bodyEnd) {
      // Only an unbalanced ')' stops the top level early.
      throw Exception("trailing characters: \"%.*s\"", static_cast<int>(bodyEnd - p_), p_);
    }
    // The parser stops where the scan for the closing slash did.
    const char* body = p_;
    PLAT_ASSERT(body == bodyEnd);
    emit(kSave);
    emit(1);

    for (int32_t pc = 0; pc < static_cast<int32_t>(code.size()); pc += instructionSize(code.data(), pc)) {
      int32_t op = code[pc];
      if (op >= kAnyButLineEnd && op <= kNotClass) ++prog_.consumers;
      if (op == kFork || op == kForkNext) ++prog_.forks;
    }
    findStarts(prog_);
  }

 private:
  int32_t here() const noexcept { return static_cast<int32_t>(prog_.code.size()); }
  void emit(int32_t word) { prog_.code.push_back(word); }
  bool atEnd() const noexcept { return p_ >= end_; }

  // Inserts n words at pos and moves every target at or past pos inside
  // the moved code (which is all code from pos on, written by the term or
  // alternative being wrapped).
  void insertAt(int32_t pos, int n) {
    std::vector<int32_t>& code = prog_.code;
    code.insert(code.begin() + pos, n, 0);
    for (int32_t pc = pos + n; pc < here(); pc += instructionSize(code.data(), pc)) {
      int32_t& op = code[pc];
      if (op <= 0) {
        if (-op >= pos) op -= n;
      } else if (op == kFork || op == kForkNext) {
        if (code[pc + 1] >= pos) code[pc + 1] += n;
      }
    }
  }

  // The code point at the cursor, which must not be at the end.
  int32_t readChar() {
    const char* next;
    int32_t c = decodeAt(p_, end_, &next);
    if (c == kBadChar) throw BadUtf8("Bad UTF-8 string");
    p_ = next;
    return c;
  }

  void alternation() {
    std::vector<int32_t> exits;
    int32_t start = here();
    sequence();
    while (!atEnd() && *p_ == '|') {
      ++p_;
      // fork: the alternative just read first, then the next one.
      insertAt(start, 2);
      prog_.code[start] = kForkNext;
      exits.push_back(here());
      emit(0);  // jump to the end, patched below
      prog_.code[start + 1] = here();
      start = here();
      sequence();
    }
    for (int32_t exit : exits) prog_.code[exit] = -here();
  }

  void sequence() {
    while (!atEnd()) {
      char c = *p_;
      if (c == '|' || c == ')') return;
      if (prog_.delimited && c == '/') return;
      if (c == '^' || c == '$') {
        ++p_;
        emit(c == '^' ? kLineStart : kLineEnd);
        continue;
      }
      int32_t start = here();
      if (atom()) quantifier(start);
    }
  }

  // Compiles one atom; false for an assertion, which takes no quantifier.
  bool atom() {
    char c = *p_;
    switch (c) {
      case '.':
        ++p_;
        emit(prog_.flags & Regex::kDotAll ? kAny : kAnyButLineEnd);
        return true;
      case '[':
        characterClass();
        return true;
      case '(':
        group();
        return true;
      case '\\':
        return escape();
      default:
        break;
    }
    if (std::strchr("^$\\.*+?()[]{}|", c)) throw Exception("unexpected metacharacter '%c'", c);
    if (prog_.delimited) PLAT_ASSERT(c != '/');
    literal(readChar());
    return true;
  }

  void literal(int32_t c) {
    emit(prog_.flags & Regex::kIgnoreCase ? kCharFold : kChar);
    emit(c);
  }

  void quantifier(int32_t start) {
    if (atEnd()) return;
    char q = *p_;
    if (q == '{') throw Exception("unsupported UNSAFE counted quantifier");
    if (q != '*' && q != '+' && q != '?') return;
    ++p_;
    bool lazy = !atEnd() && *p_ == '?';
    if (lazy) ++p_;
    // Greedy loops fork towards the repetition first, lazy ones towards
    // the exit.
    const int32_t loop = lazy ? kForkNext : kFork;
    if (q == '*') {
      // jump to the test; atom; test: fork back to the atom
      insertAt(start, 1);
      prog_.code[start] = -here();
      emit(loop);
      emit(start + 1);
    } else if (q == '+') {
      emit(loop);
      emit(start);
    } else {
      // fork past the atom, preferring the atom when greedy
      insertAt(start, 2);
      prog_.code[start] = lazy ? kFork : kForkNext;
      prog_.code[start + 1] = here();
    }
  }

  void group() {
    ++p_;  // '('
    bool capturing = true;
    if (!atEnd() && *p_ == '?' && p_ + 1 < end_) {
      if (p_[1] == '=' || p_[1] == '!') throw Exception("unsupported lookahead assertion '(?%c...'", p_[1]);
      if (p_[1] == ':') {
        capturing = false;
        p_ += 2;
      }
      // Any other "(?" is a capturing group whose body starts with a
      // misplaced '?'.
    }
    if (prog_.depth >= kMaxDepth) throw Exception("unsupported depth of nested expressions");
    ++prog_.depth;

    const int32_t group = capturing ? ++prog_.groupCount : 0;
    const int32_t firstInner = prog_.groupCount + 1;
    const int32_t open = here();
    if (capturing) {
      emit(kOpenGroup);
      emit(2 * group);
    } else {
      emit(kResetGroups);
      emit(2 * firstInner);
    }
    emit(0);  // slot count, known once the body is read

    alternation();
    if (atEnd() || *p_ != ')') throw Exception("expected closing ')'");
    ++p_;
    --prog_.depth;

    const int32_t inner = prog_.groupCount + 1 - firstInner;
    // An opening resets the group's own end and every inner group, so a
    // repeated group never shows captures of an earlier pass.
    prog_.code[open + 2] = capturing ? 1 + 2 * inner : 2 * inner;
    if (capturing) {
      emit(kSave);
      emit(2 * group + 1);
    }
  }

  // What an escape stands for: a character, a class table or (outside
  // classes) an assertion.
  struct Escaped {
    enum Kind { kCharacter, kTable, kAssertion } kind;
    int32_t value;  // the character, or the assertion's opcode
    const Range* table = nullptr;
    int tableSize = 0;
    bool negated = false;
  };

  // Reads the escape at the backslash.
  Escaped readEscape(bool inClass) {
    ++p_;  // '\'
    if (atEnd()) throw Exception("unterminated escape sequence");
    const char c = *p_;
    auto character = [](int32_t v) { return Escaped{Escaped::kCharacter, v}; };
    auto table = [](const Range* t, int n, bool negated) {
      Escaped e{Escaped::kTable, 0};
      e.table = t;
      e.tableSize = n;
      e.negated = negated;
      return e;
    };
    switch (c) {
      case 'd':
      case 'D':
        ++p_;
        return table(kDigitRanges, std::size(kDigitRanges), c == 'D');
      case 'w':
      case 'W':
        ++p_;
        return table(kWordRanges, std::size(kWordRanges), c == 'W');
      case 's':
      case 'S':
        ++p_;
        return table(kSpaceRanges, std::size(kSpaceRanges), c == 'S');
      case 'b':
        ++p_;
        return inClass ? character(8) : Escaped{Escaped::kAssertion, kWordBoundary};
      case 'B':
        if (inClass) break;
        ++p_;
        return Escaped{Escaped::kAssertion, kNotWordBoundary};
      case 'f':
        ++p_;
        return character('\f');
      case 'n':
        ++p_;
        return character('\n');
      case 'r':
        ++p_;
        return character('\r');
      case 't':
        ++p_;
        return character('\t');
      case 'v':
        ++p_;
        return character('\v');
      case 'c':
        if (p_ + 1 >= end_ || !isAsciiLetter(static_cast<unsigned char>(p_[1])))
          throw Exception("expected control letter after '\\c'");
        p_ += 2;
        return character(static_cast<unsigned char>(p_[-1]) % 32);
      case 'x': {
        int hi = p_ + 1 < end_ ? hexNibble(p_[1]) : -1;
        int lo = hi >= 0 && p_ + 2 < end_ ? hexNibble(p_[2]) : -1;
        if (lo < 0) throw Exception("expected hex escape after '\\x'");
        p_ += 3;
        return character(hi * 16 + lo);
      }
      case 'u': {
        int32_t unit = readHex4();
        if (unit < 0) throw Exception("expected Unicode escape after '\\u'");
        if (unit >= 0xDC00 && unit <= 0xDFFF) throw Exception("unexpected low surrogate");
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          int32_t low = -1;
          if (p_ + 1 < end_ && p_[0] == '\\' && p_[1] == 'u') {
            ++p_;
            low = readHex4();
          }
          if (low < 0xDC00 || low > 0xDFFF) throw Exception("expected low surrogate after high surrogate");
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        return character(unit);
      }
      case '0':
        if (p_ + 1 < end_ && p_[1] >= '0' && p_[1] <= '9') throw Exception("illegal decimal escape sequence");
        ++p_;
        return character(0);
      default:
        break;
    }
    if (c >= '1' && c <= '9') throw Exception("unsupported UNSAFE backreference");
    if (isAsciiLetter(static_cast<unsigned char>(c)) || (c >= '0' && c <= '9')) {
      if (inClass) throw Exception("invalid class escape sequence '\\%c'", c);
      throw Exception("invalid escape sequence '\\%c'", c);
    }
    return character(readChar());
  }

  // Four hex digits after the 'u' at the cursor, which then moves past
  // them; -1 (cursor unmoved) when they are not there.
  int32_t readHex4() {
    int32_t v = 0;
    for (int i = 1; i <= 4; ++i) {
      int d = p_ + i < end_ ? hexNibble(p_[i]) : -1;
      if (d < 0) return -1;
      v = v * 16 + d;
    }
    p_ += 5;
    return v;
  }

  bool escape() {
    Escaped e = readEscape(false);
    switch (e.kind) {
      case Escaped::kCharacter:
        literal(e.value);
        return true;
      case Escaped::kTable: {
        emit(kClass);
        int32_t countAt = here();
        emit(0);
        prog_.code[countAt] = writeTable(e) / 2;
        return true;
      }
      case Escaped::kAssertion:
        emit(e.value);
        return false;
    }
    return false;
  }

  // Writes a table's ranges, or those of its complement within the code
  // points; returns the number of words written.
  int writeTable(const Escaped& e) {
    int32_t before = here();
    if (!e.negated) {
      for (int i = 0; i < e.tableSize; ++i) {
        emit(e.table[i].lo);
        emit(e.table[i].hi);
      }
    } else {
      std::vector<Range> sorted(e.table, e.table + e.tableSize);
      std::sort(sorted.begin(), sorted.end(), [](Range a, Range b) { return a.lo < b.lo; });
      int32_t next = 0;
      for (Range r : sorted) {
        if (r.lo > next) {
          emit(next);
          emit(r.lo - 1);
        }
        next = r.hi + 1;
      }
      if (next <= kMaxCodePoint) {
        emit(next);
        emit(kMaxCodePoint);
      }
    }
    return here() - before;
  }

  // One member of a class: a character or a table.
  Escaped classMember() {
    if (*p_ == '\\') return readEscape(true);
    return Escaped{Escaped::kCharacter, readChar()};
  }

  void characterClass() {
    ++p_;  // '['
    bool negated = !atEnd() && *p_ == '^';
    if (negated) ++p_;
    emit(negated ? kNotClass : kClass);
    const int32_t countAt = here();
    emit(0);
    int added = 0;
    for (;;) {
      if (atEnd()) throw Exception("expected closing ']'");
      if (*p_ == ']') {
        ++p_;
        break;
      }
      Escaped first = classMember();
      if (first.kind == Escaped::kCharacter && p_ + 1 < end_ && *p_ == '-' && p_[1] != ']') {
        ++p_;
        Escaped last = classMember();
        if (last.kind == Escaped::kCharacter) {
          // Kept as written even when its ends are reversed: it then
          // simply matches nothing.
          emit(first.value);
          emit(last.value);
          added += 2;
          continue;
        }
        // A range cannot end in a table: the hyphen is a character.
        emit(first.value);
        emit(first.value);
        emit('-');
        emit('-');
        added += 4 + writeTable(last);
        continue;
      }
      if (first.kind == Escaped::kTable) {
        added += writeTable(first);
      } else {
        emit(first.value);
        emit(first.value);
        added += 2;
      }
    }
    PLAT_ASSERT(!(added % 2));
    prog_.code[countAt] = added / 2;
  }

  Regex::Program& prog_;
  const char* p_;
  const char* end_;
};

// --------------------------------------------------------------------------
// Delimited forms: the closing slash is found before anything is compiled,
// so a literal ends where a reader of the surrounding text expects.

// The slash that closes a body starting at p, skipping escapes and
// classes (in which a slash is an ordinary character).
const char* findBodyEnd(const char* p) {
  bool inClass = false;
  for (;; ++p) {
    const bool escaped = *p == '\\';
    if (escaped) ++p;
    if (*p == '\0') throw Exception(inClass ? "expected terminating ']'" : "expected terminating '/'");
    if (lineBreakLength(p)) throw Exception("illegal line break in literal");
    if (escaped) continue;
    if (inClass) {
      inClass = *p != ']';
    } else if (*p == '[') {
      inClass = true;
    } else if (*p == '/') {
      return p;
    }
  }
}

// Reads the replacement part of the substitution form up to its closing
// slash into out; returns the position after that slash.  "\/" stands for
// a slash; any other escape is kept as written.
const char* readReplacement(const char* p, CharArray& out) {
  std::string text;
  for (;;) {
    if (*p == '\0') throw Exception("expected terminating '/'");
    if (lineBreakLength(p)) throw Exception("illegal line break in literal");
    if (*p == '/') break;
    if (*p == '\\') {
      if (p[1] == '/') {
        text += '/';
        p += 2;
        continue;
      }
      text += *p++;
      if (*p == '\0') throw Exception("expected terminating '/'");
      if (lineBreakLength(p)) throw Exception("illegal line break in literal");
    }
    text += *p++;
  }
  out = CharArray(text.c_str());
  return p + 1;
}

bool isFlagChar(char c) noexcept {
  return isAsciiLetter(static_cast<unsigned char>(c)) || (c >= '0' && c <= '9') || c == '_';
}

uint32_t readFlags(const char** cursor) {
  const char* p = *cursor;
  uint32_t flags = 0;
  for (; isFlagChar(*p); ++p) {
    uint32_t bit = 0;
    switch (*p) {
      case 'i':
        bit = Regex::kIgnoreCase;
        break;
      case 'm':
        bit = Regex::kMultiLine;
        break;
      case 's':
        bit = Regex::kDotAll;
        break;
      case 'g':
      case 'y':
        throw Exception("unsupported flag '%c'", *p);
      default:
        throw Exception("invalid flag '%c'", *p);
    }
    if (flags & bit) throw Exception("invalid flag '%c'", *p);
    flags |= bit;
  }
  *cursor = p;
  return flags;
}

// Compiles a body that starts at `body` (after the opening slash), with the
// replacement part when `replacement` is given, then the flags; advances
// *cursor past the flags.
std::unique_ptr<Regex::Program> compileDelimited(const char** cursor, const char* body, CharArray* replacement) {
  const char* bodyEnd = findBodyEnd(body);
  const char* p = bodyEnd + 1;
  CharArray replacementText;
  if (replacement) p = readReplacement(p, replacementText);
  auto prog = std::make_unique<Regex::Program>();
  prog->flags = readFlags(&p);
  prog->delimited = true;
  Compiler(*prog, body, body + std::strlen(body)).compile(bodyEnd);
  if (replacement) *replacement = std::move(replacementText);
  *cursor = p;
  return prog;
}

// --------------------------------------------------------------------------
// Matcher: the threads of one step run in priority order.  A thread is its
// instruction index followed by its own copy of the capture slots the
// caller asked for; the slots are copied when a thread forks and when it
// moves on to the next list, never for the threads that die.

enum class Mode {
  kFirst,  // leftmost match, the highest-priority one found
  kWhole,  // any path that ends exactly at the end of the text
};

class Machine {
 public:
  // Keeps the first numSave capture slots (0: no captures at all).
  Machine(const Regex::Program& prog, int numSave)
      : prog_(prog),
        code_(prog.code.data()),
        branch_(prog.branch.data()),
        asciiSet_(prog.asciiSet.data()),
        codeSize_(static_cast<int32_t>(prog.code.size())),
        multiLine_(prog.flags & Regex::kMultiLine),
        fold_(prog.flags & Regex::kIgnoreCase),
        numSave_(numSave),
        stride_(1 + numSave) {
    // Reserved to the most they can hold (every instruction is added at
    // most once per position), up to a bound past which they grow.
    auto room = [this](int64_t threads) { return static_cast<int>(std::min<int64_t>(threads * stride_, 1 << 20)); };
    lists_[0].reserve(room(prog.consumers + 1));
    lists_[1].reserve(room(prog.consumers + 1));
    stack_.reserve(room(prog.forks + 1));
    marks_.resize(codeSize_);
    work_.resize(numSave_);
    match_.resize(numSave_);
  }

  int numSave() const noexcept { return numSave_; }
  const ptrdiff_t* slots() const noexcept { return match_.data(); }

  // Runs the program from `entry` at `from` (within [begin, end]); true
  // when a match was found.  stopAtFirst ends the run at the first match,
  // for callers that only ask whether there is one.
  bool run(const char* begin, const char* end, const char* from, int32_t entry, Mode mode, bool stopAtFirst) {
    mode_ = mode;
    matched_ = false;
    std::fill(marks_.begin(), marks_.end(), -1);
    // A search starts new matches only through its restart thread (word 0,
    // the lowest priority); where no match can start, it need not run.
    const bool skips = entry == prog_.searchEntry && prog_.start != Regex::Program::Start::kAnywhere;
    const char* pos = from;
    if (skips && !(pos = nextStart(from, end))) return false;

    List* current = &lists_[0];
    List* next = &lists_[1];
    current->clear();
    const char* after = pos;
    int32_t cur = pos < end ? decodeAt(pos, end, &after) : kNoChar;
    std::fill(work_.begin(), work_.end(), -1);
    if (add(*current, entry, work_.data(), pos - begin, decodeBefore(begin, pos, end), cur, byteAt(pos, end)) &&
        (mode == Mode::kWhole || stopAtFirst))
      return true;

    while (!current->empty() && pos < end) {
      if (skips && current->size() == stride_ && (*current)[0] == kRestart && !matched_) {
        // Only the restart thread is left: no match starts before the next
        // place where one can.  Its slots are all unset.
        const char* start = nextStart(after, end);
        if (!start) return false;
        const int32_t prev = start == after ? cur : decodeBefore(begin, start, end);
        pos = start;
        cur = decodeAt(pos, end, &after);
        current->clear();
        std::fill(work_.begin(), work_.end(), -1);
        if (add(*current, entry, work_.data(), pos - begin, prev, cur, byteAt(pos, end)) && stopAtFirst) return true;
        continue;
      }
      const char* nextPos = after;
      const int32_t nextChar = nextPos < end ? decodeAt(nextPos, end, &after) : kNoChar;
      const ptrdiff_t offset = nextPos - begin;
      const int nextByte = byteAt(nextPos, end);
      // Where no match can start, the restart thread moves on alone.
      const bool canStart = !skips || (nextByte >= 0 && prog_.startBytes.has(nextByte));
      next->clear();
      for (int t = 0; t < current->size(); t += stride_) {
        const ptrdiff_t* thread = current->data() + t;
        const int32_t pc = static_cast<int32_t>(thread[0]);
        if (pc == kRestart) {
          // What the search entry does, without its fork: a match starts
          // here first, then the restart thread moves on.
          if (canStart && add(*next, prog_.searchEntry + 2, thread + 1, offset, cur, nextChar, nextByte)) {
            if (mode == Mode::kWhole || stopAtFirst) return true;
            break;
          }
          append(*next, kRestart, thread + 1);
          continue;
        }
        // Every thread on the list takes cur.
        if (add(*next, pc, thread + 1, offset, cur, nextChar, nextByte)) {
          if (mode == Mode::kWhole || stopAtFirst) return true;
          break;  // the threads after this one have lower priority
        }
      }
      std::swap(current, next);
      pos = nextPos;
      cur = nextChar;
    }
    return matched_;
  }

 private:
  // A thread on a list waits for a character its instruction takes and
  // holds the instruction after it.  The restart thread consumes any
  // character at word 0 and goes on at the search entry, word 1.
  using List = SmallVector<ptrdiff_t, 128>;
  static constexpr int32_t kRestart = 1;

  static int byteAt(const char* p, const char* end) noexcept { return p < end ? static_cast<unsigned char>(*p) : -1; }

  // Whether the branch of a fork that starts at pc can take a character
  // starting with the byte b (-1: the end of the text) or match empty.
  bool mayFollow(int32_t pc, int b) const noexcept {
    const int32_t set = branch_[pc];
    return set < 0 || (b >= 0 && prog_.branchBytes[set].has(b));
  }

  // The first place at or after p where a match can start, or null.
  const char* nextStart(const char* p, const char* end) const noexcept {
    const size_t left = static_cast<size_t>(end - p);
    switch (prog_.start) {
      case Regex::Program::Start::kPrefix:
        return static_cast<const char*>(memmem(p, left, prog_.prefix.data(), prog_.prefix.size()));
      case Regex::Program::Start::kByte:
        return static_cast<const char*>(std::memchr(p, prog_.startByte, left));
      case Regex::Program::Start::kByteSet:
        for (; p < end; ++p)
          if (prog_.startBytes.has(static_cast<unsigned char>(*p))) return p;
        return nullptr;
      case Regex::Program::Start::kAnywhere:
        break;
    }
    return p < end ? p : nullptr;
  }

  // Copies a thread's slots; there are few of them, so a call to memmove
  // would cost more than the copy.
  void copySlots(ptrdiff_t* to, const ptrdiff_t* from) const noexcept {
    for (int i = 0; i < numSave_; ++i) to[i] = from[i];
  }

  void append(List& list, int32_t pc, const ptrdiff_t* slots) {
    const int at = list.size();
    // Past this the list cannot grow (SmallVector's own limit is lower).
    PLAT_ASSERT(at <= INT32_MAX - stride_);
    list.resize(at + stride_);
    ptrdiff_t* thread = list.data() + at;
    thread[0] = pc;
    copySlots(thread + 1, slots);
  }

  // Whether the consuming instruction at pc takes the character c; an
  // ASCII character is one bit of a table.
  bool accepts(int32_t pc, int32_t c) const noexcept {
    if (c >= 0 && c < 0x80) return prog_.asciiSets[asciiSet_[pc]].has(c);
    return takes(code_, pc, c, fold_);
  }

  // Adds the thread (pc, slots) at offset pos between the characters prev
  // and next, following at once everything that consumes nothing; threads
  // whose instruction takes `next` go onto `list` in priority order (the
  // others would only die in the next step).  The slots are read where they
  // are until a save writes one.  True when a match was recorded, which
  // drops the pending branches.
  bool add(List& list, int32_t pc, const ptrdiff_t* slots, ptrdiff_t pos, int32_t prev, int32_t next, int nextByte) {
    ptrdiff_t* const work = work_.data();
    // Makes the slots writable: a copy in work_.
    auto own = [&] {
      if (slots != work) {
        copySlots(work, slots);
        slots = work;
      }
    };
    stack_.clear();
    for (;;) {
      for (bool alive = true; alive;) {
        if (pc >= codeSize_) {
          if (mode_ == Mode::kWhole && next != kNoChar) break;
          copySlots(match_.data(), slots);
          matched_ = true;
          return true;
        }
        if (marks_[pc] == pos) break;
        marks_[pc] = pos;
        const int32_t op = code_[pc];
        if (op <= 0) {
          pc = -op;
          continue;
        }
        switch (op) {
          case kAnyButLineEnd:
          case kAny:
          case kChar:
          case kCharFold:
          case kClass:
          case kNotClass:
            if (accepts(pc, next)) append(list, pc + instructionSize(code_, pc), slots);
            alive = false;
            break;
          case kLineStart:
            alive = prev == kNoChar || (multiLine_ && isLineTerminator(prev));
            pc += 1;
            break;
          case kLineEnd:
            alive = next == kNoChar || (multiLine_ && isLineTerminator(next));
            pc += 1;
            break;
          case kWordBoundary:
          case kNotWordBoundary:
            alive = (isWordChar(prev) != isWordChar(next)) == (op == kWordBoundary);
            pc += 1;
            break;
          case kFork:
          case kForkNext: {
            // The preferred branch goes on at once, the other waits on the
            // stack; a branch that cannot take the next character and
            // cannot match empty is dropped.
            const int32_t first = op == kFork ? code_[pc + 1] : pc + 2;
            const int32_t second = op == kFork ? pc + 2 : code_[pc + 1];
            if (mayFollow(second, nextByte)) append(stack_, second, slots);
            alive = mayFollow(first, nextByte);
            pc = first;
            break;
          }
          case kSave:
            if (code_[pc + 1] < numSave_) {
              own();
              work[code_[pc + 1]] = pos;
            }
            pc += 2;
            break;
          case kOpenGroup:
          case kResetGroups: {
            // Resets slots [first, first + count); an opening saves
            // its own slot first and resets the ones after it.
            int32_t first = code_[pc + 1];
            const int32_t stop = std::min(first + (op == kOpenGroup) + code_[pc + 2], numSave_);
            if (first < stop) {
              own();
              if (op == kOpenGroup) work[first++] = pos;
              for (int32_t i = first; i < stop; ++i) work[i] = -1;
            }
            pc += 3;
            break;
          }
          default:
            PLAT_ASSERT_MSG(false, "unknown opcode %d at %d", op, pc);
        }
      }
      if (stack_.empty()) return false;
      // The next pending branch, with the slots it had when it forked.
      const int top = stack_.size() - stride_;
      pc = static_cast<int32_t>(stack_[top]);
      copySlots(work, stack_.data() + top + 1);
      slots = work;
      stack_.resize(top);
    }
  }

  const Regex::Program& prog_;
  const int32_t* code_;
  const int32_t* branch_;
  const int32_t* asciiSet_;
  int32_t codeSize_;
  bool multiLine_;
  bool fold_;
  int numSave_;
  int stride_;
  Mode mode_ = Mode::kFirst;
  bool matched_ = false;
  // The threads waiting for the current character and for the next one.
  List lists_[2];
  List stack_;
  // Per instruction, the position at which it was last added.
  SmallVector<ptrdiff_t, 256> marks_;
  SmallVector<ptrdiff_t, 32> work_, match_;
};

const char* textEnd(const char* text, const char* end) noexcept { return end ? end : text + std::strlen(text); }

// Group num of the machine's match as pointers into text (null when it
// took no part).
void groupBounds(const Machine& m, int num, const char* text, const char** startOut, const char** endOut) {
  PLAT_ASSERT(num * 2 + 1 < m.numSave());
  const ptrdiff_t start = m.slots()[2 * num];
  const ptrdiff_t end = m.slots()[2 * num + 1];
  PLAT_ASSERT((end != -1) == (start != -1));
  *startOut = start == -1 ? nullptr : text + start;
  *endOut = end == -1 ? nullptr : text + end;
}

bool hasGroupReference(const char* replacement) noexcept {
  for (const char* p = std::strchr(replacement, '$'); p; p = std::strchr(p + 1, '$'))
    if (p[1] >= '0' && p[1] <= '9') return true;
  return false;
}

}  // namespace

Regex::Regex(const char* pattern, uint32_t flags) {
  if (!pattern) pattern = "";
  auto prog = std::make_unique<Program>();
  prog->flags = flags;
  Compiler(*prog, pattern, pattern + std::strlen(pattern)).compile(nullptr);
  prog_ = std::move(prog);
}

Regex::Regex(const char** cursor) {
  const char* p = *cursor;
  if (!p || *p != '/') throw Exception("expected '/'-delimited regex");
  prog_ = compileDelimited(cursor, p + 1, nullptr);
}

Regex::Regex(const char** cursor, CharArray& replacement) {
  const char* p = *cursor;
  if (!p || p[0] != 's' || p[1] != '/') throw Exception("expected 's/../../' substitution");
  prog_ = compileDelimited(cursor, p + 2, &replacement);
}

// Defined here, where Program is complete.
Regex::~Regex() = default;

int Regex::groupCount() const noexcept { return prog_->groupCount; }

uint32_t Regex::flags() const noexcept { return prog_->flags; }

bool Regex::matches(const char* text, const char* end) const {
  if (!text) text = end = "";
  Machine m(*prog_, 0);
  return m.run(text, textEnd(text, end), text, prog_->anchoredEntry, Mode::kWhole, true);
}

bool Regex::search(const char* text, const char* end) const {
  if (!text) text = end = "";
  Machine m(*prog_, 0);
  return m.run(text, textEnd(text, end), text, prog_->searchEntry, Mode::kFirst, true);
}

const char* Regex::find(const char* text, const char** endInOut, const char** groupStarts, const char** groupEnds,
                        int n) const {
  if (!text) return nullptr;
  const char* end = textEnd(text, endInOut ? *endInOut : nullptr);
  n = groupStarts ? std::clamp(n, 0, prog_->groupCount) : 0;
  Machine m(*prog_, 2 + 2 * n);
  if (!m.run(text, end, text, prog_->searchEntry, Mode::kFirst, false)) return nullptr;
  const ptrdiff_t matchStart = m.slots()[0];
  const ptrdiff_t matchEnd = m.slots()[1];
  PLAT_ASSERT(matchStart != -1 && matchEnd != -1);
  for (int i = 0; i < n; ++i) {
    const char* groupEnd;
    groupBounds(m, i + 1, text, &groupStarts[i], &groupEnd);
    if (groupEnds) groupEnds[i] = groupEnd;
  }
  if (endInOut) *endInOut = text + matchEnd;
  return text + matchStart;
}

CharArray Regex::matchText(const char* text) const {
  if (prog_->groupCount < 1) return CharArray();
  const char* end = nullptr;
  const char* start;
  const char* groupEnd;
  if (!find(text, &end, &start, &groupEnd, 1) || !start) return CharArray();
  return CharArray(start, static_cast<int>(groupEnd - start));
}

int Regex::replace(const char* text, const char* replacement, DString& out, bool write, int maxCount) const {
  if (!text) text = "";
  if (!replacement) replacement = "";
  const char* end = text + std::strlen(text);
  const int groups = hasGroupReference(replacement) ? prog_->groupCount : 0;
  Machine m(*prog_, 2 + 2 * groups);
  // Built here and appended once: DString measures its text on every
  // append.
  std::string result;
  const char* copied = text;  // text before here is in the result
  const char* from = text;    // where the next search starts
  int count = 0;
  while (count < maxCount && m.run(text, end, from, prog_->searchEntry, Mode::kFirst, false)) {
    const ptrdiff_t matchStart = m.slots()[0];
    const ptrdiff_t matchEnd = m.slots()[1];
    PLAT_ASSERT(matchStart != -1 && matchEnd != -1);
    const char* start = text + matchStart;
    const char* stop = text + matchEnd;
    ++count;
    if (write) {
      result.append(copied, start);
      for (const char* p = replacement; *p;) {
        if (*p != '$') {
          const char* dollar = std::strchr(p, '$');
          const char* runEnd = dollar ? dollar : p + std::strlen(p);
          result.append(p, runEnd);
          p = runEnd;
          continue;
        }
        switch (p[1]) {
          case '$':
            result += '$';
            p += 2;
            continue;
          case '&':
            result.append(start, stop);
            p += 2;
            continue;
          case '`':
            result.append(text, start);
            p += 2;
            continue;
          case '\'':
            result.append(stop, end);
            p += 2;
            continue;
          default:
            break;
        }
        const char* digits = p + 1;
        const char* q = digits;
        int64_t num = 0;
        for (; *q >= '0' && *q <= '9'; ++q) num = std::min<int64_t>(num * 10 + (*q - '0'), INT32_MAX);
        if (q > digits && num > 0 && num <= groups) {
          const char* groupStart;
          const char* groupEnd;
          groupBounds(m, static_cast<int>(num), text, &groupStart, &groupEnd);
          if (groupStart) result.append(groupStart, groupEnd);
        } else {
          // Not a reference: the dollar sign and the digits stay as text.
          result.append(p, q == digits ? digits : q);
        }
        p = q;
      }
    }
    copied = stop;
    if (stop > start) {
      from = stop;
    } else {
      if (stop == end) break;
      // An empty match: search again one character on.
      decodeAt(stop, end, &from);
    }
  }
  if (write) {
    result.append(copied, end);
    out.append(result.c_str(), static_cast<int>(result.size()));
  }
  return count;
}

CharArray Regex::escape(const char* text, bool delimited) {
  if (!text) text = "";
  const char* end = text + std::strlen(text);
  std::string out;
  const char* p = text;
  // A leading digit is written as an escape so that the pattern can follow
  // text of its own without forming a longer number.
  if (*p >= '0' && *p <= '9') {
    out += "\\u003";
    out += *p++;
  }
  while (p < end) {
    const unsigned char b = static_cast<unsigned char>(*p);
    if (b < 0x80) {
      if (std::strchr("$()*+.?[\\]^{|}", b)) {
        out += '\\';
        out += static_cast<char>(b);
      } else if (delimited && b == '\n') {
        out += "\\n";
      } else if (delimited && b == '\r') {
        out += "\\r";
      } else if (delimited && b == '/') {
        out += "\\/";
      } else {
        out += static_cast<char>(b);
      }
      ++p;
      continue;
    }
    const char* next;
    const int32_t c = decodeAt(p, end, &next);
    if (c == kBadChar) {
      out += "[]";  // matches nothing, as the malformed text cannot be matched
    } else if (delimited && (c == 0x2028 || c == 0x2029)) {
      out += c == 0x2028 ? "\\u2028" : "\\u2029";
    } else {
      out.append(p, next);
    }
    p = next;
  }
  return CharArray(out.c_str());
}

}  // namespace plat
