#pragma once
// Host names resolved off the calling thread.
//
// A caller asks an io::IpResolver for the addresses of a host, port and
// family (0 any, AF_INET, AF_INET6) and is called back later on its own
// thread, never from inside resolve.  io::IpResolver::get hands out one of
// up to three io::IpResolverViaThread objects kept by the process-wide
// io::IpResolverMgr: each runs getaddrinfo on a thread of its own
// ("IpResolveThread") and talks to it over a socket pair with two named
// messages, "IpResolve" and "IpResolveResult".  Literal addresses are
// answered without a thread.
//
// Requests and callbacks run on the requesting thread's loop; nothing here
// is locked.  A resolver thread runs only its own loop, server and
// channel; the socket pair is all the two threads share.

#include <netdb.h>

#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "qocore/base/io/FdHandler.h"
#include "qocore/base/io/IpInfo.h"
#include "qocore/base/io/Ipc.h"
#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Thread.h"
#include "qocore/base/plat/Timer.h"

namespace io {

class FdManager;

class IpResolver {
 public:
  class Callback {
   public:
    virtual ~Callback();
    // The addresses, in the order the lookup produced them; never empty.
    virtual void resolved(IpResolver* resolver, const std::vector<IpInfo>& addresses) = 0;
    virtual void failed(IpResolver* resolver, const plat::Exception& error) = 0;
    // The resolver is being destroyed while this callback still has a
    // request outstanding; nothing else will be reported for it.
    virtual void resolverGone(IpResolver* resolver) = 0;
  };

  // A failure of the resolver itself rather than of the lookup (type
  // "IpResolve").
  class IpResolveException : public plat::Exception {
   public:
    explicit IpResolveException(const char* message) noexcept;
  };

  virtual ~IpResolver();

  // Queues a request; the answer reaches cb through resolved or failed
  // from the event loop.
  virtual void resolve(Callback* cb, const char* host, int port, int family) = 0;
  // Forgets cb in every queued request; nothing is called for them.
  virtual void cancel(Callback* cb) = 0;
  // Requests sent to the server and not yet answered.
  virtual int pendingCount() const = 0;

  // A resolver of the process-wide manager, for the calling (main) thread.
  // Keep the pointer only while a request is outstanding.
  static IpResolver* get();

  // The blocking lookup the server runs: stream-socket addresses of the
  // requested family (for 0, IPv4 and IPv6) with the port set.  Throws
  // GetAddrInfoException: the lookup's own code with the context
  // "getaddrinfo", or EAI_ADDRFAMILY "getaddrinfo for host <host>" when
  // no address of the family came back.
  static std::vector<IpInfo> lookup(const char* host, int port, int family);

  // Test seam: the lookup wrapper that lookup calls (io::getAddrInfo by
  // default; null restores it).  Safe from any thread; returns the
  // previous one.
  using LookupFn = int (*)(const char* host, const char* service, const addrinfo* hints, AddrInfoList& result);
  static LookupFn setLookupForTest(LookupFn fn) noexcept;
};

// The client half: requests go out over a named-message channel to a
// server that answers them in order, so each reply belongs to the oldest
// request still pending.  Subclasses say how the server is started.
class IpResolverIpc : public IpResolver, public MsgIpc::Reader, public MsgIpc::Callback, public plat::Timer::Callback {
 public:
  // The requester's interface (the channel's and the timer's are named in
  // full).
  using Callback = IpResolver::Callback;

  IpResolverIpc();
  // Tells every callback still waiting resolverGone.
  ~IpResolverIpc() override;
  IpResolverIpc(const IpResolverIpc&) = delete;
  IpResolverIpc& operator=(const IpResolverIpc&) = delete;

  // A literal address of the requested family (or any family for 0) is
  // answered from a 0 ms timer; so is a host longer than 255 bytes, which
  // the message cannot carry, with EAI_NONAME.  Everything else is sent
  // to the server, started first when the channel has no connection.
  void resolve(Callback* cb, const char* host, int port, int family) override;
  void cancel(Callback* cb) override;
  int pendingCount() const override { return static_cast<int>(pending_.size()); }

  // "IpResolveResult".  A malformed reply throws, which closes the channel.
  bool readMsg(const char* name, rdr::InStream& in, MsgIpc& ipc) override;
  // The channel is lost: every pending request fails, oldest first.
  void closed(MsgIpc& ipc) override;
  bool timerExpired(plat::Timer* timer) override;

 protected:
  // Starts a server and attaches the client end of its connection to
  // channel(); throws plat::Exception when it cannot.
  virtual void launchServer() = 0;
  // What destruction does, for subclasses that must stop talking to their
  // server before they go: tells resolverGone, cancels the timers, drops
  // the local answers and detaches the channel.  Safe to call twice.
  void closeClient();

  MsgIpc& channel() noexcept { return ipc_; }

 private:
  // A request answered here: an address, or (host too long) a failure.
  struct Answer {
    Callback* cb;
    std::optional<IpInfo> address;
    plat::CharArray failedHost;
  };

  // Fails the requests pending now (not those added meanwhile), oldest
  // first.
  void failPending(const plat::Exception& error);
  void deliverAnswers();

  MsgIpc ipc_;
  std::deque<Answer> answered_;
  std::deque<Callback*> pending_;
  plat::Timer failTimer_;
  plat::Timer answerTimer_;
};

// The server half: the reader of "IpResolve" on the resolver thread's
// channel.  Each request is looked up and answered completely before the
// next is read.
class IpResolveServer : public MsgIpc::Reader {
 public:
  bool readMsg(const char* name, rdr::InStream& in, MsgIpc& ipc) override;
};

// A resolver whose server runs on a thread of its own, over a Unix socket
// pair whose ends time out blocking operations after 5 s.  The thread ends
// when the client end closes; the destructor closes it and waits.
class IpResolverViaThread : public IpResolverIpc, public plat::ThreadRunner {
 public:
  IpResolverViaThread() = default;
  ~IpResolverViaThread() override;

 protected:
  void launchServer() override;

 private:
  // The thread body: a loop, a channel named "IpResolveThread" and the
  // server, for as long as the channel has its connection.
  void run(plat::Thread* thread) override;

  std::unique_ptr<plat::Thread> thread_;
  // The server end, handed to the thread as it starts.
  std::unique_ptr<Io> serverEnd_;
};

// The process's resolvers: at most three, newest first; each request goes
// to the least busy one, and idle ones are trimmed every 60 s down to one.
// Made on first use on the thread that asks, and kept until shutdown() or
// until that thread's fd manager goes (its resolvers cannot outlive the
// loop that drives them), whichever comes first; never destroyed at exit,
// when per-thread state may already be gone.
class IpResolverMgr : public plat::Timer::Callback, public FdHandler {
 public:
  static IpResolverMgr& instance();
  // Destroys the instance, if any: every resolver tells its waiting
  // callbacks resolverGone and its thread ends.  The program's main loop
  // lives as long as the process, and so does its manager; tests end
  // theirs here.
  static void shutdown();
  // The instance, or null.
  static IpResolverMgr* existing() noexcept;

  IpResolver* get();
  int resolverCount() const noexcept { return static_cast<int>(resolvers_.size()); }

  bool timerExpired(plat::Timer* timer) override;
  void readReady() override {}
  void fdManagerGone() override;

 private:
  IpResolverMgr();
  ~IpResolverMgr() override;

  std::deque<std::unique_ptr<IpResolverViaThread>> resolvers_;
  plat::Timer idleTimer_;
  FdManager* fdManager_;
};

}  // namespace io
