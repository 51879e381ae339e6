#pragma once
// Stands in for CFNetwork's two PAC executions: by URL (download, then
// evaluate; the answer arrives later on the loop thread, as a run-loop
// source would deliver it) and by script (the caller runs its loop in a
// private mode until the answer comes).  Both evaluate on a worker thread
// (PacScript.h): a script that never returns keeps only its worker, which
// is left behind and ends with the process.

#include <memory>
#include <vector>

#include "platform/cfnetwork/PacScript.h"
#include "qocore/base/io/FdKicker.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Timer.h"

namespace cfnetwork {

// The outcome of one evaluation: proxies, or the error.
struct PacOutcome {
  bool ok = false;
  std::vector<PacProxy> proxies;
  CFError error;
};

class PacUrlExecution : public io::FdKickerCallback, public plat::Timer::Callback {
 public:
  class Callback {
   public:
    // On the loop thread the execution was made on, at most once; the
    // execution may be destroyed inside.
    virtual void pacExecuted(PacUrlExecution& execution, const PacOutcome& outcome) = 0;

   protected:
    ~Callback() = default;
  };

  // Starts downloading pacUrl and evaluating FindProxyForURL(targetUrl,
  // host) on a worker; made on the loop thread.
  PacUrlExecution(const char* pacUrl, const char* targetUrl, const char* host, Callback* callback);
  // An answer not yet delivered is dropped; a worker still running is left
  // to finish alone.
  ~PacUrlExecution();
  PacUrlExecution(const PacUrlExecution&) = delete;
  PacUrlExecution& operator=(const PacUrlExecution&) = delete;

  void kicked(io::FdKicker& kicker, rdr::InStream& in) override;
  // The answer is told from a 0 ms timer, never from inside the kicker's
  // call, so that the callback may destroy the execution.
  bool timerExpired(plat::Timer* timer) override;

  struct Job;

 private:
  std::shared_ptr<Job> job_;
  Callback* callback_;
  io::FdKicker kicker_;
  plat::Timer timer_;
};

// Evaluates FindProxyForURL(targetUrl, host) of script (length bytes) on a
// worker and waits at most timeoutMs for it: false when no answer came in
// time (the worker is left behind), else true with the outcome.
[[nodiscard]] bool executePacScript(const char* script, size_t length, const char* targetUrl, const char* host,
                                    int timeoutMs, PacOutcome& outcome);

}  // namespace cfnetwork
