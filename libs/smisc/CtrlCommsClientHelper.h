#pragma once
// smisc::CtrlCommsClientHelper: the client side of the installed server's
// local control channel "CtrlComms".
//
// Constructing one connects to the channel's Unix-domain socket and makes
// sure the process at the other end runs as the expected user: it sends
// "verifyChannel" and waits for "channelCreds", on which the peer's
// effective uid is checked.  Commands are then written one message each and
// flushed, without waiting; waitForReply reads until a reply of that name
// has arrived.  Replies to getConfig and getConnections replace what the
// client held before.
//
// Everything runs on the caller's thread and blocks while the channel
// reads, up to 5000 ms per wait.  There is no reconnecting: a broken
// channel means constructing a new client.

#include <cstdint>
#include <memory>
#include <vector>

#include "libs/score/ConnectionInfo.h"
#include "qocore/base/io/Ipc.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Strings.h"

namespace smisc {

class CtrlCommsClientHelper : public io::MsgIpc::Reader {
 public:
  // Opens the channel at path and verifies that its peer runs as
  // expectedUid.  Every failure propagates.
  CtrlCommsClientHelper(const char* path, uint32_t expectedUid);
  // The same at socketPath(nullptr) with expectedPeerUid().  A failure to
  // build the path or to connect is thrown as plat::Exception "Contacting
  // Corvane Server failed: <cause>"; a failed verification is not wrapped.
  CtrlCommsClientHelper();
  ~CtrlCommsClientHelper() override;
  CtrlCommsClientHelper(const CtrlCommsClientHelper&) = delete;
  CtrlCommsClientHelper& operator=(const CtrlCommsClientHelper&) = delete;

  // The channel's socket under the process's server mode:
  // "<tmp>/.<pc>-yarlservice/<prefix>.CtrlComms" in service mode (a folder
  // that is not touched here), else the same in the effective user's own
  // folder (made private when needed).  A null prefix is the application
  // name.
  static plat::CharArray socketPath(const char* prefix);
  // The user the server must run as: root in service mode, else the
  // effective user.
  static uint32_t expectedPeerUid();

  // The commands.
  void showStatus();
  void showStatusDialog();
  void reload();
  void stop();
  // Each text goes with an 8-bit length, cut to 255 bytes when longer.
  void disconnClient(const char* first, const char* second);
  void getConfig(const char* text);
  // "name=value" lines in map order, values escaped.
  void setConfig(const plat::CaseMap& values);
  void getConnections();

  // Reads messages until the one of that name has been read and handled;
  // another name first is the channel's failure "MsgIpc: expected message
  // <name>, got <other>".  A time-out is thrown as plat::TimedOut "Timed
  // out waiting for response from Corvane Server".
  void waitForReply(const char* name);

  // The configuration and the connections the server last reported.
  const plat::CaseMap& config() const noexcept { return config_; }
  const std::vector<score::ConnectionInfo>& connections() const noexcept { return connections_; }

  // The replies: "channelCreds", "getConfigReply" and
  // "getConnectionsReply".  Always consumes the message.
  [[nodiscard]] bool readMsg(const char* name, rdr::InStream& in, io::MsgIpc& ipc) override;

 private:
  // Creates the channel and attaches the connection to path.
  void open(const char* path);
  // Registers the replies, sends "verifyChannel" and waits for the peer's
  // credentials.
  void verify();
  // A message with an empty body.
  void sendEmpty(const char* name);

  plat::CaseMap config_;
  std::vector<score::ConnectionInfo> connections_;
  // Declared after the replies so that it goes first: a channel that goes
  // away makes its readers forget it.
  std::unique_ptr<io::MsgIpc> ipc_;
  uint32_t expectedUid_;
  bool gotValidCreds_ = false;
};

}  // namespace smisc
