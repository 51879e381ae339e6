#include <gtest/gtest.h>
#include <mbedtls/des.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "qocore/base/crypto/Des.h"

namespace crypto {
namespace {

using Block = std::array<uint8_t, 8>;

Block fromHex(const char* hex) {
  Block b{};
  for (int i = 0; i < 8; ++i) {
    unsigned v = 0;
    std::sscanf(hex + 2 * i, "%2x", &v);
    b[i] = static_cast<uint8_t>(v);
  }
  return b;
}

std::string toHex(const Block& b) {
  char text[17];
  for (int i = 0; i < 8; ++i) std::snprintf(text + 2 * i, 3, "%02X", b[i]);
  return text;
}

Block encrypt(const Block& key, const Block& plain) {
  Des::Schedule schedule;
  Des::setEncryptKey(schedule, key.data());
  Block out{};
  Des::processBlock(schedule, plain.data(), out.data());
  return out;
}

Block decrypt(const Block& key, const Block& cipher) {
  Des::Schedule schedule;
  Des::setDecryptKey(schedule, key.data());
  Block out{};
  Des::processBlock(schedule, cipher.data(), out.data());
  return out;
}

TEST(DesTest, KnownAnswers) {
  const struct {
    const char* key;
    const char* plain;
    const char* cipher;
  } cases[] = {
      // The textbook worked example (key 133457799BBCDFF1) with the bits of
      // each key byte reversed.
      {"C82CEA9ED93DFB8F", "0123456789ABCDEF", "85E813540F0AB405"},
      // Bit-palindromic keys: the standard vectors hold unchanged.
      {"0000000000000000", "0000000000000000", "8CA64DE9C1B123A7"},
      {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "7359B2163E4EDC58"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(toHex(encrypt(fromHex(c.key), fromHex(c.plain))), c.cipher);
    EXPECT_EQ(toHex(decrypt(fromHex(c.key), fromHex(c.cipher))), c.plain);
  }
}

TEST(DesTest, ParityBitsAreTheTopBitsOfTheKeyBytes) {
  const Block key = fromHex("C82CEA9ED93DFB8F");
  const Block plain = fromHex("0123456789ABCDEF");
  const Block reference = encrypt(key, plain);
  const struct {
    int byte;
    uint8_t flip;
    bool same;
  } cases[] = {
      {0, 0x80, true},  {3, 0x80, true},  {7, 0x80, true},   // ignored
      {0, 0x01, false}, {3, 0x01, false}, {7, 0x01, false},  // used
      {5, 0x40, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "byte " << c.byte << " bit " << int(c.flip));
    Block changed = key;
    changed[c.byte] ^= c.flip;
    EXPECT_EQ(encrypt(changed, plain) == reference, c.same);
  }
}

// The first and last round subkeys of the worked example, each as its two
// words: S-box groups 1, 3, 5, 7 and then 2, 4, 6, 8, one per byte.
TEST(DesTest, ScheduleLayout) {
  const Block key = fromHex("C82CEA9ED93DFB8F");
  const uint64_t k1[2] = {0x060B3F01, 0x302F0732};
  const uint64_t k16[2] = {0x3236031F, 0x330B2135};

  Des::Schedule enc;
  Des::setEncryptKey(enc, key.data());
  EXPECT_EQ(enc.words[0], k1[0]);
  EXPECT_EQ(enc.words[1], k1[1]);
  EXPECT_EQ(enc.words[30], k16[0]);
  EXPECT_EQ(enc.words[31], k16[1]);

  Des::Schedule dec;
  Des::setDecryptKey(dec, key.data());
  for (int slot = 0; slot < 16; ++slot) {
    SCOPED_TRACE(slot);
    EXPECT_EQ(dec.words[2 * slot], enc.words[2 * (15 - slot)]);
    EXPECT_EQ(dec.words[2 * slot + 1], enc.words[2 * (15 - slot) + 1]);
  }
  for (uint64_t word : enc.words) EXPECT_EQ(word & ~uint64_t(0x3F3F3F3F), 0u);

  Des::clear(enc);
  for (uint64_t word : enc.words) EXPECT_EQ(word, 0u);
}

TEST(DesTest, DecryptRestoresAndWorksInPlace) {
  std::mt19937 rng(20240611);
  for (int i = 0; i < 200; ++i) {
    Block key{}, plain{};
    for (auto& b : key) b = static_cast<uint8_t>(rng());
    for (auto& b : plain) b = static_cast<uint8_t>(rng());
    SCOPED_TRACE(toHex(key) + " " + toHex(plain));

    Block cipher = encrypt(key, plain);
    EXPECT_NE(cipher, plain);
    EXPECT_EQ(decrypt(key, cipher), plain);

    Des::Schedule schedule;
    Des::setEncryptKey(schedule, key.data());
    Block inPlace = plain;
    Des::processBlock(schedule, inPlace.data(), inPlace.data());
    EXPECT_EQ(inPlace, cipher);
  }
}

TEST(DesTest, SavedScheduleLoadsIntoAnotherBuffer) {
  const Block key = fromHex("4DBEA945487E0A69");
  const Block plain = fromHex("0011223344556677");
  for (int direction : {Des::kEncrypt, Des::kDecrypt}) {
    SCOPED_TRACE(direction);
    Des::Schedule original;
    if (direction == Des::kEncrypt)
      Des::setEncryptKey(original, key.data());
    else
      Des::setDecryptKey(original, key.data());
    uint8_t copy[Des::kScheduleSize];
    Des::saveSchedule(original, copy);
    Des::Schedule loaded;
    Des::loadSchedule(loaded, copy);
    EXPECT_EQ(std::memcmp(loaded.words, original.words, Des::kScheduleSize), 0);

    Block a{}, b{};
    Des::processBlock(original, plain.data(), a.data());
    Des::processBlock(loaded, plain.data(), b.data());
    EXPECT_EQ(a, b);
  }
}

// Standard DES from the TLS library, as the reference.
Block referenceDes(const Block& key, const Block& in, bool decrypt) {
  mbedtls_des_context ctx;
  mbedtls_des_init(&ctx);
  if (decrypt)
    mbedtls_des_setkey_dec(&ctx, key.data());
  else
    mbedtls_des_setkey_enc(&ctx, key.data());
  Block out{};
  EXPECT_EQ(mbedtls_des_crypt_ecb(&ctx, in.data(), out.data()), 0);
  mbedtls_des_free(&ctx);
  return out;
}

Block reverseBitsOfEachByte(Block key) {
  for (auto& b : key) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r << 1 | (b >> i & 1));
    b = r;
  }
  return key;
}

TEST(DesTest, BitPalindromicKeysMatchStandardDes) {
  const char* keys[] = {"0000000000000000", "FFFFFFFFFFFFFFFF", "8181818181818181", "18243C42665A7EA5"};
  const Block plain = fromHex("0123456789ABCDEF");
  for (const char* hexKey : keys) {
    SCOPED_TRACE(hexKey);
    Block key = fromHex(hexKey);
    ASSERT_EQ(reverseBitsOfEachByte(key), key);
    EXPECT_EQ(toHex(encrypt(key, plain)), toHex(referenceDes(key, plain, false)));
  }
}

TEST(DesTest, MatchesStandardDesWithBitReversedKeys) {
  std::mt19937 rng(7);
  for (int i = 0; i < 1000; ++i) {
    Block key{}, in{};
    for (auto& b : key) b = static_cast<uint8_t>(rng());
    for (auto& b : in) b = static_cast<uint8_t>(rng());
    SCOPED_TRACE(toHex(key) + " " + toHex(in));
    Block standardKey = reverseBitsOfEachByte(key);
    ASSERT_EQ(toHex(encrypt(key, in)), toHex(referenceDes(standardKey, in, false)));
    ASSERT_EQ(toHex(decrypt(key, in)), toHex(referenceDes(standardKey, in, true)));
  }
}

}  // namespace
}  // namespace crypto
