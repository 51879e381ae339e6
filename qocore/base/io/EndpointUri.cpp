#include "qocore/base/io/EndpointUri.h"

#include <cctype>
#include <cstring>
#include <utility>

#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/PercentEncoding.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/plat/Strings.h"

namespace io {

Uri::Uri(const Uri& other)
    : scheme(other.scheme),
      user(other.user),
      host(other.host),
      path(other.path),
      query(other.query),
      fragment(other.fragment),
      password(other.password) {}

Uri& Uri::operator=(const Uri& other) {
  if (this != &other) {
    scheme = other.scheme;
    user = other.user;
    host = other.host;
    path = other.path;
    query = other.query;
    fragment = other.fragment;
    plat::secureAssignStr(password, other.password.get());
  }
  return *this;
}

Uri& Uri::operator=(Uri&& other) noexcept {
  if (this != &other) {
    scheme = std::move(other.scheme);
    user = std::move(other.user);
    host = std::move(other.host);
    path = std::move(other.path);
    query = std::move(other.query);
    fragment = std::move(other.fragment);
    plat::secureFreeStr(password, std::move(other.password));
  }
  return *this;
}

Uri::~Uri() { plat::secureFreeStr(password); }

namespace {

plat::CharArray slice(const char* from, const char* to) { return plat::CharArray(from, static_cast<int>(to - from)); }

// The position of "://" after a valid scheme name, or null.
const char* schemeEnd(const char* text) {
  if (!isalpha(static_cast<unsigned char>(text[0]))) return nullptr;
  const char* p = text + 1;
  while (isalnum(static_cast<unsigned char>(*p)) || *p == '+' || *p == '-' || *p == '.') ++p;
  return strncmp(p, "://", 3) == 0 ? p : nullptr;
}

}  // namespace

Uri parseUri(const char* text) {
  Uri uri;
  if (!text) return uri;
  const char* p = text;
  if (const char* end = schemeEnd(text)) {
    uri.scheme = slice(text, end);
    for (char* c = uri.scheme.get(); *c; ++c) *c = static_cast<char>(tolower(static_cast<unsigned char>(*c)));
    p = end + 3;
  }

  const char* stop = p + strcspn(p, "/?#[]@");
  if (*stop == '@') {
    const char* colon = static_cast<const char*>(memchr(p, ':', stop - p));
    if (colon) {
      if (memchr(colon + 1, ':', stop - colon - 1)) throw EndpointInvalid("io_error_endpoint_general");
      plat::CharArray user = slice(p, colon);
      plat::CharArray password = slice(colon + 1, stop);
      plat::ScopeExit wipe([&password] { plat::secureFreeStr(password); });
      uri.user = unescapeEndpoint(user.get(), false);
      uri.password = unescapeEndpoint(password.get(), false);
    } else {
      uri.user = unescapeEndpoint(slice(p, stop).get(), false);
    }
    p = stop + 1;
  }

  const char* hostScan = p;
  if (*p == '[') {
    const char* close = strchr(p, ']');
    if (!close) throw EndpointInvalid("io_error_endpoint_bracket");
    hostScan = close;
  }
  const char* hostEnd = hostScan + strcspn(hostScan, "/?#");
  uri.host = slice(p, hostEnd);
  p = hostEnd;

  if (*p == '/') {
    while (*p == '/') ++p;
    const char* pathEnd = p + strcspn(p, "?#");
    uri.path = slice(p, pathEnd);
    p = pathEnd;
  } else {
    uri.path = "";
  }
  if (*p == '?') {
    const char* queryEnd = p + 1 + strcspn(p + 1, "#");
    uri.query = slice(p + 1, queryEnd);
    p = queryEnd;
  }
  if (*p == '#') uri.fragment = plat::CharArray(p + 1);
  return uri;
}

namespace {

void appendPath(plat::DString& out, const char* path) {
  if (!path) path = "";
  out.appendf("%s%s", path[0] == '/' ? "" : "/", path);
}

}  // namespace

plat::CharArray composePathAndQuery(const char* path, const char* query) {
  plat::DString out;
  appendPath(out, path);
  if (query && *query) out.appendf("?%s", query);
  return out.release();
}

plat::CharArray composePathWithParams(const char* path, const UriParams& params) {
  plat::DString out;
  appendPath(out, path);
  bool first = true;
  for (const auto& [key, value] : params) {
    plat::CharArray k = plat::percentEncode(key.c_str(), true);
    out.appendf("%c%s", first ? '?' : '&', k.c_str());
    if (value) {
      plat::CharArray v = plat::percentEncode(value.get(), true);
      out.appendf("=%s", v.c_str());
    }
    first = false;
  }
  return out.release();
}

UriParams parseUriQuery(const char* query, bool plusIsBlank) {
  UriParams result;
  if (!query || !*query) return result;
  const char* p = query;
  for (;;) {
    const char* end = p + strcspn(p, "&;");
    const char* eq = static_cast<const char*>(memchr(p, '=', end - p));
    if (!eq || eq == p) throw EndpointInvalid("io_error_endpoint_general");
    plat::CharArray key = unescapeEndpoint(slice(p, eq).get(), plusIsBlank);
    plat::CharArray value = unescapeEndpoint(slice(eq + 1, end).get(), plusIsBlank);
    if (!key || !*key.get()) throw EndpointInvalid("io_error_endpoint_general");
    if (!result.emplace(std::move(key), std::move(value)).second) throw EndpointInvalid("io_error_endpoint_general");
    if (!*end) break;
    p = end + 1;
  }
  return result;
}

}  // namespace io
