#pragma once
// Random text made of words: a cryptographically random value spelled
// with the platform's word list (plat::wordEncode), each word capitalised.

#include "qocore/base/plat/CharArray.h"

namespace qoutil {

// `count` random words, each starting with a capital when it starts with
// a to z, joined by `separator` (null or "" joins them directly).  A count
// of 0 or less gives "".  Throws Exception "Too many words (%d)" for a
// count whose random bytes would pass 2^31.
plat::CharArray randomString(int count, const char* separator);

}  // namespace qoutil
