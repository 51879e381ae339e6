#pragma once
// Proxy auto-configuration in a child process of the program, started
// with "-pacHelper": http::PacHelperClient is the parent's side, a proxy
// fetcher that launches the child for each fetch, and http::PacHelper the
// child's, which evaluates with http::MacPacFetcher.
//
// The messages (io::MsgIpc, integers big-endian):
//   "ResolvePac"  parent to child: host (u32 length + bytes, at most 1024),
//                 port (u32), pacUrl (u32 length + bytes, at most 4096)
//   "PacResult"   child to parent: proxies (u32 length + bytes, at most
//                 4096; empty on failure), errorMessage and errorType
//                 (u8 length + bytes each; both empty on success)
//
// The parent never blocks on the child, and leaves none behind: a child
// that has not answered when the reply time runs out, or when the client
// is destroyed, is killed.

#include <memory>

#include "qocore/base/io/Ipc.h"
#include "qocore/base/io/ProxyFetcher.h"
#include "qocore/base/os/unix/ProcessMonitor.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Timer.h"

namespace http {

// Whether this process runs PAC in the helper child: set by
// PacHelper::main, which every start of the program calls.
bool pacChildModeAvailable() noexcept;

class PacHelperClient : public io::ProxyFetcher,
                        public io::MsgIpc::Callback,
                        public io::MsgIpc::Reader,
                        public plat::Timer::Callback,
                        public os::ProcessMonitor::Callback {
 public:
  PacHelperClient(const char* host, uint32_t port, const io::ProxyCredentials& credentials, const char* pacUrl);
  // Detaches the child's log, stops the timer, closes the channel and
  // kills a child still running.
  ~PacHelperClient() override;

  // Launches the child and asks it; the answer comes later from the loop,
  // except a failed launch, which is told at once.
  void fetch(io::ProxyFetcherCallback* cb) override;

  void closed(io::MsgIpc& ipc) override;
  [[nodiscard]] bool readMsg(const char* name, rdr::InStream& in, io::MsgIpc& ipc) override;
  bool timerExpired(plat::Timer* timer) override;
  void processExited(os::ProcessMonitor* monitor, int exitCode) override;

  // The child's process id while it runs (-1 otherwise); for tests.
  pid_t childPid() const noexcept;

  static constexpr int32_t kMaxHost = 1024;
  static constexpr int32_t kMaxPacUrl = 4096;
  static constexpr int32_t kMaxProxies = 4096;

 private:
  // Closes the channel and stops the log forwarding.
  void detach();
  // Kills the child when it is still running.
  void stopChild() noexcept;
  void tellError(const plat::Exception& e);

  plat::CharArray host_;
  uint32_t port_;
  io::ProxyCredentials credentials_;
  plat::CharArray pacUrl_;
  io::ProxyFetcherCallback* callback_ = nullptr;
  io::MsgIpc ipc_;
  plat::Timer timer_;
  std::unique_ptr<os::ProcessMonitor> child_;
  // An outcome waiting for the 0 ms turn of the timer.
  bool pending_ = false;
  bool pendingFailed_ = false;
  plat::CharArray pendingProxies_;
  plat::Exception pendingError_;
};

class PacHelper : public io::MsgIpc::Callback, public io::MsgIpc::Reader, public io::ProxyFetcherCallback {
 public:
  // Serves "ResolvePac" on io (owned) and sends this process's log over
  // the channel.
  explicit PacHelper(io::Io* io);
  ~PacHelper() override;

  // Returns at once unless argv[1] is "-pacHelper" (and sets the PAC child
  // mode flag whatever the arguments); otherwise serves its parent and
  // ends the process.
  static void main(char** argv);

  void closed(io::MsgIpc& ipc) override;
  [[nodiscard]] bool readMsg(const char* name, rdr::InStream& in, io::MsgIpc& ipc) override;
  void onProxy(io::ProxyFetcher& fetcher, const char* proxyUrl, const io::ProxyCredentials& credentials) override;
  void onProxyError(io::ProxyFetcher& fetcher, const plat::Exception& error) override;

 private:
  void sendResult(const char* proxies, const char* message, const char* type);

  io::MsgIpc ipc_;
  std::unique_ptr<io::ProxyFetcher> fetcher_;
};

}  // namespace http
