#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "qocore/base/rdr/OutStream.h"

namespace {

using testing::Contains;
using testing::ElementsAre;
using testing::Pair;

// An output stream with a small window.  A refill passes the window's bytes
// on to `sink` and offers a fresh window; when growable, the window grows
// to hold an item larger than it.  Unwritten window bytes hold 0xEE so
// that skipped and terminating bytes can be told apart.
class WindowOutStream : public rdr::OutStream {
 public:
  explicit WindowOutStream(int window, bool growable = true) : size_(window), growable_(growable) {}

  int32_t length() override { return static_cast<int32_t>(sink.size() + inWindow()); }
  int32_t spaceLimit() override { return kNoLimit; }

  // Everything written so far.
  std::string text() { return sink + window_.substr(0, inWindow()); }

  std::string sink;
  std::vector<std::pair<int32_t, int32_t>> overruns;  // (itemSize, nItems)

 protected:
  int32_t overrun(int32_t itemSize, int32_t nItems) override {
    overruns.emplace_back(itemSize, nItems);
    sink = text();
    if (growable_ && itemSize > size_) size_ = itemSize;
    window_.assign(size_, static_cast<char>(0xEE));
    ptr_ = reinterpret_cast<uint8_t*>(window_.data());
    end_ = ptr_ + size_;
    return std::min(nItems, size_ / itemSize);
  }

 private:
  size_t inWindow() const { return ptr_ ? ptr_ - reinterpret_cast<const uint8_t*>(window_.data()) : 0; }

  int size_;
  bool growable_;
  std::string window_;
};

// The byte just after the written text, where the text helpers leave a NUL.
int byteAfter(WindowOutStream& out) { return out.getPtr() < out.getEnd() ? *out.getPtr() : -1; }

TEST(OutStream, IntegersAreBigEndian) {
  WindowOutStream out(3);
  out.writeU8(0x81);
  out.writeU16(0x8283);
  out.writeU32(0x84858687);
  out.writeU64(0x88898a8b8c8d8e8fULL);
  out.writeS8(-1);
  out.writeS16(-2);
  out.writeS32(-3);
  out.writeS64(-4);
  EXPECT_EQ(out.text(), std::string("\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8a\x8b\x8c\x8d\x8e\x8f"
                                    "\xff\xff\xfe\xff\xff\xff\xfd\xff\xff\xff\xff\xff\xff\xff\xfc",
                                    30));
  // Each item that did not fit asked for room for itself alone.
  EXPECT_THAT(out.overruns, Contains(Pair(4, 1)));
  EXPECT_THAT(out.overruns, Contains(Pair(8, 1)));
  EXPECT_EQ(out.length(), 30);
}

TEST(OutStream, BytesAreCopiedWindowByWindow) {
  WindowOutStream out(4, false);
  out.writeBytes("0123456789", 10);
  EXPECT_EQ(out.text(), "0123456789");
  // Each refill is asked for the bytes still to go.
  EXPECT_THAT(out.overruns, ElementsAre(Pair(1, 10), Pair(1, 6), Pair(1, 2)));

  // Skipped bytes advance the stream but are not written.
  out.skipBytes(5);
  out.writeU8('!');
  EXPECT_EQ(out.text(), "0123456789\xEE\xEE\xEE\xEE\xEE!");
}

TEST(OutStream, StringEncodings) {
  const std::string longText(300, 'x');
  struct Case {
    const char* name;
    std::function<void(rdr::OutStream&)> write;
    std::string bytes;
  };
  const std::vector<Case> cases{
      {"string32", [](rdr::OutStream& o) { o.writeString32("hello"); }, std::string("\0\0\0\5hello", 9)},
      {"string32 capped", [](rdr::OutStream& o) { o.writeString32("hello", 2); }, std::string("\0\0\0\2he", 6)},
      {"string32 null", [](rdr::OutStream& o) { o.writeString32(nullptr); }, std::string("\0\0\0\0", 4)},
      {"string8", [](rdr::OutStream& o) { o.writeString8("hi"); }, "\2hi"},
      {"string8 empty", [](rdr::OutStream& o) { o.writeString8(""); }, std::string("\0", 1)},
      {"string8 cut at 255", [&](rdr::OutStream& o) { o.writeString8(longText.c_str()); },
       "\xff" + longText.substr(0, 255)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WindowOutStream out(7);
    c.write(out);
    EXPECT_EQ(out.text(), c.bytes);
  }
}

TEST(OutStream, TextHelpersLeaveANulAfterTheText) {
  const std::string hundred(100, 'h');
  struct Case {
    const char* name;
    std::function<void(rdr::OutStream&)> write;
    std::string text;
  };
  const std::vector<Case> cases{
      {"whole text", [](rdr::OutStream& o) { o.writeText("abc"); }, "abc"},
      {"bounded", [](rdr::OutStream& o) { o.writeText("abcdef", 4); }, "abcd"},
      {"bound past a NUL", [](rdr::OutStream& o) { o.writeText("ab\0cd", 5); }, "ab"},
      {"filling the window", [](rdr::OutStream& o) { o.writeText("abcdefg"); }, "abcdefg"},
      {"printf", [](rdr::OutStream& o) { o.printf("%d-%s", 42, "x"); }, "42-x"},
      {"printf past the window", [&](rdr::OutStream& o) { o.printf("<%s>", hundred.c_str()); }, "<" + hundred + ">"},
      {"printf nothing", [](rdr::OutStream& o) { o.printf("%s", ""); }, ""},
      {"pad ASCII", [](rdr::OutStream& o) { o.pad('-', 3); }, "---"},
      {"pad two-byte", [](rdr::OutStream& o) { o.pad(0xE9, 2); }, "\xC3\xA9\xC3\xA9"},
      {"pad four-byte", [](rdr::OutStream& o) { o.pad(0x1F600, 1); }, "\xF0\x9F\x98\x80"},
      {"pad none", [](rdr::OutStream& o) { o.pad('-', 0); }, ""},
  };
  for (const Case& c : cases) {
    for (bool growable : {true, false}) {
      SCOPED_TRACE(testing::Message() << c.name << (growable ? ", growable" : ", fixed window"));
      WindowOutStream out(8, growable);
      out.writeU8('>');
      c.write(out);
      EXPECT_EQ(out.text(), ">" + c.text);
      EXPECT_EQ(out.length(), 1 + static_cast<int32_t>(c.text.size()));
      EXPECT_EQ(byteAfter(out), 0);
    }
  }
}

TEST(OutStream, PrintfWritesATextLongerThanTheWindowInPieces) {
  WindowOutStream out(16);
  const std::string forty(40, 'f');
  out.printf("%s!", forty.c_str());
  EXPECT_EQ(out.text(), forty + "!");
  // Room for the whole text is never asked for: a bounded stream would
  // refuse it.  The pieces go through the window as writeBytes sends them.
  for (const auto& [itemSize, nItems] : out.overruns) EXPECT_EQ(itemSize, 1) << nItems;
  EXPECT_EQ(byteAfter(out), 0);
}

TEST(OutStream, BaseAnswers) {
  WindowOutStream lower(8);
  // A layered stream reports what its lower stream still holds.
  class Layer : public WindowOutStream {
   public:
    explicit Layer(rdr::OutStream& lower) : WindowOutStream(8), lower_(lower) {}
    rdr::OutStream* lowerStream() override { return &lower_; }

   private:
    rdr::OutStream& lower_;
  } layer(lower);
  class Pending : public WindowOutStream {
   public:
    Pending() : WindowOutStream(8) {}
    int32_t pendingBytes() override { return 17; }
  } pending;
  Layer overPending(pending);

  EXPECT_EQ(lower.lowerStream(), &lower);
  EXPECT_EQ(lower.pendingBytes(), 0);
  EXPECT_EQ(layer.pendingBytes(), 0);
  EXPECT_EQ(overPending.pendingBytes(), 17);
  EXPECT_FALSE(lower.closeForWriting());
}

TEST(OutStreamDeathTest, PointerMustStayInTheWindow) {
  WindowOutStream out(8);
  out.writeU8('a');
  EXPECT_EXIT(out.setPtr(out.getEnd() + 1), testing::KilledBySignal(SIGABRT),
              "Assertion 'p >= ptr && p <= end' failed at qocore/base/rdr/OutStream\\.h");
  EXPECT_EXIT(out.setPtr(out.getPtr() - 1), testing::KilledBySignal(SIGABRT),
              "Assertion 'p >= ptr && p <= end' failed");
}

}  // namespace
