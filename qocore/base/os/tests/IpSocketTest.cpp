#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "qocore/base/io/IpInfo.h"
#include "qocore/base/os/IpSocket.h"
#include "qocore/base/plat/Exception.h"
#include "testing/FailureOf.h"

namespace {

using yarl_test::failureOf;

int openDescriptors() {
  int n = 0;
  for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

int intOption(int fd, int level, int option) {
  int value = -1;
  socklen_t len = sizeof(value);
  EXPECT_EQ(getsockopt(fd, level, option, &value, &len), 0);
  return value;
}

// A system call's failure as "<call> <errno>".
std::string callAndError(const plat::SystemException& e) {
  const std::string text = e.str();
  return text.substr(0, text.find(':')) + " " + std::to_string(e.error());
}

// A loopback port that nothing listens on: bound, then closed.
int closedPort(int family) {
  int fd = os::bindSocket(io::IpInfo(family, 0, true), SOCK_STREAM);
  int port = io::IpInfo(fd, true).port();
  close(fd);
  return port;
}

TEST(IpSocketTest, ConnectOnLoopback) {
  for (int family : {AF_INET, AF_INET6}) {
    SCOPED_TRACE(family == AF_INET ? "IPv4" : "IPv6");
    int listener = os::bindSocket(io::IpInfo(family, 0, true), SOCK_STREAM);
    ASSERT_EQ(listen(listener, 4), 0);
    io::IpInfo target(listener, true);

    int fd = os::connectSocket(target, SOCK_STREAM);
    EXPECT_TRUE(fcntl(fd, F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    pollfd p = {fd, POLLOUT, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    EXPECT_EQ(intOption(fd, SOL_SOCKET, SO_ERROR), 0);
    EXPECT_TRUE(io::IpInfo(fd, false) == target);
    close(fd);

    int blockingFd = os::connectSocket(target, SOCK_STREAM, true);
    EXPECT_FALSE(fcntl(blockingFd, F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(io::IpInfo(blockingFd, false) == target);
    close(blockingFd);
    close(listener);
  }
}

TEST(IpSocketTest, RefusedConnect) {
  io::IpInfo target(AF_INET, closedPort(AF_INET), true);
  int before = openDescriptors();
  EXPECT_EQ(failureOf<plat::SystemException>([&] { os::connectSocket(target, SOCK_STREAM, true); }, callAndError),
            "connect " + std::to_string(ECONNREFUSED));
  EXPECT_EQ(openDescriptors(), before);

  // Without blocking the refusal arrives later, as the socket's error.
  int fd = os::connectSocket(target, SOCK_STREAM);
  pollfd p = {fd, POLLOUT, 0};
  ASSERT_EQ(poll(&p, 1, 5000), 1);
  EXPECT_EQ(intOption(fd, SOL_SOCKET, SO_ERROR), ECONNREFUSED);
  close(fd);
}

TEST(IpSocketTest, BindOptions) {
  struct Case {
    int family;
    int type;
    bool reusePort;
    int reuseAddr;
  };
  const Case cases[] = {
      {AF_INET, SOCK_STREAM, false, 1},
      {AF_INET6, SOCK_STREAM, true, 1},
      {AF_INET, SOCK_DGRAM, false, 0},
      {AF_INET6, SOCK_DGRAM, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.family << "/" << c.type << "/" << c.reusePort);
    int fd = os::bindSocket(io::IpInfo(c.family, 0, true), c.type, c.reusePort);
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ(intOption(fd, SOL_SOCKET, SO_TYPE), c.type);
    EXPECT_EQ(intOption(fd, SOL_SOCKET, SO_REUSEADDR), c.reuseAddr);
    EXPECT_EQ(intOption(fd, SOL_SOCKET, SO_REUSEPORT), c.reusePort ? 1 : 0);
    if (c.family == AF_INET6) {
      EXPECT_EQ(intOption(fd, IPPROTO_IPV6, IPV6_V6ONLY), 1);
    }
    io::IpInfo bound(fd, true);
    EXPECT_TRUE(bound.isLoopback());
    EXPECT_GT(bound.port(), 0);
    close(fd);
  }
}

TEST(IpSocketTest, BindConflictClosesTheSocket) {
  int first = os::bindSocket(io::IpInfo(AF_INET, 0, true), SOCK_STREAM);
  ASSERT_EQ(listen(first, 1), 0);
  io::IpInfo taken(first, true);
  int before = openDescriptors();
  EXPECT_EQ(failureOf<plat::SystemException>([&] { os::bindSocket(taken, SOCK_STREAM); }, callAndError),
            "bind " + std::to_string(EADDRINUSE));
  EXPECT_EQ(openDescriptors(), before);
  close(first);
}

}  // namespace
