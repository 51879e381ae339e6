#pragma once
// crypto::EcKey: elliptic-curve keys on six named curves.  The two
// Montgomery curves do X25519/X448 key agreement; the four NIST prime
// curves do deterministic ECDSA (RFC 6979, the nonce always derived with
// HMAC-SHA-256) and its verification.  The group arithmetic is mbedtls's.
//
// Stream encodings (big-endian integers):
//   public value, Montgomery: one length byte (32 or 56) and the
//     u-coordinate least significant byte first, all bits as given;
//   public value, prime curves: FF FE CD 5A, one length byte and the
//     uncompressed point (04, X, Y);
//   private value: u16 length (at most 66) and d;
//   signature: u16 2n, then r and s in n bytes each, n the larger size.
// The readers are not resumable: they read with the stream's ordinary
// rules and mark the input consumed at the end.  A failed read leaves the
// key with neither private value nor public point.
//
// An operation on the wrong kind of curve is plat::Exception "Operation
// not supported for key type"; keys on different curves meeting is a
// plat::AssertionFail thrown.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/MBuf.h"

namespace rdr {
class InStream;
class OutStream;
}  // namespace rdr

namespace crypto {

enum EcCurve : uint32_t { Curve25519 = 0, Curve448 = 1, P224 = 2, P256 = 3, P384 = 4, P521 = 5 };

class EcKey {
 public:
  EcKey();
  ~EcKey();
  EcKey(const EcKey&) = delete;
  EcKey& operator=(const EcKey&) = delete;

  // Makes the key's curve; must come first.  Failure: MbedTlsException
  // "mbedtls_ecp_group_load".
  void create(uint32_t curve);
  // Drops the private value and the public point.
  void clear();
  uint32_t curve() const;

  // A new random key pair.
  void generate();

  // Reads a public value; for the Montgomery curves rawOut (when given)
  // receives the bytes read, length byte included.
  void setPublic(rdr::InStream& in, plat::Buffer* rawOut = nullptr);
  void writePublic(rdr::OutStream& out) const;
  // The uncompressed point alone; prime curves only (an assertion).
  void writePoint(rdr::OutStream& out) const;
  // Reads d and derives the public point from it.
  void setPrivate(rdr::InStream& in);
  void writePrivate(rdr::OutStream& out) const;

  // The other key's public point; same curve.
  void copyPublic(const EcKey& other);
  bool publicEquals(const EcKey& other) const;
  // "EC key with curve %s".
  plat::CharArray description() const;

  // ECDSA over the digest of shaLen bits (224, 256, 384 or 512).
  void sign(rdr::OutStream& out, size_t len, const void* data, uint32_t shaLen);
  // Returns or throws.
  void verify(rdr::InStream& in, size_t len, const void* data, uint32_t shaLen);
  // X25519/X448 with the peer's public value: out receives 32 or 56 bytes,
  // least significant first.
  void sharedSecret(const EcKey& peer, plat::Buffer& out);

  // A Curve25519 private key (and its public value) from 32 seed bytes,
  // in a fixed way: d is the seed read big-endian, brought to 255 bits
  // (with flag: shifted right one bit; without: shifted right when bit
  // 255 is set) with bit 254 set and bits 0 to 2 cleared.
  void setFromNcwSeed(const plat::Buffer& seed, bool flag);

 private:
  struct Impl;
  // Bytes of a Montgomery public value and of the seed.
  int32_t keyBytes() const;
  bool montgomery() const;

  std::unique_ptr<Impl> impl_;
};

}  // namespace crypto
