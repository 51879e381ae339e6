#include <fcntl.h>
#include <gtest/gtest.h>
#include <mbedtls/pem.h>
#include <mbedtls/x509_crt.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/security/SystemRoots.h"
#include "qocore/base/crypto/EcKey.h"
#include "qocore/base/crypto/Rsa.h"
#include "qocore/base/plat/Time.h"
#include "qocore/libs/ssl/SslCertificate.h"
#include "qocore/libs/ssl/SslException.h"
#include "qocore/libs/ssl/SystemCertStore.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsCertificate.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsTrustManager.h"
#include "qocore/libs/ssl/tests/SslTestUtil.h"
#include "testing/FileFixtures.h"
#include "testing/LogCapture.h"

namespace {

using ssl::SslException;
using ssl_test::cert;
using ssl_test::readData;

TEST(SslExceptionTest, MessageIsCodeTextThenDetail) {
  EXPECT_STREQ(SslException(SslException::kHostMismatch).str(),
               "SSL Error: SSL certificate does not match intended host");
  EXPECT_STREQ(SslException(SslException::kBadUsage, "missing serverAuth ext usage").str(),
               "X.509 Error: Certificate usage not correct: missing serverAuth ext usage");
  EXPECT_STREQ(SslException(SslException::kCodeCount, "detail").str(), "detail");
  EXPECT_STREQ(SslException(SslException::kCodeCount).typeName(), "");
}

TEST(SslCertificateTest, GoodLeafFields) {
  auto c = cert("good");
  EXPECT_EQ(c->keyType, ssl::kKeyRsa);
  EXPECT_STREQ(c->subjectText.c_str(), "CN=good.example.com");
  EXPECT_STREQ(c->issuerText.c_str(), "CN=Yarl Test Intermediate,O=Yarl Test");
  ASSERT_EQ(c->issuerAttributes.size(), 2u);
  EXPECT_STREQ(c->issuerAttributes[0].oid.c_str(), "2.5.4.3");
  EXPECT_STREQ(c->issuerAttributes[1].value.c_str(), "Yarl Test");
  ASSERT_EQ(c->altNames.size(), 4u);
  EXPECT_EQ(c->altNames[0].kind, ssl::kAltDns);
  EXPECT_STREQ(c->altNames[1].value.c_str(), "*.wild.example.com");
  EXPECT_EQ(c->altNames[2].kind, ssl::kAltIp);
  EXPECT_STREQ(c->altNames[2].value.c_str(), "127.0.0.1");
  EXPECT_STREQ(c->altNames[3].value.c_str(), "::1");
  EXPECT_TRUE(c->keyUsagePresent);
  EXPECT_EQ(c->keyUsage, (1 << 0) | (1 << 2));  // digitalSignature, keyEncipherment
  EXPECT_TRUE(c->extKeyUsagePresent);
  EXPECT_TRUE(c->hasExtKeyUsage("1.3.6.1.5.5.7.3.1"));
  EXPECT_FALSE(c->hasExtKeyUsage("1.3.6.1.5.5.7.3.2"));
  EXPECT_EQ(c->notBefore, plat::dateToTimeChecked(2020, 1, 1, 0, 0, 0));
  EXPECT_EQ(c->notAfter, plat::dateToTimeChecked(2999, 12, 31, 0, 0, 0));
  EXPECT_FALSE(c->selfIssued());
  EXPECT_TRUE(cert("root")->selfIssued());
  // The key span lies inside the certificate's DER.
  EXPECT_GT(c->publicKey.data, c->der.data);
  EXPECT_LT(c->publicKey.data + c->publicKey.len, c->der.data + c->der.len);
  EXPECT_EQ(std::strlen(c->sha1Fingerprint().c_str()), 40u);
  EXPECT_STREQ(ssl::SslCertificate::displayName(c->subjectAttributes, c->altNames), "good.example.com");
}

struct Name {
  int kind;
  std::string value;
  std::string second;
  bool operator==(const Name&) const = default;
};

std::vector<Name> altNamesOf(const ssl::SslCertificate& c) {
  std::vector<Name> names;
  for (const ssl::AltName& n : c.altNames) names.push_back({n.kind, n.value.c_str(), n.second.c_str()});
  return names;
}

// Other names keep their type OID and a value of a string type, in the
// order of the extension; one of another type is left out, and a broken
// one ends the list.
TEST(SslCertificateTest, OtherNamesKeepTheirTypeAndStringValue) {
  const plat::LinkedPtr<ssl::SslCertificate> c = cert("othername");
  std::vector<Name> names = altNamesOf(*c);
  // clang-format off
  const std::vector<Name> expected = {
      {ssl::kAltDns,   "other.example.com", ""},
      {ssl::kAltOther, "user@example.com",  "1.3.6.1.4.1.311.20.2.3"},  // UTF8String
      {ssl::kAltOther, "ia5 value",         "1.2.3.4"},                 // IA5String
      {ssl::kAltOther, "Printable",         "1.2.3.5"},                 // PrintableString
      {ssl::kAltEmail, "mail@example.com",  ""},
  };
  // clang-format on
  ASSERT_EQ(names.size(), expected.size());
  for (size_t i = 0; i < names.size(); i++) {
    EXPECT_TRUE(names[i] == expected[i]) << i << ": " << names[i].kind << " " << names[i].value << " "
                                         << names[i].second;
  }

  // The INTEGER's wrapper tagged [1] instead of [0], at the same length:
  // the library, which reads other names no further than their type,
  // still takes the certificate.
  std::string der(reinterpret_cast<const char*>(c->der.data), c->der.len);
  const std::string integerName = "\xA0\x0A\x06\x03\x2A\x03\x06\xA0\x03\x02\x01\x05";
  const size_t at = der.find(integerName);
  ASSERT_NE(at, std::string::npos);
  der[at + 7] = '\xA1';
  const plat::LinkedPtr<ssl::SslCertificate> broken =
      ssl::MbedTlsCertificate::fromDer(der.size(), reinterpret_cast<const unsigned char*>(der.data()));
  names = altNamesOf(*broken);
  EXPECT_EQ(names.size(), 4u);
  EXPECT_TRUE(std::equal(names.begin(), names.end(), expected.begin()));
}

TEST(SslCertificateTest, DistinguishedNameTextForms) {
  // clang-format off
  struct Case { const char* file; const char* text; } cases[] = {
      {"names", "O=\\ lead space,OU=\\#hash+CN=a\\,b"},
      {"bmp", "CN=#0062006d0070002e006500780061006d0070006c0065002e0063006f006d,O=#0042006d00700020004f00720067"},
      {"root", "CN=Yarl Test Root,O=Yarl Test,C=XX"},
  };
  // clang-format on
  for (const Case& c : cases) EXPECT_STREQ(cert(c.file)->subjectText.c_str(), c.text) << c.file;
  // BMPString values are no attributes.
  EXPECT_TRUE(cert("bmp")->subjectAttributes.empty());
  EXPECT_EQ(cert("names")->subjectAttributes.size(), 3u);
}

TEST(SslCertificateTest, ValidityFollowsTheWallClock) {
  auto c = cert("good");
  {
    ssl_test::FixedClock clock(2500, 6, 1);
    EXPECT_EQ(ssl_test::sslCode([&] { c->checkValidity(); }), -1);
  }
  {
    ssl_test::FixedClock clock(3000, 1, 1);
    EXPECT_EQ(ssl_test::sslCode([&] { c->checkValidity(); }), SslException::kExpired);
  }
  {
    ssl_test::FixedClock clock(2019, 1, 1);
    EXPECT_EQ(ssl_test::sslCode([&] { c->checkValidity(); }), SslException::kNotYetValid);
  }
}

TEST(SslCertificateTest, PemFileSkipsDamagedAndKeepsExpired) {
  std::string good = readData("good.pem"), expired = readData("expired.pem"), root = readData("root.pem");
  std::string damaged = good;
  damaged[damaged.find("MII") + 40] ^= 0x01;
  std::string text = good + damaged + expired + root;
  yarl_test::LogCapture log;
  auto certs = ssl::SslCertificate::loadPemFile(text.c_str(), text.size());
  ASSERT_EQ(certs.size(), 3u);
  EXPECT_STREQ(certs[2]->subjectText.c_str(), "CN=Yarl Test Root,O=Yarl Test,C=XX");
  auto lines = log.from("SslCertificate");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text.rfind("Bad cert in PEM file: X.509 Error: Invalid certificate: ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].text, "Bad cert in PEM file: X.509 Error: Certificate expired");
}

TEST(SslCertificateTest, RevocationUrls) {
  auto urls = cert("urls");
  auto crl = urls->crlDistributionUrls();
  ASSERT_EQ(crl.size(), 2u);
  EXPECT_STREQ(crl[0].c_str(), "http://crl.example.com/a.crl");
  EXPECT_STREQ(crl[1].c_str(), "ldap://ldap.example.com/cn=crl");
  auto ocsp = urls->ocspUrls();
  ASSERT_EQ(ocsp.size(), 1u);
  EXPECT_STREQ(ocsp[0].c_str(), "http://ocsp.example.com");
  EXPECT_TRUE(cert("good")->crlDistributionUrls().empty());
  EXPECT_TRUE(cert("good")->ocspUrls().empty());
  try {
    (void)cert("filecrl")->crlDistributionUrls();
    ADD_FAILURE() << "no failure";
  } catch (const ssl::SslException& e) {
    EXPECT_STREQ(e.str(),
                 "X.509 Error: The CRL distribution points do not contain a supported endpoint: no URLs specifying the "
                 "CRL given");
  }
}

// What mbedtls's own PEM reader makes of `text`: the certificate's DER
// bytes, or "refused".
std::string mbedtlsReading(const std::string& text) {
  mbedtls_pem_context pem;
  mbedtls_pem_init(&pem);
  size_t used = 0;
  std::string out = "refused";
  if (mbedtls_pem_read_buffer(&pem, "-----BEGIN CERTIFICATE-----", "-----END CERTIFICATE-----",
                              reinterpret_cast<const unsigned char*>(text.c_str()), nullptr, 0, &used) == 0) {
    mbedtls_x509_crt crt;
    mbedtls_x509_crt_init(&crt);
    if (mbedtls_x509_crt_parse_der(&crt, pem.buf, pem.buflen) == 0)
      out.assign(reinterpret_cast<const char*>(crt.raw.p), crt.raw.len);
    mbedtls_x509_crt_free(&crt);
  }
  mbedtls_pem_free(&pem);
  return out;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// The plain layouts, read without mbedtls's constant-time decoder, and
// the unusual ones it reads itself: every text gives what mbedtls's reader
// gives, the same certificate or a refusal.
TEST(SslCertificateTest, PemLayoutsReadAsMbedtlsReadsThem) {
  const std::string pem = readData("good.pem");
  const size_t body = pem.find('\n') + 1;
  const size_t footer = pem.find("-----END");
  std::string oneLine =
      pem.substr(0, body) + replaced(pem.substr(body, footer - body), "\n", "") + "\n" + pem.substr(footer);
  std::string unpadded = replaced(pem, "=\n-----END", "\n-----END");
  std::string middleEquals = pem;
  middleEquals[body + 10] = '=';
  std::string stray = pem;
  stray[body + 10] = '*';
  std::string loneReturn = pem;
  loneReturn.insert(body + 10, "\r");
  // clang-format off
  const std::pair<const char*, std::string> cases[] = {
    {"as written", pem},
    {"CRLF lines", replaced(pem, "\n", "\r\n")},
    {"one line", oneLine},
    {"text before the header", "# a root\nsubject=CN=x\n" + pem},
    {"spaces before line ends", replaced(pem, "\n", "  \n")},
    {"a space after the header", replaced(pem, "CERTIFICATE-----\nMII", "CERTIFICATE----- \nMII")},
    {"no line end after the header", replaced(pem, "CERTIFICATE-----\n", "CERTIFICATE-----")},
    {"a group cut short", unpadded},
    {"= inside", middleEquals},
    {"a stray character", stray},
    {"a lone CR", loneReturn},
    {"no footer", pem.substr(0, footer)},
  };
  // clang-format on
  const std::string der = mbedtlsReading(pem);
  ASSERT_NE(der, "refused");
  for (const auto& [name, text] : cases) {
    std::string ours = "refused";
    try {
      const auto certificate = ssl::MbedTlsCertificate::create(text.c_str());
      ours.assign(reinterpret_cast<const char*>(certificate->der.data), certificate->der.len);
    } catch (const SslException& e) {
      EXPECT_EQ(e.code(), SslException::kInvalidCertificate) << name;
    }
    const std::string expected = mbedtlsReading(text);
    EXPECT_TRUE(ours == expected) << name << ": ours " << (ours == "refused" ? ours : "a certificate") << ", mbedtls's "
                                  << (expected == "refused" ? expected : "a certificate");
    EXPECT_TRUE(expected == "refused" || expected == der) << name;
  }
}

TEST(SslCertificateTest, GarbageIsInvalidCertificate) {
  EXPECT_EQ(ssl_test::sslCode([] { ssl::MbedTlsCertificate::create("no certificate here"); }),
            SslException::kInvalidCertificate);
}

TEST(SslPrivateKeyTest, PasswordProtectedKey) {
  for (const char* file : {"good-protected.key", "good-legacy.key"}) {
    std::string pem = readData(file);
    auto key = ssl::MbedTlsPrivateKey::create(pem.c_str(), "s3cret");
    ASSERT_TRUE(key) << file;
    EXPECT_EQ(key->keyType, ssl::kKeyRsa);
    EXPECT_FALSE(ssl::MbedTlsPrivateKey::create(pem.c_str(), "wrong")) << file;
    EXPECT_FALSE(ssl::MbedTlsPrivateKey::create(pem.c_str(), nullptr)) << file;
  }
}

TEST(SslPrivateKeyTest, KindsAndDamage) {
  EXPECT_EQ(ssl::MbedTlsPrivateKey::create(readData("good.key").c_str(), nullptr)->keyType, ssl::kKeyRsa);
  EXPECT_EQ(ssl::MbedTlsPrivateKey::create(readData("ec.key").c_str(), nullptr)->keyType, ssl::kKeyEc);
  EXPECT_EQ(ssl_test::sslCode([] { ssl::MbedTlsPrivateKey::create(readData("damaged.key").c_str(), nullptr); }),
            SslException::kInvalidKey);
}

TEST(SslPrivateKeyTest, KeysBecomeKeyObjects) {
  auto key = ssl::MbedTlsPrivateKey::create(readData("good.key").c_str(), nullptr);
  auto priv = key->rsaPrivateKey();
  auto pub = cert("good")->rsaPublicKey();
  EXPECT_EQ(pub->bits(), 2048);
  EXPECT_TRUE(pub->publicEquals(*priv));
  EXPECT_FALSE(cert("weak")->rsaPublicKey()->publicEquals(*priv));

  auto ec = ssl::MbedTlsPrivateKey::create(readData("ec.key").c_str(), nullptr);
  EXPECT_EQ(ec->ecPrivateKey()->curve(), crypto::P256);
  // clang-format off
  struct Case { std::function<void()> fn; const char* text; } cases[] = {
      {[&] { (void)ec->rsaPrivateKey(); },           "Private key is not an RSA key"},
      {[&] { (void)key->ecPrivateKey(); },           "Private key is not an ECDSA key"},
      {[&] { (void)cert("good")->ecPublicKey(); },   "Certificate public key is not an ECDSA key"},
  };
  // clang-format on
  for (const Case& c : cases) {
    try {
      c.fn();
      ADD_FAILURE() << c.text;
    } catch (const plat::Exception& e) {
      EXPECT_STREQ(e.str(), c.text);
    }
  }
}

// Counts the inner lookups.
class CountingLookup : public ssl::SslCertLookup {
 public:
  plat::LinkedPtr<ssl::SslCertificate> findBySubject(size_t, const unsigned char*) override {
    calls++;
    return {};
  }
  std::vector<plat::LinkedPtr<ssl::SslCertificate>> list() override { return {}; }
  int calls = 0;
};

plat::TimeValue gMonotonic = 0;
plat::TimeValue fakeMonotonic(plat::TimeValue, bool*) { return gMonotonic; }

TEST(SslCertLookupTest, CacheRemembersAbsentAnswersFor15Minutes) {
  auto old = plat::setMonotonicClock(fakeMonotonic);
  gMonotonic = 1'000'000;
  auto inner = std::make_unique<CountingLookup>();
  CountingLookup* counting = inner.get();
  ssl::SslCertLookupCache cache(std::move(inner));
  const unsigned char subject[] = {0x30, 0x00};
  EXPECT_FALSE(cache.findBySubject(2, subject));
  EXPECT_FALSE(cache.findBySubject(2, subject));
  EXPECT_EQ(counting->calls, 1);
  gMonotonic += 9'000'000'000;
  EXPECT_FALSE(cache.findBySubject(2, subject));
  EXPECT_EQ(counting->calls, 2);
  plat::setMonotonicClock(old);
}

TEST(SslCertLookupTest, CustomReplacesSameSubject) {
  ssl::SslCertLookupCustom lookup;
  auto a = cert("good"), b = cert("expired");
  lookup.addCertificate(a);
  lookup.addCertificate(b);
  EXPECT_EQ(lookup.findBySubject(a->rawSubject.len, a->rawSubject.data).get(), b.get());
  EXPECT_EQ(lookup.list().size(), 1u);
  auto root = cert("root");
  EXPECT_FALSE(lookup.findBySubject(root->rawSubject.len, root->rawSubject.data));
}

class SystemStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { old_ = security::setBundlePath(ssl_test::dataPath("bundle.crt").c_str()); }
  void TearDown() override { security::setBundlePath(old_.get()); }
  plat::CharArray old_;
};

TEST_F(SystemStoreTest, FindsRootWhoseLowerCaseNameIsUpperCasedInTheQuery) {
  ssl::MacCertificateStore store;
  auto root = cert("lowerroot");
  // The query upper-cases its PrintableString values, as does the index.
  std::vector<unsigned char> upper = ssl::normaliseSubject(root->rawSubject.len, root->rawSubject.data);
  EXPECT_NE(std::string(upper.begin(), upper.end()),
            std::string(root->rawSubject.data, root->rawSubject.data + root->rawSubject.len));
  auto found = store.findBySubject(upper.size(), upper.data());
  ASSERT_TRUE(found);
  EXPECT_STREQ(found->subjectText.c_str(), "CN=yarl lower root,O=yarl lower");
  EXPECT_EQ(store.list().size(), 2u);
}

// Names that end where the walk expects more are invalid, never read past.
TEST(NormaliseSubjectTest, NamesEndingEarlyAreInvalid) {
  // clang-format off
  const std::vector<std::vector<unsigned char>> cases = {
      {0x30, 0x06, 0x31, 0x04, 0x30, 0x02, 0x06, 0x00},  // an OID and no value
      {0x30, 0x05, 0x31, 0x03, 0x30, 0x01, 0x06},        // an OID tag and no length
      {0x30, 0x04, 0x31, 0x02, 0x30, 0x00},              // an empty attribute
      {0x30, 0x02, 0x31, 0x81},                          // a long length cut off
  };
  // clang-format on
  for (const std::vector<unsigned char>& name : cases) {
    try {
      (void)ssl::normaliseSubject(name.size(), name.data());
      ADD_FAILURE() << "no failure for " << name.size() << " bytes";
    } catch (const plat::Exception& e) {
      EXPECT_STREQ(e.str(), "invalid ASN.1");
    }
  }
  // The shortest complete attribute: an empty OID and an empty value.
  const unsigned char whole[] = {0x30, 0x08, 0x31, 0x06, 0x30, 0x04, 0x06, 0x00, 0x13, 0x00};
  EXPECT_EQ(ssl::normaliseSubject(sizeof whole, whole), std::vector<unsigned char>(whole, whole + sizeof whole));
}

TEST_F(SystemStoreTest, FailuresAreLoggedAndAnswerEmpty) {
  ssl::MacCertificateStore store;
  yarl_test::LogCapture log;
  auto absent = cert("otherroot");
  EXPECT_FALSE(store.findBySubject(absent->rawSubject.len, absent->rawSubject.data));
  const unsigned char bad[] = {0x30, 0x85, 0x01};
  EXPECT_FALSE(store.findBySubject(sizeof(bad), bad));
  security::setBundlePath(ssl_test::dataPath("no-such-bundle.crt").c_str());
  EXPECT_FALSE(store.findBySubject(absent->rawSubject.len, absent->rawSubject.data));
  auto lines = log.from("MacCertificateStore");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].text.rfind("Certificate lookup failed: SecItemCopyMatching: ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].text, "Certificate lookup failed: invalid ASN.1");
  EXPECT_EQ(lines[2].text.rfind("Certificate lookup failed: SecItemCopyMatching", 0), 0u) << lines[2];
}

// The store over a bundle of the test's own, whose versions are the test
// PKI's roots, each padded to one size so that a rewrite can keep it.
class SharedBundleTest : public ::testing::Test {
 protected:
  void SetUp() override { old_ = security::setBundlePath(path_.c_str()); }
  void TearDown() override { security::setBundlePath(old_.get()); }

  static std::string padded(const std::string& name) {
    std::string text = readData(name + ".pem");
    EXPECT_LT(text.size(), 2048u) << name;
    text.resize(2048, '\n');
    return text;
  }
  static uint64_t parses() { return ssl::MacCertificateStore::bundleParses(); }
  // The subject of what a new store finds under the named root's subject,
  // or "-".
  static std::string found(const std::string& name) {
    auto wanted = cert(name);
    auto answer = ssl::MacCertificateStore().findBySubject(wanted->rawSubject.len, wanted->rawSubject.data);
    return answer ? answer->subjectText.c_str() : "-";
  }
  static std::string subject(const std::string& name) { return cert(name)->subjectText.c_str(); }

  yarl_test::TempDir dir_;
  std::string path_ = dir_.write("roots.crt", padded("root"));
  plat::CharArray old_;
};

// Stores, lookups and CA lists made one after the other share one reading;
// a lookup's answer is still a certificate of the caller's own.
TEST_F(SharedBundleTest, OneParseServesEveryStoreAndEngine) {
  const uint64_t before = parses();
  auto root = cert("root");
  std::vector<std::unique_ptr<ssl::SslCertLookup>> stores;
  std::vector<std::unique_ptr<ssl::MbedTlsCaList>> lists;
  for (int i = 0; i < 3; i++) {
    stores.push_back(ssl::MacCertificateStore::create());
    auto answer = stores.back()->findBySubject(root->rawSubject.len, root->rawSubject.data);
    ASSERT_TRUE(answer);
    EXPECT_STREQ(answer->sha1Fingerprint().c_str(), root->sha1Fingerprint().c_str());
    EXPECT_NE(answer.get(), &(*stores.back()->sharedList())[0]);
    EXPECT_EQ(stores.back()->list().size(), 1u);
    lists.push_back(std::make_unique<ssl::MbedTlsCaList>(*stores.back()));
  }
  EXPECT_EQ(stores[0]->sharedList(), stores[2]->sharedList());
  ASSERT_NE(lists[0]->head(), nullptr);
  EXPECT_EQ(lists[0]->head(), lists[2]->head());
  EXPECT_EQ(lists[0]->head()->next, nullptr);
  EXPECT_EQ(parses() - before, 1u);
}

// However the file changes, the next use reads it again, once; whoever
// holds the earlier reading keeps it whole.
TEST_F(SharedBundleTest, ReadAgainWhenTheFileChanges) {
  struct Change {
    const char* what;
    void (*apply)(const std::string& path, const std::string& text);
  };
  const Change changes[] = {
      {"rewritten in place at the same size, with a new modification time",
       [](const std::string& path, const std::string& text) {
         struct stat was;
         ASSERT_EQ(::stat(path.c_str(), &was), 0);
         ASSERT_EQ(static_cast<size_t>(was.st_size), text.size());
         std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
         // A second on: a rewrite within one tick of the file system's
         // clock would leave the times as they were.
         timespec times[2] = {was.st_atim, was.st_mtim};
         times[1].tv_sec += 1;
         ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
       }},
      {"replaced by a rename",
       [](const std::string& path, const std::string& text) {
         std::ofstream(path + ".new", std::ios::binary) << text;
         ASSERT_EQ(::rename((path + ".new").c_str(), path.c_str()), 0);
       }},
      {"rewritten at another size",
       [](const std::string& path, const std::string& text) {
         std::ofstream(path, std::ios::binary | std::ios::trunc) << text << "\n";
       }},
  };
  int n = 0;
  for (const Change& change : changes) {
    SCOPED_TRACE(change.what);
    const std::string path = dir_.write("roots" + std::to_string(n++) + ".crt", padded("root"));
    security::setBundlePath(path.c_str());
    const uint64_t before = parses();
    EXPECT_EQ(found("root"), subject("root"));
    EXPECT_EQ(found("otherroot"), "-");
    std::shared_ptr<const ssl::SslCertSet> held = ssl::MacCertificateStore().sharedList();
    EXPECT_EQ(parses() - before, 1u);

    change.apply(path, padded("otherroot"));
    EXPECT_EQ(found("otherroot"), subject("otherroot"));
    EXPECT_EQ(found("root"), "-");
    EXPECT_EQ(parses() - before, 2u);
    ASSERT_EQ(held->size(), 1u);
    EXPECT_EQ(std::string((*held)[0].subjectText.c_str()), subject("root"));
  }
  // Another path is another bundle.
  security::setBundlePath(path_.c_str());
  const uint64_t before = parses();
  EXPECT_EQ(found("root"), subject("root"));
  EXPECT_EQ(parses() - before, 1u);
}

// Threads making CA lists and lookups while the bundle is replaced under
// them always see one whole version of it.
TEST_F(SharedBundleTest, ThreadsShareTheReadingsWhileTheFileIsReplaced) {
  auto root = cert("root"), other = cert("otherroot");
  std::atomic<bool> stop{false};
  std::atomic<int> rounds{0}, torn{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([&] {
      ssl::MacCertificateStore store;
      while (!stop) {
        ssl::MbedTlsCaList list(store);
        if (!list.head() || list.head()->next) torn++;
        // Plain pointers: a copy of a LinkedPtr would join the ring the
        // other threads' copies change too.
        for (const ssl::SslCertificate* wanted : {root.get(), other.get()}) {
          auto answer = store.findBySubject(wanted->rawSubject.len, wanted->rawSubject.data);
          if (answer && !(answer->rawSubject == wanted->rawSubject)) torn++;
        }
        rounds++;
      }
    });
  }
  for (int i = 0; i < 20; i++) {
    std::ofstream(path_ + ".new", std::ios::binary) << padded(i % 2 ? "root" : "otherroot");
    ASSERT_EQ(::rename((path_ + ".new").c_str(), path_.c_str()), 0);
    const int seen = rounds;
    while (rounds < seen + 8) std::this_thread::yield();
  }
  stop = true;
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(torn, 0);
}

}  // namespace
