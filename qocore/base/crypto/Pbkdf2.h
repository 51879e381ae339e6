#pragma once
// crypto::Pbkdf2: PBKDF2 (RFC 8018, section 5.2) with HMAC over crypto::Sha
// as the pseudo-random function.
//
// The blocks are computed side by side: the first round gives every
// block's U1, and each further round moves every block on by one HMAC.  So
// a derivation can be continued (moreRounds) until a time budget is spent,
// and the result is always that of PBKDF2 with roundsDone() iterations.
//
// The password is a NUL-terminated text whose bytes without the NUL are
// the HMAC key; the empty text is a key of length 0.  Misuse (a null
// password, no rounds, no output length) is a failed assertion.

#include <cstdint>

#include "qocore/base/crypto/Hmac.h"
#include "qocore/base/plat/MBuf.h"

namespace crypto {

class Pbkdf2 {
 public:
  // dkLen bytes of PBKDF2 of password and salt with `rounds` iterations of
  // HMAC with the digest of digestBits (160 for SHA-1, 224 to 512).
  Pbkdf2(const char* password, const plat::Buffer& salt, uint32_t rounds, uint32_t dkLen, uint32_t digestBits);
  // With a random salt of saltLen bytes, running rounds in batches of
  // 10000 while the monotonic clock has not passed budgetMs milliseconds
  // since the first round: at least 10000 rounds, a whole multiple of
  // 10000, at most 10000000.
  struct Timed {};
  Pbkdf2(Timed, const char* password, uint32_t dkLen, uint32_t saltLen, uint32_t budgetMs, uint32_t digestBits);
  // Wipes the derived key, the salt and the block state.
  ~Pbkdf2();
  Pbkdf2(const Pbkdf2&) = delete;
  Pbkdf2& operator=(const Pbkdf2&) = delete;

  // dkLen bytes, secure.
  const plat::Buffer& derivedKey() const noexcept { return derivedKey_; }
  const plat::Buffer& salt() const noexcept { return salt_; }
  uint32_t roundsDone() const noexcept { return roundsDone_; }
  uint32_t hLen() const noexcept { return hLen_; }

  static constexpr uint32_t kTimedBatch = 10000;
  static constexpr uint32_t kTimedMaxRounds = 10000000;

 private:
  // Sets the key and the sizes; the salt is already in place.
  void start(const char* password, uint32_t dkLen);
  // U1 of every block, kept as the block's value and as its previous U.
  void firstRound();
  // n further iterations on every block.
  void moreRounds(uint32_t n);
  // Cuts the blocks to dkLen bytes and drops the working state.
  void finish();

  Hmac hmac_;
  plat::Buffer derivedKey_{0, true};
  plat::Buffer salt_{0, true};
  // The previous U of every block, side by side like the derived key.
  plat::Buffer previous_{0, true};
  uint32_t roundsDone_ = 0;
  uint32_t hLen_;
  uint32_t dkLen_ = 0;
};

}  // namespace crypto
