#pragma once
// The server's stored passwords (the `Password` parameter of its own
// password scheme, and those of its per-user kinds): turning a typed
// password into the parameter's value, and reading such a value back.
//
// A stored value is a byte string in one of two forms:
// - a salted hash record ("P2a", crypto/PasswordHash.h), taken for one
//   exactly when it is 87 bytes long and begins with "P2a";
// - any other byte string is the obfuscated form (plat/ObfPasswd.h), which
//   can be turned back into the password.
// The parameter holds the byte string as lowercase hexadecimal.
//
// The user names the reading operations take appear only in their log
// lines (source "YarlAuthUtil"), where a null or empty name is "default".
// Only plat::Exception failures are answered as below; any other passes
// through.

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/MBuf.h"

namespace svr {

// A new stored value (a secure buffer): the obfuscated form of the text
// when `obfuscate` is set, otherwise a salted hash record with the default
// round count and a fresh salt, so that two encodings of one password
// differ.
plat::Buffer encodePassword(const char* text, bool obfuscate);
// The stored value as the parameter's lowercase hexadecimal: 174 digits
// for a hash record.
plat::CharArray encodePasswordParam(const char* text, bool obfuscate);

// True for a hash record; for the obfuscated form, whether it decodes to a
// non-empty password.  A value that does not decode answers false.
bool hasPassword(const plat::Buffer& stored);
// The password of an obfuscated value; release it with plat::secureFreeStr.
// A hash record cannot be decoded.  Whatever fails answers "" and, with
// `log`, logs "Error getting password for <user> user: <failure>" at debug
// level.
plat::CharArray getPassword(const plat::Buffer& stored, const char* user, bool log);
// Whether the candidate is the stored password: checked against a hash
// record, or compared with the non-empty password of an obfuscated value.
// When there is none (or the value does not decode, logged at debug level
// first), logs "No password configured for <user> user" as an error and
// answers false.
bool checkPassword(const char* candidate, const plat::Buffer& stored, const char* user);

}  // namespace svr
