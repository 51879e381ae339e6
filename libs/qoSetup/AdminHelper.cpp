#include "libs/qoSetup/AdminHelper.h"

#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "libs/hostedremoteaccess/CredentialsFile.h"
#include "libs/qoSetup/AdminHelperProtocol.h"
#include "libs/qoSetup/SetupTexts.h"
#include "libs/score/Mode.h"
#include "libs/smisc/CtrlCommsClientHelper.h"
#include "qocore/base/io/LogDestIpc.h"
#include "qocore/base/os/AppDirs.h"
#include "qocore/base/os/AppLoop.h"
#include "qocore/base/os/IoFromFd.h"
#include "qocore/base/os/LaunchConfig.h"
#include "qocore/base/os/LaunchedProcessPipe.h"
#include "qocore/base/os/unix/LaunchProcess.h"
#include "qocore/base/os/unix/NamedPipeListener.h"
#include "qocore/base/os/unix/UnixIo.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/File.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/SecretText.h"
#include "qocore/base/plat/Strings.h"
#include "qocore/base/plat/UniqueFd.h"
#include "qocore/base/qoutil/ConfigStore.h"
#include "qocore/base/qoutil/SystemPath.h"
#include "qocore/base/rdr/Exceptions.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"
#include "qocore/libs/product/Init.h"

namespace qoSetup {

namespace {

[[maybe_unused]] const bool textsRegistered = (registerSetupTexts(), true);

PLAT_LOG_SOURCE(vlog, "AdminHelper");

using namespace admin_protocol;

// The installed server's program name: its store, its settings file and
// its control channel are named after it.
constexpr const char kServerProgram[] = "yarlserver";
// The control channel's folder key: the server the wizard installs runs as
// a service.
constexpr const char kServiceKey[] = "yarlservice";
constexpr const char kApplications[] = "/Applications";

void writeErrorPair(rdr::OutStream& out, const plat::Exception& error) {
  out.writeString8(error.str());
  out.writeString8(error.typeName());
}

// "<dir>/<name>", with no second "/" after a folder that ends in one and
// none at all after an empty folder.
plat::CharArray joined(const char* dir, const char* name) {
  std::string path = dir;
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return plat::CharArray(path.c_str());
}

// Setting names are written to the settings file as they stand, so one
// holding "=" or a line break would change what the file says.
bool isGoodSettingName(const char* name) noexcept { return std::strpbrk(name, "=\r\n") == nullptr; }

// The name of a bundle in "/Applications": a plain file name, since its
// tree is removed (as root) before the copy.
bool isGoodBundleName(const char* name) noexcept {
  return *name && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 && !std::strchr(name, '/');
}

// Tells the running server to reread its settings.  There may be none (it
// reads the file when it starts), or not the one expected: either way the
// settings are written, and nothing is reported.
void reloadServer() noexcept {
  try {
    plat::CharArray path = os::makeUniqueName("CtrlComms", kServiceKey, kServerProgram, 0, -1);
    smisc::CtrlCommsClientHelper client(path.get(), os::parseUid("0"));
    client.reload();
  } catch (const plat::Exception&) {
    // Ignored, as the comment above says.
  }
}

}  // namespace

AdminHelper::AdminHelper(io::Io* pipe) : ipc_(this, "AdminHelper", false, false) {
  for (const char* name : {kRunCmd, kRunCmdCancel, kGetCapsFeatures, kSvrSettings, kCopyApp})
    ipc_.setReader(name, this);
  plat::LogDestIpc::instance().setChannel(&ipc_);
  ipc_.attach(pipe);

  bool haveCreds = false;
  if (plat::CharArray store = os::getConfigDir(kServerProgram)) {
    struct stat info {};
    haveCreds = ::stat(joined(store.get(), hostedremoteaccess::kCredentialsFileName).get(), &info) == 0;
  }
  ipc_.writeMsg(kHaveCloudCredsSvr).writeU8(haveCreds ? 1 : 0);
  ipc_.out().endMsg(true);
}

AdminHelper::~AdminHelper() {
  plat::LogDestIpc::instance().setChannel(nullptr);
  releaseOutput();
  // A command that still runs is waited for.
  procMon_.reset();
}

int AdminHelper::main(char** argv) {
  product::init(argv[0], "vuzovuvivovevada_helper", "qoSetup_setupapp_name_r", "*:ipc:200", {});
  score::setCurrentMode(score::kService);
  try {
    PLAT_REQUIRE_TEXT(::geteuid() == 0, "geteuid() == 0");
  } catch (const plat::AssertionFail& e) {
    // Before the pipe is touched: the wizard sees its launch fail.
    std::fprintf(stderr, "%s\n", e.str());
    return 1;
  }
  try {
    char** cursor = argv + (argv[1] ? 2 : 1);
    os::LaunchedIo pipe = os::connectParentPipe(cursor);
    const char* const* rest = cursor;
    if (!plat::Configuration::global().parseArgs(rest, nullptr))
      throw plat::ExceptionFmt("Bad command-line argument %s", *rest);
    os::AppLoop loop;
    AdminHelper helper(pipe.release());
    return loop.run();
  } catch (const plat::Exception& e) {
    vlog().error("Exception: %s", e.str());
    return 1;
  }
}

void AdminHelper::closed(io::MsgIpc&) { os::AppLoop::quit(0); }

bool AdminHelper::allowed(io::MsgIpc&, const char*, bool) { return true; }

bool AdminHelper::readMsg(const char* name, rdr::InStream& in, io::MsgIpc&) {
  vlog().debug("read message %s", name);
  const std::string_view which(name);
  try {
    if (which == kRunCmd) {
      runCmd(in);
    } else if (which == kRunCmdCancel) {
      runCmdCancel();
    } else if (which == kGetCapsFeatures) {
      getCapsFeatures();
    } else if (which == kSvrSettings) {
      svrSettings(in);
    } else if (which == kCopyApp) {
      copyApp(in);
    }
  } catch (const rdr::BlockException&) {
    // The rest of the message has not arrived: read again from its start.
    throw;
  } catch (const plat::Exception& e) {
    vlog().error("Error in %s: %s", name, e.str());
  }
  return true;
}

// ---- Commands ----

void AdminHelper::runCmd(rdr::InStream& in) {
  plat::CharArrayList args;
  try {
    const uint8_t count = in.readU8();
    for (unsigned i = 0; i < count; ++i) args.push_back(in.readString(kMaxArgument));
  } catch (const rdr::BlockException&) {
    throw;
  } catch (const plat::Exception& e) {
    sendRunCmdFailure(e);
    throw;
  }
  if (procMon_) {
    // One command at a time: the wizard never sends a second one.
    const plat::Exception busy("A command is already running");
    vlog().error("Error running cmd: %s", busy.str());
    sendRunCmdFailure(busy);
    return;
  }
  // The command before has exited, but something it started may still
  // hold its output open: that output is no longer anyone's.
  releaseOutput();
  try {
    if (args.empty()) throw plat::Exception("No command to run");
    os::LaunchConfig cfg;
    cfg.args = std::move(args);
    os::LaunchProcess process(cfg);
    // The child's standard output and standard error are one pipe.
    int childFd = 1;
    plat::UniqueFd readEnd(process.pipeForChild(false, childFd));
    std::unique_ptr<io::Io> output(os::ioFromFd(readEnd.get()));
    (void)readEnd.release();
    process.redirectDup2(1, 2);
    (void)process.launch();
    procMon_ = process.detach(this);
    runCmdIo_ = output.release();
    runCmdIo_->setHandler(this, true);
  } catch (const plat::Exception& e) {
    vlog().error("Error running cmd: %s", e.str());
    sendRunCmdFailure(e);
  }
}

void AdminHelper::runCmdCancel() {
  if (!procMon_) return;
  procMon_->kill(SIGTERM);
  releaseOutput();
  // A command that ignores the signal must not hold the helper: the reaper
  // collects it whenever it ends.
  procMon_->release();
  procMon_.reset();
}

void AdminHelper::processExited(os::ProcessMonitor*, int exitCode) {
  // The monitor goes inside its own report; nothing of it is touched after.
  procMon_.reset();
  try {
    // The last lines, usually the error of a failing installer, go before
    // the result.
    sendOutput();
    sendRunCmdResult(exitCode);
  } catch (const plat::Exception& e) {
    vlog().error("Error in %s: %s", kRunCmdResult, e.str());
  }
}

void AdminHelper::readable(io::Io& io) {
  if (&io == runCmdIo_) sendOutput();
}

void AdminHelper::shutdownDone(io::Io&) {
  vlog().debug("ioShutdown");
  // The connection deletes itself after this call.
  runCmdIo_ = nullptr;
}

void AdminHelper::sendOutput() {
  if (!runCmdIo_) return;
  try {
    rdr::InStream& in = runCmdIo_->in();
    for (;;) {
      // Taken from the stream's window: the bytes stay readable until the
      // next read.
      int32_t n = kMaxOutputChunk;
      const uint8_t* data = in.getItems(1, &n, false);
      if (!data) return;
      // Sent now, so never again: a later look that finds nothing must not
      // rewind to before them.
      in.setCheckpoint();
      rdr::OutStream& out = ipc_.writeMsg(kRunCmdOutput);
      out.writeU16(static_cast<uint16_t>(n));
      out.writeBytes(data, n);
      ipc_.out().endMsg(true);
    }
  } catch (const rdr::EndOfStream&) {
    releaseOutput();
  } catch (const plat::Exception& e) {
    vlog().error("Error reading command output: %s", e.str());
    releaseOutput();
  }
}

void AdminHelper::releaseOutput() noexcept {
  if (!runCmdIo_) return;
  io::Io* io = runCmdIo_;
  runCmdIo_ = nullptr;
  // Without a handler the connection closes and goes at once.
  io->setHandler(nullptr, false);
  io->shutdown(false, false);
}

void AdminHelper::sendRunCmdResult(int exitCode) {
  rdr::OutStream& out = ipc_.writeMsg(kRunCmdResult);
  out.writeU8(1);
  out.writeU32(static_cast<uint32_t>(exitCode));
  ipc_.out().endMsg(true);
}

void AdminHelper::sendRunCmdFailure(const plat::Exception& error) {
  rdr::OutStream& out = ipc_.writeMsg(kRunCmdResult);
  out.writeU8(0);
  writeErrorPair(out, error);
  ipc_.out().endMsg(true);
}

// ---- The installed server ----

void AdminHelper::getCapsFeatures() {
  hostedremoteaccess::SCredentialsData creds;
  plat::Exception error;
  try {
    hostedremoteaccess::CredentialsFile file(&hostedremoteaccess::getProgramStore(kServerProgram), false);
    hosted::BedRef value = file.load();
    if (!value) throw plat::Exception("Server is not cloud joined");
    creds = hostedremoteaccess::SCredentialsData(*value);
  } catch (const plat::Exception& e) {
    vlog().debug("Unable to read credentials: %s", plat::FormattedText(e).text);
    error = e;
  }
  const plat::StringSet& features = creds.team.capsFeatures;
  // The count is 16 bits wide: a longer list is cut, and the count says
  // what follows.
  uint32_t count = static_cast<uint32_t>(features.size());
  if (count > kMaxFeatures) {
    vlog().error("%u capability features, sending the first %u", count, kMaxFeatures);
    count = kMaxFeatures;
  }
  rdr::OutStream& out = ipc_.writeMsg(kGetCapsFeaturesResult);
  writeErrorPair(out, error);
  out.writeU16(static_cast<uint16_t>(count));
  auto it = features.begin();
  for (uint32_t i = 0; i < count; ++i, ++it) out.writeString8(it->c_str());
  ipc_.out().endMsg(true);
}

void AdminHelper::svrSettings(rdr::InStream& in) {
  // One entry per name in any case (the first spelling stays); a later
  // value replaces an earlier one.  The values may hold a password.
  std::map<plat::CharArray, plat::SecretText, plat::CaseLess> settings;
  try {
    const uint16_t count = in.readU16();
    for (unsigned i = 0; i < count; ++i) {
      plat::CharArray name = in.readString(kMaxSetting);
      plat::SecretText value = plat::SecretText::adopt(in.readString(kMaxSetting));
      auto it = settings.find(name);
      if (it == settings.end()) {
        settings.emplace(std::move(name), std::move(value));
      } else {
        it->second = std::move(value);
      }
    }
  } catch (const rdr::BlockException&) {
    throw;
  } catch (const plat::Exception& e) {
    sendSvrSettingsResult(e);
    throw;
  }
  for (const auto& [name, value] : settings) {
    if (isGoodSettingName(name.c_str())) continue;
    // Nothing is written: the file would not say what was sent.
    const plat::Exception bad("Bad setting name");
    sendSvrSettingsResult(bad);
    throw bad;
  }
  for (const auto& [name, value] : settings) {
    // The line goes to the wizard's log: no password in it.
    const bool secret = strcasecmp(name.c_str(), "Password") == 0;
    vlog().debug("Set '%s'='%s'", name.c_str(), secret ? "<redacted>" : value.c_str());
  }

  plat::Exception error;
  try {
    plat::CharArray file = qoutil::joinPath(kServerProgram);
    if (!file) throw plat::Exception("No user configuration directory");
    // One update of the file per entry, in the map's order, as
    // qoutil::setParameters does with plain texts.
    for (const auto& [name, value] : settings) qoutil::setParameter(file.get(), name.c_str(), value.c_str());
  } catch (const plat::Exception& e) {
    vlog().error("Failed to apply changes: %s", plat::FormattedText(e).text);
    error = e;
  }
  reloadServer();
  sendSvrSettingsResult(error);
}

void AdminHelper::sendSvrSettingsResult(const plat::Exception& error) {
  writeErrorPair(ipc_.writeMsg(kSvrSettingsResult), error);
  ipc_.out().endMsg(true);
}

// ---- Application bundles ----

void AdminHelper::copyApp(rdr::InStream& in) {
  plat::CharArray sourceDir;
  plat::CharArray name;
  try {
    sourceDir = in.readString(kMaxArgument);
    name = in.readString(kMaxArgument);
  } catch (const rdr::BlockException&) {
    throw;
  } catch (const plat::Exception& e) {
    sendCopyAppResponse(e.str());
    throw;
  }
  plat::Exception error;
  try {
    if (!isGoodBundleName(name.c_str())) throw plat::Exception("Bad application name");
    const plat::CharArray source = joined(sourceDir.c_str(), name.c_str());
    const plat::CharArray applications = qoutil::systemPath(kApplications);
    const plat::CharArray target = joined(applications.c_str(), name.c_str());
    struct stat info {};
    if (::lstat(target.c_str(), &info) == 0) {
      if (S_ISDIR(info.st_mode)) {
        plat::rmDir(target.c_str(), true);
      } else if (!plat::removeFile(target.c_str())) {
        // A link is removed itself, never what it points at.
        throw plat::SystemExceptionFmt("rmDir(%s)", errno, target.c_str());
      }
    }
    plat::CharArrayList args;
    args.emplace_back("/bin/cp");
    args.emplace_back("-af");
    args.push_back(source);
    args.push_back(applications);
    const int code = os::LaunchProcess::runAndWait(args);
    if (code != 0) throw plat::ExceptionFmt("Copying app failed: exit code %d", code);
  } catch (const plat::Exception& e) {
    vlog().error("Error copying app: %s", e.str());
    error = e;
  }
  sendCopyAppResponse(error.str());
}

void AdminHelper::sendCopyAppResponse(const char* error) {
  ipc_.writeMsg(kCopyAppResponse).writeString32(error);
  ipc_.out().endMsg(true);
}

}  // namespace qoSetup
