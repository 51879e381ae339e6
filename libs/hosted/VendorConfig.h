#pragma once
// The vendor configuration: the built-in trust anchor of the cloud client.
// A section package holding the certificates trusted for the cloud
// service (TLS and bootstrap signatures) in "vendorCfg.Certificates", the
// initial, unsigned bootstrap configuration in "vendorCfg.BootstrapConfig",
// and a digest that ties cached data to this exact package.

#include <cstdint>
#include <memory>

#include "qocore/base/plat/ConfigParameter.h"
#include "qocore/base/plat/MBuf.h"

namespace ssl {
class SslTrustManager;
}

namespace hosted {

class BootstrapConfig;
class PackageReader;

// "_PortalUri": the base address of the maker's web portal.
extern plat::StringParameter portalUri;

class VendorConfig {
 public:
  // Every failure is a HostedException ("ConfigPkg" unless the failure was
  // one already); nothing of a failed load is kept.
  explicit VendorConfig(const char* path);
  VendorConfig(int32_t count, const void* data);
  explicit VendorConfig(const PackageReader& package);
  ~VendorConfig();
  VendorConfig(const VendorConfig&) = delete;
  VendorConfig& operator=(const VendorConfig&) = delete;

  ssl::SslTrustManager* trustManager() const noexcept { return trustManager_.get(); }
  const BootstrapConfig& bootstrapConfig() const noexcept { return *bootstrapConfig_; }
  // The package digest (20 bytes).
  const plat::Buffer& checksum() const noexcept { return checksum_; }

 private:
  void load(const PackageReader& package);

  std::unique_ptr<ssl::SslTrustManager> trustManager_;
  std::unique_ptr<BootstrapConfig> bootstrapConfig_;
  plat::Buffer checksum_;
};

}  // namespace hosted
