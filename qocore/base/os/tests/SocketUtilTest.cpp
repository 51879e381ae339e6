#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "qocore/base/os/SocketUtil.h"
#include "qocore/base/plat/Exception.h"
#include "testing/FailureOf.h"
#include "testing/FileFixtures.h"

namespace {

using yarl_test::failureOf;

// Closes the descriptors it holds at the end of a test.
class Fds {
 public:
  ~Fds() {
    for (int fd : fds_) ::close(fd);
  }
  int add(int fd) {
    if (fd >= 0) fds_.push_back(fd);
    return fd;
  }

 private:
  std::vector<int> fds_;
};

// A listening TCP socket on 127.0.0.1 and its port.
int listenLoopback(Fds& fds, in_port_t* port) {
  int fd = fds.add(os::socketCloexec(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    ADD_FAILURE() << "listen: " << strerror(errno);
  *port = address.sin_port;
  return fd;
}

int connectLoopback(Fds& fds, in_port_t port) {
  int fd = fds.add(os::socketCloexec(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = port;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    ADD_FAILURE() << "connect: " << strerror(errno);
  return fd;
}

TEST(SocketUtilTest, EveryMadeDescriptorIsCloseOnExec) {
  Fds fds;
  in_port_t port = 0;
  int listener = listenLoopback(fds, &port);
  connectLoopback(fds, port);
  int pair[2];
  os::socketPairCloexec(pair);
  fds.add(pair[0]);
  fds.add(pair[1]);
  int pipe[2];
  os::pipeCloexec(pipe);
  fds.add(pipe[0]);
  fds.add(pipe[1]);
  int target = fds.add(::dup(pipe[0]));
  ASSERT_TRUE(os::getInheritable(target));
  os::dup2Checked(pipe[1], target);

  struct Case {
    const char* what;
    int fd;
  };
  const Case cases[] = {
      {"socket", listener},
      {"accepted", fds.add(os::acceptCloexec(listener))},
      {"socket pair 0", pair[0]},
      {"socket pair 1", pair[1]},
      {"pipe read end", pipe[0]},
      {"pipe write end", pipe[1]},
      {"duplicate", fds.add(os::dupCloexec(pipe[0]))},
      {"dup2 target", target},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_GE(c.fd, 0);
    EXPECT_FALSE(os::getInheritable(c.fd));
  }
}

TEST(SocketUtilTest, SetInheritableTogglesAndFailuresNameTheCall) {
  Fds fds;
  int pipe[2];
  os::pipeCloexec(pipe);
  fds.add(pipe[0]);
  fds.add(pipe[1]);
  os::setInheritable(pipe[0], true);
  EXPECT_TRUE(os::getInheritable(pipe[0]));
  os::setInheritable(pipe[0], false);
  EXPECT_FALSE(os::getInheritable(pipe[0]));

  int closed = ::dup(pipe[0]);
  ::close(closed);
  struct Case {
    const char* what;
    std::function<void()> action;
    const char* prefix;
  };
  const Case cases[] = {
      {"setInheritable", [&] { os::setInheritable(closed, true); }, "setInheritable"},
      {"getInheritable", [&] { os::getInheritable(closed); }, "getInheritable"},
      {"setBlocking", [&] { os::setBlocking(closed, false); }, "setBlocking"},
      {"dupCloexec", [&] { os::dupCloexec(closed); }, "fcntl(F_DUPFD_CLOEXEC)"},
      {"dup2 from closed", [&] { os::dup2Checked(closed, pipe[0]); }, "dup2"},
      {"dup2 onto itself", [&] { os::dup2Checked(pipe[0], pipe[0]); }, "dup2"},
      {"accept on a pipe", [&] { static_cast<void>(os::acceptCloexec(pipe[0])); }, "accept"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(failureOf<plat::SystemException>(c.action).rfind(c.prefix, 0), 0u)
        << failureOf<plat::SystemException>(c.action);
  }
  errno = 0;
  EXPECT_FALSE(os::dup2Checked(pipe[0], pipe[0], std::nothrow));
  EXPECT_EQ(errno, EINVAL);
}

TEST(SocketUtilTest, SetBlockingKeepsTheOtherStatusFlags) {
  yarl_test::TempDir tmp;
  std::string path = tmp.write("log", "");
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  Fds fds;
  fds.add(fd);
  os::setBlocking(fd, false);
  EXPECT_EQ(::fcntl(fd, F_GETFL) & (O_APPEND | O_NONBLOCK), O_APPEND | O_NONBLOCK);
  os::setBlocking(fd, true);
  EXPECT_EQ(::fcntl(fd, F_GETFL) & (O_APPEND | O_NONBLOCK), O_APPEND);
}

TEST(SocketUtilTest, AcceptWithNothingPendingAnswersMinusOne) {
  Fds fds;
  in_port_t port = 0;
  int listener = listenLoopback(fds, &port);
  os::setBlocking(listener, false);
  errno = 0;
  EXPECT_EQ(os::acceptCloexec(listener), -1);
  EXPECT_EQ(errno, EAGAIN);
  connectLoopback(fds, port);
  EXPECT_GE(fds.add(os::acceptCloexec(listener)), 0);
}

// A setsockopt that refuses growth with a chosen error above a size, and
// records what it was asked for.
struct FakeSetSockOpt {
  static inline std::vector<int> requests;
  static inline int error = 0;
  static inline int refuseAbove = 0;
  static int call(int fd, int level, int option, const void* value, socklen_t length) {
    int wanted = *static_cast<const int*>(value);
    requests.push_back(wanted);
    if (wanted > refuseAbove) {
      errno = error;
      return -1;
    }
    return ::setsockopt(fd, level, option, value, length);
  }
};

TEST(SocketUtilTest, GrowSocketBufferRetriesWithFourFifthsOnlyForLackOfMemory) {
  struct Case {
    const char* what;
    int error;
    int refuseAbove;
    int wanted;
    std::vector<int> requests;
    int answer;  // -1: throws
  };
  // The buffer starts at 8192 bytes: Linux reports twice the 4096 set.
  const Case cases[] = {
      {"ENOBUFS until no longer above the current size", ENOBUFS, 0, 20000, {20000, 16000, 12800, 10240}, 8192},
      {"ENOMEM, then accepted: the size the system reports", ENOMEM, 16000, 20000, {20000, 16000}, 32000},
      {"rounding down to a multiple of 4", ENOBUFS, 0, 9999, {9999}, 8192},
      {"already large enough: nothing set", ENOBUFS, 0, 8000, {}, 8192},
      {"another error throws", EINVAL, 0, 20000, {20000}, -1},
  };
  os::SetSockOptFn previous = os::setSetSockOptForTest(FakeSetSockOpt::call);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fds fds;
    int fd = fds.add(os::socketCloexec(AF_INET, SOCK_STREAM, 0));
    int start = 4096;
    ASSERT_EQ(::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &start, sizeof start), 0);
    FakeSetSockOpt::requests.clear();
    FakeSetSockOpt::error = c.error;
    FakeSetSockOpt::refuseAbove = c.refuseAbove;
    if (c.answer < 0) {
      EXPECT_EQ(failureOf<plat::SystemException>([&] {
                  os::growSocketBuffer(fd, c.wanted, SO_RCVBUF, "SO_RCVBUF");
                }).rfind("setsockopt(SO_RCVBUF)", 0),
                0u);
    } else {
      EXPECT_EQ(os::growSocketBuffer(fd, c.wanted, SO_RCVBUF, "SO_RCVBUF"), c.answer);
    }
    EXPECT_EQ(FakeSetSockOpt::requests, c.requests);
  }
  os::setSetSockOptForTest(previous);

  EXPECT_EQ(failureOf<plat::SystemException>([] {
              os::growSocketBuffer(-1, 1, SO_SNDBUF, "SO_SNDBUF");
            }).rfind("getsockopt(SO_SNDBUF)", 0),
            0u);
}

TEST(SocketUtilTest, BufferSizeSettersGrowTheRealBuffers) {
  Fds fds;
  int fd = fds.add(os::socketCloexec(AF_INET, SOCK_STREAM, 0));
  int start = 4096;
  ASSERT_EQ(::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &start, sizeof start), 0);
  ASSERT_EQ(::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &start, sizeof start), 0);
  // Linux doubles what it is given for its own bookkeeping.
  EXPECT_EQ(os::setRecvBufferSize(fd, 40000), 80000);
  EXPECT_EQ(os::setSendBufferSize(fd, 40000), 80000);
}

TEST(SocketUtilTest, Probes) {
  Fds fds;
  int pair[2];
  os::socketPairCloexec(pair);
  fds.add(pair[0]);
  fds.add(pair[1]);
  int udp = fds.add(os::socketCloexec(AF_INET, SOCK_DGRAM, 0));
  int udp6 = fds.add(os::socketCloexec(AF_INET6, SOCK_DGRAM, 0));
  int pipe[2];
  os::pipeCloexec(pipe);
  fds.add(pipe[0]);
  fds.add(pipe[1]);
  int closed = ::dup(pipe[0]);
  ::close(closed);

  struct Case {
    const char* what;
    int fd;
    bool socket;
    int type;
    int family;
  };
  const Case cases[] = {
      {"unnamed socket pair end", pair[0], true, SOCK_STREAM, AF_UNIX},
      {"IPv4 datagram socket", udp, true, SOCK_DGRAM, AF_INET},
      {"IPv6 datagram socket", udp6, true, SOCK_DGRAM, AF_INET6},
      {"pipe", pipe[0], false, -1, -1},
      {"closed descriptor", closed, false, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.fd < 0) continue;  // no IPv6 on this machine
    EXPECT_EQ(os::isSocketFd(c.fd), c.socket);
    EXPECT_EQ(os::getSocketType(c.fd), c.type);
    EXPECT_EQ(os::getSocketFamily(c.fd), c.family);
  }
  EXPECT_TRUE(os::isIpv6Family(-1, AF_INET6));
  EXPECT_FALSE(os::isIpv6Family(udp6, AF_INET));
}

TEST(SocketUtilTest, IsSetuidRoot) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make root-owned set-user-ID files";
  yarl_test::TempDir tmp;
  struct Case {
    const char* name;
    mode_t mode;
    bool ownedByRoot;
    bool expected;
  };
  const Case cases[] = {
      {"setuid-root", 04755, true, true},
      {"not-executable-by-owner", 04655, true, false},
      {"no-setuid-bit", 0755, true, false},
      {"owned-by-another", 04755, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = tmp.write(c.name, "#!/bin/sh\n");
    if (!c.ownedByRoot) {
      yarl_test::User nobody = yarl_test::nobody();
      ASSERT_EQ(::chown(path.c_str(), nobody.uid, nobody.gid), 0);
    }
    ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);  // after chown, which drops the bit
    EXPECT_EQ(os::isSetuidRoot(path.c_str()), c.expected);
  }
  std::string link = tmp / "link";
  ASSERT_EQ(::symlink((tmp / "setuid-root").c_str(), link.c_str()), 0);
  EXPECT_FALSE(os::isSetuidRoot(link.c_str()));
  EXPECT_FALSE(os::isSetuidRoot((tmp / "missing").c_str()));
  EXPECT_FALSE(os::isSetuidRoot(nullptr));
}

TEST(SocketUtilTest, DscpMarksInternetSocketsOnlyWhileSet) {
  Fds fds;
  in_port_t port = 0;
  int listener = listenLoopback(fds, &port);
  int udp = fds.add(os::socketCloexec(AF_INET, SOCK_DGRAM, 0));
  int udp6 = fds.add(os::socketCloexec(AF_INET6, SOCK_DGRAM, 0));
  int pair[2];
  os::socketPairCloexec(pair);
  fds.add(pair[0]);
  fds.add(pair[1]);
  auto tos = [](int fd) {
    int value = -1;
    socklen_t length = sizeof value;
    ::getsockopt(fd, IPPROTO_IP, IP_TOS, &value, &length);
    return value;
  };
  auto tclass = [](int fd) {
    int value = -1;
    socklen_t length = sizeof value;
    ::getsockopt(fd, IPPROTO_IPV6, IPV6_TCLASS, &value, &length);
    return value;
  };

  os::applyDscp(udp);  // value 0: no marking
  EXPECT_EQ(tos(udp), 0);

  os::setDscp(10);
  os::applyDscp(udp);
  os::applyDscp(pair[0]);  // another family: left alone
  os::applyDscp(-1);
  EXPECT_EQ(tos(udp), 40);
  if (udp6 >= 0) {
    os::applyDscp(udp6);
    EXPECT_EQ(tclass(udp6), 40);
  }
  connectLoopback(fds, port);
  int accepted = fds.add(os::acceptCloexec(listener));
  os::setDscp(0);
  EXPECT_EQ(tos(accepted), 40);
}

// The first socket lowers a soft descriptor limit of 4096 to 1024 (and
// ignores SIGPIPE); a child made ready for exec gets both back.  Runs in a
// freshly started process, since the first socket of this one is long gone.
void firstSocketLowersLimitAndChildrenRestoreIt() {
  auto fail = [](const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::_Exit(1);
  };
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = 4096;
  if (limit.rlim_max < 4096) limit.rlim_max = 4096;
  if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) fail("setrlimit");
  ::signal(SIGPIPE, SIG_DFL);

  if (os::socketCloexec(AF_UNIX, SOCK_STREAM, 0) < 0) fail("socket");
  ::getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur != 1024) fail("parent limit not lowered to 1024");
  struct sigaction action {};
  ::sigaction(SIGPIPE, nullptr, &action);
  if (action.sa_handler != SIG_IGN) fail("SIGPIPE not ignored");

  // What an exec'd child sees, with and without the limit restored.
  for (bool restore : {true, false}) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) fail("pipe");
    pid_t pid = ::fork();
    if (pid == 0) {
      os::resetChildProcessState(restore);
      ::dup2(fds[1], 1);
      ::execl("/bin/sh", "sh", "-c", "ulimit -Sn; grep '^SigIgn' /proc/self/status", static_cast<char*>(nullptr));
      std::_Exit(127);
    }
    ::close(fds[1]);
    std::string out;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    unsigned long long ignored = 0;
    char expectedLimit[16];
    if (std::sscanf(out.c_str(), "%15s SigIgn: %llx", expectedLimit, &ignored) != 2) fail(out.c_str());
    if (std::string(expectedLimit) != (restore ? "4096" : "1024")) fail(("child limit: " + out).c_str());
    if (ignored & (1ULL << (SIGPIPE - 1))) fail("SIGPIPE still ignored in the child");
  }
  std::_Exit(0);
}

TEST(SocketUtilDeathTest, FirstSocketLowersTheSoftLimitAndChildrenGetItBack) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(firstSocketLowersLimitAndChildrenRestoreIt(), testing::ExitedWithCode(0), "");
}

}  // namespace
