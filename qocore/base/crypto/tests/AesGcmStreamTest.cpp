#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "qocore/base/crypto/AesGcmStream.h"
#include "qocore/base/crypto/MbedTlsException.h"
#include "qocore/base/crypto/tests/CryptoTestUtil.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/FdInStream.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "testing/FailureOf.h"
#include "testing/SocketPair.h"

namespace {

using crypto_test::toHex;
using yarl_test::failureOf;

plat::Buffer buf(const std::string& s) {
  return plat::Buffer(reinterpret_cast<const unsigned char*>(s.data()), static_cast<int>(s.size()));
}
std::string str(const uint8_t* p, int32_t n) { return std::string(reinterpret_cast<const char*>(p), n); }
std::string str(rdr::MemOutStream& out) { return str(out.data(), out.length()); }

// Records cut from the committed cases of data/crypto_oracle.py
// (python3-cryptography's AESGCM).
struct GcmCase {
  std::string key, nonce, wire;
  std::vector<std::string> plain;
};
GcmCase gcmCase(const std::string& name) {
  static const auto v = crypto_test::loadVectors("gcm_vectors.txt");
  GcmCase c{v.at(name + "_key"), v.at(name + "_nonce"), v.at(name + "_wire"), {}};
  const int count = v.count(name + "_count") ? v.at(name + "_count")[0] : 0;
  for (int i = 0; i < count; ++i) c.plain.push_back(v.at(name + "_plain" + std::to_string(i)));
  return c;
}
const char* const kCases[] = {"a128", "a256", "wrap", "carry"};

// A reader on the near end of a non-blocking socket pair; the test sends
// the wire bytes from the far end as it likes.
class ReaderFixture : public testing::Test {
 protected:
  ReaderFixture() : sockets_(SOCK_NONBLOCK), lower_(sockets_.near.get()), reader_(&lower_, 0) {
    lower_.setNonBlocking(true);
    // Consumed bytes may be dropped: every refill sets the checkpoint.
    reader_.setRewindable(false);
  }
  void send(const std::string& bytes) {
    ASSERT_EQ(::write(sockets_.far.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  std::string drain() { return crypto_test::readAvailable(reader_); }

  yarl_test::SocketPair sockets_;
  rdr::FdInStream lower_;
  crypto::AesGcmInStream reader_;
};

TEST(AesGcmOutStreamTest, SealsLikeTheOracle) {
  for (const char* name : kCases) {
    SCOPED_TRACE(name);
    GcmCase c = gcmCase(name);
    rdr::MemOutStream out;
    crypto::AesGcmOutStream writer(&out, 0);
    writer.setKey(buf(c.key), buf(c.nonce));
    writer.flush();  // nothing written: nothing sent
    EXPECT_EQ(out.length(), 0);
    for (const std::string& p : c.plain) {
      writer.writeBytes(p.data(), static_cast<int32_t>(p.size()));
      writer.flushRecord();
    }
    EXPECT_EQ(toHex(str(out)), toHex(c.wire));
  }
}

TEST(AesGcmOutStreamTest, CutsRecordsAtTheMaximumPayload) {
  rdr::MemOutStream out;
  crypto::AesGcmOutStream writer(&out, 0);
  writer.setKey(buf(std::string(16, 'k')), buf(std::string(12, '\0')));
  const std::string data(6601, 'd');
  writer.writeBytes(data.data(), 6601);
  EXPECT_EQ(out.length(), 6618);  // the first record, closed by the refill
  EXPECT_EQ(writer.length(), 6601);
  writer.flush();
  ASSERT_EQ(out.length(), 6618 + 19);
  EXPECT_EQ(toHex(out.data(), 2), "19c8");
  EXPECT_EQ(toHex(out.data() + 6618, 2), "0001");
  // An item larger than a record cannot be written.
  crypto::AesGcmOutStream small(&out, 3);
  EXPECT_EQ(failureOf<plat::Exception>([&] { small.writeU32(1); }), "TaggedOutStream overrun: max itemSize exceeded");
}

TEST(AesGcmOutStreamTest, SpaceLimitCountsRecordOverhead) {
  rdr::MemOutStream out(-1, 100);
  crypto::AesGcmOutStream writer(&out, 30);
  // 100 bytes: two records of 2 + 30 + 16 and a last one with 4 - 18 < 0.
  EXPECT_EQ(writer.spaceLimit(), 60);
  writer.writeBytes("abcde", 5);
  EXPECT_EQ(writer.spaceLimit(), 55);
  rdr::MemOutStream unlimited;
  crypto::AesGcmOutStream open(&unlimited, 0);
  EXPECT_EQ(open.spaceLimit(), rdr::OutStream::kNoLimit);
}

TEST_F(ReaderFixture, OpensTheOraclesRecords) {
  for (const char* name : kCases) {
    SCOPED_TRACE(name);
    GcmCase c = gcmCase(name);
    reader_.setKey(buf(c.key), buf(c.nonce));
    send(c.wire);
    std::string all;
    for (const std::string& p : c.plain) all += p;
    EXPECT_EQ(toHex(drain()), toHex(all));
    EXPECT_FALSE(reader_.hasPendingData());
  }
  // An empty record, which no writer makes, is accepted.
  GcmCase empty = gcmCase("empty");
  reader_.setKey(buf(empty.key), buf(empty.nonce));
  send(empty.wire + gcmCase("a128").wire.substr(0, 3));
  EXPECT_EQ(drain(), "");
  EXPECT_TRUE(reader_.hasPendingData());  // the next record has begun
}

TEST_F(ReaderFixture, ReleasesARecordOnlyWithItsLastTagByte) {
  GcmCase c = gcmCase("a256");
  reader_.setKey(buf(c.key), buf(c.nonce));
  const size_t first = 2 + c.plain[0].size() + 16;
  for (size_t i = 0; i + 1 < first; ++i) {
    send(c.wire.substr(i, 1));
    ASSERT_FALSE(reader_.check(false, 1)) << i;
  }
  send(c.wire.substr(first - 1, 1));
  EXPECT_EQ(drain(), c.plain[0]);
  EXPECT_EQ(reader_.pos(), static_cast<int32_t>(c.plain[0].size()));
}

TEST_F(ReaderFixture, RefusesATamperedRecordForGood) {
  GcmCase c = gcmCase("a128");
  const size_t first = 2 + c.plain[0].size() + 16;
  struct Case {
    const char* what;
    size_t at;
  };
  for (const Case& t : {Case{"ciphertext", 5}, Case{"tag", first - 1}, Case{"length", 1}}) {
    SCOPED_TRACE(t.what);
    yarl_test::SocketPair sockets(SOCK_NONBLOCK);
    rdr::FdInStream lower(sockets.near.get());
    lower.setNonBlocking(true);
    crypto::AesGcmInStream reader(&lower, 0);
    reader.setRewindable(false);
    reader.setKey(buf(c.key), buf(c.nonce));
    std::string wire = c.wire;
    wire[t.at] ^= 0x01;
    ASSERT_EQ(::write(sockets.far.get(), wire.data(), wire.size()), static_cast<ssize_t>(wire.size()));
    std::string got;
    EXPECT_EQ(failureOf<plat::Exception>([&] { got = crypto_test::readAvailable(reader); }),
              "AES authentication failure");
    EXPECT_EQ(got, "");
    EXPECT_EQ(reader.nUnread(), 0);
    // Later records are never read either.
    EXPECT_EQ(failureOf<plat::Exception>([&] { reader.check(false, 1); }), "AES authentication failure");
  }
}

// A stream that ends inside a record was cut short, however little of the
// record had come; an end between records is a clean end.
TEST(AesGcmInStreamTest, AnEndInsideARecordIsATruncation) {
  GcmCase c = gcmCase("a128");
  const size_t first = 2 + c.plain[0].size() + 16;
  const size_t second = first + 2 + c.plain[1].size() + 16;
  const std::string truncated = "TaggedInStream: truncated record";
  struct Case {
    const char* what;
    size_t cut;
    std::string plain;
    std::string ending;
  };
  const Case cases[] = {
      {"nothing sent", 0, "", "end of stream"},
      {"after a whole record", first, c.plain[0], "end of stream"},
      {"after two whole records", second, c.plain[0] + c.plain[1], "end of stream"},
      {"after the first length byte", 1, "", truncated},
      {"after the length", 2, "", truncated},
      {"inside the payload", 7, "", truncated},
      {"inside the tag", first - 1, "", truncated},
      {"after the next record's first length byte", first + 1, c.plain[0], truncated},
      {"before the next record's last tag byte", second - 1, c.plain[0], truncated},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.what);
    yarl_test::SocketPair sockets(SOCK_NONBLOCK);
    rdr::FdInStream lower(sockets.near.get());
    lower.setNonBlocking(true);
    crypto::AesGcmInStream reader(&lower, 0);
    reader.setRewindable(false);
    reader.setKey(buf(c.key), buf(c.nonce));
    ASSERT_EQ(::write(sockets.far.get(), c.wire.data(), t.cut), static_cast<ssize_t>(t.cut));
    sockets.far.reset();
    std::string got;
    std::string ending = "no end";
    try {
      while (reader.check(false, 1)) {
        got.append(reinterpret_cast<const char*>(reader.getPtr()), static_cast<size_t>(reader.nUnread()));
        reader.advance(reader.nUnread());
      }
    } catch (const rdr::EndOfStream&) {
      ending = "end of stream";
    } catch (const plat::Exception& e) {
      ending = e.str();
    }
    EXPECT_EQ(toHex(got), toHex(t.plain));
    EXPECT_EQ(ending, t.ending);
    // The end stays what it was.
    EXPECT_EQ(failureOf<plat::Exception>([&] { reader.check(false, 1); }),
              t.ending == truncated ? truncated : "End of IO stream");
  }
}

TEST_F(ReaderFixture, RefusesARecordLargerThanItsBuffer) {
  rdr::MemOutStream out;
  crypto::AesGcmOutStream writer(&out, 16801);
  writer.setKey(buf(std::string(32, 'k')), buf(std::string(12, 'n')));
  const std::string data(16801, 'x');
  writer.writeBytes(data.data(), 16801);
  writer.flush();
  reader_.setKey(buf(std::string(32, 'k')), buf(std::string(12, 'n')));
  send(str(out));
  EXPECT_EQ(failureOf<plat::Exception>([&] { drain(); }), "TaggedInStream: message too large");
}

TEST_F(ReaderFixture, KeysChangeBetweenRecords) {
  rdr::MemOutStream out;
  crypto::AesGcmOutStream writer(&out, 0);
  writer.setKey(buf(std::string(16, 'a')), buf(std::string(12, 'a')));
  writer.writeBytes("first", 5);
  writer.flushRecord();
  writer.setKey(buf(std::string(32, 'b')), buf(std::string(12, 'b')));
  writer.writeBytes("second", 6);
  writer.flush();
  reader_.setKey(buf(std::string(16, 'a')), buf(std::string(12, 'a')));
  const std::string wire = str(out);
  send(wire.substr(0, 2 + 5 + 16));
  EXPECT_EQ(drain(), "first");
  reader_.setKey(buf(std::string(32, 'b')), buf(std::string(12, 'b')));
  send(wire.substr(2 + 5 + 16));
  EXPECT_EQ(drain(), "second");
}

TEST(AesGcmStreamDeathTest, KeysOnlyBetweenRecords) {
  const std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const plat::Buffer key = buf(std::string(16, 'k')), nonce = buf(std::string(12, 'n'));
  EXPECT_DEATH(
      {
        rdr::MemOutStream out;
        crypto::AesGcmOutStream writer(&out, 0);
        writer.setKey(key, nonce);
        writer.writeBytes("abc", 3);
        writer.flushRecord();
        const std::string wire = str(out).substr(0, 4);
        rdr::MemInStream in(wire.data(), static_cast<int32_t>(wire.size()));
        crypto::AesGcmInStream reader(&in, 0);
        reader.setKey(key, nonce);
        try {
          reader.check(false, 1);
        } catch (const plat::Exception&) {
          // The record has begun; the rest is missing.
        }
        reader.setKey(key, nonce);
      },
      "Assertion '!inMsg' failed");
  EXPECT_DEATH(
      {
        rdr::MemOutStream out;
        crypto::AesGcmOutStream writer(&out, 0);
        writer.writeBytes("abc", 3);
        writer.setKey(key, nonce);
      },
      "Assertion 'plainLen\\(\\) == 0' failed");
  EXPECT_DEATH(
      {
        rdr::MemOutStream out;
        crypto::AesGcmOutStream writer(&out, 0);
        writer.setKey(buf("short"), nonce);
      },
      "Assertion '\\(key.length\\(\\) == 16\\) \\|\\| \\(key.length\\(\\) == 32\\)' failed");
  GTEST_FLAG_SET(death_test_style, style);
}

// ---- Saved and restored states ----

TEST(AesGcmStateTest, WriterContinuesFromItsSavedState) {
  GcmCase c = gcmCase("a256");
  rdr::MemOutStream out;
  crypto::AesGcmOutStream writer(&out, 0);
  writer.setKey(buf(c.key), buf(c.nonce));
  writer.writeBytes(c.plain[0].data(), static_cast<int32_t>(c.plain[0].size()));
  writer.flushRecord();
  writer.writeBytes(c.plain[1].data(), 10);

  rdr::MemOutStream state;
  writer.saveState(state);
  // The base part: maximum payload, written, pending length, 10 bytes.
  EXPECT_EQ(toHex(state.data(), 12),
            "000019c8"
            "00000010"
            "0000000a");
  EXPECT_EQ(str(state.data() + 12, 10), c.plain[1].substr(0, 10));

  // A new writer (without a key of its own) takes over.
  rdr::MemOutStream rest;
  crypto::AesGcmOutStream restored(&rest, 0);
  rdr::MemInStream in(state.data(), state.length());
  restored.restoreState(in);
  EXPECT_TRUE(in.atEnd());
  EXPECT_EQ(restored.length(), static_cast<int32_t>(c.plain[0].size()) + 10);
  restored.writeBytes(c.plain[1].data() + 10, static_cast<int32_t>(c.plain[1].size()) - 10);
  restored.flushRecord();
  restored.writeBytes(c.plain[2].data(), static_cast<int32_t>(c.plain[2].size()));
  restored.flush();
  EXPECT_EQ(toHex(str(out) + str(rest)), toHex(c.wire));
}

TEST(AesGcmStateTest, ReaderContinuesMidRecordFromItsSavedState) {
  GcmCase c = gcmCase("a128");
  const size_t first = 2 + c.plain[0].size() + 16;
  // Into the second record (768 bytes): its length and 100 payload bytes.
  const size_t cut = first + 2 + 100;
  rdr::MemInStream head(c.wire.data(), static_cast<int32_t>(cut));
  crypto::AesGcmInStream reader(&head, 0);
  reader.setKey(buf(c.key), buf(c.nonce));
  std::string got;
  ASSERT_TRUE(reader.check(false, 4));
  got += str(reader.getPtr(), 4);
  reader.advance(4);
  reader.setCheckpoint();
  EXPECT_EQ(failureOf<plat::Exception>([&] { reader.check(false, 100); }), "TaggedInStream: truncated record");
  EXPECT_TRUE(reader.hasPendingData());

  rdr::MemOutStream state;
  reader.saveState(state);
  rdr::MemInStream tail(c.wire.data() + cut, static_cast<int32_t>(c.wire.size() - cut));
  crypto::AesGcmInStream restored(&tail, 0);
  rdr::MemInStream in(state.data(), state.length());
  restored.restoreState(in);
  EXPECT_TRUE(in.atEnd());
  EXPECT_EQ(restored.pos(), 4);
  restored.setRewindable(false);
  try {
    for (;;) {
      restored.check(true, 1);
      got += str(restored.getPtr(), restored.nUnread());
      restored.advance(restored.nUnread());
    }
  } catch (const rdr::EndOfStream&) {
  }
  EXPECT_EQ(toHex(got), toHex(c.plain[0] + c.plain[1] + c.plain[2]));
}

TEST(AesGcmStateTest, BadStatesAreRefused) {
  rdr::MemOutStream out;
  crypto::AesGcmOutStream writer(&out, 0);
  writer.setKey(buf(std::string(16, 'k')), buf(std::string(12, 'n')));
  writer.writeBytes("pending", 7);
  rdr::MemOutStream writerState;
  writer.saveState(writerState);
  const std::string ws = str(writerState);

  std::string shortMax = ws;
  shortMax.replace(0, 4, std::string("\0\0\0\5", 4));  // maximum 5, 7 pending
  std::string noKind = ws;
  noKind[noKind.size() - 324 - 1] = 0x7F;  // the cipher kind: not AES-ECB

  rdr::MemInStream wire("", 0);
  crypto::AesGcmInStream reader(&wire, 0);
  rdr::MemOutStream readerState;
  reader.saveState(readerState);
  std::string rs = str(readerState);
  std::string farEnd = rs;
  // The readable end (after four u32, two u8 and two offsets) at 65536.
  farEnd.replace(4 * 4 + 2 + 8, 4, std::string("\0\1\0\0", 4));

  struct Case {
    const char* what;
    bool isReader;
    std::string state;
    const char* failure;
  };
  const Case cases[] = {
      {"writer payload beyond its maximum", false, shortMax, "TaggedOutStream: plainLen exceeds bufSize"},
      {"writer cipher kind", false, noKind, "AES-GCM: bad saved cipher state"},
      {"reader end beyond the buffer", true, farEnd, "TaggedInStream::serializePtrIn: ptr exceeds bufSize"},
      {"truncated", true, rs.substr(0, 30), "End of IO stream"},
  };
  for (const Case& c : cases) {
    rdr::MemInStream in(c.state.data(), static_cast<int32_t>(c.state.size()));
    rdr::MemOutStream sink;
    crypto::AesGcmOutStream w(&sink, 0);
    crypto::AesGcmInStream r(&wire, 0);
    EXPECT_EQ(failureOf<plat::Exception>([&] {
                if (c.isReader) {
                  r.restoreState(in);
                } else {
                  w.restoreState(in);
                }
              }),
              c.failure)
        << c.what;
  }
}

}  // namespace
