#pragma once
// Test helper: the receiver of a connection attempt's result that records
// what it was told, for a test to wait on (runUntil(loop, [&] { return
// recorder.done(); }, ...)) and then check.
//
// It owns the connection it is given (`io`; a test that hands the
// connection on releases it) and keeps the outcome as text: "connected",
// or the failure's message and type name.  `events` lists every report in
// order, "connected" or "failed:" and the failure as the handlers print it
// (plat::Exception::format), so a test also sees a second report that
// should not have come.  A test that reads more off a failure (an error
// number, a proxy's reason) derives from it and calls
// ConnectionRecorder::failed first.

#include <memory>
#include <string>
#include <vector>

#include "qocore/base/io/Io.h"
#include "qocore/base/plat/Exception.h"

namespace yarl_test {

class ConnectionRecorder : public io::IoConnected {
 public:
  void connected(io::IoConnector&, io::Io* newIo) override {
    io.reset(newIo);
    outcome = "connected";
    events.push_back("connected");
  }
  void failed(io::IoConnector&, const plat::Exception& e) override {
    outcome = e.str();
    type = e.typeName();
    char text[plat::Exception::kMsgSize];
    e.format(text);
    events.push_back(std::string("failed:") + text);
  }

  // Whether the attempt has reported.
  bool done() const { return !events.empty(); }

  std::unique_ptr<io::Io> io;
  std::string outcome;  // "connected" or the failure's message; empty before
  std::string type;     // the failure's type name
  std::vector<std::string> events;
};

}  // namespace yarl_test
