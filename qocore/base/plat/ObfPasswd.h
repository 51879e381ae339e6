#pragma once
// Obfuscated passwords: how settings store a password without clear text.
//
// The password's bytes, padded with zeros to whole 8-byte blocks (at least
// one), are enciphered block by block with DES under a key built into the
// program; when the password holds any byte of 128 or above, the letters
// "UTF8" follow.  This only hides the text from casual reading: anyone with
// the program can reverse it.
//
// In a binary stream the form is a 16-bit big-endian length (at most 512)
// followed by that many bytes.

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/MBuf.h"

namespace rdr {
class InStream;
class OutStream;
}  // namespace rdr

namespace plat {

// Replaces the buffer's contents (wiping the old bytes when the buffer is
// secure) by the obfuscated form of the password; null leaves it empty.
// A password longer than 2^31 - 8 bytes, whose form an int-counted buffer
// could not hold, is refused with "writeObfPasswd: password too long".
void writeObfPasswd(MBuf<char>& out, const char* password);
// The clear password, or null for an empty buffer; release it with
// secureFreeStr.  A length other than 8k or 8k + 4 ending in "UTF8" is
// Exception "bad obfuscated password length".
CharArray readObfPasswd(const MBuf<char>& obfuscated);

// A form of more than 512 bytes is refused ("writeObfPasswd: password too
// long") before anything is written.
void writeObfPasswd(rdr::OutStream& os, const char* password);
// A length above 512 is refused ("readObfPasswd: password too long").
CharArray readObfPasswd(rdr::InStream& is);

}  // namespace plat
