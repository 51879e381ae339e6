#pragma once
// os::AppLoop: the program's one application loop.  Each role's main
// creates it on the main thread before any descriptor or timer is used and
// calls run(), which serves the main thread's run loop (every descriptor,
// timer and signal of that thread, one callout at a time) until a handler
// calls the static quit(code) from inside a callout.  quit only stops the
// loop: run returns once control is back in the loop, with the code of the
// last quit (or of the previous one, 0 at first, when the loop stopped
// otherwise).
//
// run first completes the logging set-up, so messages held since start-up
// are replayed to their destinations.  A second AppLoop, a nested run and
// quit without a running loop are assertion failures.  An exception out of
// the loop leaves it idle, so a later run is allowed.  Main thread only.
//
// os::AppLoopImpl serves the run loop through the process-wide
// io::IoRunLoopManager, made on its first construction and kept until the
// process exits.

#include <memory>

#include "qocore/base/os/mac/NSUtil.h"

namespace io {
class IoRunLoopManager;
}

namespace os {

class AppLoop {
 public:
  class Impl {
   public:
    // Serves until quit; answers the exit code.
    virtual int run() = 0;
    // Stops the loop run() serves; called from inside it.
    virtual void quit() = 0;
    virtual ~Impl() = default;
  };

  // Takes ownership of impl; null makes an os::AppLoopImpl.
  explicit AppLoop(Impl* impl = nullptr);
  virtual ~AppLoop();
  AppLoop(const AppLoop&) = delete;
  AppLoop& operator=(const AppLoop&) = delete;

  int run();
  // Stores the exit code and stops the running loop.
  static void quit(int code);
  // The code of the last quit (0 before any).
  static int exitCode() noexcept { return exitCode_; }
  // The implementation, for a subclass's own accessor.
  Impl* implementation() const noexcept { return impl_.get(); }

 private:
  std::unique_ptr<Impl> impl_;
  // Named without the usual underscore: assertion texts show it.
  bool isRunning = false;
  static AppLoop* inst;
  static int exitCode_;
};

class AppLoopImpl : public AppLoop::Impl {
 public:
  AppLoopImpl();
  ~AppLoopImpl() override;

  // Runs the thread's run loop until stopped, then answers the exit code.
  int run() override;
  void quit() override;

 private:
  AutoreleasePool pool_;
  io::IoRunLoopManager* manager_;
};

}  // namespace os
