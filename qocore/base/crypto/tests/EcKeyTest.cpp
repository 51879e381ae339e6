#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "qocore/base/crypto/EcKey.h"
#include "qocore/base/crypto/MbedTlsException.h"
#include "qocore/base/crypto/tests/CryptoTestUtil.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "testing/FailureOf.h"

namespace {

using crypto_test::ChunkedInStream;
using crypto_test::fromHex;
using crypto_test::toHex;
using yarl_test::formattedFailureOf;

const std::string& vec(const std::string& name) {
  static const auto v = crypto_test::loadVectors("ec_vectors.txt");
  auto it = v.find(name);
  if (it == v.end()) throw std::runtime_error("no vector " + name);
  return it->second;
}

struct CurveCase {
  uint32_t curve;
  const char* name;
  uint32_t shaLen;
  size_t publicSize;  // of the stream encoding
};
// clang-format off
const CurveCase kCurves[] = {
    {crypto::Curve25519, "Curve25519", 0, 1 + 32},
    {crypto::Curve448, "Curve448", 0, 1 + 56},
    {crypto::P224, "P224", 224, 4 + 1 + 57},
    {crypto::P256, "P256", 256, 4 + 1 + 65},
    {crypto::P384, "P384", 384, 4 + 1 + 97},
    {crypto::P521, "P521", 512, 4 + 1 + 133},
};
// clang-format on

std::string written(rdr::MemOutStream& out) {
  return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(out.length()));
}

std::string publicOf(const crypto::EcKey& key) {
  rdr::MemOutStream out;
  key.writePublic(out);
  return written(out);
}
std::string privateOf(const crypto::EcKey& key) {
  rdr::MemOutStream out;
  key.writePrivate(out);
  return written(out);
}
// A private value record: u16 length and d.
std::string privateRecord(const std::string& d) {
  return std::string(1, static_cast<char>(d.size() >> 8)) + static_cast<char>(d.size()) + d;
}
// The prime-curve public record of an uncompressed point.
std::string publicRecord(const std::string& point) {
  return fromHex("fffecd5a") + static_cast<char>(point.size()) + point;
}

void setPublic(crypto::EcKey& key, const std::string& bytes, plat::Buffer* raw = nullptr) {
  rdr::MemInStream in(bytes.data(), static_cast<int32_t>(bytes.size()));
  key.setPublic(in, raw);
  EXPECT_TRUE(in.atEnd());
}
void setPrivate(crypto::EcKey& key, const std::string& bytes) {
  rdr::MemInStream in(bytes.data(), static_cast<int32_t>(bytes.size()));
  key.setPrivate(in);
  EXPECT_TRUE(in.atEnd());
}

// RFC 7748's decoding of a scalar, as a big-endian private value.
std::string clampedScalar(std::string le, uint32_t curve) {
  if (curve == crypto::Curve25519) {
    le[0] = static_cast<char>(le[0] & 248);
    le[31] = static_cast<char>((le[31] & 127) | 64);
  } else {
    le[0] = static_cast<char>(le[0] & 252);
    le[55] = static_cast<char>(le[55] | 128);
  }
  return std::string(le.rbegin(), le.rend());
}

TEST(EcKeyTest, EveryKeyKindRoundTripsThroughItsStreamFormat) {
  for (const CurveCase& c : kCurves) {
    SCOPED_TRACE(c.name);
    crypto::EcKey key;
    key.create(c.curve);
    EXPECT_EQ(key.curve(), c.curve);
    EXPECT_EQ(std::string(key.description().get()), std::string("EC key with curve ") + c.name);
    key.generate();
    const std::string pub = publicOf(key);
    const std::string priv = privateOf(key);
    EXPECT_EQ(pub.size(), c.publicSize);

    // Whole, and one byte at a time from a stream that delivers no more.
    for (int chunk : {1 << 20, 1}) {
      crypto::EcKey back;
      back.create(c.curve);
      ChunkedInStream pubIn(pub, chunk, ChunkedInStream::Ending::kEndOfStream);
      back.setPublic(pubIn);
      EXPECT_TRUE(back.publicEquals(key));
      EXPECT_EQ(publicOf(back), pub);

      crypto::EcKey fromPrivate;
      fromPrivate.create(c.curve);
      ChunkedInStream privIn(priv, chunk, ChunkedInStream::Ending::kEndOfStream);
      fromPrivate.setPrivate(privIn);
      EXPECT_TRUE(fromPrivate.publicEquals(key));
      EXPECT_EQ(privateOf(fromPrivate), priv);
    }
  }
}

TEST(EcKeyTest, PrivateValuesGiveTheOraclesPublicPoints) {
  for (const CurveCase& c : kCurves) {
    if (c.shaLen == 0) continue;
    SCOPED_TRACE(c.name);
    crypto::EcKey key;
    key.create(c.curve);
    setPrivate(key, privateRecord(vec(std::string(c.name) + "_d")));
    rdr::MemOutStream point;
    key.writePoint(point);
    EXPECT_EQ(toHex(written(point)), toHex(vec(std::string(c.name) + "_point")));
    EXPECT_EQ(toHex(publicOf(key)), toHex(publicRecord(vec(std::string(c.name) + "_point"))));
  }
}

TEST(EcKeyTest, MalformedPublicValuesAreRefusedAndLeaveNoKey) {
  std::string offCurve = vec("P256_point");
  offCurve[40] ^= 1;
  struct Case {
    uint32_t curve;
    std::string bytes;
    const char* failure;
  };
  const Case cases[] = {
      {crypto::Curve25519, std::string(1, 56) + std::string(56, 9), "Bad length"},
      {crypto::Curve448, std::string(1, 32) + std::string(32, 9), "Bad length"},
      {crypto::P256, fromHex("fffecd5b") + static_cast<char>(65) + vec("P256_point"), "Invalid public key"},
      {crypto::P256, fromHex("fffecd5a") + static_cast<char>(64) + vec("P256_point").substr(1), "Invalid public key"},
      {crypto::P384, publicRecord(vec("P256_point")), "Invalid public key"},
      {crypto::P256, publicRecord(offCurve), "[MbedTls] Invalid public key: ECP - Invalid private or public key"},
      {crypto::P256, publicRecord(std::string(1, '\0')),
       "[MbedTls] Invalid public key: ECP - Invalid private or public key"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(toHex(c.bytes.substr(0, 8)));
    crypto::EcKey key, empty;
    key.create(c.curve);
    empty.create(c.curve);
    key.generate();
    EXPECT_EQ(formattedFailureOf<plat::Exception>([&] { setPublic(key, c.bytes); }), c.failure);
    EXPECT_TRUE(key.publicEquals(empty));
    EXPECT_EQ(toHex(privateOf(key)), "0000");
  }
}

TEST(EcKeyTest, MalformedPrivateValuesAreRefused) {
  struct Case {
    uint32_t curve;
    std::string bytes;
    const char* failure;
  };
  const Case cases[] = {
      {crypto::P521, privateRecord(std::string(67, 1)), "Invalid private key"},
      {crypto::P256, privateRecord(std::string(32, '\0')),
       "[MbedTls] Invalid private key: ECP - Invalid private or public key"},
      {crypto::P256, privateRecord(std::string(32, '\xff')),
       "[MbedTls] Invalid private key: ECP - Invalid private or public key"},
      // A Curve25519 scalar that is not clamped.
      {crypto::Curve25519, privateRecord(std::string(32, 7)),
       "[MbedTls] Invalid private key: ECP - Invalid private or public key"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failure);
    crypto::EcKey key, empty;
    key.create(c.curve);
    empty.create(c.curve);
    key.generate();
    EXPECT_EQ(formattedFailureOf<plat::Exception>([&] { setPrivate(key, c.bytes); }), c.failure);
    EXPECT_TRUE(key.publicEquals(empty));
  }
}

// ---- ECDSA ----

TEST(EcdsaTest, OracleSignaturesVerifyAndChangedOnesDoNot) {
  const std::string& m = vec("message");
  for (const CurveCase& c : kCurves) {
    if (c.shaLen == 0) continue;
    SCOPED_TRACE(c.name);
    crypto::EcKey key;
    key.create(c.curve);
    setPublic(key, publicRecord(vec(std::string(c.name) + "_point")));
    std::string sig = vec(std::string(c.name) + "_sig" + std::to_string(c.shaLen));
    std::string block = std::string(1, static_cast<char>(sig.size() >> 8)) + static_cast<char>(sig.size()) + sig;
    rdr::MemInStream in(block.data(), static_cast<int32_t>(block.size()));
    EXPECT_EQ(formattedFailureOf<plat::Exception>([&] { key.verify(in, m.size(), m.data(), c.shaLen); }),
              "(nothing thrown)");
    EXPECT_TRUE(in.atEnd());
    block[5] ^= 1;
    rdr::MemInStream changed(block.data(), static_cast<int32_t>(block.size()));
    EXPECT_EQ(formattedFailureOf<plat::Exception>([&] { key.verify(changed, m.size(), m.data(), c.shaLen); }),
              "[MbedTls] Invalid signature: ECP - The signature is not valid");
  }
}

TEST(EcdsaTest, SignaturesAreRfc6979WithSha256) {
  crypto::EcKey key;
  key.create(crypto::P256);
  setPrivate(key, privateRecord(fromHex("c9afa9d845ba75166b5c215767b1d6934e50c3db36e89b127b8a622b120f6721")));
  rdr::MemOutStream point;
  key.writePoint(point);
  EXPECT_EQ(toHex(written(point)), toHex(vec("rfc6979_point")));
  for (const char* msg : {"sample", "test"}) {
    rdr::MemOutStream out;
    key.sign(out, strlen(msg), msg, 256);
    EXPECT_EQ(toHex(written(out)), "0040" + toHex(vec(std::string("rfc6979_") + msg)));
  }
}

TEST(EcdsaTest, OurSignaturesVerifyHereAndWithTheOracle) {
  const std::string& m = vec("message");
  std::vector<std::string> requests;
  for (const CurveCase& c : kCurves) {
    if (c.shaLen == 0) continue;
    SCOPED_TRACE(c.name);
    crypto::EcKey key;
    key.create(c.curve);
    key.generate();
    for (uint32_t shaLen : {224u, 256u, 384u, 512u}) {
      rdr::MemOutStream out;
      key.sign(out, m.size(), m.data(), shaLen);
      const std::string block = written(out);
      ChunkedInStream in(block, 1, ChunkedInStream::Ending::kEndOfStream);
      EXPECT_EQ(formattedFailureOf<plat::Exception>([&] { key.verify(in, m.size(), m.data(), shaLen); }),
                "(nothing thrown)");
      rdr::MemOutStream point;
      key.writePoint(point);
      requests.push_back(std::string("ecdsa ") + c.name + " " + toHex(written(point)) + " " + toHex(m) + " " +
                         toHex(block.substr(2)) + " " + std::to_string(shaLen));
    }
  }
  EXPECT_EQ(crypto_test::askOracle(requests), std::vector<std::string>(requests.size(), "ok"));
}

TEST(EcdsaTest, BothHalvesTakeTheLargerSize) {
  // Find a message whose r has a leading zero byte and whose s has none.
  crypto::EcKey key;
  key.create(crypto::P256);
  key.generate();
  bool found = false;
  for (int i = 0; i < 5000 && !found; ++i) {
    const std::string msg = "message " + std::to_string(i);
    rdr::MemOutStream out;
    key.sign(out, msg.size(), msg.data(), 256);
    const std::string block = written(out);
    ASSERT_EQ(block.size(), 66u);
    if (block[2] != 0 || block[34] == 0) continue;
    found = true;
    EXPECT_EQ(toHex(block.substr(0, 2)), "0040");
    rdr::MemInStream in(block.data(), static_cast<int32_t>(block.size()));
    EXPECT_EQ(formattedFailureOf<plat::Exception>([&] { key.verify(in, msg.size(), msg.data(), 256); }),
              "(nothing thrown)");
  }
  EXPECT_TRUE(found);
}

TEST(EcdsaTest, MalformedSignatureLengthsAreRefused) {
  crypto::EcKey key;
  key.create(crypto::P256);
  key.generate();
  for (const char* block : {"0000", "00410102", "0042"}) {
    SCOPED_TRACE(block);
    const std::string bytes = fromHex(block) + std::string(66, 1);
    rdr::MemInStream in(bytes.data(), static_cast<int32_t>(bytes.size()));
    EXPECT_EQ(formattedFailureOf<plat::Exception>([&] { key.verify(in, 0, nullptr, 256); }),
              "Invalid signature length");
    EXPECT_EQ(in.pos(), 2);
  }
}

TEST(EcKeyTest, OperationsOnTheWrongKindOfCurveAreRefused) {
  crypto::EcKey x25519, x25519Peer, p256, p384, p384Peer;
  for (auto [key, curve] : {std::pair{&x25519, crypto::Curve25519},
                            {&x25519Peer, crypto::Curve25519},
                            {&p256, crypto::P256},
                            {&p384, crypto::P384},
                            {&p384Peer, crypto::P384}}) {
    key->create(curve);
    key->generate();
  }
  rdr::MemOutStream out;
  plat::Buffer secret;
  const std::string sig = fromHex("0040") + std::string(64, 1);
  rdr::MemInStream in(sig.data(), static_cast<int32_t>(sig.size()));
  const std::string notSupported = "Operation not supported for key type";
  EXPECT_EQ(formattedFailureOf<plat::Exception>([&] { x25519.sign(out, 1, "x", 256); }), notSupported);
  EXPECT_EQ(formattedFailureOf<plat::Exception>([&] { x25519.verify(in, 1, "x", 256); }), notSupported);
  EXPECT_EQ(formattedFailureOf<plat::Exception>([&] { p384.sharedSecret(p384Peer, secret); }), notSupported);
  EXPECT_EQ(formattedFailureOf<plat::Exception>([&] { p256.sharedSecret(p256, secret); }), notSupported);
  EXPECT_EQ(out.length(), 0);

  // Keys on different curves: an assertion, thrown.
  for (auto op : {+[](crypto::EcKey&a, crypto::EcKey&b) {
                    plat::Buffer s;
                    a.sharedSecret(b, s);
                  },
                  +[](crypto::EcKey&a, crypto::EcKey&b) { a.copyPublic(b); }}) {
    try {
      op(x25519, p256);
      ADD_FAILURE() << "no assertion";
    } catch (const plat::AssertionFail& e) {
      EXPECT_TRUE(std::string(e.expression()) == "peerKey.impl->curve == impl->curve" ||
                  std::string(e.expression()) == "pubKey->impl->curve == impl->curve")
          << e.expression();
    }
  }
  crypto::EcKey copy;
  copy.create(crypto::P384);
  copy.copyPublic(p384);
  EXPECT_TRUE(copy.publicEquals(p384));
  EXPECT_FALSE(copy.publicEquals(p384Peer));
}

// ---- X25519 and X448 ----

TEST(EcdhTest, Rfc7748AndOracleAgreements) {
  for (auto [curve, name] : {std::pair{crypto::Curve25519, "x25519"}, {crypto::Curve448, "x448"}}) {
    SCOPED_TRACE(name);
    const std::string n = name;
    const char size = static_cast<char>(curve == crypto::Curve25519 ? 32 : 56);
    struct Pair {
      std::string priv, peerPublic, shared;
    };
    std::vector<Pair> pairs = {{vec(n + "_a"), vec(n + "_bpub"), vec(n + "_shared")},
                               {vec(n + "_b"), vec(n + "_apub"), vec(n + "_shared")}};
    for (int i = 0; i < 3; ++i) {
      const std::string r = n + "_r" + std::to_string(i);
      pairs.push_back({vec(r + "_a"), vec(r + "_bpub"), vec(r + "_shared")});
    }
    for (const Pair& p : pairs) {
      crypto::EcKey mine, peer;
      mine.create(curve);
      peer.create(curve);
      setPrivate(mine, privateRecord(clampedScalar(p.priv, curve)));
      plat::Buffer raw;
      setPublic(peer, size + p.peerPublic, &raw);
      EXPECT_EQ(toHex(raw), toHex(size + p.peerPublic));
      EXPECT_EQ(toHex(publicOf(peer)), toHex(size + p.peerPublic));
      plat::Buffer secret;
      mine.sharedSecret(peer, secret);
      EXPECT_EQ(toHex(secret), toHex(p.shared));
    }
    // The RFC's public keys follow from its private ones.
    crypto::EcKey alice;
    alice.create(curve);
    setPrivate(alice, privateRecord(clampedScalar(vec(n + "_a"), curve)));
    EXPECT_EQ(toHex(publicOf(alice)), toHex(size + vec(n + "_apub")));
  }
}

TEST(EcdhTest, PublicValuesKeepEveryBitAndLowOrderPointsAreRefused) {
  crypto::EcKey mine, peer;
  mine.create(crypto::Curve25519);
  peer.create(crypto::Curve25519);
  mine.generate();
  // The top bit, which X25519 itself would mask, is kept as given.
  std::string value = vec("x25519_bpub");
  value[31] = static_cast<char>(value[31] | 0x80);
  setPublic(peer, std::string(1, 32) + value);
  EXPECT_EQ(toHex(publicOf(peer)), "20" + toHex(value));

  plat::Buffer secret;
  for (const std::string& lowOrder : {std::string(32, '\0'), std::string(1, 1) + std::string(31, '\0')}) {
    setPublic(peer, std::string(1, 32) + lowOrder);
    EXPECT_EQ(formattedFailureOf<plat::Exception>([&] {
                mine.sharedSecret(peer, secret);
              }).rfind("[MbedTls] Error generating secret key: ", 0),
              0u);
  }
}

TEST(EcKeyTest, SeedDerivationIsFixedAndClamped) {
  struct Case {
    const char* seed;
    bool flag;
    const char* d;  // big-endian
  };
  // clang-format off
  const Case cases[] = {
      // With the flag: shifted right one bit, bit 254 set, bits 0-2 clear.
      {"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef", true,
       "4091a2b3c4d5e6f78091a2b3c4d5e6f78091a2b3c4d5e6f78091a2b3c4d5e6f0"},
      // Without it, a seed with bit 255 set is shifted right one bit...
      {"f123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef", false,
       "7891a2b3c4d5e6f78091a2b3c4d5e6f78091a2b3c4d5e6f78091a2b3c4d5e6f0"},
      // ...and a smaller one only gains bit 254.
      {"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef", false,
       "4123456789abcdef0123456789abcdef0123456789abcdef0123456789abcde8"},
  };
  // clang-format on
  std::vector<std::string> requests;
  std::vector<std::string> publics;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seed);
    const std::string seedBytes = fromHex(c.seed);
    const plat::Buffer seed(reinterpret_cast<const uint8_t*>(seedBytes.data()), 32);
    crypto::EcKey a, b;
    a.create(crypto::Curve25519);
    b.create(crypto::Curve25519);
    a.setFromNcwSeed(seed, c.flag);
    b.setFromNcwSeed(seed, c.flag);
    EXPECT_TRUE(a.publicEquals(b));
    EXPECT_EQ(toHex(privateOf(a)), std::string("0020") + c.d);
    // The oracle derives the same public value from d.
    const std::string d = fromHex(c.d);
    requests.push_back("x25519-public " + toHex(std::string(d.rbegin(), d.rend())));
    publics.push_back(toHex(publicOf(a).substr(1)));
  }
  EXPECT_EQ(crypto_test::askOracle(requests), publics);
}

}  // namespace
