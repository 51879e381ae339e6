#include "libs/qoSetup/AdminHelperClient.h"

#include <string_view>
#include <utility>
#include <vector>

#include "libs/qoSetup/AdminHelperProtocol.h"
#include "libs/qoSetup/SetupTexts.h"
#include "qocore/base/io/LogDestIpc.h"
#include "qocore/base/os/ExecutablePath.h"
#include "qocore/base/plat/CommandLine.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace qoSetup {

namespace {

[[maybe_unused]] const bool textsRegistered = (registerSetupTexts(), true);

using namespace admin_protocol;

PLAT_LOG_SOURCE(vlog, "AdminHelperClient");
// The helper's own log lines, written here as "<its source>: <message>".
PLAT_LOG_SOURCE_OF(plat::LogSrcViaIpc, adminLog, "Admin");

// Words added to the helper's command line, before "-Locale=".
plat::StringParameter adminArgs("_AdminArgs", "", "", true);

constexpr size_t kMaxArgs = 255;
constexpr size_t kMaxSettings = 65535;

// A failure reported by the helper: its message and type as they came.
class HelperFailure : public plat::Exception {
 public:
  HelperFailure(const char* message, const char* type) noexcept : plat::Exception(message) {
    if (*type) setType(type);
  }
};

HelperFailure readErrorPair(rdr::InStream& in) {
  const plat::CharArray message = in.readString8();
  const plat::CharArray type = in.readString8();
  return HelperFailure(message.c_str(), type.c_str());
}

}  // namespace

AdminHelperClient::Callback::~Callback() = default;
AdminHelperClient::RunCmdCallback::~RunCmdCallback() = default;
AdminHelperClient::GetCapsFeaturesCallback::~GetCapsFeaturesCallback() = default;
AdminHelperClient::SvrSettingsCallback::~SvrSettingsCallback() = default;

AdminHelperClient::AdminHelperClient(Callback* callback)
    : callback_(callback), ipc_(this, "AdminHelperClient", false, false) {
  for (const char* name :
       {kRunCmdResult, kRunCmdOutput, kGetCapsFeaturesResult, kSvrSettingsResult, kHaveCloudCredsSvr})
    ipc_.setReader(name, this);
}

AdminHelperClient::~AdminHelperClient() {
  launch_.reset();
  detach();
}

void AdminHelperClient::launch() {
  if (launch_ || ipc_.attached()) {
    const bool launching = static_cast<bool>(launch_);
    vlog().info("already %s", launching ? "launching" : "launched");
    if (!launching) callback_->helperLaunched();
    return;
  }
  vlog().info("Starting helper");
  try {
    os::LaunchConfig cfg;
    cfg.args.emplace_back(os::getExecutablePath());
    cfg.args.emplace_back("-helper");
    // The helper's end of the pipe, when no elevation stands between.
    cfg.childDescriptors = {3};
    cfg.elevate = true;
    if (*adminArgs.getValue()) plat::splitCommandLine(cfg.extraArgs, adminArgs.getValue());
    const plat::ConfigParameter* locale = plat::Configuration::global().findParam("Locale");
    const plat::CharArray localeValue = locale ? locale->getValueStr() : plat::CharArray("");
    cfg.extraArgs.push_back(plat::DString::format("-Locale=%s", localeValue.c_str()));
    launch_ = std::make_unique<os::LaunchWithPipe>(cfg);
    launch_->start(this);
  } catch (const plat::Exception& e) {
    launch_.reset();
    vlog().error("launch error: %s", plat::FormattedText(e).text);
    callback_->helperLaunchFailed(e);
  }
}

void AdminHelperClient::launched(os::LaunchedIo& io) {
  launch_.reset();
  io::Io* connection = io.release();
  if (!connection) {
    vlog().debug("NOT launched");
    callback_->helperLaunchFailed(plat::Exception());
    return;
  }
  vlog().debug("launched");
  ipc_.attach(connection);
  adminLog().setChannel(&ipc_, true, -1);
  callback_->helperLaunched();
}

void AdminHelperClient::closed(io::MsgIpc&) {
  adminLog().setChannel(&ipc_, false, 0);
  vlog().error("Helper process died");
  callback_->helperLaunchFailed(plat::Exception());
}

bool AdminHelperClient::allowed(io::MsgIpc&, const char*, bool) { return true; }

void AdminHelperClient::runCmd(const plat::CharArrayList& args, RunCmdCallback* callback) {
  PLAT_ASSERT_TEXT(!runCmdCb_, "!runCmdCb");
  PLAT_REQUIRE_TEXT(args.size() <= kMaxArgs, "args.size() <= 255");
  rdr::OutStream& out = ipc_.writeMsg(kRunCmd);
  out.writeU8(static_cast<uint8_t>(args.size()));
  for (const plat::CharArray& arg : args) out.writeString32(arg.c_str());
  ipc_.out().endMsg(true);
  runCmdCb_ = callback;
}

void AdminHelperClient::getCapsFeatures(GetCapsFeaturesCallback* callback) {
  PLAT_ASSERT_TEXT(!getCapsFeaturesCb_, "!getCapsFeaturesCb");
  ipc_.writeMsg(kGetCapsFeatures);
  ipc_.out().endMsg(true);
  getCapsFeaturesCb_ = callback;
}

void AdminHelperClient::svrSettings(const Settings& settings, SvrSettingsCallback* callback) {
  PLAT_ASSERT_TEXT(!svrSettingsCb_, "!svrSettingsCb");
  PLAT_REQUIRE_TEXT(settings.size() <= kMaxSettings, "settings.size() <= 65535");
  rdr::OutStream& out = ipc_.writeMsg(kSvrSettings);
  out.writeU16(static_cast<uint16_t>(settings.size()));
  for (const auto& [name, value] : settings) {
    out.writeString32(name.c_str());
    out.writeString32(value.c_str());
  }
  ipc_.out().endMsg(true);
  svrSettingsCb_ = callback;
}

void AdminHelperClient::cancel() noexcept {
  launch_.reset();
  runCmdCb_ = nullptr;
  getCapsFeaturesCb_ = nullptr;
  svrSettingsCb_ = nullptr;
  if (!ipc_.attached()) return;
  try {
    ipc_.writeMsg(kRunCmdCancel);
    ipc_.out().endMsg(true);
  } catch (const plat::Exception& e) {
    // The pipe is failing: the channel reports its end by itself, and the
    // helper, whose pipe closes, stops the command as it exits.
    vlog().error("Error sending RunCmdCancel: %s", plat::FormattedText(e).text);
  }
}

void AdminHelperClient::forget(RunCmdCallback* callback) noexcept {
  if (runCmdCb_ == callback) runCmdCb_ = nullptr;
}

void AdminHelperClient::forget(GetCapsFeaturesCallback* callback) noexcept {
  if (getCapsFeaturesCb_ == callback) getCapsFeaturesCb_ = nullptr;
}

void AdminHelperClient::forget(SvrSettingsCallback* callback) noexcept {
  if (svrSettingsCb_ == callback) svrSettingsCb_ = nullptr;
}

bool AdminHelperClient::readMsg(const char* name, rdr::InStream& in, io::MsgIpc&) {
  // Each reply is read whole before anyone hears of it: a read that runs
  // short starts the reply again once more has arrived.
  const std::string_view which(name);
  if (which == kRunCmdResult) {
    readRunCmdResult(in);
  } else if (which == kRunCmdOutput) {
    readRunCmdOutput(in);
  } else if (which == kGetCapsFeaturesResult) {
    readGetCapsFeaturesResult(in);
  } else if (which == kSvrSettingsResult) {
    readSvrSettingsResult(in);
  } else if (which == kHaveCloudCredsSvr) {
    haveCloudCredsSvr_ = in.readU8() != 0;
  }
  return true;
}

void AdminHelperClient::readRunCmdResult(rdr::InStream& in) {
  int exitStatus = 0;
  HelperFailure error("", "");
  if (in.readU8() != 0) {
    exitStatus = static_cast<int32_t>(in.readU32());
  } else {
    error = readErrorPair(in);
  }
  RunCmdCallback* callback = std::exchange(runCmdCb_, nullptr);
  if (callback) callback->cmdResult(exitStatus, error);
}

void AdminHelperClient::readRunCmdOutput(rdr::InStream& in) {
  const uint16_t length = in.readU16();
  std::vector<uint8_t> data(length);
  if (length > 0) in.readBytes(data.data(), length);
  if (!runCmdCb_) {
    vlog().debug("Dropped %u bytes of output: no command outstanding", static_cast<unsigned>(length));
    return;
  }
  runCmdCb_->cmdOutput(length, data.data());
}

void AdminHelperClient::readGetCapsFeaturesResult(rdr::InStream& in) {
  const HelperFailure error = readErrorPair(in);
  const uint16_t count = in.readU16();
  plat::StringSet features;
  for (unsigned i = 0; i < count; ++i) features.insert(in.readString8());
  GetCapsFeaturesCallback* callback = std::exchange(getCapsFeaturesCb_, nullptr);
  if (callback) callback->capsFeaturesResult(error, features);
}

void AdminHelperClient::readSvrSettingsResult(rdr::InStream& in) {
  const HelperFailure error = readErrorPair(in);
  SvrSettingsCallback* callback = std::exchange(svrSettingsCb_, nullptr);
  if (callback) callback->svrSettingsResult(error);
}

void AdminHelperClient::detach() noexcept {
  adminLog().setChannel(&ipc_, false, 0);
  if (!ipc_.attached()) return;
  try {
    ipc_.detach(false);
  } catch (const plat::Exception& e) {
    // Closing a broken pipe: the connection is gone either way.
    vlog().debug("detach: %s", e.str());
  }
}

}  // namespace qoSetup
