#pragma once
// os::SignalHandlerApp: ends the application loop on SIGINT and SIGTERM.
// Each signal is logged ("Got signal SIGINT") when a log source is given,
// then os::AppLoop::quit(0) stops the loop, so the program ends through
// its normal teardown.  The handler stays registered for the rest of the
// process: make it once, after the application loop, and keep it.

#include "qocore/base/os/unix/SignalHandler.h"

namespace plat {
class LogSrc;
}

namespace os {

class SignalHandlerApp : public SignalHandler::Callback {
 public:
  // Registers for SIGINT, then SIGTERM.  The log source may be null.
  explicit SignalHandlerApp(plat::LogSrc* log);
  SignalHandlerApp(const SignalHandlerApp&) = delete;
  SignalHandlerApp& operator=(const SignalHandlerApp&) = delete;

  void handleSignal(int sig) override;

 private:
  plat::LogSrc* log_;
};

}  // namespace os
