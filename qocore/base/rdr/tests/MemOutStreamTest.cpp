#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/MemOutStream.h"

namespace {

std::string written(const rdr::MemOutStream& out, int32_t len) {
  return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(len));
}

TEST(MemOutStream, LimitStopsWritingWithOutStreamFull) {
  struct Case {
    int32_t initialSize;
    int32_t limit;
  };
  for (const Case& c : std::vector<Case>{{-1, 10}, {4, 10}, {0, 10}, {10, 10}}) {
    SCOPED_TRACE(testing::Message() << "initial size " << c.initialSize);
    rdr::MemOutStream out(c.initialSize, c.limit);
    for (int i = 0; i < 10; ++i) {
      EXPECT_EQ(out.spaceLimit(), 10 - i);
      out.writeU8(static_cast<uint8_t>('0' + i));
    }
    EXPECT_EQ(out.spaceLimit(), 0);
    try {
      out.writeU8('x');
      ADD_FAILURE() << "the 11th byte was written";
    } catch (const rdr::OutStreamFull& e) {
      EXPECT_STREQ(e.str(), "OutStream full");
    }
    EXPECT_EQ(written(out, out.length()), "0123456789");
  }

  // A block that would pass the limit is refused whole.
  rdr::MemOutStream out(-1, 10);
  out.writeBytes("abcd", 4);
  EXPECT_THROW(out.writeBytes("0123456789", 7), rdr::OutStreamFull);
  EXPECT_EQ(out.length(), 4);
  out.writeBytes("0123456789", 6);
  EXPECT_EQ(written(out, 10), "abcd012345");
}

TEST(MemOutStream, SetLimitMovesTheBoundary) {
  rdr::MemOutStream out(4);
  EXPECT_EQ(out.spaceLimit(), rdr::OutStream::kNoLimit);
  out.writeBytes("abcde", 5);
  out.setLimit(6);
  EXPECT_EQ(out.spaceLimit(), 1);
  out.writeU8('f');
  EXPECT_THROW(out.writeU8('g'), rdr::OutStreamFull);
  out.setLimit(0);
  out.writeU8('g');
  EXPECT_EQ(written(out, out.length()), "abcdefg");
}

TEST(MemOutStream, GrowsAndKeepsWhatWasWritten) {
  struct Case {
    int32_t initialSize;
    int32_t blockSize;
  };
  for (const Case& c : std::vector<Case>{{0, 1}, {1, 3}, {256, 1000}, {16, 40000}}) {
    SCOPED_TRACE(testing::Message() << "initial " << c.initialSize << " blocks of " << c.blockSize);
    rdr::MemOutStream out(c.initialSize);
    std::string expected;
    for (int i = 0; expected.size() < 100000; ++i) {
      const std::string block(static_cast<size_t>(c.blockSize), static_cast<char>('a' + i % 26));
      out.writeBytes(block.data(), c.blockSize);
      out.writeU32(static_cast<uint32_t>(i));
      expected += block;
      for (int shift = 24; shift >= 0; shift -= 8) expected += static_cast<char>(i >> shift);
    }
    ASSERT_EQ(out.length(), static_cast<int32_t>(expected.size()));
    EXPECT_EQ(written(out, out.length()), expected);
  }
}

TEST(MemOutStream, WriteNulAndTakeString) {
  struct Case {
    std::string text;  // may end in a NUL
    int32_t limit;
    int32_t lengthAfterNul;
    const char* taken;
  };
  for (const Case& c : std::vector<Case>{{"", 0, 1, ""},
                                         {"abc", 0, 4, "abc"},
                                         {std::string("abc\0", 4), 0, 4, "abc"},
                                         {"0123456789", 10, -1, "0123456789"}}) {  // full: no room for the NUL
    SCOPED_TRACE(c.taken);
    {
      rdr::MemOutStream out(0, c.limit);
      out.writeBytes(c.text.data(), static_cast<int32_t>(c.text.size()));
      if (c.lengthAfterNul < 0) {
        EXPECT_THROW(out.writeNul(), rdr::OutStreamFull);
      } else {
        out.writeNul();
        EXPECT_EQ(out.length(), c.lengthAfterNul);
        EXPECT_EQ(out.data()[c.lengthAfterNul - 1], 0);
      }
    }
    // takeString may go one byte past the limit.
    rdr::MemOutStream out(0, c.limit);
    out.writeBytes(c.text.data(), static_cast<int32_t>(c.text.size()));
    plat::CharArray s = out.takeString();
    ASSERT_FALSE(s.isNull());
    EXPECT_STREQ(s.get(), c.taken);
    EXPECT_EQ(out.length(), 0);
    out.writeU8('z');
    EXPECT_EQ(written(out, 1), "z");
  }
}

TEST(MemOutStream, HandsTheBytesOver) {
  const std::string text = "handed over";
  const int32_t len = static_cast<int32_t>(text.size());
  {
    rdr::MemOutStream out;
    out.writeBytes(text.data(), len);
    plat::Buffer b = out.takeBuffer();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data()), static_cast<size_t>(b.count())), text);
    EXPECT_EQ(out.length(), 0);
    EXPECT_TRUE(out.takeBuffer().empty());
  }
  {
    rdr::MemOutStream out;
    out.writeBytes(text.data(), len);
    std::unique_ptr<uint8_t[]> data = out.takeData();
    EXPECT_EQ(std::memcmp(data.get(), text.data(), text.size()), 0);
    EXPECT_EQ(out.length(), 0);
  }
  for (bool secure : {false, true}) {
    SCOPED_TRACE(secure ? "secure target" : "plain target");
    plat::Buffer target(reinterpret_cast<const unsigned char*>("old secret"), 10, secure);
    rdr::MemOutStream out;
    out.writeBytes(text.data(), len);
    out.moveToBuffer(target);
    EXPECT_EQ(target.secure(), secure);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(target.data()), static_cast<size_t>(target.count())), text);
    EXPECT_EQ(out.length(), 0);
    // The stream is usable again, and what it wrote reads back.
    out.writeU32(0x01020304);
    rdr::MemInStream in(out.data(), out.length());
    EXPECT_EQ(in.readU32(), 0x01020304u);
  }
}

}  // namespace
