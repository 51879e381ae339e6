#include "qocore/base/os/LaunchWithNamedPipe.h"

#include <unistd.h>

#include <optional>
#include <utility>

#include "platform/authorization/Authorization.h"
#include "qocore/base/crypto/RandomStream.h"
#include "qocore/base/crypto/Sha.h"
#include "qocore/base/os/unix/LaunchProcess.h"
#include "qocore/base/os/unix/NamedPipeListener.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/rdr/OutStream.h"

namespace os {

plat::BoolParameter lppDebug("_lppDebug", "Children launched over a named channel log their connection to a file",
                             false, true);

namespace {

PLAT_LOG_SOURCE(listenerLog, "LaunchPipeListener");
PLAT_LOG_SOURCE(vlog, "LaunchWithNamedPipe");

constexpr int kSecretBytes = 32;
constexpr int kPollMs = 100;
// The time a child has to connect once the elevation step has ended.
constexpr int kConnectMs = 5000;

void writeSecret(io::Io& io, const plat::Buffer& secret) {
  io.out().writeBytes(secret.data(), secret.count());
  io.out().flush();
}

}  // namespace

LaunchPipeListener::LaunchPipeListener(const LaunchConfig& cfg, LaunchWithPipeCallback* callback)
    : callback_(callback), childCfg_(cfg), secret_(kSecretBytes, true) {
  uint32_t number;
  {
    crypto::RandomStream random;
    number = random.readU32();
    random.readBytes(secret_.data(), kSecretBytes);
  }
  plat::CharArray user;
  if (cfg.runAsUid != 0) user = plat::DString::format("%u", cfg.runAsUid);
  plat::CharArray path = makeUniqueName("launchpipe", user.get(), nullptr, number, -1);

  plat::CharArrayList& args = childCfg_.args;
  if (lppDebug.getValue()) args.emplace_back("-lppDebug");
  plat::Buffer digest;
  crypto::digestOneShot(256, kSecretBytes, secret_.data(), digest);
  args.emplace_back("-hash");
  args.push_back(plat::binToHex(digest.count(), digest.data()));
  if (cfg.elevate) args.emplace_back("-fork");
  args.push_back(path);
  for (plat::CharArray& a : childCfg_.extraArgs) args.push_back(std::move(a));
  childCfg_.extraArgs.clear();

  NamedPipeListener::Options options;
  options.createDirectory = true;
  options.makePrivate = true;
  // The channel is in the run-as user's folder: as root it is made that
  // user's, so the child can reach it.
  if (cfg.runAsUid != 0 && ::geteuid() == 0) options.owner = cfg.runAsUid;
  listener_ = std::make_unique<NamedPipeListener>(path.get(), options);
  if (callback_) listener_->setAcceptor(this);
}

LaunchPipeListener::~LaunchPipeListener() = default;

void LaunchPipeListener::acceptIo(io::Io* io) {
  try {
    writeSecret(*io, secret_);
  } catch (const plat::Exception& e) {
    listenerLog().error("ioAccept error: %s", e.str());
    io->shutdown(false, false);
    io = nullptr;
  }
  LaunchedIo handle(io, false, false);
  // The callback may drop this listener: nothing of it is touched after.
  if (callback_) callback_->launched(handle);
}

LaunchWithNamedPipe::LaunchWithNamedPipe(LaunchConfig& cfg) : cfg_(cfg), timer_(this) {}

LaunchWithNamedPipe::~LaunchWithNamedPipe() { timer_.cancel(); }

bool LaunchWithNamedPipe::launch(bool withCallback) {
  PLAT_ASSERT_TEXT(!lpl_ && !io_, "!lpl && !io");
  lpl_ = std::make_unique<LaunchPipeListener>(cfg_, withCallback ? this : nullptr);
  plat::ScopeExit drop([&] {
    process_.reset();
    lpl_.reset();
  });
  LaunchConfig childCfg = lpl_->childConfig();
  viaCommand_ = childCfg.elevate && authorization::elevationNeeded();
  if (viaCommand_) {
    childCfg.args = authorization::elevationCommandLine(childCfg.args);
    childCfg.elevate = false;
    childCfg.searchPath = true;
  }
  // A step dropped while it runs goes to the reaper rather than blocking.
  if (childCfg.dl == 0) childCfg.dl = 1;
  process_ = std::make_unique<LaunchProcess>(childCfg);
  try {
    process_->launch();
  } catch (const plat::SystemException& e) {
    if (!viaCommand_) throw;
    // No elevation command to run: elevation is not supported here.
    vlog().error("Cannot run the elevation command: %s", e.str());
    return false;
  }
  drop.dismiss();
  return true;
}

void LaunchWithNamedPipe::start(LaunchWithPipeCallback* callback) {
  callback_ = callback;
  timer_.start(launch(true) ? kPollMs : 0);
}

void LaunchWithNamedPipe::launched(LaunchedIo& io) {
  io_.reset();
  io_ = std::move(io);
  process_.reset();
  // The listener goes from the timer: this call comes from inside it.
  timer_.start(0);
}

bool LaunchWithNamedPipe::elevationEnded(int& exitCode) {
  if (!process_ || process_->pid() < 0) {
    process_.reset();
    exitCode = 0;
    return true;
  }
  if (!process_->waitForExit(exitCode, 0)) return false;
  process_.reset();
  return true;
}

bool LaunchWithNamedPipe::timerExpired(plat::Timer* /*timer*/) {
  if (!io_ && process_ && process_->pid() >= 0) {
    try {
      int exitCode = 0;
      if (!elevationEnded(exitCode)) return true;
      if (exitCode == 0) {
        timer_.start(kConnectMs);
        return false;
      }
    } catch (const plat::Exception& e) {
      vlog().error("handleTimeout error: %s", e.str());
      process_.reset();
    }
  }
  lpl_.reset();
  process_.reset();
  LaunchedIo io = std::move(io_);
  // The owner may destroy this object inside the call.
  if (callback_) callback_->launched(io);
  return false;
}

LaunchedIo LaunchWithNamedPipe::launchSync() {
  PLAT_ASSERT_TEXT(cfg_.elevate, "cfg->elevate");
  if (!launch(false)) throw ElevateCancelled();
  plat::ScopeExit drop([&] {
    process_.reset();
    lpl_.reset();
  });
  const char* program = cfg_.args.empty() ? "<none>" : cfg_.args[0].get();
  std::optional<plat::TimeValue> deadline;
  for (;;) {
    io::Io* accepted = nullptr;
    try {
      accepted = lpl_->listener().acceptWaiting(kPollMs);
      if (accepted) writeSecret(*accepted, lpl_->secret());
    } catch (const plat::Exception& e) {
      if (accepted) accepted->shutdown(false, false);
      vlog().error("acceptIo: %s", e.str());
      throw LaunchFailed("Launch failed: acceptIo() failed for %s", program);
    }
    if (accepted) return LaunchedIo(accepted, false, false);
    if (!deadline) {
      int exitCode = 0;
      if (!elevationEnded(exitCode)) continue;
      if (viaCommand_ && exitCode == authorization::kCancelledExitStatus) throw ElevateCancelled();
      if (exitCode != 0)
        throw LaunchFailed("Launch failed: elevate prog failed with status %d for %s", exitCode, program);
      deadline = plat::getMonotonicTime() + kConnectMs * plat::kTicksPerMs;
    } else if (plat::getMonotonicTime() > *deadline) {
      throw LaunchFailed("Launch failed: timed out waiting for %s", program);
    }
  }
}

}  // namespace os
