#include "libs/smisc/CtrlCommsClientHelper.h"

#include <string_view>
#include <utility>

#include "libs/score/Mode.h"
#include "qocore/base/os/unix/NamedPipeListener.h"
#include "qocore/base/os/unix/UnixIo.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/NameValue.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace smisc {

namespace {

constexpr const char kChannelName[] = "CtrlComms";
// The folder key of the service-mode server, whoever runs the client.
constexpr const char kServiceKey[] = "yarlservice";
constexpr int32_t kTimeoutMs = 5000;

constexpr const char kChannelCreds[] = "channelCreds";
constexpr const char kGetConfigReply[] = "getConfigReply";
constexpr const char kGetConnectionsReply[] = "getConnectionsReply";

}  // namespace

CtrlCommsClientHelper::CtrlCommsClientHelper(const char* path, uint32_t expectedUid) : expectedUid_(expectedUid) {
  open(path);
  verify();
}

CtrlCommsClientHelper::CtrlCommsClientHelper() : expectedUid_(expectedPeerUid()) {
  try {
    open(socketPath(nullptr).get());
  } catch (const plat::Exception& e) {
    throw plat::Exception("Contacting Corvane Server failed: %s", e.str());
  }
  verify();
}

CtrlCommsClientHelper::~CtrlCommsClientHelper() = default;

plat::CharArray CtrlCommsClientHelper::socketPath(const char* prefix) {
  const char* key = score::currentMode() == score::kService ? kServiceKey : nullptr;
  return os::makeUniqueName(kChannelName, key, prefix, 0, -1);
}

uint32_t CtrlCommsClientHelper::expectedPeerUid() {
  return os::parseUid(score::currentMode() == score::kService ? "0" : nullptr);
}

void CtrlCommsClientHelper::open(const char* path) {
  // Paused: the reads block on the caller's thread, and no loop is told
  // about the connection.
  ipc_ = std::make_unique<io::MsgIpc>(nullptr, "CtrlCommsClient", true, false);
  auto connection = std::make_unique<os::UnixIo>(path, -1);
  connection->setTimeout(kTimeoutMs);
  ipc_->attach(connection.release());
}

void CtrlCommsClientHelper::verify() {
  for (const char* name : {kChannelCreds, kGetConfigReply, kGetConnectionsReply}) ipc_->setReader(name, this);
  sendEmpty("verifyChannel");
  waitForReply(kChannelCreds);
  // The reply's handler either accepted the peer or threw.
  PLAT_ASSERT(gotValidCreds_);
}

void CtrlCommsClientHelper::sendEmpty(const char* name) {
  ipc_->writeMsg(name);
  ipc_->out().endMsg(true);
}

void CtrlCommsClientHelper::showStatus() { sendEmpty("showStatus"); }

void CtrlCommsClientHelper::showStatusDialog() { sendEmpty("showStatusDialog"); }

void CtrlCommsClientHelper::reload() { sendEmpty("reload"); }

void CtrlCommsClientHelper::stop() { sendEmpty("stop"); }

void CtrlCommsClientHelper::disconnClient(const char* first, const char* second) {
  rdr::OutStream& out = ipc_->writeMsg("disconnClient");
  out.writeString8(first);
  out.writeString8(second);
  ipc_->out().endMsg(true);
}

void CtrlCommsClientHelper::getConfig(const char* text) {
  rdr::OutStream& out = ipc_->writeMsg("getConfig");
  out.writeString8(text);
  ipc_->out().endMsg(true);
}

void CtrlCommsClientHelper::setConfig(const plat::CaseMap& values) {
  rdr::OutStream& out = ipc_->writeMsg("setConfig");
  plat::writeNameValueLines(out, values);
  ipc_->out().endMsg(true);
}

void CtrlCommsClientHelper::getConnections() { sendEmpty("getConnections"); }

void CtrlCommsClientHelper::waitForReply(const char* name) {
  try {
    ipc_->readMessage(name);
  } catch (const plat::TimedOut&) {
    throw plat::TimedOut("Timed out waiting for response from Corvane Server");
  }
}

bool CtrlCommsClientHelper::readMsg(const char* name, rdr::InStream& in, io::MsgIpc& ipc) {
  const std::string_view which(name);
  if (which == kChannelCreds) {
    // The body says nothing: what counts is who sent it.
    auto* connection = dynamic_cast<os::UnixIo*>(ipc.ipc().io());
    PLAT_ASSERT(connection);
    connection->credCheck(expectedUid_);
    gotValidCreds_ = true;
  } else if (which == kGetConfigReply) {
    config_.clear();
    plat::readNameValueLines(in, {}, config_);
  } else if (which == kGetConnectionsReply) {
    connections_.clear();
    // At most 65535 records: the reservation stays bounded whatever the
    // server sends, and a short message ends in EndOfMsg.
    const uint16_t count = in.readU16();
    connections_.reserve(count);
    for (uint16_t i = 0; i < count; ++i) {
      score::ConnectionInfo record;
      record.read(in);
      connections_.push_back(std::move(record));
    }
  }
  return true;
}

}  // namespace smisc
