#pragma once
// Wrapping an inherited descriptor as a connection (the child's end of a
// launch pipe).

namespace io {
class Io;
}

namespace os {

// Makes fd close-on-exec and wraps it: a TCP stream socket (IPv4 or IPv6)
// as an io::TcpIo, a Unix stream socket as an os::UnixIo without a name,
// anything else as an io::FdIo.  The connection owns fd; the caller owns
// the connection.  Throws "setInheritable".
io::Io* ioFromFd(int fd);

}  // namespace os
