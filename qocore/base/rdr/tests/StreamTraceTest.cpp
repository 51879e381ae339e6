// The buffered streams' byte trace: with tracing on, each read and each
// write is hex-dumped to the log.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "qocore/base/rdr/BufferedInStream.h"
#include "qocore/base/rdr/BufferedOutStream.h"
#include "testing/LogCapture.h"

namespace {

using testing::ElementsAre;
using testing::IsEmpty;
using yarl_test::LogCapture;
using yarl_test::LogRecord;

class StringOutStream : public rdr::BufferedOutStream {
 public:
  std::string taken;

 protected:
  int32_t writeData(const uint8_t* buf, int32_t len, bool) override {
    taken.append(reinterpret_cast<const char*>(buf), static_cast<size_t>(len));
    return len;
  }
};

class StringInStream : public rdr::BufferedInStream {
 public:
  explicit StringInStream(std::string data) : data_(std::move(data)) {}

 protected:
  int32_t readData(uint8_t* buf, int32_t len) override {
    int32_t n = std::min<int32_t>(len, static_cast<int32_t>(data_.size() - at_));
    std::memcpy(buf, data_.data() + at_, static_cast<size_t>(n));
    at_ += static_cast<size_t>(n);
    return n;
  }

 private:
  std::string data_;
  size_t at_ = 0;
};

TEST(StreamTraceTest, WritesAreDumpedSixteenBytesToALine) {
  LogCapture capture("BufferedOutStream:capture:100");
  StringOutStream out;
  out.writeBytes(reinterpret_cast<const uint8_t*>("ABCDEFGHIJKLMNOP\x01\xff"), 18);
  out.flush();
  EXPECT_THAT(capture.records(), IsEmpty());

  out.setTrace(true);
  out.writeBytes(reinterpret_cast<const uint8_t*>("ABCDEFGHIJKLMNOP\x01\xff"), 18);
  out.flush();
  EXPECT_THAT(
      capture.records(),
      ElementsAre(LogRecord{"BufferedOutStream", 100,
                            " --> 41 42 43 44  45 46 47 48  49 4a 4b 4c  4d 4e 4f 50  ABCDEFGHIJKLMNOP"},
                  LogRecord{"BufferedOutStream", 100, "     01 ff                                               .."}));
}

TEST(StreamTraceTest, ReadsAreDumpedUnlessTheStreamIsSecure) {
  LogCapture capture("BufferedInStream:capture:100");
  for (bool secure : {false, true}) {
    capture.clear();
    StringInStream in("hi\n");
    in.setTrace(true);
    in.setSecure(secure);
    uint8_t got[3];
    in.readBytes(got, 3);
    if (secure) {
      EXPECT_THAT(capture.records(), IsEmpty());
    } else {
      EXPECT_THAT(capture.records(),
                  ElementsAre(LogRecord{"BufferedInStream", 100,
                                        " <-- 68 69 0a                                            hi."}));
    }
  }
}

}  // namespace
