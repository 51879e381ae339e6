#pragma once
// io::TcpIo: an io::FdIo over a TCP socket that knows its endpoints.
//
// The local and peer addresses are read once, on first use.  A connection
// made for a host name shows that name (the display host) rather than the
// peer's numeric address.  Log source "TcpIo".

#include <memory>

#include "qocore/base/io/FdIo.h"
#include "qocore/base/io/IpInfo.h"

namespace io {

class TcpIo : public FdIo {
 public:
  // Makes the descriptor non-blocking.  Once connected, TCP_NODELAY is
  // switched on and a connection whose both ends are loopback addresses
  // gets the flag "secureTransport".  That flag only says the bytes never
  // leave the machine; it proves nothing about which local user or
  // process is at the other end.
  TcpIo(int fd, bool owned, bool connecting, int32_t inTimeoutMs, int32_t outTimeoutMs);

  // The host text the connection was made for; null or empty: none.
  void setDisplayHost(const char* host);
  // What a connection that was made connecting does once its connect has
  // succeeded: TCP_NODELAY on, and "secureTransport" when both ends are
  // loopback addresses.  The constructor does it for one already connected.
  void connectDone();

  // "<host>::<port> (TCP)", the numeric peer address without a display
  // host.  Each of these logs a failure and answers empty text (the name:
  // "<fd%d>").
  plat::CharArray displayName() override;
  plat::CharArray peerEndpoint() override;
  plat::CharArray resolvedPeerEndpoint() override;
  plat::CharArray peerAddress() override;
  plat::CharArray myEndpoint() override;

  // The io message key for the errno of a failed TCP connection, or null
  // when the error has no text of its own.
  static const char* errorKey(int error) noexcept;

 private:
  const IpInfo& localInfo();
  const IpInfo& peerInfo();

  std::unique_ptr<IpInfo> local_;
  std::unique_ptr<IpInfo> peer_;
  plat::CharArray displayHost_;
  plat::CharArray tcpDisplayName_;
};

}  // namespace io
