#pragma once
// The child's side of the launch with a pipe: the arguments its parent put
// on its command line lead to the connection back to the parent, either an
// inherited descriptor (its number) or a named local channel, whose first
// 32 bytes must hash to the value given with "-hash".

#include "qocore/base/os/LaunchConfig.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/MBuf.h"

namespace os {

struct LaunchPipeArgs {
  plat::CharArray pipeName;
  // Where the child's stderr goes while it connects to a named channel.
  plat::CharArray debugLogPath{"/dev/null"};
  // "-lppDebug": the log goes to lppDebug.log in the channel's folder.
  bool debugLog = false;
  bool nozombie = false;
  // The SHA-256 of the secret the parent sends first; empty: no check.
  plat::Buffer expectedHash{0, true};
};

// Reads the launch arguments at argv (a cursor into a null-terminated
// list, left after them) and connects:
//   "-dummy": standard input as the connection, nothing else read;
//   options "-lppDebug", "-hash <hex>" (plat::Exception "-hash argument
//   bad or missing"), "-fork" (the process started first exits with 0,
//   a detached grandchild goes on), "-nozombie" (the real uid becomes the
//   effective one; an inherited descriptor then first carries the
//   process's id and its parent's, 64-bit big-endian);
//   then the pipe name (plat::Exception "Bad command-line: got %s instead
//   of pipe name") and at least `required` further arguments.
// A named channel's failures are written to stderr (the debug log) and
// passed on; a wrong secret is plat::Exception "Bad hash".
void connectLaunchPipe(LaunchedIo& out, LaunchPipeArgs& args, char**& argv, int required);

// connectLaunchPipe with default arguments, for the roles a parent
// launches; argv is advanced past the launch arguments.
LaunchedIo connectParentPipe(char**& argv);

}  // namespace os
