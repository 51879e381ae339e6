#include "qocore/base/os/unix/SignalHandlerApp.h"

#include <signal.h>

#include "qocore/base/os/AppLoop.h"
#include "qocore/base/plat/LogSrc.h"

namespace os {

SignalHandlerApp::SignalHandlerApp(plat::LogSrc* log) : log_(log) {
  SignalHandler::instance().addCallback(SIGINT, this, true);
  SignalHandler::instance().addCallback(SIGTERM, this, true);
}

void SignalHandlerApp::handleSignal(int sig) {
  if (log_) {
    const char* name = signalName(sig);
    log_->info("Got signal %s", name ? name : "?");
  }
  AppLoop::quit(0);
}

}  // namespace os
