#pragma once
// The elevated launch: os::launchViaAewp asks for administrator rights
// through the system's authorization dialog (os::Authorization), starts the
// program with them and answers a connection over the two-way pipe the
// system sets up to the new process's standard input and output.  The
// launch with a pipe hands elevated configs here when the process is not
// root (os/LaunchWithPipe.h).

#include <cstdint>

#include "qocore/base/os/LaunchConfig.h"
#include "qocore/base/os/OSStatusException.h"
#include "qocore/base/plat/CharArray.h"

namespace authorization {
class Session;
}

namespace os {

// A failing Authorization Services call: its name and status, type
// "MacAuthorization".
class MacAuthorizationException : public OSStatusException {
 public:
  MacAuthorizationException(const char* call, int32_t status) noexcept;
};

class Authorization {
 public:
  // Interaction allowed, extend rights, pre-authorize.
  static constexpr uint32_t kFlags = 19;

  // Copies prompt and icon (either may be null).  Asks nothing yet.
  Authorization(const char* prompt, const char* icon);
  // Frees the session; never throws.
  virtual ~Authorization();
  Authorization(const Authorization&) = delete;
  Authorization& operator=(const Authorization&) = delete;

  // A new session (an old one is freed first).  Throws
  // MacAuthorizationException "AuthorizationCreate".
  void create();
  // create, then the administrator right, passing "prompt" and "icon"
  // when set (no environment at all with neither).  The user's answer
  // arrives here.  Throws MacAuthorizationException
  // "AuthorizationCopyRights" (-60006: cancelled).
  void copyRights();
  // Runs path with arguments (null-terminated) with the rights.  With
  // fdOut, *fdOut receives a close-on-exec descriptor of the caller's own
  // for the pipe.  Throws plat::Exception "Cannot perform command without
  // authorization reference" without a session, MacAuthorizationException
  // "AuthorizationExecuteWithPrivileges" for a status other than 0 and
  // -60032.
  void executeWithPrivileges(const char* path, char* const* arguments, int* fdOut);
  // Frees the session, if any.
  void free() noexcept;

  uint32_t flags() const noexcept { return flags_; }

 private:
  authorization::Session* ref_ = nullptr;
  uint32_t flags_ = kFlags;
  plat::CharArray prompt_;
  plat::CharArray icon_;
};

// Launches cfg's program with administrator rights: args, then (unless
// the no-pipe-argument flag is set) "-nozombie" and "0", then the extra
// args; prompt is the dialog's text.  Unless the flag is set, reads the
// child's process id and its parent's within 5000 ms and hands a child of
// this process to the reaper.  A cancelled dialog throws ElevateCancelled,
// another authorization failure LaunchFailed "Elevation failed: <path>:
// <text>"; reading the ids fails as the stream does (plat::TimedOut,
// rdr::EndOfStream).
LaunchedIo launchViaAewp(const LaunchConfig& cfg);

}  // namespace os
