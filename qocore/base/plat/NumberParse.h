#pragma once
// The number parsers whose failures become BadNum.
//
// Each parser reads one number with the C library at `cursor` (leading
// white space and a sign as the C library takes them; base 0 takes "0x"
// and leading-zero octal) and on success stores it, moves the cursor past
// it and returns true.  On failure `out` and the cursor are unchanged.  A
// null text fails.  errno is the same afterwards as before.

#include <cstdint>

namespace plat {

// Fails without a digit or outside the int32_t range.
[[nodiscard]] bool parseInt(int32_t& out, const char*& cursor, int base = 10);
// Fails without a digit, above UINT32_MAX, or on a "-" ("-1" is refused,
// not wrapped).
[[nodiscard]] bool parseUInt(uint32_t& out, const char*& cursor, int base = 10);
// Fails without a digit or outside the int64_t range.
[[nodiscard]] bool parseS64(int64_t& out, const char*& cursor, int base = 10);
// Fails without a digit, on a "-", or above UINT64_MAX.
[[nodiscard]] bool parseU64(uint64_t& out, const char*& cursor, int base = 10);

// The same, returning the value or throwing BadNum "Failed to parse
// integer" (32-bit forms), "Failed to parse S64 integer" or "Failed to
// parse U64 integer".
int32_t parseIntOrThrow(const char*& cursor, int base = 10);
uint32_t parseUIntOrThrow(const char*& cursor, int base = 10);
int64_t parseS64OrThrow(const char*& cursor, int base = 10);
uint64_t parseU64OrThrow(const char*& cursor, int base = 10);

// The whole text must be the number; the same messages.
int64_t parseS64Whole(const char* text, int base = 10);
uint64_t parseU64Whole(const char* text, int base = 10);

// The whole text must be a number within [minimum, maximum]; otherwise
// BadNum with `message`, or "Failed to parse integer" when it is null.
int32_t parseIntRange(const char* text, int base, const char* message, int32_t minimum, int32_t maximum);
uint32_t parseUIntRange(const char* text, int base, const char* message, uint32_t minimum, uint32_t maximum);

}  // namespace plat
