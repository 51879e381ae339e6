#pragma once
// qoSetup::AdminHelper: the "-helper" role, the copy of the program that
// the wizard starts with root rights and that does what only root may: it
// runs commands (the package installer, the installed server's command
// lines) with their output streamed back, reports the installed server's
// cloud credentials and capability features, writes the server's settings
// and tells the running server to reload them, and copies an application
// bundle into "/Applications".  It serves the messages of
// AdminHelperProtocol.h over its launch pipe and ends when the pipe closes.
//
// The installed server is the program "yarlserver": its credentials record
// lies in its store, the folder os::getConfigDir("yarlserver"), and its
// settings file is "yarlserver" in the configuration folder
// (os::getConfigBase); as root, both lie in root's profile.
//
// One command runs at a time.  Its standard output and standard error
// share one pipe, whose output is sent as it arrives; when the command
// exits, what the pipe still holds is sent before the result.  A request
// that cannot be read whole (a text longer than the protocol allows) is
// answered with its reply's error pair.  Every request is answered,
// except "RunCmdCancel", which ends the command without a result.
//
// Everything runs on the thread of the application loop.

#include <memory>

#include "qocore/base/io/Io.h"
#include "qocore/base/io/Ipc.h"
#include "qocore/base/os/unix/ProcessMonitor.h"

namespace plat {
class Exception;
}

namespace qoSetup {

class AdminHelper : public io::MsgIpc::Callback,
                    public io::MsgIpc::Reader,
                    public os::ProcessMonitor::Callback,
                    public io::IoHandler {
 public:
  // Attaches the pipe (owned from now on) to the channel "AdminHelper",
  // which also carries the log lines of the "ipc" destination, and sends
  // "HaveCloudCredsSvr".
  explicit AdminHelper(io::Io* pipe);
  // Detaches the log destination, closes the command's output and waits
  // for a command that still runs.
  ~AdminHelper() override;
  AdminHelper(const AdminHelper&) = delete;
  AdminHelper& operator=(const AdminHelper&) = delete;

  // The role's entry, with the program's whole argument vector ("-helper"
  // second, then the launch-pipe arguments, then configuration
  // parameters).  Product initialisation, then, as root only, the pipe,
  // the parameters and the application loop.  Answers the exit status: 0
  // once the pipe has closed; 1 when started without root rights (the
  // failed check "Assertion 'geteuid() == 0' failed at <file>:<line>" on
  // stderr, the pipe never touched), or after a failure to start, which is
  // logged.  Failures of
  // product initialisation propagate.
  static int main(char** argv);

  // The channel's end: quits the application loop with 0.
  void closed(io::MsgIpc& ipc) override;
  // Every message, in every state.
  [[nodiscard]] bool allowed(io::MsgIpc& ipc, const char* name, bool outgoing) override;
  // The requests.  A failure is logged ("Error in <name>: <message>"); the
  // message always counts as consumed.
  [[nodiscard]] bool readMsg(const char* name, rdr::InStream& in, io::MsgIpc& ipc) override;
  // The command has ended: the rest of its output, then "RunCmdResult".
  void processExited(os::ProcessMonitor* monitor, int exitCode) override;
  // The command's output pipe.
  void readable(io::Io& io) override;
  void shutdownDone(io::Io& io) override;

 private:
  void runCmd(rdr::InStream& in);
  void runCmdCancel();
  void getCapsFeatures();
  void svrSettings(rdr::InStream& in);
  void copyApp(rdr::InStream& in);

  // Sends what the output pipe holds now, in pieces of at most 4096
  // bytes; at its end (or on a failure to read it) the pipe is released.
  void sendOutput();
  // Closes the output pipe, when one is open.
  void releaseOutput() noexcept;
  void sendRunCmdResult(int exitCode);
  void sendRunCmdFailure(const plat::Exception& error);
  void sendSvrSettingsResult(const plat::Exception& error);
  void sendCopyAppResponse(const char* error);

  io::MsgIpc ipc_;
  // The running command; null when none runs.
  std::unique_ptr<os::ProcessMonitor> procMon_;
  // The read end of the command's output pipe, owned; null when none is
  // open.  It may outlive its command (a process the command left behind
  // can hold the pipe's other end).
  io::Io* runCmdIo_ = nullptr;
};

}  // namespace qoSetup
