#include <gtest/gtest.h>

#include <string>

#include "libs/hosted/BootstrapCache.h"
#include "libs/hosted/HostedEndpoint.h"
#include "libs/hosted/VendorConfig.h"
#include "libs/hosted/tests/BootstrapTestUtil.h"
#include "qocore/base/os/PersistentStore.h"
#include "testing/FileFixtures.h"

namespace {

plat::Buffer package(std::vector<std::pair<std::string, std::string>> extra = {}) {
  return yarl_test::vendorPackage({yarl_test::testPkiFile("root.pem")},
                                  yarl_test::unsignedBootstrap(yarl_test::signedData("")), std::move(extra));
}

TEST(HostedEndpointTest, ClientCredentialsNeedBothSections) {
  plat::Buffer half = package({{"client.certificate", "cert"}});
  hosted::HostedEndpoint withoutKey(nullptr, half.count(), half.data(), nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(withoutKey.clientCert().count(), 0);
  EXPECT_EQ(withoutKey.clientKey().count(), 0);

  plat::Buffer both = package({{"client.certificate", "cert"}, {"client.key", "key!"}});
  hosted::HostedEndpoint withKey(nullptr, both.count(), both.data(), nullptr, nullptr, nullptr, "business");
  EXPECT_EQ(withKey.clientCert().count(), 4);
  EXPECT_EQ(withKey.clientKey().count(), 4);
  EXPECT_STREQ(withKey.businessId(), "business");
}

TEST(HostedEndpointTest, BusinessIdentifiersAreRandomUuidsKeptForLife) {
  plat::Buffer bytes = package();
  yarl_test::TempDir dir;
  std::string path = dir.write(
      "CloudConfig.pkg", std::string(reinterpret_cast<const char*>(bytes.data()), static_cast<size_t>(bytes.count())));
  hosted::HostedEndpoint a(nullptr, path.c_str(), nullptr, nullptr, nullptr, nullptr);
  hosted::HostedEndpoint b(nullptr, bytes.count(), bytes.data(), nullptr, nullptr, nullptr, nullptr);
  ASSERT_EQ(std::strlen(a.businessId()), 36u);
  EXPECT_EQ(a.businessId()[14], '4');
  EXPECT_STRNE(a.businessId(), b.businessId());

  hosted::HostedEndpoint copy(a);
  EXPECT_STREQ(copy.businessId(), a.businessId());
  EXPECT_EQ(copy.vendorConfig().get(), a.vendorConfig().get());
  EXPECT_EQ(copy.bootstrapCache().get(), a.bootstrapCache().get());
  EXPECT_FALSE(a.bootstrapCache()->isUsable());
}

TEST(HostedEndpointTest, TheBootstrapCacheMayOutliveItsEndpoint) {
  plat::Buffer bytes = package();
  yarl_test::TempDir dir;
  os::PersistentStoreFile store(dir.c_str());
  plat::LinkedPtr<hosted::BootstrapCache> cache;
  {
    hosted::HostedEndpoint endpoint(nullptr, bytes.count(), bytes.data(), &store, nullptr, nullptr, nullptr);
    cache = endpoint.bootstrapCache();
  }
  // Writing the entry reads the vendor configuration's checksum.
  plat::Buffer body = yarl_test::signedDocument();
  auto trust = yarl_test::vendorTrust();
  plat::LinkedPtr<hosted::BootstrapConfig> config(
      new hosted::BootstrapConfig(body.count(), body.data(), trust.get(), yarl_test::kBootstrapUrl, true));
  cache->update(config, body, yarl_test::kBootstrapUrl, plat::getTime() + plat::kTicksPerSecond, 0);
  EXPECT_TRUE(cache->isUsable());
  plat::Buffer entry;
  EXPECT_TRUE(store.read(hosted::BootstrapCache::kStoreKey, entry));
}

TEST(HostedEndpointTest, UnreadablePackagesAreConfigPkgFailures) {
  const char junk[] = "not a package at all, not even close";
  try {
    hosted::HostedEndpoint endpoint(nullptr, static_cast<int32_t>(sizeof junk), junk, nullptr, nullptr, nullptr,
                                    nullptr);
    FAIL() << "accepted";
  } catch (const hosted::HostedException& e) {
    EXPECT_EQ(e.kind(), hosted::HostedException::Configuration);
    EXPECT_STREQ(e.reason(), "ConfigPkg");
  }
}

}  // namespace
