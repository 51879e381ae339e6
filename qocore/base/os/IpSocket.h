#pragma once
// Sockets made for an IP endpoint: an outgoing connection started without
// waiting, and a bound socket for listening or datagrams.  Descriptors are
// close-on-exec; on any failure the new descriptor is closed and a
// plat::SystemException names the failing call.

namespace io {
class IpInfo;
}

namespace os {

// A socket of the endpoint's family and the given type, non-blocking
// unless `blocking`, with connect started.  EINPROGRESS counts as success:
// the caller waits for writability and reads SO_ERROR.  A socket that is
// not a stream gets the DSCP marking.  Throws "socket", "setBlocking" or
// "connect".
int connectSocket(const io::IpInfo& endpoint, int type, bool blocking = false);

// A socket bound to the endpoint.  Stream sockets get SO_REUSEADDR, and
// any socket SO_REUSEPORT with reusePort; IPv6 sockets are IPv6-only (a
// refusal there is only logged).  Datagram sockets get the DSCP marking.
// Throws "socket", "setsockopt" or "bind".
int bindSocket(const io::IpInfo& endpoint, int type, bool reusePort = false);

}  // namespace os
