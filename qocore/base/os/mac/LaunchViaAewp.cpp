#include "qocore/base/os/mac/LaunchViaAewp.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "platform/authorization/Authorization.h"
#include "qocore/base/io/FdIo.h"
#include "qocore/base/os/LaunchWithPipe.h"
#include "qocore/base/os/SocketUtil.h"
#include "qocore/base/os/unix/ProcessMonitor.h"
#include "qocore/base/plat/FilePtr.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/rdr/InStream.h"

namespace os {

namespace {

// The child reports its ids within this time.
constexpr int32_t kIdTimeoutMs = 5000;
// All bits set: no time-out.
constexpr int32_t kNoTimeout = static_cast<int32_t>(0xFFFFFFFF);

// Whether pid is a child of this process (running or not yet collected).
bool isOwnChild(pid_t pid) {
  if (pid <= 1) return false;
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0;
}

}  // namespace

MacAuthorizationException::MacAuthorizationException(const char* call, int32_t status) noexcept
    : OSStatusException(call, status) {
  setType("MacAuthorization");
}

Authorization::Authorization(const char* prompt, const char* icon) : prompt_(prompt), icon_(icon) {}

Authorization::~Authorization() { free(); }

void Authorization::create() {
  free();
  authorization::Status status = authorization::createSession(nullptr, nullptr, flags_, &ref_);
  if (status != authorization::kSuccess) {
    ref_ = nullptr;
    throw MacAuthorizationException("AuthorizationCreate", status);
  }
}

void Authorization::copyRights() {
  create();
  authorization::Item right{authorization::kRightAdmin, 0, nullptr, 0};
  authorization::ItemSet rights{1, &right};
  authorization::Item items[2];
  uint32_t count = 0;
  if (prompt_) items[count++] = {"prompt", std::strlen(prompt_.get()), prompt_.get(), 0};
  if (icon_) items[count++] = {"icon", std::strlen(icon_.get()), icon_.get(), 0};
  authorization::ItemSet environment{count, items};
  authorization::Status status = authorization::copyRights(ref_, &rights, count ? &environment : nullptr, flags_);
  if (status != authorization::kSuccess) throw MacAuthorizationException("AuthorizationCopyRights", status);
}

void Authorization::executeWithPrivileges(const char* path, char* const* arguments, int* fdOut) {
  if (!ref_) throw plat::Exception("Cannot perform command without authorization reference");
  FILE* pipe = nullptr;
  authorization::Status status =
      authorization::executeWithPrivileges(ref_, path, 0, arguments, fdOut ? &pipe : nullptr);
  if (status != authorization::kSuccess && status != authorization::kToolEnvironmentError)
    throw MacAuthorizationException("AuthorizationExecuteWithPrivileges", status);
  plat::FilePtr stream(pipe);
  // The caller gets a descriptor of its own; the stream goes with the
  // holder.
  if (fdOut) *fdOut = pipe ? dupCloexec(::fileno(pipe)) : -1;
}

void Authorization::free() noexcept {
  if (ref_) (void)authorization::freeSession(ref_, authorization::kDestroyRights);
  ref_ = nullptr;
}

LaunchedIo launchViaAewp(const LaunchConfig& cfg) {
  PLAT_ASSERT(!cfg.args.empty());
  plat::CharArrayList args = cfg.args;
  if (!cfg.noPipeArgument) {
    args.emplace_back("-nozombie");
    args.emplace_back("0");
  }
  for (const plat::CharArray& a : cfg.extraArgs) args.push_back(a);
  std::vector<char*> argv;
  for (size_t i = 1; i < args.size(); ++i) argv.push_back(args[i].get());
  argv.push_back(nullptr);
  const char* path = args[0].get();

  Authorization auth(cfg.prompt.get(), nullptr);
  LaunchedIo result;
  try {
    auth.copyRights();
    int fd = -1;
    auth.executeWithPrivileges(path, argv.data(), &fd);
    result = LaunchedIo(new io::FdIo(fd, true, false, -1, -1, fd >= 0), false, false);
  } catch (const MacAuthorizationException& e) {
    if (e.status() == authorization::kCanceled) throw ElevateCancelled();
    throw LaunchFailed("Elevation failed: %s: %s", path, e.str());
  }
  if (cfg.noPipeArgument) return result;

  // A failed read leaves no connection behind and registers nothing.
  plat::ScopeExit drop([&] { result.reset(); });
  result->setTimeout(kIdTimeoutMs);
  rdr::InStream& in = result->in();
  int64_t childId = in.readS64();
  int64_t parentId = in.readS64();
  in.setCheckpoint();
  result->setTimeout(kNoTimeout);
  drop.dismiss();
  pid_t child = static_cast<pid_t>(static_cast<uint32_t>(childId));
  pid_t parent = static_cast<pid_t>(static_cast<uint32_t>(parentId));
  if (parent == ::getpid()) {
    addChildToReap(child);
  } else if (isOwnChild(parent)) {
    // The elevation step stayed the child's parent: it is ours and ends
    // with the child, so it is collected instead of staying a zombie.
    addChildToReap(parent);
  }
  return result;
}

}  // namespace os
