#pragma once
// Text forms of network endpoints: a host, a colon and a port.  A port
// after one colon may be a display number (an offset from a default
// port); after two colons it is always the literal port.  IPv6 hosts are
// written in square brackets, which parsing keeps on the host.
//
// Every failure is an io::EndpointInvalid carrying the localised text of
// an io_error_endpoint_* key; out-parameters are released first and filled
// only on success.

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Exception.h"

namespace io {

class EndpointInvalid : public plat::Exception {
 public:
  // The message is the translated text of the key.
  explicit EndpointInvalid(const char* key) noexcept;
};

// Parses text into host and *port.  A null port asks for the host alone
// (a port in the text is then refused).  A negative defaultPort means a
// port must be given; with defaultPort >= 0, "host:n" for 0 <= n <
// portRange means defaultPort + n.  An empty host becomes "localhost".
void parseEndpoint(const char* text, plat::CharArray& host, int* port, int defaultPort, int portRange);

// The reverse of parseEndpoint: the port is left out when it equals
// defaultPort, written as an offset when it lies in the display range and
// after two colons when it lies outside it (portRange 0: plain ":port").
plat::CharArray formatEndpoint(const char* host, int port, int defaultPort, int portRange);

// A bracketed host without its brackets; other texts are copied.
plat::CharArray hostFromBracketed(const char* host);

// Parses and formats again without display numbers: the default port is
// left out and IPv6 hosts are bracketed.
plat::CharArray normaliseEndpoint(const char* text, int defaultPort);

// Percent-escapes every byte outside the set an endpoint may carry as is.
plat::CharArray escapeEndpoint(const char* text);
// Percent-decodes (plusIsBlank: "+" is a blank) and repairs the result to
// valid UTF-8.
plat::CharArray unescapeEndpoint(const char* text, bool plusIsBlank);

}  // namespace io
