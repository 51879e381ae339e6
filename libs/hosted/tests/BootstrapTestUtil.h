#pragma once
// The test vendor of the bootstrap tests: its trust manager over the test
// PKI's root, and signed data built from a few choices.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "libs/hosted/Bed.h"
#include "libs/hosted/BootstrapConfig.h"
#include "libs/hosted/HostedException.h"
#include "qocore/base/plat/Time.h"
#include "qocore/libs/ssl/SslCertificate.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsCertificate.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsTrustManager.h"
#include "testing/BootstrapFixture.h"

namespace hosted_test {

inline constexpr const char* kUrl = "https://127.0.0.1/bootstrap";

inline std::unique_ptr<ssl::SslTrustManager> vendorTrust() {
  auto lookup = std::make_unique<ssl::SslCertLookupCustom>();
  lookup->addCertificate(ssl::MbedTlsCertificate::create(yarl_test::testPkiFile("root.pem").c_str()));
  return ssl::MbedTlsTrustManager::create(std::move(lookup));
}

inline std::string signerChain() { return yarl_test::testPkiFile("good.pem") + yarl_test::testPkiFile("inter.pem"); }
inline std::string signerKey() { return yarl_test::testPkiFile("good.key"); }

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

// The message of the HostedException the body makes, or "accepted".
inline std::string outcome(const plat::Buffer& body, ssl::SslTrustManager* trust, const char* url = kUrl,
                           bool required = true, std::string* reason = nullptr) {
  try {
    hosted::BootstrapConfig config(body.count(), body.data(), trust, url, required);
    return "accepted";
  } catch (const hosted::HostedException& e) {
    EXPECT_EQ(e.kind(), hosted::HostedException::Bootstrap);
    if (reason) *reason = e.reason();
    return e.str();
  }
}

}  // namespace hosted_test
