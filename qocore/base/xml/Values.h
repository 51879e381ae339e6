#pragma once
// Reading attribute and text values.  Each returns the given default when
// the text is null or empty; numbers are the leading decimal number of the
// text (after optional white space and sign), 0 when there is none, and
// are clamped to the result's range.

#include <cstdint>

namespace xml {

int16_t textToShort(const char* text, int16_t defaultValue) noexcept;
int32_t textToInt(const char* text, int32_t defaultValue) noexcept;
int64_t textToInt64(const char* text, int64_t defaultValue) noexcept;
double textToDouble(const char* text, double defaultValue) noexcept;
// The first byte.
char textToChar(const char* text, char defaultValue) noexcept;
// The text itself, or the default when it is null (an empty text stays).
const char* textOr(const char* text, const char* defaultValue) noexcept;

}  // namespace xml
