#pragma once
// The named-channel mode of the launch with a pipe: the parent listens on
// a private local channel "launchpipe" whose path ends the child's command
// line after "-hash" and the SHA-256 of a 32-byte secret made for this
// launch; the child connects and checks that the first 32 bytes it
// receives hash to that value, so it knows it reached the parent that
// launched it.  An elevated config whose launch needs elevation runs the
// elevation command first (platform/authorization), and the child
// detaches with "-fork", so the command's exit tells whether the user
// allowed it (126: refused).

#include <memory>

#include "qocore/base/io/Io.h"
#include "qocore/base/os/LaunchConfig.h"
#include "qocore/base/os/LaunchWithPipe.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/MBuf.h"
#include "qocore/base/plat/Timer.h"

namespace os {

class LaunchProcess;
class NamedPipeListener;

// "_lppDebug": children of the named mode write their connection log to
// lppDebug.log beside the channel.
extern plat::BoolParameter lppDebug;

// The parent's listener for one launch: the channel, the secret, and the
// child's command line built from the config.
class LaunchPipeListener : public io::IoAcceptor {
 public:
  // Draws the channel number and the secret, builds the command line and
  // starts listening (handing connections to callback when one is given).
  // The config is read, not changed.
  LaunchPipeListener(const LaunchConfig& cfg, LaunchWithPipeCallback* callback);
  ~LaunchPipeListener() override;

  // A child connected: writes the secret, then hands the connection (null
  // when the write failed) to the callback.
  void acceptIo(io::Io* io) override;

  // The child's launch settings: args end in the channel arguments.
  const LaunchConfig& childConfig() const noexcept { return childCfg_; }
  NamedPipeListener& listener() noexcept { return *listener_; }
  const plat::Buffer& secret() const noexcept { return secret_; }

 private:
  LaunchWithPipeCallback* callback_;
  LaunchConfig childCfg_;
  plat::Buffer secret_;
  std::unique_ptr<NamedPipeListener> listener_;
};

class LaunchWithNamedPipe : public plat::Timer::Callback, public LaunchWithPipeCallback {
 public:
  // cfg is borrowed and must outlive this object.
  explicit LaunchWithNamedPipe(LaunchConfig& cfg);
  ~LaunchWithNamedPipe() override;
  LaunchWithNamedPipe(const LaunchWithNamedPipe&) = delete;
  LaunchWithNamedPipe& operator=(const LaunchWithNamedPipe&) = delete;

  // Launches; callback hears launched() once from the loop, with the
  // connection or null (elevation refused, the elevation step failing, no
  // connection within 5 s of its end).  The owner may destroy this object
  // inside that call.
  void start(LaunchWithPipeCallback* callback);
  // For elevated configs: launches and waits for the connection.  Throws
  // ElevateCancelled when the elevation was refused, LaunchFailed "Launch
  // failed: elevate prog failed with status %d for %s", "Launch failed:
  // timed out waiting for %s" or "Launch failed: acceptIo() failed for %s".
  LaunchedIo launchSync();

  // The listener's report of a connection.
  void launched(LaunchedIo& io) override;
  bool timerExpired(plat::Timer* timer) override;

 private:
  // False when the launch did not go ahead.
  bool launch(bool withCallback);
  // One look at the elevation step: true with its exit code once it has
  // ended (0 when there is none to ask), after which it is forgotten.
  bool elevationEnded(int& exitCode);

  LaunchConfig& cfg_;
  LaunchWithPipeCallback* callback_ = nullptr;
  std::unique_ptr<LaunchPipeListener> lpl_;
  std::unique_ptr<LaunchProcess> process_;
  LaunchedIo io_;
  plat::Timer timer_;
  // The launch runs the elevation command.
  bool viaCommand_ = false;
};

}  // namespace os
