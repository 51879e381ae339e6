#pragma once
// plat::Uuid: a 16-byte identifier.  Text form: 32 lower-case hex digits,
// dashed as 8-4-4-4-12 when asked.  Ordered bytewise.

#include <compare>
#include <cstring>
#include <set>

#include "qocore/base/plat/CharArray.h"

namespace plat {

class DString;

struct Uuid {
  unsigned char bytes[16] = {};

  // A null or empty text gives 16 zero bytes.  Otherwise 16 pairs of hex
  // digits, each pair optionally preceded by one '-', and nothing after.
  [[nodiscard]] static bool tryParse(Uuid& out, const char* text) noexcept;
  // The same, throwing Exception "Invalid Uuid '<text>'".
  static Uuid parse(const char* text);
  static CharArray toString(const unsigned char* bytes, bool dashed);
  CharArray toString(bool dashed = true) const { return toString(bytes, dashed); }

  friend std::strong_ordering operator<=>(const Uuid& a, const Uuid& b) noexcept {
    return std::memcmp(a.bytes, b.bytes, sizeof a.bytes) <=> 0;
  }
  friend bool operator==(const Uuid& a, const Uuid& b) noexcept {
    return std::memcmp(a.bytes, b.bytes, sizeof a.bytes) == 0;
  }
};

using UuidSet = std::set<Uuid>;

// Comma-separated identifiers (empty pieces skipped).
UuidSet uuidSetFromList(const char* text);
template <typename Strings>
UuidSet uuidSetFromStrings(const Strings& strings) {
  UuidSet set;
  for (const auto& s : strings) set.insert(Uuid::parse(s.c_str()));
  return set;
}
// The dashed forms in set order, joined with ",".
CharArray uuidSetToString(const UuidSet& set);

}  // namespace plat
