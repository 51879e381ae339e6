#pragma once
// os::SignalHandler: the process-wide dispatcher that turns Unix signals
// into ordinary callbacks on the loop thread.
//
// The installed handler does only one thing in signal context: it writes
// the signal's number as one byte into an io::FdKicker.  The kicker's
// thread (the loop thread that made the first registration) reads the
// bytes and calls the registered callbacks, the last registered first.
// Registering and removing happen on that thread.
//
// Handlers are installed without SA_RESTART, and Linux delivers a signal to
// any thread that does not block it: every blocking call of the program
// retries after EINTR.

#include <signal.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "qocore/base/io/FdKicker.h"

namespace os {

class SignalHandler : public io::FdKickerCallback {
 public:
  class Callback {
   public:
    virtual void handleSignal(int sig) = 0;

   protected:
    ~Callback() = default;
  };

  // Made on first use and never destroyed: a signal may arrive until the
  // very end, and its handler must still find the kicker.
  static SignalHandler& instance();

  // add: appends {sig, callback} and installs the handler for sig (empty
  // mask, no flags).  The calling thread needs a descriptor manager; when
  // the kicker's manager is gone or is not the caller's, a new kicker is
  // made on the caller's.  !add: removes every {sig, callback} entry, also
  // from a dispatch under way, and restores the default action once no
  // callback for sig remains.
  void addCallback(int sig, Callback* callback, bool add);

  void kicked(io::FdKicker& kicker, rdr::InStream& in) override;

  // Blocks the signals that have callbacks around a fork, so that neither
  // side runs a handler before it is ready for it.
  class ForkBlock {
   public:
    // Blocks every registered signal below 33 on the calling thread.
    void block();
    // In the child: the default action for each blocked signal.
    // Async-signal-safe.
    void resetInChild() const noexcept;
    // Back to the mask from before block (when it blocked).
    // Async-signal-safe.
    void restore() noexcept;

   private:
    bool blocked_ = false;
    int highest_ = 0;
    uint32_t set_ = 0;
    sigset_t previous_{};
  };

 private:
  struct Entry {
    int sig;
    Callback* callback;
  };

  SignalHandler() = default;
  ~SignalHandler() = default;
  static void onSignal(int sig);
  void dispatch(int sig);
  void ensureKicker();

  std::vector<Entry> registrations_;
  // The copies that dispatches under way walk (innermost last).
  std::vector<std::vector<Entry>*> dispatching_;
  std::unique_ptr<io::FdKicker> kicker_;
  // Kickers whose manager went away.  Kept, not closed: a signal handler
  // on another thread may still be writing into one.
  std::vector<std::unique_ptr<io::FdKicker>> retired_;
};

// "SIGHUP" ... "SIGUSR2" for the signals this system names; null for any
// other number (SIGSTKFLT and SIGPWR included).
const char* signalName(int sig) noexcept;

// kill(pid, sig).  Throws SystemExceptionFmt "kill(<pid>,<name or number>)".
void sendSignal(pid_t pid, int sig);

}  // namespace os
