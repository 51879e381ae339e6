#include "qocore/base/os/unix/SignalHandler.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>

#include "qocore/base/io/FdManager.h"
#include "qocore/base/plat/Exception.h"

namespace os {

namespace {

// What the signal handler writes into; swapped only on the loop thread.
constinit std::atomic<io::FdKicker*> activeKicker{nullptr};

// Signals above this do not fit the fork block's mask.
constexpr int kMaxForkBlockSignal = 32;

}  // namespace

SignalHandler& SignalHandler::instance() {
  static SignalHandler* inst = new SignalHandler;
  return *inst;
}

void SignalHandler::onSignal(int sig) {
  int savedErrno = errno;
  if (io::FdKicker* kicker = activeKicker.load(std::memory_order_acquire)) kicker->kick(static_cast<uint8_t>(sig));
  errno = savedErrno;
}

void SignalHandler::ensureKicker() {
  io::FdManager* current = io::FdManager::current();
  if (kicker_ && kicker_->manager() == current) return;
  auto fresh = std::make_unique<io::FdKicker>(this);
  activeKicker.store(fresh.get(), std::memory_order_release);
  if (kicker_) retired_.push_back(std::move(kicker_));
  kicker_ = std::move(fresh);
}

void SignalHandler::addCallback(int sig, Callback* callback, bool add) {
  if (add) {
    ensureKicker();
    registrations_.push_back({sig, callback});
    struct sigaction action {};
    action.sa_handler = &SignalHandler::onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    if (::sigaction(sig, &action, nullptr) != 0) throw plat::SystemException("sigaction", errno);
    return;
  }
  auto same = [&](const Entry& e) { return e.sig == sig && e.callback == callback; };
  std::erase_if(registrations_, same);
  for (std::vector<Entry>* list : dispatching_) std::erase_if(*list, same);
  bool others = std::any_of(registrations_.begin(), registrations_.end(), [&](const Entry& e) { return e.sig == sig; });
  if (!others) ::signal(sig, SIG_DFL);
}

void SignalHandler::kicked(io::FdKicker& /*kicker*/, rdr::InStream& in) {
  while (in.check(false, 1)) {
    int sig = in.readU8();
    in.setCheckpoint();
    dispatch(sig);
  }
}

void SignalHandler::dispatch(int sig) {
  std::vector<Entry> list = registrations_;
  dispatching_.push_back(&list);
  struct Pop {
    std::vector<std::vector<Entry>*>& stack;
    ~Pop() { stack.pop_back(); }
  } pop{dispatching_};
  while (!list.empty()) {
    Entry entry = list.back();
    list.pop_back();
    if (entry.sig == sig) entry.callback->handleSignal(sig);
  }
}

void SignalHandler::ForkBlock::block() {
  sigset_t set;
  sigemptyset(&set);
  set_ = 0;
  highest_ = 0;
  for (const Entry& e : instance().registrations_) {
    if (e.sig <= 0 || e.sig > kMaxForkBlockSignal) continue;
    set_ |= 1u << (e.sig - 1);
    highest_ = std::max(highest_, e.sig);
    sigaddset(&set, e.sig);
  }
  int rc = ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
  if (rc != 0) throw plat::SystemException("pthread_sigmask", rc);
  blocked_ = true;
}

void SignalHandler::ForkBlock::resetInChild() const noexcept {
  for (int sig = 1; sig <= highest_; ++sig) {
    if (set_ & (1u << (sig - 1))) ::signal(sig, SIG_DFL);
  }
}

void SignalHandler::ForkBlock::restore() noexcept {
  if (!blocked_) return;
  ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  blocked_ = false;
}

const char* signalName(int sig) noexcept {
  // By symbol: the numbers differ between systems, and some of the names
  // exist only on some of them.
  switch (sig) {
    case SIGHUP:
      return "SIGHUP";
    case SIGINT:
      return "SIGINT";
    case SIGQUIT:
      return "SIGQUIT";
    case SIGILL:
      return "SIGILL";
    case SIGTRAP:
      return "SIGTRAP";
    case SIGABRT:
      return "SIGABRT";
#ifdef SIGEMT
    case SIGEMT:
      return "SIGEMT";
#endif
    case SIGFPE:
      return "SIGFPE";
    case SIGKILL:
      return "SIGKILL";
    case SIGBUS:
      return "SIGBUS";
    case SIGSEGV:
      return "SIGSEGV";
    case SIGSYS:
      return "SIGSYS";
    case SIGPIPE:
      return "SIGPIPE";
    case SIGALRM:
      return "SIGALRM";
    case SIGTERM:
      return "SIGTERM";
    case SIGURG:
      return "SIGURG";
    case SIGSTOP:
      return "SIGSTOP";
    case SIGTSTP:
      return "SIGTSTP";
    case SIGCONT:
      return "SIGCONT";
    case SIGCHLD:
      return "SIGCHLD";
    case SIGTTIN:
      return "SIGTTIN";
    case SIGTTOU:
      return "SIGTTOU";
    case SIGIO:
      return "SIGIO";
    case SIGXCPU:
      return "SIGXCPU";
    case SIGXFSZ:
      return "SIGXFSZ";
    case SIGVTALRM:
      return "SIGVTALRM";
    case SIGPROF:
      return "SIGPROF";
    case SIGWINCH:
      return "SIGWINCH";
#ifdef SIGINFO
    case SIGINFO:
      return "SIGINFO";
#endif
    case SIGUSR1:
      return "SIGUSR1";
    case SIGUSR2:
      return "SIGUSR2";
    default:
      return nullptr;
  }
}

void sendSignal(pid_t pid, int sig) {
  PLAT_ASSERT(pid > 0);
  if (::kill(pid, sig) == 0) return;
  int error = errno;
  char number[16];
  const char* name = signalName(sig);
  if (!name) {
    std::snprintf(number, sizeof number, "%d", sig);
    name = number;
  }
  throw plat::SystemExceptionFmt("kill(%ld,%s)", error, static_cast<long>(pid), name);
}

}  // namespace os
