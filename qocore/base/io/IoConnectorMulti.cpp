#include "qocore/base/io/IoConnectorMulti.h"

#include <utility>

#include "qocore/base/plat/Exception.h"

namespace io {

IoConnectorMulti::IoConnectorMulti(std::vector<std::unique_ptr<IoConnector>> connectors, int32_t staggerMs)
    : connectors_(std::move(connectors)), staggerMs_(staggerMs), timer_(this) {}

IoConnectorMulti::~IoConnectorMulti() {
  timer_.cancel();
  destroyConnectors();
}

void IoConnectorMulti::destroyConnectors() {
  // Last first; destroying a connector cancels its attempt.
  while (!connectors_.empty()) connectors_.pop_back();
}

void IoConnectorMulti::start(IoConnected* callback) {
  PLAT_ASSERT_TEXT(!connectors_.empty(), "!ics.empty()");
  PLAT_ASSERT_TEXT(!cb_, "!cb");
  cb_ = callback;
  PLAT_ASSERT(cb_);
  if (startNext() && staggerMs_ >= 0) timer_.start(staggerMs_);
}

bool IoConnectorMulti::startNext() {
  started_++;
  try {
    connectors_[started_]->start(this);
  } catch (const plat::Exception&) {
    // The attempt never began; its connector may still report, or the
    // stagger moves on.
  }
  return moreToStart();
}

bool IoConnectorMulti::timerExpired(plat::Timer* timer) {
  if (timer != &timer_ || !moreToStart()) return false;
  // Re-armed with the same interval while connectors remain.
  return startNext();
}

Io* IoConnectorMulti::connect() {
  PLAT_ASSERT_TEXT(!connectors_.empty(), "!ics.empty()");
  size_t last = connectors_.size() - 1;
  for (size_t i = 0; i < last; i++) {
    try {
      return connectors_[i]->connect();
    } catch (const plat::Exception&) {
      // Only the last connector's failure reaches the caller.
    }
  }
  return connectors_[last]->connect();
}

void IoConnectorMulti::connected(IoConnector&, Io* io) {
  timer_.cancel();
  // The reporting connector goes too; it touches nothing of itself after
  // reporting.
  destroyConnectors();
  cb_->connected(*this, io);
}

void IoConnectorMulti::failed(IoConnector&, const plat::Exception& error) {
  failures_++;
  timer_.cancel();
  if (moreToStart()) {
    if (startNext() && staggerMs_ >= 0) timer_.start(staggerMs_);
    return;
  }
  if (staggerMs_ >= 0 && failures_ < static_cast<int32_t>(connectors_.size())) return;
  cb_->failed(*this, error);
}

void IoConnectorMulti::notify(IoConnector&) {
  if (notified_) return;
  notified_ = true;
  cb_->notify(*this);
}

}  // namespace io
