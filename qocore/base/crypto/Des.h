#pragma once
// crypto::Des: single DES with an explicit key schedule held by the caller.
//
// This is our own DES, not the TLS library's, because of one deliberate
// difference: key bit k (1..64) is bit (k-1) mod 8 of key byte (k-1) div 8
// counted from the least significant bit, where standard DES counts from the
// most significant one.  So this cipher under a key equals standard DES under
// the same key with the bits of every byte reversed, and the bits ignored as
// parity are the top bits of the key bytes.  Data blocks are standard: two
// big-endian 32-bit halves in and out.

#include <cstdint>

namespace crypto {

class Des {
 public:
  static constexpr int kKeySize = 8;
  static constexpr int kBlockSize = 8;
  static constexpr int kScheduleSize = 256;

  // 32 words, two per round in the order the rounds use them; each carries
  // a 32-bit value in its low half.  The first word of a round holds the
  // 6-bit subkey groups of S-boxes 1, 3, 5, 7, the second those of 2, 4, 6,
  // 8, one group in the low six bits of each byte, the lower-numbered S-box
  // in the higher byte.  A decryption schedule lists the rounds in reverse.
  // The words are key material: the destructor wipes them.
  struct Schedule {
    uint64_t words[32] = {};
    Schedule() noexcept = default;
    Schedule(const Schedule&) = delete;
    Schedule& operator=(const Schedule&) = delete;
    ~Schedule();
  };
  static_assert(sizeof(Schedule) == kScheduleSize);

  enum Direction { kEncrypt = 0, kDecrypt = 1 };

  // Zero the schedule, then build it for the given direction.
  static void setEncryptKey(Schedule& schedule, const uint8_t key[kKeySize]) noexcept;
  static void setDecryptKey(Schedule& schedule, const uint8_t key[kKeySize]) noexcept;
  // Fills every slot of the schedule from the key.
  static void buildSchedule(const uint8_t key[kKeySize], int direction, Schedule& schedule) noexcept;
  // One block through the schedule; `in` and `out` may be the same place.
  static void processBlock(const Schedule& schedule, const uint8_t in[kBlockSize], uint8_t out[kBlockSize]) noexcept;
  // Copy the schedule's 256 bytes out or in, as they lie in memory.
  static void saveSchedule(const Schedule& schedule, uint8_t copy[kScheduleSize]) noexcept;
  static void loadSchedule(Schedule& schedule, const uint8_t copy[kScheduleSize]) noexcept;
  static void clear(Schedule& schedule) noexcept;
};

}  // namespace crypto
