#include "qocore/base/plat/LogSrc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Record {
  std::string source;
  int level;
  std::string text;
  bool operator==(const Record&) const = default;
};

std::vector<Record> records;

void recordingSink(const char* source, int level, const char* text) { records.push_back({source, level, text}); }

class LogSrcTest : public testing::Test {
 protected:
  void SetUp() override {
    records.clear();
    previous_ = plat::log_sink::set(&recordingSink);
  }
  void TearDown() override { plat::log_sink::set(previous_); }

  plat::LogSrc src_{"TestSource"};
  plat::log_sink::SinkFn previous_ = nullptr;
};

TEST_F(LogSrcTest, WritersUseTheirLevels) {
  src_.error("e%d", 1);
  src_.info("i%s", "2");
  src_.debug("d");
  src_.verbose("v");
  src_.write(7, "w%c", '!');
  std::vector<Record> expected = {
      {"TestSource", 0, "e1"}, {"TestSource", 30, "i2"}, {"TestSource", 100, "d"},
      {"TestSource", 110, "v"}, {"TestSource", 7, "w!"},
  };
  EXPECT_EQ(records, expected);
}

TEST_F(LogSrcTest, WriteLinesSkipsEmptyLines) {
  src_.writeLines(100, "first\n\nsecond\nthird");
  src_.writeLines(100, "\n\n");
  src_.writeLines(100, nullptr);
  std::vector<Record> expected = {
      {"TestSource", 100, "first"}, {"TestSource", 100, "second"}, {"TestSource", 100, "third"}};
  EXPECT_EQ(records, expected);
}

TEST_F(LogSrcTest, LongMessagesAreCutAtAWholeCharacter) {
  // 4094 ASCII bytes and a two-byte character need 4097 bytes with the NUL.
  std::string text(4094, 'a');
  text += "\xC3\xA9";
  src_.error("%s", text.c_str());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text, std::string(4094, 'a'));
}

TEST_F(LogSrcTest, SourcesAreListedNewestFirstUntilDestroyed) {
  EXPECT_EQ(plat::LogSrc::first(), &src_);
  {
    plat::LogSrc inner("Inner");
    EXPECT_EQ(plat::LogSrc::first(), &inner);
    EXPECT_EQ(inner.next(), &src_);
  }
  EXPECT_EQ(plat::LogSrc::first(), &src_);
}

TEST(LogSinkDefault, WritesErrorsToStderrAndDropsDebug) {
  plat::LogSrc src("Quiet");
  testing::internal::CaptureStderr();
  src.error("bad %d", 5);
  src.write(10, "edge");
  src.write(11, "hidden");
  src.debug("hidden too");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Quiet: bad 5\nQuiet: edge\n");
}

}  // namespace
