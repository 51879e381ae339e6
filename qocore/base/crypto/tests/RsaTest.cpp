#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "qocore/base/crypto/BigNum.h"
#include "qocore/base/crypto/MbedTlsException.h"
#include "qocore/base/crypto/Rsa.h"
#include "qocore/base/crypto/tests/CryptoTestUtil.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/Timer.h"
#include "qocore/base/rdr/MemInStream.h"
#include "qocore/base/rdr/MemIoStream.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "testing/FailureOf.h"
#include "testing/LogCapture.h"

namespace {

using crypto_test::fromHex;
using crypto_test::toHex;
using yarl_test::formattedFailureOf;

const std::map<std::string, std::string>& vectors() {
  static const auto v = crypto_test::loadVectors("rsa_vectors.txt");
  return v;
}
const std::string& vec(const std::string& name) {
  auto it = vectors().find(name);
  if (it == vectors().end()) throw std::runtime_error("no vector " + name);
  return it->second;
}
const std::string& message() { return vec("message"); }

std::string written(rdr::MemOutStream& out) {
  return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(out.length()));
}

void loadPrivate(crypto::RsaPrivateKey& key, const std::string& record) {
  rdr::MemInStream in(record.data(), static_cast<int32_t>(record.size()));
  ASSERT_TRUE(key.read(in));
  ASSERT_TRUE(in.atEnd());
}

std::string privateRecord(const crypto::RsaPrivateKey& key) {
  rdr::MemOutStream out;
  key.write(out);
  return written(out);
}

// Feeds `data` one byte at a time through a pipe; `read` must answer false
// until the last byte and true with it.
template <typename Read>
void feedByteByByte(const std::string& data, Read read) {
  rdr::MemIoStream pipe(nullptr, -1, 64);
  rdr::InStream& in = pipe;
  rdr::OutStream& out = pipe;
  for (size_t i = 0; i < data.size(); ++i) {
    out.writeU8(static_cast<uint8_t>(data[i]));
    out.flush();
    ASSERT_EQ(read(in), i + 1 == data.size()) << "after byte " << i + 1 << " of " << data.size();
  }
  EXPECT_EQ(in.pos(), static_cast<int32_t>(data.size()));
}

// ---- The stream format ----

TEST(RsaKeyStreamTest, AnEmptyKeyIsTheNoKeyMarker) {
  crypto::RsaPublicKey pub;
  crypto::RsaPrivateKey priv;
  for (bool variableE : {false, true}) {
    rdr::MemOutStream out;
    pub.write(out, variableE);
    EXPECT_EQ(toHex(written(out)), "ffffffff");
  }
  EXPECT_EQ(toHex(privateRecord(priv)), "ffffffff");

  const std::string marker = fromHex("ffffffff");
  crypto::RsaPrivateKey full;
  loadPrivate(full, vec("key1024"));
  loadPrivate(full, marker);
  EXPECT_EQ(full.bits(), 0);
  rdr::MemInStream in(marker.data(), 4);
  pub.copy(full);
  EXPECT_TRUE(pub.read(in, true));
  EXPECT_EQ(pub.bits(), 0);
}

TEST(RsaKeyStreamTest, ModulusSizesOutsideTheRangeAreRefused) {
  struct Case {
    uint32_t bits;
    const char* failure;
  };
  // clang-format off
  const Case cases[] = {
      {511, "[MbedTls] Unsupported RSA key length"},
      {8193, "[MbedTls] Unsupported RSA key length"},
      {0, "[MbedTls] Unsupported RSA key length"},
      {512, "(nothing thrown)"},
      {8192, "(nothing thrown)"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    uint8_t header[4] = {uint8_t(c.bits >> 24), uint8_t(c.bits >> 16), uint8_t(c.bits >> 8), uint8_t(c.bits)};
    rdr::MemIoStream pipe;
    rdr::OutStream& out = pipe;
    out.writeBytes(header, 4);
    out.flush();
    crypto::RsaPublicKey key;
    bool done = false;
    EXPECT_EQ(formattedFailureOf<plat::Exception>([&] { done = key.read(pipe, false); }), c.failure);
    // An accepted size waits for its modulus.
    EXPECT_FALSE(done);
  }
}

// A private key record announcing `bits` instead of its own size: every
// field moved to the field sizes of `bits`, padded with leading zero bytes
// or cut of them.
std::string reframed(const std::string& record, uint32_t bits) {
  auto lens = [](uint32_t b) {
    const size_t len = (b + 7) / 8, half = ((b + 1) / 2 + 7) / 8;
    return std::vector<size_t>{len, len, len, half, half, half, half, half};
  };
  const auto* p = reinterpret_cast<const uint8_t*>(record.data());
  const uint32_t own = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
  const std::vector<size_t> from = lens(own), to = lens(bits);
  std::string out = {char(bits >> 24), char(bits >> 16), char(bits >> 8), char(bits)};
  size_t at = 4;
  for (size_t i = 0; i < from.size(); i++) {
    std::string field = record.substr(at, from[i]);
    at += from[i];
    while (field.size() > to[i] && field[0] == '\0') field.erase(0, 1);
    out += std::string(to[i] - std::min(to[i], field.size()), '\0') + field;
  }
  return out;
}

// A modulus that is not exactly as long as the record says would let the
// library write a whole declared length into outputs sized by the modulus.
TEST(RsaKeyStreamTest, AModulusOfAnotherSizeThanDeclaredIsRefused) {
  const std::string& good = vec("key1024");
  const std::string& m = message();
  struct Case {
    uint32_t declared;
    bool publicOnly;
  };
  // 1032 and 1025 bits frame the 1024-bit modulus with a leading zero byte;
  // 1023 bits keep its byte length.
  const Case cases[] = {{1032, false}, {1025, false}, {1023, false}, {1032, true}, {1023, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.declared) + (c.publicOnly ? " public" : " private"));
    std::string record = reframed(good, c.declared);
    if (c.publicOnly) record.resize(4 + 2 * ((c.declared + 7) / 8));
    crypto::RsaPrivateKey priv;
    crypto::RsaPublicKey pub;
    const crypto::RsaKey& key = c.publicOnly ? static_cast<crypto::RsaKey&>(pub) : priv;
    rdr::MemInStream in(record.data(), static_cast<int32_t>(record.size()));
    EXPECT_EQ(formattedFailureOf<plat::Exception>([&] { (void)(c.publicOnly ? pub.read(in, false) : priv.read(in)); }),
              "[MbedTls] Unsupported RSA key length");
    EXPECT_EQ(key.bits(), 0);
    // Whatever the read said, no operation writes past its output.
    rdr::MemOutStream out;
    if (c.publicOnly) {
      EXPECT_EQ(formattedFailureOf<plat::Exception>([&] {
                  pub.encryptPkcs1v15(out, m.size(), m.data());
                }).rfind("[MbedTls] RSA encrypt", 0),
                0u);
      EXPECT_EQ(formattedFailureOf<plat::Exception>([&] {
                  pub.encrypt(out, m.size(), m.data(), 256);
                }).rfind("[MbedTls] RSA encrypt", 0),
                0u);
    } else {
      EXPECT_EQ(formattedFailureOf<plat::Exception>([&] {
                  priv.sign(out, m.size(), m.data(), 256);
                }).rfind("[MbedTls] RSA signature", 0),
                0u);
      EXPECT_EQ(formattedFailureOf<plat::Exception>([&] {
                  priv.signPkcs1v15(out, m.size(), m.data(), 256);
                }).rfind("[MbedTls] RSA signature", 0),
                0u);
    }

    // The refusal left nothing pending: the next record is read afresh.
    const std::string next = c.publicOnly ? good.substr(0, 4 + 2 * 128) : good;
    rdr::MemInStream nextIn(next.data(), static_cast<int32_t>(next.size()));
    ASSERT_TRUE(c.publicOnly ? pub.read(nextIn, false) : priv.read(nextIn));
    EXPECT_EQ(key.bits(), 1024);
  }
}

TEST(RsaKeyStreamTest, KeysRoundTripThroughTheirStreamFormat) {
  for (const char* name : {"key1024", "key2048"}) {
    SCOPED_TRACE(name);
    const std::string& record = vec(name);
    crypto::RsaPrivateKey priv;
    loadPrivate(priv, record);
    EXPECT_EQ(privateRecord(priv), record);
    EXPECT_NO_THROW(priv.check());

    // Public halves, both forms of E; the variable one is u16 3, 010001.
    crypto::RsaPublicKey pub;
    pub.setPublicFrom(priv);
    for (bool variableE : {false, true}) {
      rdr::MemOutStream out;
      pub.write(out, variableE);
      const std::string bytes = written(out);
      const size_t len = (priv.bits() + 7) / 8;
      EXPECT_EQ(bytes.size(), 4 + len + (variableE ? 5 : len));
      if (variableE) {
        EXPECT_EQ(toHex(bytes.substr(4 + len)), "0003010001");
      }
      crypto::RsaPublicKey back;
      rdr::MemInStream in(bytes.data(), static_cast<int32_t>(bytes.size()));
      ASSERT_TRUE(back.read(in, variableE));
      EXPECT_TRUE(back.publicEquals(priv));
    }
  }
}

TEST(RsaKeyStreamTest, ARecordArrivingOneByteAtATimeIsReadWhole) {
  const std::string& record = vec("key1024");
  crypto::RsaPrivateKey priv;
  feedByteByByte(record, [&](rdr::InStream& in) { return priv.read(in); });
  EXPECT_EQ(privateRecord(priv), record);

  rdr::MemOutStream out;
  crypto::RsaPublicKey pub;
  pub.setPublicFrom(priv);
  pub.write(out, true);
  crypto::RsaPublicKey back;
  feedByteByByte(written(out), [&](rdr::InStream& in) { return back.read(in, true); });
  EXPECT_TRUE(back.publicEquals(priv));
}

TEST(RsaKeyStreamTest, AZeroFieldIsRefused) {
  std::string record = vec("key1024");
  // D is the third 128-byte field.
  record.replace(4 + 2 * 128, 128, std::string(128, '\0'));
  crypto::RsaPrivateKey priv;
  rdr::MemInStream in(record.data(), static_cast<int32_t>(record.size()));
  EXPECT_EQ(formattedFailureOf<plat::Exception>([&] { (void)priv.read(in); }), "bigNumReadF invalid bytes");
}

TEST(RsaKeyTest, CopiesDescriptionAndConsistencyCheck) {
  crypto::RsaPrivateKey a, b;
  loadPrivate(a, vec("key1024"));
  b = a;
  EXPECT_EQ(privateRecord(b), vec("key1024"));
  b = b;
  EXPECT_EQ(privateRecord(b), vec("key1024"));
  EXPECT_STREQ(b.description().get(), "RSA key with 1024 bits");

  crypto::RsaPublicKey other;
  other.setFromPem(std::string(vec("pem2048")).c_str());
  EXPECT_FALSE(other.publicEquals(a));
  other.setPublicFrom(a);
  EXPECT_TRUE(other.publicEquals(a));

  // A CRT value that does not belong to the key.
  std::string record = vec("key1024");
  record[record.size() - 1] ^= 1;
  crypto::RsaPrivateKey bad;
  loadPrivate(bad, record);
  EXPECT_EQ(formattedFailureOf<plat::Exception>([&] { bad.check(); }).rfind("[MbedTls] RSA key invalid: ", 0), 0u)
      << formattedFailureOf<plat::Exception>([&] { bad.check(); });
}

// ---- PEM and DER ----

TEST(RsaPemTest, PublicKeysRoundTripThroughDer) {
  for (int bits : {1024, 2048}) {
    SCOPED_TRACE(bits);
    crypto::RsaPrivateKey priv;
    loadPrivate(priv, vec("key" + std::to_string(bits)));
    crypto::RsaPublicKey pem;
    ASSERT_EQ(formattedFailureOf<plat::Exception>([&] { pem.setFromPem(vec("pem" + std::to_string(bits)).c_str()); }),
              "(nothing thrown)");
    EXPECT_TRUE(pem.publicEquals(priv));
    EXPECT_EQ(pem.bits(), bits);

    const plat::Buffer der = pem.toDer();
    EXPECT_EQ(toHex(der), toHex(vec("spki" + std::to_string(bits))));
    crypto::RsaPublicKey back;
    ASSERT_EQ(
        formattedFailureOf<plat::Exception>([&] { back.setFromPem(der.data(), static_cast<size_t>(der.count())); }),
        "(nothing thrown)");
    EXPECT_TRUE(back.publicEquals(priv));
  }
}

TEST(RsaPemTest, OtherKeysAndMalformedTextsAreRefused) {
  crypto::RsaPublicKey key;
  EXPECT_EQ(formattedFailureOf<plat::Exception>([&] { key.setFromPem(vec("ecpem").c_str()); }),
            "Invalid key type, expected an RSA public key");
  std::string broken = vec("pem1024");
  broken[40] = broken[40] == 'A' ? 'B' : 'A';
  broken.erase(60, 8);
  for (const std::string& text : {broken, std::string("no key here"), vec("spki1024").substr(0, 100)}) {
    EXPECT_EQ(formattedFailureOf<plat::Exception>([&] {
                key.setFromPem(text.data(), text.size());
              }).rfind("[MbedTls] mbedtls_pk_parse_public_key: ", 0),
              0u);
  }
}

TEST(RsaPemTest, EveryBeginMarkerYieldsTheNextPublicKey) {
  crypto::RsaPrivateKey k1024, k2048;
  loadPrivate(k1024, vec("key1024"));
  loadPrivate(k2048, vec("key2048"));
  // The certificate's marker finds the first key after it.
  auto keys = crypto::RsaPublicKey::readAllFromPem(vec("pemtext").c_str());
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_TRUE(keys[0]->publicEquals(k1024));
  EXPECT_TRUE(keys[1]->publicEquals(k1024));
  EXPECT_TRUE(keys[2]->publicEquals(k2048));
  EXPECT_TRUE(crypto::RsaPublicKey::readAllFromPem("no marker at all").empty());
  EXPECT_TRUE(crypto::RsaPublicKey::readAllFromPem(vec("ecpem").c_str()).empty());
}

// ---- Signatures ----

struct Keys {
  Keys() {
    loadPrivate(priv1024, vec("key1024"));
    loadPrivate(priv2048, vec("key2048"));
    pub1024.setPublicFrom(priv1024);
    pub2048.setPublicFrom(priv2048);
  }
  crypto::RsaPrivateKey priv1024, priv2048;
  crypto::RsaPublicKey pub1024, pub2048;
};

TEST(RsaSignatureTest, OracleSignaturesVerify) {
  static constexpr const char* kBadPadding =
      "[MbedTls] RSA verify error: RSA - Input data contains invalid padding and is rejected";
  Keys k;
  const std::string& m = message();
  struct Case {
    const char* sig;
    bool pss;
    uint32_t shaLen;
    bool anySalt;
    const char* failure;
  };
  // clang-format off
  const Case cases[] = {
      {"pss256_1024", true, 256, false, "(nothing thrown)"},
      {"pss256_1024", true, 256, true, "(nothing thrown)"},
      {"pss512_2048", true, 512, false, "(nothing thrown)"},
      // A salt shorter than the hash passes only when any length is allowed.
      {"pss256salt20_1024", true, 256, false, kBadPadding},
      {"pss256salt20_1024", true, 256, true, "(nothing thrown)"},
      {"pkcs1_160_1024", false, 160, false, "(nothing thrown)"},
      {"pkcs1_256_1024", false, 256, false, "(nothing thrown)"},
      {"pkcs1_512_2048", false, 512, false, "(nothing thrown)"},
      {"pkcs1_256_1024", false, 160, false, "[MbedTls] RSA verify error: RSA - The PKCS#1 verification failed"},
      {"pss256_1024", true, 512, false, kBadPadding},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.sig) + " " + std::to_string(c.shaLen));
    const std::string& sig = vec(c.sig);
    crypto::RsaPublicKey& key = sig.size() == 128 ? k.pub1024 : k.pub2048;
    EXPECT_EQ(formattedFailureOf<plat::Exception>([&] {
                if (c.pss) {
                  key.verify(sig.size(), sig.data(), m.size(), m.data(), c.shaLen, c.anySalt);
                } else {
                  key.verifyPkcs1v15(sig.size(), sig.data(), m.size(), m.data(), c.shaLen);
                }
              }),
              c.failure);
  }
  // A changed message.
  const std::string& sig = vec("pss256_1024");
  EXPECT_EQ(formattedFailureOf<plat::Exception>([&] { k.pub1024.verify(sig.size(), sig.data(), 3, "abc", 256, true); }),
            "[MbedTls] RSA verify error: RSA - The PKCS#1 verification failed");
}

TEST(RsaSignatureTest, ASignatureOfTheWrongLengthIsRefusedBeforeHashing) {
  Keys k;
  const std::string sig = vec("pss256_1024").substr(1);
  EXPECT_EQ(
      formattedFailureOf<plat::Exception>([&] { k.pub1024.verify(sig.size(), sig.data(), 0, nullptr, 256, false); }),
      "[MbedTls] RSA verify error: bad length 127 (should be 128)");
  EXPECT_EQ(
      formattedFailureOf<plat::Exception>([&] { k.pub1024.verifyPkcs1v15(sig.size(), sig.data(), 0, nullptr, 256); }),
      "[MbedTls] RSA verify error: bad length 127 (should be 128)");
  // On a stream the block itself is refused.
  rdr::MemOutStream out;
  out.writeU16(127);
  out.writeBytes(sig.data(), 127);
  const std::string block = written(out);
  rdr::MemInStream in(block.data(), static_cast<int32_t>(block.size()));
  EXPECT_EQ(formattedFailureOf<plat::Exception>([&] { (void)k.pub1024.verifyFromStream(in, 0, nullptr, 256, false); }),
            "[MbedTls] RSA decrypt/check error: bad length 127 (should be 128)");
}

TEST(RsaSignatureTest, OurSignaturesVerifyHereAndWithTheOracle) {
  Keys k;
  const std::string& m = message();
  struct Case {
    bool pss;
    uint32_t shaLen;
    bool big;
  };
  const Case cases[] = {
      {true, 256, false}, {true, 512, true}, {false, 160, false}, {false, 256, false}, {false, 512, true}};
  std::vector<std::string> requests;
  for (const Case& c : cases) {
    crypto::RsaPrivateKey& priv = c.big ? k.priv2048 : k.priv1024;
    crypto::RsaPublicKey& pub = c.big ? k.pub2048 : k.pub1024;
    rdr::MemOutStream out;
    if (c.pss) {
      priv.sign(out, m.size(), m.data(), c.shaLen);
    } else {
      priv.signPkcs1v15(out, m.size(), m.data(), c.shaLen);
    }
    const std::string block = written(out);
    const std::string sig = block.substr(2);
    ASSERT_EQ(block.size(), 2u + (c.big ? 256 : 128));
    // Verified from the stream one byte at a time.
    feedByteByByte(block, [&](rdr::InStream& in) {
      return c.pss ? pub.verifyFromStream(in, m.size(), m.data(), c.shaLen, false)
                   : pub.verifyPkcs1v15FromStream(in, m.size(), m.data(), c.shaLen);
    });
    const std::string record = toHex(c.big ? vec("key2048") : vec("key1024"));
    if (c.pss) {
      // The salt is exactly as long as the hash.
      requests.push_back("rsa-pss " + record + " " + toHex(m) + " " + toHex(sig) + " " + std::to_string(c.shaLen) +
                         " " + std::to_string(c.shaLen / 8));
    } else {
      requests.push_back("rsa-pkcs1 " + record + " " + toHex(m) + " " + toHex(sig) + " " + std::to_string(c.shaLen));
      // PKCS #1 v1.5 signatures are deterministic: the oracle's own.
      EXPECT_EQ(toHex(sig), toHex(vec("pkcs1_" + std::to_string(c.shaLen) + (c.big ? "_2048" : "_1024"))));
    }
  }
  EXPECT_EQ(crypto_test::askOracle(requests), std::vector<std::string>(requests.size(), "ok"));
}

// ---- Encryption ----

TEST(RsaEncryptionTest, OracleCiphertextsDecrypt) {
  Keys k;
  struct Case {
    const char* cipher;
    int shaLen;  // 0: PKCS #1 v1.5
  };
  const Case cases[] = {{"oaep256_1024", 256}, {"oaep512_2048", 512}, {"pkcs1enc_1024", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cipher);
    const std::string& cipher = vec(c.cipher);
    crypto::RsaPrivateKey& key = cipher.size() == 128 ? k.priv1024 : k.priv2048;
    rdr::MemOutStream out;
    out.writeU16(static_cast<uint16_t>(cipher.size()));
    out.writeBytes(cipher.data(), static_cast<int32_t>(cipher.size()));
    plat::Buffer plain;
    feedByteByByte(written(out), [&](rdr::InStream& in) {
      return c.shaLen ? key.decrypt(in, plain, c.shaLen)
                      : key.decryptPkcs1v15(in, plain, static_cast<int32_t>(message().size()));
    });
    EXPECT_EQ(toHex(plain), toHex(message()));
  }
}

TEST(RsaEncryptionTest, OurCiphertextsDecryptHereAndWithTheOracle) {
  Keys k;
  const std::string& m = message();
  std::vector<std::string> requests;
  for (int shaLen : {256, 512, 0}) {
    crypto::RsaPublicKey& pub = shaLen == 512 ? k.pub2048 : k.pub1024;
    crypto::RsaPrivateKey& priv = shaLen == 512 ? k.priv2048 : k.priv1024;
    rdr::MemOutStream out;
    if (shaLen) {
      pub.encrypt(out, m.size(), m.data(), static_cast<uint32_t>(shaLen));
    } else {
      pub.encryptPkcs1v15(out, m.size(), m.data());
    }
    const std::string block = written(out);
    rdr::MemInStream in(block.data(), static_cast<int32_t>(block.size()));
    plat::Buffer plain;
    ASSERT_TRUE(shaLen ? priv.decrypt(in, plain, static_cast<uint32_t>(shaLen)) : priv.decryptPkcs1v15(in, plain, -1));
    EXPECT_EQ(toHex(plain), toHex(m));
    const std::string record = toHex(shaLen == 512 ? vec("key2048") : vec("key1024"));
    requests.push_back(shaLen ? "rsa-oaep " + record + " " + toHex(block.substr(2)) + " " + std::to_string(shaLen)
                              : "rsa-pkcs1-decrypt " + record + " " + toHex(block.substr(2)));
  }
  EXPECT_EQ(crypto_test::askOracle(requests), std::vector<std::string>(requests.size(), toHex(m)));

  // Too long for OAEP with SHA-512 in a 1024-bit key.
  rdr::MemOutStream out;
  EXPECT_EQ(formattedFailureOf<plat::Exception>([&] {
              k.pub1024.encrypt(out, m.size(), m.data(), 512);
            }).rfind("[MbedTls] RSA encrypt error: ", 0),
            0u);
}

TEST(RsaEncryptionTest, Pkcs1v15FailuresBecomeRandomBytesWhenALengthIsExpected) {
  Keys k;
  yarl_test::LogCapture log("RsaPrivateKey:capture:100");
  auto block = [](const std::string& cipher) {
    rdr::MemOutStream out;
    out.writeU16(static_cast<uint16_t>(cipher.size()));
    out.writeBytes(cipher.data(), static_cast<int32_t>(cipher.size()));
    return written(out);
  };
  const std::string broken = block(vec("brokenpad_1024"));
  plat::Buffer plain;
  {
    rdr::MemInStream in(broken.data(), static_cast<int32_t>(broken.size()));
    ASSERT_TRUE(k.priv1024.decryptPkcs1v15(in, plain, 48));
    EXPECT_EQ(plain.count(), 48);
    EXPECT_TRUE(in.atEnd());
  }
  const std::string padding =
      "Ignoring RSA decrypt error (PKCS#1 v1.5 padding: RSA decrypt error: RSA - Input data "
      "contains invalid padding and is rejected)";
  EXPECT_EQ(log.from("RsaPrivateKey"), (std::vector<yarl_test::LogRecord>{{"RsaPrivateKey", 100, padding}}));
  {
    rdr::MemInStream in(broken.data(), static_cast<int32_t>(broken.size()));
    EXPECT_EQ(formattedFailureOf<plat::Exception>([&] { (void)k.priv1024.decryptPkcs1v15(in, plain, -1); }),
              "[MbedTls] RSA decrypt error: RSA - Input data contains invalid padding and is rejected");
  }
  // A good block of another length than expected.
  log.clear();
  const std::string good = block(vec("pkcs1enc_1024"));
  rdr::MemInStream in(good.data(), static_cast<int32_t>(good.size()));
  ASSERT_TRUE(k.priv1024.decryptPkcs1v15(in, plain, 10));
  EXPECT_EQ(plain.count(), 10);
  EXPECT_NE(toHex(plain), toHex(message().substr(0, 10)));
  EXPECT_EQ(log.from("RsaPrivateKey"),
            (std::vector<yarl_test::LogRecord>{{"RsaPrivateKey", 100, "Ignoring RSA decrypt length mismatch"}}));
}

// ---- Generation ----

class RsaGenerateTest : public ::testing::Test, public crypto::RsaPrivateKey::GenerateCallback {
 protected:
  void SetUp() override { setBits("512"); }
  void TearDown() override { plat::Configuration::global().findParam("RsaModulusBits")->unsetParam(kPriority); }
  static void setBits(const char* bits) {
    ASSERT_TRUE(plat::Configuration::global().setParam("RsaModulusBits", bits, kPriority));
  }

  void keyGenerated(crypto::RsaPrivateKey* key) override {
    ++calls_;
    generated_ = key;
    // The key is idle again: the callback may delete it.
    if (owned_.get() == key) {
      record_ = privateRecord(*key);
      owned_.reset();
    }
  }

  static constexpr int kPriority = 900;
  plat::TimerManager timers_;
  int calls_ = 0;
  crypto::RsaPrivateKey* generated_ = nullptr;
  std::unique_ptr<crypto::RsaPrivateKey> owned_;
  std::string record_;
};

TEST_F(RsaGenerateTest, InTheBackgroundTheKeyIsMadeInTimerSlices) {
  for (const char* bits : {"512", "1024"}) {
    SCOPED_TRACE(bits);
    setBits(bits);
    calls_ = 0;
    owned_ = std::make_unique<crypto::RsaPrivateKey>();
    owned_->generate(this, true);
    EXPECT_EQ(calls_, 0);
    int slices = 0;
    while (calls_ == 0) {
      ASSERT_NE(timers_.processTimers(), -1) << "the generation timer stopped";
      ++slices;
    }
    EXPECT_EQ(calls_, 1);
    EXPECT_GE(slices, 1);
    EXPECT_FALSE(owned_);  // the callback deleted it
    EXPECT_EQ(timers_.processTimers(), -1);

    crypto::RsaPrivateKey key;
    loadPrivate(key, record_);
    EXPECT_EQ(key.bits(), std::atoi(bits));
    EXPECT_NO_THROW(key.check());
    // The independent check of every CRT field.
    EXPECT_EQ(crypto_test::askOracle({"rsa-record " + toHex(record_)}),
              std::vector<std::string>{"ok " + std::string(bits)});
  }
}

TEST_F(RsaGenerateTest, InTheForegroundTheCallbackHearsBeforeGenerateReturns) {
  crypto::RsaPrivateKey key;
  key.generate(this, false);
  EXPECT_EQ(calls_, 1);
  EXPECT_EQ(generated_, &key);
  EXPECT_EQ(key.bits(), 512);
  EXPECT_EQ(timers_.processTimers(), -1);
  // A usable key: sign and verify.
  rdr::MemOutStream out;
  key.signPkcs1v15(out, 5, "hello", 256);
  crypto::RsaPublicKey pub;
  pub.setPublicFrom(key);
  const std::string block = written(out);
  rdr::MemInStream in(block.data(), static_cast<int32_t>(block.size()));
  EXPECT_TRUE(pub.verifyPkcs1v15FromStream(in, 5, "hello", 256));
}

TEST_F(RsaGenerateTest, DestroyingAGeneratingKeyStopsItSilently) {
  auto key = std::make_unique<crypto::RsaPrivateKey>();
  key->generate(this, true);
  key.reset();
  EXPECT_EQ(timers_.processTimers(), -1);
  EXPECT_EQ(calls_, 0);
}

TEST_F(RsaGenerateTest, AKeyHolderDeletesAGeneratingPrivateKeyWhole) {
  // Held as a plain RsaKey, the private key's timer must still be stopped
  // and its whole object freed (the sanitizer build checks the latter).
  crypto::RsaKeyPtr holder;
  auto* key = new crypto::RsaPrivateKey();
  holder.reset(key);
  key->generate(this, true);
  EXPECT_EQ(holder.get(), key);
  holder.reset();
  EXPECT_FALSE(holder);
  EXPECT_EQ(timers_.processTimers(), -1);
  EXPECT_EQ(calls_, 0);
}

TEST_F(RsaGenerateTest, ASecondGenerationWhileOneRunsIsAnAssertion) {
  const std::string style = GTEST_FLAG_GET(death_test_style);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        crypto::RsaPrivateKey key;
        key.generate(this, true);
        key.generate(this, true);
      },
      "Assertion '!generateCb && cb' failed");
  GTEST_FLAG_SET(death_test_style, style);
}

}  // namespace
