#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "qocore/base/rdr/FramedInStream.h"
#include "qocore/base/rdr/FramedOutStream.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/MemIoStream.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "testing/FailureOf.h"

namespace {

using Bytes = std::vector<uint8_t>;
using ::testing::HasSubstr;
using yarl_test::typedFailureOf;

// ---- Test streams ----

// An output stream that collects everything written into a vector but
// hands out at most `window` bytes of room at a time (always enough for
// one item).  flush() moves the window's bytes to flushed().
class WindowOutStream : public rdr::OutStream {
 public:
  explicit WindowOutStream(int32_t window = 1 << 20) : window_(window) {}

  // Everything written so far, flushed or not.
  Bytes bytes() const {
    Bytes all = flushed_;
    all.insert(all.end(), start_, ptr_);
    return all;
  }
  const Bytes& flushed() const { return flushed_; }
  int flushes() const { return flushes_; }
  void setSpaceLimit(int32_t limit) { spaceLimit_ = limit; }

  int32_t length() override { return static_cast<int32_t>(flushed_.size() + (ptr_ - start_)); }
  int32_t spaceLimit() override { return spaceLimit_; }
  void flush() override {
    ++flushes_;
    flushed_.insert(flushed_.end(), start_, ptr_);
    ptr_ = end_ = start_;
  }

 protected:
  int32_t overrun(int32_t itemSize, int32_t nItems) override {
    flushed_.insert(flushed_.end(), start_, ptr_);
    int32_t room = std::max(window_, itemSize);
    // Fresh room is filled with a marker, so a header that was reserved
    // but never written would show in the output.
    window_bytes_.assign(room, 0xEE);
    start_ = ptr_ = window_bytes_.data();
    end_ = ptr_ + room;
    return std::min(nItems, room / itemSize);
  }

 private:
  int32_t window_;
  int32_t spaceLimit_ = kNoLimit;
  int flushes_ = 0;
  Bytes flushed_;
  Bytes window_bytes_;
  uint8_t* start_ = nullptr;
};

// An input stream over bytes that exposes at most `window` bytes at a time.
// Only the bytes that have arrived can be read: while more are to come, a
// read beyond them would block; once all have arrived, the end of the data
// is the end of the stream.
class TrickleInStream : public rdr::InStream {
 public:
  TrickleInStream(Bytes data, int32_t window, int32_t arrived = -1) : data_(std::move(data)), window_(window) {
    arrived_ = arrived < 0 ? size() : std::min(arrived, size());
    ptr_ = end_ = checkpointPtr_ = data_.data();
  }

  void arrive(int32_t n) { arrived_ = std::min(size(), arrived_ + n); }
  bool allArrived() const { return arrived_ == size(); }
  int blocks() const { return blocks_; }

  int32_t pos() override { return static_cast<int32_t>(ptr_ - data_.data()); }

 protected:
  bool overrun(int32_t needed) override {
    const uint8_t* limit = data_.data() + arrived_;
    if (limit - ptr_ < std::min(needed, window_)) {
      if (!allArrived()) {
        ++blocks_;
        return false;
      }
      if (ptr_ == limit) throw rdr::EndOfStream();
    }
    end_ = ptr_ + std::min<std::ptrdiff_t>(window_, limit - ptr_);
    return true;
  }

 private:
  int32_t size() const { return static_cast<int32_t>(data_.size()); }

  Bytes data_;
  int32_t window_;
  int32_t arrived_;
  int blocks_ = 0;
};

// ---- Byte helpers ----

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes repeat(size_t n, uint8_t b) { return Bytes(n, b); }
std::string str(const Bytes& b) { return std::string(b.begin(), b.end()); }

std::string hex(const Bytes& b) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (uint8_t v : b) {
    if (!s.empty()) s += ' ';
    s += digits[v >> 4];
    s += digits[v & 15];
  }
  return s;
}

struct Frame {
  int32_t length;
  bool last;
};

// Splits a wire image into frames.
std::vector<Frame> frames(const Bytes& wire) {
  std::vector<Frame> out;
  for (size_t i = 0; i + 2 <= wire.size();) {
    Frame f{(wire[i] & 0x7F) << 8 | wire[i + 1], (wire[i] & 0x80) != 0};
    out.push_back(f);
    i += 2 + f.length;
  }
  return out;
}

Bytes readMessage(rdr::FramedInStream& in) {
  Bytes got;
  EXPECT_TRUE(in.startMsg(true));
  while (!in.atEnd()) got.push_back(in.readU8());
  in.endMsg();
  return got;
}

// ---- Writing ----

struct WireCase {
  const char* name;
  int32_t window;
  std::function<void(rdr::FramedOutStream&)> write;
  Bytes expected;
};

TEST(FramedOutStreamTest, WritesFramesOnTheWire) {
  const Bytes max = repeat(32766, 'x');
  const WireCase cases[] = {
      {"empty message", 1 << 20, [](auto&) {}, {0x80, 0x00}},
      {"one full frame", 1 << 20, [&](auto& o) { o.writeBytes(max.data(), 32766); }, cat({{0xFF, 0xFE}, max})},
      {"one byte over a full frame", 1 << 20,
       [&](auto& o) {
         o.writeBytes(max.data(), 32766);
         o.writeU8('y');
       },
       cat({{0x7F, 0xFE}, max, {0x80, 0x01, 'y'}})},
      {"frames end with the underlying window", 6, [](auto& o) { o.writeText("0123456789"); },
       cat({{0x00, 0x04}, text("0123"), {0x00, 0x04}, text("4567"), {0x80, 0x02}, text("89")})},
      {"an item that does not fit starts a new frame",
       7,
       [](auto& o) {
         o.writeU16(0x0102);
         o.writeU32(0x03040506);
       },
       {0x00, 0x02, 0x01, 0x02, 0x80, 0x04, 0x03, 0x04, 0x05, 0x06}},
      // The NUL after the text needs room, which closes the full frame; the
      // message then ends with an empty last frame.
      {"final bytes fill a closed frame", 12, [](auto& o) { o.writeText("0123456789"); },
       cat({{0x00, 0x0A}, text("0123456789"), {0x80, 0x00}})},
      {"flush mid-message sends a non-last frame", 1 << 20,
       [](auto& o) {
         o.writeText("abc");
         o.flush();
         o.writeText("de");
       },
       cat({{0x00, 0x03}, text("abc"), {0x80, 0x02}, text("de")})},
      {"flush with nothing written sends no frame", 1 << 20,
       [](auto& o) {
         o.flush();
         o.writeText("de");
       },
       cat({{0x80, 0x02}, text("de")})},
  };
  for (const WireCase& c : cases) {
    SCOPED_TRACE(c.name);
    WindowOutStream under(c.window);
    rdr::OutStreamV4 out(&under);
    out.startMsg();
    c.write(out);
    out.endMsg(true);
    EXPECT_EQ(hex(under.flushed()), hex(c.expected));
    EXPECT_EQ(out.length(), static_cast<int32_t>(c.expected.size() - 2 * frames(c.expected).size()));
  }
}

TEST(FramedOutStreamTest, FlushPassesTheMessageSoFarOn) {
  WindowOutStream under;
  rdr::OutStreamV4 out(&under);
  out.startMsg();
  out.writeText("abc");
  out.flush();
  EXPECT_EQ(hex(under.flushed()), "00 03 61 62 63");
  out.writeText("de");
  out.endMsg(false);
  EXPECT_EQ(under.flushes(), 1);
  EXPECT_EQ(hex(under.bytes()), "00 03 61 62 63 80 02 64 65");

  // The reader sees one unbroken message.
  Bytes wire = under.bytes();
  rdr::MemInStream mem(wire.data(), static_cast<int32_t>(wire.size()));
  rdr::InStreamV4 in(&mem);
  EXPECT_EQ(str(readMessage(in)), "abcde");
}

TEST(FramedOutStreamTest, MisuseThrowsFrameException) {
  struct Case {
    const char* name;
    std::function<void(rdr::FramedOutStream&)> misuse;
    const char* expected;
  };
  const Case cases[] = {
      {"write before startMsg", [](auto& o) { o.writeU8(1); },
       "FrameException: FramedOutStream::endFrame: not in frame"},
      {"write after endMsg",
       [](auto& o) {
         o.startMsg();
         o.endMsg(true);
         o.writeU8(1);
       },
       "FrameException: FramedOutStream::endFrame: not in frame"},
      {"second startMsg",
       [](auto& o) {
         o.startMsg();
         o.startMsg();
       },
       "FrameException: FramedOutStream::startMsg: already in msg"},
      {"endMsg without a message", [](auto& o) { o.endMsg(true); },
       "FrameException: FramedOutStream::endMsg: not in frame"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WindowOutStream under;
    rdr::OutStreamV4 out(&under);
    EXPECT_EQ(typedFailureOf<rdr::FrameException>([&] { c.misuse(out); }), c.expected);
  }
}

// The lower stream has room for one 4-byte frame.  When it refuses room
// for the next, the message stays open: once it has room again the writer
// goes on and the reader sees one unbroken message.
TEST(FramedOutStreamTest, RefusedRoomLeavesTheMessageOpen) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<rdr::OutStream>()> make;
    // Makes room in the lower stream; answers the bytes it took out.
    std::function<Bytes(rdr::OutStream&)> makeRoom;
    // The bytes left in the lower stream at the end.
    std::function<Bytes(rdr::OutStream&)> rest;
  };
  auto drain = [](rdr::OutStream& lower) {
    auto& pipe = dynamic_cast<rdr::MemIoStream&>(lower);
    pipe.flush();
    rdr::InStream& in = pipe;
    Bytes got;
    // A reader that keeps nothing for rewinding, so the pipe may reuse
    // what it has read.
    while (in.check(false, 1)) {
      got.insert(got.end(), in.getPtr(), in.getEnd());
      in.advance(in.nUnread());
      in.setCheckpoint();
    }
    return got;
  };
  const Case cases[] = {
      {"memory whose limit is raised", [] { return std::make_unique<rdr::MemOutStream>(64, 6); },
       [](rdr::OutStream& lower) {
         dynamic_cast<rdr::MemOutStream&>(lower).setLimit(64);
         return Bytes{};
       },
       [](rdr::OutStream& lower) {
         auto& mem = dynamic_cast<rdr::MemOutStream&>(lower);
         return Bytes(mem.data(), mem.data() + mem.length());
       }},
      {"pipe of one buffer whose reader catches up", [] { return std::make_unique<rdr::MemIoStream>(nullptr, 0, 8); },
       drain, drain},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<rdr::OutStream> lower = c.make();
    rdr::OutStreamV4 out(lower.get());
    out.startMsg();
    out.writeU32(0x61626364);
    EXPECT_THROW(out.writeU32(0x65666768), rdr::OutStreamFull);
    EXPECT_THROW(out.endMsg(false), rdr::OutStreamFull) << "still no room";
    Bytes wire = c.makeRoom(*lower);
    out.writeU32(0x65666768);
    out.endMsg(true);
    EXPECT_EQ(out.length(), 8);
    wire = cat({wire, c.rest(*lower)});
    EXPECT_EQ(hex(wire), "00 04 61 62 63 64 80 04 65 66 67 68");
    rdr::MemInStream mem(wire.data(), static_cast<int32_t>(wire.size()));
    rdr::InStreamV4 in(&mem);
    EXPECT_EQ(str(readMessage(in)), "abcdefgh");
  }
}

TEST(FramedOutStreamTest, ForwardsToTheUnderlyingStream) {
  WindowOutStream under;
  rdr::OutStreamV4 out(&under);
  EXPECT_EQ(out.lowerStream(), &under);
  // Over an unlimited stream the answer is a limit like any other: less
  // one header.
  EXPECT_EQ(out.spaceLimit(), 0x7FFFFFFD);
  under.setSpaceLimit(100);
  EXPECT_EQ(out.spaceLimit(), 98);  // room for one header is kept
  under.setSpaceLimit(1);
  EXPECT_EQ(out.spaceLimit(), 0);
}

// ---- Reading ----

TEST(FramedInStreamTest, ReadsMessagesAcrossFrames) {
  struct Case {
    const char* name;
    Bytes wire;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"empty message", {0x80, 0x00}, {""}},
      {"empty non-last frame first", cat({{0x00, 0x00, 0x80, 0x03}, text("abc")}), {"abc"}},
      {"empty non-last frames between",
       cat({{0x00, 0x02}, text("ab"), {0x00, 0x00, 0x00, 0x00, 0x80, 0x01}, text("c")}),
       {"abc"}},
      {"empty non-last frame before an empty last frame",
       cat({{0x00, 0x01}, text("a"), {0x00, 0x00, 0x80, 0x00}}),
       {"a"}},
      {"largest frame the reader accepts", cat({{0xFF, 0xFF}, repeat(32767, 'x')}), {std::string(32767, 'x')}},
      {"messages back to back",
       cat({{0x80, 0x01}, text("a"), {0x80, 0x00, 0x00, 0x02}, text("bc"), {0x80, 0x01}, text("d")}),
       {"a", "", "bcd"}},
  };
  for (const Case& c : cases) {
    for (int32_t window : {1, 3, 1 << 20}) {
      SCOPED_TRACE(std::string(c.name) + ", window " + std::to_string(window));
      TrickleInStream under(c.wire, window);
      rdr::InStreamV4 in(&under);
      for (const std::string& m : c.messages) EXPECT_EQ(str(readMessage(in)), m);
      EXPECT_THROW((void)in.startMsg(true), rdr::EndOfStream);
    }
  }
}

TEST(FramedInStreamTest, ReadingPastTheEndOfMessageThrows) {
  // "ab" over two frames, then the message "z".
  const Bytes wire = cat({{0x00, 0x01}, text("a"), {0x80, 0x01}, text("b"), {0x80, 0x01}, text("z")});
  struct Case {
    const char* name;
    std::function<void(rdr::InStream&)> read;
  };
  const Case cases[] = {
      {"one byte past the end",
       [](rdr::InStream& in) {
         in.skip(2);
         in.readU8();
       }},
      {"a u32 over the message's last two bytes", [](rdr::InStream& in) { in.readU32(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The next message has not arrived: the end of this one must not wait
    // for it.
    TrickleInStream under(wire, 1 << 20, static_cast<int32_t>(wire.size()) - 3);
    rdr::InStreamV4 in(&under);
    ASSERT_TRUE(in.startMsg(false));
    EXPECT_EQ(typedFailureOf<rdr::EndOfMsg>([&] { c.read(in); }), "EndOfMsg: End of message");
    // The failed read leaves the stream usable.
    in.endMsg();
    under.arrive(3);
    EXPECT_EQ(str(readMessage(in)), "z");
  }
}

TEST(FramedInStreamTest, EndMsgWithDataLeftThrows) {
  struct Case {
    const char* name;
    Bytes wire;  // a message whose first byte is read, then the message "z"
  };
  const Case cases[] = {
      {"left in the same frame", cat({{0x80, 0x03}, text("abc"), {0x80, 0x01}, text("z")})},
      {"left after an empty frame",
       cat({{0x00, 0x01}, text("a"), {0x00, 0x00, 0x80, 0x01}, text("b"), {0x80, 0x01}, text("z")})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rdr::MemInStream mem(c.wire.data(), static_cast<int32_t>(c.wire.size()));
    rdr::InStreamV4 in(&mem);
    ASSERT_TRUE(in.startMsg(true));
    in.readU8();
    EXPECT_EQ(typedFailureOf<rdr::FrameException>([&] { in.endMsg(); }),
              "FrameException: FramedInStream::endMsg: data left in msg");
    EXPECT_TRUE(in.inMsg());
    in.skipRestOfMsg();
    in.endMsg();
    EXPECT_EQ(str(readMessage(in)), "z");
  }
}

TEST(FramedInStreamTest, NonBlockingReaderRewindsAndResumes) {
  // "abcde" in two frames and an empty last frame, then "z".
  const Bytes wire = cat({{0x00, 0x03}, text("abc"), {0x00, 0x02}, text("de"), {0x80, 0x00, 0x80, 0x01}, text("z")});
  TrickleInStream under(wire, 1 << 20, 0);
  rdr::InStreamV4 in(&under);
  char body[6] = {};

  // The header must be complete before a message starts, and half a header
  // stays in the underlying stream.
  EXPECT_FALSE(in.startMsg(false));
  under.arrive(1);
  EXPECT_FALSE(in.startMsg(false));
  EXPECT_EQ(under.pos(), 0);
  under.arrive(5);  // the header, "abc" and the first byte of the next header
  ASSERT_TRUE(in.startMsg(false));

  // A block in the middle of the body goes back to its start.
  EXPECT_THROW(in.readBytes(body, 5), rdr::BlockException);
  EXPECT_EQ(in.pos(), 0);
  EXPECT_EQ(under.pos(), 2);
  EXPECT_TRUE(in.startMsg(false));  // still open: the reader runs again

  // A checkpoint inside the body keeps what was read before it.
  in.readBytes(body, 3);
  in.setCheckpoint();
  EXPECT_THROW(in.readBytes(body + 3, 2), rdr::BlockException);
  EXPECT_EQ(in.pos(), 3);
  under.arrive(3);  // "de" is complete; where the message ends is not known yet
  in.readBytes(body + 3, 2);
  EXPECT_STREQ(body, "abcde");

  // Whether anything follows needs the next header: endMsg blocks too, and
  // goes back to the checkpoint.
  EXPECT_THROW(in.endMsg(), rdr::BlockException);
  EXPECT_EQ(in.pos(), 3);
  under.arrive(5);
  in.skip(2);
  in.endMsg();
  EXPECT_EQ(in.pos(), 5);
  EXPECT_EQ(str(readMessage(in)), "z");
}

TEST(FramedStreamTest, SetUnderlyingDropsTheOpenMessage) {
  WindowOutStream first, second;
  rdr::OutStreamV4 out(&first);
  out.startMsg();
  out.writeText("lost");
  out.setUnderlying(&second);
  out.startMsg();
  out.writeText("kept");
  out.endMsg(true);
  EXPECT_TRUE(first.bytes().empty());
  EXPECT_EQ(hex(second.flushed()), "80 04 6B 65 70 74");

  const Bytes lost = cat({{0x80, 0x04}, text("lost")});
  const Bytes kept = second.flushed();
  rdr::MemInStream a(lost.data(), static_cast<int32_t>(lost.size()));
  rdr::MemInStream b(kept.data(), static_cast<int32_t>(kept.size()));
  rdr::InStreamV4 in(&a);
  ASSERT_TRUE(in.startMsg(true));
  in.readU8();
  in.setUnderlying(&b);
  EXPECT_FALSE(in.inMsg());
  EXPECT_EQ(str(readMessage(in)), "kept");
}

TEST(FramedStreamDeathTest, MisuseIsAFailedAssertion) {
  struct Case {
    const char* name;
    std::function<void()> misuse;
    const char* expected;
  };
  const Case cases[] = {
      {"writer without an underlying stream", [] { rdr::OutStreamV4(nullptr).startMsg(); },
       "Assertion 'underlying' failed"},
      {"reader without an underlying stream", [] { (void)rdr::InStreamV4(nullptr).startMsg(true); },
       "Assertion 'underlying' failed"},
      {"reading outside a message",
       [] {
         const uint8_t wire[] = {0x80, 0x01, 'a'};
         rdr::MemInStream mem(wire, 3);
         rdr::InStreamV4(&mem).readU8();
       },
       "Assertion 'inMsg_' failed"},
      {"atEnd outside a message",
       [] {
         rdr::MemInStream mem(nullptr, 0);
         rdr::InStreamV4(&mem).atEnd();
       },
       "Assertion 'inMsg_' failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(c.misuse(), testing::KilledBySignal(SIGABRT), HasSubstr(c.expected));
  }
}

// ---- Round trip ----

struct RoundTripCase {
  uint32_t seed;
  int32_t outWindow;    // room the writer's underlying stream hands out
  int32_t inWindow;     // bytes the reader's underlying stream exposes
  int32_t readChunk;    // bytes per readBytes call
  int32_t arrivalStep;  // bytes arriving per block; 0: all there at once
  bool checkpointEachChunk;
  bool largeMessages;  // add messages around and above one full frame
};

// Writes each message in random parts (bytes, u8, u32) with occasional
// flushes; checks the frame layout and the writer's length.
Bytes writeMessages(const RoundTripCase& c, const std::vector<Bytes>& messages, std::mt19937& rng) {
  WindowOutStream under(c.outWindow);
  rdr::OutStreamV4 out(&under);
  int32_t total = 0;
  for (const Bytes& m : messages) {
    out.startMsg();
    size_t i = 0;
    while (i < m.size()) {
      size_t left = m.size() - i;
      switch (rng() % 4) {
        case 0:
          out.writeU8(m[i]);
          i += 1;
          break;
        case 1:
          if (left >= 4) {
            out.writeU32(uint32_t(m[i]) << 24 | uint32_t(m[i + 1]) << 16 | uint32_t(m[i + 2]) << 8 | m[i + 3]);
            i += 4;
          }
          break;
        default: {
          size_t n = std::min<size_t>(left, 1 + rng() % 9000);
          out.writeBytes(m.data() + i, static_cast<int32_t>(n));
          i += n;
        }
      }
      if (rng() % 8 == 0) out.flush();
      EXPECT_EQ(out.length(), total + static_cast<int32_t>(i));
    }
    out.endMsg(rng() % 2 == 0);
    total += static_cast<int32_t>(m.size());
  }
  out.flush();
  Bytes wire = under.flushed();

  // Frame layout: no frame over the limits, no empty non-last frame, the
  // last bits mark the messages and the payloads add up to them.
  const int32_t maxPayload = std::min(32766, std::max(c.outWindow, 2 + 4) - 2);
  std::vector<int32_t> sizes(1, 0);
  for (const Frame& f : frames(wire)) {
    EXPECT_LE(f.length, maxPayload);
    EXPECT_TRUE(f.last || f.length > 0);
    sizes.back() += f.length;
    if (f.last) sizes.push_back(0);
  }
  sizes.pop_back();
  EXPECT_EQ(sizes.size(), messages.size());
  for (size_t k = 0; k < std::min(sizes.size(), messages.size()); ++k)
    EXPECT_EQ(sizes[k], static_cast<int32_t>(messages[k].size())) << "message " << k;
  return wire;
}

// Reads the messages back as a non-blocking parser would: on a block, more
// bytes arrive and the parser runs again from its last checkpoint.
void readMessages(const RoundTripCase& c, const Bytes& wire, const std::vector<Bytes>& messages) {
  TrickleInStream under(wire, c.inWindow, c.arrivalStep == 0 ? -1 : 0);
  rdr::InStreamV4 in(&under);
  int32_t msgStart = 0;
  for (size_t k = 0; k < messages.size(); ++k) {
    SCOPED_TRACE("message " + std::to_string(k));
    const Bytes& expected = messages[k];
    Bytes got;
    size_t kept = 0;  // bytes of got up to the last checkpoint
    bool done = false;
    while (!done) {
      try {
        if (in.startMsg(false)) {
          while (got.size() < expected.size()) {
            size_t n = std::min<size_t>(c.readChunk, expected.size() - got.size());
            size_t at = got.size();
            got.resize(at + n);
            in.readBytes(got.data() + at, static_cast<int32_t>(n));
            if (c.checkpointEachChunk) {
              in.setCheckpoint();
              kept = got.size();
            }
          }
          in.endMsg();
          done = true;
          continue;
        }
      } catch (const rdr::BlockException&) {
        got.resize(kept);
        ASSERT_EQ(in.pos(), msgStart + static_cast<int32_t>(kept));
      }
      ASSERT_FALSE(under.allArrived()) << "blocked with all data there";
      under.arrive(c.arrivalStep);
    }
    ASSERT_TRUE(got == expected);
    msgStart += static_cast<int32_t>(expected.size());
    EXPECT_EQ(in.pos(), msgStart);
  }
  EXPECT_EQ(under.pos(), static_cast<int32_t>(wire.size()));
  if (c.arrivalStep > 0) {
    EXPECT_GT(under.blocks(), 0);
  }
}

TEST(FramedStreamTest, RandomMessagesSurviveTheRoundTrip) {
  const RoundTripCase cases[] = {
      // seed, outWindow, inWindow, readChunk, arrivalStep, checkpointEachChunk, largeMessages
      {1, 1 << 20, 1 << 20, 1 << 20, 0, false, true},
      {2, 7, 5, 3, 0, false, true},
      {3, 64, 1, 7, 0, false, true},
      {4, 3, 2, 40000, 0, false, true},
      {5, 40000, 333, 4096, 5000, false, true},
      {6, 1000, 1 << 20, 100, 17, true, true},
      {7, 5, 4, 1, 1, true, false},
      {8, 100, 2, 50, 301, false, false},
  };
  for (const RoundTripCase& c : cases) {
    SCOPED_TRACE("seed " + std::to_string(c.seed));
    std::mt19937 rng(c.seed);
    std::vector<size_t> sizes = {0, 1, 2, 3};
    if (c.largeMessages) sizes.insert(sizes.end(), {32765, 32766, 32767, 32768, 65532, 65533, 70000});
    for (int i = 0; i < 20; ++i) sizes.push_back(rng() % (i % 4 == 0 ? 40000 : 300));
    std::shuffle(sizes.begin(), sizes.end(), rng);
    std::vector<Bytes> messages;
    for (size_t n : sizes) {
      Bytes m(n);
      for (uint8_t& b : m) b = static_cast<uint8_t>(rng());
      messages.push_back(std::move(m));
    }

    Bytes wire = writeMessages(c, messages, rng);
    readMessages(c, wire, messages);
  }
}

}  // namespace
