#pragma once
// RSA keys and every RSA operation: RSASSA-PSS and PKCS #1 v1.5
// signatures, RSAES-OAEP and PKCS #1 v1.5 encryption, key generation in
// time slices on the loop, the system's stream format for keys, signatures
// and ciphertexts, PEM/DER import and DER export of public keys.  The
// arithmetic and paddings are mbedtls's.
//
// Key stream format (big-endian; byteLen = ceil(bits/8), halfLen =
// ceil(ceil(bits/2)/8)):
//   u32 bits (0xFFFFFFFF: no key, nothing follows), N in byteLen bytes,
//   E in byteLen bytes or (variable form) as a u16-prefixed number,
//   then for private keys D in byteLen bytes and P, Q, DP, DQ, QP in
//   halfLen bytes each.
// Signatures and ciphertexts travel as a u16 length and the bytes; readers
// accept only the key's byteLen.
//
// Readers run on non-blocking input: they answer false while the stream
// has not delivered the whole item and keep what they have; once it is
// complete they mark it consumed (stream checkpoint) and answer true.
// After a failed read, reset() the key before using it again.  A modulus
// whose bit length is not exactly the announced bits is refused with
// "Unsupported RSA key length" and leaves the key already reset, unlike
// other failures: the library would size its outputs by the announcement.
//
// Hash sizes are digest bits: 160 (PKCS #1 v1.5 signatures only), 256 or
// 512.  Another size is a failed assertion.  Failures of the library are
// crypto::MbedTlsException.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/MBuf.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/Timer.h"
#include "qocore/base/rdr/ByteReader.h"

struct mbedtls_mpi;
struct mbedtls_rsa_context;

namespace rdr {
class InStream;
class OutStream;
}  // namespace rdr

namespace crypto {

class RsaKey {
 public:
  enum class Padding { kPkcs1v15, kPkcs1v21 };

  RsaKey();
  // Virtual: keys are owned through RsaKeyPtr whatever their kind.
  virtual ~RsaKey();
  RsaKey(const RsaKey&) = delete;
  RsaKey& operator=(const RsaKey&) = delete;

  // Empties the key and abandons a read in progress.
  void reset();
  // The whole key of `other` (nothing when it is this key).
  void copy(const RsaKey& other);
  // The public half of `other`.
  void setPublicFrom(const RsaKey& other);

  // Bit length of N; 0 for an empty key.
  int32_t bits() const;
  bool publicEquals(const RsaKey& other) const;
  // "RSA key with %d bits".
  plat::CharArray description() const;

  [[nodiscard]] bool readPublic(rdr::InStream& in, bool variableE);
  void writePublic(rdr::OutStream& out, bool variableE) const;
  // A u16-prefixed block whose length must be expectedLen; true with the
  // block once complete.
  [[nodiscard]] bool readBlock(rdr::InStream& in, int32_t expectedLen, plat::Buffer& block);

  // One encryption (out: byteLen bytes) or decryption (out: the plaintext)
  // with the padding and, for version 2.1, the hash (shaLen 0 for version
  // 1.5).  Decryption takes the first byteLen bytes of data.
  void encrypt(size_t len, const void* data, plat::Buffer& out, Padding padding, uint32_t shaLen);
  void decrypt(const plat::Buffer& data, plat::Buffer& out, Padding padding, uint32_t shaLen);

  // One step of generating a key of nbits with the exponent already set:
  // true once the key is complete, false when the deadline (monotonic
  // ticks) came first.  A prime already found is kept for the next step.
  [[nodiscard]] bool generateStep(uint32_t nbits, plat::TimeValue deadline);

 protected:
  int32_t byteLen() const;
  void writeBlock(rdr::OutStream& out, const plat::Buffer& block);

  std::unique_ptr<mbedtls_rsa_context> ctx_;
  // The size announced by a read in progress; 0 when none is.
  uint32_t pendingBits_ = 0;
  rdr::ByteReader reader_;

 private:
  // A prime of nbits into x; false (x zero) when the deadline came first.
  [[nodiscard]] static bool generatePrime(mbedtls_mpi& x, uint32_t nbits, plat::TimeValue deadline);
};

class RsaPublicKey : public RsaKey {
 public:
  [[nodiscard]] bool read(rdr::InStream& in, bool variableE);
  void write(rdr::OutStream& out, bool variableE) const { writePublic(out, variableE); }

  // The first public key of a PEM text (searched from its start) or a
  // DER SubjectPublicKeyInfo; only RSA keys are taken.
  void setFromPem(const char* text);
  void setFromPem(const void* data, size_t len);
  // The key after each "-----BEGIN " of the text, where one parses.
  static std::vector<std::unique_ptr<RsaPublicKey>> readAllFromPem(const char* text);
  // DER SubjectPublicKeyInfo.
  plat::Buffer toDer() const;

  // RSAES-OAEP (MGF1 with the same hash, empty label), SHA-256 or SHA-512;
  // writes the ciphertext as a block.
  void encrypt(rdr::OutStream& out, size_t len, const void* data, uint32_t shaLen);
  void encryptPkcs1v15(rdr::OutStream& out, size_t len, const void* data);

  // RSASSA-PSS with MGF1 on the same hash and a salt as long as the hash
  // (any salt length with anySaltLength).  Returns or throws.
  void verify(size_t sigLen, const void* sig, size_t len, const void* data, uint32_t shaLen, bool anySaltLength);
  [[nodiscard]] bool verifyFromStream(rdr::InStream& in, size_t len, const void* data, uint32_t shaLen,
                                      bool anySaltLength);
  void verifyPkcs1v15(size_t sigLen, const void* sig, size_t len, const void* data, uint32_t shaLen);
  [[nodiscard]] bool verifyPkcs1v15FromStream(rdr::InStream& in, size_t len, const void* data, uint32_t shaLen);
};

class RsaPrivateKey : public plat::Timer::Callback, public RsaKey {
 public:
  // Told of a finished generation; may delete the key.
  class GenerateCallback {
   public:
    virtual void keyGenerated(RsaPrivateKey* key) = 0;

   protected:
    ~GenerateCallback() = default;
  };

  RsaPrivateKey();
  // A generation in progress is abandoned without telling its callback.
  ~RsaPrivateKey() override;
  RsaPrivateKey& operator=(const RsaPrivateKey& other);

  [[nodiscard]] bool read(rdr::InStream& in);
  void write(rdr::OutStream& out) const;

  // PSS (salt as long as the hash) or PKCS #1 v1.5; the signature is
  // written as a block.
  void sign(rdr::OutStream& out, size_t len, const void* data, uint32_t shaLen);
  void signPkcs1v15(rdr::OutStream& out, size_t len, const void* data, uint32_t shaLen);
  // Reads a ciphertext block and decrypts it (OAEP).
  [[nodiscard]] bool decrypt(rdr::InStream& in, plat::Buffer& out, uint32_t shaLen);
  // PKCS #1 v1.5.  With expectedLen 0 or more, bad padding or a plaintext
  // of another length yields expectedLen random bytes instead, so that the
  // caller cannot tell (and a wrong plaintext shows only later).
  [[nodiscard]] bool decryptPkcs1v15(rdr::InStream& in, plat::Buffer& out, int32_t expectedLen);
  // The library's consistency check of the private key.
  void check();

  // A new key of `RsaModulusBits` bits, handed to callback when done: in
  // slices of about 10 ms on a timer of the calling thread (which needs a
  // plat::TimerManager) in the background, else before returning.
  void generate(GenerateCallback* callback, bool inBackground);

  bool timerExpired(plat::Timer* timer) override;

 private:
  // One slice; true once the key is done and handed over.
  bool generateSlice();

  uint32_t generateBits_ = 0;
  plat::Timer timer_{this};
  GenerateCallback* generateCb_ = nullptr;
};

// Owns one heap key of any kind.
class RsaKeyPtr {
 public:
  RsaKeyPtr() noexcept = default;
  explicit RsaKeyPtr(RsaKey* key) noexcept : key_(key) {}

  // Deletes the key and clears the holder.
  void reset(RsaKey* key = nullptr) noexcept { key_.reset(key); }
  RsaKey* get() const noexcept { return key_.get(); }
  RsaKey* operator->() const noexcept { return key_.get(); }
  RsaKey& operator*() const noexcept { return *key_; }
  explicit operator bool() const noexcept { return key_ != nullptr; }

 private:
  std::unique_ptr<RsaKey> key_;
};

}  // namespace crypto
