#include "qocore/base/os/mac/MachTimebaseConverter.h"

#include "platform/hostclock/HostClock.h"
#include "qocore/base/plat/Exception.h"

namespace os {

MachTimebaseConverter::MachTimebaseConverter(uint32_t numerator, uint32_t denominator, uint64_t origin) noexcept
    : numerator_(numerator), denominator_(denominator), origin_(origin) {
  // Host units × numerator ÷ denominator are nanoseconds; ticks are 100 of them.
  if (numerator_ % 100 == 0) {
    numerator_ /= 100;
  } else {
    PLAT_ASSERT(denominator_ != 0 && denominator_ <= UINT32_MAX / 100);
    denominator_ *= 100;
  }
  PLAT_ASSERT(denominator_ != 0);
}

uint64_t MachTimebaseConverter::ticksAt(uint64_t now) const noexcept {
  return scale(now - origin_, numerator_, denominator_);
}

uint64_t MachTimebaseConverter::scale(uint64_t d, uint32_t numerator, uint32_t denominator) noexcept {
  // d × numerator is a 96-bit number: (hi × numerator) << 32 + lo × numerator.
  // Long division by the 32-bit denominator, 64 bits at a time.
  uint64_t lowProduct = (d & 0xffffffffu) * numerator;
  uint64_t upper = (d >> 32) * numerator + (lowProduct >> 32);
  uint64_t upperQuotient = upper / denominator;
  if (upperQuotient >> 32) return ~uint64_t{0};
  uint64_t remainder = upper % denominator;
  return (upperQuotient << 32) + (((remainder << 32) | (lowProduct & 0xffffffffu)) / denominator);
}

const MachTimebaseConverter& MachTimebaseConverter::process() {
  static const MachTimebaseConverter converter = [] {
    uint64_t origin = hostclock::hostAbsoluteTime();
    hostclock::HostTimebase timebase;
    int rv = hostclock::hostTimebase(timebase);
    PLAT_ASSERT(rv == 0);
    return MachTimebaseConverter(timebase.numerator, timebase.denominator, origin);
  }();
  return converter;
}

}  // namespace os
