#include "qocore/base/crypto/RandomStream.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "qocore/base/crypto/Hmac.h"
#include "qocore/base/os/RandomBytes.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Mutex.h"
#include "qocore/base/plat/Strings.h"

namespace crypto {

namespace {

constexpr size_t kSeedSize = 32;
constexpr size_t kStateSize = 32;

// HMAC_DRBG state.  K and V are touched only under the mutex.
struct Generator {
  pthread_mutex_t mutex;
  uint8_t k[kStateSize];
  uint8_t v[kStateSize];
  // The process that seeded (or last reseeded) the state.
  pid_t pid;
};

// Set once the generator exists; it lives until exit.
Generator* theGenerator = nullptr;

void destroyMutexAtExit() { pthread_mutex_destroy(&theGenerator->mutex); }

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
  Generator* g = new Generator;
  pthread_mutex_init(&g->mutex, plat::recursiveMutexAttr());
  std::memset(g->k, 0x00, kStateSize);
  std::memset(g->v, 0x01, kStateSize);
  try {
    seed(*g);
  } catch (...) {
    pthread_mutex_destroy(&g->mutex);
    delete g;
    throw;
  }
  theGenerator = g;
  std::atexit(destroyMutexAtExit);
  return g;
}

Generator& generator() {
  // A throwing initialiser leaves the static uninitialised: the next
  // caller tries again.
  static Generator* g = instantiate();
  return *g;
}

}  // namespace

RandomStream::RandomStream() {
  rewindable_ = false;
  mutex_ = &generator().mutex;
  pthread_mutex_lock(mutex_);
  try {
    refill();
  } catch (...) {
    pthread_mutex_unlock(mutex_);
    throw;
  }
}

RandomStream::~RandomStream() {
  plat::secureZero(buf_, sizeof buf_);
  pthread_mutex_unlock(mutex_);
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
