#pragma once
// Stands in for the security framework's Authorization Services: a session,
// the administrator right and running a tool with privileges over a
// two-way pipe.  Backed by an elevation command (pkexec by default; the
// hidden `_ElevateCommand` names another, for example "sudo -n") run with
// the tool's absolute path and its arguments, one end of a socket pair as
// its standard input and output, the other end handed back as the pipe's
// stream.  pkexec asks for the password after it has started, resets the
// environment and closes descriptors above 2, so the rights request only
// records what it was given (tests read it back through
// lastRightsEnvironment), and running the tool waits, without a time
// limit, until the tool sends something or the command ends: ending first
// with status 126 (the prompt dismissed) is the cancel status, any other
// end the tool-execution failure.  Whether a launch needs the command at
// all is elevationNeeded: not when the process already runs as root,
// unless the hidden `_ForceElevation` switch says otherwise (tests run as
// root).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/ConfigParameter.h"

namespace authorization {

using Status = int32_t;

inline constexpr Status kSuccess = 0;
inline constexpr Status kInvalidSet = -60001;
inline constexpr Status kInvalidRef = -60002;
inline constexpr Status kCanceled = -60006;
inline constexpr Status kToolExecuteFailure = -60031;
inline constexpr Status kToolEnvironmentError = -60032;

// Flags of the session calls.
inline constexpr uint32_t kInteractionAllowed = 1;
inline constexpr uint32_t kExtendRights = 2;
inline constexpr uint32_t kPreAuthorize = 16;
// Flag of freeSession: the rights go with the session.
inline constexpr uint32_t kDestroyRights = 8;

// The one right the stand-in grants.
inline constexpr const char* kRightAdmin = "system.privilege.admin";

// The elevation command's exit status when the user dismissed its prompt.
inline constexpr int kCancelledExitStatus = 126;

// A right or an environment item ("prompt", "icon").
struct Item {
  const char* name;
  size_t valueLength;
  const void* value;
  uint32_t flags;
};

struct ItemSet {
  uint32_t count;
  const Item* items;
};

class Session;
using Ref = Session*;

// "_ElevateCommand": the command line put before the tool and its
// arguments ("pkexec").
extern plat::StringParameter elevateCommand;
// "_ForceElevation": elevate through the command even as root.
extern plat::BoolParameter forceElevation;

// A new session in *out.  Rights are not asked for here.
[[nodiscard]] Status createSession(const ItemSet* rights, const ItemSet* environment, uint32_t flags, Ref* out);
// Records the environment (null: none given).  The only right granted is
// kRightAdmin (kInvalidSet otherwise); kInvalidRef without a session.
[[nodiscard]] Status copyRights(Ref ref, const ItemSet* rights, const ItemSet* environment, uint32_t flags);
// Runs the elevation command with path and arguments (null-terminated,
// without the path).  With a place for the pipe, *pipe receives a stream
// the caller closes; without, the pipe is closed at once.  Waits as the
// header says; kToolExecuteFailure when the command cannot be started.
[[nodiscard]] Status executeWithPrivileges(Ref ref, const char* path, uint32_t options, char* const* arguments,
                                           FILE** pipe);
// Ends the session; a null one is kInvalidRef.
Status freeSession(Ref ref, uint32_t flags) noexcept;

// Whether an elevated launch must go through the elevation command.
[[nodiscard]] bool elevationNeeded() noexcept;
// The elevation command's words followed by args.
plat::CharArrayList elevationCommandLine(const plat::CharArrayList& args);

// Test seam: what the last rights request was given.
struct RecordedItem {
  plat::CharArray name;
  plat::CharArray value;
};
struct RecordedEnvironment {
  // False when the request passed no environment at all.
  bool given = false;
  std::vector<RecordedItem> items;
};
RecordedEnvironment lastRightsEnvironment();

}  // namespace authorization
