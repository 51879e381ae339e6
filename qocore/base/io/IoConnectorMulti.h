#pragma once
// io::IoConnectorMulti: tries several connectors for one connection.
//
// With a stagger of zero or more milliseconds the attempts race: the first
// starts at once and each further one `staggerMs` later (or as soon as a
// running one fails).  A negative stagger runs them one after another, each
// starting only when the previous one has failed.  The first success wins
// and every other attempt is cancelled by destroying its connector; when
// all fail, only the last failure is reported.

#include <cstdint>
#include <memory>
#include <vector>

#include "qocore/base/io/Io.h"
#include "qocore/base/plat/Timer.h"

namespace io {

class IoConnectorMulti : public IoConnector, public IoConnected, public plat::Timer::Callback {
 public:
  IoConnectorMulti(std::vector<std::unique_ptr<IoConnector>> connectors, int32_t staggerMs);
  ~IoConnectorMulti() override;

  void start(IoConnected* cb) override;
  // Tries each connector's connect in order; the last one's failure
  // reaches the caller.
  Io* connect() override;

  void connected(IoConnector& connector, Io* io) override;
  void failed(IoConnector& connector, const plat::Exception& error) override;
  // Forwarded once; later notices are dropped.
  void notify(IoConnector& connector) override;

  bool timerExpired(plat::Timer* timer) override;

 private:
  // Starts the next connector (a failure to start it is ignored); answers
  // whether more remain unstarted.
  bool startNext();
  bool moreToStart() const noexcept { return started_ + 1 < static_cast<int32_t>(connectors_.size()); }
  void destroyConnectors();

  IoConnected* cb_ = nullptr;
  std::vector<std::unique_ptr<IoConnector>> connectors_;
  int32_t started_ = -1;
  int32_t failures_ = 0;
  int32_t staggerMs_;
  plat::Timer timer_;
  bool notified_ = false;
};

}  // namespace io
