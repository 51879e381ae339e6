#pragma once
// URIs split into their parts, and request targets composed from a path
// and a query.  Failures are io::EndpointInvalid.

#include <cstring>
#include <map>

#include "qocore/base/io/EndpointName.h"
#include "qocore/base/plat/CharArray.h"

namespace io {

// Each part is null when the text has none.  host keeps any ":port" and
// the brackets of an IPv6 address; path has no leading "/", query no "?",
// fragment no "#".  The password is wiped when the Uri is released.
struct Uri {
  Uri() = default;
  Uri(const Uri& other);
  Uri& operator=(const Uri& other);
  Uri(Uri&& other) noexcept = default;
  Uri& operator=(Uri&& other) noexcept;
  ~Uri();

  plat::CharArray scheme;  // lower-cased
  plat::CharArray user;
  plat::CharArray host;
  plat::CharArray path;
  plat::CharArray query;
  plat::CharArray fragment;
  plat::CharArray password;
};

// Null text gives a Uri with every part null.
Uri parseUri(const char* text);

// "/" + path (unless it begins with "/"), then "?" + query when the query
// is not empty.
plat::CharArray composePathAndQuery(const char* path, const char* query);

// Orders texts by their bytes (a null text as "").
struct TextLess {
  using is_transparent = void;
  bool operator()(const plat::CharArray& a, const plat::CharArray& b) const noexcept {
    return std::strcmp(a.c_str(), b.c_str()) < 0;
  }
  bool operator()(const plat::CharArray& a, const char* b) const noexcept { return std::strcmp(a.c_str(), b) < 0; }
  bool operator()(const char* a, const plat::CharArray& b) const noexcept { return std::strcmp(a, b.c_str()) < 0; }
};

// Parameters in key order; a null value writes the key alone.
using UriParams = std::map<plat::CharArray, plat::CharArray, TextLess>;
plat::CharArray composePathWithParams(const char* path, const UriParams& params);

// Splits a query at "&" and ";" into key=value pairs, unescaping both.
// An empty part, a part without "=", an empty key or a repeated key is
// refused.  A null or empty query gives an empty map.
UriParams parseUriQuery(const char* query, bool plusIsBlank);

}  // namespace io
