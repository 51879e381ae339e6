#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Strings.h"

namespace {

using testing::ElementsAre;

// ---- Lengths, copies and comparison ----

TEST(StringsBasics, LengthsAreNullSafeAndBounded) {
  EXPECT_EQ(plat::strLen(nullptr), 0);
  EXPECT_EQ(plat::strLen("abc"), 3);
  EXPECT_EQ(plat::strNLen(nullptr, 5), 0);
  EXPECT_EQ(plat::strNLen("abcdef", 4), 4);
  EXPECT_EQ(plat::strNLen("ab", 4), 2);
  EXPECT_EQ(plat::strNLen("abcdef", -1), 6);
  // The bound lets a length be taken of a buffer with no NUL in it.
  const char unterminated[3] = {'x', 'y', 'z'};
  EXPECT_EQ(plat::strNLen(unterminated, 3), 3);
}

TEST(StringsBasics, DuplicatesAreIndependentCopies) {
  EXPECT_TRUE(plat::strDup(nullptr).isNull());
  EXPECT_STREQ(plat::strDup("hello").get(), "hello");
  EXPECT_STREQ(plat::strDup("hello", 2).get(), "he");
  EXPECT_STREQ(plat::strDup("ab\0cd", 5).get(), "ab");

  EXPECT_EQ(plat::strDupMalloc(nullptr), nullptr);
  char* m = plat::strDupMalloc("text");
  EXPECT_STREQ(m, "text");
  free(m);
}

TEST(StringsBasics, CompareSortsNullFirst) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  };
  for (const Case& c : std::vector<Case>{{nullptr, nullptr, 0},
                                         {nullptr, "", -1},
                                         {"", nullptr, 1},
                                         {"a", "b", -1},
                                         {"b", "a", 1},
                                         {"abc", "abc", 0},
                                         {"ab", "abc", -1}}) {
    int r = plat::strCompare(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << (c.a ? c.a : "null") << " vs " << (c.b ? c.b : "null");
  }
}

TEST(CharArray, CopyingDuplicatesAndAssignmentMayReadItsOwnText) {
  plat::CharArray a("hello world");
  plat::CharArray b = a;
  ASSERT_NE(a.get(), b.get());
  b[0] = 'J';
  EXPECT_STREQ(a.get(), "hello world");

  a = a.get() + 6;  // the source is freed by this very assignment
  EXPECT_STREQ(a.get(), "world");

  plat::CharArray null;
  EXPECT_STREQ(null.c_str(), "");
  a = null;
  EXPECT_TRUE(a.isNull());

  plat::CharArray z = plat::CharArray::zeroed(4);
  EXPECT_EQ(std::memcmp(z.get(), "\0\0\0\0", 4), 0);
  char* raw = z.release();
  EXPECT_TRUE(z.isNull());
  plat::CharArray adopted = plat::CharArray::adopt(raw);
  EXPECT_EQ(adopted.get(), raw);
}

// ---- Fixed buffers ----

// "é" is two bytes, "€" three, "😀" four.
struct AppendCase {
  const char* held;
  int size;
  const char* src;
  const char* expected;
};

TEST(FixedBuffer, AppendCutsBackToAWholeCharacter) {
  for (const AppendCase& c : std::vector<AppendCase>{
           {"", 8, "abc", "abc"},
           {"ab", 6, "cde", "abcde"},  // exact fit
           {"ab", 5, "cdef", "abcd"},  // plain ASCII truncation
           {"", 3, "a\xC3\xA9", "a"},  // "aé" into 3 bytes: never half of é
           {"", 4, "a\xC3\xA9", "a\xC3\xA9"},
           {"", 4, "\xE2\x82\xAC\xE2\x82\xAC", "\xE2\x82\xAC"},
           {"", 6, "\xE2\x82\xAC\xE2\x82\xAC", "\xE2\x82\xAC"},
           {"x", 5, "\xF0\x9F\x98\x80", "x"},
           {"x", 6, "\xF0\x9F\x98\x80", "x\xF0\x9F\x98\x80"},
           {"abc", 4, "d", "abc"},  // already full
       }) {
    char buf[16];
    std::strcpy(buf, c.held);
    int n = plat::safeStrAppend(buf, c.size, c.src);
    EXPECT_STREQ(buf, c.expected) << c.held << " + " << c.src << " in " << c.size;
    EXPECT_EQ(n, static_cast<int>(std::strlen(c.expected)));
  }
}

TEST(FixedBuffer, AppendHonoursLengthAndNeverWritesPastSize) {
  char buf[8];
  std::memset(buf, '#', sizeof buf);
  buf[0] = '\0';
  EXPECT_EQ(plat::safeStrAppend(buf, 4, "abcdef", 2), 2);
  EXPECT_STREQ(buf, "ab");
  EXPECT_EQ(plat::safeStrAppend(buf, 4, "cdef"), 3);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(buf[4], '#');
  EXPECT_EQ(plat::safeStrAppend(buf, 4, nullptr), 3);
}

TEST(FixedBuffer, CopyReportsTheSourceLength) {
  char buf[4];
  EXPECT_EQ(plat::safeStrCopy(buf, "ab", sizeof buf), 2);
  EXPECT_STREQ(buf, "ab");
  EXPECT_EQ(plat::safeStrCopy(buf, "abcdef", sizeof buf), 6);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(plat::safeStrCopy(buf, "ab\xE2\x82\xAC", sizeof buf), 5);
  EXPECT_STREQ(buf, "ab");
}

TEST(FixedBuffer, FormattedAppendCutsBackAndKeepsTextOnFailure) {
  char buf[8] = "ab";
  EXPECT_EQ(plat::safeSnprintfAppend(buf, sizeof buf, "%d", 42), 4);
  EXPECT_STREQ(buf, "ab42");
  // "ab42" + "€€" would need 10 bytes; only the first € fits whole.
  EXPECT_EQ(plat::safeSnprintfAppend(buf, sizeof buf, "%s", "\xE2\x82\xAC\xE2\x82\xAC"), 7);
  EXPECT_STREQ(buf, "ab42\xE2\x82\xAC");

  char small[8] = "ab";
  // U+0100 has no form in the C locale, so formatting fails outright.
  EXPECT_EQ(plat::safeSnprintfAppend(small, sizeof small, "%ls", L"\x100"), 2);
  EXPECT_STREQ(small, "ab");
}

// Formats the same arguments twice through one va_list.
int appendTwice(char* dst, int size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  plat::safeVsnprintfAppend(dst, size, format, args);
  int n = plat::safeVsnprintfAppend(dst, size, format, args);
  va_end(args);
  return n;
}

TEST(FixedBuffer, CallerArgumentListIsNotConsumed) {
  char buf[32] = "";
  EXPECT_EQ(appendTwice(buf, sizeof buf, "%s=%d;", "k", 7), 8);
  EXPECT_STREQ(buf, "k=7;k=7;");
}

TEST(FixedBuffer, CharsAppendOnlyWholeCopies) {
  struct Case {
    int32_t codepoint;
    int n;
    int size;
    const char* expected;
  };
  for (const Case& c : std::vector<Case>{
           {'x', 3, 8, "-xxx"},
           {'x', 10, 5, "-xxx"},
           {0xE9, 3, 6, "-\xC3\xA9\xC3\xA9"},  // 5 free bytes hold two é
           {0x20AC, 2, 8, "-\xE2\x82\xAC\xE2\x82\xAC"},
           {0x1F600, 1, 5, "-"},
           {'x', 0, 8, "-"},
           {0x110000, 1, 8, "-"},  // not a character
       }) {
    char buf[16] = "-";
    int n = plat::safeCharsAppend(buf, c.size, c.codepoint, c.n);
    EXPECT_STREQ(buf, c.expected) << "U+" << std::hex << c.codepoint;
    EXPECT_EQ(n, static_cast<int>(std::strlen(c.expected)));
  }
}

TEST(FixedBuffer, SizedFormattersAppendOrClear) {
  char big[256] = "pre:";
  EXPECT_EQ(plat::snprintfBuf(big, "%s", std::string(300, 'x').c_str()), 255);
  EXPECT_EQ(std::string(big), "pre:" + std::string(251, 'x'));

  char mid[64] = "a";
  EXPECT_EQ(plat::snprintfBuf64(mid, "%d", 5), 2);
  EXPECT_STREQ(mid, "a5");

  char tiny[16] = "stale";
  EXPECT_EQ(plat::formatInto16(tiny, "%d-%d", 1, 2), 3);
  EXPECT_STREQ(tiny, "1-2");
  EXPECT_EQ(plat::formatInto16(tiny, "%s", "0123456789abcdefgh"), 15);
  EXPECT_STREQ(tiny, "0123456789abcde");
}

// ---- Comparisons and searches ----

TEST(StringsSearch, PrefixesAndSuffixes) {
  using Fn = bool (*)(const char*, const char*) noexcept;
  struct Case {
    const char* name;
    Fn fn;
    const char* s;
    const char* affix;
    bool expected;
  };
  for (const Case& c : std::vector<Case>{
           {"startsWith", plat::startsWith, "hello", "he", true},
           {"startsWith", plat::startsWith, "hello", "He", false},
           {"startsWith", plat::startsWith, "he", "hello", false},
           {"startsWith", plat::startsWith, "hello", nullptr, true},
           {"startsWith", plat::startsWith, nullptr, "", true},
           {"startsWith", plat::startsWith, nullptr, "a", false},
           {"startsWithNoCase", plat::startsWithNoCase, "hello", "HE", true},
           {"startsWithNoCase", plat::startsWithNoCase, nullptr, "a", false},
           {"endsWith", plat::endsWith, "file.txt", ".txt", true},
           {"endsWith", plat::endsWith, "file.txt", ".TXT", false},
           {"endsWith", plat::endsWith, "txt", "file.txt", false},
           {"endsWith", plat::endsWith, "abc", nullptr, true},
           {"endsWith", plat::endsWith, nullptr, "", true},
           {"endsWithNoCase", plat::endsWithNoCase, "file.txt", ".TXT", true},
           {"endsWithNoCase", plat::endsWithNoCase, nullptr, "x", false},
       }) {
    EXPECT_EQ(c.fn(c.s, c.affix), c.expected)
        << c.name << "(" << (c.s ? c.s : "null") << ", " << (c.affix ? c.affix : "null") << ")";
  }
}

TEST(StringsSearch, CaseFindAndCharBefore) {
  const char* hay = "Hello World";
  EXPECT_EQ(plat::strCaseFind(hay, "WORLD"), hay + 6);
  EXPECT_EQ(plat::strCaseFind(hay, "worlds"), nullptr);
  EXPECT_EQ(plat::strCaseFind(hay, ""), hay);
  EXPECT_EQ(plat::strCaseFind(hay, nullptr), hay);
  EXPECT_EQ(plat::strCaseFind(nullptr, "x"), nullptr);

  const char* s = "key=value";
  EXPECT_TRUE(plat::containsCharBefore(s, s + 4, '='));
  EXPECT_FALSE(plat::containsCharBefore(s, s + 3, '='));
  EXPECT_FALSE(plat::containsCharBefore(nullptr, nullptr, '='));
}

TEST(StringsSearch, FnvHashSignExtendsEachByte) {
  EXPECT_EQ(plat::strHashFnv1a(""), 0xcbf29ce484222325ULL);
  EXPECT_EQ(plat::strHashFnv1a("a"), 0xaf63dc4c8601ec8cULL);
  // Bytes from 0x80 count as negative, whatever the signedness of char;
  // plain (unsigned) FNV-1a of "é" would be 0x0ac21707b7181e01.
  EXPECT_EQ(plat::strHashFnv1a("\xC3\xA9"), 0x080d7307b4cc3001ULL);
  EXPECT_EQ(plat::strHashFnv1a("\xFF"), 0x509c41b379fe466eULL);
}

// ---- In-place edits ----

TEST(StringsEdit, SpaceTests) {
  struct Case {
    const char* in;
    const char* left;
    const char* right;
    bool nonSpace;
  };
  for (const Case& c : std::vector<Case>{{"  a b \t", "a b \t", "  a b", true},
                                         {"\r\n\t ", "", "", false},
                                         {"", "", "", false},
                                         {"x", "x", "x", true}}) {
    std::string l = c.in, r = c.in;
    plat::trimLeft(l.data());
    plat::trimRight(r.data());
    EXPECT_STREQ(l.c_str(), c.left) << '"' << c.in << '"';
    EXPECT_STREQ(r.c_str(), c.right) << '"' << c.in << '"';
    EXPECT_EQ(plat::hasNonSpace(c.in), c.nonSpace) << '"' << c.in << '"';
  }
  EXPECT_FALSE(plat::hasNonSpace(nullptr));
}

TEST(StringsEdit, RemoveCharsAndInsertEvery) {
  char s[] = "a-b_c-d";
  plat::strRemoveChars(s, "-_");
  EXPECT_STREQ(s, "abcd");

  struct Case {
    const char* in;
    int n;
    const char* expected;
  };
  for (const Case& c : std::vector<Case>{{"abcdef", 2, "ab:cd:ef"},
                                         {"abcde", 2, "ab:cd:e"},
                                         {"abc", 3, "abc"},
                                         {"abcdefg", 3, "abc:def:g"},
                                         {"abc", 0, "abc"},
                                         {"", 2, ""}}) {
    plat::CharArray a(c.in);
    plat::insertEvery(a, ':', c.n);
    EXPECT_STREQ(a.get(), c.expected) << c.in << " every " << c.n;
  }
}

TEST(StringsEdit, AsciiFoldingLeavesOtherBytesAlone) {
  char s[] =
      "Mix\xC3\xA9"
      "d 1";
  plat::toUpperAscii(s);
  EXPECT_STREQ(s,
               "MIX\xC3\xA9"
               "D 1");
  plat::toLowerAscii(s);
  EXPECT_STREQ(s,
               "mix\xC3\xA9"
               "d 1");
  plat::toUpperInPlace(s);
  EXPECT_STREQ(s,
               "MIX\xC3\xA9"
               "D 1");  // the C locale folds only ASCII
  plat::toLowerInPlace(s);
  EXPECT_STREQ(s,
               "mix\xC3\xA9"
               "d 1");
}

// ---- Tokenisers ----

std::vector<std::string> tokens(const char* text, char sep, bool skipRuns) {
  std::string copy = text;
  char* cursor = copy.data();
  std::vector<std::string> out;
  while (char* t = plat::strNextToken(&cursor, sep, skipRuns)) out.emplace_back(t);
  EXPECT_EQ(cursor, nullptr);
  return out;
}

TEST(Tokenise, SingleCharacterSeparator) {
  using V = std::vector<std::string>;
  EXPECT_EQ(tokens(",,a,,b,,", ',', true), (V{"a", "b"}));
  EXPECT_EQ(tokens(",,a,,b,,", ',', false), (V{"", "", "a", "", "b", "", ""}));
  EXPECT_EQ(tokens("a,b", ',', false), (V{"a", "b"}));
  EXPECT_EQ(tokens("abc", ',', false), (V{"abc"}));
  EXPECT_EQ(tokens(",,,", ',', true), V{});
  EXPECT_EQ(plat::strNextToken(nullptr, ','), nullptr);
  char* null = nullptr;
  EXPECT_EQ(plat::strNextToken(&null, ','), nullptr);
}

TEST(Tokenise, AnyOfASetReportsTheSeparator) {
  char text[] = "a=1;;b=2";
  char* cursor = text;
  char which = 'x';
  std::vector<std::pair<std::string, char>> got;
  while (char* t = plat::strNextTokenAny(&cursor, "=;", &which, true)) got.emplace_back(t, which);
  EXPECT_THAT(got, ElementsAre(std::pair<std::string, char>{"a", '='}, std::pair<std::string, char>{"1", ';'},
                               std::pair<std::string, char>{"b", '='}, std::pair<std::string, char>{"2", '\0'}));
}

TEST(Tokenise, MultiCharacterSeparator) {
  char text[] = "--a--b----c--";
  char* cursor = text;
  std::vector<std::string> got;
  while (char* t = plat::strNextTokenStr(&cursor, "--", true)) got.emplace_back(t);
  EXPECT_THAT(got, ElementsAre("a", "b", "c"));

  char text2[] = "a::b:c";
  cursor = text2;
  got.clear();
  while (char* t = plat::strNextTokenStr(&cursor, "::", false)) got.emplace_back(t);
  EXPECT_THAT(got, ElementsAre("a", "b:c"));
}

TEST(Tokenise, SplitLast) {
  char path[] = "dir/sub/file";
  char* cursor = path;
  EXPECT_STREQ(plat::strSplitLast(&cursor, '/'), "file");
  EXPECT_STREQ(cursor, "dir/sub");

  char plain[] = "file";
  cursor = plain;
  EXPECT_STREQ(plat::strSplitLast(&cursor, '/'), "file");
  EXPECT_EQ(cursor, nullptr);
}

// ---- Lists, sets and maps ----

TEST(StringLists, SplitKeepsEmptyFieldsAndLeavesTheTextAlone) {
  const char* text = "b,,a,b";
  plat::CharArrayList list;
  plat::strSplitList(text, ',', list);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_STREQ(list[0].get(), "b");
  EXPECT_STREQ(list[1].get(), "");
  EXPECT_STREQ(list[3].get(), "b");
  EXPECT_STREQ(text, "b,,a,b");

  plat::StringSet set = plat::splitToSet(text, ',');
  plat::DString joined("[");
  plat::joinStrings(joined, set.begin(), set.end(), "|");
  EXPECT_STREQ(joined.c_str(), "[|a|b");
}

TEST(StringLists, AddUniqueAndCaseMap) {
  plat::CharArrayList list;
  plat::addUniqueStr(list, "a");
  plat::addUniqueStr(list, "A");
  plat::addUniqueStr(list, "a");
  EXPECT_EQ(list.size(), 2u);

  plat::CaseMap map;
  auto it = map.findOrInsert("Key");
  EXPECT_TRUE(it->second.isNull());
  it->second = "v";
  EXPECT_EQ(map.findOrInsert("KEY"), it);
  EXPECT_EQ(map.size(), 1u);
  EXPECT_STREQ(it->first.get(), "Key");
}

// ---- Secure helpers ----

TEST(SecureHelpers, ZeroCopyAndCompare) {
  unsigned char key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  unsigned char copy[8] = {};
  plat::secureCopy(copy, key, sizeof key);
  EXPECT_EQ(std::memcmp(copy, key, sizeof key), 0);
  EXPECT_TRUE(plat::constTimeEquals(copy, key, sizeof key));
  copy[7] ^= 0x80;
  EXPECT_FALSE(plat::constTimeEquals(copy, key, sizeof key));
  EXPECT_TRUE(plat::constTimeEquals(copy, key, 7));
  EXPECT_TRUE(plat::constTimeEquals(nullptr, nullptr, 0));

  plat::secureZero(key, sizeof key);
  for (unsigned char b : key) EXPECT_EQ(b, 0);
}

TEST(SecureHelpers, FreeAndAssignStoreTheNewText) {
  plat::CharArray secret("hunter2");
  plat::CharArray kept("hunter2");
  char* keptBuf = kept.get();

  plat::secureFreeStr(secret, plat::CharArray("next"));
  EXPECT_STREQ(secret.get(), "next");

  plat::secureAssignStr(kept, keptBuf + 4, 2);  // from its own text
  EXPECT_STREQ(kept.get(), "er");

  plat::secureAssignStr(kept, nullptr);
  EXPECT_TRUE(kept.isNull());
}

}  // namespace
