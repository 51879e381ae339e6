#include <fcntl.h>
#include <gtest/gtest.h>
#include <mbedtls/base64.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/tests/HugeText.h"

namespace {

std::vector<unsigned char> bytesOf(const plat::MBuf<unsigned char>& buf) { return {buf.begin(), buf.end()}; }
std::vector<unsigned char> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }
std::string str(const plat::CharArray& text) {
  EXPECT_FALSE(text.isNull());
  return text.c_str();
}

TEST(HexDigitValueTest, AccumulatesDigitsOfEitherCaseAndRefusesTheRest) {
  struct Case {
    char c;
    bool ok;
    uint64_t after;  // starting from 1
  };
  const Case cases[] = {
      {'0', true, 16}, {'9', true, 25}, {'a', true, 26}, {'f', true, 31},  {'A', true, 26},
      {'F', true, 31}, {'g', false, 1}, {'G', false, 1}, {'/', false, 1},  {':', false, 1},
      {'@', false, 1}, {'`', false, 1}, {' ', false, 1}, {'\0', false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "char " << int(c.c));
    uint64_t acc = 1;
    EXPECT_EQ(plat::hexDigitValue(c.c, &acc), c.ok);
    EXPECT_EQ(acc, c.after);
  }
}

TEST(HexToBufferTest, DecodesPairsHighNibbleFirst) {
  struct Case {
    const char* text;
    std::vector<unsigned char> bytes;
  };
  const Case cases[] = {
      {"", {}},
      {"0A0b", {0x0A, 0x0B}},
      {"00ff7F80", {0x00, 0xFF, 0x7F, 0x80}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    plat::MBuf<unsigned char> out(3);
    ASSERT_TRUE(plat::hexToBuffer(c.text, out));
    EXPECT_EQ(bytesOf(out), c.bytes);
  }
}

TEST(HexToBufferTest, RefusalLeavesTheOutputAsItWas) {
  const char* const refused[] = {"abc", "zz", "0g", "0a0", " 0a", nullptr};
  const unsigned char before[] = {1, 2, 3};
  for (const char* text : refused) {
    SCOPED_TRACE(text ? text : "<null>");
    plat::MBuf<unsigned char> out(before, 3);
    EXPECT_FALSE(plat::hexToBuffer(text, out));
    EXPECT_EQ(bytesOf(out), (std::vector<unsigned char>{1, 2, 3}));
  }
}

// 2^31 bytes is one more than a buffer can count: the length is refused
// before any decoding, whatever the digits are.
TEST(HexToBufferTest, RefusesATextOfMoreBytesThanABufferCanCount) {
  plat_test::HugeText digits('0', size_t(1) << 32);
  ASSERT_TRUE(digits.ok());
  const unsigned char before[] = {7};
  plat::MBuf<unsigned char> out(before, 1);
  EXPECT_FALSE(plat::hexToBuffer(digits.get(), out));
  EXPECT_EQ(bytesOf(out), (std::vector<unsigned char>{7}));
}

TEST(HexNibbleTest, IsUsableInConstantExpressions) {
  static_assert(plat::hexNibble('0') == 0 && plat::hexNibble('9') == 9);
  static_assert(plat::hexNibble('a') == 10 && plat::hexNibble('F') == 15);
  static_assert(plat::hexNibble('g') == -1 && plat::hexNibble('\0') == -1);
}

// ---- Base64 ----

// RFC 4648 section 10, with the URL-safe form (no padding) beside each, and
// two bytes that reach the alphabets' last two characters.
struct Base64Vector {
  std::string bytes;
  const char* standard;
  const char* urlSafe;
};
const Base64Vector kBase64Vectors[] = {
    {"", "", ""},
    {"f", "Zg==", "Zg"},
    {"fo", "Zm8=", "Zm8"},
    {"foo", "Zm9v", "Zm9v"},
    {"foob", "Zm9vYg==", "Zm9vYg"},
    {"fooba", "Zm9vYmE=", "Zm9vYmE"},
    {"foobar", "Zm9vYmFy", "Zm9vYmFy"},
    {"\xff", "/w==", "_w"},
    {"\xfb\xff", "+/8=", "-_8"},
};

TEST(Base64Test, EncodesTheVectorsInBothAlphabets) {
  for (const Base64Vector& v : kBase64Vectors) {
    SCOPED_TRACE(v.standard);
    EXPECT_EQ(str(plat::base64Encode(v.bytes.data(), int(v.bytes.size()), false)), v.standard);
    EXPECT_EQ(str(plat::base64Encode(v.bytes.data(), int(v.bytes.size()), true)), v.urlSafe);
  }
}

TEST(Base64Test, DecodesTheVectorsInBothAlphabets) {
  for (const Base64Vector& v : kBase64Vectors) {
    for (const char* text : {v.standard, v.urlSafe}) {
      SCOPED_TRACE(text);
      plat::MBuf<unsigned char> out(5);
      ASSERT_TRUE(plat::base64Decode(text, out));
      EXPECT_EQ(bytesOf(out), bytesOf(v.bytes));
    }
  }
}

TEST(Base64Test, DecoderAcceptsPaddingOnlyAtTheEndOfAGroup) {
  struct Case {
    const char* text;
    bool ok;
    std::string bytes;  // when ok
  };
  const Case cases[] = {
      {"QQ", true, "A"},           {"QQ==", true, "A"},
      {"QUI", true, "AB"},         {"QUI=", true, "AB"},
      {"QUJDREU=", true, "ABCDE"}, {"+/-_", true, "\xfb\xff\xbf"},  // both alphabets in one text
      {"QQ=", false, ""},                                           // one "=" where two are needed
      {"Q=", false, ""},                                            // "=" as a group's second character
      {"Q===", false, ""},         {"QUI==", false, ""},            // length 5
      {"QUJDR", false, ""},                                         // length 5, no padding at all
      {"QUJDRA=", false, ""},                                       // a lone "=" in a group's third place
      {"QQ==QUJD", false, ""},                                      // data after the padding
      {"QUI=QUJD", false, ""},     {"QQ=A", false, ""},
      {"QU JD", false, ""},  // white space is no Base64
      {"QUJ\n", false, ""},        {"QUJ.", false, ""},
      {"QUJ\xc3", false, ""},  // a byte of 128 or above
      {nullptr, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text ? c.text : "<null>");
    const unsigned char before[] = {9, 8, 7};
    plat::MBuf<unsigned char> out(before, 3);
    EXPECT_EQ(plat::base64Decode(c.text, out), c.ok);
    EXPECT_EQ(bytesOf(out), c.ok ? bytesOf(c.bytes) : bytesOf(std::string("\x09\x08\x07")));
  }
}

TEST(Base64Test, SecureOutputStaysSecure) {
  plat::MBuf<unsigned char> out(0, true);
  ASSERT_TRUE(plat::base64Decode("c2VjcmV0", out));
  EXPECT_EQ(bytesOf(out), bytesOf(std::string("secret")));
  EXPECT_TRUE(out.secure());
}

// mbedtls's Base64 is an independent implementation of the standard
// alphabet; the URL-safe form is the same text translated and unpadded.
TEST(Base64Test, AgreesWithMbedtlsOnRandomBuffers) {
  std::mt19937 rng(1106);
  std::vector<int> lengths;
  for (int n = 0; n <= 70; ++n) lengths.push_back(n);
  for (int n : {255, 256, 257, 1000, 4096, 4097}) lengths.push_back(n);
  for (int n : lengths) {
    SCOPED_TRACE(n);
    std::vector<unsigned char> bytes(n);
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(rng());

    std::vector<unsigned char> theirs(4 * (n + 2) / 3 + 2);
    size_t theirLen = 0;
    ASSERT_EQ(mbedtls_base64_encode(theirs.data(), theirs.size(), &theirLen, bytes.data(), bytes.size()), 0);
    const std::string expected(theirs.begin(), theirs.begin() + theirLen);
    EXPECT_EQ(str(plat::base64Encode(bytes.data(), n, false)), expected);

    std::string urlSafe = expected;
    for (char& c : urlSafe) c = c == '+' ? '-' : c == '/' ? '_' : c;
    urlSafe.erase(urlSafe.find_last_not_of('=') + 1);
    EXPECT_EQ(str(plat::base64Encode(bytes.data(), n, true)), urlSafe);

    for (const std::string& text : {expected, urlSafe}) {
      plat::MBuf<unsigned char> out;
      ASSERT_TRUE(plat::base64Decode(text.c_str(), out));
      EXPECT_EQ(bytesOf(out), bytes);
    }
  }
}

TEST(Base64Test, RefusesTheLineBreaksMbedtlsAccepts) {
  const std::string text = "Zm9vYmFy\nYmF6cXV4\n";
  std::vector<unsigned char> theirs(16);
  size_t theirLen = 0;
  ASSERT_EQ(mbedtls_base64_decode(theirs.data(), theirs.size(), &theirLen,
                                  reinterpret_cast<const unsigned char*>(text.data()), text.size()),
            0);
  EXPECT_EQ(std::string(theirs.begin(), theirs.begin() + theirLen), "foobarbazqux");

  plat::MBuf<unsigned char> out;
  EXPECT_FALSE(plat::base64Decode(text.c_str(), out));
}

// ---- Hexadecimal ----

TEST(HexDigitTest, GivesLowerCaseDigitsAndAssertsOnOtherValues) {
  for (int i = 0; i < 16; ++i) EXPECT_EQ(plat::hexDigit(i), "0123456789abcdef"[i]);
  for (int bad : {-1, 16, 255}) {
    SCOPED_TRACE(bad);
    try {
      plat::hexDigit(bad);
      ADD_FAILURE() << "no exception";
    } catch (const plat::AssertionFail& e) {
      EXPECT_STREQ(e.expression(), "i >= 0 && i <= 15");
      EXPECT_NE(std::strstr(e.str(), "Assertion 'i >= 0 && i <= 15' failed at"), nullptr) << e.str();
    }
  }
}

TEST(BinToHexTest, WritesTwoLowerCaseDigitsPerByte) {
  const unsigned char bytes[] = {0, 171, 0x0f, 0xf0, 0xff};
  EXPECT_EQ(str(plat::binToHex(2, bytes)), "00ab");
  EXPECT_EQ(str(plat::binToHex(5, bytes)), "00ab0ff0ff");
  EXPECT_EQ(str(plat::binToHex(0, nullptr)), "");
}

TEST(BinToHexTest, RoundTripsEveryByteThroughHexToBin) {
  std::vector<unsigned char> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<unsigned char>(i);
  std::string text = str(plat::binToHex(256, all.data()));
  EXPECT_EQ(bytesOf(plat::hexToBin(text.c_str())), all);
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(bytesOf(plat::hexToBin(text.c_str())), all);
}

TEST(HexToBinTest, ThrowsBadHexString) {
  for (const char* text : {"0g", "abc", "zz", "0a 1", static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(text ? text : "<null>");
    try {
      plat::hexToBin(text);
      ADD_FAILURE() << "no exception";
    } catch (const plat::Exception& e) {
      EXPECT_STREQ(e.str(), "Bad hex string");
    }
  }
  EXPECT_TRUE(plat::hexToBin("").empty());
}

TEST(HexDecodeIntoTest, DecodesExactlyNBytesAndStopsAtTheFirstBadDigit) {
  struct Case {
    const char* text;
    int n;
    bool ok;
    std::vector<unsigned char> after;  // the 4-byte output, initially all 0xEE
  };
  const Case cases[] = {
      {"00ff1A", 3, true, {0x00, 0xFF, 0x1A, 0xEE}},
      {"00ff1A99", 2, true, {0x00, 0xFF, 0xEE, 0xEE}},  // digits after the n-th byte are not read
      {"00fX1A", 3, false, {0x00, 0xEE, 0xEE, 0xEE}},   // bytes before the bad one are written
      {"00ff", 3, false, {0x00, 0xFF, 0xEE, 0xEE}},     // the text ends early
      {"00f", 2, false, {0x00, 0xEE, 0xEE, 0xEE}},
      {"zz", 0, true, {0xEE, 0xEE, 0xEE, 0xEE}},
      {nullptr, -1, true, {0xEE, 0xEE, 0xEE, 0xEE}},
      {nullptr, 1, false, {0xEE, 0xEE, 0xEE, 0xEE}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.text ? c.text : "<null>") << " n=" << c.n);
    std::vector<unsigned char> out(4, 0xEE);
    EXPECT_EQ(plat::hexDecodeInto(c.text, c.n, out.data()), c.ok);
    EXPECT_EQ(out, c.after);
  }
}

// Points stderr at a temporary file for the fixture's lifetime.
class HexDumpTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "hexdumpXXXXXX").string();
    int fd = mkostemp(pattern.data(), O_CLOEXEC);
    ASSERT_GE(fd, 0);
    path_ = pattern;
    std::fflush(stderr);
    saved_ = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    ASSERT_GE(saved_, 0);
    ASSERT_EQ(dup2(fd, STDERR_FILENO), STDERR_FILENO);
    close(fd);
  }
  void TearDown() override {
    restore();
    if (!path_.empty()) std::filesystem::remove(path_);
  }
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    saved_ = -1;
  }
  std::string captured() {
    restore();
    std::ifstream in(path_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  std::string path_;
  int saved_ = -1;
};

TEST_F(HexDumpTest, LaysOutSixteenBytesToALine) {
  // Printable bytes and their neighbours on either side of the range.
  const unsigned char first16[] = {'A',  'B',  'C',  'D', 0x00, 0x1f, 0x20, 0x7e,
                                   0x7f, 0x80, 0xff, '0', 'x',  'y',  'z',  '.'};
  plat::MBuf<unsigned char> sixteen(first16, 16);
  std::vector<unsigned char> bytes17(first16, first16 + 16);
  bytes17.push_back('q');
  plat::MBuf<unsigned char> seventeen(bytes17.data(), 17);
  const std::string full = "41 42 43 44  00 1f 20 7e  7f 80 ff 30  78 79 7a 2e  ABCD.. ~...0xyz.\n";
  // One byte, then 15 padded places and the four group blanks: the column
  // lines up under the one above.
  const std::string last = "71" + std::string(50, ' ') + "q\n";

  struct Case {
    const plat::MBuf<unsigned char>* buffer;
    const char* first;
    const char* next;
    std::string expected;
  };
  const Case cases[] = {
      {&sixteen, "> ", "+ ", "> " + full},
      {&sixteen, nullptr, nullptr, "0000 " + full},
      {&seventeen, "> ", "+ ", "> " + full + "+ " + last},
      {&seventeen, nullptr, nullptr, "0000 " + full + "0010 " + last},
      {&seventeen, "> ", nullptr, "> " + full + "0010 " + last},
  };
  for (const Case& c : cases) {
    plat::hexDump(*c.buffer, c.first, c.next);
  }
  std::string expected;
  for (const Case& c : cases) expected += c.expected;
  EXPECT_EQ(captured(), expected);
}

TEST_F(HexDumpTest, EmptyBufferWritesNothing) {
  plat::hexDump(plat::MBuf<unsigned char>(), "> ", "+ ");
  EXPECT_EQ(captured(), "");
}

// ---- Words ----

TEST(WordTableTest, HasTheAdvertisedShape) {
  ASSERT_EQ(plat::kWordTableSize, 1634);
  EXPECT_EQ(plat::kWordTable[0], nullptr);
  std::set<std::string> seen;
  for (int i = 1; i < plat::kWordTableSize; ++i) {
    SCOPED_TRACE(i);
    ASSERT_NE(plat::kWordTable[i], nullptr);
    const std::string word = plat::kWordTable[i];
    EXPECT_TRUE(seen.insert(word).second) << word << " twice";
    EXPECT_GE(word.size(), 3u) << word;
    EXPECT_LE(word.size(), 7u) << word;
    if (i > plat::kMainWords) {
      EXPECT_EQ(word.size(), 3u) << word;
    }
    for (char c : word) EXPECT_TRUE(c >= 'a' && c <= 'z') << word;
  }
}

TEST(WordEncodeTest, GroupsOfFourBytesGiveThreeWords) {
  struct Case {
    std::vector<unsigned char> bytes;
    std::vector<int> indices;  // into the word table
  };
  const Case cases[] = {
      {{}, {}},
      {{0}, {1}},
      {{7}, {8}},
      {{0xff, 0xff}, {496, 41}},
      {{1, 2, 3}, {376, 122, 1627}},  // a final three bytes end on a marker
      {{0xff, 0xff, 0xff}, {148, 563, 1633}},
      {{1, 2, 3, 0}, {376, 122, 1}},  // the same value in four bytes does not
      {{1, 0, 0, 0}, {2, 1, 1}},      // little-endian
      {{0, 0, 0, 1}, {149, 563, 7}},
      {{0xff, 0xff, 0xff, 0xff}, {490, 808, 1625}},
      // 5 + 7 * 1626 + 9 * 1626^2, then a final three bytes.
      {{0x3f, 0x41, 0x6b, 0x01, 1, 2, 3}, {6, 8, 10, 376, 122, 1627}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    const int n = static_cast<int>(c.bytes.size());
    plat::CharArrayList words = plat::wordEncode(c.bytes.data(), n);
    ASSERT_EQ(words.size(), c.indices.size());
    ASSERT_EQ(words.size(), size_t((3 * n + 3) / 4));
    for (size_t i = 0; i < words.size(); ++i) {
      EXPECT_STREQ(words[i].get(), plat::kWordTable[c.indices[i]]) << "word " << i;
      EXPECT_STREQ(plat::wordAt(c.bytes.data(), n, int(i)), plat::kWordTable[c.indices[i]]) << "word " << i;
    }
    EXPECT_EQ(plat::wordAt(c.bytes.data(), n, int(words.size())), nullptr);
    EXPECT_EQ(plat::wordAt(c.bytes.data(), n, -1), nullptr);
  }
}

TEST(WordEncodeTest, WordCountFollowsTheLength) {
  const unsigned char bytes[13] = {};
  const size_t expected[] = {0, 1, 2, 3, 3, 4, 5, 6, 6, 7, 8, 9, 9, 10};
  for (int n = 0; n <= 13; ++n) {
    EXPECT_EQ(plat::wordEncode(bytes, n).size(), expected[n]) << n << " bytes";
  }
}

// ---- UUIDs ----

TEST(MakeUuidTest, SetsVersionFourAndTheVariantOnRandomBytes) {
  std::set<std::vector<unsigned char>> seen;
  unsigned otherBits = 0;
  for (int i = 0; i < 64; ++i) {
    unsigned char id[16];
    plat::makeUuid(id);
    EXPECT_EQ(id[6] >> 4, 0x4);
    EXPECT_EQ(id[8] >> 6, 0x2);
    otherBits |= (id[6] & 0x0F) | (id[8] & 0x3F);
    seen.insert(std::vector<unsigned char>(id, id + 16));
  }
  EXPECT_EQ(seen.size(), 64u);
  EXPECT_EQ(otherBits, 0x3Fu);  // only the fixed bits are fixed
}

TEST(SetUuidBitsTest, CopiesUpToSixteenBytesAndSetsTheBits) {
  struct Case {
    std::vector<unsigned char> bytes;
    std::vector<unsigned char> expected;
  };
  const std::vector<unsigned char> ones(16, 0xFF);
  std::vector<unsigned char> twenty(20);
  for (int i = 0; i < 20; ++i) twenty[i] = static_cast<unsigned char>(i + 1);
  const Case cases[] = {
      {ones, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x4F, 0xFF, 0xBF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {std::vector<unsigned char>(16), {0, 0, 0, 0, 0, 0, 0x40, 0, 0x80, 0, 0, 0, 0, 0, 0, 0}},
      {twenty, {1, 2, 3, 4, 5, 6, 0x47, 8, 0x89, 10, 11, 12, 13, 14, 15, 16}},
      {{1, 2, 3, 4}, {1, 2, 3, 4, 0, 0, 0x40, 0, 0x80, 0, 0, 0, 0, 0, 0, 0}},
      {{}, {0, 0, 0, 0, 0, 0, 0x40, 0, 0x80, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    std::vector<unsigned char> out(17, 0xEE);  // one guard byte past the 16
    plat::setUuidBits(out.data(), plat::MBuf<unsigned char>(c.bytes.data(), int(c.bytes.size())));
    EXPECT_EQ(std::vector<unsigned char>(out.begin(), out.begin() + 16), c.expected);
    EXPECT_EQ(out[16], 0xEE);
  }
}

}  // namespace
