#pragma once
// rdr::PseudoRandomStream: an input stream of pseudo-random bytes from two
// PCG32 generators (XSH-RR output over a 64-bit linear congruential state).
//
// Each refill produces an 8-byte window: one output of the first generator
// then one of the second, each as 4 little-endian bytes whatever the host,
// so a given seeding yields the same bytes everywhere.  Bytes left unread
// in a window are dropped by the next refill.  Reads are at most 8 bytes at
// a time; a larger request fails with "InStream overrun: buffer size
// exceeded".  The stream cannot rewind.

#include <cstdint>

#include "qocore/base/rdr/InStream.h"

namespace rdr {

class PseudoRandomStream : public InStream {
 public:
  // One PCG32 step: advances state and answers the output of the old state.
  static uint32_t step(uint64_t& state, uint64_t increment) noexcept;

  // Generators with the given states and increments.
  PseudoRandomStream(uint64_t state1, uint64_t increment1, uint64_t state2, uint64_t increment2) noexcept;
  // The deterministic seeding: each generator starts from state 0 with
  // increment 1 (first) or 3 (second), steps once, adds the seed to its
  // state and steps again.
  explicit PseudoRandomStream(uint64_t seed) noexcept;

  int32_t pos() override;

 protected:
  bool overrun(int32_t needed) override;

 private:
  uint64_t state_[2];
  uint64_t increment_[2];
  uint8_t window_[8];
  // Bytes consumed from earlier windows.
  int32_t consumed_ = 0;
};

}  // namespace rdr
