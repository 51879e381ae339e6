#include "qocore/base/rdr/PseudoRandomStream.h"

namespace rdr {

namespace {
constexpr uint64_t kMultiplier = 0x5851F42D4C957F2DULL;

void storeLittleEndian(uint8_t* out, uint32_t v) noexcept {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
}
}  // namespace

uint32_t PseudoRandomStream::step(uint64_t& state, uint64_t increment) noexcept {
  uint64_t old = state;
  state = old * kMultiplier + (increment | 1);
  uint32_t mixed = static_cast<uint32_t>((old >> 45) ^ (old >> 27));
  unsigned rot = static_cast<unsigned>(old >> 59);
  return (mixed >> rot) | (mixed << ((32 - rot) & 31));
}

PseudoRandomStream::PseudoRandomStream(uint64_t state1, uint64_t increment1, uint64_t state2,
                                       uint64_t increment2) noexcept
    : state_{state1, state2}, increment_{increment1, increment2} {
  rewindable_ = false;
  ptr_ = end_ = window_;
}

PseudoRandomStream::PseudoRandomStream(uint64_t seed) noexcept : PseudoRandomStream(0, 1, 0, 3) {
  for (int g = 0; g < 2; ++g) {
    step(state_[g], increment_[g]);
    state_[g] += seed;
    step(state_[g], increment_[g]);
  }
}

int32_t PseudoRandomStream::pos() { return consumed_ + static_cast<int32_t>(ptr_ - window_); }

bool PseudoRandomStream::overrun(int32_t needed) {
  consumed_ += static_cast<int32_t>(ptr_ - window_);
  ptr_ = end_ = window_;
  // An empty window makes the caller report the oversized request.
  if (needed > static_cast<int32_t>(sizeof(window_))) return true;
  storeLittleEndian(window_, step(state_[0], increment_[0]));
  storeLittleEndian(window_ + 4, step(state_[1], increment_[1]));
  end_ = window_ + sizeof(window_);
  return true;
}

}  // namespace rdr
