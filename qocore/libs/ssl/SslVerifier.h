#pragma once
// Verifiers decide whether a trusted chain may serve a connection: its
// leaf must name the host dialled and be meant for TLS server
// authentication.  They hold no state; one static instance of each exists.

#include <vector>

#include "qocore/base/plat/LinkedPtr.h"
#include "qocore/libs/ssl/SslCertificate.h"

namespace ssl {

class SslVerifier {
 public:
  // `host` is an endpoint text (name or address, optional port, IPv6 in
  // brackets).  Throws SslException when the chain does not serve.
  virtual void verify(const std::vector<plat::LinkedPtr<SslCertificate>>& chain, const char* host) const = 0;
  virtual ~SslVerifier();
};

class SslHostnameVerifier : public SslVerifier {
 public:
  void verify(const std::vector<plat::LinkedPtr<SslCertificate>>& chain, const char* host) const override;
  [[nodiscard]] static bool matchName(const char* host, const std::vector<AltName>& names, const char* commonName);
  [[nodiscard]] static bool matchPattern(const char* host, const char* pattern);
  static const SslHostnameVerifier& instance();
};

class SslPublicUsageVerifier : public SslVerifier {
 public:
  void verify(const std::vector<plat::LinkedPtr<SslCertificate>>& chain, const char* host) const override;
  static const SslPublicUsageVerifier& instance();
};

class SslPublicHttpsVerifier : public SslVerifier {
 public:
  void verify(const std::vector<plat::LinkedPtr<SslCertificate>>& chain, const char* host) const override;
  static const SslPublicHttpsVerifier& instance();
};

}  // namespace ssl
