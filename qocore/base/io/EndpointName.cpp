#include "qocore/base/io/EndpointName.h"

#include <cstring>
#include <utility>

#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/PercentEncoding.h"
#include "qocore/base/plat/SecretText.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/Utf8.h"

namespace io {

EndpointInvalid::EndpointInvalid(const char* key) noexcept : plat::Exception() {
  setType("EndpointInvalid");
  try {
    setMessage(loc::translate(key));
  } catch (...) {
    // A failing lookup must not turn into a different error: the key
    // itself stands for the text.
    setMessage(key);
  }
}

namespace {

// A DString's text as an owned array; an empty one is "" rather than null.
plat::CharArray takeText(plat::DString& out) {
  plat::CharArray text = out.release();
  return text ? std::move(text) : plat::CharArray("");
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A whole decimal number; anything above 65535 is capped just above it so
// that a long run of digits can never wrap into the valid range.
bool parsePortNumber(const char* s, int* out) {
  if (!*s) return false;
  long value = 0;
  for (; *s; ++s) {
    if (!isDigit(*s)) return false;
    value = value * 10 + (*s - '0');
    if (value > 65536) value = 65536;
  }
  *out = static_cast<int>(value);
  return true;
}

}  // namespace

void parseEndpoint(const char* text, plat::CharArray& host, int* port, int defaultPort, int portRange) {
  host.reset();
  if (!text) text = "";
  if (!*text && defaultPort < 0) throw EndpointInvalid("io_error_endpoint_empty");

  const char* hostEnd;
  const char* rest;
  if (text[0] == '[') {
    const char* close = strchr(text, ']');
    if (!close) throw EndpointInvalid("io_error_endpoint_bracket");
    if (close == text + 1) throw EndpointInvalid("io_error_endpoint_empty");
    hostEnd = close + 1;
    rest = hostEnd;
  } else {
    hostEnd = text + strcspn(text, ":");
    rest = hostEnd;
  }
  if (*rest && *rest != ':') throw EndpointInvalid("io_error_endpoint_general");

  bool given = false;
  bool twoColons = false;
  int number = 0;
  if (*rest == ':') {
    const char* digits = rest + 1;
    if (*digits == ':') {
      twoColons = true;
      ++digits;
    }
    if (*digits) {
      if (!parsePortNumber(digits, &number)) throw EndpointInvalid("io_error_endpoint_badport");
      if (!port) throw EndpointInvalid("io_error_endpoint_badport");
      given = true;
    }
  }

  int value = 0;
  if (port) {
    if (given) {
      if (!twoColons && defaultPort >= 0 && number < portRange)
        value = defaultPort + number;
      else
        value = number;
    } else {
      if (defaultPort < 0) throw EndpointInvalid("io_error_endpoint_badport");
      value = defaultPort;
    }
    if (value < 1 || value > 65535) throw EndpointInvalid("io_error_endpoint_badport");
  }

  const char* inner = text;
  const char* innerEnd = hostEnd;
  if (text[0] == '[') {
    ++inner;
    --innerEnd;
  }
  for (const char* p = inner; p < innerEnd; ++p)
    if (*p == '[' || *p == ']') throw EndpointInvalid("io_error_endpoint_general");

  if (hostEnd == text)
    host = "localhost";
  else
    host = plat::CharArray(text, static_cast<int>(hostEnd - text));
  if (port) *port = value;
}

plat::CharArray formatEndpoint(const char* host, int port, int defaultPort, int portRange) {
  if (!host) host = "";
  plat::DString out;
  if (strchr(host, ':') && host[0] != '[')
    out.appendf("[%s]", host);
  else
    out.append(host);
  if (port != defaultPort) {
    if (portRange == 0)
      out.appendf(":%d", port);
    else if (defaultPort <= port && port < defaultPort + portRange)
      out.appendf(":%d", port - defaultPort);
    else
      out.appendf("::%d", port);
  }
  return takeText(out);
}

plat::CharArray hostFromBracketed(const char* host) {
  if (!host) return plat::CharArray();
  size_t len = strlen(host);
  if (host[0] != '[') return plat::CharArray(host);
  if (len < 2 || host[len - 1] != ']') throw EndpointInvalid("io_error_endpoint_bracket");
  return plat::CharArray(host + 1, static_cast<int>(len - 2));
}

plat::CharArray normaliseEndpoint(const char* text, int defaultPort) {
  plat::CharArray host;
  int port = 0;
  parseEndpoint(text, host, &port, defaultPort, 0);
  plat::CharArray bare = hostFromBracketed(host.get());
  return formatEndpoint(bare.get(), port, defaultPort, 0);
}

plat::CharArray escapeEndpoint(const char* text) {
  if (!text) return plat::CharArray();
  static const char kKept[] = "&'()*+,-. !$;=_~";
  plat::DString out;
  for (const char* p = text; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c >= 0x80 ||
                strchr(kKept, c) != nullptr;
    if (keep)
      out.append(p, 1);
    else
      out.appendf("%%%.2X", c);
  }
  return takeText(out);
}

plat::CharArray unescapeEndpoint(const char* text, bool plusIsBlank) {
  plat::SecretText decoded;
  try {
    decoded = plat::SecretText::adopt(plat::percentDecode(text, plusIsBlank));
  } catch (const plat::Exception&) {
    throw EndpointInvalid("io_error_endpoint_badescape");
  }
  if (decoded.isNull()) return plat::CharArray();
  // Room for the worst case up front (each bad byte becomes three), so no
  // copy of a decoded password is left behind by growing the buffer.
  plat::DString out(static_cast<int>(3 * decoded.length() + 1));
  plat::utf8Sanitise(out, decoded.c_str());
  return takeText(out);
}

}  // namespace io
