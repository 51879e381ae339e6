#include "qocore/base/crypto/RandomStream.h"

#include <unistd.h>

#include <cstring>
#include <memory>

#include "qocore/base/crypto/Hmac.h"
#include "qocore/base/os/RandomBytes.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Mutex.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/plat/Strings.h"

namespace crypto {

namespace {

constexpr size_t kSeedSize = 32;
constexpr size_t kStateSize = 32;

// Serialises the generator's users; constant-initialised and never
// destroyed, so streams made during start-up or exit may still take it.
constinit plat::Mutex generatorMutex;

// HMAC_DRBG state.  K and V are touched only under generatorMutex.
struct Generator {
  uint8_t k[kStateSize];
  uint8_t v[kStateSize];
  // The process that seeded (or last reseeded) the state.
  pid_t pid;
};

// Set once the generator exists; it lives until exit.
Generator* theGenerator = nullptr;

// Update with provided data (absent when data is null): K and V absorb it.
void update(Generator& g, const uint8_t* data, size_t len) {
  Hmac hmac(256);
  const uint8_t rounds = data ? 2 : 1;
  for (uint8_t round = 0; round < rounds; ++round) {
    hmac.setKey(g.k, kStateSize);
    hmac.update(g.v, kStateSize);
    hmac.update(&round, 1);
    if (data) hmac.update(data, len);
    hmac.final(g.k, kStateSize);
    hmac.setKey(g.k, kStateSize);
    hmac.update(g.v, kStateSize);
    hmac.final(g.v, kStateSize);
  }
}

// Fresh entropy from the operating system, absorbed as provided data.
void seed(Generator& g) {
  uint8_t entropy[kSeedSize];
  os::getRandomBytes(entropy, sizeof entropy);
  update(g, entropy, sizeof entropy);
  plat::secureZero(entropy, sizeof entropy);
  g.pid = getpid();
}

Generator* instantiate() {
  auto g = std::make_unique<Generator>();
  std::memset(g->k, 0x00, kStateSize);
  std::memset(g->v, 0x01, kStateSize);
  seed(*g);
  theGenerator = g.release();
  return theGenerator;
}

Generator& generator() {
  // A throwing initialiser leaves the static uninitialised: the next
  // caller tries again.
  static Generator* g = instantiate();
  return *g;
}

}  // namespace

// The stream holds the lock for its whole life, from the constructor to
// the destructor, which the scope-based analysis cannot follow.
RandomStream::RandomStream() PLAT_NO_THREAD_SAFETY_ANALYSIS : mutex_(generatorMutex) {
  rewindable_ = false;
  generator();
  mutex_.lock();
  plat::ScopeExit unlock([this]() PLAT_NO_THREAD_SAFETY_ANALYSIS { mutex_.unlock(); });
  refill();
  unlock.dismiss();
}

RandomStream::~RandomStream() PLAT_NO_THREAD_SAFETY_ANALYSIS {
  plat::secureZero(buf_, sizeof buf_);
  mutex_.unlock();
}

const uint8_t* RandomStream::getItems(int32_t itemSize, int32_t* nItems, bool wait) {
  if (itemSize > kBufSize) throw plat::Exception("item size too large");
  return InStream::getItems(itemSize, nItems, wait);
}

bool RandomStream::overrun(int32_t needed) {
  // Readers of longer blocks take them in pieces; what is left is part of
  // the next piece.
  if (needed > kBufSize && ptr_ < end_) return true;
  refill();
  return true;
}

void RandomStream::refill() {
  Generator& g = *theGenerator;
  // A forked child starts with its parent's state: it must not repeat the
  // parent's bytes.
  if (getpid() != g.pid) seed(g);
  Hmac hmac(256, g.k, kStateSize);
  hmac.update(g.v, kStateSize);
  hmac.final(g.v, kStateSize);
  std::memcpy(buf_, g.v, kBufSize);
  update(g, nullptr, 0);
  ptr_ = buf_;
  end_ = buf_ + kBufSize;
}

}  // namespace crypto
