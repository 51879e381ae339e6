#pragma once
// Reading CoreFoundation dictionaries (cf::Dictionary stands in for them).

#include "platform/cf/Dictionary.h"
#include "qocore/base/plat/CharArray.h"

namespace plat {

// The string value of the key as a new UTF-8 text; empty when the key is
// absent or its value is not a string.
CharArray cfDictGetString(const cf::Dictionary& dictionary, const char* key);

}  // namespace plat
