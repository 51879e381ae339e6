#include "qocore/base/io/IpResolver.h"

#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "qocore/base/io/FdIo.h"
#include "qocore/base/io/FdManager.h"
#include "qocore/base/io/mac/IoRunLoopManager.h"
#include "qocore/base/os/SocketUtil.h"
#include "qocore/base/plat/DString.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/plat/UniqueFd.h"
#include "qocore/base/rdr/InStream.h"
#include "qocore/base/rdr/OutStream.h"

namespace io {

namespace {

PLAT_LOG_SOURCE(vlog, "IpResolver");

constexpr const char kRequest[] = "IpResolve";
constexpr const char kReply[] = "IpResolveResult";
// The host length is one byte on the wire.
constexpr size_t kMaxHost = 255;
// Blocking operations on either end of the socket pair give up after this.
constexpr int32_t kPairTimeoutMs = 5000;
constexpr int kMaxResolvers = 3;
constexpr int kIdleTrimMs = 60000;

enum ReplyKind : uint8_t { kSuccess = 0, kFailure = 1, kLookupFailure = 2 };

std::atomic<IpResolver::LookupFn> lookupFn{nullptr};

// The manager is kept for the process's life unless torn down; a plain
// pointer, so nothing runs for it at exit.
IpResolverMgr* mgrInstance = nullptr;

plat::CharArray hostContext(const char* host) { return plat::DString::format("getaddrinfo for host %s", host); }

}  // namespace

// ---- io::IpResolver ----

IpResolver::Callback::~Callback() = default;
IpResolver::~IpResolver() = default;

IpResolver::IpResolveException::IpResolveException(const char* message) noexcept : plat::Exception(message) {
  setType("IpResolve");
}

IpResolver::LookupFn IpResolver::setLookupForTest(LookupFn fn) noexcept { return lookupFn.exchange(fn); }

std::vector<IpInfo> IpResolver::lookup(const char* host, int port, int family) {
  vlog().info("Resolve host=%s, port=%d, family=%d", host, port, family);
  addrinfo hints = {};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  const plat::CharArray service = plat::DString::format("%d", port);
  AddrInfoList list;
  LookupFn fn = lookupFn.load();
  const int rc = fn ? fn(host, service.c_str(), &hints, list) : getAddrInfo(host, service.c_str(), &hints, list);
  if (rc != 0) throw GetAddrInfoException("getaddrinfo", rc);
  std::vector<IpInfo> addresses;
  for (const addrinfo* ai = list.get(); ai; ai = ai->ai_next) {
    const bool wanted = family == 0 ? ai->ai_family == AF_INET || ai->ai_family == AF_INET6 : ai->ai_family == family;
    if (!wanted) continue;
    addresses.emplace_back(ai->ai_addr, ai->ai_addrlen);
    vlog().debug("Resolved %s for %s", addresses.back().addressText(), host);
  }
  if (addresses.empty()) throw GetAddrInfoException(hostContext(host).c_str(), EAI_ADDRFAMILY);
  return addresses;
}

IpResolver* IpResolver::get() { return IpResolverMgr::instance().get(); }

// ---- io::IpResolverIpc ----

IpResolverIpc::IpResolverIpc() : ipc_(this, "IpResolverIpc", false, false), failTimer_(this), answerTimer_(this) {
  ipc_.setReader(kReply, this);
}

IpResolverIpc::~IpResolverIpc() { closeClient(); }

void IpResolverIpc::closeClient() {
  // Each waiting callback hears it once, oldest first; the lists are taken
  // first so that nothing a callback does reaches them.
  std::deque<Callback*> pending;
  pending.swap(pending_);
  std::deque<Answer> answered;
  answered.swap(answered_);
  std::vector<Callback*> told;
  auto tell = [&](Callback* cb) {
    if (!cb || std::find(told.begin(), told.end(), cb) != told.end()) return;
    told.push_back(cb);
    cb->resolverGone(this);
  };
  for (Callback* cb : pending) tell(cb);
  for (const Answer& a : answered) tell(a.cb);
  failTimer_.cancel();
  answerTimer_.cancel();
  ipc_.detach(false);
}

void IpResolverIpc::resolve(Callback* cb, const char* host, int port, int family) {
  if (strlen(host) > kMaxHost) {
    // Cut to fit, it would name another host: fail it here instead.
    answered_.push_back({cb, std::nullopt, plat::CharArray(host)});
    answerTimer_.start(0);
    return;
  }
  try {
    IpInfo literal(host, port);
    if (family == 0 || family == literal.family()) {
      answered_.push_back({cb, std::move(literal), plat::CharArray()});
      answerTimer_.start(0);
      return;
    }
  } catch (const plat::Exception&) {
    // Not a literal address: the server looks it up.
  }
  pending_.push_back(cb);
  // The server is known to be lost: the timer fails this request too.
  if (failTimer_.isRunning()) return;
  if (!ipc_.attached()) {
    try {
      launchServer();
    } catch (const plat::Exception& e) {
      vlog().error("Failed to launch IpResolveServer: %s", e.str());
      failTimer_.start(0);
      return;
    }
  }
  try {
    rdr::OutStream& out = ipc_.writeMsg(kRequest);
    out.writeString8(host);
    out.writeU32(static_cast<uint32_t>(port));
    out.writeU32(static_cast<uint32_t>(family));
    ipc_.out().endMsg(true);
  } catch (const plat::Exception& e) {
    // The request stays pending and fails when the channel is lost.
    vlog().error("%s", e.str());
  }
}

void IpResolverIpc::cancel(Callback* cb) {
  for (Callback*& pending : pending_) {
    if (pending == cb) pending = nullptr;
  }
  for (Answer& a : answered_) {
    if (a.cb == cb) a.cb = nullptr;
  }
}

bool IpResolverIpc::readMsg(const char*, rdr::InStream& in, MsgIpc&) {
  // Everything is read before anyone is called: a read that blocks starts
  // the body again.
  const uint8_t kind = in.readU8();
  std::vector<IpInfo> addresses;
  int32_t code = 0;
  plat::CharArray text;
  switch (kind) {
    case kSuccess: {
      const uint16_t count = in.readU16();
      for (uint16_t n = 0; n < count; n++) {
        const uint16_t len = in.readU16();
        // The length and the family inside must agree with what an
        // address of one of the two families is, before the bytes are
        // taken as one.
        if (len != sizeof(sockaddr_in) && len != sizeof(sockaddr_in6))
          throw plat::Exception("IpResolveResult: bad address length %u", static_cast<unsigned>(len));
        sockaddr_in6 buf = {};
        in.readBytes(&buf, len);
        const int family = reinterpret_cast<const sockaddr*>(&buf)->sa_family;
        const size_t expected = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        if ((family != AF_INET && family != AF_INET6) || len != expected)
          throw plat::Exception("IpResolveResult: bad address family %d", family);
        addresses.emplace_back(reinterpret_cast<const sockaddr*>(&buf), static_cast<socklen_t>(len));
      }
      if (addresses.empty()) throw plat::Exception("IpResolveResult: no address");
      break;
    }
    case kLookupFailure:
      code = static_cast<int32_t>(in.readU32());
      text = in.readString8(true);
      break;
    case kFailure:
      text = in.readString8(true);
      break;
    default:
      throw plat::Exception("IpResolveResult: bad reply kind %u", static_cast<unsigned>(kind));
  }
  if (pending_.empty()) throw plat::Exception("IpResolveResult: no request pending");
  Callback* cb = pending_.front();
  pending_.pop_front();
  if (kind == kSuccess) {
    for (const IpInfo& a : addresses) vlog().debug("Resolved %s", a.addressText());
    if (cb) cb->resolved(this, addresses);
    return true;
  }
  vlog().info("%s", text.c_str());
  if (!cb) return true;
  if (kind == kLookupFailure) {
    cb->failed(this, GetAddrInfoException::withMessage(code, text.c_str()));
  } else {
    cb->failed(this, IpResolveException(text.c_str()));
  }
  return true;
}

void IpResolverIpc::closed(MsgIpc&) {
  const IpResolveException lost("Comms failure to IpResolveServer");
  vlog().error("%s", lost.str());
  failPending(lost);
}

void IpResolverIpc::failPending(const plat::Exception& error) {
  // Requests a callback makes from here go to a new server; they stay.
  for (size_t n = pending_.size(); n > 0 && !pending_.empty(); n--) {
    Callback* cb = pending_.front();
    pending_.pop_front();
    if (cb) cb->failed(this, error);
  }
}

void IpResolverIpc::deliverAnswers() {
  for (size_t n = answered_.size(); n > 0 && !answered_.empty(); n--) {
    Answer a = std::move(answered_.front());
    answered_.pop_front();
    if (!a.cb) continue;
    if (a.address) {
      a.cb->resolved(this, std::vector<IpInfo>{*a.address});
    } else {
      a.cb->failed(this, GetAddrInfoException(hostContext(a.failedHost.c_str()).c_str(), EAI_NONAME));
    }
  }
  if (!answered_.empty() && !answerTimer_.isRunning()) answerTimer_.start(0);
}

bool IpResolverIpc::timerExpired(plat::Timer* timer) {
  if (timer == &failTimer_) {
    closed(ipc_);
  } else if (timer == &answerTimer_) {
    deliverAnswers();
  }
  return false;
}

// ---- io::IpResolveServer ----

bool IpResolveServer::readMsg(const char*, rdr::InStream& in, MsgIpc& ipc) {
  const plat::CharArray host = in.readString8(false);
  const uint32_t port = in.readU32();
  const int32_t family = static_cast<int32_t>(in.readU32());
  rdr::OutStream& out = ipc.writeMsg(kReply);
  try {
    if (port > 65535) throw plat::Exception("Invalid port number %u: outside 0-65535", port);
    const std::vector<IpInfo> addrs = IpResolver::lookup(host.c_str(), static_cast<int>(port), family);
    PLAT_ASSERT(addrs.size() < 65536);
    out.writeU8(kSuccess);
    out.writeU16(static_cast<uint16_t>(addrs.size()));
    // Each address as the system gave it, port included.
    struct Entry {
      const IpInfo& info;
      int len() const noexcept { return static_cast<int>(info.length()); }
    };
    for (const IpInfo& info : addrs) {
      const Entry entry{info};
      const Entry* i = &entry;
      PLAT_ASSERT(i->len() >= 0 && i->len() < 65536);
      out.writeU16(static_cast<uint16_t>(i->len()));
      out.writeBytes(info.sockAddr(), i->len());
    }
  } catch (const GetAddrInfoException& e) {
    out.writeU8(kLookupFailure);
    out.writeU32(static_cast<uint32_t>(e.code()));
    out.writeString8(e.str());
  } catch (const plat::Exception& e) {
    out.writeU8(kFailure);
    out.writeString8(e.str());
  }
  ipc.out().endMsg(true);
  return true;
}

// ---- io::IpResolverViaThread ----

IpResolverViaThread::~IpResolverViaThread() {
  // Closing the client end ends the server's loop; only then can the
  // thread be waited for.
  closeClient();
  if (thread_) thread_->join();
}

void IpResolverViaThread::launchServer() {
  // A previous server ended when its connection went; wait for its thread.
  if (thread_) {
    thread_->join();
    thread_.reset();
  }
  int sv[2];
  os::socketPairCloexec(sv);
  plat::UniqueFd clientFd(sv[0]);
  plat::UniqueFd serverFd(sv[1]);
  std::unique_ptr<Io> client(new FdIo(clientFd.release(), true, false, -1, -1, true));
  serverEnd_.reset(new FdIo(serverFd.release(), true, false, -1, -1, true));
  plat::ScopeExit dropServerEnd([this] { serverEnd_.reset(); });
  auto thread = std::make_unique<plat::Thread>("IpResolveThread", this);
  thread->start();
  dropServerEnd.dismiss();
  thread_ = std::move(thread);
  client->setTimeout(kPairTimeoutMs);
  channel().attach(client.release());
}

void IpResolverViaThread::run(plat::Thread*) {
  std::unique_ptr<Io> serverEnd = std::move(serverEnd_);
  // A reply written after the client has gone must fail as EPIPE on this
  // thread, not end the process: the signal stays blocked here (and
  // pending, harmlessly, until the thread ends).
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  IoRunLoopManager manager;
  IpResolveServer server;
  MsgIpc channel(nullptr, "IpResolveThread", false, false);
  channel.setReader(kRequest, &server);
  serverEnd->setTimeout(kPairTimeoutMs);
  channel.attach(serverEnd.release());
  while (channel.attached()) {
    if (manager.runLoop().runOnce(-1) == runloop::RunLoop::Result::kFinished) break;
  }
}

// ---- io::IpResolverMgr ----

IpResolverMgr& IpResolverMgr::instance() {
  if (!mgrInstance) mgrInstance = new IpResolverMgr();
  return *mgrInstance;
}

IpResolverMgr* IpResolverMgr::existing() noexcept { return mgrInstance; }

void IpResolverMgr::shutdown() {
  IpResolverMgr* mgr = mgrInstance;
  mgrInstance = nullptr;
  delete mgr;
}

IpResolverMgr::IpResolverMgr() : idleTimer_(this), fdManager_(FdManager::current()) {
  FdManager* manager = fdManager_;
  PLAT_ASSERT(manager);
  manager->addHandler(this, true);
}

IpResolverMgr::~IpResolverMgr() {
  idleTimer_.cancel();
  // Last first, each thread joined as its resolver goes.
  while (!resolvers_.empty()) resolvers_.pop_back();
  if (fdManager_) fdManager_->addHandler(this, false);
}

void IpResolverMgr::fdManagerGone() {
  // The manager has removed this handler already; its timers still run,
  // so the resolvers can close their channels and end their threads.
  fdManager_ = nullptr;
  if (mgrInstance == this) mgrInstance = nullptr;
  delete this;
}

IpResolver* IpResolverMgr::get() {
  // The least busy; on a tie the earliest in the list (the newest).
  IpResolverViaThread* best = nullptr;
  for (const auto& r : resolvers_) {
    if (!best || r->pendingCount() < best->pendingCount()) best = r.get();
  }
  if (resolvers_.size() < static_cast<size_t>(kMaxResolvers) && (!best || best->pendingCount() >= 1)) {
    resolvers_.push_front(std::make_unique<IpResolverViaThread>());
    best = resolvers_.front().get();
  }
  idleTimer_.start(kIdleTrimMs);
  return best;
}

bool IpResolverMgr::timerExpired(plat::Timer*) {
  if (resolvers_.size() < 2) return false;
  for (auto it = resolvers_.begin(); it != resolvers_.end() && resolvers_.size() >= 2;) {
    if ((*it)->pendingCount() == 0) {
      it = resolvers_.erase(it);
    } else {
      ++it;
    }
  }
  return resolvers_.size() >= 2;
}

}  // namespace io
