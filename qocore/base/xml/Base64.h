#pragma once
// Base64 (RFC 4648 alphabet with "=" padding) for binary content of
// documents.

#include <cstddef>

#include "qocore/base/plat/CharArray.h"

namespace xml {

// The room an encoding of n bytes is given, NUL included:
// ((n - 1) / 3) * 4 + 5, plus n / 54 line feeds when formatted; -1 when
// that room is more than an int counts.
[[nodiscard]] int base64EncodedSize(int length, bool formatted) noexcept;

// The encoded text; formatted puts a line feed after every 72 characters
// that more characters follow.  Throws plat::Exception for data whose
// encoding an int cannot count.
plat::CharArray base64Encode(const unsigned char* data, int length, bool formatted);

// The number of bytes a text decodes to, white space (tab, line feed,
// carriage return, blank) skipped.  *error (when given) receives 0, 17 for
// a length that is not a multiple of 4, or 18 for an illegal character.
int base64DecodedSize(const char* text, int* error = nullptr) noexcept;

// Decodes into out (outSize bytes).  Returns 0, or 17 (length not a
// multiple of 4), 18 (illegal character), 19 (padding before the end of
// the data: truncated) or 20 (output too small).  *written (when given)
// receives the number of bytes decoded.
int base64Decode(const char* text, unsigned char* out, int outSize, int* written = nullptr) noexcept;

}  // namespace xml
