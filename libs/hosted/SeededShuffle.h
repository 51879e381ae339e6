#pragma once
// The per-machine order of the bootstrap code: a shuffle driven by a
// deterministic pseudo-random stream, so one seed always gives one order.

#include <cstddef>
#include <cstdint>
#include <utility>

#include "qocore/base/rdr/InStream.h"

namespace hosted {

// Shuffles the entries from `first` to the end: for k = 1 .. n-1 a j below
// k+1 is drawn and new entries k and j are swapped.
template <typename List>
void shuffleTail(List& list, size_t first, rdr::InStream& random) {
  const size_t added = list.size() - first;
  for (size_t k = 1; k < added; k++) {
    const size_t j = random.readU32Below(static_cast<uint32_t>(k + 1));
    std::swap(list[first + k], list[first + j]);
  }
}

}  // namespace hosted
