#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "qocore/base/rdr/ByteReader.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/tests/ScriptedInStream.h"

namespace {

using rdr_test::ScriptedInStream;

std::string bytesAt(const uint8_t* p, int32_t n) { return std::string(reinterpret_cast<const char*>(p), n); }

TEST(ByteReader, BufferedRunIsHandedOutWithoutACopy) {
  const char data[] = "headbodytail";
  rdr::MemInStream in(data, 12);
  in.skip(4);
  rdr::ByteReader reader;
  reader.init(in, 4);
  int32_t len = 0;
  const uint8_t* p = reader.read(false, &len);
  EXPECT_EQ(p, reinterpret_cast<const uint8_t*>(data) + 4);
  EXPECT_EQ(len, 4);
  EXPECT_EQ(in.pos(), 8);
  // Asking again answers the same bytes; the stream does not move.
  EXPECT_EQ(reader.read(false), p);
  EXPECT_EQ(in.pos(), 8);
}

TEST(ByteReader, CopiesAcrossArrivalsAndKeepsWhatItHas) {
  const std::string data = "0123456789";
  for (bool wait : {false, true}) {
    for (bool ownBuffer : {false, true}) {
      SCOPED_TRACE(testing::Message() << "wait " << wait << ", own buffer " << ownBuffer);
      ScriptedInStream in(data, {.chunk = 100, .arrived = 3});
      uint8_t caller[10];
      rdr::ByteReader reader;
      reader.init(in, 10, ownBuffer ? nullptr : caller);
      // The parser redoes its unit each time: same len, so it resumes.
      auto attempt = [&]() -> const uint8_t* {
        reader.init(in, 10, ownBuffer ? nullptr : caller);
        if (!wait) return reader.read(false);
        EXPECT_THROW((void)reader.read(true), rdr::BlockException);
        return nullptr;
      };
      EXPECT_EQ(attempt(), nullptr);
      EXPECT_EQ(reader.done(), 3);
      // The stream rewound only to after the bytes already collected.
      EXPECT_EQ(in.pos(), 3);

      in.arrive(4);
      EXPECT_EQ(attempt(), nullptr);
      EXPECT_EQ(reader.done(), 7);
      EXPECT_EQ(in.pos(), 7);

      in.arrive(3);
      const uint8_t* p = reader.read(wait);
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(bytesAt(p, 10), data);
      if (!ownBuffer) {
        EXPECT_EQ(p, caller);
      }
      EXPECT_EQ(in.pos(), 10);
    }
  }
}

TEST(ByteReader, CopyAlwaysCopiesEvenABufferedRun) {
  rdr::MemInStream in("abcdef", 6);
  uint8_t buf[4];
  rdr::ByteReader reader;
  reader.init(in, 4, buf, true);
  EXPECT_EQ(reader.read(false), buf);
  EXPECT_EQ(bytesAt(buf, 4), "abcd");
  EXPECT_EQ(in.pos(), 4);
}

TEST(ByteReader, InitWithAnotherLengthWhileBusyThrows) {
  ScriptedInStream in("abcdefgh", {.chunk = 100, .arrived = 2});
  rdr::ByteReader reader;
  reader.init(in, 6);
  EXPECT_EQ(reader.read(false), nullptr);
  try {
    reader.init(in, 5);
    ADD_FAILURE() << "no exception";
  } catch (const plat::Exception& e) {
    EXPECT_STREQ(e.str(), "ByteReader::init: bad len");
  }
  EXPECT_EQ(reader.done(), 2);
  // Once reset the reader takes any length, from the current position.
  reader.reset();
  EXPECT_FALSE(reader.busy());
  in.arrive(6);
  reader.init(in, 5);
  const uint8_t* p = reader.read(false);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(bytesAt(p, 5), "cdefg");
}

TEST(ByteReader, SkipDiscardsAsBytesArrive) {
  ScriptedInStream in("abcdefgh!", {.chunk = 100, .arrived = 5});
  rdr::ByteReader reader;
  reader.init(in, 8);
  EXPECT_FALSE(reader.skip(false));
  EXPECT_EQ(in.pos(), 5);
  EXPECT_THROW((void)reader.skip(true), rdr::BlockException);
  in.arrive(4);
  EXPECT_TRUE(reader.skip(false));
  EXPECT_EQ(in.readU8(), '!');
}

TEST(ByteReader, ReadItems) {
  // Straight from the window: as many whole items as it holds.
  rdr::MemInStream mem("aabbccd", 7);
  rdr::ByteReader reader;
  reader.init(mem, 2);
  int32_t n = 10;
  const uint8_t* p = reader.readItems(false, &n);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(bytesAt(p, 6), "aabbcc");
  reader.reset();

  // With copying forced, items come one at a time through the buffer, each
  // call the next one, and a block keeps what was collected.
  ScriptedInStream in("aabbcc", {.chunk = 100, .arrived = 3});
  uint8_t buf[2];
  reader.init(in, 2, buf, true);
  n = 10;
  p = reader.readItems(false, &n);
  EXPECT_EQ(p, buf);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(bytesAt(p, 2), "aa");
  EXPECT_EQ(reader.readItems(false, &n), nullptr);
  EXPECT_EQ(in.pos(), 3);
  in.arrive(3);
  for (const char* item : {"bb", "cc"}) {
    n = 10;
    p = reader.readItems(false, &n);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(bytesAt(p, 2), item);
  }
}

TEST(ByteReader, String32) {
  const std::string twoStrings = std::string("\0\0\0\5hello\0\0\0\0", 13);
  ScriptedInStream in(twoStrings + std::string("\0\0\0\7toolong", 11), {.chunk = 100, .arrived = 6});
  rdr::ByteReader reader;
  EXPECT_TRUE(reader.readString32(in, 10, false).isNull());
  EXPECT_TRUE(reader.busy());
  EXPECT_EQ(in.pos(), 6);
  in.arrive(3);
  plat::CharArray text = reader.readString32(in, 10, false);
  ASSERT_FALSE(text.isNull());
  EXPECT_STREQ(text.get(), "hello");
  EXPECT_FALSE(reader.busy());

  in.arrive(100);
  text = reader.readString32(in, 10, false);
  ASSERT_FALSE(text.isNull());
  EXPECT_STREQ(text.get(), "");
  EXPECT_THROW((void)reader.readString32(in, 6, false), rdr::StringTooLongException);
  // Refused on its length alone.
  EXPECT_EQ(in.pos(), 17);
}

TEST(ByteReader, String32LengthThatWouldBlock) {
  ScriptedInStream in(std::string("\0\0\0\2hi", 6), {.chunk = 100, .arrived = 2});
  rdr::ByteReader reader;
  EXPECT_TRUE(reader.readString32(in, 10, false).isNull());
  EXPECT_FALSE(reader.busy());
  EXPECT_THROW((void)reader.readString32(in, 10, true), rdr::BlockException);
  EXPECT_EQ(in.pos(), 0);
  in.arrive(4);
  EXPECT_STREQ(reader.readString32(in, 10, true).get(), "hi");
}

}  // namespace
