#pragma once
// os::LaunchConfig: the settings of one child process launch, copied by
// value into each launch; and os::LaunchedIo, the owning handle of a
// launched child's connection.

#include <cstdint>
#include <map>
#include <vector>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Strings.h"

namespace io {
class Io;
}

namespace os {

struct LaunchConfig {
  LaunchConfig() = default;
  LaunchConfig(const LaunchConfig&) = default;
  LaunchConfig(LaunchConfig&&) = default;
  LaunchConfig& operator=(const LaunchConfig&) = default;
  LaunchConfig& operator=(LaunchConfig&&) = default;
  // Wipes the two wiped texts.
  ~LaunchConfig();

  bool requireElevation() const noexcept { return elevate; }

  // args[0] is the program (absolute once resolved).
  plat::CharArrayList args;
  // 0: the launch object waits for the child when destroyed; 1: hands it
  // to the reaper then; 2: detached (double fork, no process id kept).
  int32_t dl = 0;
  // The child needs administrator rights.
  bool elevate = false;
  // The text of the elevation prompt.
  plat::CharArray prompt;
  // Two texts the launch itself does not read, wiped on release.
  plat::CharArray wiped1;
  plat::CharArray wiped2;
  // Appended after the pipe argument by the launch with a pipe.
  plat::CharArrayList extraArgs;
  // Not read by the launch itself.
  int32_t reserved = 0;
  // Run the child as this user (0: as the caller).
  uint32_t runAsUid = 0;
  // Not read by the launch itself.
  uint8_t flags = 0;
  // Variables set in the child.
  std::map<plat::CharArray, plat::CharArray, plat::StrLess> env;
  // Variables removed from the child's environment.
  plat::CharArrayList unset;
  // The child starts from an empty environment, not from the parent's.
  bool cleanEnvironment = false;
  // Every descriptor from this number up is closed in the child before
  // exec; negative keeps them.
  int32_t closeFrom = -1;
  // The first is the child's end of a launch pipe.
  std::vector<int32_t> childDescriptors;
  // The launch with a pipe appends no descriptor number.
  bool noPipeArgument = false;
  // args[0] without "/" is looked up in PATH.
  bool searchPath = false;
};

// A connection handed over with the flags its shutdown takes; whatever the
// handle still holds when it goes is shut down with them.
class LaunchedIo {
 public:
  LaunchedIo() = default;
  LaunchedIo(io::Io* io, bool flush, bool tellHandler) noexcept : io_(io), flush_(flush), tellHandler_(tellHandler) {}
  LaunchedIo(LaunchedIo&& other) noexcept;
  LaunchedIo& operator=(LaunchedIo&& other) noexcept;
  ~LaunchedIo() { reset(); }

  io::Io* get() const noexcept { return io_; }
  io::Io* operator->() const noexcept { return io_; }
  explicit operator bool() const noexcept { return io_ != nullptr; }
  bool flush() const noexcept { return flush_; }
  bool tellHandler() const noexcept { return tellHandler_; }
  // Gives the connection up without shutting it down.
  [[nodiscard]] io::Io* release() noexcept;
  // Shuts the connection held down (if any).
  void reset() noexcept;

 private:
  io::Io* io_ = nullptr;
  bool flush_ = false;
  bool tellHandler_ = false;
};

}  // namespace os
