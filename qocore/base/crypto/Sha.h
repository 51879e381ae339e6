#pragma once
// crypto::Sha: incremental SHA-1 and SHA-2 digests (FIPS 180-4) over
// mbedtls's digest modules; every other hashing user in the system goes
// through it (HMAC, the random generator, signatures, one-shot digests).
//
// The running state lives in one fixed block big enough for any of the
// library's contexts, so one class serves every size with one allocation.
// SHA-1 is refused unless the caller says it is for legacy use.
//
// Misuse (an unknown size, SHA-1 without the legacy flag, a short output
// buffer) is a failed assertion, as is a library call that reports an
// error.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "qocore/base/plat/MBuf.h"

namespace rdr {
class InStream;
class OutStream;
}  // namespace rdr

namespace crypto {

class Sha {
 public:
  // digestBits: 224, 256, 384, 512, or 160 with allowSha1ForLegacyCode.
  explicit Sha(uint32_t digestBits, bool allowSha1ForLegacyCode = false);
  // Wipes the state.
  ~Sha();
  Sha(const Sha&) = delete;
  Sha& operator=(const Sha&) = delete;

  // Starts a new message.
  void reset();
  void update(size_t len, const void* data);
  // Writes digestBits/8 bytes; bufSize must be at least that.  The digest is
  // not restarted: call reset() before the next message.
  void final(void* buf, size_t bufSize);

  uint32_t digestBits() const noexcept { return digestBits_; }
  // 64 for digests up to 256 bits, 128 above: HMAC's padding length.
  size_t blockSize() const noexcept { return digestBits_ < 257 ? 64 : 128; }

  // The digest of what the stream yields until its end, or until it has
  // nothing more without waiting.  Other stream failures pass through.
  static plat::Buffer digestStream(uint32_t digestBits, rdr::InStream& in, bool allowSha1ForLegacyCode = false);

  // The running state as raw bytes: the library's byte counters and state
  // words in their in-memory (little-endian) form, the pending block, and
  // for SHA-2 the one-byte 224/384 flag.  restoreState() expects the
  // layout of a digest of the same size.
  void saveState(rdr::OutStream& out) const;
  void restoreState(rdr::InStream& in);

  static constexpr size_t kStateSize = 216;
  static constexpr size_t kMaxDigestSize = 64;

 private:
  uint32_t digestBits_;
  // Suitably aligned for every context; allocated once, wiped on release.
  struct alignas(8) State {
    unsigned char bytes[kStateSize];
  };
  std::unique_ptr<State> state_;
};

// Resizes out to digestBits/8 bytes and fills it with the digest of the len
// bytes at data.
void digestOneShot(uint32_t digestBits, size_t len, const void* data, plat::Buffer& out,
                   bool allowSha1ForLegacyCode = false);

}  // namespace crypto
