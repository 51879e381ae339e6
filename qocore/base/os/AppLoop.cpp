#include "qocore/base/os/AppLoop.h"

#include "platform/runloop/RunLoop.h"
#include "qocore/base/io/mac/IoRunLoopManager.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/ScopeExit.h"

namespace os {

AppLoop* AppLoop::inst = nullptr;
int AppLoop::exitCode_ = 0;

AppLoop::AppLoop(Impl* impl) : impl_(impl) {
  PLAT_ASSERT(!inst);
  inst = this;
  if (!impl_) impl_ = std::make_unique<AppLoopImpl>();
}

AppLoop::~AppLoop() {
  impl_.reset();
  inst = nullptr;
}

int AppLoop::run() {
  plat::finishLogSetup();
  PLAT_ASSERT(!isRunning);
  isRunning = true;
  // An exception out of the loop leaves it idle too.
  plat::ScopeExit idle([this] { isRunning = false; });
  return impl_->run();
}

void AppLoop::quit(int code) {
  PLAT_ASSERT(inst && inst->isRunning);
  exitCode_ = code;
  inst->impl_->quit();
}

namespace {
io::IoRunLoopManager* processManager() {
  // Made on the main thread by the first loop and never destroyed: exit()
  // may run on another thread, where the main thread's manager cannot go.
  static io::IoRunLoopManager* const manager = new io::IoRunLoopManager;
  return manager;
}
}  // namespace

AppLoopImpl::AppLoopImpl() : manager_(processManager()) {}

AppLoopImpl::~AppLoopImpl() = default;

int AppLoopImpl::run() {
  manager_->runLoop().run();
  return AppLoop::exitCode();
}

void AppLoopImpl::quit() { runloop::RunLoop::current().stop(); }

}  // namespace os
