#include "libs/hosted/HostedEndpoint.h"

#include "libs/hosted/BootstrapCache.h"
#include "libs/hosted/HostedException.h"
#include "libs/hosted/PackageReader.h"
#include "libs/hosted/VendorConfig.h"
#include "qocore/base/plat/Encodings.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/Uuid.h"

namespace hosted {

namespace {

constexpr const char* kClientCertificate = "client.certificate";
constexpr const char* kClientKey = "client.key";

}  // namespace

HostedEndpoint::HostedEndpoint(const char* name, os::PersistentStore* store, const char* password, const char* token,
                               const char* businessId)
    : name_(name), password_(password), token_(token), businessId_(businessId), store_(store) {}

HostedEndpoint::HostedEndpoint(const char* name, const char* path, os::PersistentStore* store, const char* password,
                               const char* token, const char* businessId)
    : HostedEndpoint(name, store, password, token, businessId) {
  build([&] { return new VendorConfig(path); }, [&] { takeSections(PackageReader(path)); });
}

HostedEndpoint::HostedEndpoint(const char* name, int32_t count, const void* data, os::PersistentStore* store,
                               const char* password, const char* token, const char* businessId)
    : HostedEndpoint(name, store, password, token, businessId) {
  build([&] { return new VendorConfig(count, data); }, [&] { takeSections(PackageReader(count, data)); });
}

HostedEndpoint::HostedEndpoint(const char* name, const PackageReader& package, os::PersistentStore* store,
                               const char* password, const char* token, const char* businessId)
    : HostedEndpoint(name, store, password, token, businessId) {
  build([&] { return new VendorConfig(package); }, [&] { takeSections(package); });
}

HostedEndpoint::HostedEndpoint(const HostedEndpoint& other) = default;

HostedEndpoint::~HostedEndpoint() = default;

template <typename MakeVendor, typename ReadPackage>
void HostedEndpoint::build(MakeVendor makeVendor, ReadPackage readPackage) {
  try {
    vendorConfig_.reset(makeVendor());
    readPackage();
    if (!businessId_.get()) {
      unsigned char bytes[16];
      plat::makeUuid(bytes);
      businessId_ = plat::Uuid::toString(bytes, true);
    }
    bootstrapCache_.reset(new BootstrapCache(store_, vendorConfig_));
  } catch (const HostedException&) {
    throw;
  } catch (const plat::Exception& e) {
    throw HostedException(HostedException::Configuration, "ConfigPkg", e.str());
  }
}

void HostedEndpoint::takeSections(const PackageReader& package) {
  const PackageSections& sections = package.sections();
  auto cert = sections.find(kClientCertificate);
  auto key = sections.find(kClientKey);
  // A certificate without its key (or the reverse) is of no use.
  if (cert == sections.end() || key == sections.end()) return;
  clientCert_ = cert->second;
  clientKey_ = key->second;
}

}  // namespace hosted
