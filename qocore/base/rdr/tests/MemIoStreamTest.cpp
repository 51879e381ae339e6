#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <typeinfo>
#include <vector>

#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LinkedPtr.h"
#include "qocore/base/rdr/MemIoStream.h"
#include "testing/FailureOf.h"

namespace {

using testing::ElementsAre;
using testing::IsEmpty;
using yarl_test::failureOf;

std::string readText(rdr::InStream& in, int32_t n) {
  std::string got(n, '\0');
  in.readBytes(got.data(), n);
  return got;
}

// Reads everything readable now, as a reader that keeps nothing for
// rewinding: it sets its checkpoint after each window.
std::string consume(rdr::InStream& in) {
  std::string got;
  try {
    while (in.check(false, 1)) {
      got.append(reinterpret_cast<const char*>(in.getPtr()), in.nUnread());
      in.advance(in.nUnread());
      in.setCheckpoint();
    }
  } catch (const rdr::EndOfStream&) {
  }
  return got;
}

// A parser over the pipe: units of a u32 length and that many bytes, each
// redone from its checkpoint when the bytes are not all there yet.
TEST(MemIoStreamTest, InterleavedWriterAndReaderRewindAcrossBuffers) {
  // Buffers of 4 bytes and room for 14 unread bytes: the longest partial
  // unit (9 bytes), held from its checkpoint, plus the longest write (5).
  rdr::MemIoStream pipe(nullptr, 14, 4);
  rdr::InStream& in = pipe;
  rdr::OutStream& out = pipe;

  std::vector<std::string> sent, received;
  std::string wire;
  uint32_t seed = 7;
  auto next = [&seed](uint32_t n) { return ((seed = seed * 1103515245 + 12345) >> 16) % n; };
  for (int i = 0; i < 300; ++i) {
    std::string body(i % 7, static_cast<char>('a' + i % 26));
    sent.push_back(body);
    wire += {0, 0, 0, static_cast<char>(body.size())};
    wire += body;
  }

  size_t written = 0;
  int blocks = 0;
  while (written < wire.size()) {
    size_t slice = std::min<size_t>(1 + next(5), wire.size() - written);
    out.writeBytes(wire.data() + written, static_cast<int32_t>(slice));
    written += slice;
    out.flush();
    for (;;) {
      in.setCheckpoint();
      int32_t start = in.pos();
      try {
        uint32_t len = in.readU32();
        std::string body(len, '\0');
        in.readBytes(body.data(), static_cast<int32_t>(len));
        received.push_back(body);
      } catch (const rdr::BlockException&) {
        ++blocks;
        EXPECT_EQ(in.pos(), start) << "not rewound to the checkpoint";
        break;
      }
    }
  }
  EXPECT_EQ(received, sent);
  EXPECT_GT(blocks, 100);
  EXPECT_EQ(in.pos(), static_cast<int32_t>(wire.size()));
  EXPECT_EQ(out.length(), static_cast<int32_t>(wire.size()));
}

// After a flush the reader finds what its buffer shows already in its
// window (so a read that fits is read inline), and nothing unflushed; the
// buffers after its own it reaches through a check.
TEST(MemIoStreamTest, AFlushShowsTheBytesInTheReadersWindow) {
  rdr::MemIoStream pipe(nullptr, -1, 8);
  rdr::InStream& in = pipe;
  rdr::OutStream& out = pipe;
  out.writeBytes("abcde", 5);
  EXPECT_EQ(in.nUnread(), 0);
  out.flush();
  EXPECT_EQ(in.nUnread(), 5);
  out.writeBytes("fgh", 3);
  EXPECT_EQ(in.nUnread(), 5) << "not flushed yet";
  out.writeBytes("ij", 2);  // the writer moves on to a second buffer
  out.flush();
  EXPECT_EQ(in.nUnread(), 8);
  EXPECT_EQ(readText(in, 10), "abcdefghij");
  EXPECT_EQ(in.pos(), 10);
}

TEST(MemIoStreamTest, RewindReturnsAcrossBuffersToTheCheckpoint) {
  rdr::MemIoStream pipe(nullptr, -1, 4);
  rdr::InStream& in = pipe;
  rdr::OutStream& out = pipe;
  out.writeBytes("0123456789", 10);
  out.flush();
  in.skip(2);
  in.setCheckpoint();
  EXPECT_EQ(readText(in, 8), "23456789");
  EXPECT_FALSE(in.check(false, 1));  // would block: back to the checkpoint
  EXPECT_EQ(in.pos(), 2);
  EXPECT_EQ(in.readU8(), '2');
  in.reposition(7);
  EXPECT_EQ(readText(in, 3), "789");
}

TEST(MemIoStreamTest, BufferLimit) {
  struct Case {
    int32_t maxBytes;
    int32_t bufSize;
    int32_t accepted;  // bytes written before the limit is met
  } cases[] = {
      {0, 2048, 2048},     // one buffer
      {0, -1, 2048},       // the default buffer size
      {1, 4, 8},           // enough for 1 byte, plus the partly read buffer
      {2048, 2048, 4096},  //
      {2049, 2048, 6144},  //
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.maxBytes << "/" << c.bufSize);
    rdr::MemIoStream pipe(nullptr, c.maxBytes, c.bufSize);
    rdr::OutStream& out = pipe;
    EXPECT_EQ(out.spaceLimit(), c.accepted);
    std::vector<uint8_t> data(c.accepted, 'x');
    out.writeBytes(data.data(), c.accepted);
    EXPECT_EQ(out.spaceLimit(), 0);
    try {
      out.writeU8('y');
      ADD_FAILURE() << "no OutStreamFull";
    } catch (const rdr::OutStreamFull& e) {
      EXPECT_STREQ(e.str(), "MemIoStream: maxBufs exceeded");
    }
  }
}

// A pipe of one buffer (maxBytes 0): the writer fills it again once the
// reader has read all of it and released it with a checkpoint, and only
// then.
TEST(MemIoStreamTest, OneBufferPipeRefillsOnceItsReaderReleasesIt) {
  rdr::MemIoStream pipe(nullptr, 0, 16);
  rdr::InStream& in = pipe;
  rdr::OutStream& out = pipe;
  const std::string first = "0123456789abcdef";
  const std::string second = "ghijklmnopqrstuv";
  out.writeBytes(first.data(), 16);
  out.flush();
  const char* full = "MemIoStream: maxBufs exceeded";
  EXPECT_EQ(failureOf<rdr::OutStreamFull>([&] { out.writeU8('x'); }), full);
  EXPECT_EQ(readText(in, 16), first);
  EXPECT_EQ(failureOf<rdr::OutStreamFull>([&] { out.writeU8('x'); }), full) << "the checkpoint still holds it";
  in.setCheckpoint();
  EXPECT_EQ(out.spaceLimit(), 16);
  out.writeBytes(second.data(), 16);
  out.flush();
  EXPECT_EQ(out.spaceLimit(), 0);
  EXPECT_EQ(readText(in, 16), second);
  EXPECT_EQ(in.pos(), 32);
  EXPECT_EQ(pipe.writtenLength(), 32);
  in.rewind();
  EXPECT_EQ(in.pos(), 16);
  EXPECT_EQ(readText(in, 16), second);
}

// A writer whose reader has read and released everything fills its buffer
// again from the start; one whose reader still holds or has yet to read
// some of it moves on to another, and nothing is lost either way.
TEST(MemIoStreamTest, AWriterWhoseReaderKeptUpStartsItsBufferAgain) {
  rdr::MemIoStream pipe(nullptr, -1, 16);
  rdr::InStream& in = pipe;
  rdr::OutStream& out = pipe;
  const uint8_t* const first = out.getPtr();
  const std::string a = "0123456789abcdef", b = "ghijklmnopqrstuv", c = "wxyzABCDEFGHIJKL", d = "MNOPQRSTUVWXYZ!?";

  out.writeBytes(a.data(), 16);
  out.flush();
  EXPECT_EQ(readText(in, 16), a);
  in.setCheckpoint();
  out.writeBytes(b.data(), 16);
  out.flush();
  EXPECT_EQ(out.getPtr(), first + 16) << "read and released: the same buffer again";
  EXPECT_EQ(readText(in, 16), b);
  EXPECT_EQ(in.pos(), 32);

  // Read but kept for rewinding.
  out.writeBytes(c.data(), 16);
  out.flush();
  EXPECT_NE(out.getPtr(), first + 16);
  in.rewind();
  EXPECT_EQ(readText(in, 32), b + c);
  in.setCheckpoint();

  // Not all read yet.
  out.writeBytes(a.data(), 16);
  out.flush();
  EXPECT_EQ(readText(in, 8), a.substr(0, 8));
  in.setCheckpoint();
  out.writeBytes(d.data(), 16);
  out.flush();
  EXPECT_EQ(readText(in, 24), a.substr(8) + d);
  EXPECT_EQ(in.pos(), 80);
  EXPECT_EQ(pipe.writtenLength(), 80);
}

// Without a reader releasing buffers the writer is stopped; once the
// reader has read past them and set its checkpoint, it goes on.
TEST(MemIoStreamTest, ReadingAndCheckpointingMakesRoom) {
  rdr::MemIoStream pipe(nullptr, 4, 4);
  rdr::InStream& in = pipe;
  rdr::OutStream& out = pipe;
  out.writeBytes("abcdefgh", 8);
  EXPECT_THROW(out.writeU8('i'), rdr::OutStreamFull);
  EXPECT_EQ(readText(in, 8), "abcdefgh");
  EXPECT_THROW(out.writeU8('i'), rdr::OutStreamFull) << "the checkpoint still holds the buffers";
  in.setCheckpoint();
  out.writeBytes("ijkl", 4);
  out.flush();
  EXPECT_EQ(readText(in, 4), "ijkl");
  EXPECT_EQ(in.pos(), 12);
  // The checkpoint sat at the very end of a buffer, which was freed as soon
  // as the reader moved past it: there is room, and rewinding still works.
  out.writeBytes("mnop", 4);
  out.flush();
  in.rewind();
  EXPECT_EQ(in.pos(), 8);
  EXPECT_EQ(readText(in, 8), "ijklmnop");
}

TEST(MemIoStreamTest, ItemLargerThanABuffer) {
  rdr::MemIoStream pipe(nullptr, -1, 4);
  rdr::OutStream& out = pipe;
  out.writeU16(0x4142);
  try {
    out.writeU64(1);
    ADD_FAILURE() << "no exception";
  } catch (const plat::Exception& e) {
    EXPECT_STREQ(e.str(), "MemIoStream: item exceeds buffer size");
  }
  out.flush();
  EXPECT_EQ(readText(pipe, 2), "AB");
}

// What a reader finds once the buffered bytes are read.
TEST(MemIoStreamTest, AfterTheBufferedBytes) {
  enum Outcome { kWouldBlock, kEnd, kSystemError, kPlainError };
  struct Case {
    const char* name;
    std::function<void(rdr::MemIoStream&)> setUp;
    Outcome outcome;
  } cases[] = {
      {"open", [](rdr::MemIoStream&) {}, kWouldBlock},
      {"closed", [](rdr::MemIoStream& p) { p.closeForWriting(); }, kEnd},
      {"system error",
       [](rdr::MemIoStream& p) {
         p.setError(plat::LinkedPtr<plat::Exception>(new plat::SystemException("send", EPIPE)));
       },
       kSystemError},
      {"other error",
       [](rdr::MemIoStream& p) {
         p.setError(plat::LinkedPtr<plat::Exception>(new plat::TimedOut("peer went quiet")));
         p.closeForWriting();  // the error comes first
       },
       kPlainError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rdr::MemIoStream pipe(nullptr, -1, 4);
    rdr::InStream& in = pipe;
    static_cast<rdr::OutStream&>(pipe).writeBytes("hello", 5);
    pipe.flush();
    c.setUp(pipe);
    EXPECT_EQ(readText(in, 5), "hello");
    in.setCheckpoint();
    for (int attempt = 0; attempt < 2; ++attempt) {  // the answer stays the same
      switch (c.outcome) {
        case kWouldBlock:
          EXPECT_FALSE(in.check(false, 1));
          EXPECT_THROW(in.readU8(), rdr::BlockException);
          break;
        case kEnd:
          try {
            in.readU8();
            ADD_FAILURE() << "no EndOfStream";
          } catch (const rdr::EndOfStream& e) {
            EXPECT_STREQ(e.str(), "End of in-memory IO stream");
          }
          EXPECT_THROW(static_cast<rdr::OutStream&>(pipe).writeU8(0), rdr::PipeException);
          break;
        case kSystemError:
          try {
            in.readU8();
            ADD_FAILURE() << "no SystemException";
          } catch (const plat::SystemException& e) {
            EXPECT_EQ(e.error(), EPIPE);
            EXPECT_STREQ(e.str(), plat::SystemException("send", EPIPE).str());
          }
          break;
        case kPlainError:
          try {
            in.readU8();
            ADD_FAILURE() << "no Exception";
          } catch (const plat::Exception& e) {
            EXPECT_EQ(typeid(e), typeid(plat::Exception));
            EXPECT_STREQ(e.str(), "peer went quiet");
          }
          break;
      }
    }
  }
}

// Records the notices; the reader may act on dataAvailable.
class Recorder : public rdr::MemIoStream::Callback {
 public:
  void dataAvailable(rdr::MemIoStream* pipe) override {
    events.push_back("data");
    if (onData) onData(*pipe);
  }
  void spaceAvailable(rdr::MemIoStream*) override { events.push_back("space"); }
  void notify(rdr::MemIoStream*) override { events.push_back("notify"); }
  void closedForWriting(rdr::MemIoStream*) override { events.push_back("closed"); }
  int32_t dataWanted(rdr::MemIoStream* pipe) override {
    if (recordWanted) events.push_back("wanted");
    if (onWanted) onWanted(*pipe);
    return 0;
  }
  int32_t pendingBytes(rdr::MemIoStream*) override { return pending; }

  // The events so far, forgotten once returned.
  std::vector<std::string> take() { return std::exchange(events, {}); }

  std::vector<std::string> events;
  std::function<void(rdr::MemIoStream&)> onData;
  std::function<void(rdr::MemIoStream&)> onWanted;
  // Readers that find nothing ask on every read; only the test of that
  // notice lists it.
  bool recordWanted = false;
  int32_t pending = 0;
};

class MemIoStreamCallbackTest : public testing::Test {
 protected:
  Recorder callback_;
  rdr::MemIoStream pipe_{&callback_, 4, 4};  // two buffers of 4 bytes
  rdr::InStream& in_ = pipe_;
  rdr::OutStream& out_ = pipe_;
};

TEST_F(MemIoStreamCallbackTest, FlushTellsOfNewBytesAndOfRoom) {
  out_.writeBytes("ab", 2);
  EXPECT_THAT(callback_.take(), IsEmpty()) << "unflushed bytes are not announced";
  out_.flush();
  EXPECT_THAT(callback_.take(), ElementsAre("data", "space"));
  out_.flush();
  EXPECT_THAT(callback_.take(), ElementsAre("space")) << "nothing new to read";
  out_.writeText("cd");  // fills the first buffer; the text's NUL starts the next
  out_.flush();
  EXPECT_THAT(callback_.take(), ElementsAre("data", "space"));
  out_.writeBytes("efgh", 4);
  EXPECT_EQ(out_.spaceLimit(), 0);
  out_.flush();
  EXPECT_THAT(callback_.take(), ElementsAre("data")) << "no room left";
  pipe_.notify();
  EXPECT_THAT(callback_.take(), ElementsAre("notify"));
}

// A full pipe asks the reader first; a reader that reads and checkpoints
// there frees a buffer, hears spaceAvailable, and the write goes through.
TEST_F(MemIoStreamCallbackTest, FullPipeAsksTheReaderBeforeGivingUp) {
  out_.writeBytes("abcdefgh", 8);
  EXPECT_THROW(out_.writeU8('i'), rdr::OutStreamFull);
  EXPECT_THAT(callback_.take(), ElementsAre("data"));

  std::string read;
  callback_.onData = [&read](rdr::MemIoStream& p) { read += consume(p); };
  out_.writeU8('i');
  EXPECT_THAT(callback_.take(), ElementsAre("data", "space"));
  EXPECT_EQ(read, "abcdefgh");
  out_.flush();
  EXPECT_EQ(read, "abcdefghi");
}

TEST_F(MemIoStreamCallbackTest, ClosingFlushesAndTellsOfTheEnd) {
  out_.writeBytes("ab", 2);
  EXPECT_TRUE(out_.closeForWriting());
  EXPECT_THAT(callback_.take(), ElementsAre("data", "closed"));
  EXPECT_EQ(out_.spaceLimit(), 0);
  out_.flush();
  EXPECT_THAT(callback_.take(), ElementsAre("data")) << "the end is waiting";
}

TEST_F(MemIoStreamCallbackTest, FlushTellsOfARecordedError) {
  out_.flush();
  callback_.take();
  pipe_.setError(plat::LinkedPtr<plat::Exception>(new plat::Exception("broken")));
  out_.flush();
  EXPECT_THAT(callback_.take(), ElementsAre("data", "space"));
}

TEST(MemIoStreamTest, SaveAndRestore) {
  rdr::MemIoStream pipe(nullptr, 40, 4);
  rdr::InStream& in = pipe;
  rdr::OutStream& out = pipe;
  out.writeBytes("0123456789abc", 13);
  out.flush();
  out.writeBytes("de", 2);  // written, not yet flushed
  in.skip(3);
  in.setCheckpoint();
  in.skip(3);  // checkpoint in the first buffer, reader in the second

  rdr::MemIoStream carrier;
  pipe.save(carrier);
  carrier.flush();

  rdr::MemIoStream copy(nullptr, -1, 4);
  rdr::InStream& cin = copy;
  copy.restore(carrier);
  EXPECT_EQ(cin.pos(), 6);
  EXPECT_EQ(copy.writtenLength(), 15);
  EXPECT_EQ(copy.spaceAvailable(), pipe.spaceAvailable());
  EXPECT_EQ(readText(cin, 7), "6789abc");
  EXPECT_FALSE(cin.check(false, 1)) << "the unflushed bytes stay unflushed";
  EXPECT_EQ(cin.pos(), 3) << "rewound to the restored checkpoint";
  copy.flush();
  EXPECT_EQ(readText(cin, 12), "3456789abcde");

  // A short record is refused and leaves the pipe as it was.
  rdr::MemIoStream record;
  pipe.save(record);
  record.closeForWriting();
  std::string bytes = consume(record);
  rdr::MemIoStream shortRecord;
  static_cast<rdr::OutStream&>(shortRecord).writeBytes(bytes.data(), static_cast<int32_t>(bytes.size() - 4));
  shortRecord.closeForWriting();
  EXPECT_THROW(copy.restore(shortRecord), rdr::EndOfStream);
  EXPECT_EQ(copy.writtenLength(), 15);
  EXPECT_EQ(cin.pos(), 15);
}

// A record whose buffer limit or buffer count is more than save() can write
// for this buffer size is refused before anything is allocated for it, and
// the pipe stays as it was.
TEST(MemIoStreamTest, RestoreRefusesCountsThatSaveCannotWrite) {
  rdr::MemIoStream pipe(nullptr, 40, 4);
  static_cast<rdr::OutStream&>(pipe).writeBytes("0123456789", 10);
  rdr::MemIoStream record;
  pipe.save(record);
  record.closeForWriting();
  const std::string saved = consume(record);

  // The most buffers a pipe of 4-byte buffers can have: 2^31 bytes' worth
  // plus one partly read buffer.
  const uint32_t mostBufs = (0x7FFFFFFFu + 3) / 4 + 1;
  struct Case {
    const char* name;
    size_t offset;  // of the u32 field in the record
    uint32_t value;
    const char* expected;
  };
  // clang-format off
  const std::vector<Case> cases{
      {"buffer limit 0xFFFFFFFF", 0,  0xFFFFFFFF,   "MemIoStream: bad saved state (buffer limit)"},
      {"buffer limit 0",          0,  0,            "MemIoStream: bad saved state (buffer limit)"},
      {"buffer limit past most",  0,  mostBufs + 1, "MemIoStream: bad saved state (buffer limit)"},
      {"ring of 0xFFFFFFFF",      13, 0xFFFFFFFF,   "MemIoStream: bad saved state (buffer count)"},
      {"ring past most",          13, mostBufs + 1, "MemIoStream: bad saved state (buffer count)"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = saved;
    for (int i = 0; i < 4; ++i) bytes[c.offset + i] = static_cast<char>(c.value >> (24 - 8 * i));
    rdr::MemIoStream broken;
    static_cast<rdr::OutStream&>(broken).writeBytes(bytes.data(), static_cast<int32_t>(bytes.size()));
    broken.flush();
    rdr::MemIoStream copy(nullptr, -1, 4);
    static_cast<rdr::OutStream&>(copy).writeBytes("kept", 4);
    EXPECT_EQ(failureOf<plat::Exception>([&] { copy.restore(broken); }), c.expected);
    EXPECT_EQ(copy.writtenLength(), 4);
  }
  // The record itself is fine.
  rdr::MemIoStream good;
  static_cast<rdr::OutStream&>(good).writeBytes(saved.data(), static_cast<int32_t>(saved.size()));
  good.flush();
  rdr::MemIoStream copy(nullptr, -1, 4);
  copy.restore(good);
  EXPECT_EQ(copy.writtenLength(), 10);
}

}  // namespace

// A reader that finds nothing asks the writer once and looks again, so a
// writer holding bytes no event will announce can hand them over; with an
// error or the end recorded there is nothing to ask for.
TEST_F(MemIoStreamCallbackTest, EmptyReadAsksTheWriterOnce) {
  callback_.recordWanted = true;
  EXPECT_FALSE(in_.check(false, 1));
  EXPECT_THAT(callback_.take(), ElementsAre("wanted")) << "asked once, not again after a fruitless answer";

  bool held = true;
  callback_.onWanted = [&held](rdr::MemIoStream& p) {
    if (!std::exchange(held, false)) return;
    p.writeBytes("xyz", 3);
    p.flush();
  };
  EXPECT_EQ(consume(pipe_), "xyz");
  EXPECT_THAT(callback_.take(), ElementsAre("wanted", "data", "space", "wanted"));

  callback_.onWanted = nullptr;
  pipe_.setError(plat::LinkedPtr<plat::Exception>(new plat::Exception("gone")));
  EXPECT_THROW(in_.check(false, 1), plat::Exception);
  pipe_.setError({});
  out_.closeForWriting();
  (void)callback_.take();
  EXPECT_THROW(in_.check(false, 1), rdr::EndOfStream);
  EXPECT_THAT(callback_.take(), IsEmpty());

  callback_.pending = 7;
  EXPECT_EQ(out_.pendingBytes(), 7) << "the writer's pending bytes count as the pipe's";
}
