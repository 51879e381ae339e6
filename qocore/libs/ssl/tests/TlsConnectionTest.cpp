// TLS connections against an mbedtls server on 127.0.0.1: the client
// hello, the ends of a connection, refused versions and the certificate
// checks of a real handshake.

#include <gtest/gtest.h>
#include <mbedtls/bignum.h>
#include <mbedtls/pk.h>
#include <mbedtls/x509_crt.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "qocore/base/crypto/RandomStream.h"
#include "qocore/base/io/IpInfo.h"
#include "qocore/base/io/TcpConnector.h"
#include "qocore/base/plat/Configuration.h"
#include "qocore/base/plat/ScopeExit.h"
#include "qocore/base/rdr/OutStream.h"
#include "qocore/libs/ssl/SslIo.h"
#include "qocore/libs/ssl/SslVerifier.h"
#include "qocore/libs/ssl/tests/TlsTestSupport.h"
#include "testing/LogCapture.h"

namespace {

using ssl_test::TlsServerConfig;
using ssl_test::TlsServerRecord;
using ssl_test::TlsSession;
using yarl_test::ScriptedServer;

// clang-format off
const std::vector<int> kNormal = {
    0xC02B, 0xC02F, 0xCCA9, 0xCCA8, 0xC02C, 0xC030, 0xC02D, 0xC031, 0xC02E, 0xC032, 0x009C, 0x009D, 0xC0AC, 0xC09C,
    0xC0AD, 0xC09D, 0xC023, 0xC027, 0xC024, 0xC028, 0xC025, 0xC029, 0xC026, 0xC02A, 0x003C, 0x003D, 0xC009, 0xC004,
    0x002F, 0xC008, 0xC003, 0x000A};
const std::vector<int> kHigh = {0xC0AD, 0xC02C, 0xC030, 0xC02E, 0xC032, 0xC09D, 0x009D};
// clang-format on

// The renegotiation signalling value every hello of the library carries.
constexpr int kEmptyRenegotiationInfo = 0x00FF;

const std::string& goodKey() {
  static const std::string key = ssl_test::readData("good.key");
  return key;
}

// A certificate for subjectKey signed by issuerKey, as PEM.  Made here
// because the committed test PKI keeps no CA key.
std::string issue(const std::string& subjectKeyPem, const char* subject, const std::string& issuerKeyPem,
                  const char* issuer, bool ca, int serial) {
  mbedtls_pk_context subjectKey, issuerKey;
  mbedtls_pk_init(&subjectKey);
  mbedtls_pk_init(&issuerKey);
  mbedtls_x509write_cert crt;
  mbedtls_x509write_crt_init(&crt);
  mbedtls_mpi number;
  mbedtls_mpi_init(&number);
  plat::ScopeExit free([&] {
    mbedtls_pk_free(&subjectKey);
    mbedtls_pk_free(&issuerKey);
    mbedtls_x509write_crt_free(&crt);
    mbedtls_mpi_free(&number);
  });
  auto parse = [](mbedtls_pk_context& pk, const std::string& pem) {
    return mbedtls_pk_parse_key(&pk, reinterpret_cast<const unsigned char*>(pem.c_str()), pem.size() + 1, nullptr, 0);
  };
  unsigned char out[8192];
  const bool ok = parse(subjectKey, subjectKeyPem) == 0 && parse(issuerKey, issuerKeyPem) == 0 &&
                  mbedtls_mpi_lset(&number, serial) == 0;
  EXPECT_TRUE(ok);
  if (!ok) return "";
  mbedtls_x509write_crt_set_version(&crt, MBEDTLS_X509_CRT_VERSION_3);
  mbedtls_x509write_crt_set_md_alg(&crt, MBEDTLS_MD_SHA256);
  mbedtls_x509write_crt_set_subject_key(&crt, &subjectKey);
  mbedtls_x509write_crt_set_issuer_key(&crt, &issuerKey);
  const bool written = mbedtls_x509write_crt_set_subject_name(&crt, subject) == 0 &&
                       mbedtls_x509write_crt_set_issuer_name(&crt, issuer) == 0 &&
                       mbedtls_x509write_crt_set_serial(&crt, &number) == 0 &&
                       mbedtls_x509write_crt_set_validity(&crt, "20200101000000", "29991231000000") == 0 &&
                       (!ca || mbedtls_x509write_crt_set_basic_constraints(&crt, 1, -1) == 0) &&
                       mbedtls_x509write_crt_pem(&crt, out, sizeof out, crypto::mbedtlsRandom, nullptr) == 0;
  EXPECT_TRUE(written);
  return written ? std::string(reinterpret_cast<const char*>(out)) : "";
}

class TlsConnectionTest : public ssl_test::LoopTest {
 protected:
  // Connects to the server through TCP to 127.0.0.1 shown under
  // displayHost, then TLS for `host`.
  void connect(const ScriptedServer& server, const char* host, const char* displayHost = nullptr,
               std::initializer_list<const char*> trusted = {"root"}) {
    connector_.reset();
    trust_ = ssl::MbedTlsTrustManager::create(ssl_test::trusting(trusted));
    auto tcp = std::make_unique<io::TcpAddrConnector>(io::IpInfo("127.0.0.1", server.port()), displayHost);
    connector_ = std::make_unique<ssl::SslConnector>(std::move(tcp), &ssl::SslPublicHttpsVerifier::instance(),
                                                     trust_.get(), host);
    connector_->start(&receiver_);
    runUntil([&] { return receiver_.done(); });
  }
  void TearDown() override {
    // Connections finish their shutdown on the loop.
    receiver_.reset();
    connector_.reset();
    settle();
  }
  // Reads the connection until its input ends.
  void readToEnd() {
    ASSERT_TRUE(receiver_.io);
    receiver_.io->setHandler(&reader_, true);
    runUntil([&] { return !reader_.end.empty(); });
  }

  std::unique_ptr<ssl::MbedTlsTrustManager> trust_;
  std::unique_ptr<io::IoConnector> connector_;
  ssl_test::ConnectReceiver receiver_;
  ssl_test::Reader reader_;
};

TEST_F(TlsConnectionTest, EachProfileOffersExactlyItsSuites) {
  struct Case {
    const char* profile;
    const std::vector<int>* suites;
  };
  for (const Case& c : {Case{"Normal", &kNormal}, Case{"High", &kHigh}}) {
    ASSERT_TRUE(ssl::tlsProfile.setParam(c.profile, 10));
    plat::ScopeExit reset([] { ssl::tlsProfile.unsetParam(10); });
    TlsServerRecord record;
    ScriptedServer server({ssl_test::tlsScript(ssl_test::serving("good", goodKey()), record, [](TlsSession&) {})});
    connect(server, "good.example.com");
    server.wait();
    EXPECT_EQ("connected", receiver_.outcome) << c.profile;
    std::vector<int> offered = record.offered;
    offered.erase(std::remove(offered.begin(), offered.end(), kEmptyRenegotiationInfo), offered.end());
    EXPECT_EQ(*c.suites, offered) << c.profile;
    receiver_.reset();
  }
  EXPECT_EQ(ssl::profileSuites(ssl::kTlsHigh).size(), 7u);
  EXPECT_EQ(ssl::profileSuites(5).size(), 32u) << "any other value is Normal";
}

// The ways a connection ends after the handshake, as its reader sees them
// after all the data: told by readable events, or finding everything at
// once in a read that asks for more (the last records and the end arrive
// together, with no event between them).
TEST_F(TlsConnectionTest, EndsOfAnOpenConnection) {
  struct Case {
    const char* name;
    bool closeNotify;
    const char* end;
  };
  const std::string data(40000, 'd');
  for (bool events : {true, false}) {
    for (const Case& c : {Case{"close_notify", true, "end: End of in-memory IO stream"},
                          Case{"no close_notify", false, "error: SSL Error: Underlying stream truncated"}}) {
      TlsServerRecord record;
      ScriptedServer server({ssl_test::tlsScript(ssl_test::serving("good", goodKey()), record, [&](TlsSession& s) {
        s.write(data);
        if (c.closeNotify) s.closeNotify();
      })});
      connect(server, "good.example.com");
      ASSERT_EQ("connected", receiver_.outcome);
      EXPECT_TRUE(receiver_.io->flags().count("secureTransport"));
      if (events) {
        readToEnd();
      } else {
        // Watching nothing, the connection hears of no input until read.
        ssl_test::Reader idle;
        receiver_.io->setHandler(&idle, false);
        server.wait();
        for (int i = 0; i < 100 && reader_.end.empty(); i++) {
          reader_.readable(*receiver_.io);
          settle();
        }
        receiver_.io->setHandler(nullptr, false);
      }
      EXPECT_EQ(data.size(), reader_.data.size()) << c.name << (events ? " events" : " read");
      EXPECT_EQ(c.end, reader_.end) << c.name << (events ? " events" : " read");
      receiver_.reset();
      reader_ = {};
      settle();
    }
  }
}

TEST_F(TlsConnectionTest, DataBothWaysAndShutdownSendsCloseNotify) {
  TlsServerRecord record;
  std::string after;
  ScriptedServer server({ssl_test::tlsScript(ssl_test::serving("good", goodKey()), record, [&](TlsSession& s) {
    record.received = s.readUntil("ping\n");
    s.write("pong\n");
    after = s.readUntil("never");  // ends with the client's close notification
  })});
  connect(server, "good.example.com");
  ASSERT_EQ("connected", receiver_.outcome);
  receiver_.io->setHandler(&reader_, true);
  rdr::OutStream& out = receiver_.io->out();
  out.writeBytes("ping\n", 5);
  out.flush();
  runUntil([&] { return reader_.data == "pong\n"; });
  EXPECT_EQ("pong\n", reader_.data);
  receiver_.io->shutdown(true, true);
  runUntil([&] { return reader_.closed; });
  EXPECT_TRUE(reader_.closed);
  (void)receiver_.io.release();  // it deleted itself after telling the reader
  server.wait();
  EXPECT_EQ("ping\n", record.received);
  EXPECT_EQ("", after);
}

TEST_F(TlsConnectionTest, ServerClosingMidHandshakeIsCode8) {
  // The whole hello is read first, so that the close is an orderly end
  // rather than a reset.
  ScriptedServer server({[](ScriptedServer::Conn& c) {
    const std::string header = c.read(5);
    if (header.size() == 5) (void)c.read((static_cast<uint8_t>(header[3]) << 8) | static_cast<uint8_t>(header[4]));
  }});
  connect(server, "good.example.com");
  EXPECT_EQ("SSL Error: SSL Connection Closed", receiver_.outcome);
}

// Only TLS 1.2 is offered and accepted.
TEST_F(TlsConnectionTest, OlderVersionsAreRefused) {
  for (int minor : {1, 2}) {
    TlsServerConfig config = ssl_test::serving("good", goodKey());
    config.minMinor = config.maxMinor = minor;
    TlsServerRecord record;
    ScriptedServer server({ssl_test::tlsScript(config, record, [](TlsSession&) {})});
    connect(server, "good.example.com");
    server.wait();
    EXPECT_EQ("MbedTls", receiver_.type) << minor;
    EXPECT_EQ(0u, receiver_.outcome.rfind("ssl_handshake", 0)) << receiver_.outcome;
    EXPECT_NE(0, record.handshake);
    receiver_.reset();
  }
}

// The library compares the host with the certificate itself, before the
// verifier runs; case and usage rules of the verifier apply to what it
// lets through.
TEST_F(TlsConnectionTest, CertificateChecksOfARealHandshake) {
  struct Case {
    const char* leaf;
    std::vector<const char*> chain;  // sent after the leaf
    std::initializer_list<const char*> trusted;
    const char* host;
    const char* displayHost;
    const char* outcome;
  };
  // clang-format off
  const Case cases[] = {
      {"good",       {"inter"},               {"root"},      "good.example.com",  nullptr,            "connected"},
      {"good",       {"inter"},               {"root"},      "other.example.org", nullptr,            "X.509 Error: Invalid certificate"},
      {"good",       {"inter"},               {"root"},      "GOOD.EXAMPLE.COM",  "GOOD.EXAMPLE.COM",
       "SSL Error: SSL certificate does not match intended host"},
      {"wronghost",  {"inter"},               {"root"},      "good.example.com",  nullptr,            "X.509 Error: Invalid certificate"},
      {"expired",    {"inter"},               {"root"},      "good.example.com",  nullptr,            "X.509 Error: Certificate expired"},
      {"future",     {"inter"},               {"root"},      "good.example.com",  nullptr,            "X.509 Error: Certificate not yet valid"},
      {"undernotca", {"notca"},               {"root"},      "good.example.com",  nullptr,            "X.509 Error: Unknown issuer or bad signature"},
      {"deep",       {"subinter", "pathlen0"}, {"root"},     "good.example.com",  nullptr,            "X.509 Error: Unknown issuer or bad signature"},
      {"weak",       {"inter"},               {"root"},      "good.example.com",  nullptr,            "X.509 Error: Signature does not meet minimum strength requirements"},
      {"sha1",       {"inter"},               {"root"},      "good.example.com",  nullptr,            "X.509 Error: Signature does not meet minimum strength requirements"},
      {"stranger",   {"otherroot"},           {"root"},      "good.example.com",  nullptr,            "X.509 Error: Self-signed certificate not trusted"},
      {"good",       {},                      {"root"},      "good.example.com",  nullptr,            "X.509 Error: Unknown issuer or bad signature"},
      {"good",       {"inter"},               {"otherroot"}, "good.example.com",  nullptr,            "X.509 Error: Unknown issuer or bad signature"},
  };
  // clang-format on
  for (const Case& c : cases) {
    TlsServerConfig config;
    config.chainPem = ssl_test::readData(std::string(c.leaf) + ".pem");
    for (const char* name : c.chain) config.chainPem += ssl_test::readData(std::string(name) + ".pem");
    // The client judges the certificate before the server's key is used,
    // so every leaf may be served with the one key at hand.
    config.keyPem = goodKey();
    // RSA key exchange: the key is not used before the client has judged.
    config.suites = {0x009C};
    TlsServerRecord record;
    ScriptedServer server({ssl_test::tlsScript(config, record, [](TlsSession&) {})});
    connect(server, c.host, c.displayHost, c.trusted);
    EXPECT_EQ(c.outcome, receiver_.outcome) << c.leaf << " " << c.host;
    receiver_.reset();
    server.wait();
    settle();
  }
}

// A key usage or extended key usage unfit for the suite is refused by the
// library's own check during the handshake.
TEST_F(TlsConnectionTest, UnfitKeyUsageIsRefusedByTheLibrary) {
  for (const char* leaf : {"badku", "clientauth"}) {
    TlsServerConfig config = ssl_test::serving(leaf, goodKey());
    config.suites = {0x009C};
    TlsServerRecord record;
    ScriptedServer server({ssl_test::tlsScript(config, record, [](TlsSession&) {})});
    connect(server, "good.example.com");
    EXPECT_EQ("MbedTls", receiver_.type) << leaf;
    EXPECT_EQ(0u, receiver_.outcome.rfind("ssl_handshake", 0)) << receiver_.outcome;
    receiver_.reset();
    server.wait();
    settle();
  }
}

// A leaf without extended key usage passes the library (no extension means
// any use) and is refused by the verifier.
TEST_F(TlsConnectionTest, LeafWithoutExtendedKeyUsageFailsTheVerifier) {
  const std::string rootKey = ssl_test::readData("ec.key");
  const std::string root = issue(rootKey, "CN=Yarl Made Root", rootKey, "CN=Yarl Made Root", true, 1);
  const std::string leaf = issue(goodKey(), "CN=noeku.example.com", rootKey, "CN=Yarl Made Root", false, 2);
  TlsServerConfig config;
  config.chainPem = leaf;
  config.keyPem = goodKey();
  TlsServerRecord record;
  ScriptedServer server({ssl_test::tlsScript(config, record, [](TlsSession&) {})});

  auto lookup = std::make_unique<ssl::SslCertLookupCustom>();
  lookup->addCertificate(ssl::MbedTlsCertificate::create(root.c_str()));
  trust_ = ssl::MbedTlsTrustManager::create(std::move(lookup));
  auto tcp = std::make_unique<io::TcpAddrConnector>(io::IpInfo("127.0.0.1", server.port()), "noeku.example.com");
  connector_ = std::make_unique<ssl::SslConnector>(std::move(tcp), &ssl::SslPublicHttpsVerifier::instance(),
                                                   trust_.get(), "noeku.example.com");
  connector_->start(&receiver_);
  runUntil([&] { return receiver_.done(); });
  EXPECT_EQ("X.509 Error: Certificate usage not correct: missing serverAuth ext usage", receiver_.outcome);
}

TEST_F(TlsConnectionTest, HandshakeFailureIsLogged) {
  yarl_test::LogCapture log("SslIo:capture:30");
  TlsServerRecord record;
  ScriptedServer server({ssl_test::tlsScript(ssl_test::serving("good", goodKey()), record, [](TlsSession&) {})});
  connect(server, "other.example.org");
  EXPECT_EQ("X.509 Error: Invalid certificate", receiver_.outcome);
  bool logged = false;
  for (const yarl_test::LogRecord& line : log.from("SslIo"))
    logged = logged || line.text == "Handshaking error: X.509 Error: Invalid certificate";
  EXPECT_TRUE(logged);
}

}  // namespace

namespace {

TEST_F(TlsConnectionTest, LibraryDebugLinesFollowTheThreshold) {
  for (int threshold : {0, 2}) {
    ASSERT_TRUE(ssl::tlsLogging.setParam(std::to_string(threshold).c_str(), 10));
    plat::ScopeExit reset([] { ssl::tlsLogging.unsetParam(10); });
    yarl_test::LogCapture log("SslEngine:capture:100");
    TlsServerRecord record;
    ScriptedServer server({ssl_test::tlsScript(ssl_test::serving("good", goodKey()), record, [](TlsSession&) {})});
    connect(server, "good.example.com");
    ASSERT_EQ("connected", receiver_.outcome);
    server.wait();  // the record is the server thread's until then
    int debugLines = 0;
    bool established = false;
    for (const yarl_test::LogRecord& line : log.from("SslEngine")) {
      if (line.text.rfind("DEBUG<", 0) == 0) {
        debugLines++;
        EXPECT_NE('\n', line.text.back()) << line.text;
      }
      established = established || line.text == "Established TLS 1.2 connection using " + record.suiteName ||
                    line.text == "Established TLS 1.2 connection using " + record.suiteName + " (EtM)";
    }
    EXPECT_TRUE(established) << threshold;
    if (threshold == 0) {
      EXPECT_EQ(0, debugLines);
    } else {
      EXPECT_GT(debugLines, 0);
    }
    receiver_.reset();
    settle();
  }
}

// The output pipe keeps 2048 bytes and a fifth of the rest of the inner
// stream's room free for the records' overhead.
TEST_F(TlsConnectionTest, OutputRoomFollowsTheInnerStream) {
  struct Case {
    const char* innerLimit;
    int32_t room;
  };
  for (const Case& c : {Case{"16384", 11464}, Case{"134217728", 107372544}}) {
    plat::ConfigParameter* param = plat::Configuration::global().findParam("MaxOutBufferSize");
    ASSERT_TRUE(param->setParam(c.innerLimit, 10));
    plat::ScopeExit reset([param] { param->unsetParam(10); });
    TlsServerRecord record;
    ScriptedServer server({ssl_test::tlsScript(ssl_test::serving("good", goodKey()), record, [](TlsSession&) {})});
    connect(server, "good.example.com");
    ASSERT_EQ("connected", receiver_.outcome);
    EXPECT_EQ(c.room, receiver_.io->out().spaceLimit()) << c.innerLimit;
    receiver_.reset();
    server.wait();
    settle();
  }
}

}  // namespace

namespace {

// A client identity is presented when the server asks for one.
TEST_F(TlsConnectionTest, ClientIdentity) {
  const std::string rootKey = ssl_test::readData("ec.key");
  const std::string root = issue(rootKey, "CN=Yarl Made Root", rootKey, "CN=Yarl Made Root", true, 1);
  const std::string client = issue(goodKey(), "CN=client.example.com", rootKey, "CN=Yarl Made Root", false, 3);
  for (bool withIdentity : {true, false}) {
    TlsServerConfig config = ssl_test::serving("good", goodKey());
    config.clientCaPem = root;
    TlsServerRecord record;
    ScriptedServer server({ssl_test::tlsScript(config, record, [](TlsSession&) {})});
    ssl::ClientIdentity identity;
    if (withIdentity) {
      identity.certificate = ssl::MbedTlsCertificate::create(client.c_str());
      identity.key = ssl::MbedTlsPrivateKey::create(goodKey().c_str(), nullptr);
    }
    trust_ = ssl::MbedTlsTrustManager::create(ssl_test::trusting({"root"}));
    auto tcp = std::make_unique<io::TcpAddrConnector>(io::IpInfo("127.0.0.1", server.port()), nullptr);
    connector_ = std::make_unique<ssl::SslConnector>(std::move(tcp), &ssl::SslPublicHttpsVerifier::instance(),
                                                     trust_.get(), "good.example.com", identity);
    connector_->start(&receiver_);
    runUntil([&] { return receiver_.done(); });
    server.wait();
    if (withIdentity) {
      EXPECT_EQ("connected", receiver_.outcome);
      EXPECT_EQ("CN=client.example.com", record.clientSubject);
    } else {
      EXPECT_NE("connected", receiver_.outcome);
      EXPECT_NE(0, record.handshake);
    }
    receiver_.reset();
    connector_.reset();
    settle();
  }
}

}  // namespace
