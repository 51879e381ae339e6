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

namespace http {

// A User-Agent text taken apart; each part is null when the text lacks it.
struct UserAgentParts {
  plat::CharArray product;   // up to "/"
  plat::CharArray version;   // after "/", up to " ("
  plat::CharArray platform;  // after " (", up to ";"

  static UserAgentParts parse(const char* text);
};

// The locale at the end of a User-Agent ("; de_DE)"), or null.
plat::CharArray userAgentLocale(const char* text);
// The text before the first "/", or null without one.
plat::CharArray userAgentProduct(const char* text);
// The text before " (" (product and version), or null when there is none
// or it is empty.
plat::CharArray userAgentProductVersion(const char* text);

}  // namespace http
