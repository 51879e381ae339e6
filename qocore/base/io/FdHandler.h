#pragma once
// io::FdHandler: one watched descriptor of the thread's io::FdManager.
//
// A handler registers with addHandler(true) once it has a descriptor and
// before its first setInterest, and leaves with setInterest(kNone) and
// addHandler(false) before it closes the descriptor.  Every event operation
// runs on the manager's thread, from a dispatch pass.

#include <cstdint>

namespace io {

class FdHandler {
 public:
  virtual ~FdHandler();

  // The descriptor is readable (or hung up, or in error).
  virtual void readReady() = 0;
  virtual void writeReady() {}
  // The asynchronous connect of fd_ failed with errno value err; writeReady
  // follows in the same pass.
  virtual void connectError(int32_t /*err*/) {}
  virtual void pendingReady() {}
  // The manager is being destroyed and has forgotten this handler.
  virtual void fdManagerGone() {}

  // The descriptor; -1 when none.
  int32_t fd_ = -1;
  // True while a non-blocking connect on fd_ is outstanding: the run-loop
  // manager then asks for a connect notice with the write notice.
  bool connecting_ = false;
};

}  // namespace io
