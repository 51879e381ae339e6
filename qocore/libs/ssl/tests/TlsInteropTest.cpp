// TLS against another implementation: `openssl s_server` on 127.0.0.1,
// serving files over HTTPS or speaking only a version the client refuses.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/security/SystemRoots.h"
#include "qocore/base/crypto/MbedTlsException.h"
#include "qocore/base/http/HttpClient.h"
#include "qocore/base/http/HttpRequest.h"
#include "qocore/base/io/IpInfo.h"
#include "qocore/base/io/TcpConnector.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/libs/ssl/SslConnFactory.h"
#include "qocore/libs/ssl/SslIo.h"
#include "qocore/libs/ssl/SslVerifier.h"
#include "qocore/libs/ssl/SystemCertStore.h"
#include "qocore/libs/ssl/tests/TlsTestSupport.h"
#include "testing/DaemonProcess.h"
#include "testing/FileFixtures.h"
#include "testing/LogCapture.h"

namespace {

constexpr const char* kOpenssl = "/usr/bin/openssl";

// s_server with the test PKI's server chain on a free port; extra options
// choose versions and suites.
struct OpensslServer {
  explicit OpensslServer(const std::vector<std::string>& options) : port(yarl_test::freeLoopbackPort()) {
    std::vector<std::string> args = {kOpenssl,
                                     "s_server",
                                     "-quiet",
                                     "-accept",
                                     "127.0.0.1:" + std::to_string(port),
                                     "-cert",
                                     ssl_test::dataPath("good.pem"),
                                     "-key",
                                     ssl_test::dataPath("good.key"),
                                     "-cert_chain",
                                     ssl_test::dataPath("inter.pem")};
    args.insert(args.end(), options.begin(), options.end());
    daemon = std::make_unique<yarl_test::DaemonProcess>(args, port);
  }
  int port;
  std::unique_ptr<yarl_test::DaemonProcess> daemon;
};

struct Owner : http::HttpCallback {
  bool acceptStatus(http::HttpRequest&, int32_t) override { return true; }
  void onSucceeded(http::HttpRequest& r) override {
    outcome = "ok";
    if (http::SharedBody b = r.responseBody()) body.assign(reinterpret_cast<const char*>(b->data()), b->count());
  }
  void onFailed(http::HttpRequest&, const plat::Exception& e) override { outcome = e.str(); }
  std::string outcome;
  std::string body;
};

class TlsInteropTest : public ssl_test::LoopTest {
 protected:
  void TearDown() override {
    receiver_.reset();
    connector_.reset();
    settle();
  }

  std::unique_ptr<ssl::MbedTlsTrustManager> trust_ = ssl::MbedTlsTrustManager::create(ssl_test::trusting({"root"}));
  std::unique_ptr<io::IoConnector> connector_;
  ssl_test::ConnectReceiver receiver_;
};

// s_server -HTTP answers with a file below the test's working directory,
// the folder holding the test data, whose bytes are the whole response.
TEST_F(TlsInteropTest, HttpsDownloadFromOpensslServer) {
  for (const char* suites : {"ECDHE-RSA-AES128-GCM-SHA256", "ECDHE-RSA-CHACHA20-POLY1305", "AES256-SHA256"}) {
    OpensslServer server({"-HTTP", "-tls1_2", "-cipher", suites});
    ASSERT_TRUE(server.daemon->running()) << "openssl s_server did not start";
    std::unique_ptr<http::NativeHttpClient> client(http::createHttpClient(ssl_test::trusting({"root"})));
    Owner owner;
    std::unique_ptr<http::HttpRequest> request = client->createRequest(
        "GET", ("https://127.0.0.1:" + std::to_string(server.port) + "/data/response.http").c_str());
    request->start(&owner);
    runUntil([&] { return !owner.outcome.empty(); });
    EXPECT_EQ("ok", owner.outcome) << suites;
    EXPECT_EQ("served by another TLS library\n", owner.body) << suites;
    request.reset();
    client->closeConnections();
    settle();
  }
}

// Only TLS 1.2 is offered and accepted; OpenSSL serves the old versions
// only at security level 0.
TEST_F(TlsInteropTest, ServersOfOtherVersionsAreRefused) {
  const std::vector<std::vector<std::string>> cases = {
      {"-tls1_3"},
      {"-tls1", "-cipher", "DEFAULT:@SECLEVEL=0"},
      {"-tls1_1", "-cipher", "DEFAULT:@SECLEVEL=0"},
  };
  for (const std::vector<std::string>& options : cases) {
    OpensslServer server(options);
    ASSERT_TRUE(server.daemon->running()) << "openssl s_server did not start";
    auto tcp = std::make_unique<io::TcpAddrConnector>(io::IpInfo("127.0.0.1", server.port), nullptr);
    connector_ = std::make_unique<ssl::SslConnector>(std::move(tcp), &ssl::SslPublicHttpsVerifier::instance(),
                                                     trust_.get(), "good.example.com");
    connector_->start(&receiver_);
    runUntil([&] { return receiver_.done(); });
    EXPECT_EQ("MbedTls", receiver_.type) << options[0];
    EXPECT_EQ(0u, receiver_.outcome.rfind("ssl_handshake", 0)) << receiver_.outcome;
    receiver_.reset();
    connector_.reset();
    settle();
  }
}

// A lookup that fails: its list, or (with an empty list) the search for
// the certificate that completes the server's chain.
class ThrowingLookup : public ssl::SslCertLookup {
 public:
  explicit ThrowingLookup(bool listThrows) : listThrows_(listThrows) {}
  plat::LinkedPtr<ssl::SslCertificate> findBySubject(size_t, const unsigned char*) override {
    throw plat::Exception("lookup broke");
  }
  std::vector<plat::LinkedPtr<ssl::SslCertificate>> list() override {
    ++listCalls;
    if (listThrows_) throw plat::Exception("lookup broke");
    return {};
  }
  int listCalls = 0;

 private:
  bool listThrows_;
};

// A lookup failing during the handshake is the library's fatal error,
// logged once by the trust manager.
TEST_F(TlsInteropTest, AThrowingLookupFailsTheHandshakeAsAFatalError) {
  const std::string fatal = crypto::MbedTlsException("ssl_handshake", MBEDTLS_ERR_X509_FATAL_ERROR).str();
  for (bool listThrows : {true, false}) {
    SCOPED_TRACE(listThrows ? "list" : "findBySubject");
    OpensslServer server({"-tls1_2"});
    ASSERT_TRUE(server.daemon->running()) << "openssl s_server did not start";
    auto lookup = std::make_unique<ThrowingLookup>(listThrows);
    const ThrowingLookup& counted = *lookup;
    auto trust = ssl::MbedTlsTrustManager::create(std::move(lookup));
    // Information level: the chain's debug lines may come first.
    yarl_test::LogCapture log("MbedTlsTrustManager:capture:30");
    auto tcp = std::make_unique<io::TcpAddrConnector>(io::IpInfo("127.0.0.1", server.port), nullptr);
    connector_ = std::make_unique<ssl::SslConnector>(std::move(tcp), &ssl::SslPublicHttpsVerifier::instance(),
                                                     trust.get(), "good.example.com");
    connector_->start(&receiver_);
    ASSERT_TRUE(runUntil([&] { return receiver_.done(); }));
    EXPECT_EQ("MbedTls", receiver_.type);
    EXPECT_EQ(fatal, receiver_.outcome);
    EXPECT_EQ((std::vector<yarl_test::LogRecord>{{"MbedTlsTrustManager", 30, "ssl error: lookup broke"}}),
              log.from("MbedTlsTrustManager"));
    // The list is made once, however many steps the handshake takes.
    EXPECT_EQ(1, counted.listCalls);
    receiver_.reset();
    connector_.reset();
    settle();
  }
}

// New clients over the system store, each with a trust manager of its
// own, share one reading of the bundle until the file is replaced; the
// handshakes follow what the file says at each.
TEST_F(TlsInteropTest, HandshakesOverTheSystemStoreReadTheBundleOnceUntilItChanges) {
  OpensslServer server({"-tls1_2"});
  ASSERT_TRUE(server.daemon->running()) << "openssl s_server did not start";
  yarl_test::TempDir dir;
  const std::string path = dir.write("roots.crt", ssl_test::readData("root.pem"));
  plat::CharArray old = security::setBundlePath(path.c_str());
  plat::ScopeExit restore([&old] { security::setBundlePath(old.get()); });
  auto replace = [&](const std::string& text) {
    dir.write("roots.new", text);
    ASSERT_EQ(::rename((dir / "roots.new").c_str(), path.c_str()), 0);
  };
  // The trust managers outlive the connections, which finish their
  // shutdowns on their own.
  std::vector<std::unique_ptr<ssl::MbedTlsTrustManager>> trusts;
  auto handshake = [&] {
    trusts.push_back(ssl::MbedTlsTrustManager::create(ssl::MacCertificateStore::create()));
    auto tcp = std::make_unique<io::TcpAddrConnector>(io::IpInfo("127.0.0.1", server.port), nullptr);
    connector_ = std::make_unique<ssl::SslConnector>(std::move(tcp), &ssl::SslPublicHttpsVerifier::instance(),
                                                     trusts.back().get(), "good.example.com");
    connector_->start(&receiver_);
    EXPECT_TRUE(runUntil([&] { return receiver_.done(); }));
    std::string outcome = receiver_.outcome;
    receiver_.reset();
    connector_.reset();
    settle();
    return outcome;
  };
  const uint64_t before = ssl::MacCertificateStore::bundleParses();
  for (int i = 0; i < 3; i++) EXPECT_EQ("connected", handshake()) << i;
  EXPECT_EQ(ssl::MacCertificateStore::bundleParses() - before, 1u);

  replace(ssl_test::readData("otherroot.pem"));
  EXPECT_EQ("X.509 Error: Unknown issuer or bad signature", handshake());
  EXPECT_EQ(ssl::MacCertificateStore::bundleParses() - before, 2u);

  replace(ssl_test::readData("otherroot.pem") + ssl_test::readData("root.pem"));
  EXPECT_EQ("connected", handshake());
  EXPECT_EQ("connected", handshake());
  EXPECT_EQ(ssl::MacCertificateStore::bundleParses() - before, 3u);
}

// However high the library's debug threshold is asked to be, its lines
// hold no key material and no record's plaintext.
TEST_F(TlsInteropTest, LibraryDebugLinesCarryNoSecretsOrPlaintext) {
  OpensslServer server({"-HTTP", "-tls1_2"});
  ASSERT_TRUE(server.daemon->running()) << "openssl s_server did not start";
  ASSERT_TRUE(ssl::tlsLogging.setParam("4", 10));
  plat::ScopeExit unset([] { ssl::tlsLogging.unsetParam(10); });
  yarl_test::LogCapture log("*:capture:100");
  std::unique_ptr<http::NativeHttpClient> client(http::createHttpClient(ssl_test::trusting({"root"})));
  Owner owner;
  std::unique_ptr<http::HttpRequest> request = client->createRequest(
      "GET", ("https://127.0.0.1:" + std::to_string(server.port) + "/data/response.http").c_str());
  // "user:s3cret"
  request->addHeader("Authorization", "Basic dXNlcjpzM2NyZXQ=");
  request->start(&owner);
  runUntil([&] { return !owner.outcome.empty(); });
  EXPECT_EQ("ok", owner.outcome);
  request.reset();
  client->closeConnections();
  settle();

  int debugLines = 0;
  for (const yarl_test::LogRecord& r : log.records()) {
    if (r.source == "SslEngine" && r.text.rfind("DEBUG<", 0) == 0) {
      debugLines++;
      EXPECT_TRUE(r.text.rfind("DEBUG<1>", 0) == 0 || r.text.rfind("DEBUG<2>", 0) == 0) << r.text;
    }
    for (const char* secret : {"premaster", "master secret", "key block", "payload", "dXNlcjpz", "served by"}) {
      EXPECT_EQ(std::string::npos, r.text.find(secret)) << r;
    }
  }
  // Handshake messages and alerts stay visible.
  EXPECT_GT(debugLines, 0);
}

}  // namespace
