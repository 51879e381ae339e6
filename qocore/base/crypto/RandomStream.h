#pragma once
// crypto::RandomStream: the system's cryptographically strong random bytes,
// read like any input stream; a read never runs short and never ends.
//
// Behind every stream is one process-wide HMAC_DRBG (HMAC-SHA-256, NIST
// SP 800-90A) seeded from the operating system when the first stream is
// made.  A stream holds the generator's recursive mutex for its whole
// life, so one thread at a time draws from it (a thread may hold several
// streams) and a stream in one thread makes every other thread's new
// stream wait: keep streams short-lived locals.
//
// A forked child reseeds before its first draw, so parent and child never
// see the same bytes.  Hold no stream across fork(): the child would
// inherit the lock.

#include <cstddef>
#include <cstdint>

#include "qocore/base/plat/Mutex.h"
#include "qocore/base/rdr/InStream.h"

namespace crypto {

class RandomStream : public rdr::InStream {
 public:
  // Seeds the generator on first use (an entropy failure propagates and
  // the next stream tries again), takes its lock and draws the first 16
  // bytes.
  RandomStream();
  // Wipes the stream's bytes and releases the lock.
  ~RandomStream() override;

  // Cannot be rewound; positions mean nothing.
  int32_t pos() override { return 0; }

  static constexpr int32_t kBufSize = 16;

  // Items of at most 16 bytes; a larger one is refused with Exception
  // "item size too large" and the stream stays usable.  (Through an
  // rdr::InStream reference the base's own refusal text is seen.)
  const uint8_t* getItems(int32_t itemSize, int32_t* nItems, bool wait = true);

 protected:
  // Draws the next 16 bytes.  A larger request is served in pieces of at
  // most 16 bytes: unread bytes are handed out first.
  bool overrun(int32_t needed) override PLAT_REQUIRES(mutex_);

 private:
  void refill() PLAT_REQUIRES(mutex_);

  // The generator's lock, held from construction to destruction.
  plat::Mutex& mutex_;
  uint8_t buf_[kBufSize];
};

// The random callback handed to mbedtls operations (its f_rng with
// p_rng = source).  A non-null source is an rdr::InStream whose bytes are
// used first, until it ends; the rest comes from a new RandomStream.
// Answers 0, or mbedtls's entropy-source failure code when either source
// throws anything; never throws itself.
int mbedtlsRandom(void* source, unsigned char* buf, size_t len) noexcept;

}  // namespace crypto
