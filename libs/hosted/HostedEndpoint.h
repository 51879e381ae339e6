#pragma once
// One deployment of the maker's cloud as the client sees it: the vendor
// configuration, an optional TLS client certificate and key, the business
// identifier sent with every request, optional request credentials, and
// the bootstrap cache.  Built from a section package ("client.certificate"
// and "client.key" here; the vendor configuration's sections besides).
// Immutable after construction apart from what the bootstrap cache keeps;
// shared through plat::LinkedPtr.

#include <cstdint>

#include "qocore/base/plat/CharArray.h"
#include "qocore/base/plat/LinkedPtr.h"
#include "qocore/base/plat/MBuf.h"

namespace os {
class PersistentStore;
}

namespace hosted {

class BootstrapCache;
class PackageReader;
class VendorConfig;

class HostedEndpoint {
 public:
  // The package source is a file, a byte buffer or a package already read.
  // Without a business identifier a random UUID is made.  The store is
  // borrowed (null: the bootstrap cache lives in memory only).  Failures
  // are HostedExceptions, "ConfigPkg" of kind Configuration unless they
  // were hosted failures already.
  HostedEndpoint(const char* name, const char* path, os::PersistentStore* store, const char* password,
                 const char* token, const char* businessId);
  HostedEndpoint(const char* name, int32_t count, const void* data, os::PersistentStore* store, const char* password,
                 const char* token, const char* businessId);
  HostedEndpoint(const char* name, const PackageReader& package, os::PersistentStore* store, const char* password,
                 const char* token, const char* businessId);
  // Copies the texts, the store and the buffers; shares the vendor
  // configuration and the bootstrap cache.
  HostedEndpoint(const HostedEndpoint& other);
  HostedEndpoint& operator=(const HostedEndpoint&) = delete;
  ~HostedEndpoint();

  const char* name() const noexcept { return name_.get(); }
  const char* password() const noexcept { return password_.get(); }
  const char* token() const noexcept { return token_.get(); }
  const char* businessId() const noexcept { return businessId_.get(); }
  os::PersistentStore* store() const noexcept { return store_; }
  // Empty unless the package has both sections.
  const plat::Buffer& clientCert() const noexcept { return clientCert_; }
  const plat::Buffer& clientKey() const noexcept { return clientKey_; }
  const plat::LinkedPtr<VendorConfig>& vendorConfig() const noexcept { return vendorConfig_; }
  const plat::LinkedPtr<BootstrapCache>& bootstrapCache() const noexcept { return bootstrapCache_; }

 private:
  HostedEndpoint(const char* name, os::PersistentStore* store, const char* password, const char* token,
                 const char* businessId);
  template <typename MakeVendor, typename ReadPackage>
  void build(MakeVendor makeVendor, ReadPackage readPackage);
  void takeSections(const PackageReader& package);

  plat::CharArray name_;
  plat::CharArray password_;
  plat::CharArray token_;
  plat::CharArray businessId_;
  os::PersistentStore* store_;
  plat::Buffer clientCert_;
  plat::Buffer clientKey_;
  plat::LinkedPtr<VendorConfig> vendorConfig_;
  plat::LinkedPtr<BootstrapCache> bootstrapCache_;
};

}  // namespace hosted
