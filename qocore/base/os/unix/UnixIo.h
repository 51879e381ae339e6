#pragma once
// os::UnixIo: a connection over a Unix-domain socket, either end of a
// local channel (the channel's name is a file in a per-user folder; see
// os/unix/NamedPipeListener.h).  The local socket counts as a secure
// transport for the layers above: each one carries "secureTransport".

#include <sys/types.h>

#include "qocore/base/io/FdIo.h"
#include "qocore/base/plat/CharArray.h"

namespace os {

class UnixIo : public io::FdIo {
 public:
  // A negative fd connects to path first (this side is the client);
  // otherwise wraps fd (the server's side of an accepted connection, or an
  // inherited socket when path is null).  Throws "socket", "connect" or
  // "UnixIo" (ENAMETOOLONG).
  UnixIo(const char* path, int fd, bool datagram = false);
  ~UnixIo() override;

  // "<unix-client-<path>-uid-<peer euid>>", "server" for a wrapped
  // descriptor, "anon" without a path; no "-uid-" part when the peer's
  // credentials cannot be had.
  plat::CharArray displayName() override;
  // "[unix:<path>]" for a peer bound to an absolute path (each component
  // escaped as in endpoint texts), else "".
  plat::CharArray peerEndpoint() override;

  // The peer's effective uid.  Throws SystemException "getPeerEuid".
  uid_t getPeerEuid();
  // Throws plat::Exception "namedPipeCredCheck: uid mismatch" unless the
  // peer runs as expectedUid.
  void credCheck(uid_t expectedUid);

  // Whether something listens on path: false when connecting finds no
  // file, no listener or a refusal; true when it connects or the listener
  // is busy.  Other failures throw.
  [[nodiscard]] static bool isBound(const char* path, bool datagram);

 private:
  plat::CharArray name_;
  plat::CharArray peer_;
};

// A close-on-exec Unix socket connected to path (optionally
// non-blocking), connect repeated after EINTR.  Throws "UnixIo"
// (ENAMETOOLONG: the path does not fit sockaddr_un with its NUL),
// "socket" or "connect".
int connectUnix(const char* path, bool datagram, bool nonBlocking);

// A uid in decimal (a leading "-" allowed, as for -1); null gives the
// effective uid.  Throws plat::BadNum for anything else.
uid_t parseUid(const char* text);

}  // namespace os
