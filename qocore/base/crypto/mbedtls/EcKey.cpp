#include "qocore/base/crypto/EcKey.h"

#include <mbedtls/ecdh.h>
#include <mbedtls/ecdsa.h>
#include <mbedtls/ecp.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "qocore/base/crypto/MbedTlsException.h"
#include "qocore/base/crypto/RandomStream.h"
#include "qocore/base/crypto/Sha.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace crypto {

namespace {

struct CurveInfo {
  const char* name;
  mbedtls_ecp_group_id id;
};

// clang-format off
constexpr CurveInfo kCurves[] = {
    {"Curve25519", MBEDTLS_ECP_DP_CURVE25519},
    {"Curve448", MBEDTLS_ECP_DP_CURVE448},
    {"P224", MBEDTLS_ECP_DP_SECP224R1},
    {"P256", MBEDTLS_ECP_DP_SECP256R1},
    {"P384", MBEDTLS_ECP_DP_SECP384R1},
    {"P521", MBEDTLS_ECP_DP_SECP521R1},
};
// clang-format on
constexpr uint32_t kCurveCount = sizeof kCurves / sizeof kCurves[0];

constexpr uint8_t kPublicMarker[4] = {0xFF, 0xFE, 0xCD, 0x5A};
// The largest uncompressed point: P-521's.
constexpr size_t kMaxPoint = 133;
// The largest private value: P-521's order takes 66 bytes.
constexpr uint16_t kMaxPrivate = 66;
constexpr size_t kMaxMontgomery = 56;

const char kNotSupported[] = "Operation not supported for key type";

void orThrow(int ret, const char* operation) {
  if (ret != 0) throw MbedTlsException(operation, ret);
}

// A big number that frees itself.
struct Mpi {
  Mpi() { mbedtls_mpi_init(&x); }
  ~Mpi() { mbedtls_mpi_free(&x); }
  Mpi(const Mpi&) = delete;
  Mpi& operator=(const Mpi&) = delete;
  mbedtls_mpi x;
};

}  // namespace

struct EcKey::Impl {
  explicit Impl(uint32_t c) : curve(c) {
    mbedtls_ecp_group_init(&grp);
    mbedtls_mpi_init(&d);
    mbedtls_ecp_point_init(&Q);
  }
  ~Impl() {
    mbedtls_ecp_group_free(&grp);
    mbedtls_mpi_free(&d);
    mbedtls_ecp_point_free(&Q);
  }
  uint32_t curve;
  mbedtls_ecp_group grp;
  mbedtls_mpi d;
  mbedtls_ecp_point Q;
};

EcKey::EcKey() = default;
EcKey::~EcKey() = default;

void EcKey::create(uint32_t curve) {
  auto impl = std::make_unique<Impl>(curve);
  orThrow(mbedtls_ecp_group_load(&impl->grp, curve < kCurveCount ? kCurves[curve].id : MBEDTLS_ECP_DP_NONE),
          "mbedtls_ecp_group_load");
  impl_ = std::move(impl);
}

void EcKey::clear() {
  PLAT_ASSERT(impl_);
  mbedtls_mpi_free(&impl_->d);
  mbedtls_mpi_init(&impl_->d);
  mbedtls_ecp_point_free(&impl_->Q);
  mbedtls_ecp_point_init(&impl_->Q);
}

uint32_t EcKey::curve() const {
  PLAT_ASSERT(impl_);
  return impl_->curve;
}

bool EcKey::montgomery() const {
  PLAT_ASSERT(impl_);
  return mbedtls_ecp_get_type(&impl_->grp) == MBEDTLS_ECP_TYPE_MONTGOMERY;
}

int32_t EcKey::keyBytes() const { return static_cast<int32_t>((impl_->grp.pbits + 7) / 8); }

void EcKey::generate() {
  clear();
  orThrow(mbedtls_ecp_gen_keypair(&impl_->grp, &impl_->d, &impl_->Q, mbedtlsRandom, nullptr),
          "mbedtls_ecp_gen_keypair");
}

void EcKey::setPublic(rdr::InStream& in, plat::Buffer* rawOut) {
  clear();
  plat::ScopeExit dropHalfRead([&] { clear(); });
  if (montgomery()) {
    const int32_t size = keyBytes();
    const uint8_t len = in.readU8();
    if (len != size) throw plat::Exception("Bad length");
    uint8_t value[kMaxMontgomery];
    in.readBytes(value, len);
    if (rawOut) {
      *rawOut = plat::Buffer(len + 1);
      rawOut->data()[0] = len;
      memcpy(rawOut->data() + 1, value, len);
    }
    // Every bit is taken as it stands, the top one of Curve25519 included.
    std::reverse(value, value + len);
    int ret = mbedtls_mpi_read_binary(&impl_->Q.X, value, len);
    if (ret == 0) ret = mbedtls_mpi_lset(&impl_->Q.Z, 1);
    orThrow(ret, "Error reading public value");
  } else {
    uint8_t marker[4];
    in.readBytes(marker, 4);
    if (memcmp(marker, kPublicMarker, 4) != 0) throw plat::Exception("Invalid public key");
    const uint8_t len = in.readU8();
    const size_t fieldBytes = mbedtls_mpi_size(&impl_->grp.P);
    if (len != 1 && len != 2 * fieldBytes + 1) throw plat::Exception("Invalid public key");
    uint8_t point[kMaxPoint];
    in.readBytes(point, len);
    int ret = mbedtls_ecp_point_read_binary(&impl_->grp, &impl_->Q, point, len);
    if (ret == 0) ret = mbedtls_ecp_check_pubkey(&impl_->grp, &impl_->Q);
    orThrow(ret, "Invalid public key");
  }
  in.setCheckpoint();
  dropHalfRead.dismiss();
}

void EcKey::writePublic(rdr::OutStream& out) const {
  if (montgomery()) {
    const int32_t size = keyBytes();
    uint8_t value[kMaxMontgomery];
    orThrow(mbedtls_mpi_write_binary_le(&impl_->Q.X, value, static_cast<size_t>(size)), "writePublic");
    out.writeU8(static_cast<uint8_t>(size));
    out.writeBytes(value, size);
    return;
  }
  uint8_t point[kMaxPoint];
  size_t len = 0;
  int ret =
      mbedtls_ecp_point_write_binary(&impl_->grp, &impl_->Q, MBEDTLS_ECP_PF_UNCOMPRESSED, &len, point, sizeof point);
  PLAT_ASSERT(!ret && len <= 256);
  out.writeBytes(kPublicMarker, 4);
  out.writeU8(static_cast<uint8_t>(len));
  out.writeBytes(point, static_cast<int32_t>(len));
}

void EcKey::writePoint(rdr::OutStream& out) const {
  PLAT_ASSERT_TEXT(impl_->curve != Curve25519 && impl_->curve != Curve448,
                   "impl->curve != Curve25519 && impl->curve != Curve448");
  uint8_t point[kMaxPoint];
  size_t len = 0;
  int ret =
      mbedtls_ecp_point_write_binary(&impl_->grp, &impl_->Q, MBEDTLS_ECP_PF_UNCOMPRESSED, &len, point, sizeof point);
  PLAT_ASSERT(!ret && len <= 256);
  out.writeBytes(point, static_cast<int32_t>(len));
}

void EcKey::setPrivate(rdr::InStream& in) {
  clear();
  plat::ScopeExit dropHalfRead([&] { clear(); });
  const uint16_t len = in.readU16();
  if (len > kMaxPrivate) throw plat::Exception("Invalid private key");
  plat::Buffer d(len, true);
  in.readBytes(d.data(), len);
  int ret = mbedtls_mpi_read_binary(&impl_->d, d.data(), len);
  if (ret == 0) ret = mbedtls_ecp_check_privkey(&impl_->grp, &impl_->d);
  if (ret == 0) ret = mbedtls_ecp_mul(&impl_->grp, &impl_->Q, &impl_->d, &impl_->grp.G, mbedtlsRandom, nullptr);
  orThrow(ret, "Invalid private key");
  in.setCheckpoint();
  dropHalfRead.dismiss();
}

void EcKey::writePrivate(rdr::OutStream& out) const {
  const size_t len = mbedtls_mpi_size(&impl_->d);
  plat::Buffer d(static_cast<int>(len), true);
  orThrow(mbedtls_mpi_write_binary(&impl_->d, d.data(), len), "writePrivate");
  out.writeU16(static_cast<uint16_t>(len));
  out.writeBytes(d.data(), d.count());
}

void EcKey::copyPublic(const EcKey& other) {
  PLAT_REQUIRE_TEXT(other.impl_->curve == impl_->curve, "pubKey->impl->curve == impl->curve");
  orThrow(mbedtls_ecp_copy(&impl_->Q, &other.impl_->Q), "mbedtls_ecp_copy");
}

bool EcKey::publicEquals(const EcKey& other) const {
  return impl_->curve == other.impl_->curve && mbedtls_ecp_point_cmp(&impl_->Q, &other.impl_->Q) == 0;
}

plat::CharArray EcKey::description() const {
  const uint32_t c = impl_ ? impl_->curve : kCurveCount;
  char text[64];
  snprintf(text, sizeof text, "EC key with curve %s", c < kCurveCount ? kCurves[c].name : "unknown");
  return plat::CharArray(text);
}

void EcKey::sign(rdr::OutStream& out, size_t len, const void* data, uint32_t shaLen) {
  if (montgomery()) throw plat::Exception(kNotSupported);
  plat::Buffer hash;
  digestOneShot(shaLen, len, data, hash);
  Mpi r, s;
  // The nonce comes from HMAC-SHA-256 whatever the message digest.
  orThrow(mbedtls_ecdsa_sign_det_ext(&impl_->grp, &r.x, &s.x, &impl_->d, hash.data(), static_cast<size_t>(hash.count()),
                                     MBEDTLS_MD_SHA256, mbedtlsRandom, nullptr),
          "mbedtls_ecdsa_sign_det_ext");
  const size_t n = std::max(mbedtls_mpi_size(&r.x), mbedtls_mpi_size(&s.x));
  uint8_t half[kMaxPrivate];
  out.writeU16(static_cast<uint16_t>(2 * n));
  for (const Mpi* v : {&r, &s}) {
    orThrow(mbedtls_mpi_write_binary(&v->x, half, n), "mbedtls_ecdsa_sign_det_ext");
    out.writeBytes(half, static_cast<int32_t>(n));
  }
}

void EcKey::verify(rdr::InStream& in, size_t len, const void* data, uint32_t shaLen) {
  if (montgomery()) throw plat::Exception(kNotSupported);
  const uint16_t sigLen = in.readU16();
  const size_t half = sigLen / 2;
  if (sigLen == 0 || sigLen % 2 != 0 || half > mbedtls_mpi_size(&impl_->grp.N)) {
    throw plat::Exception("Invalid signature length");
  }
  uint8_t bytes[2 * kMaxPrivate];
  in.readBytes(bytes, sigLen);
  Mpi r, s;
  orThrow(mbedtls_mpi_read_binary(&r.x, bytes, half), "Invalid signature");
  orThrow(mbedtls_mpi_read_binary(&s.x, bytes + half, half), "Invalid signature");
  plat::Buffer hash;
  digestOneShot(shaLen, len, data, hash);
  orThrow(mbedtls_ecdsa_verify(&impl_->grp, hash.data(), static_cast<size_t>(hash.count()), &impl_->Q, &r.x, &s.x),
          "Invalid signature");
  in.setCheckpoint();
}

void EcKey::sharedSecret(const EcKey& peer, plat::Buffer& out) {
  PLAT_REQUIRE_TEXT(peer.impl_->curve == impl_->curve, "peerKey.impl->curve == impl->curve");
  if (!montgomery()) throw plat::Exception(kNotSupported);
  Mpi z;
  orThrow(mbedtls_ecdh_compute_shared(&impl_->grp, &z.x, &peer.impl_->Q, &impl_->d, mbedtlsRandom, nullptr),
          "Error generating secret key");
  const int32_t size = keyBytes();
  plat::Buffer secret(size, true);
  orThrow(mbedtls_mpi_write_binary(&z.x, secret.data(), static_cast<size_t>(size)), "Error generating secret key");
  // X25519 and X448 give the value least significant byte first.
  std::reverse(secret.data(), secret.data() + size);
  out = std::move(secret);
}

void EcKey::setFromNcwSeed(const plat::Buffer& seed, bool flag) {
  PLAT_ASSERT_TEXT(impl_->grp.nbits == 254, "grp.nbits == 254");
  PLAT_ASSERT_TEXT(seed.count() == keyBytes(), "seed.length() == keyBytes()");
  PLAT_ASSERT_TEXT(mbedtls_ecp_get_type(&impl_->grp) == MBEDTLS_ECP_TYPE_MONTGOMERY,
                   "mbedtls_ecp_get_type(&grp) == MBEDTLS_ECP_TYPE_MONTGOMERY");
  clear();
  plat::ScopeExit dropHalfMade([&] { clear(); });
  mbedtls_mpi& d = impl_->d;
  orThrow(mbedtls_mpi_read_binary(&d, seed.data(), static_cast<size_t>(seed.count())), "setFromNcwSeed");
  if (flag) {
    orThrow(mbedtls_mpi_shift_r(&d, 1), "setFromNcwSeed");
    orThrow(mbedtls_mpi_set_bit(&d, 254, 1), "setFromNcwSeed");
  } else if (mbedtls_mpi_bitlen(&d) > 255) {
    orThrow(mbedtls_mpi_shift_r(&d, mbedtls_mpi_bitlen(&d) - 255), "setFromNcwSeed");
  } else {
    orThrow(mbedtls_mpi_set_bit(&d, 254, 1), "setFromNcwSeed");
  }
  for (size_t bit = 0; bit < 3; ++bit) orThrow(mbedtls_mpi_set_bit(&d, bit, 0), "setFromNcwSeed");
  orThrow(mbedtls_ecp_mul(&impl_->grp, &impl_->Q, &d, &impl_->grp.G, mbedtlsRandom, nullptr), "mbedtls_ecp_mul");
  dropHalfMade.dismiss();
}

}  // namespace crypto
