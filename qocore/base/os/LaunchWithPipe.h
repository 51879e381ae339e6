#pragma once
// os::LaunchWithPipe: a child program that talks back to its parent over a
// private byte channel, an inherited socket pair whose descriptor number
// ends the child's command line.  A config with the elevate flag goes,
// from a process that is not root, through the system's elevated launch
// (os/mac/LaunchViaAewp.h); the named-channel mode is
// os::LaunchWithNamedPipe (os/LaunchWithNamedPipe.h).
//
// start hands the child's connection over from a 0 ms timer, never from
// inside start; the owner may destroy the launcher inside that callback.

#include <memory>

#include "qocore/base/os/LaunchConfig.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Timer.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace os {

class LaunchWithNamedPipe;

// A launch that failed; printf-style message, type "LaunchFailed".
class LaunchFailed : public plat::Exception {
 public:
  explicit LaunchFailed(const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));
};

// The user refused the elevation (or it cannot be had): type
// "ElevateCancelled", the localised "Elevation cancelled or not
// supported.".
class ElevateCancelled : public plat::Exception {
 public:
  ElevateCancelled() noexcept;
};

class LaunchWithPipeCallback {
 public:
  // The child's connection, or a null one when the launch failed.  The
  // callee may take it from the handle; whatever it leaves is shut down
  // with the handle's flags afterwards.  The launcher may be destroyed
  // here.
  virtual void launched(LaunchedIo& io) = 0;

 protected:
  ~LaunchWithPipeCallback() = default;
};

class LaunchWithPipe : public plat::Timer::Callback {
 public:
  // Copies cfg; detach level 0 becomes 1 (a dropped child goes to the
  // reaper).
  explicit LaunchWithPipe(const LaunchConfig& cfg);
  // Shuts down a connection not handed over and cancels the timer.
  ~LaunchWithPipe() override;
  LaunchWithPipe(const LaunchWithPipe&) = delete;
  LaunchWithPipe& operator=(const LaunchWithPipe&) = delete;

  // Launches at once (failures throw, ElevateCancelled and LaunchFailed
  // among them) and hands the connection to callback from a 0 ms timer.
  // A connection still held is an assertion failure.
  void start(LaunchWithPipeCallback* callback);
  // Launches and answers the connection at once.
  LaunchedIo launchChild();
  // Sends the bytes to a new child, closes the writing side and throws
  // away whatever the child sends back.
  void runWithInput(int32_t length, const void* data);
  // Copies everything a new child sends into out; a failure of the channel
  // or a full out ends the copy silently.
  void readOutput(rdr::OutStream& out);
  // readOutput as text, without one final line feed when asked.
  plat::CharArray readOutputText(bool dropFinalNewline);

  // The named-channel mode over this launcher's config.
  LaunchWithNamedPipe& named();
  LaunchConfig& config() noexcept { return cfg_; }

  bool timerExpired(plat::Timer* timer) override;

  // Copies from in to out until in ends (true), in would block (false) or
  // out is full: then OutStreamFull "OutStream full" with failWhenFull,
  // else false.  After false a later call resumes the copy; the bytes
  // copied so far are consumed from in.  Other failures pass on.
  [[nodiscard]] static bool writeAll(rdr::InStream& in, rdr::OutStream& out, bool failWhenFull);

 private:
  LaunchConfig cfg_;
  std::unique_ptr<LaunchWithNamedPipe> named_;
  LaunchWithPipeCallback* callback_ = nullptr;
  plat::Timer timer_;
  LaunchedIo io_;
};

}  // namespace os
