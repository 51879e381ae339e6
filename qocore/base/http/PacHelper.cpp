#include "qocore/base/http/PacHelper.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qocore/base/http/MacPacFetcher.h"
#include "qocore/base/io/LogDestIpc.h"
#include "qocore/base/os/AppLoop.h"
#include "qocore/base/os/ExecutablePath.h"
#include "qocore/base/os/LaunchedProcessPipe.h"
#include "qocore/base/os/unix/LaunchProcess.h"
#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/NumberParse.h"

namespace http {

namespace {

PLAT_LOG_SOURCE(clientLog, "PacHelperClient");
PLAT_LOG_SOURCE(helperLog, "PacHelper");

constexpr char kResolvePac[] = "ResolvePac";
constexpr char kPacResult[] = "PacResult";
constexpr char kTimeLimitsArg[] = "-pacTimeLimits";

std::atomic<bool> childMode{false};

// The child's log lines appear in the parent's log under the child's
// source name.
PLAT_LOG_SOURCE_OF(plat::LogSrcViaIpc, forwardedLog, "PacHelper");

// A failure that arrives as text: the child's, or the death of the child.
class PacFailure : public plat::Exception {
 public:
  PacFailure(const char* message, const char* type) noexcept : plat::Exception(message) {
    if (*type) setType(type);
  }
};

// Reads "<execute ms>,<script ms>" into the limits.
bool parseTimeLimits(const char* text, PacTimeLimits& limits) {
  const char* cursor = text;
  int32_t execute = 0;
  int32_t script = 0;
  if (!plat::parseInt(execute, cursor) || *cursor != ',') return false;
  ++cursor;
  if (!plat::parseInt(script, cursor) || *cursor || execute <= 0 || script <= 0) return false;
  limits.executeMs = execute;
  limits.scriptMs = script;
  return true;
}

}  // namespace

bool pacChildModeAvailable() noexcept { return childMode.load(); }

// ---- The parent's side ----

PacHelperClient::PacHelperClient(const char* host, uint32_t port, const io::ProxyCredentials& credentials,
                                 const char* pacUrl)
    : host_(host),
      port_(port),
      credentials_(credentials),
      pacUrl_(pacUrl),
      ipc_(this, "PacHelperClient", false, false),
      timer_(this) {
  ipc_.setReader(kPacResult, this);
}

PacHelperClient::~PacHelperClient() {
  callback_ = nullptr;
  timer_.cancel();
  detach();
  stopChild();
}

pid_t PacHelperClient::childPid() const noexcept { return child_ ? child_->pid() : -1; }

void PacHelperClient::fetch(io::ProxyFetcherCallback* cb) {
  callback_ = cb;
  clientLog().debug("Launching PAC helper for %s", pacUrl_.c_str());
  try {
    os::LaunchConfig cfg;
    cfg.args.emplace_back(os::getExecutablePath());
    cfg.args.emplace_back("-pacHelper");
    // The child's end of the socket pair and its number, as the launch with
    // a pipe passes it; launched here so that the child can be killed.
    cfg.childDescriptors = {3};
    cfg.args.emplace_back("3");
    PacTimeLimits limits = pacTimeLimits();
    if (limits.executeMs != PacTimeLimits().executeMs || limits.scriptMs != PacTimeLimits().scriptMs) {
      cfg.args.emplace_back(kTimeLimitsArg);
      cfg.args.push_back(plat::DString::format("%d,%d", limits.executeMs, limits.scriptMs));
    }
    cfg.dl = 1;
    os::LaunchProcess process(cfg);
    os::LaunchedIo io = process.launchWithSocketPair();
    child_ = process.detach(this);
    ipc_.attach(io.release());
    forwardedLog().setChannel(&ipc_, true, -1);

    clientLog().debug("Sending ResolvePac: host=%s port=%d pacUrl=%s", host_.c_str(), static_cast<int>(port_),
                      pacUrl_.c_str());
    rdr::OutStream& out = ipc_.writeMsg(kResolvePac);
    out.writeString32(host_.c_str());
    out.writeU32(port_);
    out.writeString32(pacUrl_.c_str());
    ipc_.out().endMsg(true);
    timer_.start(limits.replyMs);
  } catch (const plat::Exception& e) {
    clientLog().error("Launch/write to helper error: %s", plat::FormattedText(e).text);
    detach();
    stopChild();
    tellError(e);
  }
}

bool PacHelperClient::readMsg(const char*, rdr::InStream& in, io::MsgIpc&) {
  timer_.cancel();
  plat::CharArray proxies = in.readString(kMaxProxies);
  plat::CharArray message = in.readString8();
  plat::CharArray type = in.readString8();
  PacFailure error(message.c_str(), type.c_str());
  clientLog().debug("PacResult: %s %s", proxies.get() ? proxies.get() : "<null>", plat::FormattedText(error).text);
  // The child sees its pipe end and exits.
  detach();
  // Told from the loop, not from inside the channel's dispatch: the owner
  // may destroy this fetcher, channel included, in the callback.
  pendingProxies_ = proxies;
  pendingError_ = error;
  pendingFailed_ = *message.c_str() || *type.c_str();
  pending_ = true;
  timer_.start(0);
  return true;
}

void PacHelperClient::closed(io::MsgIpc&) {
  if (!callback_ || pending_) return;
  clientLog().error("PAC helper process died");
  detach();
  pendingError_ = PacFailure("PAC helper process died", "PacError");
  pendingFailed_ = true;
  pending_ = true;
  timer_.start(0);
}

bool PacHelperClient::timerExpired(plat::Timer*) {
  if (pending_) {
    pending_ = false;
    if (pendingFailed_) {
      tellError(pendingError_);
      return false;
    }
    io::ProxyFetcherCallback* cb = callback_;
    callback_ = nullptr;
    // The owner may destroy this fetcher in the callback: nothing below.
    if (cb) cb->onProxy(*this, pendingProxies_.c_str(), credentials_);
    return false;
  }
  clientLog().error("PAC helper timed out");
  detach();
  // A child that does not answer in time is not left running.
  stopChild();
  tellError(plat::TimedOut("PAC helper timed out"));
  return false;
}

void PacHelperClient::processExited(os::ProcessMonitor*, int) { child_.reset(); }

void PacHelperClient::detach() {
  forwardedLog().setChannel(&ipc_, false, 0);
  if (ipc_.attached()) ipc_.detach(false);
}

void PacHelperClient::stopChild() noexcept {
  if (!child_) return;
  child_->clearCallback();
  child_->kill(SIGKILL);
  // The monitor waits for the killed child as it goes.
  child_.reset();
}

void PacHelperClient::tellError(const plat::Exception& e) {
  io::ProxyFetcherCallback* cb = callback_;
  callback_ = nullptr;
  if (cb) cb->onProxyError(*this, e);
}

// ---- The child's side ----

PacHelper::PacHelper(io::Io* io) : ipc_(this, "PacHelper", false, false) {
  ipc_.setReader(kResolvePac, this);
  plat::LogDestIpc::instance().setChannel(&ipc_);
  ipc_.attach(io);
}

PacHelper::~PacHelper() {
  plat::LogDestIpc::instance().setChannel(nullptr);
  fetcher_.reset();
}

void PacHelper::main(char** argv) {
  childMode = true;
  if (!argv || !argv[0] || !argv[1] || std::strcmp(argv[1], "-pacHelper") != 0) return;
  plat::LogDestIpc::instance();
  (void)plat::Configuration::global().setParam("Log", "*:ipc:200", plat::ConfigParameter::kPolicy);
  int code = 1;
  try {
    char** cursor = argv + 2;
    os::LaunchedIo io = os::connectParentPipe(cursor);
    if (*cursor && std::strcmp(*cursor, kTimeLimitsArg) == 0) {
      PacTimeLimits limits = pacTimeLimits();
      if (!cursor[1] || !parseTimeLimits(cursor[1], limits)) throw plat::Exception("Bad time limits");
      setPacTimeLimits(limits);
      cursor += 2;
    }
    const char* const* rest = cursor;
    if (!plat::Configuration::global().parseArgs(rest, nullptr))
      throw plat::Exception("Bad command-line argument %s", *rest);
    os::AppLoop loop;
    auto helper = std::make_unique<PacHelper>(io.release());
    code = loop.run();
    helper.reset();
  } catch (const plat::Exception& e) {
    helperLog().error("pacHelper: %s", plat::FormattedText(e).text);
    code = 1;
  }
  // A worker still evaluating a script that never ends goes with the
  // process: no exit-time destruction runs under it.
  std::fflush(nullptr);
  ::_exit(code);
}

bool PacHelper::readMsg(const char*, rdr::InStream& in, io::MsgIpc&) {
  plat::CharArray host = in.readString(PacHelperClient::kMaxHost);
  uint32_t port = in.readU32();
  plat::CharArray pacUrl = in.readString(PacHelperClient::kMaxPacUrl);
  helperLog().debug("ResolvePac: host=%s port=%d pacUrl=%s", host.c_str(), static_cast<int>(port), pacUrl.c_str());
  try {
    fetcher_ = std::make_unique<MacPacFetcher>(host.c_str(), port, io::ProxyCredentials(), pacUrl.c_str());
    fetcher_->fetch(this);
  } catch (const plat::Exception& e) {
    helperLog().error("Fetch error: %s", plat::FormattedText(e).text);
    sendResult("", e.str(), e.typeName());
  }
  return true;
}

void PacHelper::onProxy(io::ProxyFetcher&, const char* proxyUrl, const io::ProxyCredentials&) {
  helperLog().debug("PAC resolved: %s", proxyUrl ? proxyUrl : "<null>");
  sendResult(proxyUrl, "", "");
}

void PacHelper::onProxyError(io::ProxyFetcher&, const plat::Exception& error) {
  helperLog().debug("PAC error: %s", plat::FormattedText(error).text);
  sendResult("", error.str(), error.typeName());
}

void PacHelper::sendResult(const char* proxies, const char* message, const char* type) {
  try {
    // The lines logged while resolving go first: the parent stops reading
    // once it has the answer.
    plat::LogDestIpc::instance().flush();
    rdr::OutStream& out = ipc_.writeMsg(kPacResult);
    // Sent whole: the parent refuses an answer longer than it reads, rather
    // than taking a cut proxy address.
    out.writeString32(proxies);
    out.writeString8(message);
    out.writeString8(type);
    ipc_.out().endMsg(true);
  } catch (const plat::Exception&) {
    os::AppLoop::quit(0);
  }
}

void PacHelper::closed(io::MsgIpc&) { os::AppLoop::quit(0); }

}  // namespace http
