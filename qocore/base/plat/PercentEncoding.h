#pragma once
// Percent encoding of text for URIs, endpoints and form values.

#include "qocore/base/plat/CharArray.h"

namespace plat {

// Copies ASCII letters, digits and "*", "-", ".", "_", and bytes of 128 and
// above unless encodeHighBytes is set; every other byte becomes "%XX" with
// upper-case hex digits.  Null gives null.
CharArray percentEncode(const char* text, bool encodeHighBytes);
// "%" and two hex digits (either case) give that byte; "+" gives a blank
// when plusIsBlank is set; anything else is copied.  A "%" without two hex
// digits after it, or "%00" (which would cut the result short), throws
// Exception "Bad percent encoding".  Null gives null.
CharArray percentDecode(const char* text, bool plusIsBlank);

}  // namespace plat
