#pragma once
// mui::MuiComms: the UI automation server.  An outside test driver inspects
// and operates the program's windows through a line-based text protocol on
// a local socket: each line is one command, answered by zero or more reply
// lines and one empty line.  Failure is the reply "0".  Commands address
// elements by dialog selector and element path, read state texts, list
// items and children, and trigger the same virtual actions that user input
// triggers; menus of the application menu bar and the registered popup
// menus are reachable too.
//
// The server listens only while the test-feature switch is on, so in
// ordinary use no socket exists.  The socket lives in the per-user channel
// folder, which only its owner may enter: whoever can connect can drive
// the UI.  Everything runs on the main thread's event loop.

#include <cstdint>
#include <memory>
#include <vector>

#include "qocore/base/io/Io.h"
#include "qocore/base/plat/CharArray.h"

namespace io {
class Listener;
}

namespace mui {

class MuiCommsConn;

class MuiComms : public io::IoAcceptor {
 public:
  // The longest command line; a longer one is answered with failure and
  // skipped up to its line feed.
  static constexpr int32_t kMaxLine = 1024;

  // The socket name "<dir>/<prefix>.MuiComms.<pid>": a null prefix is the
  // application name, a negative pid this process's.  The counter is
  // accepted for the callers' sake; the name never carries one.  Does not
  // listen yet.
  MuiComms(const char* prefix, int64_t pid, int32_t counter);
  // Deletes every remaining connection; one whose command is running (a
  // command may run a nested loop, from which the server can be destroyed)
  // closes its socket now and goes once that command returns.
  ~MuiComms() override;
  MuiComms(const MuiComms&) = delete;
  MuiComms& operator=(const MuiComms&) = delete;

  // Creates the process's single server (asserts "!instance" for a second
  // one) and listens when the test-feature switch is on.
  static void start(const char* prefix, int64_t pid, int32_t counter);
  static MuiComms* instance();

  // Listens (or stops listening; open connections stay).  A failure to
  // listen is logged and leaves the server without listener.
  void setListening(bool on);
  bool isListening() const noexcept { return listener_ != nullptr; }
  const char* socketName() const noexcept { return socketName_.get(); }

  void acceptIo(io::Io* io) override;

 private:
  friend class MuiCommsConn;

  std::unique_ptr<io::Listener> listener_;
  plat::CharArray socketName_;
  std::vector<MuiCommsConn*> connections_;
};

}  // namespace mui
