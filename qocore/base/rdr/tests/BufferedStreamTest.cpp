#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/rdr/BufferedInStream.h"
#include "qocore/base/rdr/BufferedOutStream.h"
#include "qocore/base/rdr/ByteReader.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "qocore/base/rdr/NullOutStream.h"
#include "testing/FailureOf.h"

namespace {

using yarl_test::failureOf;

std::vector<uint8_t> pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return v;
}

// A message as a reader sees it: u32 length, then the body.
std::vector<uint8_t> message(const std::vector<uint8_t>& body) {
  rdr::MemOutStream out;
  out.writeU32(static_cast<uint32_t>(body.size()));
  out.writeBytes(body.data(), static_cast<int32_t>(body.size()));
  return std::vector<uint8_t>(out.data(), out.data() + out.length());
}

// Reads one message from its start; a BlockException leaves the stream at
// the message start.
std::vector<uint8_t> readMessage(rdr::InStream& in) {
  in.setCheckpoint();
  std::vector<uint8_t> body(in.readU32());
  in.readBytes(body.data(), static_cast<int32_t>(body.size()));
  return body;
}

// Input from a script of bytes: each readData hands out at most `chunk`
// bytes; bytes from `available` on have not arrived yet (readData answers
// 0); past the last byte the source has ended.
class ArrivingInStream : public rdr::BufferedNonBlockableInStream {
 public:
  explicit ArrivingInStream(std::vector<uint8_t> data, int32_t bufSize = -1, int32_t chunk = INT32_MAX)
      : BufferedNonBlockableInStream(bufSize), data_(std::move(data)), available_(data_.size()), chunk_(chunk) {}

  void setAvailable(size_t n) { available_ = std::min(n, data_.size()); }

 protected:
  int32_t readData(uint8_t* buf, int32_t len) override {
    if (given_ == data_.size()) throw rdr::EndOfStream();
    size_t n = std::min({size_t(len), size_t(chunk_), available_ - given_});
    std::memcpy(buf, data_.data() + given_, n);
    given_ += n;
    return static_cast<int32_t>(n);
  }

 private:
  std::vector<uint8_t> data_;
  size_t given_ = 0;
  size_t available_;
  int32_t chunk_;
};

// Sets MaxOutBufferSize for one test.
class MaxOutBufferSizeOverride {
 public:
  explicit MaxOutBufferSizeOverride(int value) {
    EXPECT_TRUE(rdr::maxOutBufferSize.setIntValue(value, plat::ConfigParameter::kPreference));
  }
  ~MaxOutBufferSizeOverride() { rdr::maxOutBufferSize.unsetParam(plat::ConfigParameter::kPreference); }
};

TEST(BufferedInStream, KeepsEveryByteFromTheCheckpoint) {
  struct Case {
    int32_t bufSize;
    int32_t chunk;
    size_t checkpointAt;
    size_t readAfter;  // bytes read past the checkpoint before rewinding
  };
  const std::vector<uint8_t> data = pattern(300);
  for (const Case& c : std::vector<Case>{{64, 7, 10, 50},
                                         {64, 64, 100, 64},  // the kept bytes fill the buffer
                                         {16, 3, 5, 11},
                                         {16, 1, 200, 16}}) {
    SCOPED_TRACE(testing::Message() << "bufSize " << c.bufSize << " chunk " << c.chunk << " checkpoint at "
                                    << c.checkpointAt);
    ArrivingInStream in(data, c.bufSize, c.chunk);
    // A parser reading one-byte units: as the checkpoint moves along, the
    // bytes behind it may go and the buffer never has to grow.
    auto readUnits = [&](size_t from, size_t to) {
      for (size_t i = from; i < to; ++i) {
        in.setCheckpoint();
        ASSERT_EQ(in.readU8(), data[i]);
      }
    };
    readUnits(0, c.checkpointAt);
    in.setCheckpoint();
    for (int pass = 0; pass < 2; ++pass) {
      for (size_t i = 0; i < c.readAfter; ++i) ASSERT_EQ(in.readU8(), data[c.checkpointAt + i]);
      in.rewind();
      EXPECT_EQ(in.pos(), static_cast<int32_t>(c.checkpointAt));
    }
    readUnits(c.checkpointAt, data.size());
    EXPECT_EQ(in.bufferSize(), c.bufSize);
    EXPECT_THROW(in.readU8(), rdr::EndOfStream);
  }
}

TEST(BufferedInStream, NonBlockingReadRewindsAtEveryShortfall) {
  // A message that stops arriving at any byte: the parser gets a
  // BlockException with the stream back at the message start, and reads
  // it whole once the rest is there (the message is longer than the
  // 32-byte buffer, which grows to keep it).
  const std::vector<uint8_t> body = pattern(40);
  const std::vector<uint8_t> msg = message(body);
  for (size_t cut = 0; cut < msg.size(); ++cut) {
    SCOPED_TRACE(testing::Message() << "cut at " << cut);
    ArrivingInStream in(msg, 32, 5);
    in.setNonBlocking(true);
    in.setAvailable(cut);
    EXPECT_THROW(readMessage(in), rdr::BlockException);
    EXPECT_EQ(in.pos(), 0);
    in.setAvailable(msg.size());
    EXPECT_EQ(readMessage(in), body);
  }
}

TEST(BufferedInStream, GrowsToRereadAMessageLongerThanTheBuffer) {
  // Several hundred KiB arriving 64 KiB at a time, re-read from the start
  // after every shortfall.
  const std::vector<uint8_t> body = pattern(300 * 1024);
  ArrivingInStream in(message(body), -1, 4096);
  in.setSecure(true);
  in.setNonBlocking(true);
  in.setAvailable(0);
  EXPECT_EQ(in.bufferSize(), 16800);
  int attempts = 0;
  size_t available = 0;
  std::vector<uint8_t> got;
  for (;;) {
    ++attempts;
    try {
      got = readMessage(in);
      break;
    } catch (const rdr::BlockException&) {
      ASSERT_EQ(in.pos(), 0);
      in.setAvailable(available += 64 * 1024);
    }
  }
  EXPECT_EQ(attempts, 6);
  EXPECT_EQ(got, body);
  EXPECT_EQ(in.bufferSize(), 16800 * 32);  // doubled until the whole message fitted
}

// Items of 3 bytes from a 16-byte buffer: the sixth straddles the buffer's
// end while the checkpoint still pins every byte before it, so the buffer
// must grow to hand it out whole.
TEST(BufferedInStream, GrowsForAnItemAcrossTheBufferEndAfterAnEarlierCheckpoint) {
  struct Case {
    const char* name;
    std::function<const uint8_t*(rdr::InStream&, rdr::ByteReader&, int32_t*)> take;
  };
  const std::vector<Case> cases{
      {"getItems", [](rdr::InStream& in, rdr::ByteReader&, int32_t* n) { return in.getItems(3, n); }},
      {"ByteReader::readItems",
       [](rdr::InStream& in, rdr::ByteReader& reader, int32_t* n) {
         reader.init(in, 3);
         return reader.readItems(true, n);
       }},
  };
  const std::vector<uint8_t> data = pattern(40);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ArrivingInStream in(data, 16);
    rdr::ByteReader reader;
    in.setCheckpoint();
    std::vector<uint8_t> got;
    while (got.size() < 39) {
      int32_t n = 5;
      const uint8_t* items = nullptr;
      ASSERT_EQ(failureOf<plat::Exception>([&] { items = c.take(in, reader, &n); }), "(nothing thrown)")
          << "after " << got.size() << " bytes";
      ASSERT_GE(n, 1);
      got.insert(got.end(), items, items + 3 * n);
    }
    EXPECT_EQ(got, std::vector<uint8_t>(data.begin(), data.begin() + 39));
    in.rewind();
    EXPECT_EQ(in.pos(), 0) << "the checkpoint kept every byte";
    EXPECT_EQ(in.bufferSize(), 64);
  }
}

// A parser asks for a long body of which only a little has arrived: the
// buffer grows with the bytes that are there, not with the request.
TEST(BufferedInStream, GrowsWithTheBytesThatArriveNotWithTheRequest) {
  ArrivingInStream in(pattern((1 << 20) + 100), 64);
  in.setNonBlocking(true);
  in.setAvailable(100);
  in.setCheckpoint();
  in.skip(10);
  std::vector<uint8_t> body(1 << 20);
  EXPECT_THROW(in.readBytes(body.data(), static_cast<int32_t>(body.size())), rdr::BlockException);
  EXPECT_EQ(in.pos(), 0);
  EXPECT_EQ(in.bufferSize(), 128);
}

TEST(BufferedInStream, GrowthStopsAtMaxOutBufferSize) {
  MaxOutBufferSizeOverride cap(16384);
  struct Case {
    size_t total;  // message bytes kept from the checkpoint
    bool fits;
  };
  for (const Case& c : std::vector<Case>{{16384, true}, {16385, false}}) {
    SCOPED_TRACE(testing::Message() << "message of " << c.total << " bytes");
    const std::vector<uint8_t> body = pattern(c.total - 4);
    ArrivingInStream in(message(body), 4096, 1000);
    if (c.fits) {
      EXPECT_EQ(readMessage(in), body);
    } else {
      EXPECT_EQ(failureOf<plat::Exception>([&] { readMessage(in); }), "InStream overrun: buffer size exceeded");
    }
    EXPECT_EQ(in.bufferSize(), 16384);
  }
}

TEST(BufferedInStream, UnreadBytesMoveToAnotherStream) {
  const std::vector<uint8_t> data = pattern(100);
  ArrivingInStream from(data, 64, 9);
  from.skip(30);
  rdr::MemOutStream saved;
  from.saveUnread(saved);
  const int32_t unread = from.nUnread();
  ASSERT_GT(unread, 0);
  EXPECT_EQ(saved.length(), 4 + unread);

  ArrivingInStream to({}, 64);
  rdr::MemInStream savedIn(saved.data(), saved.length());
  to.restoreUnread(savedIn);
  for (int32_t i = 0; i < unread; ++i) ASSERT_EQ(to.readU8(), data[30 + i]);
  EXPECT_EQ(to.pos(), unread);
}

TEST(BufferedInStream, RestoreUnreadIsBoundByTheBufferSize) {
  struct Case {
    uint32_t count;
    bool fits;
  };
  for (const Case& c : std::vector<Case>{{0, true}, {64, true}, {65, false}}) {
    SCOPED_TRACE(testing::Message() << "count " << c.count);
    rdr::MemOutStream saved;
    saved.writeU32(c.count);
    const std::vector<uint8_t> bytes = pattern(c.count);
    saved.writeBytes(bytes.data(), static_cast<int32_t>(bytes.size()));
    rdr::MemInStream savedIn(saved.data(), saved.length());
    ArrivingInStream to({}, 64);
    if (c.fits) {
      to.restoreUnread(savedIn);
      EXPECT_EQ(to.nUnread(), static_cast<int32_t>(c.count));
      EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), to.getPtr()));
    } else {
      EXPECT_EQ(failureOf<plat::Exception>([&] { to.restoreUnread(savedIn); }), "Too much data for InStream buffer");
    }
  }
}

// Output into a vector.  The receiver takes at most `perCall` bytes per
// writeData, and in all at most a budget of bytes without waiting and a
// budget with waiting; beyond a budget it takes nothing.
template <typename Base>
class SinkOutStream : public Base {
 public:
  using Base::Base;

  std::vector<uint8_t> taken;
  std::vector<bool> waits;  // each call's wait flag
  int64_t noWaitBudget = INT64_MAX;
  int64_t waitBudget = INT64_MAX;
  int32_t perCall = INT32_MAX;

 protected:
  int32_t writeData(const uint8_t* buf, int32_t len, bool wait) override {
    waits.push_back(wait);
    int64_t& budget = wait ? waitBudget : noWaitBudget;
    const int32_t n = static_cast<int32_t>(std::min<int64_t>({len, perCall, budget}));
    budget -= n;
    taken.insert(taken.end(), buf, buf + n);
    return n;
  }
};

using Sink = SinkOutStream<rdr::BufferedLazyOutStream>;
using NBSink = SinkOutStream<rdr::BufferedNBOutStream>;

TEST(BufferedOutStream, GrowsOnlyWhenPassingOnFreesTooLittle) {
  struct Case {
    const char* name;
    int32_t bufSize;
    int32_t maxBufSize;
    int64_t noWaitBudget;
    int32_t prefill;
    int32_t itemSize;
    int32_t grownTo;
  };
  for (const Case& c : std::vector<Case>{
           {"item past a fresh buffer", 16384, 134217728, 0, 0, 16385, 32768},
           {"growth capped by the maximum", 16384, 20000, 0, 0, 16385, 20000},
           {"doubles as often as needed", 16384, 134217728, 0, 0, 40000, 65536},
           {"full buffer, receiver keeps up", 16384, 134217728, INT64_MAX, 16384, 1, 16384},
           {"full buffer, receiver takes part", 16384, 134217728, 100, 16384, 200, 32768},
       }) {
    SCOPED_TRACE(c.name);
    Sink out(c.bufSize, c.maxBufSize);
    out.noWaitBudget = c.noWaitBudget;
    out.waitBudget = 0;
    const std::vector<uint8_t> pre = pattern(size_t(c.prefill));
    out.writeBytes(pre.data(), c.prefill);
    EXPECT_EQ(out.check(c.itemSize, 1), 1);
    EXPECT_EQ(out.bufSize(), c.grownTo);
    EXPECT_GE(out.getEnd() - out.getPtr(), c.itemSize);
    EXPECT_EQ(out.length(), c.prefill);
  }
}

TEST(BufferedOutStream, OverrunFailures) {
  struct Case {
    const char* name;
    int32_t bufSize;
    int32_t maxBufSize;
    int32_t prefill;
    int32_t itemSize;
    const char* failure;
  };
  for (const Case& c : std::vector<Case>{
           {"at the maximum, receiver takes nothing", 16384, 16384, 16384, 1,
            "BufferedOutStream overrun: unable to write"},
           {"item above the maximum", 16384, 16384, 0, 16385, "BufferedOutStream overrun: buffer size exceeded"},
           {"item above the default maximum", 16384, -1, 0, 134217729,
            "BufferedOutStream overrun: buffer size exceeded"},
           {"no buffer", 0, 0, 0, 1, "OutStream full"},
       }) {
    SCOPED_TRACE(c.name);
    Sink out(c.bufSize, c.maxBufSize);
    out.noWaitBudget = 0;
    out.waitBudget = 0;
    const std::vector<uint8_t> pre = pattern(size_t(c.prefill));
    out.writeBytes(pre.data(), c.prefill);
    EXPECT_EQ(failureOf<plat::Exception>([&] { out.check(c.itemSize, 1); }), c.failure);
    EXPECT_EQ(out.length(), c.prefill);
  }
  Sink empty(0, 0);
  EXPECT_THROW(empty.writeU8(1), rdr::OutStreamFull);
}

TEST(BufferedOutStream, WindowGrowsByAtMostOneStep) {
  // The receiver takes nothing; each overrun opens at most 16384 bytes past
  // the used part, and the buffer doubles only when it is full.
  Sink out(65536, 1 << 20);
  out.noWaitBudget = 0;
  EXPECT_EQ(out.getEnd() - out.getPtr(), 16384);
  const std::vector<int32_t> bufSizes = {65536, 65536, 65536, 131072, 131072};
  for (size_t i = 0; i < bufSizes.size(); ++i) {
    out.setPtr(out.getEnd());
    EXPECT_EQ(out.check(1, INT32_MAX), 16384) << "overrun " << i;
    EXPECT_EQ(out.bufSize(), bufSizes[i]) << "overrun " << i;
  }
}

TEST(BufferedOutStream, PassesBytesOnInOrder) {
  struct Case {
    const char* name;
    int32_t bufSize;
    int64_t noWaitBudget;
    int32_t perCall;
    int32_t writeSize;
  };
  for (const Case& c : std::vector<Case>{
           {"receiver keeps up", 16384, INT64_MAX, INT32_MAX, 1000},
           {"receiver stalls, buffer grows", 1024, 3000, 700, 777},
           {"small pieces", 16, INT64_MAX, 5, 3},
       }) {
    SCOPED_TRACE(c.name);
    Sink out(c.bufSize, 1 << 20);
    out.noWaitBudget = c.noWaitBudget;
    out.perCall = c.perCall;
    const std::vector<uint8_t> data = pattern(50000);
    for (size_t at = 0; at < data.size(); at += size_t(c.writeSize)) {
      const int32_t n = static_cast<int32_t>(std::min(data.size() - at, size_t(c.writeSize)));
      out.writeBytes(data.data() + at, n);
      ASSERT_EQ(out.length(), static_cast<int32_t>(at) + n);
      ASSERT_EQ(out.pendingBytes(), out.length() - static_cast<int32_t>(out.taken.size()));
    }
    out.flush();
    EXPECT_EQ(out.pendingBytes(), 0);
    EXPECT_EQ(out.taken, data);
    EXPECT_EQ(out.length(), 50000);
    EXPECT_EQ(out.spaceLimit(), 1 << 20);
  }
}

TEST(BufferedOutStream, PassingOnWithAndWithoutWaiting) {
  Sink out;
  out.perCall = 10;
  out.noWaitBudget = 15;
  const std::vector<uint8_t> data = pattern(40);
  out.writeBytes(data.data(), 40);

  EXPECT_FALSE(out.writeOnce(false));  // a single call: 10 taken
  EXPECT_EQ(out.pendingBytes(), 30);
  EXPECT_EQ(out.waits, std::vector<bool>({false}));

  EXPECT_FALSE(out.tryWrite(false));  // 5 more, then the receiver would block
  EXPECT_EQ(out.pendingBytes(), 25);
  EXPECT_FALSE(out.flushNoWait());
  EXPECT_EQ(out.pendingBytes(), 25);

  EXPECT_TRUE(out.tryWrite(true));
  EXPECT_EQ(out.pendingBytes(), 0);
  EXPECT_EQ(out.taken, data);
  EXPECT_EQ(out.waits.back(), true);
}

TEST(BufferedOutStream, LazyFlushDoesNotWait) {
  Sink out;
  out.noWaitBudget = 0;
  const std::vector<uint8_t> data = pattern(100);
  out.writeBytes(data.data(), 100);

  out.setLazy(true);
  out.flush();
  EXPECT_EQ(out.pendingBytes(), 100);
  EXPECT_EQ(out.waits, std::vector<bool>({false, false}));

  out.setLazy(false);  // passes everything on, waiting
  EXPECT_EQ(out.pendingBytes(), 0);
  EXPECT_EQ(out.waits.back(), true);
  EXPECT_EQ(out.taken, data);

  out.writeU8(1);
  out.flush();
  EXPECT_EQ(out.waits.back(), true);
  EXPECT_EQ(out.pendingBytes(), 0);
}

TEST(BufferedNBOutStream, NeverGrows) {
  NBSink out;
  out.noWaitBudget = 0;
  EXPECT_EQ(out.spaceLimit(), rdr::OutStream::kNoLimit);
  const std::vector<uint8_t> data = pattern(100000);
  out.writeBytes(data.data(), static_cast<int32_t>(data.size()));
  EXPECT_EQ(out.bufSize(), 16384);
  out.flush();
  EXPECT_EQ(out.taken, data);
  EXPECT_EQ(failureOf<plat::Exception>([&] { out.check(16385, 1); }),
            "BufferedOutStream overrun: buffer size exceeded");

  NBSink small(100);
  EXPECT_EQ(small.getEnd() - small.getPtr(), 100);
  EXPECT_THROW(small.check(101, 1), plat::Exception);
}

TEST(NullOutStream, CountsAndDiscards) {
  rdr::NullOutStream out;
  const std::vector<uint8_t> data = pattern(5000);
  out.writeBytes(data.data(), 5000);
  for (int i = 0; i < 1000; ++i) out.writeU32(static_cast<uint32_t>(i));
  out.writeString32("hello");
  out.flush();
  EXPECT_EQ(out.length(), 5000 + 4000 + 9);
  EXPECT_EQ(out.pendingBytes(), 0);
  EXPECT_EQ(out.bufSize(), 1024);
}

// Bytes that would fit the window are counted all the same, never copied
// into the buffer to wait there; single integers do go through it.
TEST(NullOutStream, WrittenBytesNeverWaitInTheBuffer) {
  rdr::NullOutStream out;
  out.writeBytes("abc", 3);
  EXPECT_EQ(out.length(), 3);
  EXPECT_EQ(out.pendingBytes(), 0);
  out.writeU8('d');
  EXPECT_EQ(out.length(), 4);
  EXPECT_EQ(out.pendingBytes(), 1);
}

}  // namespace
