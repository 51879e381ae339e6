// The text helpers (writeText, printf, pad) over the real bounded streams:
// texts longer than one buffer, and texts that exactly fill a limited one.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/FileOutStream.h"
#include "qocore/base/rdr/FramedInStream.h"
#include "qocore/base/rdr/FramedOutStream.h"
#include "qocore/base/rdr/MemIoStream.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "testing/FailureOf.h"
#include "testing/FileFixtures.h"

namespace {

using yarl_test::failureOf;

std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
  return s;
}

std::string readAll(rdr::InStream& in) {
  std::string out;
  while (in.check(false, 1)) {
    out.append(reinterpret_cast<const char*>(in.getPtr()), in.nUnread());
    in.advance(in.nUnread());
    in.setCheckpoint();
  }
  return out;
}

// A stream under test and the way to get back what reached its end.
struct Target {
  virtual ~Target() = default;
  virtual rdr::OutStream& out() = 0;
  // Everything written, once the writer is done.
  virtual std::string written() = 0;
};

// A pipe of 64-byte buffers.
struct PipeTarget : Target {
  rdr::MemIoStream pipe{nullptr, -1, 64};
  rdr::OutStream& out() override { return pipe; }
  std::string written() override {
    pipe.flush();
    return readAll(pipe);
  }
};

// A file, through the stream's fixed 16384-byte buffer.
struct FileTarget : Target {
  yarl_test::TempDir dir;
  std::string path = dir / "text";
  rdr::FileOutStream file{path.c_str()};
  rdr::OutStream& out() override { return file; }
  std::string written() override {
    file.flush();
    return yarl_test::readFile(path);
  }
};

// One framed message over a pipe of 64-byte buffers.
struct FramedTarget : Target {
  rdr::MemIoStream pipe{nullptr, -1, 64};
  rdr::OutStreamV4 framed{&pipe};
  FramedTarget() { framed.startMsg(); }
  rdr::OutStream& out() override { return framed; }
  std::string written() override {
    framed.endMsg();
    rdr::InStreamV4 in(&pipe);
    EXPECT_TRUE(in.startMsg(false));
    std::string body;
    while (!in.atEnd()) body.push_back(static_cast<char>(in.readU8()));
    in.endMsg();
    return body;
  }
};

struct TargetCase {
  const char* name;
  std::function<std::unique_ptr<Target>()> make;
  size_t longText;  // more than one buffer of the stream
};

const std::vector<TargetCase>& targets() {
  static const std::vector<TargetCase> cases{
      {"pipe", [] { return std::make_unique<PipeTarget>(); }, 200},
      {"file", [] { return std::make_unique<FileTarget>(); }, 40000},
      {"framed over a pipe", [] { return std::make_unique<FramedTarget>(); }, 200},
  };
  return cases;
}

TEST(TextOutput, LongTextsGoThroughTheWindowInPieces) {
  for (const TargetCase& t : targets()) {
    const std::string text = pattern(t.longText);
    struct Write {
      const char* name;
      std::function<void(rdr::OutStream&)> write;
      std::string expected;
    };
    const std::vector<Write> writes{
        {"printf", [&](rdr::OutStream& o) { o.printf("<%s>", text.c_str()); }, "<" + text + ">"},
        {"writeText", [&](rdr::OutStream& o) { o.writeText(text.c_str()); }, text},
        {"pad", [&](rdr::OutStream& o) { o.pad(0xE9, static_cast<int32_t>(t.longText)); },
         [&] {
           std::string s;
           for (size_t i = 0; i < t.longText; ++i) s += "\xC3\xA9";
           return s;
         }()},
    };
    for (const Write& w : writes) {
      SCOPED_TRACE(testing::Message() << w.name << " into " << t.name);
      std::unique_ptr<Target> target = t.make();
      target->out().writeU8('>');
      std::string failure = failureOf<plat::Exception>([&] { w.write(target->out()); });
      EXPECT_EQ(failure, "(nothing thrown)");
      target->out().writeU8('.');
      EXPECT_EQ(target->written(), ">" + w.expected + ".");
    }
  }
}

// The NUL after the text is not part of what is written: a text that
// exactly fills a limited stream is written whole, with no OutStreamFull
// that would make a retrying caller write it twice.
TEST(TextOutput, TextThatExactlyFillsALimitedStreamIsNotRefused) {
  struct Limited {
    const char* name;
    std::function<std::unique_ptr<rdr::OutStream>()> make;
    int32_t room;
  };
  // clang-format off
  const std::vector<Limited> streams{
      {"memory limited to 10", [] { return std::make_unique<rdr::MemOutStream>(4, 10); }, 10},
      {"pipe of one buffer", [] { return std::make_unique<rdr::MemIoStream>(nullptr, 0, 16); }, 16},
  };
  // clang-format on
  struct Write {
    const char* name;
    std::function<void(rdr::OutStream&, int32_t)> write;
  };
  const std::vector<Write> writes{
      {"writeText", [](rdr::OutStream& o, int32_t n) { o.writeText(pattern(n).c_str()); }},
      {"printf", [](rdr::OutStream& o, int32_t n) { o.printf("%s", pattern(n).c_str()); }},
      {"pad", [](rdr::OutStream& o, int32_t n) { o.pad('-', n); }},
  };
  for (const Limited& s : streams) {
    for (const Write& w : writes) {
      SCOPED_TRACE(testing::Message() << w.name << " into " << s.name);
      std::unique_ptr<rdr::OutStream> out = s.make();
      EXPECT_EQ(failureOf<rdr::OutStreamFull>([&] { w.write(*out, s.room); }), "(nothing thrown)");
      EXPECT_EQ(out->length(), s.room);
      EXPECT_EQ(out->spaceLimit(), 0);
      EXPECT_THROW(out->writeU8('x'), rdr::OutStreamFull) << "the stream is full after the text";
    }
  }
}

}  // namespace
