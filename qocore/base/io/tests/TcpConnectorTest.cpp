// TCP connectors against real loopback listeners.  Host names come from a
// scripted resolver installed as the thread's resolver, and the stagger
// between addresses runs on the replaceable clock, so a race is decided by
// the test rather than by the machine's speed.

#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "qocore/base/io/IpResolver.h"
#include "qocore/base/io/TcpConnector.h"
#include "qocore/base/io/TcpIo.h"
#include "qocore/base/io/mac/IoRunLoopManager.h"
#include "qocore/base/io/tests/ThreadCount.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/plat/UniqueFd.h"
#include "testing/ConnectionRecorder.h"
#include "testing/RunUntil.h"

namespace {

plat::TimeValue fakeNow = 0;
plat::TimeValue readFakeClock(plat::TimeValue, bool* jumped) {
  if (jumped) *jumped = false;
  return fakeNow;
}

int openFdCount() {
  int n = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return -1;
  while (dirent* e = readdir(dir)) n += e->d_name[0] != '.';
  closedir(dir);
  return n;
}

// A listening socket on a loopback address and an ephemeral port.
struct Listener {
  // backlog 0 plus one queued connection that nobody accepts leaves the
  // listener dropping every further SYN: connects to it stay in progress.
  Listener(const char* address, bool hang = false) {
    io::IpInfo where(address, 0);
    fd.reset(socket(where.family(), SOCK_STREAM | SOCK_CLOEXEC, 0));
    EXPECT_TRUE(fd);
    const int on = 1;
    setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    EXPECT_EQ(bind(fd.get(), where.sockAddr(), where.length()), 0) << errno;
    EXPECT_EQ(listen(fd.get(), hang ? 0 : 8), 0);
    info = io::IpInfo(fd.get(), true);
    if (hang) {
      filler.reset(socket(where.family(), SOCK_STREAM | SOCK_CLOEXEC, 0));
      EXPECT_EQ(connect(filler.get(), info.sockAddr(), info.length()), 0) << errno;
    }
  }
  bool hasConnection() {
    pollfd p{fd.get(), POLLIN, 0};
    return poll(&p, 1, 0) == 1;
  }
  int port() const { return info.port(); }

  plat::UniqueFd fd;
  plat::UniqueFd filler;
  io::IpInfo info;
};

// An address on which nobody listens.
io::IpInfo closedPort(const char* address) {
  Listener probe(address);
  io::IpInfo info = probe.info;
  return info;
}

// Answers from a script, always from a 0 ms timer.
class ScriptedResolver : public io::IpResolver, public plat::Timer::Callback {
 public:
  using Callback = io::IpResolver::Callback;

  void resolve(Callback* cb, const char* host, int, int family) override {
    asked.push_back(std::string(host) + "/" + std::to_string(family));
    queue.push_back({cb, host});
    timer.start(0);
  }
  void cancel(Callback* cb) override {
    cancels++;
    for (auto& q : queue) {
      if (q.cb == cb) q.cb = nullptr;
    }
  }
  int pendingCount() const override { return static_cast<int>(queue.size()); }
  bool timerExpired(plat::Timer*) override {
    auto due = std::move(queue);
    queue.clear();
    for (auto& q : due) {
      if (!q.cb) continue;
      auto it = answers.find(q.host);
      if (it != answers.end()) {
        q.cb->resolved(this, it->second);
      } else {
        q.cb->failed(this, io::GetAddrInfoException("getaddrinfo", EAI_NONAME));
      }
    }
    return false;
  }

  struct Request {
    Callback* cb;
    std::string host;
  };
  std::map<std::string, std::vector<io::IpInfo>> answers;
  std::vector<Request> queue;
  std::vector<std::string> asked;
  int cancels = 0;
  plat::Timer timer{this};
};

// Records the outcome, and a system failure's error number and the text
// the connector gives for it.
struct Receiver : yarl_test::ConnectionRecorder {
  void failed(io::IoConnector& connector, const plat::Exception& e) override {
    ConnectionRecorder::failed(connector, e);
    if (auto* s = dynamic_cast<const plat::SystemException*>(&e)) {
      error = s->error();
      const char* localised = io::TcpAddrConnector::localisedError(*s);
      localisedText = localised ? localised : "";
    }
  }
  int error = 0;
  std::string localisedText;
};

class TcpConnectorTest : public testing::Test {
 protected:
  void SetUp() override {
    fakeNow = 0;
    previousClock_ = plat::setMonotonicClock(&readFakeClock);
    io::TcpConnector::setThreadResolver(&resolver_);
  }
  void TearDown() override {
    io::TcpConnector::setThreadResolver(nullptr);
    receiver_.io.reset();
    connector_.reset();
    io::IpResolverMgr::shutdown();
    manager_.reset();
    plat::setMonotonicClock(previousClock_);
  }

  template <typename Pred>
  bool runUntil(Pred done) {
    return yarl_test::runUntil(manager_->runLoop(), done, std::chrono::seconds(20));
  }
  // Serves what the loop has now, waiting a little for the kernel to pass
  // loopback events on; asserts nothing about time.
  void settle() {
    for (int i = 0; i < 5; i++) manager_->runLoop().runOnce(20);
  }

  std::unique_ptr<io::IoRunLoopManager> manager_ = std::make_unique<io::IoRunLoopManager>();
  ScriptedResolver resolver_;
  Receiver receiver_;
  std::unique_ptr<io::TcpConnector> connector_;
  plat::MonotonicClockFn previousClock_ = nullptr;
};

TEST_F(TcpConnectorTest, ALiteralAddressConnectsWithoutAResolverThread) {
  io::TcpConnector::setThreadResolver(nullptr);
  struct Case {
    const char* address;
    bool secure;
  };
  // Only exactly 127.0.0.1 and ::1 count as loopback.
  const Case cases[] = {{"127.0.0.1", true}, {"::1", true}, {"127.0.0.2", false}};
  const int threads = io_test::threadCountOnceAt(1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    Listener listener(c.address);
    receiver_ = {};
    connector_ = std::make_unique<io::TcpConnector>(c.address, listener.port());
    connector_->start(&receiver_);
    EXPECT_TRUE(receiver_.events.empty()) << "reported inside start";
    ASSERT_TRUE(runUntil([&] { return !receiver_.events.empty(); }));
    ASSERT_EQ(receiver_.events, std::vector<std::string>{"connected"});
    EXPECT_EQ(receiver_.io->flags().count("secureTransport"), c.secure ? 1u : 0u);
    EXPECT_EQ(std::string(receiver_.io->resolvedPeerEndpoint().c_str()), listener.info.endpointText());
    EXPECT_TRUE(listener.hasConnection());
  }
  EXPECT_EQ(io_test::threadCountOnceAt(threads), threads);
}

TEST_F(TcpConnectorTest, AddressesRaceTenMillisecondsApartAndTheLoserIsClosed) {
  struct Case {
    const char* name;
    bool firstHangs;
    // Fake milliseconds the clock must pass before the second address is
    // tried.
    int staggerMs;
  };
  const Case cases[] = {
      // The first attempt is still connecting: the second starts when its
      // 10 ms are up and wins.
      {"first pending", true, 10},
      // The first attempt has been refused: the second starts at once.
      {"first refused", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Listener second("127.0.0.1");
    std::unique_ptr<Listener> first;
    io::IpInfo firstAddress = closedPort("::1");
    if (c.firstHangs) {
      first = std::make_unique<Listener>("::1", true);
      firstAddress = first->info;
    }
    resolver_.answers["dual.test"] = {firstAddress, second.info};
    const int fds = openFdCount();
    receiver_ = {};
    connector_ = std::make_unique<io::TcpConnector>("dual.test", second.port());
    connector_->start(&receiver_);
    settle();
    EXPECT_EQ(resolver_.asked.back(), "dual.test/0");
    if (c.staggerMs > 0) {
      EXPECT_TRUE(receiver_.events.empty());
      EXPECT_FALSE(second.hasConnection()) << "second address tried before its turn";
      fakeNow += (c.staggerMs - 1) * plat::kTicksPerMs;
      settle();
      EXPECT_FALSE(second.hasConnection()) << "second address tried before its turn";
      fakeNow += plat::kTicksPerMs;
    }
    ASSERT_TRUE(runUntil([&] { return !receiver_.events.empty(); }));
    ASSERT_EQ(receiver_.events, std::vector<std::string>{"connected"});
    EXPECT_EQ(std::string(receiver_.io->resolvedPeerEndpoint().c_str()), second.info.endpointText());
    EXPECT_EQ(std::string(receiver_.io->peerEndpoint().c_str()), "dual.test:" + std::to_string(second.port()));
    EXPECT_TRUE(second.hasConnection());
    // The losing attempt's socket is closed: only the winner's is open.
    EXPECT_EQ(openFdCount(), fds + 1);
    receiver_.io.reset();
    connector_.reset();
  }
}

TEST_F(TcpConnectorTest, FailuresReachTheCaller) {
  const io::IpInfo closed4 = closedPort("127.0.0.1");
  const io::IpInfo closed6 = closedPort("::1");
  resolver_.answers["refused.test"] = {closed6, closed4};
  struct Case {
    const char* host;
    int error;
    const char* localisedKey;
    std::string message;
  };
  char lookupText[plat::Exception::kMsgSize];
  io::GetAddrInfoException("getaddrinfo", EAI_NONAME).format(lookupText);
  const Case cases[] = {
      // Every address refused: the last refusal is reported.
      {"refused.test", ECONNREFUSED, "io_error_tcp_connrefused", ""},
      // The lookup's failure as the resolver gave it.
      {"nowhere.test", 0, nullptr, std::string("failed:") + lookupText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    receiver_ = {};
    connector_ = std::make_unique<io::TcpConnector>(c.host, 80);
    connector_->start(&receiver_);
    ASSERT_TRUE(runUntil([&] { return !receiver_.events.empty(); }));
    ASSERT_EQ(receiver_.events.size(), 1u);
    EXPECT_EQ(receiver_.error, c.error);
    if (c.localisedKey) {
      EXPECT_EQ(receiver_.localisedText, loc::translate(c.localisedKey));
      EXPECT_NE(receiver_.events[0].find("connect"), std::string::npos) << receiver_.events[0];
    } else {
      EXPECT_EQ(receiver_.events[0], c.message);
    }
  }
}

TEST_F(TcpConnectorTest, DestroyingTheConnectorWhileResolvingCancelsTheRequest) {
  connector_ = std::make_unique<io::TcpConnector>("slow.test", 80);
  connector_->start(&receiver_);
  connector_.reset();
  EXPECT_EQ(resolver_.cancels, 1);
  settle();
  EXPECT_TRUE(receiver_.events.empty());
}

TEST_F(TcpConnectorTest, SynchronousConnectAndEndpointText) {
  Listener listener("::1");
  const std::string endpoint = "[::1]:" + std::to_string(listener.port());
  std::unique_ptr<io::TcpConnector> connector = io::TcpConnector::fromEndpoint(endpoint.c_str(), 5900);
  EXPECT_STREQ(connector->host(), "::1");
  EXPECT_EQ(connector->port(), listener.port());
  std::unique_ptr<io::Io> io(connector->connect());
  EXPECT_EQ(io->flags().count("secureTransport"), 1u);
  EXPECT_TRUE(listener.hasConnection());

  const io::IpInfo closed = closedPort("127.0.0.1");
  io::TcpConnector refused("127.0.0.1", closed.port());
  try {
    delete refused.connect();
    ADD_FAILURE() << "connected to a closed port";
  } catch (const plat::SystemException& e) {
    EXPECT_EQ(e.error(), ECONNREFUSED);
  }
}

TEST_F(TcpConnectorTest, MethodNameIsDirectTcpInEveryLanguage) {
  io::TcpConnector connector("example.test", 80);
  loc::TransMap* map = loc::TransMap::pushThreadMap();
  for (const char* locale : {"de", "fr", "en"}) {
    SCOPED_TRACE(locale);
    loc::Localize::instance().setLocales({locale}, map);
    EXPECT_STREQ(connector.methodName(false).c_str(), "Direct TCP");
    EXPECT_STREQ(connector.methodName().c_str(), "Direct TCP");
    EXPECT_STREQ(connector.methodName(true).c_str(), loc::translate("io_tcp_connection_type"));
  }
  delete map;
}

}  // namespace
