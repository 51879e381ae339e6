#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "qocore/base/io/TcpIo.h"

namespace {

// A connected loopback pair of the family: our end and the accepted end.
struct Loopback {
  explicit Loopback(int family) {
    sockaddr_storage ss{};
    socklen_t len;
    if (family == AF_INET) {
      auto* a = reinterpret_cast<sockaddr_in*>(&ss);
      a->sin_family = AF_INET;
      a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      len = sizeof(*a);
    } else {
      auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
      a->sin6_family = AF_INET6;
      a->sin6_addr = in6addr_loopback;
      len = sizeof(*a);
    }
    auto* sa = reinterpret_cast<sockaddr*>(&ss);
    const int listener = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ok = listener >= 0 && ::bind(listener, sa, len) == 0 && ::listen(listener, 1) == 0 &&
         ::getsockname(listener, sa, &len) == 0;
    ours = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ok = ok && ::connect(ours, sa, len) == 0;
    peer = ok ? ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    listenPort = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(&ss)->sin_port
                                         : reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
    sockaddr_storage mine{};
    socklen_t mineLen = sizeof(mine);
    ::getsockname(ours, reinterpret_cast<sockaddr*>(&mine), &mineLen);
    localPort = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(&mine)->sin_port
                                        : reinterpret_cast<sockaddr_in6*>(&mine)->sin6_port);
    if (listener >= 0) ::close(listener);
  }
  ~Loopback() {
    if (peer >= 0) ::close(peer);
  }
  bool ok = false;
  int ours = -1;
  int peer = -1;
  int listenPort = 0;
  int localPort = 0;
};

struct NameCase {
  int family;
  const char* displayHost;  // null: none
  const char* displayName;  // with "%d" for the peer port
  const char* peerEndpoint;
  const char* resolvedPeerEndpoint;
  const char* peerAddress;
  const char* myEndpoint;  // "%d": the local port
};

std::string withPort(const char* format, int port) {
  char buf[128];
  std::snprintf(buf, sizeof(buf), format, port);
  return buf;
}

TEST(TcpIoTest, NamesEndpointsAndFlagsOfALoopbackConnection) {
  const NameCase cases[] = {
      {AF_INET, "localhost", "localhost::%d (TCP)", "localhost:%d", "127.0.0.1:%d", "127.0.0.1", "127.0.0.1:%d"},
      {AF_INET, nullptr, "127.0.0.1::%d (TCP)", "127.0.0.1:%d", "127.0.0.1:%d", "127.0.0.1", "127.0.0.1:%d"},
      {AF_INET6, nullptr, "::1::%d (TCP)", "[::1]:%d", "[::1]:%d", "::1", "[::1]:%d"},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.displayName);
    Loopback link(c.family);
    ASSERT_TRUE(link.ok);
    io::TcpIo io(link.ours, true, false, -1, -1);
    io.setDisplayHost(c.displayHost);
    EXPECT_EQ(withPort(c.displayName, link.listenPort), io.displayName().c_str());
    EXPECT_EQ(withPort(c.peerEndpoint, link.listenPort), io.peerEndpoint().c_str());
    EXPECT_EQ(withPort(c.resolvedPeerEndpoint, link.listenPort), io.resolvedPeerEndpoint().c_str());
    EXPECT_STREQ(c.peerAddress, io.peerAddress().c_str());
    EXPECT_EQ(withPort(c.myEndpoint, link.localPort), io.myEndpoint().c_str());
    EXPECT_EQ(io::IoFlags{"secureTransport"}, io.flags());
    int nodelay = 0;
    socklen_t len = sizeof(nodelay);
    ASSERT_EQ(0, ::getsockopt(link.ours, IPPROTO_TCP, TCP_NODELAY, &nodelay, &len));
    EXPECT_NE(0, nodelay);
  }
}

TEST(TcpIoTest, AConnectingSocketIsNotYetFlaggedAndAnUnconnectedOneHasNoNames) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  io::TcpIo io(fd, true, true, -1, -1);
  EXPECT_TRUE(io.flags().empty());
  EXPECT_EQ("<fd" + std::to_string(fd) + ">", io.displayName().c_str());
  EXPECT_STREQ("", io.peerEndpoint().c_str());
  EXPECT_STREQ("", io.peerAddress().c_str());
}

TEST(TcpIoTest, ErrorKeys) {
  const struct {
    int error;
    const char* key;
  } cases[] = {
      {ENETUNREACH, "io_error_ip_nethostunreach"},
      {EHOSTDOWN, "io_error_ip_nethostunreach"},
      {EHOSTUNREACH, "io_error_ip_nethostunreach"},
      {EPIPE, "io_error_tcp_connreset"},
      {ECONNRESET, "io_error_tcp_connreset"},
      {ETIMEDOUT, "io_error_tcp_timedout"},
      {ECONNREFUSED, nullptr},
      {EINVAL, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    EXPECT_STREQ(c.key, io::TcpIo::errorKey(c.error));
  }
}

}  // namespace
