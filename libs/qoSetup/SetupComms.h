#pragma once
// The single-instance channel "SetupComms" and the URL forwarder.
//
// The running wizard listens on the per-user local socket
// "<channel folder>/vuzovuvivovevada.SetupComms" (qoSetup::SetupComms).
// On every connection it first writes the version word 5E 7C BC 03; then
// the peer speaks named messages: "fg" (empty: bring the wizard forward)
// and "uri" (a string with a 32-bit length, at most 8192 bytes: the
// browser's callback URL for the wizard).  Every message raises the
// wizard's window; only the latest connection is served.
//
// qoSetup::SetupCommsClient is the other end: a second start of the wizard
// (which sends "fg") and the "-uri" role (qoSetup::UriHandler, which sends
// "uri").  It waits synchronously on its own descriptor manager, before
// or without the application loop.

#include <cstdint>
#include <memory>

#include "qocore/base/io/FdSelectManager.h"
#include "qocore/base/io/Io.h"
#include "qocore/base/io/Ipc.h"

namespace os {
class NamedPipeListener;
}

namespace qoSetup {

class SetupDlg;

// The application's URL scheme: the maker's domain reversed and the
// application name.
inline constexpr const char kUrlScheme[] = "example.corvane.vuzovuvivovevada";

// The channel's name, its version word and the longest "uri" taken.
inline constexpr const char kSetupCommsName[] = "SetupComms";
inline constexpr uint32_t kSetupCommsVersion = 0x5E7CBC03;
inline constexpr uint32_t kMaxUriLength = 8192;
// How long a client waits for the version word.
inline constexpr int32_t kSetupCommsTimeoutMs = 10000;

class SetupComms : public io::IoAcceptor, public io::MsgIpc::Reader {
 public:
  // Listens from now on (logs "Listening on <path>").  The dialog is
  // borrowed and must outlive the listener.  Throws when the socket
  // cannot be made.
  explicit SetupComms(SetupDlg* dlg);
  ~SetupComms() override;
  SetupComms(const SetupComms&) = delete;
  SetupComms& operator=(const SetupComms&) = delete;

  // "<channel folder>/<application name>.SetupComms".
  static plat::CharArray socketPath();

  // A new client: the version word, then it replaces the earlier one.  A
  // failure shows an error box and then ends the loop with 1.
  void acceptIo(io::Io* io) override;
  // "fg" and "uri" raise the window; a "uri" goes to the dialog, whose
  // refusal is logged.
  [[nodiscard]] bool readMsg(const char* name, rdr::InStream& in, io::MsgIpc& ipc) override;

 private:
  SetupDlg* dlg_;
  io::MsgIpc ipc_;
  std::unique_ptr<os::NamedPipeListener> listener_;
};

class SetupCommsClient {
 public:
  // Connects to the running wizard of this user, waits at most 10 s for
  // the version word and checks it and the peer's user.  Throws on any
  // failure: no socket, a refusal, the time-out, another word ("SetupComms
  // version mismatch <got> instead of <want>"), another user.
  SetupCommsClient();
  ~SetupCommsClient();
  SetupCommsClient(const SetupCommsClient&) = delete;
  SetupCommsClient& operator=(const SetupCommsClient&) = delete;

  // Write a message with writeMsg and end it with out().endMsg(true).
  io::MsgIpc& ipc() noexcept { return *ipc_; }

 private:
  io::FdSelectManager manager_;
  std::unique_ptr<io::MsgIpc> ipc_;
};

// The "-uri" role.
class UriHandler {
 public:
  // argv: the program, "-uri", the URL.  Hands a URL of this application's
  // scheme to the running wizard: 0.  Any failure is shown in an error box:
  // 1.
  static int main(char** argv);
};

}  // namespace qoSetup
