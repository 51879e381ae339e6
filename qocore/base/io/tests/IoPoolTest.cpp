// The connection pool over real loopback connections, its timers on the
// replaceable clock.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "qocore/base/io/IoPool.h"
#include "qocore/base/io/TcpConnector.h"
#include "qocore/base/io/tests/ProxyTestSupport.h"
#include "qocore/base/plat/UniqueFd.h"
#include "testing/LogCapture.h"

namespace {

// Accepts on demand, so the test holds the server side of each connection.
struct Listener {
  Listener() {
    fd.reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    EXPECT_EQ(0, bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr));
    EXPECT_EQ(0, listen(fd.get(), 16));
    EXPECT_EQ(0, getsockname(fd.get(), reinterpret_cast<sockaddr*>(&addr), &len));
    endpoint = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
  }
  plat::UniqueFd accept() {
    pollfd p{fd.get(), POLLIN, 0};
    if (poll(&p, 1, 2000) != 1) return plat::UniqueFd();
    return plat::UniqueFd(accept4(fd.get(), nullptr, nullptr, SOCK_CLOEXEC));
  }
  plat::UniqueFd fd;
  std::string endpoint;
};

// The server side has seen the client close.
bool closedByClient(int fd) {
  pollfd p{fd, POLLIN, 0};
  char c;
  return poll(&p, 1, 2000) == 1 && recv(fd, &c, 1, 0) == 0;
}

struct Factory : io::IoPool::Factory {
  std::unique_ptr<io::IoConnector> createConnector(const char* endpoint) override {
    made.push_back(endpoint);
    if (fail) throw plat::ExceptionFmt("cannot connect to %s", endpoint);
    if (null) return nullptr;
    return io::TcpConnector::fromEndpoint(endpoint, -1);
  }
  std::vector<std::string> made;
  bool fail = false;
  bool null = false;
};

class IoPoolTest : public proxy_test::ProxyTest {
 protected:
  void TearDown() override {
    // The pool's owners give back or discard what they took first.
    for (auto& r : receivers_) {
      if (r.io && pool_) pool_->discard(r.io.get(), "test done");
      r.io.reset();
    }
    connectors_.clear();
    pool_.reset();
    ProxyTest::TearDown();
  }
  // Starts a request; its index names its receiver and connector.
  size_t request(int waitMs = 2000, const std::string& endpoint = "") {
    connectors_.push_back(pool_->createConnector((endpoint.empty() ? listener_.endpoint : endpoint).c_str(), waitMs));
    receivers_.emplace_back();
    connectors_.back()->start(&receivers_.back());
    return connectors_.size() - 1;
  }
  bool answered(size_t i) { return receivers_[i].done(); }
  std::vector<std::string> poolLog() {
    std::vector<std::string> out;
    for (const auto& r : log_.from("IoPool")) out.push_back(r.text);
    log_.clear();
    return out;
  }
  std::string endpointLine(const char* format) {
    std::string text = format;
    text.replace(text.find("%s"), 2, listener_.endpoint);
    return text;
  }

  yarl_test::LogCapture log_{"IoPool:capture:110"};
  Listener listener_;
  Factory factory_;
  std::unique_ptr<io::IoPool> pool_ = std::make_unique<io::IoPool>(&factory_, 2, 60000);
  std::deque<proxy_test::Receiver> receivers_;
  std::vector<std::unique_ptr<io::IoPool::PoolConnector>> connectors_;
};

TEST_F(IoPoolTest, ASecondRequestWaitsAndGetsTheReleasedIoAtOnce) {
  const size_t first = request();
  ASSERT_TRUE(runUntil([&] { return answered(first); }));
  ASSERT_EQ("connected", receivers_[first].outcome);
  EXPECT_NE(-1, io::IoPool::connectorTag(connectors_[first].get()));
  EXPECT_EQ(-1, io::IoPool::connectorTag(nullptr));
  const size_t second = request();
  settle();
  EXPECT_FALSE(answered(second));
  io::Io* io = receivers_[first].io.release();
  pool_->release(listener_.endpoint.c_str(), io);
  EXPECT_TRUE(answered(second));
  EXPECT_EQ(io, receivers_[second].io.get());
  EXPECT_EQ(-1, io::IoPool::connectorTag(connectors_[second].get()));
  EXPECT_EQ(std::vector<std::string>{listener_.endpoint}, factory_.made);
  EXPECT_EQ(
      (std::vector<std::string>{endpointLine("Creating new Io to %s"), endpointLine("Waiting to re-use open Io to %s"),
                                endpointLine("Immediately re-using open Io to %s")}),
      poolLog());

  // Kept while idle, then handed to the next request.
  pool_->release(listener_.endpoint.c_str(), receivers_[second].io.release());
  const size_t third = request();
  ASSERT_TRUE(runUntil([&] { return answered(third); }));
  EXPECT_EQ(io, receivers_[third].io.get());
  EXPECT_EQ(std::vector<std::string>{endpointLine("Re-using open Io to %s")}, poolLog());
}

TEST_F(IoPoolTest, WaitingEndsAfterTwiceTheWaitTime) {
  const size_t first = request(2000);
  ASSERT_TRUE(runUntil([&] { return answered(first); }));
  // Within its wait time the first holds the endpoint.
  advanceMs(1000);
  const size_t second = request(2000);
  settle();
  EXPECT_FALSE(answered(second));
  // The first's entry expires at 2000 ms: the waiting request is served
  // and connects itself, without waiting the 4000 ms.
  advanceMs(1000);
  ASSERT_TRUE(runUntil([&] { return answered(second); }));
  EXPECT_EQ("connected", receivers_[second].outcome);
  EXPECT_NE(receivers_[first].io.get(), receivers_[second].io.get());
  EXPECT_EQ(2u, factory_.made.size());
  const auto lines = poolLog();
  EXPECT_NE(std::find(lines.begin(), lines.end(), endpointLine("Open Io to %s exceeded wait time")), lines.end());
}

TEST_F(IoPoolTest, AWaitingRequestGivesUpAfterTwiceItsWaitTime) {
  const size_t first = request(10000);
  ASSERT_TRUE(runUntil([&] { return answered(first); }));
  const size_t second = request(1000);
  settle();
  advanceMs(1999);
  EXPECT_FALSE(answered(second));
  EXPECT_EQ(1u, factory_.made.size());
  advanceMs(1);
  ASSERT_TRUE(runUntil([&] { return answered(second); }));
  EXPECT_EQ("connected", receivers_[second].outcome);
  EXPECT_EQ(2u, factory_.made.size());
  const auto lines = poolLog();
  EXPECT_NE(
      std::find(lines.begin(), lines.end(), endpointLine("Timed out waiting to re-use open Io to %s, making new Io")),
      lines.end());
}

TEST_F(IoPoolTest, AtMostTwoIdleIosPerEndpoint) {
  std::vector<size_t> requests;
  for (int i = 0; i < 3; i++) {
    requests.push_back(request(2000, listener_.endpoint));
    ASSERT_TRUE(runUntil([&] { return answered(requests.back()); }));
    // Each handed-out Io stops counting once its wait time is over.
    advanceMs(2000);
  }
  std::vector<plat::UniqueFd> servers;
  for (int i = 0; i < 3; i++) servers.push_back(listener_.accept());
  poolLog();
  for (size_t i : requests) pool_->release(listener_.endpoint.c_str(), receivers_[i].io.release());
  EXPECT_EQ(endpointLine("Not storing Io to %s in pool, connection limit reached"), poolLog().back());
  settle();
  EXPECT_TRUE(closedByClient(servers[2].get()));
}

TEST_F(IoPoolTest, IdleIosThatReceiveDataOrCloseAreRemoved) {
  struct Case {
    const char* name;
    bool close;
    const char* reason;
  };
  const Case cases[] = {{"data", false, "  unexpected data"}, {"close", true, "  End of IO stream"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t i = request();
    ASSERT_TRUE(runUntil([&] { return answered(i); }));
    plat::UniqueFd server = listener_.accept();
    pool_->release(listener_.endpoint.c_str(), receivers_[i].io.release());
    poolLog();
    if (c.close)
      server.reset();
    else
      ASSERT_EQ(1, write(server.get(), "x", 1));
    settle();
    EXPECT_EQ((std::vector<std::string>{endpointLine("Removing Io to %s from pool"), c.reason}), poolLog());
    settle();
    if (!c.close) {
      EXPECT_TRUE(closedByClient(server.get()));
    }
    // The next request makes a new connection.
    const size_t next = request();
    ASSERT_TRUE(runUntil([&] { return answered(next); }));
    EXPECT_EQ(endpointLine("Creating new Io to %s"), poolLog().front());
    pool_->discard(receivers_[next].io.get(), "test done");
    EXPECT_EQ(endpointLine("Discarding Io to %s from pool, test done"), poolLog().front());
    // Its server side, so the next case accepts its own connection.
    plat::UniqueFd nextServer = listener_.accept();
  }
}

TEST_F(IoPoolTest, ReleasingAnIoWithUnreadInputShutsIt) {
  const size_t i = request();
  ASSERT_TRUE(runUntil([&] { return answered(i); }));
  plat::UniqueFd server = listener_.accept();
  ASSERT_EQ(5, write(server.get(), "extra", 5));
  settle();
  poolLog();
  pool_->release(listener_.endpoint.c_str(), receivers_[i].io.release());
  EXPECT_EQ(std::vector<std::string>{endpointLine("Not storing Io to %s in pool, extra data sent")}, poolLog());
  settle();
  EXPECT_TRUE(closedByClient(server.get()));
}

TEST_F(IoPoolTest, IdleIosExpireAndCanBeClosed) {
  const size_t i = request();
  ASSERT_TRUE(runUntil([&] { return answered(i); }));
  plat::UniqueFd server = listener_.accept();
  pool_->release(listener_.endpoint.c_str(), receivers_[i].io.release());
  poolLog();
  advanceMs(59999);
  EXPECT_TRUE(poolLog().empty());
  advanceMs(1);
  EXPECT_EQ(std::vector<std::string>{endpointLine("Removing Io to %s from pool, idle time reached")}, poolLog());
  EXPECT_TRUE(closedByClient(server.get()));

  const size_t j = request();
  ASSERT_TRUE(runUntil([&] { return answered(j); }));
  plat::UniqueFd server2 = listener_.accept();
  pool_->release(listener_.endpoint.c_str(), receivers_[j].io.release());
  pool_->closeConnections();
  EXPECT_TRUE(closedByClient(server2.get()));
  advanceMs(60000);
}

TEST_F(IoPoolTest, OpenIosAreListedAtShutdown) {
  const size_t i = request();
  ASSERT_TRUE(runUntil([&] { return answered(i); }));
  pool_->release(listener_.endpoint.c_str(), receivers_[i].io.release());
  connectors_.clear();
  poolLog();
  pool_.reset();
  EXPECT_EQ((std::vector<std::string>{"Open Ios in pool at shutdown: 1", "  " + listener_.endpoint}), poolLog());
}

TEST_F(IoPoolTest, FactoryFailures) {
  factory_.fail = true;
  const size_t i = request();
  ASSERT_TRUE(runUntil([&] { return answered(i); }));
  EXPECT_EQ("cannot connect to " + listener_.endpoint, receivers_[i].outcome);
  factory_.fail = false;
  factory_.null = true;
  const size_t j = request();
  ASSERT_TRUE(runUntil([&] { return answered(j); }));
  EXPECT_EQ("No connector for " + listener_.endpoint, receivers_[j].outcome);
  // Neither left anything counted: a new request does not wait.
  factory_.null = false;
  const size_t k = request();
  ASSERT_TRUE(runUntil([&] { return answered(k); }));
  EXPECT_EQ("connected", receivers_[k].outcome);
}

}  // namespace
