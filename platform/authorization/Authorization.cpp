#include "platform/authorization/Authorization.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "qocore/base/plat/CommandLine.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/Mutex.h"
#include "qocore/base/plat/UniqueFd.h"

extern char** environ;

namespace authorization {

namespace {

PLAT_LOG_SOURCE(vlog, "Authorization");

// How often the command's end is looked for while the tool is silent.
constexpr int kPollMs = 100;

constinit plat::Mutex recordMutex;
RecordedEnvironment* recorded PLAT_GUARDED_BY(recordMutex) = nullptr;

void record(const ItemSet* environment) {
  RecordedEnvironment copy;
  copy.given = environment != nullptr;
  if (environment) {
    for (uint32_t i = 0; i < environment->count; ++i) {
      const Item& item = environment->items[i];
      const char* value = static_cast<const char*>(item.value);
      // A value longer than a text can count is cut where it can.
      int length = item.valueLength > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(item.valueLength);
      copy.items.push_back({plat::CharArray(item.name), plat::CharArray(value ? value : "", value ? length : 0)});
    }
  }
  plat::MutexLock lock(recordMutex);
  if (!recorded) recorded = new RecordedEnvironment;
  *recorded = std::move(copy);
}

// Waits until the tool has sent something (kSuccess) or the command has
// ended.  An end of the pipe without data is not an answer: the command's
// exit status decides.
Status awaitTool(int fd, pid_t pid) {
  bool pipeOpen = true;
  for (;;) {
    if (pipeOpen) {
      pollfd p{fd, POLLIN, 0};
      int n = ::poll(&p, 1, kPollMs);
      if (n < 0 && errno != EINTR) {
        vlog().error("poll: %s", std::strerror(errno));
        pipeOpen = false;
      } else if (n > 0) {
        char byte;
        ssize_t got = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (got > 0) return kSuccess;
        if (got == 0 || (errno != EAGAIN && errno != EINTR)) pipeOpen = false;
      }
    } else {
      ::poll(nullptr, 0, kPollMs);
    }
    int status = 0;
    pid_t rv = ::waitpid(pid, &status, WNOHANG);
    if (rv < 0 && errno == EINTR) continue;
    if (rv < 0) {
      vlog().error("waitpid: %s", std::strerror(errno));
      return kToolExecuteFailure;
    }
    if (rv == 0) continue;
    if (WIFEXITED(status) && WEXITSTATUS(status) == kCancelledExitStatus) return kCanceled;
    vlog().info("elevation command ended with status 0x%x before the tool answered", static_cast<unsigned>(status));
    return kToolExecuteFailure;
  }
}

}  // namespace

class Session {
 public:
  explicit Session(uint32_t flags) : flags(flags) {}
  uint32_t flags;
};

plat::StringParameter elevateCommand("_ElevateCommand",
                                     "The command (and its leading arguments) that runs a program with "
                                     "administrator rights",
                                     "pkexec", true);
plat::BoolParameter forceElevation("_ForceElevation",
                                   "Run elevated launches through the elevation command even as root", false, true);

Status createSession(const ItemSet* /*rights*/, const ItemSet* /*environment*/, uint32_t flags, Ref* out) {
  if (!out) return kInvalidRef;
  *out = new Session(flags);
  return kSuccess;
}

Status copyRights(Ref ref, const ItemSet* rights, const ItemSet* environment, uint32_t /*flags*/) {
  if (!ref) return kInvalidRef;
  if (!rights) return kInvalidSet;
  for (uint32_t i = 0; i < rights->count; ++i) {
    const char* name = rights->items[i].name;
    if (!name || std::strcmp(name, kRightAdmin) != 0) return kInvalidSet;
  }
  record(environment);
  return kSuccess;
}

Status executeWithPrivileges(Ref ref, const char* path, uint32_t /*options*/, char* const* arguments, FILE** pipe) {
  if (!ref) return kInvalidRef;
  if (!path) return kToolExecuteFailure;
  plat::CharArrayList args;
  args.emplace_back(path);
  for (char* const* a = arguments; a && *a; ++a) args.emplace_back(*a);
  plat::CharArrayList line = elevationCommandLine(args);
  std::vector<char*> argv;
  for (plat::CharArray& word : line) argv.push_back(word.get());
  argv.push_back(nullptr);

  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
    vlog().error("socketpair: %s", std::strerror(errno));
    return kToolExecuteFailure;
  }
  plat::UniqueFd ours(sv[0]), theirs(sv[1]);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_adddup2(&actions, theirs.get(), 0);
  posix_spawn_file_actions_adddup2(&actions, theirs.get(), 1);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  int rc = ::posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  theirs.reset();
  if (rc != 0) {
    vlog().error("cannot start %s: %s", argv[0] ? argv[0] : "<none>", std::strerror(rc));
    return kToolExecuteFailure;
  }

  Status status = awaitTool(ours.get(), pid);
  if (status != kSuccess || !pipe) return status;
  FILE* stream = ::fdopen(ours.get(), "r+");
  if (!stream) {
    vlog().error("fdopen: %s", std::strerror(errno));
    return kToolExecuteFailure;
  }
  (void)ours.release();
  *pipe = stream;
  return kSuccess;
}

Status freeSession(Ref ref, uint32_t /*flags*/) noexcept {
  if (!ref) return kInvalidRef;
  delete ref;
  return kSuccess;
}

bool elevationNeeded() noexcept { return ::geteuid() != 0 || forceElevation.getValue(); }

plat::CharArrayList elevationCommandLine(const plat::CharArrayList& args) {
  plat::CharArrayList line;
  plat::splitCommandLine(line, elevateCommand.getValue());
  for (const plat::CharArray& a : args) line.push_back(a);
  return line;
}

RecordedEnvironment lastRightsEnvironment() {
  plat::MutexLock lock(recordMutex);
  return recorded ? *recorded : RecordedEnvironment();
}

}  // namespace authorization
