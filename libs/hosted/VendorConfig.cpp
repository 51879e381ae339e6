#include "libs/hosted/VendorConfig.h"

#include "libs/hosted/Bed.h"
#include "libs/hosted/BootstrapConfig.h"
#include "libs/hosted/HostedException.h"
#include "libs/hosted/PackageReader.h"
#include "qocore/base/http/ProductUrl.h"
#include "qocore/base/plat/Exception.h"
#include "qocore/base/plat/LogSrc.h"
#include "qocore/base/qoutil/TestFeatures.h"
#include "qocore/libs/ssl/SslCertificate.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsCertificate.h"
#include "qocore/libs/ssl/mbedtls/MbedTlsTrustManager.h"

namespace hosted {

plat::StringParameter portalUri("_PortalUri", "", "", true);

namespace {

PLAT_LOG_SOURCE(vlog, "VendorConfig");

constexpr int kDefaultPriority = 0;
constexpr int kPolicyPriority = 30;

[[noreturn]] void rethrowAsConfigPkg(const plat::Exception& e) {
  vlog().error("Unable to read VendorConfig: %s", e.str());
  throw HostedException(HostedException::Configuration, "ConfigPkg", e.str());
}

}  // namespace

VendorConfig::VendorConfig(const char* path) {
  vlog().debug("Reading VendorConfig from %s", path);
  try {
    load(PackageReader(path));
  } catch (const HostedException&) {
    throw;
  } catch (const plat::Exception& e) {
    rethrowAsConfigPkg(e);
  }
}

VendorConfig::VendorConfig(int32_t count, const void* data) {
  vlog().debug("Reading VendorConfig from configData");
  try {
    load(PackageReader(count, data));
  } catch (const HostedException&) {
    throw;
  } catch (const plat::Exception& e) {
    rethrowAsConfigPkg(e);
  }
}

VendorConfig::VendorConfig(const PackageReader& package) {
  try {
    load(package);
  } catch (const plat::Exception& e) {
    rethrowAsConfigPkg(e);
  }
}

VendorConfig::~VendorConfig() = default;

void VendorConfig::load(const PackageReader& package) {
  auto lookup = std::make_unique<ssl::SslCertLookupCustom>();
  ssl::SslCertLookupCustom& certs = *lookup;
  trustManager_ = ssl::MbedTlsTrustManager::create(std::move(lookup));

  const plat::Buffer& section = package.getSection("vendorCfg.Certificates");
  BedReader reader(section.count(), section.data());
  BedRef root = BedValue::decode(reader, nullptr, true);
  const BedSeq& list = root->asMap().get("certificates")->asSeq();
  int added = 0;
  for (int i = 0; i < list.size(); ++i) {
    try {
      const char* pem = list.get(i)->asMap().get("yarl/PEM-certificate")->asString().text();
      certs.addCertificate(ssl::MbedTlsCertificate::create(pem ? pem : ""));
      ++added;
    } catch (const plat::Exception& e) {
      vlog().error("Error in Certificate \"%d\": %s", i, e.str());
    }
  }
  if (added == 0) throw plat::Exception("Could not load any certificates from VendorConfig");

  const plat::Buffer& initial = package.getSection("vendorCfg.BootstrapConfig");
  bootstrapConfig_ = std::make_unique<BootstrapConfig>(initial.count(), initial.data(), nullptr, nullptr, false);
  // A value held at a higher priority (a policy) stays; setParam then
  // answers false, which is not a failure of the package.
  const BootstrapConfig::Parameters& params = bootstrapConfig_->parameters();
  auto website = params.find("enterprise/website-uri");
  if (website != params.end()) static_cast<void>(http::productUri.setParam(website->second.c_str(), kDefaultPriority));
  auto portal = params.find("enterprise/portal-uri");
  if (portal != params.end()) {
    int priority = qoutil::testFeaturesEnabled() ? kDefaultPriority : kPolicyPriority;
    static_cast<void>(portalUri.setParam(portal->second.c_str(), priority));
  }
  checksum_ = package.digest();
}

}  // namespace hosted
