#pragma once
// The "P2a" password-hash record kept for stored passwords: PBKDF2 with
// HMAC-SHA-512 over a random 16-byte salt, 87 bytes without padding:
//
//   offset  0   3 bytes  "P2a" (no NUL)
//   offset  3   4 bytes  round count, big-endian, 1 to 20000000
//   offset  7  16 bytes  salt
//   offset 23  64 bytes  PBKDF2-HMAC-SHA-512 of the password (dkLen 64)
//
// Checking runs exactly the stored number of rounds, with no time limit.

#include <cstddef>
#include <cstdint>

#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/MBuf.h"

namespace crypto {

constexpr size_t kPasswordHashRecordSize = 87;
constexpr uint32_t kPasswordHashMaxRounds = 20000000;

// "PasswordHashRounds": the rounds of new records (default 20000, 1000 to
// 20000000).
extern plat::IntParameter passwordHashRounds;

// A new record (secure buffer); empty for a null password.  rounds below 1
// takes PasswordHashRounds; larger values are capped at 20000000.
// Failures of the random source propagate.
plat::Buffer makePasswordHash(const char* password, int32_t rounds);

// True when record is a valid P2a record of len bytes and the NUL-terminated
// password gives the same derived key; false otherwise, and for a null
// password.
bool verifyPasswordHashRecord(const char* password, size_t len, const unsigned char* record);

// True when len is 87 and data begins with "P2a"; nothing else is checked.
bool isPasswordHash(size_t len, const unsigned char* data) noexcept;

// Test seam: the derivation both operations above run (PBKDF2-HMAC-SHA-512,
// 64 bytes), replaceable so that tests can see the round counts handed to
// it without paying for twenty million HMACs.  Null restores the real one;
// returns the previous one.
using PasswordHashDeriveFn = plat::Buffer (*)(const char* password, const plat::Buffer& salt, uint32_t rounds);
PasswordHashDeriveFn setPasswordHashDerive(PasswordHashDeriveFn derive) noexcept;

}  // namespace crypto
