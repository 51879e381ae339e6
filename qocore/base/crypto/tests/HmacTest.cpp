#include <gtest/gtest.h>

#include <string>

#include "qocore/base/crypto/Hmac.h"
#include "qocore/base/crypto/Sha.h"
#include "qocore/base/crypto/tests/CryptoTestUtil.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/MemOutStream.h"

namespace {

using crypto_test::toHex;

std::string mac(uint32_t bits, const std::string& key, const std::string& data) {
  crypto::Hmac hmac(bits, key.data(), key.size());
  hmac.update(data.data(), data.size());
  unsigned char out[crypto::Sha::kMaxDigestSize];
  hmac.final(out, sizeof out);
  return toHex(out, bits / 8);
}

std::string bytes(size_t n, int value) { return std::string(n, static_cast<char>(value)); }
std::string counting(int from, int to) {
  std::string s;
  for (int i = from; i <= to; ++i) s += static_cast<char>(i);
  return s;
}

struct Vector {
  uint32_t bits;
  std::string key;
  std::string data;
  const char* mac;
};

const std::string kLongKeyData = "Test Using Larger Than Block-Size Key - Hash Key First";
const std::string kLongData =
    "This is a test using a larger than block-size key and a larger than block-size data. The key needs to be "
    "hashed before being used by the HMAC algorithm.";

// RFC 4231 (SHA-224 to SHA-512; its truncation case left out) and RFC 2202
// (SHA-1).  The 131- and 80-byte keys are longer than a block.
const Vector kVectors[] = {
    {224, bytes(20, 0x0b), "Hi There", "896fb1128abbdf196832107cd49df33f47b4b1169912ba4f53684b22"},
    {256, bytes(20, 0x0b), "Hi There", "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
    {384, bytes(20, 0x0b), "Hi There",
     "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6"},
    {512, bytes(20, 0x0b), "Hi There",
     "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f1"
     "702e696c203a126854"},
    {224, "Jefe", "what do ya want for nothing?", "a30e01098bc6dbbf45690f3a7e9e6d0f8bbea2a39e6148008fd05e44"},
    {256, "Jefe", "what do ya want for nothing?", "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
    {384, "Jefe", "what do ya want for nothing?",
     "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e8e2240ca5e69e2c78b3239ecfab21649"},
    {512, "Jefe", "what do ya want for nothing?",
     "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6b"
     "4b636e070a38bce737"},
    {224, bytes(20, 0xaa), bytes(50, 0xdd), "7fb3cb3588c6c1f6ffa9694d7d6ad2649365b0c1f65d69d1ec8333ea"},
    {256, bytes(20, 0xaa), bytes(50, 0xdd), "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
    {384, bytes(20, 0xaa), bytes(50, 0xdd),
     "88062608d3e6ad8a0aa2ace014c8a86f0aa635d947ac9febe83ef4e55966144b2a5ab39dc13814b94e3ab6e101a34f27"},
    {512, bytes(20, 0xaa), bytes(50, 0xdd),
     "fa73b0089d56a284efb0f0756c890be9b1b5dbdd8ee81a3655f83e33b2279d39bf3e848279a722c806b485a47e67c807b946a337bee894"
     "2674278859e13292fb"},
    {224, counting(1, 25), bytes(50, 0xcd), "6c11506874013cac6a2abc1bb382627cec6a90d86efc012de7afec5a"},
    {256, counting(1, 25), bytes(50, 0xcd), "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
    {384, counting(1, 25), bytes(50, 0xcd),
     "3e8a69b7783c25851933ab6290af6ca77a9981480850009cc5577c6e1f573b4e6801dd23c4a7d679ccf8a386c674cffb"},
    {512, counting(1, 25), bytes(50, 0xcd),
     "b0ba465637458c6990e5a8c5f61d4af7e576d97ff94b872de76f8050361ee3dba91ca5c11aa25eb4d679275cc5788063a5f19741120c4f"
     "2de2adebeb10a298dd"},
    {224, bytes(131, 0xaa), kLongKeyData, "95e9a0db962095adaebe9b2d6f0dbce2d499f112f2d2b7273fa6870e"},
    {256, bytes(131, 0xaa), kLongKeyData, "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
    {384, bytes(131, 0xaa), kLongKeyData,
     "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952"},
    {512, bytes(131, 0xaa), kLongKeyData,
     "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0a"
     "ec8b915a985d786598"},
    {224, bytes(131, 0xaa), kLongData, "3a854166ac5d9f023f54d517d0b39dbd946770db9c2b95c9f6f565d1"},
    {256, bytes(131, 0xaa), kLongData, "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    {384, bytes(131, 0xaa), kLongData,
     "6617178e941f020d351e2f254e8fd32c602420feb0b8fb9adccebb82461e99c5a678cc31e799176d3860e6110c46523e"},
    {512, bytes(131, 0xaa), kLongData,
     "e37b6a775dc87dbaa4dfa9f96e5e3ffddebd71f8867289865df5a32d20cdc944b6022cac3c4982b10d5eeb55c3e4de15134676fb6de044"
     "6065c97440fa8c6a58"},
    {160, bytes(20, 0x0b), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
    {160, "Jefe", "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
    {160, bytes(20, 0xaa), bytes(50, 0xdd), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
    {160, counting(1, 25), bytes(50, 0xcd), "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
    {160, bytes(80, 0xaa), kLongKeyData, "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
    {160, bytes(80, 0xaa), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
     "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
};

TEST(HmacTest, KnownMacs) {
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(testing::Message() << v.bits << " bits, key of " << v.key.size());
    EXPECT_EQ(mac(v.bits, v.key, v.data), v.mac);
  }
}

// One object, one key, many messages: reset() after each final(), and the
// data may come in any pieces.
TEST(HmacTest, ResetServesTheNextMessageWithTheSameKey) {
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(testing::Message() << v.bits << " bits, key of " << v.key.size());
    crypto::Hmac hmac(v.bits);
    hmac.setKey(plat::Buffer(reinterpret_cast<const unsigned char*>(v.key.data()), static_cast<int>(v.key.size())));
    unsigned char out[crypto::Sha::kMaxDigestSize];
    hmac.update("other message", 13);
    hmac.final(out, sizeof out);
    hmac.reset();
    for (size_t i = 0; i < v.data.size(); i += 7)
      hmac.update(v.data.data() + i, std::min<size_t>(7, v.data.size() - i));
    hmac.final(out, sizeof out);
    EXPECT_EQ(toHex(out, v.bits / 8), v.mac);
  }
}

// A key longer than the block is replaced by its digest; a key of exactly
// one block is used as it is.
TEST(HmacTest, KeysLongerThanABlockAreHashedFirst) {
  struct Case {
    uint32_t bits;
    size_t keyLen;
    bool hashed;
  };
  const Case cases[] = {
      {160, 64, false},  {160, 65, true},  {256, 64, false},  {256, 65, true},
      {384, 128, false}, {384, 129, true}, {512, 128, false}, {512, 129, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits, key of " << c.keyLen);
    std::string key = counting(1, static_cast<int>(c.keyLen));
    plat::Buffer keyDigest;
    crypto::digestOneShot(c.bits, key.size(), key.data(), keyDigest, true);
    std::string hashedKey(reinterpret_cast<const char*>(keyDigest.data()), keyDigest.count());
    const std::string data = "message";
    EXPECT_EQ(mac(c.bits, key, data) == mac(c.bits, hashedKey, data), c.hashed);
  }
}

TEST(HmacTest, SavedStateContinuesTheSameMac) {
  for (uint32_t bits : {160u, 224u, 256u, 384u, 512u}) {
    SCOPED_TRACE(bits);
    const std::string key = "secret key";
    crypto::Hmac first(bits, key.data(), key.size());
    first.update(kLongData.data(), 40);
    rdr::MemOutStream saved;
    first.saveState(saved);

    // Unkeyed: everything comes from the saved state.
    crypto::Hmac second(bits);
    rdr::MemInStream in(saved.data(), saved.length());
    second.restoreState(in);
    EXPECT_EQ(in.nUnread(), 0);
    second.update(kLongData.data() + 40, kLongData.size() - 40);
    unsigned char out[crypto::Sha::kMaxDigestSize];
    second.final(out, sizeof out);
    EXPECT_EQ(toHex(out, bits / 8), mac(bits, key, kLongData));

    // The pads came along too: the next message needs no key.
    second.reset();
    second.update("Jefe", 4);
    second.final(out, sizeof out);
    EXPECT_EQ(toHex(out, bits / 8), mac(bits, key, "Jefe"));
  }
}

}  // namespace
