#pragma once
// qoSetup::AdminHelperClient: the wizard's side of the admin helper, its
// only way to act as root.  launch() starts the program again as "-helper"
// with administrator rights through the launch with a pipe (which asks for
// the administrator's authorization); the pipe becomes the named-message
// channel "AdminHelperClient", over which the requests of
// AdminHelperProtocol.h go out and each reply comes back to the callback
// that asked for it.  The helper's log lines arrive on the same channel and
// are written to this process's log under the source "Admin".
//
// At most one request of each kind is outstanding: asking again before the
// reply is a failed assertion ("!runCmdCb", "!getCapsFeaturesCb",
// "!svrSettingsCb").  cancel() forgets the outstanding requests (their
// replies are read and dropped) and ends the command that runs.  Output
// that arrives when no command is outstanding is dropped.
//
// The wizard owns one client for the whole run and lends it to the
// packages and the settings page.  Everything runs on the main thread.
// The client is not destroyed inside its own callbacks.

#include <cstdint>
#include <map>
#include <memory>

#include "qocore/base/io/Ipc.h"
#include "qocore/base/os/LaunchWithPipe.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/SecretText.h"
#include "qocore/base/plat/Strings.h"

namespace plat {
class Exception;
}

namespace qoSetup {

class AdminHelperClient : public os::LaunchWithPipeCallback, public io::MsgIpc::Callback, public io::MsgIpc::Reader {
 public:
  // The wizard dialog.  Launch failures carry the launch's exception; the
  // helper's death, and a launch that handed over no connection, an empty
  // one.
  class Callback {
   public:
    virtual void helperLaunched() = 0;
    virtual void helperLaunchFailed(const plat::Exception& error) = 0;
    virtual ~Callback();
  };

  // A command's end: its exit status (the exit code, minus the signal's
  // number, or -1) with an empty error, or the helper's failure to run it
  // with status 0.  Output comes as it is read, before or (rarely) after
  // the result.
  class RunCmdCallback {
   public:
    virtual void cmdResult(int exitStatus, const plat::Exception& error) = 0;
    virtual void cmdOutput(int length, const uint8_t* data) = 0;
    virtual ~RunCmdCallback();
  };

  // The installed server's capability features, or why there are none.
  class GetCapsFeaturesCallback {
   public:
    virtual void capsFeaturesResult(const plat::Exception& error, const plat::StringSet& features) = 0;
    virtual ~GetCapsFeaturesCallback();
  };

  class SvrSettingsCallback {
   public:
    virtual void svrSettingsResult(const plat::Exception& error) = 0;
    virtual ~SvrSettingsCallback();
  };

  // Settings for the installed server by name; the values may carry a
  // password's hash, so they are held as secrets.
  using Settings = std::map<plat::CharArray, plat::SecretText, plat::StrLess>;

  // The callback is borrowed and must outlive the client.
  explicit AdminHelperClient(Callback* callback);
  // Abandons a launch in progress; a running helper sees its pipe close
  // and ends.
  ~AdminHelperClient() override;
  AdminHelperClient(const AdminHelperClient&) = delete;
  AdminHelperClient& operator=(const AdminHelperClient&) = delete;

  // Starts the helper; when it runs already, says so to the callback at
  // once; while a launch is in progress, does nothing (that launch
  // reports).  A launch that fails at once (the prompt dismissed, the
  // program not started) reports helperLaunchFailed from inside.
  void launch();
  // Sends "RunCmd": args[0] is the program's path.  At most 255 arguments
  // (plat::AssertionFail otherwise, nothing sent).
  void runCmd(const plat::CharArrayList& args, RunCmdCallback* callback);
  void getCapsFeatures(GetCapsFeaturesCallback* callback);
  // At most 65535 settings (plat::AssertionFail otherwise, nothing sent).
  void svrSettings(const Settings& settings, SvrSettingsCallback* callback);
  // Abandons a launch in progress (nothing is reported for it), forgets
  // the outstanding requests and, when the helper is attached, sends
  // "RunCmdCancel".  Never throws: the wizard calls it while it shows its
  // error page, also from inside helperLaunchFailed.
  void cancel() noexcept;

  // The asker forgets its request: its reply is read and dropped.  A
  // callback that is not the outstanding one changes nothing.
  void forget(RunCmdCallback* callback) noexcept;
  void forget(GetCapsFeaturesCallback* callback) noexcept;
  void forget(SvrSettingsCallback* callback) noexcept;

  // Whether the helper reported that the installed server already holds
  // cloud credentials.
  bool haveCloudCredsSvr() const noexcept { return haveCloudCredsSvr_; }
  // The helper is attached.
  bool isLaunched() const noexcept { return ipc_.attached(); }
  // A launch waits for its connection.
  bool isLaunching() const noexcept { return static_cast<bool>(launch_); }

  // The launch's connection (none when the launch failed).
  void launched(os::LaunchedIo& io) override;
  // The helper exited or the pipe broke.
  void closed(io::MsgIpc& ipc) override;
  [[nodiscard]] bool allowed(io::MsgIpc& ipc, const char* name, bool outgoing) override;
  // The helper's replies.
  [[nodiscard]] bool readMsg(const char* name, rdr::InStream& in, io::MsgIpc& ipc) override;

 private:
  void readRunCmdResult(rdr::InStream& in);
  void readRunCmdOutput(rdr::InStream& in);
  void readGetCapsFeaturesResult(rdr::InStream& in);
  void readSvrSettingsResult(rdr::InStream& in);
  // Stops feeding the "Admin" log source and drops the connection.
  void detach() noexcept;

  Callback* callback_;
  io::MsgIpc ipc_;
  std::unique_ptr<os::LaunchWithPipe> launch_;
  RunCmdCallback* runCmdCb_ = nullptr;
  GetCapsFeaturesCallback* getCapsFeaturesCb_ = nullptr;
  SvrSettingsCallback* svrSettingsCb_ = nullptr;
  bool haveCloudCredsSvr_ = false;
};

}  // namespace qoSetup
