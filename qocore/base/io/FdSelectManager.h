#pragma once
// io::FdSelectManager: a manager that waits with poll, one round per call.
//
// Built as a nested manager on a thread that already has one, when code
// must talk synchronously to a peer while the outer loop is held.  Every
// descriptor number is served.

#include <poll.h>

#include <vector>

#include "qocore/base/io/FdManager.h"

namespace io {

class FdSelectManager : public FdManager {
 public:
  explicit FdSelectManager(bool nested = true) : FdManager(nested) {}
  ~FdSelectManager() override;

  // Waits at most timeoutMs (negative: no limit, but never past the first
  // due timer), then runs one dispatch pass.  True when a timer was due or
  // a descriptor was ready.  A descriptor watched for read that is
  // readable, hung up, in error or invalid is read-ready; one watched for
  // write that is writable, hung up, in error or invalid is write-ready;
  // urgent data on one watched for exceptions is read-ready too.
  bool poll(int timeoutMs);

 protected:
  bool updateInterest(FdHandler* handler, Interest interest) override;

 private:
  std::vector<FdHandler*> readWatch_, writeWatch_, exceptWatch_;
  std::vector<pollfd> fds_;
  std::vector<FdHandler*> fdOwners_;
};

}  // namespace io
