#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "qocore/base/io/IpInfo.h"
#include "qocore/base/io/PktInfo.h"
#include "qocore/base/io/ProxyError.h"
#include "qocore/base/io/TcpConnectError.h"
#include "qocore/base/loc/LocaleSetter.h"
#include "qocore/base/loc/Localize.h"
#include "qocore/base/rdr/Exceptions.h"

namespace {

TEST(NetMaskTest, ParseAndPrint) {
  struct Case {
    const char* text;
    const char* printed;
    bool isAll;
    bool isHost;
  };
  const Case cases[] = {
      {"", "", true, false},
      {"10.1.2.3/8", "10.0.0.0/8", false, false},
      {"10.1.2.3", "10.1.2.3", false, true},
      {"10.1.2.3/32", "10.1.2.3", false, true},
      {"10.1.2.3/0", "0.0.0.0/0", true, false},
      {"192.168.7.9/255.255.240.0", "192.168.0.0/20", false, false},
      {"10.1.2.3/255.0.255.0", "10.0.2.0/255.0.255.0", false, false},
      {"10.1.2.3/12", "10.0.0.0/12", false, false},
      {"2001:db8::1/32", "2001:db8::/32", false, false},
      {"fe80::1/10", "fe80::/10", false, false},
      {"::1", "::1", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    io::NetMask m = io::NetMask::parse(c.text);
    EXPECT_STREQ(m.toString().get(), c.printed);
    EXPECT_EQ(m.isAll(), c.isAll);
    EXPECT_EQ(m.isHost(), c.isHost);
  }
}

TEST(NetMaskTest, Refusals) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"10.1.2.3/33", "Bad IP mask"},
      {"10.1.2.3/x", "Bad IP mask"},
      {"10.1.2.3/", "Bad IP mask"},
      {"::1/129", "Bad IP mask"},
      {"10.1.2.3/-1", "Bad IP mask"},
      {"10.1.2.3/4294967304", "Bad IP mask"},
      {"10.1.2.3/ffff::", "Mismatched IP mask"},
      {"::1/255.0.0.0", "Mismatched IP mask"},
      {"10.1.2/8", "Bad IP address/mask"},
      {"host.example/8", "Bad IP address/mask"},
      {"1::2::3", "Bad IP address/mask"},
  };
  for (const Case& c : cases) {
    try {
      io::NetMask::parse(c.text);
      ADD_FAILURE() << c.text << " was accepted";
    } catch (const io::NetMask::Exception& e) {
      EXPECT_STREQ(e.str(), c.error) << c.text;
    }
  }
}

TEST(NetMaskTest, Matches) {
  struct Case {
    const char* mask;
    const char* address;
    bool matches;
  };
  const Case cases[] = {
      {"", "10.0.0.1", true},
      {"", "2001:db8::1", true},
      {"10.0.0.0/8", "10.200.1.1", true},
      {"10.0.0.0/8", "11.0.0.1", false},
      {"10.0.0.0/8", "::ffff:10.0.0.1", false},
      {"10.1.2.3", "10.1.2.3", true},
      {"10.1.2.3", "10.1.2.4", false},
      {"10.0.2.0/255.0.255.0", "10.9.2.9", true},
      {"10.0.2.0/255.0.255.0", "10.9.3.9", false},
      {"2001:db8::/32", "2001:db8:ffff::1", true},
      {"2001:db8::/32", "2001:db9::1", false},
      {"2001:db8::/32", "32.1.13.184", false},
      {"10.0.0.0/8", "not an address", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(io::NetMask::parse(c.mask).matches(c.address), c.matches) << c.mask << " " << c.address;
}

TEST(IpInfoTest, AddressesAndTexts) {
  struct Case {
    const char* host;
    int port;
    int family;
    bool any;
    bool loopback;
    bool linkLocal;
    const char* endpoint;
  };
  const Case cases[] = {
      {"127.0.0.1", 80, AF_INET, false, true, false, "127.0.0.1:80"},
      {"127.0.0.2", 80, AF_INET, false, false, false, "127.0.0.2:80"},
      {"::1", 443, AF_INET6, false, true, false, "[::1]:443"},
      {"::ffff:127.0.0.1", 443, AF_INET6, false, false, false, "[::ffff:127.0.0.1]:443"},
      {"0.0.0.0", 1, AF_INET, true, false, false, "0.0.0.0:1"},
      {"::", 1, AF_INET6, true, false, false, "[::]:1"},
      {"169.254.10.1", 2, AF_INET, false, false, true, "169.254.10.1:2"},
      {"fe80::1", 2, AF_INET6, false, false, true, "[fe80::1]:2"},
      {"febf::1", 2, AF_INET6, false, false, true, "[febf::1]:2"},
      {"fec0::1", 2, AF_INET6, false, false, false, "[fec0::1]:2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    io::IpInfo info(c.host, c.port);
    EXPECT_EQ(info.family(), c.family);
    EXPECT_EQ(info.port(), c.port);
    EXPECT_EQ(info.length(), c.family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6));
    EXPECT_EQ(info.isAny(), c.any);
    EXPECT_EQ(info.isLoopback(), c.loopback);
    EXPECT_EQ(info.isLinkLocal(), c.linkLocal);
    EXPECT_STREQ(info.endpointText(), c.endpoint);

    int len = 0;
    const uint8_t* bytes = info.addressBytes(&len);
    io::IpInfo copy = io::IpInfo::fromBinary(bytes, static_cast<size_t>(len), c.port);
    EXPECT_TRUE(copy == info);
    EXPECT_STREQ(copy.toString().get(), info.addressText());
  }
  EXPECT_STREQ(io::IpInfo("::1", 5900).displayText(nullptr, "TCP").get(), "::1::5900 (TCP)");
  EXPECT_STREQ(io::IpInfo("127.0.0.1", 443).displayText("localhost", "TCP").get(), "localhost::443 (TCP)");
}

TEST(IpInfoTest, WildcardLoopbackAndEquality) {
  EXPECT_STREQ(io::IpInfo(AF_INET, 5, true).endpointText(), "127.0.0.1:5");
  EXPECT_STREQ(io::IpInfo(AF_INET6, 5, true).endpointText(), "[::1]:5");
  EXPECT_TRUE(io::IpInfo(AF_INET, 5, false).isAny());
  EXPECT_TRUE(io::IpInfo(AF_INET6, 5, false).isAny());

  io::IpInfo a("10.0.0.1", 80);
  io::IpInfo b("10.0.0.1", 81);
  io::IpInfo c("10.0.0.2", 80);
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(a.sameAddress(b));
  EXPECT_FALSE(a.sameAddress(c));
  EXPECT_FALSE(a.sameAddress(io::IpInfo("::ffff:10.0.0.1", 80)));
  // IPv6 entries differ by scope as well.
  io::IpInfo scoped("fe80::1%1", 80);
  io::IpInfo unscoped("fe80::1", 80);
  EXPECT_FALSE(scoped == unscoped);
  EXPECT_TRUE(scoped.sameAddress(unscoped));

  EXPECT_TRUE(io::addressListsOverlap({a, c}, {b, c}));
  EXPECT_FALSE(io::addressListsOverlap({a}, {b, io::IpInfo("::1", 80)}));
  EXPECT_FALSE(io::addressListsOverlap({}, {a}));
}

TEST(IpInfoTest, PortsOutsideSixteenBitsAreRefused) {
  const uint8_t v4[4] = {192, 0, 2, 1};
  struct Form {
    const char* name;
    std::function<io::IpInfo(int port)> make;
  };
  const Form forms[] = {
      {"family", [](int port) { return io::IpInfo(AF_INET6, port, true); }},
      {"numeric host", [](int port) { return io::IpInfo("10.0.0.1", port); }},
      {"binary", [&v4](int port) { return io::IpInfo::fromBinary(v4, sizeof v4, port); }},
      {"setPort",
       [](int port) {
         io::IpInfo info(AF_INET, 1, true);
         info.setPort(port);
         return info;
       }},
  };
  for (const Form& f : forms) {
    SCOPED_TRACE(f.name);
    for (int port : {0, 65535}) EXPECT_EQ(port, f.make(port).port());
    for (int port : {-1, 65536, 70000, INT_MAX}) {
      SCOPED_TRACE(port);
      try {
        io::IpInfo info = f.make(port);
        ADD_FAILURE() << "accepted as port " << info.port();
      } catch (const plat::Exception& e) {
        EXPECT_EQ("Invalid port number " + std::to_string(port) + ": outside 0-65535", e.str());
      }
    }
  }
}

TEST(IpInfoTest, SocketEnds) {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  io::IpInfo bindTo(AF_INET, 0, true);
  ASSERT_EQ(bind(listener, bindTo.sockAddr(), bindTo.length()), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  io::IpInfo local(listener, true);
  EXPECT_TRUE(local.isLoopback());
  EXPECT_GT(local.port(), 0);

  int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(connect(client, local.sockAddr(), local.length()), 0);
  EXPECT_TRUE(io::IpInfo(client, false) == local);
  try {
    io::IpInfo peerOfListener(listener, false);
    ADD_FAILURE() << "getpeername on a listener succeeded";
  } catch (const plat::SystemException& e) {
    EXPECT_EQ(e.error(), ENOTCONN);
    EXPECT_EQ(std::string(e.str()).rfind("getpeername", 0), 0u) << e.str();
  }

  // A received address lands in the empty record's buffer.
  io::IpInfo from;
  int accepted = accept4(listener, from.receiveBuffer(), from.receiveLength(), SOCK_CLOEXEC);
  ASSERT_GE(accepted, 0);
  EXPECT_TRUE(from == io::IpInfo(client, true));
  close(accepted);
  close(client);
  close(listener);
}

TEST(IpInfoTest, NumericLookupOnly) {
  // A name with AI_NUMERICHOST is refused at once, without asking a resolver.
  try {
    io::IpInfo named("localhost", 80);
    ADD_FAILURE() << "a name was accepted";
  } catch (const io::GetAddrInfoException& e) {
    EXPECT_EQ(e.code(), EAI_NONAME);
    EXPECT_STREQ(e.typeName(), "GetAddrInfo");
    EXPECT_EQ(std::string(e.str()).rfind("getaddrinfo: '", 0), 0u) << e.str();
    EXPECT_NE(std::string(e.str()).find("(" + std::to_string(EAI_NONAME) + ")"), std::string::npos) << e.str();
    loc::LocaleSetter setter("en");
    EXPECT_STREQ(e.localisedText(), "No such host is known");
  }
}

TEST(IpInfoTest, LookupWithServiceZero) {
  addrinfo hints = {};
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  hints.ai_socktype = SOCK_STREAM;
  for (const char* host : {"127.0.0.1", "::1"}) {
    io::AddrInfoList list;
    ASSERT_EQ(io::getAddrInfo(host, "0", &hints, list), 0) << host;
    int n = 0;
    for (addrinfo* ai = list.get(); ai; ai = ai->ai_next, ++n)
      EXPECT_EQ(io::IpInfo(ai->ai_addr, ai->ai_addrlen).port(), 0);
    EXPECT_GT(n, 0);

    ASSERT_EQ(io::getAddrInfo(host, "8080", &hints, list), 0);
    EXPECT_EQ(io::IpInfo(list->ai_addr, list->ai_addrlen).port(), 8080);
  }
  io::AddrInfoList list;
  EXPECT_EQ(io::getAddrInfo("no.such.name", "0", &hints, list), EAI_NONAME);
  EXPECT_EQ(list, nullptr);
}

TEST(IpInfoTest, LookupFailureTexts) {
  struct Case {
    int code;
    const char* text;  // null: the exception's own message
  };
  const Case cases[] = {
      {EAI_AGAIN, "Temporary name lookup failure"},
      {EAI_NODATA, "The requested name does not have an IP address"},
      {EAI_NONAME, "No such host is known"},
      {EAI_FAMILY, nullptr},
  };
  loc::LocaleSetter setter("en");
  for (const Case& c : cases) {
    io::GetAddrInfoException e("ctx", c.code);
    EXPECT_STREQ(e.localisedText(), c.text ? c.text : e.str()) << c.code;
  }
  loc::LocaleSetter german("de");
  EXPECT_STREQ(io::GetAddrInfoException("ctx", EAI_NONAME).localisedText(), "Kein solcher Host bekannt");
}

TEST(IpInfoTest, PacketInfoOfLoopbackDatagram) {
  int rx = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(rx, 0);
  io::IpInfo bindTo(AF_INET, 0, true);
  ASSERT_EQ(bind(rx, bindTo.sockAddr(), bindTo.length()), 0);
  EXPECT_FALSE(io::PktInfo::isEnabled(rx, AF_INET));
  io::PktInfo::enable(rx, AF_INET, true);
  EXPECT_TRUE(io::PktInfo::isEnabled(rx, AF_INET));
  EXPECT_EQ(io::PktInfo::controlSpace(AF_INET), CMSG_SPACE(sizeof(in_pktinfo)));
  EXPECT_EQ(io::PktInfo::controlSpace(AF_INET6), CMSG_SPACE(sizeof(in6_pktinfo)));
  EXPECT_EQ(io::PktInfo::controlSpace(AF_UNIX), 0u);

  io::IpInfo local(rx, true);
  int tx = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(sendto(tx, "x", 1, 0, local.sockAddr(), local.length()), 1);

  char byte;
  iovec iov = {&byte, 1};
  alignas(cmsghdr) char control[64];
  msghdr msg = {};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = io::PktInfo::controlSpace(AF_INET);
  ASSERT_EQ(recvmsg(rx, &msg, 0), 1);
  io::PktInfo info;
  ASSERT_TRUE(info.fromControl(msg));
  EXPECT_EQ(info.family(), AF_INET);
  EXPECT_GT(info.interfaceIndex(), 0);
  EXPECT_STREQ(io::IpInfo(info, 7).endpointText(), "127.0.0.1:7");
  EXPECT_TRUE(info == info);
  EXPECT_FALSE(info == io::PktInfo());

  try {
    io::PktInfo::enable(-1, AF_INET6, true);
    ADD_FAILURE();
  } catch (const plat::SystemException& e) {
    EXPECT_EQ(std::string(e.str()).rfind("setsockopt(IPV6_RECVPKTINFO)", 0), 0u) << e.str();
  }
  close(tx);
  close(rx);
}

TEST(TcpConnectErrorTest, KeysAndTexts) {
  struct Case {
    int error;
    const char* key;
    const char* text;
  };
  const Case cases[] = {
      {ENETUNREACH, "io_error_ip_nethostunreach", "No route to the host is known"},
      {EHOSTDOWN, "io_error_ip_nethostunreach", "No route to the host is known"},
      {EHOSTUNREACH, "io_error_ip_nethostunreach", "No route to the host is known"},
      {ECONNABORTED, "io_error_tcp_conndropped", "The connection was refused during establishment"},
      {ETIMEDOUT, "io_error_tcp_timedout", "Timed out waiting for a response from the computer"},
      {ECONNREFUSED, "io_error_tcp_connrefused", "The connection was refused by the computer"},
      {ECONNRESET, nullptr, nullptr},
      {EPIPE, nullptr, nullptr},
      {0, nullptr, nullptr},
  };
  loc::LocaleSetter setter("en");
  for (const Case& c : cases) {
    EXPECT_STREQ(io::tcpConnectErrorKey(c.error), c.key) << c.error;
    EXPECT_STREQ(io::tcpConnectErrorText(c.error), c.text) << c.error;
  }
}

TEST(ProxyErrorTest, MessageAndCopy) {
  io::ProxyError plain(io::ProxyError::AuthenticationFailed, "proxy:3128");
  EXPECT_STREQ(plain.typeName(), "ProxyError");
  EXPECT_STREQ(plain.str(), "Proxy error via proxy:3128: AuthenticationFailed (AuthenticationFailed)");
  io::ProxyError detailed(io::ProxyError::BadProtocol, "p:1", "bad reply");
  EXPECT_STREQ(detailed.str(), "Proxy error via p:1: bad reply (BadProtocol)");
  io::ProxyError unknown(static_cast<io::ProxyError::Reason>(42), "p:1");
  EXPECT_STREQ(unknown.reason(), "invalid");

  io::ProxyError withCause(io::ProxyError::ConnectFailed, "p:1", nullptr, std::make_unique<rdr::EndOfStream>());
  io::ProxyError copy(withCause);
  EXPECT_STREQ(copy.str(), withCause.str());
  EXPECT_STREQ(copy.reason(), "ConnectFailed");
  EXPECT_STREQ(copy.proxy(), "p:1");
  EXPECT_NE(withCause.cause(), nullptr);
  EXPECT_EQ(copy.cause(), nullptr);
}

TEST(ProxyErrorTest, LocalisedDescriptions) {
  using R = io::ProxyError::Reason;
  struct Case {
    const char* name;
    R reason;
    const char* detail;
    std::unique_ptr<plat::Exception> cause;
    const char* text;
  };
  Case cases[] = {
      {"closed by proxy", R::ConnectFailed, "ignored", std::make_unique<rdr::EndOfStream>(),
       "Unable to connect via proxy:8080: disconnected by proxy"},
      {"refused", R::BadConnection, nullptr, std::make_unique<plat::SystemException>("connect", ECONNREFUSED),
       "Unable to connect via proxy:8080: The connection was refused by the computer"},
      {"refused, other reason", R::ConnectionError, "cannot reach",
       std::make_unique<plat::SystemException>("connect", ECONNREFUSED),
       "Unable to connect via proxy:8080: cannot reach"},
      {"lookup", R::BadConnection, "x", std::make_unique<io::GetAddrInfoException>("getaddrinfo", EAI_AGAIN),
       "Unable to connect via proxy:8080: Temporary name lookup failure"},
      {"reset without a text", R::BadConnection, "the detail",
       std::make_unique<plat::SystemException>("read", ECONNRESET), "Unable to connect via proxy:8080: the detail"},
      {"cause message", R::BadProtocol, nullptr, std::make_unique<plat::Exception>("odd reply"),
       "Unable to connect via proxy:8080: odd reply"},
      {"detail only", R::ConnectDenied, "denied by rule", nullptr, "Unable to connect via proxy:8080: denied by rule"},
  };
  loc::LocaleSetter setter("en");
  for (Case& c : cases) {
    io::ProxyError e(c.reason, "proxy:8080", c.detail, std::move(c.cause));
    EXPECT_STREQ(e.localisedDescription().get(), c.text) << c.name;
  }
  loc::LocaleSetter french("fr");
  io::ProxyError e(R::ConnectFailed, "p:1", nullptr, std::make_unique<rdr::EndOfStream>());
  EXPECT_STREQ(e.localisedDescription().get(), "Impossible de se connecter via p:1 : déconnecté par le proxy");
}

TEST(IoStringsTest, CatalogueInEveryLanguage) {
  struct Case {
    const char* locale;
    const char* key;
    const char* text;
  };
  const Case cases[] = {
      {"en", "io_tcp_connection_type", "Direct TCP"},
      {"en", "io_udp_connection_type", "Direct UDP"},
      {"en", "io_proxy_connection_desc", "Direct TCP via proxy settings"},
      {"en", "io_error_tcp_connreset", "The connection was closed remotely"},
      {"en", "io_dscp_param", "Value to classify network traffic to provide Quality of Service."},
      {"de", "io_error_tcp_connreset", "Die Verbindung wurde von der Gegenseite geschlossen"},
      {"es", "io_error_tcp_connreset", "La conexión se cerró de forma remota"},
      {"fr", "io_error_tcp_connreset", "La connexion a été fermée à distance"},
      {"pt_BR", "io_error_tcp_connreset", "A conexão foi fechada remotamente"},
  };
  for (const Case& c : cases) {
    loc::LocaleSetter setter(c.locale);
    EXPECT_STREQ(loc::lookup(c.key), c.text) << c.locale << " " << c.key;
  }
  loc::LocaleSetter setter("en");
  EXPECT_STREQ(loc::lookup("io_socks5_connection_type", true), "Direct TCP via SOCKS5 proxy %S");
  EXPECT_STREQ(loc::lookup("io_error_endpoint_badescape"), "Invalid endpoint: incorrect % escape");
}

}  // namespace
