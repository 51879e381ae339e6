// The name resolution service with real resolver threads and real socket
// pairs.  The lookup itself goes through the resolver's seam, which answers
// from numeric look-ups only (never DNS, never the hosts file), and the
// idle trimming runs on the replaceable clock.

#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "qocore/base/io/FdIo.h"
#include "qocore/base/io/IpResolver.h"
#include "qocore/base/io/mac/IoRunLoopManager.h"
#include "qocore/base/io/tests/ThreadCount.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/rdr/OutStream.h"
#include "testing/LogCapture.h"
#include "testing/RunUntil.h"
#include "testing/SocketPair.h"

namespace {

using yarl_test::LogCapture;

plat::TimeValue fakeNow = 0;
plat::TimeValue readFakeClock(plat::TimeValue, bool* jumped) {
  if (jumped) *jumped = false;
  return fakeNow;
}

// What the seam was asked, across resolver threads.
std::mutex lookupsMutex;
std::vector<std::string> lookups;

// "both.test": the loopback address of each family asked for (a lookup
// without a host); "v4only.test": 127.0.0.1 whatever the family asked;
// numeric hosts: the real wrapper; anything else is unknown.
int seamLookup(const char* host, const char* service, const addrinfo* hints, io::AddrInfoList& result) {
  {
    std::lock_guard lock(lookupsMutex);
    lookups.push_back(std::string(host) + "/" + std::to_string(hints->ai_family));
  }
  addrinfo h = *hints;
  const std::string name = host;
  if (name == "both.test") return io::getAddrInfo(nullptr, service, &h, result);
  h.ai_flags |= AI_NUMERICHOST;
  if (name == "v4only.test") {
    h.ai_family = AF_INET;
    return io::getAddrInfo("127.0.0.1", service, &h, result);
  }
  const int rc = io::getAddrInfo(host, service, &h, result);
  return rc == EAI_NONAME && name.find_first_not_of("0123456789.:") != std::string::npos ? EAI_NONAME : rc;
}

std::vector<std::string> seenLookups() {
  std::lock_guard lock(lookupsMutex);
  return lookups;
}

// Records what one request reports.
struct Requester : io::IpResolver::Callback {
  explicit Requester(std::vector<std::string>* shared = nullptr, std::string tag = "") : shared(shared), tag(tag) {}
  void resolved(io::IpResolver*, const std::vector<io::IpInfo>& addresses) override {
    std::string text = "resolved:";
    for (const io::IpInfo& a : addresses) text += std::string(a.endpointText()) + " ";
    note(text);
  }
  void failed(io::IpResolver*, const plat::Exception& e) override {
    char text[plat::Exception::kMsgSize];
    e.format(text);
    note(std::string("failed:") + text);
    if (auto* g = dynamic_cast<const io::GetAddrInfoException*>(&e)) code = g->code();
  }
  void resolverGone(io::IpResolver*) override { note("gone"); }
  void note(const std::string& text) {
    events.push_back(text);
    if (shared) shared->push_back(tag + ":" + text);
  }

  std::vector<std::string>* shared;
  std::string tag;
  std::vector<std::string> events;
  int code = 0;
};

std::string lookupFailure(const char* context, int code) {
  char text[plat::Exception::kMsgSize];
  io::GetAddrInfoException(context, code).format(text);
  return std::string("failed:") + text;
}

class IpResolverTest : public testing::Test {
 protected:
  void SetUp() override {
    fakeNow = 0;
    previousClock_ = plat::setMonotonicClock(&readFakeClock);
    previousLookup_ = io::IpResolver::setLookupForTest(&seamLookup);
    std::lock_guard lock(lookupsMutex);
    lookups.clear();
  }
  void TearDown() override {
    io::IpResolverMgr::shutdown();
    manager_.reset();
    io::IpResolver::setLookupForTest(previousLookup_);
    plat::setMonotonicClock(previousClock_);
  }

  template <typename Pred>
  bool runUntil(Pred done) {
    return yarl_test::runUntil(manager_->runLoop(), done, std::chrono::seconds(20));
  }
  // Serves what is ready now without waiting.
  void settle() {
    while (manager_->runLoop().runOnce(0) == runloop::RunLoop::Result::kHandledSource) {
    }
  }

  std::unique_ptr<io::IoRunLoopManager> manager_ = std::make_unique<io::IoRunLoopManager>();
  plat::MonotonicClockFn previousClock_ = nullptr;
  io::IpResolver::LookupFn previousLookup_ = nullptr;
};

TEST_F(IpResolverTest, LiteralAddressesAreAnsweredFromTheLoopWithoutAThread) {
  struct Case {
    const char* host;
    int family;
    const char* expected;
  };
  // clang-format off
  const Case cases[] = {
      {"127.0.0.1", 0,        "resolved:127.0.0.1:8080 "},
      {"127.0.0.1", AF_INET,  "resolved:127.0.0.1:8080 "},
      {"::1",       0,        "resolved:[::1]:8080 "},
      {"::1",       AF_INET6, "resolved:[::1]:8080 "},
  };
  // clang-format on
  const int threads = io_test::threadCountOnceAt(1);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.host << " family " << c.family);
    Requester r;
    io::IpResolver* resolver = io::IpResolver::get();
    resolver->resolve(&r, c.host, 8080, c.family);
    EXPECT_TRUE(r.events.empty()) << "answered inside resolve";
    EXPECT_EQ(resolver->pendingCount(), 0);
    ASSERT_TRUE(runUntil([&] { return !r.events.empty(); }));
    EXPECT_EQ(r.events, std::vector<std::string>{c.expected});
  }
  EXPECT_EQ(io_test::threadCountOnceAt(threads), threads);
  EXPECT_TRUE(seenLookups().empty());
}

TEST_F(IpResolverTest, HostsTheLiteralPathCannotAnswerGoToTheServer) {
  const std::string longest(255, 'h');
  const std::string tooLong(256, 'h');
  struct Case {
    std::string host;
    int family;
    bool sent;
    int code;
    std::string expected;
  };
  const Case cases[] = {
      // An IPv4 literal asked as IPv6 is the lookup's to refuse.
      {"127.0.0.1", AF_INET6, true, EAI_ADDRFAMILY, lookupFailure("getaddrinfo", EAI_ADDRFAMILY)},
      // The lookup answers only addresses of another family.
      {"v4only.test", AF_INET6, true, EAI_ADDRFAMILY,
       lookupFailure("getaddrinfo for host v4only.test", EAI_ADDRFAMILY)},
      {longest, 0, true, EAI_NONAME, lookupFailure("getaddrinfo", EAI_NONAME)},
      // One byte more than the request carries: failed here, nothing sent.
      {tooLong, 0, false, EAI_NONAME, lookupFailure(("getaddrinfo for host " + tooLong).c_str(), EAI_NONAME)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host.substr(0, 20) + " family " + std::to_string(c.family));
    {
      std::lock_guard lock(lookupsMutex);
      lookups.clear();
    }
    Requester r;
    io::IpResolver* resolver = io::IpResolver::get();
    resolver->resolve(&r, c.host.c_str(), 80, c.family);
    EXPECT_TRUE(r.events.empty()) << "answered inside resolve";
    EXPECT_EQ(resolver->pendingCount(), c.sent ? 1 : 0);
    ASSERT_TRUE(runUntil([&] { return !r.events.empty(); }));
    EXPECT_EQ(r.events, std::vector<std::string>{c.expected});
    EXPECT_EQ(r.code, c.code);
    const std::vector<std::string> expectedLookups =
        c.sent ? std::vector<std::string>{c.host + "/" + std::to_string(c.family)} : std::vector<std::string>{};
    EXPECT_EQ(seenLookups(), expectedLookups);
  }
}

TEST_F(IpResolverTest, ConcurrentLookupsShareAtMostThreeThreadsAndIdleOnesAreTrimmed) {
  const int threads = io_test::threadCountOnceAt(1);
  std::vector<std::unique_ptr<Requester>> requesters;
  std::vector<io::IpResolver*> used;
  for (int i = 0; i < 4; i++) {
    requesters.push_back(std::make_unique<Requester>());
    io::IpResolver* resolver = io::IpResolver::get();
    resolver->resolve(requesters.back().get(), "both.test", 443, 0);
    used.push_back(resolver);
  }
  io::IpResolverMgr& mgr = io::IpResolverMgr::instance();
  EXPECT_EQ(mgr.resolverCount(), 3);
  EXPECT_EQ(io_test::threadCountOnceAt(threads + 3), threads + 3);
  EXPECT_NE(used[0], used[1]);
  EXPECT_NE(used[1], used[2]);
  EXPECT_NE(used[0], used[2]);
  // All busy alike: the newest takes the fourth.
  EXPECT_EQ(used[3], used[2]);
  EXPECT_EQ(used[2]->pendingCount(), 2);

  ASSERT_TRUE(runUntil([&] {
    return std::all_of(requesters.begin(), requesters.end(), [](const auto& r) { return !r->events.empty(); });
  }));
  for (const auto& r : requesters) {
    ASSERT_EQ(r->events.size(), 1u);
    EXPECT_NE(r->events[0].find("resolved:"), std::string::npos) << r->events[0];
    EXPECT_NE(r->events[0].find("127.0.0.1:443"), std::string::npos) << r->events[0];
    EXPECT_NE(r->events[0].find("[::1]:443"), std::string::npos) << r->events[0];
  }

  // Not quite 60 s after the last request: all three stay.
  fakeNow += 59'999 * plat::kTicksPerMs;
  settle();
  EXPECT_EQ(mgr.resolverCount(), 3);
  fakeNow += plat::kTicksPerMs;
  settle();
  EXPECT_EQ(mgr.resolverCount(), 1);
  EXPECT_EQ(io_test::threadCountOnceAt(threads + 1), threads + 1);

  // The one left still answers.
  Requester after;
  io::IpResolver::get()->resolve(&after, "both.test", 1, AF_INET);
  ASSERT_TRUE(runUntil([&] { return !after.events.empty(); }));
  EXPECT_EQ(after.events, std::vector<std::string>{"resolved:127.0.0.1:1 "});
  EXPECT_EQ(mgr.resolverCount(), 1);
}

TEST_F(IpResolverTest, AReplyToACancelledRequestIsDroppedAndTheNextStillPairsUp) {
  Requester cancelled;
  Requester next;
  io::IpResolver* resolver = io::IpResolver::get();
  resolver->resolve(&cancelled, "both.test", 80, AF_INET6);
  resolver->resolve(&next, "nowhere.test", 80, 0);
  resolver->cancel(&cancelled);
  EXPECT_EQ(resolver->pendingCount(), 2);
  ASSERT_TRUE(runUntil([&] { return !next.events.empty(); }));
  EXPECT_EQ(next.events, std::vector<std::string>{lookupFailure("getaddrinfo", EAI_NONAME)});
  EXPECT_EQ(next.code, EAI_NONAME);
  EXPECT_TRUE(cancelled.events.empty());
  EXPECT_EQ(resolver->pendingCount(), 0);
}

// A client whose server is the test, at the far end of a socket pair.
class PairResolver : public io::IpResolverIpc {
 public:
  using io::IpResolverIpc::channel;
  ~PairResolver() override { closeClient(); }
  void launchServer() override {
    ++launches;
    if (refuse) throw plat::Exception("no server today");
    channel().attach(new io::FdIo(pair.near.release(), true, false, -1, -1, true));
  }
  yarl_test::SocketPair pair;
  bool refuse = false;
  int launches = 0;
};

TEST_F(IpResolverTest, EveryPendingRequestFailsOldestFirstWhenTheServerIsLost) {
  for (bool refuse : {false, true}) {
    SCOPED_TRACE(refuse ? "server not started" : "channel lost");
    LogCapture log;
    std::vector<std::string> order;
    Requester a(&order, "a"), b(&order, "b"), c(&order, "c"), literal(&order, "literal");
    PairResolver resolver;
    resolver.refuse = refuse;
    resolver.resolve(&a, "one.test", 1, 0);
    resolver.resolve(&b, "two.test", 2, 0);
    resolver.resolve(&literal, "127.0.0.1", 3, 0);
    resolver.resolve(&c, "three.test", 3, 0);
    EXPECT_EQ(resolver.launches, 1);
    EXPECT_EQ(resolver.pendingCount(), 3);
    EXPECT_TRUE(order.empty());
    if (!refuse) resolver.pair.far.reset();
    ASSERT_TRUE(runUntil([&] { return order.size() == 4; }));
    const std::string lost = "failed:[IpResolve] Comms failure to IpResolveServer";
    const std::vector<std::string> failures = {"a:" + lost, "b:" + lost, "c:" + lost};
    std::vector<std::string> failedOrder;
    std::copy_if(order.begin(), order.end(), std::back_inserter(failedOrder),
                 [](const std::string& s) { return s.rfind("literal:", 0) != 0; });
    EXPECT_EQ(failedOrder, failures);
    EXPECT_EQ(literal.events, std::vector<std::string>{"resolved:127.0.0.1:3 "});
    EXPECT_EQ(resolver.pendingCount(), 0);
    auto records = log.records();
    EXPECT_TRUE(std::any_of(records.begin(), records.end(), [](const yarl_test::LogRecord& r) {
      return r.source == "IpResolver" && r.text == "Comms failure to IpResolveServer";
    }));
    if (refuse) {
      EXPECT_TRUE(std::any_of(records.begin(), records.end(), [](const yarl_test::LogRecord& r) {
        return r.text == "Failed to launch IpResolveServer: no server today";
      }));
    }
  }
}

TEST_F(IpResolverTest, AMalformedReplyClosesTheChannelInsteadOfBeingTakenAsAnAddress) {
  struct Case {
    const char* name;
    uint8_t kind;
    uint16_t length;
    int family;
  };
  // clang-format off
  const Case cases[] = {
      {"length of neither family", 0, 20,                   AF_INET},
      {"IPv4 length, IPv6 family", 0, sizeof(sockaddr_in),  AF_INET6},
      {"IPv6 length, IPv4 family", 0, sizeof(sockaddr_in6), AF_INET},
      {"unknown kind",             7, 0,                    0},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Requester r;
    PairResolver resolver;
    resolver.resolve(&r, "one.test", 1, 0);
    // The test answers as the server would, but wrongly.
    io::MsgIpc server(nullptr, "TestServer", false, false);
    server.attach(new io::FdIo(resolver.pair.far.release(), true, false, -1, -1, true));
    rdr::OutStream& out = server.writeMsg("IpResolveResult");
    out.writeU8(c.kind);
    if (c.kind == 0) {
      out.writeU16(1);
      out.writeU16(c.length);
      sockaddr_in6 bytes = {};
      bytes.sin6_family = static_cast<sa_family_t>(c.family);
      std::vector<uint8_t> body(c.length, 0);
      memcpy(body.data(), &bytes, std::min<size_t>(c.length, sizeof bytes));
      out.writeBytes(body.data(), c.length);
    }
    server.out().endMsg(true);
    ASSERT_TRUE(runUntil([&] { return !r.events.empty(); }));
    EXPECT_EQ(r.events, std::vector<std::string>{"failed:[IpResolve] Comms failure to IpResolveServer"});
    EXPECT_FALSE(resolver.channel().attached());
  }
}

TEST_F(IpResolverTest, DestroyingTheResolverTellsWaitingCallbacksAndReportsNothingElse) {
  Requester sent, local;
  {
    PairResolver resolver;
    resolver.resolve(&sent, "one.test", 1, 0);
    resolver.resolve(&local, "::1", 1, 0);
  }
  settle();
  EXPECT_EQ(sent.events, std::vector<std::string>{"gone"});
  EXPECT_EQ(local.events, std::vector<std::string>{"gone"});
}

TEST_F(IpResolverTest, TheManagerGoesWithTheLoopThatDrivesIt) {
  const int threads = io_test::threadCountOnceAt(1);
  Requester r;
  io::IpResolver::get()->resolve(&r, "both.test", 80, 0);
  EXPECT_EQ(io_test::threadCountOnceAt(threads + 1), threads + 1);
  manager_.reset();
  EXPECT_EQ(io::IpResolverMgr::existing(), nullptr);
  EXPECT_EQ(io_test::threadCountOnceAt(threads), threads);
  EXPECT_EQ(r.events, std::vector<std::string>{"gone"});
}

}  // namespace
