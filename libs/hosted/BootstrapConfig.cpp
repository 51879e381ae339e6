#include "libs/hosted/BootstrapConfig.h"

#include <strings.h>

#include <climits>
#include <cstring>

#include "libs/hosted/Bed.h"
#include "libs/hosted/HostedException.h"
#include "qocore/base/crypto/Rsa.h"
#include "qocore/base/io/EndpointName.h"
#include "qocore/base/io/EndpointUri.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/libs/ssl/SslCertificate.h"
#include "qocore/libs/ssl/SslVerifier.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsTrustManager.h"

namespace hosted {

namespace {

PLAT_LOG_SOURCE(vlog, "BootstrapConfig");

constexpr const char* kSignedData = "any/signed-data";
constexpr const char* kSignature = "any/signed-data-signature";
constexpr const char* kAlgorithm = "yarl/rsapss-sha256";
// How far ahead of the clock a configuration may start and still count as
// valid now: an hour, for clocks that run a little behind.
constexpr plat::TimeValue kValidAhead = 3600 * plat::kTicksPerSecond;
constexpr int kDefaultUriPort = 8080;

// A bootstrap or discovery URI: no query or fragment, https (or http
// where allowed), and a host that parses as an endpoint.
void checkUri(const char* text, bool httpAllowed) {
  io::Uri uri = io::parseUri(text);
  if (uri.query || uri.fragment) throw plat::Exception("Invalid URI query: %s", text);
  const char* scheme = uri.scheme.c_str();
  if (std::strcmp(scheme, "https") != 0 && !(httpAllowed && std::strcmp(scheme, "http") == 0))
    throw plat::Exception("Invalid URI scheme: %s", text);
  io::normaliseEndpoint(uri.host.c_str(), kDefaultUriPort);
}

// The text of a string value ("" for a null one).
const char* textOf(const BedRef& value) {
  const char* text = value->asString().text();
  return text ? text : "";
}

}  // namespace

plat::TimeValue addTicks(plat::TimeValue a, plat::TimeValue b) noexcept {
  plat::TimeValue sum;
  if (__builtin_add_overflow(a, b, &sum)) return b > 0 ? INT64_MAX : INT64_MIN;
  return sum;
}

BootstrapConfig::BootstrapConfig(int32_t count, const void* body, ssl::SslTrustManager* trustManager, const char* url,
                                 bool signatureRequired) {
  try {
    decode(count, body, trustManager, url, signatureRequired);
  } catch (const HostedException&) {
    throw;
  } catch (const BedException& e) {
    throw HostedException(HostedException::Bootstrap, "BED", e.str());
  } catch (const plat::Exception& e) {
    throw HostedException(HostedException::Bootstrap, "GeneralError", e.str());
  }
}

BootstrapConfig::BootstrapConfig(const BootstrapConfig& other) = default;

void BootstrapConfig::decode(int32_t count, const void* body, ssl::SslTrustManager* trustManager, const char* url,
                             bool signatureRequired) {
  BedReader reader(count, body);
  BedRef root = BedValue::decode(reader, nullptr, true);
  BedMap& rootMap = root->asMap();
  BedMap& data = rootMap.get(kSignedData)->asMap();

  auto params = data.find("any/parameters");
  if (params != data.end() && params->value) {
    for (const BedRef& item : params->value->asSeq().items()) {
      BedMap& entry = item->asMap();
      Entry e{plat::CharArray(textOf(entry.get("any/name"))), plat::CharArray(textOf(entry.get("any/value")))};
      parameters_[e.name] = e.value;
      entries_.push_back(std::move(e));
    }
  }
  validFrom_ = data.get("any/valid-from")->asTime().value();
  for (const BedRef& item : data.get("btp/bootstrap-uris")->asSeq().items()) {
    bootstrapUris_.emplace_back(textOf(item));
    checkUri(bootstrapUris_.back().get(), true);
  }
  configCount_ = static_cast<int32_t>(static_cast<uint32_t>(data.get("btp/config-count")->asInt().value()));
  if (configCount_ < 1) throw plat::Exception("Invalid \"btp/config-count\", must be >= 1");
  const char* discovery = textOf(data.get("btp/initial-discovery-uri"));
  if (*discovery) {
    checkUri(discovery, false);
    discoveryUris_.emplace_back(discovery);
  }
  int64_t maxAgeSecs = data.get("btp/max-age-secs")->asInt().value();
  if (__builtin_mul_overflow(maxAgeSecs, plat::kTicksPerSecond, &maxAge_))
    maxAge_ = maxAgeSecs > 0 ? INT64_MAX : INT64_MIN;
  int64_t backoff = data.get("btp/max-backoff-secs")->asInt().value();
  maxBackoffSecs_ = static_cast<int32_t>(backoff < 0 ? 0 : backoff > INT32_MAX ? INT32_MAX : backoff);
  analyticsApiKey_ = plat::CharArray(parameter("connect/analytics/countly-api-key"));
  analyticsUri_ = plat::CharArray(parameter("connect/analytics/countly-uri"));
  analyticsSalt_ = plat::CharArray(parameter("connect/analytics/countly-salt"));

  const plat::Buffer* signature = nullptr;
  auto sig = rootMap.find(kSignature);
  if (sig != rootMap.end() && sig->value) {
    signature = &sig->value->asOpaque().bytes();
    signed_ = signature->count() > 0;
  }
  if (!signed_) {
    if (signatureRequired) throw plat::Exception("Unable to find signature for Bootstrap");
    return;
  }
  if (!trustManager || !url) throw plat::Exception("Bootstrap signature unverifiable");

  const char* pem = parameter("certificates");
  ssl::CertChain certs;
  if (pem) certs = ssl::SslCertificate::loadPemFile(pem, std::strlen(pem));
  if (certs.empty())
    throw HostedException(HostedException::Bootstrap, "GeneralError", "Package has no issuing certificate");
  ssl::CertChain intermediates(certs.begin() + 1, certs.end());
  ssl::CertChain chain;
  try {
    chain = trustManager->verifyChain(certs.front(), intermediates, plat::getTime());
  } catch (const plat::Exception& e) {
    vlog().debug("Bootstrap not issued by HostedConfig: %s", e.str());
    throw HostedException(HostedException::Bootstrap, "GeneralError", "Untrusted Bootstrap certificate");
  }
  try {
    io::Uri uri = io::parseUri(url);
    ssl::SslPublicHttpsVerifier::instance().verify(chain, uri.host.c_str());
  } catch (const plat::Exception& e) {
    vlog().debug("Bootstrap not valid for URL: %s", e.str());
    throw HostedException(HostedException::Bootstrap, "GeneralError", "Bootstrap certificate not valid for URL");
  }
  std::unique_ptr<crypto::RsaPublicKey> key = certs.front()->rsaPublicKey();

  // Only the first root entry may precede the signed bytes, and it is
  // their own key (see the header).
  if (rootMap.entries().empty() || std::strcmp(rootMap.entries().front().key.c_str(), kSignedData) != 0)
    throw plat::Exception("Invalid signature");
  BedSpan signedBytes = Bed::findKeyRaw(count, body, kSignedData);

  const char* algorithm = parameter("algorithm");
  if (!algorithm || strcasecmp(algorithm, kAlgorithm) != 0) throw plat::Exception("Signed with unsupported algorithm");
  try {
    key->verify(static_cast<size_t>(signature->count()), signature->data(), static_cast<size_t>(signedBytes.length),
                signedBytes.data, 256, true);
  } catch (const plat::Exception& e) {
    vlog().debug("Bootstrap signature check: %s", e.str());
    throw plat::Exception("Invalid signature");
  }
}

bool BootstrapConfig::isValidNow() const { return validFrom_ <= addTicks(plat::getTime(), kValidAhead); }

const char* BootstrapConfig::parameter(const char* name) const {
  for (const Entry& e : entries_)
    if (std::strcmp(e.name.c_str(), name) == 0) return e.value.get();
  return nullptr;
}

}  // namespace hosted
