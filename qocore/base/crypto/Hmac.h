#pragma once
// crypto::Hmac: HMAC (RFC 2104) over crypto::Sha, SHA-1 included for
// legacy protocols.
//
// Both padded key blocks are kept, so reset() for the next message with
// the same key costs one block of hashing; the password hash runs many
// thousands of MACs through one object this way.  Use: setKey (or a key at
// construction), update..., final, then reset before the next message.

#include <cstddef>
#include <cstdint>

#include "qocore/base/crypto/Sha.h"
#include "qocore/base/plat/MBuf.h"

namespace rdr {
class InStream;
class OutStream;
}  // namespace rdr

namespace crypto {

class Hmac {
 public:
  // An empty key leaves the object unkeyed until setKey().
  explicit Hmac(uint32_t digestBits, const plat::Buffer& key = plat::Buffer());
  Hmac(uint32_t digestBits, const void* key, size_t keyLen);
  // Wipes both pad blocks.
  ~Hmac();
  Hmac(const Hmac&) = delete;
  Hmac& operator=(const Hmac&) = delete;

  // A key longer than the digest's block is replaced by its digest.  Ends
  // ready for a message.
  void setKey(const void* key, size_t len);
  void setKey(const plat::Buffer& key) { setKey(key.data(), static_cast<size_t>(key.count())); }
  // Starts a new message with the same key.
  void reset();
  void update(const void* data, size_t len);
  void update(const plat::Buffer& data) { update(data.data(), static_cast<size_t>(data.count())); }
  // Writes digestBits/8 bytes; outSize must be at least that.  Call reset()
  // before the next message.
  void final(void* out, size_t outSize);

  uint32_t digestBits() const noexcept { return sha_.digestBits(); }

  // The digest's state, then the inner and the outer pad block (128 bytes
  // each).
  void saveState(rdr::OutStream& out) const;
  void restoreState(rdr::InStream& in);

  static constexpr size_t kPadSize = 128;

 private:
  Sha sha_;
  unsigned char innerPad_[kPadSize] = {};
  unsigned char outerPad_[kPadSize] = {};
};

}  // namespace crypto
