#include "qocore/base/os/LaunchedProcessPipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "qocore/base/crypto/Sha.h"
#include "qocore/base/io/Io.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/os/IoFromFd.h"
#include "qocore/base/os/unix/LaunchProcess.h"
#include "qocore/base/os/unix/UnixIo.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Path.h"
#include "qocore/base/plat/UniqueFd.h"
#include "qocore/base/rdr/OutStream.h"

namespace os {

namespace {

constexpr int kSecretBytes = 32;
// Descriptor numbers above this are not inherited pipes.
constexpr size_t kMaxFdDigits = 9;

bool isOption(const char* arg, const char* name) { return arg && std::strcmp(arg, name) == 0; }

// A whole decimal number that fits a descriptor, or -1.
int inheritedFd(const char* name) {
  size_t length = std::strlen(name);
  if (length == 0 || length > kMaxFdDigits) return -1;
  int fd = 0;
  for (const char* c = name; *c; ++c) {
    if (*c < '0' || *c > '9') return -1;
    fd = fd * 10 + (*c - '0');
  }
  return fd;
}

// The debug log replaces stderr.  The file beside the channel is the
// child's own: a link planted there is not followed, and nobody else may
// read what it logs.
void openDebugLog(const LaunchPipeArgs& args) {
  plat::CharArray path;
  int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC;
  mode_t mode = 0666;
  if (args.debugLog) {
    plat::CharArray dir = plat::dirName(args.pipeName.get());
    path = plat::DString::format("%s/lppDebug.log", dir.get());
    flags |= O_NOFOLLOW;
    mode = 0600;
  } else {
    path = plat::CharArray(args.debugLogPath.get());
  }
  plat::UniqueFd fd(::open(path.get(), flags, mode));
  // Without its log the child still connects; only its notes are lost.
  if (!fd) return;
  if (fd.get() == 2) {
    (void)fd.release();
    (void)::fcntl(2, F_SETFD, 0);
  } else {
    (void)::dup2(fd.get(), 2);
  }
}

void logConnecting(const char* pipeName) {
  char when[32];
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  ::gmtime_r(&now, &utc);
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%SZ", &utc);
  std::fprintf(stderr, "%s: connecting to '%s'\n", when, pipeName);
  std::fflush(stderr);
}

void checkSecret(io::Io& io, const plat::Buffer& expected) {
  plat::Buffer secret(kSecretBytes, true);
  io.in().readBytes(secret.data(), kSecretBytes);
  plat::Buffer digest;
  crypto::digestOneShot(256, kSecretBytes, secret.data(), digest);
  bool same = digest.count() == expected.count();
  unsigned char diff = 0;
  for (int i = 0; same && i < digest.count(); ++i) diff |= digest.data()[i] ^ expected.data()[i];
  if (!same || diff != 0) throw plat::Exception("Bad hash");
}

}  // namespace

void connectLaunchPipe(LaunchedIo& out, LaunchPipeArgs& args, char**& argv, int required) {
  if (isOption(*argv, "-dummy")) {
    ++argv;
    out = LaunchedIo(ioFromFd(0), false, false);
    return;
  }
  for (;; ++argv) {
    if (isOption(*argv, "-lppDebug")) {
      args.debugLog = true;
    } else if (isOption(*argv, "-hash")) {
      const char* value = argv[1];
      if (!value || !plat::hexToBuffer(value, args.expectedHash))
        throw plat::Exception("-hash argument bad or missing");
      ++argv;
    } else if (isOption(*argv, "-fork")) {
      if (!LaunchProcess::daemonize(-1)) ::_exit(0);
    } else if (isOption(*argv, "-nozombie")) {
      args.nozombie = true;
      if (::getuid() != ::geteuid() && ::setuid(::geteuid()) != 0) throw plat::SystemException("setuid", errno);
    } else {
      break;
    }
  }
  const char* name = *argv;
  if (!name || name[0] == '-')
    throw plat::ExceptionFmt("Bad command-line: got %s instead of pipe name", name ? name : "<null>");
  args.pipeName = plat::CharArray(name);
  ++argv;
  for (int i = 0; i < required; ++i) {
    if (!argv[i]) throw plat::Exception(loc::translate("plat_this_program_not_directly"));
  }

  int fd = inheritedFd(name);
  if (fd >= 0) {
    LaunchedIo io(ioFromFd(fd), false, false);
    if (args.nozombie) {
      io->out().writeS64(::getpid());
      io->out().writeS64(::getppid());
      io->out().flush();
    }
    out = std::move(io);
    return;
  }

  openDebugLog(args);
  logConnecting(name);
  LaunchedIo io;
  try {
    io = LaunchedIo(new UnixIo(name, -1), false, false);
    if (args.expectedHash.count() > 0) checkSecret(*io.get(), args.expectedHash);
  } catch (const plat::Exception& e) {
    std::fprintf(stderr, "%s\n", e.str());
    std::fflush(stderr);
    throw;
  }
  out = std::move(io);
}

LaunchedIo connectParentPipe(char**& argv) {
  LaunchPipeArgs args;
  LaunchedIo io;
  connectLaunchPipe(io, args, argv, 0);
  return io;
}

}  // namespace os
