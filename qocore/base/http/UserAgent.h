#pragma once
// The "User-Agent" text the HTTP layer sends with every request and every
// CONNECT.

#include "qocore/base/plat/CharArray.h"

namespace http {

// "<app>[/<version>] (<platform>; <locale>)", built anew on every call.
// The version is the product version text cut at its first blank or its
// first letter "d"; the locale is the localisation's current one, or
// "en_US" when that name is 65 bytes or longer.
plat::CharArray userAgent();
// "Macintosh[; Intel] Mac OS X <major>.<minor>.<patch>".
plat::CharArray platformText();

}  // namespace http
