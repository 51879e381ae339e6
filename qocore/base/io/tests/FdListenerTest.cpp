#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "qocore/base/io/FdIo.h"
#include "qocore/base/io/FdListener.h"
#include "qocore/base/io/Io.h"
#include "qocore/base/io/tests/Managers.h"
#include "qocore/base/os/SocketUtil.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Time.h"

namespace {

plat::TimeValue fakeNow = 0;
plat::TimeValue readFakeClock(plat::TimeValue, bool* jumped) {
  if (jumped) *jumped = false;
  return fakeNow;
}

// A TCP listener as a local-channel listener would be: it pauses when the
// process runs out of descriptors.
class TcpListener : public io::FdListener {
 public:
  using FdListener::FdListener;
  int pauses = 0;

 protected:
  io::Io* acceptOne() override {
    try {
      const int fd = os::acceptCloexec(fd_);
      if (fd < 0) return nullptr;
      return new io::FdIo(fd, true, false, -1, -1, true);
    } catch (const plat::SystemException& e) {
      if (e.error() != ENFILE && e.error() != EMFILE) throw;
      ++pauses;
      pauseAccepting();
      return nullptr;
    }
  }
};

struct Acceptor : io::IoAcceptor {
  void acceptIo(io::Io* io) override { ios.emplace_back(io); }
  std::vector<std::unique_ptr<io::Io>> ios;
};

// A listening loopback socket and the address clients connect to.
int listenLoopback(sockaddr_in& addr) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, 8) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    return -1;
  return fd;
}

int connectTo(const sockaddr_in& addr) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) return -1;
  return fd;
}

bool isNonBlocking(int fd) { return (::fcntl(fd, F_GETFL) & O_NONBLOCK) != 0; }

// Every case runs on both managers.
class FdListenerTest : public testing::TestWithParam<io_test::Kind> {};

TEST_P(FdListenerTest, AcceptsEarlierConnectionsAsIncomingUntilTheAcceptorGoes) {
  auto manager = io_test::makeManager(GetParam());
  sockaddr_in addr;
  const int fd = listenLoopback(addr);
  ASSERT_GE(fd, 0);
  auto listener = std::make_unique<TcpListener>(fd);
  const int early[2] = {connectTo(addr), connectTo(addr)};

  Acceptor acceptor;
  listener->setAcceptor(&acceptor);
  EXPECT_TRUE(isNonBlocking(fd));
  for (int i = 0; i < 10 && acceptor.ios.size() < 2; ++i) io_test::turn(*manager, 20);
  ASSERT_EQ(2u, acceptor.ios.size());
  for (const auto& io : acceptor.ios) EXPECT_EQ(io::IoFlags{"incoming"}, io->flags());

  listener->setAcceptor(nullptr);
  EXPECT_FALSE(isNonBlocking(fd));
  const int late = connectTo(addr);
  for (int i = 0; i < 3; ++i) io_test::turn(*manager, 20);
  EXPECT_EQ(2u, acceptor.ios.size()) << "nothing is accepted without an acceptor";

  listener.reset();
  EXPECT_EQ(-1, ::fcntl(fd, F_GETFD)) << "the listener closes its descriptor";
  for (int c : early) ::close(c);
  ::close(late);
}

TEST_P(FdListenerTest, OutlivesItsManager) {
  sockaddr_in addr;
  const int fd = listenLoopback(addr);
  ASSERT_GE(fd, 0);
  TcpListener listener(fd);
  Acceptor acceptor;
  {
    auto manager = io_test::makeManager(GetParam());
    listener.setAcceptor(&acceptor);
  }
  auto next = io_test::makeManager(GetParam());
  const int client = connectTo(addr);
  for (int i = 0; i < 3; ++i) io_test::turn(*next, 20);
  EXPECT_TRUE(acceptor.ios.empty()) << "accepting stops with the manager";
  listener.setAcceptor(&acceptor);
  for (int i = 0; i < 10 && acceptor.ios.empty(); ++i) io_test::turn(*next, 20);
  EXPECT_EQ(1u, acceptor.ios.size());
  ::close(client);
}

// Runs in a forked child: exit status 0, or the number of the failed step.
int pauseAndRetryWhenOutOfDescriptors(io_test::Kind kind) {
  fakeNow = 1'000'000 * plat::kTicksPerSecond;
  plat::setMonotonicClock(&readFakeClock);
  auto advanceMs = [](int ms) { fakeNow += ms * plat::kTicksPerMs; };
  auto manager = io_test::makeManager(kind);
  sockaddr_in addr;
  const int fd = listenLoopback(addr);
  if (fd < 0 || connectTo(addr) < 0) return 1;
  TcpListener listener(fd);
  Acceptor acceptor;

  // The undefined-behaviour checker opens a pipe the first time it checks
  // an object's dynamic type.  Take one connection and meet the exception
  // while descriptors are still to be had.
  listener.setAcceptor(&acceptor);
  for (int i = 0; i < 10 && acceptor.ios.empty(); ++i) io_test::turn(*manager, 0);
  if (acceptor.ios.size() != 1) return 8;
  acceptor.ios.clear();
  listener.setAcceptor(nullptr);
  try {
    throw plat::SystemException("accept", EMFILE);
  } catch (const plat::SystemException& e) {
    if (e.error() != EMFILE) return 7;
  }
  if (connectTo(addr) < 0) return 9;

  // No descriptor is left for the accepted connection.
  rlimit saved;
  ::getrlimit(RLIMIT_NOFILE, &saved);
  const int lowestFree = ::dup(0);
  ::close(lowestFree);
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(lowestFree);
  if (::setrlimit(RLIMIT_NOFILE, &tight) != 0) return 2;

  listener.setAcceptor(&acceptor);
  for (int i = 0; i < 3; ++i) io_test::turn(*manager, 0);
  if (listener.pauses != 1 || !acceptor.ios.empty()) return 3;  // paused once, not retried meanwhile

  if (::setrlimit(RLIMIT_NOFILE, &saved) != 0) return 4;
  advanceMs(io::FdListener::kRetryMs - 1);
  for (int i = 0; i < 3; ++i) io_test::turn(*manager, 0);
  if (!acceptor.ios.empty()) return 5;
  advanceMs(1);
  for (int i = 0; i < 3; ++i) io_test::turn(*manager, 0);
  if (acceptor.ios.size() != 1 || listener.pauses != 1) return 6;
  return 0;
}

TEST_P(FdListenerTest, RunningOutOfDescriptorsPausesAndRetriesAfter100Ms) {
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) ::_exit(pauseAndRetryWhenOutOfDescriptors(GetParam()));
  int status = 0;
  ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
}

INSTANTIATE_TEST_SUITE_P(Managers, FdListenerTest, testing::Values(io_test::Kind::kRunLoop, io_test::Kind::kSelect),
                         io_test::kindName);

}  // namespace
