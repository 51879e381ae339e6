#pragma once
// Test helper for the proxy connector tests: a loop driven on the
// replaceable clock, a receiver that records the outcome, a handler that
// collects a connection's input and a password prompt the test answers.

#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "qocore/base/io/Io.h"
#include "qocore/base/io/IpResolver.h"
#include "qocore/base/io/ProxyError.h"
#include "qocore/base/io/ProxyFetcher.h"
#include "qocore/base/io/mac/IoRunLoopManager.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/InStream.h"
#include "testing/ConnectionRecorder.h"
#include "testing/RunUntil.h"

namespace proxy_test {

// Bytes of a protocol message.
inline std::string bytes(std::initializer_list<int> list) {
  std::string out;
  for (int b : list) out.push_back(static_cast<char>(b));
  return out;
}

inline plat::TimeValue fakeNow = 0;
inline plat::TimeValue readFakeClock(plat::TimeValue, bool* jumped) {
  if (jumped) *jumped = false;
  return fakeNow;
}

// Records the outcome, and a proxy failure's reason, description and cause.
struct Receiver : yarl_test::ConnectionRecorder {
  void failed(io::IoConnector& connector, const plat::Exception& e) override {
    ConnectionRecorder::failed(connector, e);
    if (auto* p = dynamic_cast<const io::ProxyError*>(&e)) {
      reason = p->reason();
      description = p->localisedDescription().c_str();
      causeType = p->cause() ? p->cause()->typeName() : "";
    }
  }

  std::string reason;
  std::string description;
  std::string causeType;
};

// Collects what arrives on a connection.
struct Collector : io::IoHandler {
  void readable(io::Io& io) override {
    rdr::InStream& in = io.in();
    while (in.check(false, 1)) {
      const int n = in.nUnread();
      data.append(reinterpret_cast<const char*>(in.getPtr()), static_cast<size_t>(n));
      in.skip(n);
      in.setCheckpoint();
    }
  }
  void shutdownDone(io::Io&) override { closed = true; }
  std::string data;
  bool closed = false;
};

// Records each question; the test answers through the callback.
struct Prompt : io::ProxyPasswdPrompt {
  void ask(int what, const char* proxy, Callback* cb) override {
    asked.push_back(std::to_string(what) + " " + proxy);
    callback = cb;
  }
  void forget(Callback* cb) override {
    if (cb == callback) callback = nullptr;
    forgotten++;
  }
  std::vector<std::string> asked;
  Callback* callback = nullptr;
  int forgotten = 0;
};

class ProxyTest : public testing::Test {
 protected:
  void SetUp() override {
    fakeNow = 0;
    previousClock_ = plat::setMonotonicClock(&readFakeClock);
  }
  void TearDown() override {
    receiver_.io.reset();
    connector_.reset();
    io::IpResolverMgr::shutdown();
    manager_.reset();
    plat::setMonotonicClock(previousClock_);
  }

  template <typename Pred>
  bool runUntil(Pred done) {
    return yarl_test::runUntil(manager_->runLoop(), done, std::chrono::seconds(5));
  }
  bool runToOutcome() {
    return runUntil([&] { return receiver_.done(); });
  }
  // Serves what the loop has now, waiting a little for loopback events.
  void settle() {
    for (int i = 0; i < 10; i++) manager_->runLoop().runOnce(10);
  }
  void advanceMs(int ms) {
    fakeNow += ms * plat::kTicksPerMs;
    settle();
  }
  // The tunnel's bytes after the hand-over, once `n` have come.
  std::string tunnelBytes(size_t n) {
    Collector collector;
    receiver_.io->setHandler(&collector, true);
    runUntil([&] { return collector.data.size() >= n; });
    receiver_.io->setHandler(nullptr, false);
    return collector.data;
  }

  std::unique_ptr<io::IoRunLoopManager> manager_ = std::make_unique<io::IoRunLoopManager>();
  Receiver receiver_;
  std::unique_ptr<io::IoConnector> connector_;
  plat::MonotonicClockFn previousClock_ = nullptr;
};

}  // namespace proxy_test
