#pragma once
// AES-GCM record streams: crypto::TaggedOutStream and crypto::TaggedInStream
// whose records are encrypted and authenticated with AES-GCM (128- or
// 256-bit keys, 16-byte tags).  The additional data of a record is its two
// length bytes; its nonce is the stream's 12-byte nonce, which after each
// record is counted up as a 96-bit little-endian number (all twelve bytes
// take part; twelve FF bytes wrap to zero).  Both ends start from the nonce
// given with the key.  The writer never sends an empty record; the reader
// accepts one.
//
// The reader decrypts as ciphertext arrives, in whole 16-byte blocks until
// the record's last piece, so a record is released as soon as its tag has
// been checked.  A tag that does not match throws plat::Exception "AES
// authentication failure", then and on every later refill; no byte of that
// record becomes readable.
//
// Saved state: the base's, the 12-byte nonce, the cipher context (below)
// and the rest of the GCM state: the 16+16 u64 table entries, u64 data and
// additional-data lengths, the 16-byte tag counter block, working value and
// buffer, and the u32 direction.  Cipher context: u32 key bits, u8
// operation, 16 bytes of unprocessed data, u32 unprocessed length, 16-byte
// IV, u32 IV size, u8 1 when an AES key schedule follows (u32 rounds, u16
// round-key offset in bytes, 68 u32 schedule words), u8 1 when the cipher
// kind follows (u32 library cipher type).  Restoring sets the cipher up
// again from its kind and copies these fields only; no pointer travels.
// Failures of the library are crypto::MbedTlsException.

#include <cstdint>
#include <memory>

#include "qocore/base/crypto/TaggedStream.h"
#include "qocore/base/plat/MBuf.h"

struct mbedtls_gcm_context;
struct mbedtls_cipher_context_t;
struct mbedtls_aes_context;

namespace crypto {

constexpr int32_t kAesGcmNonceSize = 12;
constexpr int32_t kAesGcmTagSize = 16;

class AesGcmInStream : public TaggedInStream {
 public:
  // bufferSize 0 means 16800.
  AesGcmInStream(rdr::InStream* underlying, int32_t bufferSize);
  ~AesGcmInStream() override;

  // A key of 16 or 32 bytes and the nonce of the next record (12 bytes);
  // only between records.
  void setKey(const plat::Buffer& key, const plat::Buffer& nonce);

  void saveState(rdr::OutStream& out) override;
  void restoreState(rdr::InStream& in) override;

 protected:
  void startRecord(const uint8_t* header, int32_t len) override;
  void processPayload(uint8_t* where, int32_t count) override;
  // Throws on a mismatch, so the stream never stalls.
  bool verifyTag(const uint8_t* tag) override;

 private:
  uint8_t nonce_[kAesGcmNonceSize] = {};
  std::unique_ptr<mbedtls_gcm_context> gcm_;
};

class AesGcmOutStream : public TaggedOutStream {
 public:
  // maxPayload 0 means 6600.
  AesGcmOutStream(rdr::OutStream* underlying, int32_t maxPayload);
  ~AesGcmOutStream() override;

  // A key of 16 or 32 bytes and the nonce of the next record (12 bytes);
  // only while no payload is pending.
  void setKey(const plat::Buffer& key, const plat::Buffer& nonce);

  void saveState(rdr::OutStream& out) override;
  void restoreState(rdr::InStream& in) override;

 protected:
  bool sealRecord() override;

 private:
  uint8_t nonce_[kAesGcmNonceSize] = {};
  std::unique_ptr<mbedtls_gcm_context> gcm_;
};

// The cipher context and AES key schedule parts of a saved GCM state.
void saveCipherContext(rdr::OutStream& out, const mbedtls_cipher_context_t& ctx);
void restoreCipherContext(rdr::InStream& in, mbedtls_cipher_context_t& ctx);
void saveAesContext(rdr::OutStream& out, const mbedtls_aes_context& ctx);

}  // namespace crypto
