#pragma once
// Descriptor and socket utilities.  Every descriptor made here is
// close-on-exec from the start (the atomic forms: SOCK_CLOEXEC, pipe2,
// accept4, F_DUPFD_CLOEXEC, dup3), since the program forks while other
// threads open sockets, and a gap between creation and fcntl would leak
// descriptors into children.
//
// Failures of system calls throw plat::SystemException naming the call,
// unless a form says it answers -1 or false with errno kept.  The helpers
// are thread-safe system calls; the one-time socket set-up and the DSCP
// value are process-wide.

#include <sys/socket.h>

#include <new>

namespace os {

// Sets (inheritable false) or clears FD_CLOEXEC.  On failure closes fd when
// asked, keeping errno, and answers false; the other form throws
// "setInheritable".
[[nodiscard]] bool setInheritable(int fd, bool inheritable, bool closeOnFailure, std::nothrow_t) noexcept;
void setInheritable(int fd, bool inheritable, bool closeOnFailure = false);
// Whether FD_CLOEXEC is clear.  Throws "getInheritable".
bool getInheritable(int fd);

// Switches O_NONBLOCK alone, keeping the other status flags of a
// description that other processes may share.  Throws "setBlocking".
void setBlocking(int fd, bool blocking);

// A close-on-exec duplicate.  Where the system lacks F_DUPFD_CLOEXEC it
// remembers so and uses dup plus FD_CLOEXEC from then on.  Throws "dup",
// "setInheritable" or "fcntl(F_DUPFD_CLOEXEC)".
int dupCloexec(int fd);

// socket(), close-on-exec; -1 with errno on failure.  Before the first
// socket of the process: SIGPIPE is ignored when it has its default
// action, and the soft descriptor limit is remembered and lowered to 1024
// when above it (failures there are logged, not thrown).
[[nodiscard]] int socketCloexec(int domain, int type, int protocol) noexcept;
// In a forked child before exec: SIGPIPE back to its default and, with
// restoreLimit, the soft descriptor limit back to the one remembered by
// the first socket.  Async-signal-safe.
void resetChildProcessState(bool restoreLimit) noexcept;

// accept4, close-on-exec, repeated after EINTR.  -1 with errno kept when
// nothing is to be had now: EAGAIN, ECONNABORTED, and the network errors
// Linux passes on from the pending connection (ENETDOWN, EPROTO,
// ENOPROTOOPT, EHOSTDOWN, ENONET, EHOSTUNREACH, EOPNOTSUPP, ENETUNREACH).
// The DSCP marking is applied to the new descriptor.  Throws "accept".
[[nodiscard]] int acceptCloexec(int listenFd);

// An AF_UNIX stream pair (throws "socketpair") and a pipe (throws "pipe").
void socketPairCloexec(int sv[2]);
void pipeCloexec(int fds[2]);

// dup2 onto `to`, which is then close-on-exec.  from == to fails with
// EINVAL.  False with errno on failure; the other form throws "dup2".
[[nodiscard]] bool dup2Checked(int from, int to, std::nothrow_t) noexcept;
void dup2Checked(int from, int to);

// The process-wide DSCP value (0 at start: no marking).
void setDscp(int value) noexcept;
// Marks an AF_INET or AF_INET6 socket with the DSCP value (IP_TOS or
// IPV6_TCLASS of value * 4) while the value is above 0.  A negative fd,
// another family or a failing getsockname is left alone; a failing
// setsockopt is logged at debug level.
void applyDscp(int fd) noexcept;

// Grows a socket buffer option (SO_RCVBUF, SO_SNDBUF) to at least `wanted`
// bytes when the system allows, and answers the size in force.  A refusal
// for lack of memory (ENOMEM, ENOBUFS) retries with 4 * (wanted / 5) while
// that stays above the current size.  Throws SystemException
// "getsockopt(<name>)" or "setsockopt(<name>)".
int growSocketBuffer(int fd, int wanted, int option, const char* optionName);
// growSocketBuffer for SO_RCVBUF or SO_SNDBUF, logging the size in KiB.
int setRecvBufferSize(int fd, int bytes);
int setSendBufferSize(int fd, int bytes);

// Whether family is AF_INET6 (fd is not consulted).
bool isIpv6Family(int fd, int family) noexcept;
// Whether fstat works and shows a socket.
bool isSocketFd(int fd) noexcept;
// SO_TYPE, or -1.
int getSocketType(int fd) noexcept;
// The address family, AF_UNIX for an unnamed socket, -1 on failure.
int getSocketFamily(int fd) noexcept;
// Whether path (not followed when a link) is owned by root, set-user-ID
// and executable by its owner.  False for null.
bool isSetuidRoot(const char* path) noexcept;

// Test seam: the setsockopt that growSocketBuffer calls (null restores the
// system's).  Returns the previous one.
using SetSockOptFn = int (*)(int fd, int level, int option, const void* value, socklen_t length);
SetSockOptFn setSetSockOptForTest(SetSockOptFn fn) noexcept;

}  // namespace os
