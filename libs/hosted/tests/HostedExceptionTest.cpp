#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "libs/hosted/HostedException.h"
#include "qocore/base/http/HttpError.h"
#include "qocore/base/io/ProxyError.h"

namespace {

using hosted::HostedException;

struct Expected {
  uint32_t kind;
  const char* reason;
  const char* type;
  const char* message;
  const char* proxyReason;
};

void expect(const HostedException& e, const Expected& x) {
  EXPECT_EQ(e.kind(), x.kind);
  EXPECT_STREQ(e.reason(), x.reason);
  EXPECT_STREQ(e.typeName(), x.type);
  EXPECT_STREQ(e.str(), x.message);
  EXPECT_STREQ(e.proxyReason(), x.proxyReason);
}

TEST(HostedException, TheDirectFormNamesKindReasonAndDetail) {
  struct Case {
    HostedException e;
    Expected x;
  };
  // clang-format off
  const Case cases[] = {
      {HostedException(HostedException::Application, "CAPSNoCreds", "Credentials required but not available"),
       {8, "CAPSNoCreds", "Hosted/CAPSNoCreds", "Hosted Application error: Credentials required but not available", ""}},
      {HostedException(HostedException::Configuration, "ConfigPkg"),
       {1, "ConfigPkg", "Hosted/ConfigPkg", "Hosted Configuration error: Invalid Bootstrap package", ""}},
      {HostedException(HostedException::Bootstrap, nullptr, nullptr),
       {2, "GeneralError", "Hosted/GeneralError", "Hosted Bootstrap error", ""}},
      {HostedException(HostedException::ConnectionBroker, "BED"),
       {4, "BED", "Hosted/BED", "Hosted Connection-Broker error: Invalid BED", ""}},
      {HostedException(HostedException::DataRelay, "JSON", "bad body"),
       {6, "JSON", "Hosted/JSON", "Hosted Data-Relay error: bad body", ""}},
      {HostedException(HostedException::PeerToPeer, "PeerAppData"),
       {7, "PeerAppData", "Hosted/PeerAppData", "Hosted Peer-to-Peer error: Peer sent invalid handshake", ""}},
      {HostedException(HostedException::Rendezvous, "AppData"),
       {5, "AppData", "Hosted/AppData", "Hosted Rendezvous error: Handshake could not be started", ""}},
      // Reasons are cut to 31 characters.
      {HostedException(HostedException::Discovery, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"),
       {3, "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234", "Hosted/ABCDEFGHIJKLMNOPQRSTUVWXYZ01234", "Hosted Discovery error", ""}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x.message);
    expect(c.e, c.x);
  }
}

TEST(HostedException, WrappingNamesTheHttpStatusOrTheNetwork) {
  struct Case {
    HostedException e;
    Expected x;
  };
  const io::ProxyError proxyError(io::ProxyError::ConnectFailed, "proxy.example:3128", "refused");
  const std::string proxyMessage = std::string("Hosted Discovery error: Network failure: ") + proxyError.str();
  // clang-format off
  const Case cases[] = {
      {HostedException(HostedException::Application, http::HttpError(404), nullptr),
       {8, "HTTPNotFound", "Hosted/HTTPNotFound", "Hosted Application error: HTTP Not Found", ""}},
      {HostedException(HostedException::Application, http::HttpError(502), nullptr),
       {8, "HTTPBadGateway", "Hosted/HTTPBadGateway", "Hosted Application error: HTTP Bad Gateway", ""}},
      {HostedException(HostedException::Application, http::HttpError(409), "in use"),
       {8, "HTTPConflict", "Hosted/HTTPConflict", "Hosted Application error: in use", ""}},
      {HostedException(HostedException::Application, http::HttpError(-1), nullptr),
       {8, "Network", "Hosted/Network", "Hosted Application error: Network failure", ""}},
      // A status without a reason of its own, cut to 31 characters.
      {HostedException(HostedException::Application, http::HttpError(431), nullptr),
       {8, "HTTPRequestHeaderFieldsTooLarge", "Hosted/HTTPRequestHeaderFieldsTooLarge",
        "Hosted Application error: HTTP Request Header Fields Too Large", ""}},
      {HostedException(HostedException::Application, http::HttpError(416), nullptr),
       {8, "HTTPRequestedRangeNotSatisfiabl", "Hosted/HTTPRequestedRangeNotSatisfiabl",
        "Hosted Application error: HTTP Requested Range Not Satisfiable", ""}},
      {HostedException(HostedException::Application, http::HttpError(505), nullptr),
       {8, "HTTPHTTPVersionNotSupported", "Hosted/HTTPHTTPVersionNotSupported",
        "Hosted Application error: HTTP HTTP Version Not Supported", ""}},
      {HostedException(HostedException::Bootstrap, plat::TimedOut("Request timed out"), nullptr),
       {2, "Network", "Hosted/Network", "Hosted Bootstrap error: Network failure: Request timed out", ""}},
      {HostedException(HostedException::Discovery, proxyError, nullptr),
       {3, "Network", "Hosted/Network", proxyMessage.c_str(), "ConnectFailed"}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x.message);
    expect(c.e, c.x);
  }
}

TEST(HostedException, LongMessagesAreCutAtACharacterBoundary) {
  // 100 two-byte characters of detail, then the wrapped message: the whole
  // would pass 256 bytes.
  std::string detail;
  for (int i = 0; i < 100; ++i) detail += "\xC3\xA9";
  HostedException e(HostedException::Application, plat::Exception(std::string(200, 'm').c_str()), detail.c_str());
  const std::string message = e.str();
  EXPECT_LT(message.size(), 256u);
  EXPECT_THAT(message, ::testing::StartsWith("Hosted Application error: \xC3\xA9"));
  EXPECT_THAT(message, ::testing::EndsWith("mmm"));
  HostedException cut(HostedException::Application, "R", (std::string(227, 'x') + "\xC3\xA9\xC3\xA9").c_str());
  EXPECT_THAT(std::string(cut.str()), ::testing::EndsWith("x\xC3\xA9"));
}

TEST(HostedException, CopiesKeepEverythingButNoError) {
  const io::ProxyError proxyError(io::ProxyError::AuthenticationFailed, "proxy.example:3128");
  const HostedException original(HostedException::Discovery, proxyError, "detail");
  HostedException copy(HostedException::Application, original);
  expect(copy, {3, "Network", "Hosted/Network", original.str(), "AuthenticationFailed"});

  HostedException fromNoError(HostedException::Bootstrap, HostedException(HostedException::NoError, "X", "d"));
  expect(fromNoError, {2, "GeneralError", "Hosted/GeneralError", "Hosted Bootstrap error", ""});

  copy.setReason("CAPSNoCreds");
  EXPECT_STREQ(copy.reason(), "CAPSNoCreds");
  EXPECT_STREQ(copy.typeName(), "Hosted/CAPSNoCreds");
  EXPECT_STREQ(copy.str(), original.str());
}

}  // namespace
