#include "qocore/base/os/unix/SetuidHelper.h"

#include <grp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qocore/base/os/unix/LaunchProcess.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Path.h"

namespace os {

namespace {

constexpr int kHelperFailed = 127;

[[noreturn]] void fail(const char* what, int error) {
  std::fprintf(stderr, "-setuidhelper: %s: %s\n", what, std::strerror(error));
  std::fflush(stderr);
  ::_exit(kHelperFailed);
}

// A decimal uid without sign or anything after it.
bool parseUid(const char* text, uid_t& uid) {
  if (!text || *text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 10);
  if (errno != 0 || *end != '\0' || value >= static_cast<unsigned long>(static_cast<uid_t>(-1))) return false;
  uid = static_cast<uid_t>(value);
  return true;
}

}  // namespace

void runSetuidHelperIfAsked(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "-setuidhelper") != 0) return;
  uid_t uid = 0;
  if (argc < 4 || !parseUid(argv[2], uid)) fail("expected a uid and a command", EINVAL);
  const char* command = argv[3];
  if (!plat::isAbsolutePath(command)) fail(command, EINVAL);

  UserInfo user;
  try {
    lookupUser(user, uid);
  } catch (const plat::Exception& e) {
    std::fprintf(stderr, "-setuidhelper: %s\n", e.str());
    std::fflush(stderr);
    ::_exit(kHelperFailed);
  }
  // Groups first: once the uid has changed, they can no longer be set.
  if (::initgroups(user.entry.pw_name, user.entry.pw_gid) != 0) fail("initgroups", errno);
  if (::setgid(user.entry.pw_gid) != 0) fail("setgid", errno);
  if (::setuid(uid) != 0) fail("setuid", errno);
  if (uid != 0 && (::setuid(0) == 0 || ::seteuid(0) == 0 || ::getuid() != uid || ::geteuid() != uid))
    fail("root could be regained", EPERM);
  ::execv(command, argv + 3);
  fail(command, errno);
}

}  // namespace os
