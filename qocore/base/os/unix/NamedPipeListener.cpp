#include "qocore/base/os/unix/NamedPipeListener.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "qocore/base/os/AppDirs.h"
#include "qocore/base/os/AppInfo.h"
#include "qocore/base/os/SocketUtil.h"
#include "qocore/base/os/unix/UnixIo.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Path.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/UniqueFd.h"

namespace os {

plat::IntParameter unixSocketRefreshInterval("_UnixSocketRefreshInterval",
                                             "Seconds between refreshes of a local channel's socket file", 3600, 0,
                                             INT_MAX, true);

namespace {

PLAT_LOG_SOURCE(vlog, "NamedPipeListener");

constexpr int kListenBacklog = 5;
// The largest interval in seconds whose milliseconds fit a timer.
constexpr int kMaxIntervalSeconds = 2147484;

// Makes dir (0700) unless it is there, then checks it through an open
// descriptor, so that what is checked is what is changed: a folder (not a
// link to one) owned by the effective user or, when root makes it for
// owner, by owner (or by root, which just made it).  It then becomes
// owner's with mode 0700.  Anything else is refused.
void preparePrivateDir(const char* dir, uint32_t owner) {
  if (::mkdir(dir, 0700) != 0 && errno != EEXIST) throw plat::SystemExceptionFmt("mkDir(%s)", errno, dir);
  plat::UniqueFd fd(::open(dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) throw plat::SystemExceptionFmt("Unsafe channel folder %s", errno, dir);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) throw plat::SystemExceptionFmt("fstat(%s)", errno, dir);
  uid_t euid = ::geteuid();
  bool forOwner = owner != NamedPipeListener::kNoOwner && euid == 0;
  uid_t wanted = forOwner ? owner : euid;
  if (!S_ISDIR(info.st_mode) || (info.st_uid != wanted && !(forOwner && info.st_uid == 0)))
    throw plat::SystemExceptionFmt("Unsafe channel folder %s", EPERM, dir);
  if (info.st_uid != wanted && ::fchown(fd.get(), wanted, static_cast<gid_t>(-1)) != 0)
    throw plat::SystemExceptionFmt("chown(%s,%d,%d)", errno, dir, static_cast<int>(wanted), -1);
  if ((info.st_mode & 07777) != 0700 && ::fchmod(fd.get(), 0700) != 0)
    throw plat::SystemExceptionFmt("chmod(%s)", errno, dir);
}

}  // namespace

int NamedPipeListener::createSocket(const char* path, const Options& options) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  size_t length = std::strlen(path);
  if (length >= sizeof address.sun_path) throw plat::SystemException("NamedPipeListener", ENAMETOOLONG);
  std::memcpy(address.sun_path, path, length);

  bool forOwner = options.owner != kNoOwner && ::geteuid() == 0;
  if (options.createDirectory) preparePrivateDir(plat::dirName(path).get(), forOwner ? options.owner : kNoOwner);

  plat::UniqueFd fd(socketCloexec(AF_UNIX, options.datagram ? SOCK_DGRAM : SOCK_STREAM, 0));
  if (!fd) throw plat::SystemException("socket", errno);
  // A stale file of an earlier listener is replaced.
  ::unlink(path);
  mode_t previous = ::umask(options.makePrivate ? 0177 : 0111);
  int rv = ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  int error = errno;
  ::umask(previous);
  if (rv != 0) throw plat::SystemException("bind", error);
  // Not chown: the owner may have put a link in place of the file since
  // the bind, and root would follow it.
  if (forOwner && ::lchown(path, options.owner, static_cast<gid_t>(-1)) != 0)
    throw plat::SystemExceptionFmt("chown(%s,%d,%d)", errno, path, static_cast<int>(options.owner), -1);
  // The sticky bit keeps cleaners of the temporary folder away.  Set
  // without following a link, for the same reason.
  struct stat info {};
  if (::lstat(path, &info) != 0 ||
      ::fchmodat(AT_FDCWD, path, (info.st_mode & 07777) | S_ISVTX, AT_SYMLINK_NOFOLLOW) != 0) {
    plat::SystemException e("chmod", errno);
    vlog().debug("Failed to set sticky bit on %s: %s", path, e.str());
  }
  if (!options.datagram && ::listen(fd.get(), kListenBacklog) != 0) throw plat::SystemException("listen", errno);
  return fd.release();
}

int NamedPipeListener::openChannel(const char* path, const Options& options) {
  if (!options.skipBoundCheck && UnixIo::isBound(path, options.datagram))
    throw plat::SystemException("name already bound", EADDRINUSE);
  return createSocket(path, options);
}

NamedPipeListener::NamedPipeListener(const char* path, const Options& options)
    : io::FdListener(openChannel(path, options)), path_(path), options_(options), refreshTimer_(this) {
  int seconds = unixSocketRefreshInterval.getValue();
  refreshTimer_.start(seconds < kMaxIntervalSeconds ? seconds * 1000 : INT_MAX);
}

NamedPipeListener::~NamedPipeListener() {
  ::unlink(path_.get());
  refreshTimer_.cancel();
}

void NamedPipeListener::setAcceptor(io::IoAcceptor* acceptor) {
  acceptor_ = acceptor;
  io::FdListener::setAcceptor(acceptor);
}

bool NamedPipeListener::timerExpired(plat::Timer* timer) {
  if (timer != &refreshTimer_) return io::FdListener::timerExpired(timer);
  refresh();
  return true;
}

void NamedPipeListener::refresh() {
  struct stat info {};
  if (::lstat(path_.get(), &info) == 0) {
    ::utimensat(AT_FDCWD, path_.get(), nullptr, AT_SYMLINK_NOFOLLOW);
    return;
  }
  vlog().debug("Recreating socket: %s", path_.get());
  io::IoAcceptor* acceptor = acceptor_;
  if (acceptor) io::FdListener::setAcceptor(nullptr);
  try {
    // The new socket takes the old one's number, so the listener keeps
    // its descriptor.
    plat::UniqueFd fresh(createSocket(path_.get(), options_));
    if (::dup3(fresh.get(), fd_, O_CLOEXEC) < 0) throw plat::SystemException("dup2", errno);
  } catch (const plat::Exception& e) {
    vlog().debug("Failed to recreate socket: %s", e.str());
  }
  if (acceptor) io::FdListener::setAcceptor(acceptor);
}

io::Io* NamedPipeListener::acceptOne() {
  try {
    int fd = acceptCloexec(fd_);
    if (fd < 0) return nullptr;
    return new UnixIo(path_.get(), fd, options_.datagram);
  } catch (const plat::SystemException& e) {
    if ((e.error() == EMFILE || e.error() == ENFILE) && acceptor_) {
      pauseAccepting();
      return nullptr;
    }
    throw;
  }
}

io::Io* NamedPipeListener::acceptWaiting(int timeoutMs) {
  pollfd p{fd_, POLLIN, 0};
  int n = plat::pollMs(&p, 1, &timeoutMs, true);
  if (n <= 0) return nullptr;
  return acceptOne();
}

plat::CharArray getUserTempPath(const char* user) {
  char uid[16];
  if (!user) {
    std::snprintf(uid, sizeof uid, "%u", static_cast<unsigned>(::geteuid()));
  }
  plat::CharArray path = plat::DString::format("%s/.%s-%s", getTempDir(), getPathComponent(), user ? user : uid);
  if (!user) preparePrivateDir(path.get(), NamedPipeListener::kNoOwner);
  return path;
}

plat::CharArray makeUniqueName(const char* name, const char* user, const char* prefix, int64_t number, int index) {
  plat::CharArray dir = getUserTempPath(user);
  plat::DString path("%s/", dir.get());
  path.appendf("%s.", prefix ? prefix : getAppName());
  path.append(name);
  if (number == -1) number = ::getpid();
  if (number != 0 || index >= 1) {
    path.appendf(".%lld", static_cast<long long>(number));
    if (index >= 0) path.appendf(".%d", index);
  }
  return path.release();
}

bool channelNameMatches(const char* fileName, const char* name, const char* prefix) {
  plat::CharArray copy(fileName);
  char* cursor = copy.get();
  const char* first = plat::strNextToken(&cursor, '.');
  if (prefix && (!first || std::strcmp(first, prefix) != 0)) return false;
  const char* second = plat::strNextToken(&cursor, '.');
  if (name && (!second || std::strcmp(second, name) != 0)) return false;
  return true;
}

plat::CharArray userOfTempDirName(const char* entryName) {
  plat::CharArray start = plat::DString::format(".%s-", getPathComponent());
  if (!plat::startsWith(entryName, start.get())) return plat::CharArray();
  return plat::CharArray(entryName + std::strlen(start.get()));
}

void cleanupStaleChannelsIn(const char* dir, const char* name, const char* prefix) {
  // Opened without following a link, and files are removed relative to
  // the folder opened: root cleans folders that their users can change.
  int fd = ::open(dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  DIR* entries = ::fdopendir(fd);
  if (!entries) {
    ::close(fd);
    return;
  }
  while (const dirent* entry = ::readdir(entries)) {
    if (!std::strcmp(entry->d_name, ".") || !std::strcmp(entry->d_name, "..")) continue;
    if (!channelNameMatches(entry->d_name, name, prefix)) continue;
    plat::CharArray path = plat::DString::format("%s/%s", dir, entry->d_name);
    try {
      if (UnixIo::isBound(path.get(), false)) continue;
    } catch (const plat::Exception&) {
      // What cannot be tested is left alone.
      continue;
    }
    ::unlinkat(::dirfd(entries), entry->d_name, 0);
  }
  ::closedir(entries);
}

void cleanupStaleChannels(const char* name, const char* prefix) {
  if (::geteuid() != 0) {
    cleanupStaleChannelsIn(getUserTempPath(nullptr).get(), name, prefix);
    return;
  }
  const char* tmp = getTempDir();
  DIR* entries = ::opendir(tmp);
  if (!entries) return;
  while (const dirent* entry = ::readdir(entries)) {
    if (userOfTempDirName(entry->d_name).isNull()) continue;
    plat::CharArray dir = plat::DString::format("%s/%s", tmp, entry->d_name);
    cleanupStaleChannelsIn(dir.get(), name, prefix);
  }
  ::closedir(entries);
}

}  // namespace os
