#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "qocore/base/crypto/TaggedStream.h"
#include "qocore/base/crypto/tests/CryptoTestUtil.h"
#include "qocore/base/rdr/FdInStream.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "testing/FailureOf.h"
#include "testing/LogCapture.h"
#include "testing/SocketPair.h"

namespace {

using yarl_test::failureOf;

// A toy record kind: payload bytes XOR 0x55, a one-byte tag that is the
// XOR of the plain bytes.  The reader processes in place and defers every
// verdict to the test, as a subclass that asks another party would.
class ToyOutStream : public crypto::TaggedOutStream {
 public:
  ToyOutStream(rdr::OutStream* out, int32_t maxPayload) : TaggedOutStream(out, 1, maxPayload) {}
  bool send = true;

 protected:
  bool sealRecord() override {
    uint8_t* payload = recordData() + 2;
    uint8_t sum = 0;
    for (int32_t i = 0; i < plainLen(); ++i) {
      sum ^= payload[i];
      payload[i] ^= 0x55;
    }
    payload[plainLen()] = sum;
    return send;
  }
};

class ToyInStream : public crypto::TaggedInStream, public crypto::TaggedInStream::Callback {
 public:
  explicit ToyInStream(rdr::InStream* in) : TaggedInStream(in, 1, true, 64, 0) { setCallback(this); }
  std::vector<std::string> headers;
  std::vector<uint8_t> tags;
  std::vector<uint8_t> sums;
  int verdicts = 0;

 protected:
  void startRecord(const uint8_t* header, int32_t len) override {
    headers.emplace_back(reinterpret_cast<const char*>(header), len);
    sum_ = 0;
  }
  void processPayload(uint8_t* where, int32_t count) override {
    for (int32_t i = 0; i < count; ++i) sum_ ^= (where[i] ^= 0x55);
  }
  bool verifyTag(const uint8_t* tag) override {
    tags.push_back(tag[0]);
    sums.push_back(sum_);
    return false;
  }
  void tagVerificationDone(TaggedInStream* stream) override {
    EXPECT_EQ(stream, this);
    ++verdicts;
  }

 private:
  uint8_t sum_ = 0;
};

TEST(TaggedStreamTest, DeferredVerdictsStallTheReader) {
  rdr::MemOutStream wire;
  ToyOutStream writer(&wire, 0);
  writer.writeBytes("hello", 5);
  writer.flushRecord();
  writer.writeBytes("world", 5);
  writer.flushRecord();
  writer.writeBytes("forged", 6);
  writer.flush();
  ASSERT_EQ(wire.length(), 3 * 3 + 16);

  yarl_test::SocketPair sockets(SOCK_NONBLOCK);
  rdr::FdInStream lower(sockets.near.get());
  lower.setNonBlocking(true);
  ToyInStream reader(&lower);
  reader.setRewindable(false);
  ASSERT_EQ(::write(sockets.far.get(), wire.data(), wire.length()), wire.length());

  // The first record waits for its verdict; the next is not even begun.
  EXPECT_EQ(crypto_test::readAvailable(reader), "");
  EXPECT_TRUE(reader.hasPendingData());
  ASSERT_EQ(reader.headers.size(), 1u);
  EXPECT_EQ(reader.headers[0], std::string("\0\5", 2));
  EXPECT_EQ(reader.tags, reader.sums);
  reader.tagVerified(nullptr);
  EXPECT_EQ(reader.verdicts, 1);
  EXPECT_EQ(crypto_test::readAvailable(reader), "hello");
  reader.tagVerified(nullptr);
  EXPECT_EQ(crypto_test::readAvailable(reader), "world");
  EXPECT_EQ(reader.pos(), 10);

  // A refusal is final and the record never becomes readable.
  reader.tagVerified("forged record");
  EXPECT_EQ(reader.verdicts, 3);
  EXPECT_EQ(failureOf<plat::Exception>([&] { reader.check(false, 1); }), "forged record");
  EXPECT_EQ(reader.nUnread(), 0);
  EXPECT_EQ(failureOf<plat::Exception>([&] { reader.check(false, 1); }), "forged record");
}

TEST(TaggedStreamTest, ReaderBufferLimitsAndPositions) {
  rdr::MemOutStream wire;
  ToyOutStream writer(&wire, 100);
  const std::string big(65, 'b');
  writer.writeBytes(big.data(), 65);
  writer.flush();
  rdr::MemInStream in(wire.data(), wire.length());
  ToyInStream reader(&in);  // a 64-byte buffer
  reader.setRewindable(false);
  EXPECT_EQ(failureOf<plat::Exception>([&] { reader.check(false, 1); }), "TaggedInStream: message too large");

  // Records of 40 bytes fit one at a time; consumed bytes make room.
  rdr::MemOutStream two;
  ToyOutStream w2(&two, 40);
  const std::string data(80, 'x');
  w2.writeBytes(data.data(), 80);
  w2.flush();
  rdr::MemInStream in2(two.data(), two.length());
  ToyInStream r2(&in2);
  r2.setRewindable(false);
  ASSERT_FALSE(r2.check(false, 1));
  r2.tagVerified(nullptr);
  ASSERT_TRUE(r2.check(false, 40));
  r2.advance(40);
  EXPECT_FALSE(r2.check(false, 1));
  r2.tagVerified(nullptr);
  EXPECT_EQ(r2.nUnread(), 40);
  EXPECT_EQ(r2.pos(), 40);
}

TEST(TaggedStreamTest, WriterOnlySendsWhatItsSubclassSeals) {
  rdr::MemOutStream wire;
  ToyOutStream writer(&wire, 0);
  writer.send = false;
  writer.writeBytes("kept back", 9);
  writer.flushRecord();
  EXPECT_EQ(wire.length(), 0);
  EXPECT_EQ(writer.length(), 9);
}

TEST(TaggedStreamTest, WriterDestroyedWithAnOpenRecordSaysSo) {
  yarl_test::LogCapture log("TaggedOutStream:capture:0");
  rdr::MemOutStream wire;
  {
    ToyOutStream writer(&wire, 0);
    writer.writeBytes("lost", 4);
  }
  EXPECT_EQ(wire.length(), 0);
  const std::vector<yarl_test::LogRecord> expected = {{"TaggedOutStream", 0, "4 bytes of an open record not sent"}};
  EXPECT_EQ(log.from("TaggedOutStream"), expected);
}

TEST(TaggedStreamDeathTest, Misuse) {
  const std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  class Plain : public crypto::TaggedInStream {
   public:
    Plain(rdr::InStream* in, int32_t tagLength) : TaggedInStream(in, tagLength, true, 0, 0) {}

   protected:
    void startRecord(const uint8_t*, int32_t) override {}
    void processPayload(uint8_t*, int32_t) override {}
    bool verifyTag(const uint8_t*) override { return true; }
  };
  rdr::MemInStream in("", 0);
  EXPECT_DEATH(Plain(&in, 65), "Assertion 'tagLen <= MAX_TAG_LEN' failed");
  EXPECT_DEATH(Plain(&in, 16).tagVerified(nullptr), "Assertion 'cb' failed");
  GTEST_FLAG_SET(death_test_style, style);
}

}  // namespace
