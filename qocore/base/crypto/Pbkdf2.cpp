#include "qocore/base/crypto/Pbkdf2.h"

#include <cstring>

#include "qocore/base/crypto/RandomStream.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/Time.h"

namespace crypto {

namespace {
// Far above any key a caller derives, and small enough that the block
// buffers' sizes stay well inside an int.
constexpr uint32_t kMaxDkLen = 1u << 20;
constexpr uint32_t kMaxSaltLen = 1u << 20;
}  // namespace

Pbkdf2::Pbkdf2(const char* password, const plat::Buffer& salt, uint32_t rounds, uint32_t dkLen, uint32_t digestBits)
    : hmac_(digestBits), salt_(salt.data(), salt.count(), true), hLen_(digestBits / 8) {
  PLAT_ASSERT(rounds >= 1);
  start(password, dkLen);
  firstRound();
  if (rounds > 1) moreRounds(rounds - 1);
  finish();
}

Pbkdf2::Pbkdf2(Timed, const char* password, uint32_t dkLen, uint32_t saltLen, uint32_t budgetMs, uint32_t digestBits)
    : hmac_(digestBits), salt_(0, true), hLen_(digestBits / 8) {
  PLAT_ASSERT(saltLen <= kMaxSaltLen);
  if (saltLen > 0) {
    RandomStream random;
    plat::Buffer drawn(random, static_cast<int>(saltLen), true);
    salt_ = std::move(drawn);
  }
  start(password, dkLen);
  firstRound();
  const plat::TimeValue deadline =
      plat::getMonotonicTime() + static_cast<plat::TimeValue>(budgetMs) * plat::kTicksPerMs;
  moreRounds(kTimedBatch - 1);
  while (roundsDone_ < kTimedMaxRounds && plat::getMonotonicTime() < deadline) moreRounds(kTimedBatch);
  finish();
}

Pbkdf2::~Pbkdf2() = default;

void Pbkdf2::start(const char* password, uint32_t dkLen) {
  PLAT_ASSERT(password);
  PLAT_ASSERT(dkLen >= 1 && dkLen <= kMaxDkLen);
  dkLen_ = dkLen;
  hmac_.setKey(password, std::strlen(password));
  const uint32_t blocks = (dkLen + hLen_ - 1) / hLen_;
  derivedKey_ = plat::Buffer(static_cast<int>(blocks * hLen_), true);
  previous_ = plat::Buffer(static_cast<int>(blocks * hLen_), true);
}

void Pbkdf2::firstRound() {
  const uint32_t blocks = static_cast<uint32_t>(derivedKey_.count()) / hLen_;
  for (uint32_t i = 1; i <= blocks; ++i) {
    const unsigned char index[4] = {static_cast<unsigned char>(i >> 24), static_cast<unsigned char>(i >> 16),
                                    static_cast<unsigned char>(i >> 8), static_cast<unsigned char>(i)};
    hmac_.update(salt_.data(), static_cast<size_t>(salt_.count()));
    hmac_.update(index, sizeof index);
    hmac_.final(derivedKey_.data() + (i - 1) * hLen_, hLen_);
    hmac_.reset();
  }
  std::memcpy(previous_.data(), derivedKey_.data(), static_cast<size_t>(derivedKey_.count()));
  roundsDone_ = 1;
}

void Pbkdf2::moreRounds(uint32_t n) {
  const uint32_t blocks = static_cast<uint32_t>(derivedKey_.count()) / hLen_;
  for (uint32_t b = 0; b < blocks; ++b) {
    unsigned char* u = previous_.data() + b * hLen_;
    unsigned char* t = derivedKey_.data() + b * hLen_;
    for (uint32_t r = 0; r < n; ++r) {
      hmac_.update(u, hLen_);
      hmac_.final(u, hLen_);
      hmac_.reset();
      for (uint32_t k = 0; k < hLen_; ++k) t[k] ^= u[k];
    }
  }
  roundsDone_ += n;
}

void Pbkdf2::finish() {
  derivedKey_.resize(static_cast<int>(dkLen_));
  previous_.release();
}

}  // namespace crypto
