#pragma once
// Signed bootstrap documents for tests, the mock cloud and the fixture
// tool: the signature is RSASSA-PSS with SHA-256 over the encoded
// "any/signed-data" value exactly as it stands in the document, made with
// a test key.

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "libs/hosted/Bed.h"
#include "qocore/base/crypto/Rsa.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Time.h"
#include "qocore/base/rdr/MemOutStream.h"
#include "qocore/libs/ssl/SslCertificate.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsCertificate.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsTrustManager.h"
#include "testing/BedFixture.h"

namespace yarl_test {

inline constexpr const char* kSignedDataKey = "any/signed-data";
inline constexpr const char* kSignatureKey = "any/signed-data-signature";

// Signs the "any/signed-data" entry of root where it stands (wherever
// that is: tests place entries before it on purpose) and stores the
// signature under "any/signed-data-signature"; the document's bytes.
inline plat::Buffer signBootstrap(hosted::BedMap& root, const char* keyPem) {
  // The signature entry is written after the signed bytes and holds no
  // strings, so filling it in leaves them as they are.
  root.set(kSignatureKey, hosted::BedRef(new hosted::BedOpaque(plat::Buffer())));
  plat::Buffer draft = hosted::BedValue::encodeToBuffer(root);
  hosted::BedSpan span = hosted::Bed::findKeyRaw(draft.count(), draft.data(), kSignedDataKey);
  plat::LinkedPtr<ssl::SslPrivateKey> key = ssl::MbedTlsPrivateKey::create(keyPem, nullptr);
  if (!key.get()) throw plat::Exception("unreadable signing key");
  rdr::MemOutStream block;
  key->rsaPrivateKey()->sign(block, static_cast<size_t>(span.length), span.data, 256);
  plat::Buffer signature = block.takeBuffer();
  // The signer writes a u16 length before the bytes.
  root.set(kSignatureKey, hosted::BedRef(new hosted::BedOpaque(signature.data() + 2, signature.count() - 2)));
  return hosted::BedValue::encodeToBuffer(root);
}

// A document whose signed data is `signedData`, signed first in its root.
inline plat::Buffer signedBootstrap(const hosted::BedRef& signedData, const char* keyPem) {
  hosted::BedMap root;
  root.set(kSignedDataKey, signedData);
  return signBootstrap(root, keyPem);
}

// The same from the JSON description of the signed data.
inline plat::Buffer signedBootstrapFromJson(const std::string& json, const char* keyPem) {
  plat::JsonReader reader(json.data(), static_cast<int32_t>(json.size()));
  plat::JsonRef value = plat::Json::parseHttpBody(nullptr, reader);
  return signedBootstrap(bedFromJson(*value), keyPem);
}

// The repository, found from the data folder of a test folder two levels
// below it (YARL_TEST_DATA).
inline std::string sourceRoot() {
  const char* data = std::getenv("YARL_TEST_DATA");
  std::string root = data ? data : "";
  // Textually: the data folder itself need not exist.
  for (int up = 0; up < 4; ++up) root.erase(std::min(root.size(), root.find_last_of('/')));
  return root.empty() ? std::string("../../..") : root;
}

// A file of the committed test PKI (qocore/libs/ssl/tests/data), or of
// the folder YARL_TEST_PKI names (for tools run outside a test).  Its root
// certificate stands for the vendor's; the leaf "good" (IP address
// 127.0.0.1, server authentication, through "inter") with its key
// "good.key" for the bootstrap signer.
inline std::string testPkiFile(const std::string& name) {
  const char* pki = std::getenv("YARL_TEST_PKI");
  std::string path = pki ? std::string(pki) + "/" + name : sourceRoot() + "/qocore/libs/ssl/tests/data/" + name;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw plat::Exception("missing test PKI file %s", path.c_str());
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// A vendor configuration package: each PEM text as one certificate entry,
// and the initial bootstrap document.
inline plat::Buffer vendorPackage(const std::vector<std::string>& certificatePems, const plat::Buffer& bootstrap,
                                  std::vector<std::pair<std::string, std::string>> extra = {}) {
  plat::LinkedPtr<hosted::BedSeq> list(new hosted::BedSeq);
  for (const std::string& pem : certificatePems) {
    plat::LinkedPtr<hosted::BedMap> entry(new hosted::BedMap);
    entry->setString("yarl/PEM-certificate", pem.c_str());
    list->append(entry);
  }
  hosted::BedMap certificates;
  certificates.set("certificates", list);
  plat::Buffer certBytes = hosted::BedValue::encodeToBuffer(certificates);
  extra.emplace_back("vendorCfg.Certificates", std::string(reinterpret_cast<const char*>(certBytes.data()),
                                                           static_cast<size_t>(certBytes.count())));
  extra.emplace_back("vendorCfg.BootstrapConfig", std::string(reinterpret_cast<const char*>(bootstrap.data()),
                                                              static_cast<size_t>(bootstrap.count())));
  return packageOf(extra);
}

// The root map of an unsigned bootstrap document around signed data.
inline plat::Buffer unsignedBootstrap(const hosted::BedRef& signedData) {
  hosted::BedMap root;
  root.set(kSignedDataKey, signedData);
  return hosted::BedValue::encodeToBuffer(root);
}

// ---- The test vendor: its trust manager over the test PKI's root, and
// signed data built from a few choices. ----

// The URL the test vendor's documents are fetched from: the signer serves
// 127.0.0.1.
inline constexpr const char* kBootstrapUrl = "https://127.0.0.1/bootstrap";

inline std::unique_ptr<ssl::SslTrustManager> vendorTrust() {
  auto lookup = std::make_unique<ssl::SslCertLookupCustom>();
  lookup->addCertificate(ssl::MbedTlsCertificate::create(testPkiFile("root.pem").c_str()));
  return ssl::MbedTlsTrustManager::create(std::move(lookup));
}

inline std::string signerChain() { return testPkiFile("good.pem") + testPkiFile("inter.pem"); }
inline std::string signerKey() { return testPkiFile("good.key"); }

inline void addParameter(hosted::BedSeq& params, const char* name, const char* value) {
  plat::LinkedPtr<hosted::BedMap> entry(new hosted::BedMap);
  entry->setString("any/name", name);
  entry->setString("any/value", value);
  params.append(entry);
}

// Signed data valid now, kept for an hour, with the signer's chain.
inline plat::LinkedPtr<hosted::BedMap> signedData(const std::string& certificates = signerChain(),
                                                  const char* algorithm = "yarl/rsapss-sha256") {
  plat::LinkedPtr<hosted::BedMap> data(new hosted::BedMap);
  plat::LinkedPtr<hosted::BedSeq> params(new hosted::BedSeq);
  if (!certificates.empty()) addParameter(*params, "certificates", certificates.c_str());
  if (algorithm) addParameter(*params, "algorithm", algorithm);
  addParameter(*params, "caps/service", "https://caps.example.com/");
  data->set("any/parameters", params);
  data->setTime("any/valid-from", plat::getTime() / plat::kTicksPerMs * plat::kTicksPerMs);
  plat::LinkedPtr<hosted::BedSeq> uris(new hosted::BedSeq);
  uris->append(hosted::BedRef(new hosted::BedString("https://127.0.0.1/bootstrap")));
  data->set("btp/bootstrap-uris", uris);
  data->setInt("btp/config-count", 1);
  data->setString("btp/initial-discovery-uri", "https://127.0.0.1:8443/discovery");
  data->setInt("btp/max-age-secs", 3600);
  data->setInt("btp/max-backoff-secs", 60);
  return data;
}

inline plat::Buffer signedDocument(const plat::LinkedPtr<hosted::BedMap>& data = signedData()) {
  return yarl_test::signedBootstrap(data, signerKey().c_str());
}

}  // namespace yarl_test
