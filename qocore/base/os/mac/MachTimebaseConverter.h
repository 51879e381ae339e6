#pragma once
// os::MachTimebaseConverter: turns host clock readings into monotonic
// 100-ns ticks.  The host timebase says how many nanoseconds a host unit
// is (numerator ÷ denominator); the converter folds the factor of 100 into
// it once, then scales each reading exactly in 96 bits.

#include <cstdint>

namespace os {

class MachTimebaseConverter {
 public:
  // `origin` is the host reading that counts as tick 0.  The denominator,
  // multiplied by 100 unless the numerator is a multiple of 100, must stay
  // below 2^32.
  MachTimebaseConverter(uint32_t numerator, uint32_t denominator, uint64_t origin) noexcept;

  // Ticks from the origin to the host reading `now`; all bits set when the
  // result needs more than 64 bits.
  uint64_t ticksAt(uint64_t now) const noexcept;

  // d × numerator ÷ denominator, truncated, computed without overflow; all
  // bits set when the quotient needs more than 64 bits.
  static uint64_t scale(uint64_t d, uint32_t numerator, uint32_t denominator) noexcept;

  // The process's converter: the host clock and timebase read once, under
  // a one-time guard, at the first use.
  static const MachTimebaseConverter& process();

  uint32_t numerator() const noexcept { return numerator_; }
  uint32_t denominator() const noexcept { return denominator_; }
  uint64_t origin() const noexcept { return origin_; }

 private:
  uint32_t numerator_;
  uint32_t denominator_;
  uint64_t origin_;
};

}  // namespace os
