#pragma once
// Local channels: Unix-domain stream sockets whose names are files in a
// per-user folder under the temporary directory, "<tmp>/.<pc>-<user>",
// pc being the application's path component.
//
// os::NamedPipeListener owns one channel file: it refuses a name that
// something already listens on, replaces a stale file, accepts
// connections as os::UnixIo objects and, every _UnixSocketRefreshInterval
// seconds, touches the file (so that temporary-file cleaners leave it) or
// recreates it when it has vanished.
//
// The folders are checked on the open descriptor, never by name: a root
// process that makes a channel for another user works in a folder that
// user can write, where a link may be planted at any moment.

#include <sys/types.h>

#include <cstdint>

#include "qocore/base/io/FdListener.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Timer.h"

namespace os {

// "_UnixSocketRefreshInterval": seconds between refreshes of a channel
// file.
extern plat::IntParameter unixSocketRefreshInterval;

class NamedPipeListener : public io::FdListener {
 public:
  static constexpr uint32_t kNoOwner = 0xFFFFFFFF;

  struct Options {
    // The channel belongs to this user when root makes it.
    uint32_t owner = kNoOwner;
    // Make (or check) the channel's folder first.
    bool createDirectory = false;
    // The file is 0600 rather than 0666.
    bool makePrivate = false;
    // Do not refuse a name that something listens on.
    bool skipBoundCheck = false;
    bool datagram = false;
  };

  // Throws SystemException "name already bound" (EADDRINUSE), and the
  // failures of the creation steps: "NamedPipeListener" (ENAMETOOLONG),
  // the folder's checks, "socket", "bind", "chown(...)", "listen".
  NamedPipeListener(const char* path, const Options& options);
  // Removes the channel file.
  ~NamedPipeListener() override;

  void setAcceptor(io::IoAcceptor* acceptor) override;
  bool timerExpired(plat::Timer* timer) override;

  const char* path() const noexcept { return path_.get(); }
  // For a listener without an acceptor: waits at most timeoutMs for a
  // connection and accepts it; null when none came.  Failures throw.
  [[nodiscard]] io::Io* acceptWaiting(int timeoutMs);

 protected:
  io::Io* acceptOne() override;

 private:
  // Refuses a bound name, then createSocket.
  static int openChannel(const char* path, const Options& options);
  // Makes, binds and (for streams) listens on a new socket.
  static int createSocket(const char* path, const Options& options);
  void refresh();

  plat::CharArray path_;
  Options options_;
  io::IoAcceptor* acceptor_ = nullptr;
  plat::Timer refreshTimer_;
};

// "<tmp>/.<pc>-<user>".  With a null user the effective uid is the user
// and the folder is made private (0700, owned by the effective user;
// anything else there, a link included, is refused); another user's
// folder is not touched.
plat::CharArray getUserTempPath(const char* user);

// The channel path "<dir>/<prefix>.<name>[.<number>[.<index>]]": dir from
// getUserTempPath(user), prefix defaulting to the application name,
// number -1 meaning this process's id.  Number 0 with an index below 1
// adds nothing; otherwise ".<number>", and ".<index>" when index >= 0.
plat::CharArray makeUniqueName(const char* name, const char* user, const char* prefix, int64_t number, int index);

// Whether a file name in a channel folder is "<prefix>.<name>..." (a null
// prefix or name matches anything).
[[nodiscard]] bool channelNameMatches(const char* fileName, const char* name, const char* prefix);
// The user part of a channel folder's name ".<pc>-<user>", or null.
plat::CharArray userOfTempDirName(const char* entryName);

// Removes the matching channel files of dir that nobody listens on.
void cleanupStaleChannelsIn(const char* dir, const char* name, const char* prefix);
// The same in the caller's own channel folder, or as root in every user's.
void cleanupStaleChannels(const char* name, const char* prefix);

}  // namespace os
