#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/MBuf.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/tests/ScriptedInStream.h"
#include "testing/FailureOf.h"

namespace {

using rdr_test::ScriptedInStream;
using testing::HasSubstr;
using yarl_test::failureOf;

// Big-endian bytes of the given 32-bit values.
std::string u32s(const std::vector<uint32_t>& values) {
  std::string out;
  for (uint32_t v : values) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(v >> shift));
  }
  return out;
}

std::string string32(const std::string& body) { return u32s({static_cast<uint32_t>(body.size())}) + body; }

TEST(InStream, IntegersAreBigEndianWhateverTheRefillSize) {
  const std::string bytes(
      "\x81"                               // u8
      "\x82\x83"                           // u16
      "\x84\x85\x86\x87"                   // u32
      "\x88\x89\x8a\x8b\x8c\x8d\x8e\x8f"   // u64
      "\xff"                               // s8
      "\xff\xfe"                           // s16
      "\xff\xff\xff\xfd"                   // s32
      "\xff\xff\xff\xff\xff\xff\xff\xfc",  // s64
      30);
  // chunk 1: every multi-byte item is assembled from one-byte refills;
  // chunk 3: items straddle refills at varying offsets.
  for (int chunk : {1, 2, 3, 100}) {
    SCOPED_TRACE(chunk);
    ScriptedInStream in(bytes, {.chunk = chunk});
    EXPECT_EQ(in.readU8(), 0x81u);
    EXPECT_EQ(in.readU16(), 0x8283u);
    EXPECT_EQ(in.readU32(), 0x84858687u);
    EXPECT_EQ(in.readU64(), 0x88898a8b8c8d8e8fULL);
    EXPECT_EQ(in.readS8(), -1);
    EXPECT_EQ(in.readS16(), -2);
    EXPECT_EQ(in.readS32(), -3);
    EXPECT_EQ(in.readS64(), -4);
    EXPECT_EQ(in.pos(), 30);
    EXPECT_THROW(in.readU8(), rdr::EndOfStream);
  }
}

TEST(InStream, U64FromOneByteRefillsTakesEightRefills) {
  ScriptedInStream in(std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8), {.chunk = 1});
  EXPECT_EQ(in.readU64(), 0x0102030405060708ULL);
  EXPECT_EQ(in.refills(), 8);
}

// A parser redoes its unit from the checkpoint when the data runs short.
TEST(InStream, ShortDataRewindsToTheCheckpointAndBlocks) {
  const std::string bytes = "\x07" + u32s({0xCAFEF00D});
  for (bool blockByThrowing : {false, true}) {
    SCOPED_TRACE(blockByThrowing);
    // The length byte and half of the u32 have arrived.
    ScriptedInStream in(bytes, {.chunk = 100, .arrived = 3, .blockByThrowing = blockByThrowing});
    EXPECT_EQ(in.readU8(), 7);
    in.setCheckpoint();
    EXPECT_EQ(failureOf<rdr::BlockException>([&] { in.readU32(); }), "Reading from InStream would block");
    EXPECT_EQ(in.pos(), 1);
    // Without wait the shortfall is an answer, not an exception.
    EXPECT_FALSE(in.check(false, 4));
    EXPECT_EQ(in.pos(), 1);

    in.arrive(2);
    EXPECT_EQ(in.readU32(), 0xCAFEF00Du);
    EXPECT_EQ(in.pos(), 5);
  }
}

TEST(InStream, NonRewindableStreamCheckpointsBeforeEachFill) {
  ScriptedInStream in(u32s({1, 2}), {.chunk = 2, .arrived = 6, .rewindable = false});
  EXPECT_EQ(in.readU32(), 1u);
  // The second half of the u32 came with a fill at position 2.
  EXPECT_EQ(in.checkpointPos(), 2);
  // Each fill marks everything read so far as dropped: the two bytes taken
  // before the block are not given back.
  EXPECT_THROW(in.readU32(), rdr::BlockException);
  EXPECT_EQ(in.checkpointPos(), 6);
  EXPECT_EQ(in.pos(), 6);
  EXPECT_EQ(failureOf<plat::Exception>([&] { in.rewind(); }), "Attempt to rewind a non-rewindable stream");
}

TEST(InStream, RepositionGoesForwardFromTheCheckpointOnly) {
  const std::string bytes = "0123456789";
  struct Case {
    int32_t to;
    int nextChar;  // -1: throws
  };
  for (const Case& c : std::vector<Case>{{2, -1}, {3, '3'}, {6, '6'}, {9, '9'}}) {
    SCOPED_TRACE(c.to);
    ScriptedInStream in(bytes, {.chunk = 2});
    in.skip(3);
    in.setCheckpoint();
    in.skip(4);
    if (c.nextChar < 0) {
      EXPECT_EQ(failureOf<plat::Exception>([&] { in.reposition(c.to); }), "Can't reposition before checkpoint");
      EXPECT_EQ(in.pos(), 7);
      continue;
    }
    in.reposition(c.to);
    EXPECT_EQ(in.pos(), c.to);
    EXPECT_EQ(in.readU8(), c.nextChar);
  }
}

TEST(InStream, RefillThatDeliversNothingIsAnOverrun) {
  // A subclass that claims success without widening its window.
  class Empty : public rdr::InStream {
   public:
    int32_t pos() override { return 0; }

   protected:
    bool overrun(int32_t) override { return true; }
  } in;
  EXPECT_EQ(failureOf<plat::Exception>([&] { in.readU8(); }), "InStream overrun: buffer size exceeded");
}

TEST(InStream, ByteRunsAcrossRefills) {
  const std::string bytes = "abcdefghij";
  for (int chunk : {1, 4, 100}) {
    SCOPED_TRACE(chunk);
    ScriptedInStream in(bytes, {.chunk = chunk});
    char out[5] = {};
    in.readBytes(out, 4);
    EXPECT_EQ(std::string(out), "abcd");
    in.skip(2);
    uint8_t copy[3];
    const uint8_t* p = in.getBytes(3, copy);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), 3), "ghi");
    // Straight from the window only when the run could be buffered whole.
    EXPECT_EQ(p == copy, chunk < 3);
    EXPECT_EQ(in.pos(), 9);
    in.readBytes(nullptr, 0);  // an empty run needs no destination
    EXPECT_EQ(in.pos(), 9);
  }
}

TEST(InStream, ReadCStringFindsTheFirstNul) {
  struct Case {
    std::string bytes;
    int32_t index;
  };
  for (const Case& c : std::vector<Case>{{std::string("ab\0d", 4), 2}, {std::string("\0\0xy", 4), 0}, {"abcd", -1}}) {
    ScriptedInStream in(c.bytes + "!");
    char dest[4];
    EXPECT_EQ(in.readCString(dest, 4), c.index);
    EXPECT_EQ(std::memcmp(dest, c.bytes.data(), 4), 0);
    EXPECT_EQ(in.readU8(), '!');
  }
}

TEST(InStream, GetItemsHandsOutWholeItemsFromTheWindow) {
  rdr::MemInStream mem("abcdefghij", 10);
  int32_t n = 10;
  const uint8_t* p = mem.getItems(3, &n);
  EXPECT_EQ(n, 3);  // 9 of the 10 bytes
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), 9), "abcdefghi");
  EXPECT_EQ(mem.pos(), 9);

  // An item split over a block: nothing without wait, the throw with it.
  ScriptedInStream in("abcdef", {.chunk = 100, .arrived = 4});
  n = 5;
  EXPECT_NE(in.getItems(2, &n), nullptr);
  EXPECT_EQ(n, 2);
  in.setCheckpoint();
  n = 5;
  EXPECT_EQ(in.getItems(3, &n, false), nullptr);
  EXPECT_THROW(in.getItems(3, &n, true), rdr::BlockException);
  EXPECT_EQ(in.pos(), 4);
}

TEST(InStream, StringLengthIsCheckedBeforeTheBody) {
  struct Case {
    int len;
    bool tooLong;
  };
  for (const Case& c : std::vector<Case>{{0, false}, {10, false}, {11, true}, {0x7FFFFFFF, true}}) {
    SCOPED_TRACE(c.len);
    // Only the length has arrived: an oversized string must fail at once
    // rather than wait for a body it will refuse.
    std::string body(c.len <= 11 ? c.len : 0, 'x');
    ScriptedInStream in(u32s({static_cast<uint32_t>(c.len)}) + body, {.chunk = 100, .arrived = 4});
    if (c.tooLong) {
      EXPECT_EQ(failureOf<rdr::StringTooLongException>([&] { in.readString(10); }), "String exceeds maximum length");
      EXPECT_EQ(in.pos(), 4);
      continue;
    }
    if (c.len > 0) {
      EXPECT_THROW(in.readString(10), rdr::BlockException);
      in.arrive(c.len);
    }
    EXPECT_EQ(std::string(in.readString(10).get()), body);
  }
}

TEST(InStream, ReadStringIntoRefusesALengthThatCannotFit) {
  // The text and its NUL would pass a 32-bit size: refused before any byte
  // is read, and the buffer keeps its text.
  ScriptedInStream in("abc");
  plat::DString into("old");
  EXPECT_EQ(failureOf<rdr::StringTooLongException>([&] { in.readStringInto(into, INT32_MAX); }),
            "String exceeds maximum length");
  EXPECT_EQ(in.pos(), 0);
  EXPECT_STREQ(into.c_str(), "old");
  in.readStringInto(into, 3);
  EXPECT_STREQ(into.c_str(), "abc");
}

TEST(InStream, StringForms) {
  ScriptedInStream in(string32("one") + string32("two") + "\x05three" + string32(std::string("a\0b", 3)) +
                      string32("\xff ok") + "abc");
  EXPECT_STREQ(in.readString(100).get(), "one");
  EXPECT_EQ(in.readStdString(100), "two");
  EXPECT_STREQ(in.readString8().get(), "three");
  // A NUL in the body ends the text, but the whole body is consumed.
  EXPECT_STREQ(in.readString(100).get(), "a");
  EXPECT_STREQ(in.readString(100, true).get(), "\xEF\xBF\xBD ok");
  plat::DString into("old text");
  in.readStringInto(into, 3);
  EXPECT_STREQ(into.c_str(), "abc");
  EXPECT_TRUE(in.atEnd());
}

TEST(InStream, ReadLine) {
  struct Case {
    const char* name;
    std::string bytes;
    int32_t max;
    bool endOfMsg;
    std::vector<std::string> lines;  // then the stream's end is rethrown
    bool tooLong;                    // instead of the end, after the lines
  };
  const std::vector<Case> cases{
      {"crlf then unterminated", "ab\r\ncd", 0, false, {"ab", "cd"}, false},
      {"end of message ends a line", "ab\r\ncd", 0, true, {"ab", "cd"}, false},
      {"nothing", "", 0, false, {}, false},
      {"empty lines", "\n\r\n", 0, false, {"", ""}, false},
      {"a lone CR is a line", "x\n\r", 0, false, {"x", ""}, false},
      {"exactly max", "abc\nd", 3, false, {"abc", "d"}, false},
      {"past max", "ok\nabcd\n", 3, false, {"ok"}, true},
      {"past max without LF", "abcd", 3, false, {}, true},
  };
  for (const Case& c : cases) {
    for (int chunk : {1, 100}) {
      SCOPED_TRACE(testing::Message() << c.name << ", chunk " << chunk);
      ScriptedInStream in(c.bytes, {.chunk = chunk, .endOfMsg = c.endOfMsg});
      plat::DString line("stale");
      for (const std::string& expected : c.lines) {
        EXPECT_TRUE(in.readLine(line, c.max));
        EXPECT_EQ(line.c_str(), expected);
      }
      line.assign("stale");
      if (c.tooLong) {
        EXPECT_EQ(failureOf<rdr::StringTooLongException>([&] { in.readLine(line, c.max); }),
                  "String exceeds maximum length");
      } else if (c.endOfMsg) {
        EXPECT_THROW(in.readLine(line, c.max), rdr::EndOfMsg);
      } else {
        EXPECT_THROW(in.readLine(line, c.max), rdr::EndOfStream);
      }
      EXPECT_STREQ(line.c_str(), "");
    }
  }
}

TEST(InStream, ReadLineReportsNulAndRepairsText) {
  ScriptedInStream in(std::string("a\0b\nplain\nbad\xff\n", 15));
  plat::DString line;
  bool sawNul = false;
  EXPECT_TRUE(in.readLine(line, 0, &sawNul));
  EXPECT_TRUE(sawNul);
  EXPECT_STREQ(line.c_str(), "a");
  // With sanitise the answer says whether the text was valid already.
  EXPECT_TRUE(in.readLine(line, 0, &sawNul, true));
  EXPECT_FALSE(sawNul);
  EXPECT_STREQ(line.c_str(), "plain");
  EXPECT_FALSE(in.readLine(line, 0, nullptr, true));
  EXPECT_STREQ(line.c_str(), "bad\xEF\xBF\xBD");
}

TEST(InStream, ReadU32Below) {
  struct Case {
    uint32_t n;
    std::vector<uint32_t> values;
    uint32_t result;
    int32_t consumed;  // u32 values read
  };
  const std::vector<Case> cases{
      {0, {0xDEADBEEF, 1}, 0xDEADBEEF, 1},
      {1, {0xDEADBEEF, 1}, 0, 1},
      // The threshold for 10 is 2^32 mod 10 = 6: 3 and 5 are drawn again.
      {10, {3, 5, 17, 1}, 7, 3},
      {10, {6, 1}, 6, 1},
      // For 2^31 + 1 the threshold is 2^31 - 1: the ninth draw is kept
      // whatever it is.
      {0x80000001u, {0, 1, 2, 3, 4, 5, 6, 7, 8, 0x80000002u}, 8, 9},
      {0x80000001u, {0, 0x7FFFFFFF, 5}, 0x7FFFFFFF, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    ScriptedInStream in(u32s(c.values), {.chunk = 3});
    EXPECT_EQ(in.readU32Below(c.n), c.result);
    EXPECT_EQ(in.pos(), 4 * c.consumed);
  }
}

TEST(InStream, BufferReadsExactlyItsCountFromAStream) {
  ScriptedInStream in("abcdefgh", {.chunk = 1});
  plat::Buffer secret(in, 5, true);
  EXPECT_TRUE(secret.secure());
  ASSERT_EQ(secret.count(), 5);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(secret.data()), 5), "abcde");
  EXPECT_EQ(in.pos(), 5);

  plat::Buffer none(in, 0);
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(in.pos(), 5);

  // Sizes are in elements.
  rdr::MemInStream words("\x01\x02\x03\x04", 4);
  plat::MBuf<uint16_t> pair(words, 2);
  EXPECT_EQ(words.pos(), 4);
  EXPECT_EQ(std::memcmp(pair.data(), "\x01\x02\x03\x04", 4), 0);

  EXPECT_THROW(plat::Buffer(in, 4), rdr::EndOfStream);
}

TEST(InStreamDeathTest, WindowBoundsAreAssertions) {
  const char data[] = "abc";
  struct Case {
    const char* expression;
    std::function<void(rdr::InStream&)> misuse;
  };
  const std::vector<Case> cases{
      {"nUnread\\(\\) >= n", [](rdr::InStream& in) { in.advance(4); }},
      {"p >= ptr && p <= end", [](rdr::InStream& in) { in.setPtr(in.getEnd() + 1); }},
      {"p >= ptr && p <= end", [](rdr::InStream& in) { in.setPtr(in.getPtr() - 1); }},
      {"\\*nItems > 0",
       [](rdr::InStream& in) {
         int32_t n = 0;
         in.getItems(1, &n);
       }},
  };
  for (const Case& c : cases) {
    rdr::MemInStream in(data, 3);
    in.skip(1);
    EXPECT_EXIT(c.misuse(in), testing::KilledBySignal(SIGABRT),
                std::string("Assertion '") + c.expression + "' failed at qocore/base/rdr/InStream\\.");
  }
}

}  // namespace
