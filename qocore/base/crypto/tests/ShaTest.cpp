#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "qocore/base/crypto/Sha.h"
#include "qocore/base/crypto/tests/CryptoTestUtil.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/MemOutStream.h"

namespace {

using crypto_test::ChunkedInStream;
using crypto_test::toHex;
using testing::HasSubstr;

const std::string k448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string k896 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";

struct Vector {
  uint32_t bits;
  std::string message;
  const char* digest;
};

// FIPS 180 examples: the empty message, "abc", and the two-block message of
// each block size.
const Vector kVectors[] = {
    {160, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {160, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {160, k448, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {224, "", "d14a028c2a3a2bc9476102bb288234c415a2b01f828ea62ac5b3e42f"},
    {224, "abc", "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7"},
    {224, k448, "75388b16512776cc5dba5da1fd890150b0c6455cb4f58b1952522525"},
    {256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {256, k448, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {384, "", "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b"},
    {384, "abc", "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
    {384, k896, "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039"},
    {512, "",
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f"
     "63b931bd47417a81a538327af927da3e"},
    {512, "abc",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd"
     "454d4423643ce80e2a9ac94fa54ca49f"},
    {512, k896,
     "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433a"
     "c7d329eeb6dd26545e96e55b874be909"},
};

// The message fed in pieces of `piece` bytes.
std::string digestInPieces(uint32_t bits, const std::string& message, size_t piece) {
  crypto::Sha sha(bits, true);
  for (size_t i = 0; i < message.size(); i += piece)
    sha.update(std::min(piece, message.size() - i), message.data() + i);
  unsigned char out[crypto::Sha::kMaxDigestSize];
  sha.final(out, sizeof out);
  return toHex(out, bits / 8);
}

TEST(ShaTest, KnownDigestsByEveryRoute) {
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(testing::Message() << v.bits << " bits, " << v.message.size() << " bytes");
    plat::Buffer oneShot;
    crypto::digestOneShot(v.bits, v.message.size(), v.message.data(), oneShot, true);
    EXPECT_EQ(toHex(oneShot), v.digest);
    for (size_t piece : {1, 3, 55, 64, 65})
      EXPECT_EQ(digestInPieces(v.bits, v.message, piece), v.digest) << "pieces of " << piece;
    rdr::MemInStream in(v.message.data(), static_cast<int32_t>(v.message.size()));
    EXPECT_EQ(toHex(crypto::Sha::digestStream(v.bits, in, true)), v.digest);
  }
}

TEST(ShaTest, ResetStartsAnewAfterFinal) {
  crypto::Sha sha(256);
  unsigned char out[32];
  sha.update(5, "hello");
  sha.final(out, sizeof out);
  sha.reset();
  sha.update(3, "abc");
  sha.final(out, sizeof out);
  EXPECT_EQ(toHex(out, sizeof out), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(ShaTest, FinalWritesExactlyTheDigest) {
  crypto::Sha sha(256);
  unsigned char out[40];
  std::fill(std::begin(out), std::end(out), 0xEE);
  sha.update(3, "abc");
  sha.final(out, sizeof out);
  EXPECT_EQ(toHex(out, 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(toHex(out + 32, 8), "eeeeeeeeeeeeeeee");
}

// Saved part-way through a message, restored into another object, the
// digest carries on as if nothing happened.
TEST(ShaTest, SavedStateContinuesTheSameDigest) {
  struct Case {
    uint32_t bits;
    int32_t savedSize;  // counters, state words, pending block, flag
    int32_t counterSize;
    int flag;  // -1: none
  };
  const Case cases[] = {
      {160, 8 + 20 + 64, 8, -1},       {224, 8 + 32 + 64 + 1, 8, 1},    {256, 8 + 32 + 64 + 1, 8, 0},
      {384, 16 + 64 + 128 + 1, 16, 1}, {512, 16 + 64 + 128 + 1, 16, 0},
  };
  const size_t split = 70;  // a whole block and a bit, or part of one
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    crypto::Sha first(c.bits, true);
    first.update(split, k896.data());
    rdr::MemOutStream saved;
    first.saveState(saved);
    ASSERT_EQ(saved.length(), c.savedSize);
    // The counter leads, little-endian, counting bytes.
    std::string counter(c.counterSize, '\0');
    counter[0] = static_cast<char>(split);
    EXPECT_EQ(toHex(saved.data(), c.counterSize), toHex(counter));
    if (c.flag >= 0) {
      EXPECT_EQ(saved.data()[c.savedSize - 1], c.flag);
    }

    crypto::Sha second(c.bits, true);
    second.update(6, "ballast");
    rdr::MemInStream in(saved.data(), saved.length());
    second.restoreState(in);
    second.update(k896.size() - split, k896.data() + split);
    unsigned char out[crypto::Sha::kMaxDigestSize];
    second.final(out, sizeof out);
    EXPECT_EQ(toHex(out, c.bits / 8), digestInPieces(c.bits, k896, k896.size()));
  }
}

TEST(ShaTest, DigestStreamStopsAtTheEndOrWhenNothingMoreIsAvailable) {
  // Over several refills and more than one 4096-byte piece of a window.
  std::string data;
  for (int i = 0; i < 10000; ++i) data += static_cast<char>(i * 7);
  plat::Buffer whole, head;
  crypto::digestOneShot(512, data.size(), data.data(), whole);
  crypto::digestOneShot(512, 0, "", head);
  struct Case {
    int chunk;
    ChunkedInStream::Ending ending;
    std::string input;
  };
  const Case cases[] = {
      {6000, ChunkedInStream::Ending::kEndOfStream, data},
      {333, ChunkedInStream::Ending::kWouldBlock, data},
      {1, ChunkedInStream::Ending::kEndOfStream, ""},
      {1, ChunkedInStream::Ending::kWouldBlock, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.input.size() << " bytes in chunks of " << c.chunk);
    ChunkedInStream in(c.input, c.chunk, c.ending);
    plat::Buffer expected;
    crypto::digestOneShot(512, c.input.size(), c.input.data(), expected);
    EXPECT_EQ(toHex(crypto::Sha::digestStream(512, in)), toHex(expected));
  }
}

TEST(ShaTest, DigestStreamPassesOtherStreamFailuresOn) {
  ChunkedInStream in("some bytes first", 4, ChunkedInStream::Ending::kFailure);
  try {
    crypto::Sha::digestStream(256, in);
    ADD_FAILURE() << "no exception";
  } catch (const plat::Exception& e) {
    EXPECT_STREQ(e.str(), "connection reset");
  }
}

TEST(ShaDeathTest, MisuseFailsItsAssertion) {
  const char* kSizes =
      "Assertion '(digestBits == 160 && allowSha1ForLegacyCode) || digestBits == 224 || digestBits == 256 || "
      "digestBits == 384 || digestBits == 512' failed";
  EXPECT_EXIT(crypto::Sha(160), testing::KilledBySignal(SIGABRT), HasSubstr(kSizes));
  EXPECT_EXIT(crypto::Sha(0, true), testing::KilledBySignal(SIGABRT), HasSubstr(kSizes));
  EXPECT_EXIT(crypto::Sha(1024), testing::KilledBySignal(SIGABRT), HasSubstr(kSizes));
  EXPECT_EXIT(
      {
        plat::Buffer out;
        crypto::digestOneShot(160, 3, "abc", out);
      },
      testing::KilledBySignal(SIGABRT), HasSubstr(kSizes));
  EXPECT_EXIT(
      {
        crypto::Sha sha(256);
        unsigned char out[31];
        sha.final(out, sizeof out);
      },
      testing::KilledBySignal(SIGABRT), HasSubstr("Assertion 'bufSize >= digestBits/8' failed"));
  EXPECT_EXIT(
      {
        // A SHA-256 state is no SHA-224 state.
        crypto::Sha from(256);
        crypto::Sha into(224);
        rdr::MemOutStream saved;
        from.saveState(saved);
        rdr::MemInStream in(saved.data(), saved.length());
        into.restoreState(in);
      },
      testing::KilledBySignal(SIGABRT), HasSubstr("Assertion 'is224 == (digestBits_ == 224)' failed"));
}

}  // namespace
