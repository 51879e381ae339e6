#include "qocore/libs/ssl/SslVerifier.h"

#include <cstring>
#include <string>
#include <vector>

#include "qocore/base/io/EndpointName.h"
#include "qocore/base/io/IpInfo.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/libs/ssl/SslException.h"

namespace ssl {

namespace {

constexpr const char* kServerAuth = "1.3.6.1.5.5.7.3.1";

void requireChain(const std::vector<plat::LinkedPtr<SslCertificate>>& chain) {
  PLAT_REQUIRE_TEXT(!chain.empty(), "chain.size() > 0");
}

std::vector<std::string> labels(const char* text) {
  std::vector<std::string> out;
  std::string s(text);
  size_t pos = 0;
  while (true) {
    size_t dot = s.find('.', pos);
    if (dot == std::string::npos) {
      out.push_back(s.substr(pos));
      return out;
    }
    out.push_back(s.substr(pos, dot - pos));
    pos = dot + 1;
  }
}

// The canonical numeric text of an address, null for a name.
plat::CharArray numericAddress(const char* host) {
  try {
    return io::IpInfo(host, 0).toString();
  } catch (const plat::Exception&) {
    return plat::CharArray();  // not a numeric address: matched as a name
  }
}

}  // namespace

SslVerifier::~SslVerifier() = default;

bool SslHostnameVerifier::matchPattern(const char* host, const char* pattern) {
  std::vector<std::string> h = labels(host), p = labels(pattern);
  if (p.size() == 1) return p[0] == "localhost" && std::strcmp(host, "localhost") == 0;
  if (p.size() == 2 && p[0] == "*") return false;
  for (size_t i = 0; i < p.size(); i++) {
    if (p[i].empty()) return false;
    if (p[i].find('*') != std::string::npos && (i > 0 || p[i] != "*")) return false;
  }
  if (h.size() != p.size()) return false;
  for (size_t i = 1; i < p.size(); i++) {
    if (h[i] != p[i]) return false;
  }
  if (p[0] == "*") return !h[0].empty();
  return h[0] == p[0];
}

bool SslHostnameVerifier::matchName(const char* host, const std::vector<AltName>& names, const char* commonName) {
  plat::CharArray address = numericAddress(host);
  if (address) {
    for (const AltName& n : names) {
      if (n.kind == kAltIp && std::strcmp(n.value.c_str(), address.c_str()) == 0) return true;
    }
    return false;
  }
  bool hadDns = false;
  for (const AltName& n : names) {
    if (n.kind != kAltDns) continue;
    hadDns = true;
    if (matchPattern(host, n.value.c_str())) return true;
  }
  if (hadDns) return false;
  return commonName && matchPattern(host, commonName);
}

void SslHostnameVerifier::verify(const std::vector<plat::LinkedPtr<SslCertificate>>& chain, const char* host) const {
  requireChain(chain);
  // The port is not needed, but one given must be well formed; any default
  // lets a host without a port through.  The brackets of an IPv6 address
  // go before the numeric comparison.
  plat::CharArray hostPart;
  int port = 0;
  io::parseEndpoint(host, hostPart, &port, 1, 0);
  if (hostPart.c_str()[0] == '[') hostPart = io::hostFromBracketed(hostPart.c_str());
  const SslCertificate& leaf = *chain.front();
  std::vector<const char*> cns = SslCertificate::attributeValues(leaf.subjectAttributes, "2.5.4.3");
  if (!matchName(hostPart.c_str(), leaf.altNames, cns.size() == 1 ? cns[0] : nullptr))
    throw SslException(SslException::kHostMismatch);
}

void SslPublicUsageVerifier::verify(const std::vector<plat::LinkedPtr<SslCertificate>>& chain, const char*) const {
  requireChain(chain);
  const SslCertificate& leaf = *chain.front();
  if (!leaf.hasExtKeyUsage(kServerAuth)) throw SslException(SslException::kBadUsage, "missing serverAuth ext usage");
  if (leaf.keyUsagePresent && !(leaf.keyUsage & ((1u << 0) | (1u << 2)))) {
    throw SslException(SslException::kBadUsage, "missing digitalSignature/keyEncipherment usage");
  }
  for (size_t i = 1; i + 1 < chain.size(); i++) {
    if (chain[i]->extKeyUsagePresent && !chain[i]->hasExtKeyUsage(kServerAuth)) {
      throw SslException(SslException::kBadUsage, "missing intermediate serverAuth ext usage");
    }
  }
}

void SslPublicHttpsVerifier::verify(const std::vector<plat::LinkedPtr<SslCertificate>>& chain, const char* host) const {
  SslHostnameVerifier::instance().verify(chain, host);
  SslPublicUsageVerifier::instance().verify(chain, host);
}

const SslHostnameVerifier& SslHostnameVerifier::instance() {
  static const SslHostnameVerifier verifier;
  return verifier;
}
const SslPublicUsageVerifier& SslPublicUsageVerifier::instance() {
  static const SslPublicUsageVerifier verifier;
  return verifier;
}
const SslPublicHttpsVerifier& SslPublicHttpsVerifier::instance() {
  static const SslPublicHttpsVerifier verifier;
  return verifier;
}

}  // namespace ssl
