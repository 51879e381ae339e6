#pragma once
// io::FdKicker: wakes a manager's thread from another thread or from a
// signal handler, handing it one byte per kick.
//
// The kicker registers with the manager current at construction and reads
// the pipe on that manager's thread; kick() only writes one byte and may be
// called from anywhere, a signal handler included.  The callback reads the
// bytes from the stream it is given, which is non-blocking: a check that
// comes up short rewinds to the stream's checkpoint, so the callback sets
// the checkpoint after each byte (or message) it has consumed.  Whatever it
// leaves unread stays for the next call.

#include <memory>

#include "qocore/base/io/FdHandler.h"
#include "qocore/base/plat/UniqueFd.h"
#include "qocore/base/rdr/FdInStream.h"

namespace io {

class FdKicker;
class FdManager;

class FdKickerCallback {
 public:
  virtual void kicked(FdKicker& kicker, rdr::InStream& in) = 0;

 protected:
  ~FdKickerCallback() = default;
};

class FdKicker : public FdHandler {
 public:
  explicit FdKicker(FdKickerCallback* callback);
  ~FdKicker() override;
  FdKicker(const FdKicker&) = delete;
  FdKicker& operator=(const FdKicker&) = delete;

  // Writes one byte to the pipe; the result is ignored (async-signal-safe).
  void kick(uint8_t byte = 0) noexcept;
  // Discards everything buffered or readable now, without blocking.
  void drain();
  // True when a byte is buffered or one can be read now.
  bool hasPending();

  void readReady() override;
  void fdManagerGone() override { manager_ = nullptr; }
  // The manager it reads on; null once that manager is gone.
  FdManager* manager() const noexcept { return manager_; }

 private:
  plat::UniqueFd readEnd_;
  plat::UniqueFd writeEnd_;
  FdKickerCallback* callback_;
  FdManager* manager_;
  std::unique_ptr<rdr::FdInStream> in_;
};

}  // namespace io
